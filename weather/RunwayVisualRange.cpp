#include "weather/RunwayVisualRange.h"

#include "weather/Words.h"

namespace orvento::weather {
namespace {

// "[MP]dddd" at the front of `text`, which it consumes.
bool takeValue(std::string_view& text, int& value, bool& less, bool& more) {
    less = text.starts_with('M');
    more = text.starts_with('P');
    if (less || more) {
        text.remove_prefix(1);
    }
    if (text.size() < 4 || !allDigits(text.substr(0, 4))) {
        return false;
    }
    value = digitsValue(text.substr(0, 4));
    text.remove_prefix(4);
    return true;
}

}  // namespace

std::optional<RunwayVisualRange> readRunwayVisualRange(std::string_view word) {
    const std::size_t slash = word.find('/');
    if (!word.starts_with('R') || slash == std::string_view::npos || slash < 3 || slash > 4 ||
        !allDigits(word.substr(1, 2))) {
        return std::nullopt;
    }
    RunwayVisualRange rvr;
    rvr.runway = std::string(word.substr(1, slash - 1));
    if (rvr.runway.size() == 3 && rvr.runway[2] != 'L' && rvr.runway[2] != 'C' &&
        rvr.runway[2] != 'R') {
        return std::nullopt;
    }
    std::string_view rest = word.substr(slash + 1);
    if (!takeValue(rest, rvr.value, rvr.lessThan, rvr.moreThan)) {
        return std::nullopt;
    }
    if (rest.starts_with('V')) {
        rest.remove_prefix(1);
        int maximum = 0;
        bool less = false;
        if (!takeValue(rest, maximum, less, rvr.moreThan)) {
            return std::nullopt;
        }
        rvr.maximum = maximum;
    }
    if (rest.starts_with("FT")) {
        rvr.feet = true;
        rest.remove_prefix(2);
    }
    if (rest.starts_with('/')) {
        rest.remove_prefix(1);
    }
    if (rest == "U" || rest == "D" || rest == "N") {
        rvr.tendency = rest[0];
    } else if (!rest.empty()) {
        return std::nullopt;
    }
    return rvr;
}

}  // namespace orvento::weather
