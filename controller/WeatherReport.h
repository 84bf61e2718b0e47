// The weather panel's text: the raw METAR and TAF reports for LTBA, shown
// unparsed under their headings.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

namespace orvento {

// Where the weather server keeps the reports, after its base URL (the two
// slashes are part of the paths).
inline constexpr const char* kMetarPath = "//pub/data/observations/metar/stations/LTBA.TXT";
inline constexpr const char* kTafPath = "//pub/data/forecasts/taf/stations/LTBA.TXT";
// The largest report accepted; a real one is a few hundred bytes.
inline constexpr std::size_t kWeatherMaxBytes = 256 * 1024;

// The bytes as UTF-8 text; none when there are no bytes or they are not valid
// UTF-8 (a stray byte, a sequence cut short, an overlong form, a surrogate).
std::optional<QString> decodeUtf8(const std::optional<QByteArray>& bytes);

// "METAR:\n<metar>\nTAF:\n<taf>", each report inserted as it is, with its own
// line breaks; a missing report leaves its section empty.
QString weatherPanelText(const std::optional<QString>& metar, const std::optional<QString>& taf);

}  // namespace orvento
