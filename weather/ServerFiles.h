// The weather server's files for an airport, named by its ICAO code. A
// weather server of one's own (the local site) keeps them at
//   "//pub/data/observations/metar/stations/<CODE>.TXT"  the latest METAR
//   "//pub/data/forecasts/taf/stations/<CODE>.TXT"       the latest TAF
// and the US National Weather Service's public text server
// (kPublicWeatherServer) at "/data/observations/..." and "/data/forecasts/...".
// Each holds a line with the time the file was made ("2024/05/14 12:20"),
// then the report, a TAF over several lines.
#pragma once

#include <string>
#include <string_view>

namespace orvento::weather {

// Four letters A-Z: the form of the codes the weather server files reports under.
bool isIcaoCode(std::string_view code);

// The public server that keeps the latest reports of airports worldwide.
inline constexpr const char* kPublicWeatherServer = "https://tgftp.nws.noaa.gov";

// Where a server keeps the files.
enum class ServerLayout {
    own,  // "//pub/data/...", after any base URL
    nws,  // "/data/...", at kPublicWeatherServer
};

std::string metarPath(std::string_view code, ServerLayout layout = ServerLayout::own);
std::string tafPath(std::string_view code, ServerLayout layout = ServerLayout::own);

struct ReportFile {
    std::string stamp;   // "2024/05/14 12:20"; empty when the file has no such line
    std::string report;  // the report's lines joined by single spaces
};

ReportFile readReportFile(std::string_view body);

}  // namespace orvento::weather
