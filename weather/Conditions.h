// The elements a METAR body and every TAF group share: wind, visibility,
// CAVOK, runway visual range, present weather and sky. Groups may come in any
// order; of a repeated wind or visibility group the first counts, while RVR,
// weather and cloud groups add up.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "weather/Clouds.h"
#include "weather/FlightCategory.h"
#include "weather/Phenomena.h"
#include "weather/RunwayVisualRange.h"
#include "weather/Visibility.h"
#include "weather/Wind.h"

namespace orvento::weather {

struct Conditions {
    std::optional<Wind> wind;
    bool visibilityGiven = false;          // a visibility group was read, perhaps as missing
    std::optional<Visibility> visibility;  // the prevailing visibility; none: missing or not given
    bool cavok = false;                    // visibility 10 km or more, no cloud that matters
    std::vector<RunwayVisualRange> runwayVisualRanges;
    std::vector<Phenomenon> weather;
    Sky sky;

    std::optional<FlightCategory> category() const { return flightCategory(visibility, sky); }
};

// Reads the element that starts at words[0] into `conditions`; returns how
// many words it took, 0 when words[0] is none of them.
int readConditionWords(std::span<const std::string_view> words, Conditions& conditions);

}  // namespace orvento::weather
