#include "weather/Temperature.h"

#include "weather/Words.h"

namespace orvento::weather {
namespace {

// "dd", "Mdd", or a missing value ("//", "XX", "" for the dew point only).
bool readDegrees(std::string_view text, std::optional<int>& degrees) {
    if (text.empty() || text == "//" || text == "XX") {
        return true;
    }
    const bool minus = text.starts_with('M');
    if (minus) {
        text.remove_prefix(1);
    }
    if (text.size() != 2 || !allDigits(text)) {
        return false;
    }
    degrees = minus ? -digitsValue(text) : digitsValue(text);
    return true;
}

}  // namespace

std::optional<Temperatures> readTemperatures(std::string_view word) {
    const std::size_t slash = word.find('/', word.starts_with("//") ? 2 : 0);
    if (slash == std::string_view::npos || slash == 0) {
        return std::nullopt;
    }
    const std::string_view air = word.substr(0, slash);
    const std::string_view dewPoint = word.substr(slash + 1);
    Temperatures t;
    if (!readDegrees(air, t.airC) || !readDegrees(dewPoint, t.dewPointC) ||
        (!t.airC && dewPoint.empty())) {
        return std::nullopt;
    }
    return t;
}

}  // namespace orvento::weather
