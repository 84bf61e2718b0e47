// The local station site's weather reports, made current when served.
//
// The site keeps each report as a template whose times are marks
// "{time:FORMAT:MINUTES}": the current hour (UTC, minutes dropped) plus
// MINUTES (negative for the past), written as FORMAT:
//   ddhhmm  "141150"            (a report's issue time, an FM group)
//   ddhh    "1412"              (a forecast period's ends)
//   stamp   "2024/05/14 11:55"  (the file's first line)
// so that a METAR served now was issued minutes ago and a TAF's periods lie
// ahead, whenever the site runs.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace orvento::site {

// The airports the site has reports for.
inline constexpr const char* kSiteAirports[] = {"LTBA", "LTFM", "KSFO", "KBOS", "EGLL"};

// `text` with each time mark replaced as of `now`. Text that is no mark stays
// as it is.
std::string currentReport(std::string_view text, std::chrono::system_clock::time_point now);

}  // namespace orvento::site
