// The altimeter setting (QNH): "Q1016" in hectopascals or "A3012" in
// hundredths of an inch of mercury; "Q////" is a missing value.
#pragma once

#include <optional>
#include <string_view>

namespace orvento::weather {

inline constexpr double kHectopascalsPerInchOfMercury = 33.8639;

struct Qnh {
    int hectopascals = 0;          // as written, or the inches converted and rounded
    double inchesOfMercury = 0;    // as written, or the hectopascals converted
    bool writtenInInches = false;  // "A3012"
};

struct QnhRead {
    bool matched = false;      // `word` is a QNH group
    std::optional<Qnh> value;  // none: reported as missing
};

QnhRead readQnh(std::string_view word);

}  // namespace orvento::weather
