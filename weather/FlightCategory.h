// The flight category of the conditions at an aerodrome, by the FAA's rule:
// LIFR when the ceiling is below 500 ft or the visibility below 1 statute
// mile; else IFR below 1000 ft or 3 SM; else MVFR at or below 3000 ft or
// 5 SM; else VFR. Without a visibility, or without anything said about the
// sky, there is no category (a guess could be dangerously wrong) unless the
// element that is known alone gives LIFR: "0100 FG VV///" is LIFR.
#pragma once

#include <optional>

#include "weather/Clouds.h"
#include "weather/Visibility.h"

namespace orvento::weather {

enum class FlightCategory {
    vfr,
    mvfr,
    ifr,
    lifr,
};

std::optional<FlightCategory> flightCategory(const std::optional<Visibility>& visibility,
                                             const Sky& sky);

// "VFR", "MVFR", "IFR", "LIFR".
const char* categoryName(FlightCategory category);

}  // namespace orvento::weather
