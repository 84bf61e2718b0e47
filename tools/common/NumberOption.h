// Reading the numbers of command-line options: whole text, within a range.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>

namespace orvento::tools {

// `text` as a whole number from `min` to `max`; nullopt for anything else: a
// sign, a fraction, an exponent, trailing text, or a value out of range.
inline std::optional<std::uint64_t> wholeNumberIn(std::string_view text, std::uint64_t min,
                                                  std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

// `text` as a decimal number from `min` to `max`; nullopt for anything else:
// trailing text, "nan", "inf", or a value out of range.
inline std::optional<double> numberIn(std::string_view text, double min, double max) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace orvento::tools
