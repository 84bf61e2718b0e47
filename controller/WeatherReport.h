// The weather panel's text: the raw METAR and TAF reports for LTBA, shown
// unparsed under their headings.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

#include "engine/platform/http/HttpDownload.h"

namespace orvento {

// Where the weather server keeps the reports, after its base URL (the two
// slashes are part of the paths).
inline constexpr const char* kMetarPath = "//pub/data/observations/metar/stations/LTBA.TXT";
inline constexpr const char* kTafPath = "//pub/data/forecasts/taf/stations/LTBA.TXT";
// The largest report accepted; a real one is a few hundred bytes.
inline constexpr std::size_t kWeatherMaxBytes = 256 * 1024;

// The bytes as UTF-8 text; none when they are not valid UTF-8 (a stray byte,
// a sequence cut short, an overlong form, a surrogate).
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// What the panel shows for one report: its text as it came, or, in its place,
// one line in parentheses saying why there is none (the download failed, the
// report is over kWeatherMaxBytes, is not UTF-8, or holds control characters
// other than tabs and line breaks). Empty when `download` is none (no server).
QString weatherSectionText(const std::optional<HttpDownloadResult>& download);

// "METAR:\n<metar>\nTAF:\n<taf>", each section inserted as it is, with its own
// line breaks.
QString weatherPanelText(const QString& metar, const QString& taf);

}  // namespace orvento
