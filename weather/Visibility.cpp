#include "weather/Visibility.h"

#include <algorithm>
#include <cmath>

#include "weather/Words.h"

namespace orvento::weather {
namespace {

constexpr std::string_view kDirections[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};

// "n/d" with one or two digits each and d > 0.
std::optional<double> fraction(std::string_view text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash > 2) {
        return std::nullopt;
    }
    const std::string_view numerator = text.substr(0, slash);
    const std::string_view denominator = text.substr(slash + 1);
    if (!allDigits(numerator) || !allDigits(denominator) || denominator.size() > 2 ||
        digitsValue(denominator) == 0) {
        return std::nullopt;
    }
    return static_cast<double>(digitsValue(numerator)) / digitsValue(denominator);
}

// "10SM", "1/2SM", "M1/4SM", "P6SM" (without the SM), and a whole number of
// miles before it when `whole` is set.
std::optional<Visibility> miles(std::string_view text, std::optional<int> whole) {
    Visibility v;
    v.lessThan = text.starts_with('M');
    v.moreThan = text.starts_with('P');
    if (v.lessThan || v.moreThan) {
        text.remove_prefix(1);
    }
    double value = 0;
    if (const std::optional<double> part = fraction(text)) {
        value = whole.value_or(0) + *part;
    } else if (!whole && text.size() <= 2 && allDigits(text)) {
        value = digitsValue(text);
    } else {
        return std::nullopt;
    }
    v.statuteMiles = value;
    v.metres = static_cast<int>(
        std::min<double>(std::lround(value * kMetresPerStatuteMile), kMaxStatuteMileMetres));
    return v;
}

}  // namespace

Visibility cavokVisibility() {
    return Visibility{kTenKilometresOrMore, std::nullopt, false, false, "CAVOK"};
}

VisibilityRead readVisibility(std::span<const std::string_view> words) {
    if (words.empty()) {
        return {};
    }
    const std::string_view word = words[0];
    if (word == "////" || word == "////SM") {
        return {1, std::nullopt, true};
    }
    if (word.ends_with("SM")) {
        std::optional<Visibility> v = miles(word.substr(0, word.size() - 2), std::nullopt);
        if (!v) {
            return {};
        }
        v->written = word;
        return {1, std::move(v), true};
    }
    // A whole number of miles and a fraction: "1 1/2SM".
    if (word.size() == 1 && allDigits(word) && words.size() > 1 && words[1].ends_with("SM") &&
        !words[1].starts_with('M') && !words[1].starts_with('P')) {
        const std::string_view next = words[1];
        std::optional<Visibility> v = miles(next.substr(0, next.size() - 2), digitsValue(word));
        if (v) {
            v->written = std::string(word) + " " + std::string(next);
            return {2, std::move(v), true};
        }
        return {};
    }
    std::string_view digits = word;
    const bool lessThan = digits.starts_with('M');
    const bool moreThan = digits.starts_with('P');
    if (lessThan || moreThan) {
        digits.remove_prefix(1);
    }
    if (digits.size() < 4 || !allDigits(digits.substr(0, 4))) {
        return {};
    }
    const std::string_view suffix = digits.substr(4);
    bool prevailing = suffix.empty() || suffix == "NDV";
    if (!prevailing && std::find(std::begin(kDirections), std::end(kDirections), suffix) ==
                           std::end(kDirections)) {
        return {};
    }
    Visibility v{digitsValue(digits.substr(0, 4)), std::nullopt, lessThan, moreThan,
                 std::string(word)};
    return {1, std::move(v), prevailing};
}

}  // namespace orvento::weather
