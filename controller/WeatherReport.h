// The weather panel's raw text: the METAR and TAF reports of an airport (LTBA
// unless the user chose another), shown as they came under their headings.
#pragma once

#include <QString>
#include <cstddef>
#include <optional>

#include "engine/net/HttpDownload.h"

namespace orvento {

// Where the weather server keeps LTBA's reports, after its base URL (the two
// slashes are part of the paths); weather::metarPath and tafPath give any
// airport's.
inline constexpr const char* kMetarPath = "//pub/data/observations/metar/stations/LTBA.TXT";
inline constexpr const char* kTafPath = "//pub/data/forecasts/taf/stations/LTBA.TXT";
// The largest report accepted; a real one is a few hundred bytes.
inline constexpr std::size_t kWeatherMaxBytes = 256 * 1024;

// What the panel shows for one report: its text as it came, or, in its place,
// one line in parentheses saying why there is none (the download failed, the
// report is over kWeatherMaxBytes, or is no text by weather::checkReportText,
// as orvento-weather judges it). Empty when `download` is none (no server).
QString weatherSectionText(const std::optional<HttpDownloadResult>& download);

// The same, and whether the text is the report itself.
struct WeatherSection {
    QString text;
    bool isReport = false;
};
WeatherSection readWeatherSection(const std::optional<HttpDownloadResult>& download);

// "METAR:\n<metar>\nTAF:\n<taf>", each section inserted as it is, with its own
// line breaks.
QString weatherPanelText(const QString& metar, const QString& taf);

}  // namespace orvento
