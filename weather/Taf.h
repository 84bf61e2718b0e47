// Decoding one TAF (terminal aerodrome forecast) into its groups, each with
// the conditions in force during it and their flight category.
//
// decodeTaf reads "TAF [AMD|COR] CCCC [DDHHMMZ] DDhh/DDhh base {change group}
// [RMK ...]". The first group is the base forecast over the whole validity;
// then every change group in the order written:
//   FMddhhmm                   from then on, replacing everything before it
//   BECMG DDhh/DDhh            changing during the period, lasting after it
//   TEMPO DDhh/DDhh            temporary changes within the period
//   PROBnn [TEMPO|INTER] DDhh/DDhh   the same with a probability
//   INTER DDhh/DDhh            brief, frequent changes
// Conditions in force: BASE and FM groups stand on their own; a BECMG, TEMPO,
// PROB or INTER group takes its own visibility and/or sky over the prevailing
// conditions (the base, replaced by each FM and updated by each BECMG in the
// order written). CAVOK means 9999 m and no ceiling. A group whose
// visibility or sky is still unknown has no category, unless the one known
// alone gives LIFR.
//
// A text is refused when it has no location indicator, no valid validity
// period, is a NIL or cancelled (CNL) forecast, or is longer than
// kMaxReportBytes. Pure functions: any thread, no shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "weather/Conditions.h"
#include "weather/FlightCategory.h"
#include "weather/Words.h"

namespace orvento::weather {

enum class TafGroupType {
    base,          // the forecast's first conditions
    from,          // FM
    becoming,      // BECMG
    temporary,     // TEMPO (also PROBnn TEMPO)
    probability,   // PROBnn on its own
    intermittent,  // INTER (also PROBnn INTER)
};

struct TafGroup {
    TafGroupType type = TafGroupType::base;
    std::optional<int> probability;  // 30, 40
    // The period; FM groups end where the next FM begins, or with the forecast.
    // None when the group gives no readable period.
    std::optional<DayTime> from;  // FM keeps its minutes
    std::optional<DayTime> to;
    Conditions conditions;  // as the group writes them
    // What is expected during the group, as the category sees it.
    std::optional<Visibility> visibilityInForce;
    Sky skyInForce;
    std::optional<FlightCategory> category;
};

struct Taf {
    std::string station;
    std::optional<DayTime> issued;  // none when the forecast leaves it out
    DayTime validFrom;
    DayTime validTo;
    bool amended = false;    // AMD
    bool corrected = false;  // COR
    std::vector<TafGroup> groups;
};

struct TafDecode {
    std::optional<Taf> taf;  // none when the text was refused
    std::string error;       // why, in words; empty otherwise
};

TafDecode decodeTaf(std::string_view text);

// "BASE", "FM", "BECMG", "TEMPO", "PROB", "INTER".
const char* groupTypeName(TafGroupType type);

}  // namespace orvento::weather
