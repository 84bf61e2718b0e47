// The surface wind group: "34012KT", "27027G34KT", "VRB03KT", "00000KT",
// "22004MPS", "18010KMH", "/////KT", and the variable sector "300V020".
// Speeds are kept in knots: m/s and km/h are converted and rounded.
#pragma once

#include <optional>
#include <string_view>

namespace orvento::weather {

enum class SpeedUnit {
    knots,
    metresPerSecond,
    kilometresPerHour,
};

struct Wind {
    std::optional<int> directionDeg;  // where it blows from; 0 when calm; none: variable or missing
    bool variable = false;            // "VRB": no steady direction
    std::optional<int> speedKt;       // none: missing ("/////KT")
    std::optional<int> gustKt;        // none: no gusts reported
    bool speedAbove = false;          // "P99KT": more than the speed given
    SpeedUnit writtenIn = SpeedUnit::knots;
    // "dddVddd": the direction varies between these, clockwise.
    std::optional<int> variableFromDeg;
    std::optional<int> variableToDeg;

    bool calm() const { return directionDeg == 0 && speedKt == 0; }
};

// The wind group in `word`; none when `word` is no wind group.
std::optional<Wind> readWind(std::string_view word);
// Reads a "dddVddd" variable sector into `wind`; false when `word` is none.
bool readVariableSector(std::string_view word, Wind& wind);
// A speed in `unit` in whole knots, rounded.
int knotsFrom(int speed, SpeedUnit unit);

}  // namespace orvento::weather
