// The METAR decoder on real reports (most from the 2025-01-27 worldwide
// sample, tests/data/weather), one row a report, grouped by element. Each row
// names the fields it checks in the JSON that orvento-weather prints.
#include <gtest/gtest.h>

#include <string>

#include "tests/weather/JsonFields.h"
#include "weather/Json.h"
#include "weather/Metar.h"

namespace orvento::weather {
namespace {

struct Row {
    const char* report;
    const char* fields;
};

void check(std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        testing::expectFields(metarJson(decodeMetar(row.report), row.report), row.fields);
    }
}

TEST(MetarDecode, Wind) {
    // clang-format off
    check({
        {"UUWW 272224Z 22004MPS 5000 -DZ BR BKN004 OVC023 04/04 Q1013 R24/290050 NOSIG", R"("wind_dir_deg":220,"wind_kt":8,"gust_kt":null)"},
        {"ZYTL 272200Z 33005G10MPS 300V010 9999 BKN033 M06/M12 Q1021 NOSIG", R"("wind_dir_deg":330,"wind_kt":10,"gust_kt":19)"},
        {"CYZE 272224Z AUTO 27027G34KT 4SM -SN BKN015 OVC020 M01/M02 A2925 RMK SLP914", R"("wind_dir_deg":270,"wind_kt":27,"gust_kt":34)"},
        {"KIKT 272225Z AUTO VRB04KT 10SM SCT028 BKN033 OVC050 22/12 A3011 RMK A01", R"("wind_dir_deg":"VRB","wind_kt":4)"},
        {"KGUL 272225Z AUTO 00000KT 9SM CLR 22/18 A3010 RMK A01", R"("wind_dir_deg":0,"wind_kt":0)"},
        {"LPLA 272200Z /////KT 9999 FEW025 13/09 Q1028", R"("wind_dir_deg":null,"wind_kt":null,"gust_kt":null)"},
        {"SVGU 272203Z AUTO ///01KT NCD ///// Q1010", R"("wind_dir_deg":null,"wind_kt":1)"},
        {"UMMS 271200Z 18036KMH 9999 SCT020 05/01 Q1010", R"("wind_dir_deg":180,"wind_kt":19)"},
        {"MGMM 272200Z 36004KTT 9999 BKN020 28/23 Q1015 A2997", R"("wind_dir_deg":null,"wind_kt":null)"},
        {"KEGV 272215Z 10SM OVC030 M01/M08 A2947 RMK AO2 T10151083", R"("wind_dir_deg":null,"wind_kt":null)"},
    });
    // clang-format on
}

TEST(MetarDecode, Visibility) {
    // clang-format off
    check({
        {"CYXR 272222Z AUTO 31018G25KT 2 1/2SM -SN OVC034 M08/M11 A2914 RMK VIS VRB 1 1/2-3", R"("visibility_m":4023,"less_than":false)"},
        {"KCIU 272222Z AUTO 31014KT 1/4SM SN FZFG BKN016 OVC024 M02/M03 A2929 RMK AO2", R"("visibility_m":402)"},
        {"KJFK 280051Z 00000KT M1/4SM FG VV001 M01/M01 A3000", R"("visibility_m":402,"less_than":true)"},
        {"KLAX 280053Z 25008KT P6SM FEW250 18/08 A3002", R"("visibility_m":9656)"},
        {"CYYU 272218Z 33014G25KT 15SM DRSN FEW032 M16/M21 A2929 RMK SC2 PRESRR SLP938", R"("visibility_m":10000)"},
        {"UWOO 272223Z 15002MPS 0200 0150E R26/0550N FZFG VV001 M03/M03 Q1025", R"("visibility_m":200)"},
        {"LSZL 272220Z AUTO VRB02KT 7000NDV RA FEW005 BKN032 BKN043 03/03 Q1006 RMK", R"("visibility_m":7000)"},
        {"ULMM 272222Z 16002MPS CAVOK M12/M14 Q1002 R13/690145 NOSIG RMK QFE745", R"("visibility_m":9999,"cavok":true,"ceiling_ft":null)"},
        {"LIMH 272155Z AUTO 20036G48KT //// M07/M08 Q1001", R"("visibility_m":null,"category":null)"},
        {"LFPG 272200Z 24010KT ////SM BKN004 08/07 Q1001", R"("visibility_m":null)"},
        {"LTBA 272150Z 04005KT -RA 4000 BKN012 10/08 Q1017", R"("visibility_m":4000)"},
    });
    // clang-format on
}

TEST(MetarDecode, Clouds) {
    // clang-format off
    check({
        {"KIKT 272225Z AUTO VRB04KT 10SM SCT028 BKN033 OVC050 22/12 A3011 RMK A01", R"("ceiling_ft":3300)"},
        {"UWOO 272223Z 15002MPS 0200 0150E R26/0550N FZFG VV001 M03/M03 Q1025", R"("ceiling_ft":100)"},
        {"NFNL 272220Z 14003KT 8000 -RA SCT025TCU BKN046 OVC100 26/25 Q1011", R"("ceiling_ft":4600)"},
        {"EETU 272220Z AUTO 11004KT 080V140 4800 BR BKN002/// OVC005/// 01/01 Q1005", R"("ceiling_ft":200)"},
        {"LSGS 272220Z AUTO VRB02KT 4700 RA BR BKN/// 05/04 Q1004", R"("ceiling_ft":null,"category":null)"},
        {"UUOL 272200Z AUTO 22004MPS 3700 BR ///008 03/03 Q1019", R"("ceiling_ft":null,"category":"IFR")"},
        {"EGGD 272220Z AUTO 19017G30KT 9999 OVC020 BKN010 07/07 Q0975", R"("ceiling_ft":1000)"},
        {"LATI 272220Z VRB02KT 6000 NSC 07/05 Q1020 NOSIG", R"("ceiling_ft":null,"category":"MVFR")"},
    });
    // clang-format on
}

TEST(MetarDecode, Temperature) {
    // clang-format off
    check({
        {"CYZE 272224Z AUTO 27027G34KT 4SM -SN BKN015 OVC020 M01/M02 A2925 RMK SLP914", R"("temp_c":-1,"dew_c":-2)"},
        {"URMN 272221Z 24001MPS 2000 BR OVC005 00/M00 Q1024 R24/////// TEMPO 0500 FG", R"("temp_c":0,"dew_c":0)"},
        {"KJCA 272215Z AUTO 28006KT 1 1/2SM BR OVC004 09/ A3003 RMK AO2 T0089////", R"("temp_c":9,"dew_c":null)"},
        {"MUMZ 272150Z AUTO /////KT XX/XX Q////", R"("temp_c":null,"dew_c":null,"qnh_hpa":null)"},
        {"KPYX 272215Z AUTO 21012KT 10SM 12/M05 A3007 RMK AO2 T01181050", R"("temp_c":12,"dew_c":-5)"},
    });
    // clang-format on
}

TEST(MetarDecode, Pressure) {
    // clang-format off
    check({
        {"OPLA 272225Z 33006KT 4000 FU NSC 11/06 Q1011 NOSIG RMK QFE986 A29.88", R"("qnh_hpa":1011)"},
        {"CYZE 272224Z AUTO 27027G34KT 4SM -SN BKN015 OVC020 M01/M02 A2925 RMK SLP914", R"("qnh_hpa":991)"},
        {"MGMM 272200Z 36004KTT 9999 BKN020 28/23 A2992 Q1015", R"("qnh_hpa":1015)"},
        {"TUPJ 272200Z 10011KT 10SM SCT019 27/21 A3000 RMK Q1015 VIS16KM", R"("qnh_hpa":1016)"},
        {"SVBI 272203Z AUTO ///01KT NCD ///// Q////", R"("qnh_hpa":null)"},
    });
    // clang-format on
}

// The category at and around each boundary, and no category without a
// visibility or without anything said about the sky unless the element that
// is known alone gives LIFR.
TEST(MetarDecode, CategoryBoundaries) {
    // clang-format off
    check({
        {"KATL 272222Z 28007KT 4SM -DZ BR OVC004 10/09 A3005 RMK AO2", R"("category":"LIFR")"},
        {"KLUX 272215Z AUTO 22008KT 10SM OVC005 09/08 A2998 RMK AO2", R"("category":"IFR")"},
        {"KCUB 272221Z AUTO 23006KT 10SM OVC009 10/08 A3002 RMK AO2 T01000083", R"("category":"IFR")"},
        {"EVVA 272220Z AUTO 17006KT 7000 OVC010 06/06 Q1000", R"("category":"MVFR")"},
        {"KEGV 272215Z 10SM OVC030 M01/M08 A2947 RMK AO2 T10151083", R"("category":"MVFR")"},
        {"EGNX 272220Z 18019KT 9999 FEW021 BKN031 07/04 Q0975", R"("category":"VFR")"},
        {"KFFX 272215Z AUTO 26018G33KT 1SM -SN OVC013 00/M02 A2957 RMK AO2", R"("category":"IFR")"},
        {"PAPG 272219Z 26003KT 3/4SM -RA BR SCT040 01/01 A3040 RMK AO2 P0000", R"("category":"LIFR")"},
        {"CYPH 272224Z AUTO 03019KT 3SM -SN SCT120 M25/M29 A2901 RMK SLP830", R"("category":"MVFR")"},
        {"KTVI 272215Z AUTO 20003KT 5SM +RA SCT050 BKN055 OVC070 12/11 A3010", R"("category":"MVFR")"},
        {"KTME 272215Z AUTO 05008KT 6SM BR SCT041 11/11 A3018 RMK AO2", R"("category":"VFR")"},
        {"KQEP 272220Z AUTO 28005KT 1600 -SN FEW016 M05/M05 A2995 RMK A02 TSNO", R"("category":"LIFR")"},
        {"UTDL 272200Z 28001MPS 4800 BR NSC M00/M02 Q1024 R26/CLRD70 NOSIG", R"("category":"IFR")"},
        {"UUWW 272224Z 22004MPS 5000 -DZ BR SCT040 04/04 Q1013 NOSIG", R"("category":"MVFR")"},
        {"KQEX 272220Z AUTO 04002KT 8000 HZ FEW027 M02/M05 A2989 RMK A02 TSNO", R"("category":"MVFR")"},
        {"EFKE 272220Z AUTO 15005KT 9000 -SN FEW015 M03/M03 Q1003", R"("category":"VFR")"},
        {"LWSK 272220Z 03005KT CAVOK 03/01 Q1020 NOSIG", R"("category":"VFR")"},
        {"KGUL 272225Z AUTO 00000KT 9SM CLR 22/18 A3010 RMK A01", R"("category":"VFR")"},
        {"PAKX 272215Z AUTO 22007KT 10SM M07/M12 A2995 RMK AO2", R"("category":null)"},
        {"CXMY 272200Z AUTO M02/M04 RMK AO1 T10171039", R"("category":null)"},
        {"RORT 272200Z AUTO 01016KT 350V050 //// // FEW037 SCT040 OVC048 14/05 Q1024", R"("category":null)"},
        {"ETWM 272120Z AUTO 19005KT 0300 FG ////// 08/03 Q0992 ///", R"("category":"LIFR")"},
        {"LTBA 270100Z 00000KT 0100 FG VV/// 08/08 Q1020", R"("ceiling_ft":null,"category":"LIFR")"},
        {"LTBA 270000Z 00000KT 0000 FG 08/08 Q1020", R"("visibility_m":0,"category":"LIFR")"},
        {"KBOS 270000Z 00000KT M1/4SM FG 08/08 A3000", R"("category":"LIFR")"},
        {"KBOS 270000Z 00000KT 1SM BR 08/08 A3000", R"("category":null)"},
        {"EGLL 270020Z AUTO 24004KT //// OVC003 08/08 Q1020", R"("visibility_m":null,"category":"LIFR")"},
        {"EGLL 270020Z AUTO 24004KT //// VV004 08/08 Q1020", R"("category":"LIFR")"},
        {"EGLL 270020Z AUTO 24004KT //// OVC005 08/08 Q1020", R"("category":null)"},
    });
    // clang-format on
}

// Leading words, modifiers and trends around the body, and what is refused.
TEST(MetarDecode, ReportShapesAndErrors) {
    // clang-format off
    check({
        {"METAR LTBA 141220Z 34012KT 9999 FEW030 SCT100 19/11 Q1016 NOSIG=", R"("station":"LTBA","day":14,"time":"1220","category":"VFR")"},
        {"SPECI COR KNJK 272156Z 27005KT 10SM FEW075 17/01 A3005 RMK AO2 SLP190 VCSH", R"("station":"KNJK","temp_c":17)"},
        {"URMN 272221Z 24001MPS 2000 BR OVC005 00/M00 Q1024 TEMPO 0500 FG OVC001", R"("visibility_m":2000,"ceiling_ft":500)"},
        {"KPIB 272156Z AUTO 35009KT 10SM OVC010 11/ A3016 RMK AO2 SLPNO OVC001 T0111", R"("ceiling_ft":1000)"},
        {"LTFM 271200Z", R"("station":"LTFM","wind_kt":null,"visibility_m":null,"temp_c":null,"category":null)"},
        {"RKSW 2210Z 30007KT 2400 -SN BR FEW000 SCT010 BKN030 M04/M04 A2997", R"("error":"no valid DDHHMMZ time after the location indicator")"},
        {"MGTU 272200Z32004KT CAVOK 33/23", R"("error":"no valid DDHHMMZ time after the location indicator")"},
        {"LTBA 142400Z 34012KT 9999 FEW030 19/11 Q1016", R"("error":"no valid DDHHMMZ time after the location indicator")"},
        {"SVCB 272203Z AUTO NIL", R"("error":"NIL report: no observation")"},
        {"", R"("error":"empty report")"},
        {"9999 FEW030 19/11", R"("error":"no location indicator")"},
    });
    // clang-format on
    const std::string huge(kMaxReportBytes + 1, 'A');
    EXPECT_EQ(metarJson(decodeMetar(huge), huge),
              "{\"error\":\"longer than any report (8193 bytes)\"}");
}

// What the window shows beyond the JSON: weather in words, RVR, the variable
// sector, both QNH units and the miles as written.
TEST(MetarDecode, TypedElements) {
    const Metar m = *decodeMetar(
                         "UWOO 272223Z 15002MPS 300V020 1 1/2SM R26/0550N R06L/P1500FT/U "
                         "-SHRASN +TSRA VCFG FZFG BLSN Q1013")
                         .metar;
    EXPECT_EQ(m.conditions.wind->variableFromDeg, 300);
    EXPECT_EQ(m.conditions.wind->variableToDeg, 20);
    EXPECT_EQ(m.conditions.visibility->written, "1 1/2SM");
    EXPECT_EQ(m.conditions.visibility->statuteMiles, 1.5);
    ASSERT_EQ(m.conditions.runwayVisualRanges.size(), 2u);
    EXPECT_EQ(m.conditions.runwayVisualRanges[0].value, 550);
    EXPECT_EQ(m.conditions.runwayVisualRanges[0].tendency, 'N');
    EXPECT_TRUE(m.conditions.runwayVisualRanges[1].moreThan &&
                m.conditions.runwayVisualRanges[1].feet);
    std::string words;
    for (const Phenomenon& p : m.conditions.weather) {
        words += p.words + "; ";
    }
    EXPECT_EQ(words,
              "light rain and snow showers; heavy thunderstorm with rain; fog in the vicinity; "
              "freezing fog; blowing snow; ");
    EXPECT_NEAR(m.qnh->inchesOfMercury, 29.91, 0.005);
}

}  // namespace
}  // namespace orvento::weather
