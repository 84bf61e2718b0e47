// Decoded reports as text for people: what `orvento-weather ICAO` prints.
#pragma once

#include <string>

#include "weather/Metar.h"
#include "weather/Taf.h"

namespace orvento::weather {

// A METAR as indented "name  value" lines, one element a line.
std::string readableMetar(const Metar& metar);
// A TAF: its issue and validity, then one line per group with its period,
// category and what the group says.
std::string readableTaf(const Taf& taf);

}  // namespace orvento::weather
