// Decoded reports as one-line JSON objects, the output of
// `orvento-weather --decode`:
//
//   METAR: {"station", "day", "time" ("HHMM"), "wind_dir_deg" (degrees, or
//   "VRB"), "wind_kt", "gust_kt", "visibility_m", "less_than", "cavok",
//   "ceiling_ft", "temp_c", "dew_c", "qnh_hpa", "category", "raw"}
//   TAF:   {"station", "groups": [{"type", "prob", "from_day", "from_hour",
//   "to_day", "to_hour", "category"}...], "raw"}
//   refused text: {"error": why, "raw"}
//
// Missing values are null. "raw" echoes the text (invalid UTF-8 replaced by
// U+FFFD, control characters, C1 too, escaped: nothing a terminal acts on),
// except for texts longer than kMaxReportBytes.
#pragma once

#include <string>
#include <string_view>

#include "weather/Metar.h"
#include "weather/Taf.h"

namespace orvento::weather {

std::string metarJson(const MetarDecode& decoded, std::string_view raw);
std::string tafJson(const TafDecode& decoded, std::string_view raw);

// `text` as a JSON string literal, with quotes.
std::string jsonString(std::string_view text);

}  // namespace orvento::weather
