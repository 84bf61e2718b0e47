// The TAF decoder: its groups, their periods, and the category of the
// conditions in force during each. Rows are whole forecasts, each followed by
// the groups it must give as "TYPE[prob] from_day/from_hour-to_day/to_hour
// CATEGORY", in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/weather/JsonFields.h"
#include "weather/Json.h"
#include "weather/Taf.h"

namespace orvento::weather {
namespace {

struct Row {
    const char* taf;
    const char* groups;
};

std::string summary(const Taf& taf) {
    std::string out;
    for (const TafGroup& g : taf.groups) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%s %d/%d-%d/%d %s; ", groupTypeName(g.type),
                      g.probability ? std::to_string(*g.probability).c_str() : "",
                      g.from ? g.from->day : 0, g.from ? g.from->hour : 0, g.to ? g.to->day : 0,
                      g.to ? g.to->hour : 0, g.category ? categoryName(*g.category) : "null");
        out += text;
    }
    return out;
}

void check(std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        const TafDecode decoded = decodeTaf(row.taf);
        ASSERT_TRUE(decoded.taf) << row.taf << ": " << decoded.error;
        EXPECT_EQ(summary(*decoded.taf), row.groups) << row.taf;
    }
}

TEST(TafDecode, GroupsAndPeriods) {
    // clang-format off
    check({
        {"TAF LTBA 141100Z 1412/1518 34012KT 9999 FEW030 SCT100 BECMG 1418/1420 VRB05KT TEMPO 1504/1508 4000 BR", "BASE 14/12-15/18 VFR; BECMG 14/18-14/20 VFR; TEMPO 15/4-15/8 IFR; "},
        {"TAF KORH 280540Z 2806/2912 22013G23KT 10SM SKC PROB30 TEMPO 2812/2815 3SM SKC PROB40 2817/2821 6000 -RA FM290300 00000KT 10SM SKC FM290800 22024G34KT 10SM OVC100", "BASE 28/6-29/12 VFR; TEMPO30 28/12-28/15 MVFR; PROB40 28/17-28/21 MVFR; FM 29/3-29/8 VFR; FM 29/8-29/12 VFR; "},
        {"TAF AMD YSSY 272259Z 2800/2906 17012KT 9999 FEW025 INTER 2803/2806 5000 SHRA BKN015 FM281200 20015KT CAVOK PROB30 INTER 2815/2818 1500 TSRA", "BASE 28/0-29/6 VFR; INTER 28/3-28/6 MVFR; FM 28/12-29/6 VFR; INTER30 28/15-28/18 LIFR; "},
        {"TAF LTFM 271100Z 2712/2818 VRB03KT 3000 BR BKN008 BECMG 2714/2716 9999 SCT030 TEMPO 2800/2806 0800 FG BKN002 BECMG 2808/2810 BKN012 RMK TEMPO 2807/2808 0100 FG=", "BASE 27/12-28/18 IFR; BECMG 27/14-27/16 VFR; TEMPO 28/0-28/6 LIFR; BECMG 28/8-28/10 MVFR; "},
    });
    // clang-format on
}

// Changes take their own visibility or sky over what prevails: the base, as
// each FM replaces it and each BECMG updates it; TEMPO and PROB leave it.
// With the sky or visibility unknown, only a LIFR of the other is said.
TEST(TafDecode, ConditionsInForce) {
    // clang-format off
    check({
        {"TAF EGLL 271700Z 2718/2824 24010KT 9999 BKN035 TEMPO 2720/2724 BKN008 BECMG 2800/2803 4000 TEMPO 2806/2809 OVC004", "BASE 27/18-28/24 VFR; TEMPO 27/20-27/24 IFR; BECMG 28/0-28/3 IFR; TEMPO 28/6-28/9 LIFR; "},
        {"TAF LSZH 271700Z 2718/2824 24010KT 6000 BECMG 2720/2722 BKN040 TEMPO 2800/2803 CAVOK FM281200 9999 PROB30 2814/2816 BKN004", "BASE 27/18-28/24 null; BECMG 27/20-27/22 MVFR; TEMPO 28/0-28/3 VFR; FM 28/12-28/24 null; PROB30 28/14-28/16 LIFR; "},
        {"TAF KDEN 272320Z 2800/2906 36010KT 1 1/2SM BR OVC004 FM281500 27012KT P6SM SCT250 TEMPO 2818/2822 BKN025", "BASE 28/0-29/6 LIFR; FM 28/15-29/6 VFR; TEMPO 28/18-28/22 MVFR; "},
        {"TAF LTBA 271700Z 2718/2824 00000KT 0200 FG BECMG 2806/2808 4000 BR TEMPO 2810/2812 OVC003 FM281400 ////", "BASE 27/18-28/24 LIFR; BECMG 28/6-28/8 null; TEMPO 28/10-28/12 LIFR; FM 28/14-28/24 null; "},
    });
    // clang-format on
}

TEST(TafDecode, Errors) {
    for (const auto& [taf, error] : {
             std::pair{"TAF LTFM 271100Z NIL=", "NIL forecast: none issued"},
             std::pair{"TAF LTBA 271100Z 2712/2818 CNL", "cancelled forecast (CNL)"},
             std::pair{"TAF KJFK 272320Z", "no valid DDhh/DDhh validity period"},
             std::pair{"TAF KJFK 272320Z 2800/3225 10SM SKC", "no valid DDhh/DDhh validity period"},
             std::pair{"TAF 2800/2906 10SM SKC", "no location indicator"},
         }) {
        testing::expectFields(tafJson(decodeTaf(taf), taf),
                              R"("error":")" + std::string(error) + '"');
    }
    testing::expectFields(tafJson(decodeTaf("TAF KJFK 2800/2906 10SM SKC"), ""),
                          R"("station":"KJFK","groups":[{"type":"BASE","prob":null,"from_day":28)");
}

}  // namespace
}  // namespace orvento::weather
