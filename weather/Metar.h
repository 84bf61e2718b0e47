// Decoding one METAR or SPECI report into typed fields.
//
// decodeMetar reads "[METAR|SPECI] [COR|AMD] CCCC DDHHMMZ body [trend] [RMK ...]".
// Only the body counts: the words after the time up to "RMK" or the first
// trend word (NOSIG, BECMG, TEMPO, INTER, FMhhmm, TLhhmm, AThhmm, PROBnn).
// Within it, groups may come in any order, modifiers (AUTO, COR, CCA, RTD)
// are noted, and words it does not know (runway state, colour states, sea
// state, recent weather, wind shear) are skipped. Every element that is
// missing or reported as missing stays empty; the flight category is given
// when both the visibility and the sky are known, or when the one known
// alone gives LIFR.
//
// A text is refused (an error, no report) when it has no location indicator
// followed by a valid DDHHMMZ time after the optional leading words, when it
// is a NIL report, or when it is longer than kMaxReportBytes.
//
// Pure functions of their input: any thread, no shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "weather/Conditions.h"
#include "weather/FlightCategory.h"
#include "weather/Pressure.h"
#include "weather/Temperature.h"
#include "weather/Words.h"

namespace orvento::weather {

struct Metar {
    std::string station;     // "LTBA"
    DayTime issued;          // UTC
    bool special = false;    // SPECI: an unscheduled report
    bool automatic = false;  // AUTO: no observer
    bool corrected = false;  // COR, CCA...: corrects an earlier report
    Conditions conditions;
    Temperatures temperatures;
    std::optional<Qnh> qnh;  // "Q" wins over "A" when both are given
    std::optional<FlightCategory> category;
};

struct MetarDecode {
    std::optional<Metar> metar;  // none when the text was refused
    std::string error;           // why it was refused, in words; empty otherwise
};

MetarDecode decodeMetar(std::string_view text);

}  // namespace orvento::weather
