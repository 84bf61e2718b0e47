#include "weather/Wind.h"

#include <cmath>

#include "weather/Words.h"

namespace orvento::weather {
namespace {

constexpr double kKnotsPerMetrePerSecond = 1.943844;
constexpr double kKnotsPerKilometrePerHour = 0.539957;

// The unit at the end of `word`, which it strips; none when it has none.
std::optional<SpeedUnit> takeUnit(std::string_view& word) {
    constexpr std::pair<std::string_view, SpeedUnit> kUnits[] = {
        {"KT", SpeedUnit::knots},
        {"MPS", SpeedUnit::metresPerSecond},
        {"KMH", SpeedUnit::kilometresPerHour},
    };
    for (const auto& [suffix, unit] : kUnits) {
        if (word.ends_with(suffix)) {
            word.remove_suffix(suffix.size());
            return unit;
        }
    }
    return std::nullopt;
}

// A speed of two or three digits, optionally after "P"; "//" is a missing speed.
bool readSpeed(std::string_view text, std::optional<int>& speed, bool& above) {
    if (text == "//") {
        return true;
    }
    above = text.starts_with('P');
    if (above) {
        text.remove_prefix(1);
    }
    if ((text.size() != 2 && text.size() != 3) || !allDigits(text)) {
        return false;
    }
    speed = digitsValue(text);
    return true;
}

bool isDirection(std::string_view text) {
    return text.size() == 3 && allDigits(text) && digitsValue(text) <= 360;
}

}  // namespace

int knotsFrom(int speed, SpeedUnit unit) {
    switch (unit) {
        case SpeedUnit::metresPerSecond:
            return static_cast<int>(std::lround(speed * kKnotsPerMetrePerSecond));
        case SpeedUnit::kilometresPerHour:
            return static_cast<int>(std::lround(speed * kKnotsPerKilometrePerHour));
        case SpeedUnit::knots:
            break;
    }
    return speed;
}

std::optional<Wind> readWind(std::string_view word) {
    const std::optional<SpeedUnit> unit = takeUnit(word);
    if (!unit || word.size() < 5) {
        return std::nullopt;
    }
    Wind wind;
    wind.writtenIn = *unit;
    const std::string_view direction = word.substr(0, 3);
    if (direction == "VRB") {
        wind.variable = true;
    } else if (isDirection(direction)) {
        wind.directionDeg = digitsValue(direction);
    } else if (direction != "///") {
        return std::nullopt;
    }
    std::string_view rest = word.substr(3);
    const std::size_t g = rest.find('G');
    bool gustAbove = false;
    if (!readSpeed(rest.substr(0, g), wind.speedKt, wind.speedAbove) ||
        (g != std::string_view::npos && !readSpeed(rest.substr(g + 1), wind.gustKt, gustAbove))) {
        return std::nullopt;
    }
    if (wind.speedKt) {
        wind.speedKt = knotsFrom(*wind.speedKt, *unit);
    }
    if (wind.gustKt) {
        wind.gustKt = knotsFrom(*wind.gustKt, *unit);
    }
    return wind;
}

bool readVariableSector(std::string_view word, Wind& wind) {
    if (word.size() != 7 || word[3] != 'V' || !isDirection(word.substr(0, 3)) ||
        !isDirection(word.substr(4))) {
        return false;
    }
    wind.variableFromDeg = digitsValue(word.substr(0, 3));
    wind.variableToDeg = digitsValue(word.substr(4));
    return true;
}

}  // namespace orvento::weather
