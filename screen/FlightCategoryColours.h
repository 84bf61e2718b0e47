// The usual aviation colours of the flight categories, as charts and
// briefings show them: VFR green, MVFR blue, IFR red, LIFR magenta.
#pragma once

#include <QColor>

#include "weather/FlightCategory.h"

namespace orvento {

inline QColor flightCategoryColour(weather::FlightCategory category) {
    switch (category) {
        case weather::FlightCategory::vfr:
            return {0x2e, 0x9d, 0x4f};
        case weather::FlightCategory::mvfr:
            return {0x2f, 0x6f, 0xd6};
        case weather::FlightCategory::ifr:
            return {0xd2, 0x3c, 0x3c};
        case weather::FlightCategory::lifr:
            return {0xc0, 0x3f, 0xc0};
    }
    return Qt::gray;
}

}  // namespace orvento
