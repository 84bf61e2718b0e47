#include "weather/Pressure.h"

#include <cmath>

#include "weather/Words.h"

namespace orvento::weather {

QnhRead readQnh(std::string_view word) {
    if (word.size() != 5 || (word[0] != 'Q' && word[0] != 'A')) {
        return {};
    }
    const std::string_view digits = word.substr(1);
    if (digits == "////") {
        return {true, std::nullopt};
    }
    if (!allDigits(digits)) {
        return {};
    }
    const int value = digitsValue(digits);
    Qnh qnh;
    if (word[0] == 'Q') {
        qnh.hectopascals = value;
        qnh.inchesOfMercury = value / kHectopascalsPerInchOfMercury;
    } else {
        qnh.writtenInInches = true;
        qnh.inchesOfMercury = value / 100.0;
        qnh.hectopascals =
            static_cast<int>(std::lround(qnh.inchesOfMercury * kHectopascalsPerInchOfMercury));
    }
    return {true, qnh};
}

}  // namespace orvento::weather
