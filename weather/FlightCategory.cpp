#include "weather/FlightCategory.h"

namespace orvento::weather {

std::optional<FlightCategory> flightCategory(const std::optional<Visibility>& visibility,
                                             const Sky& sky) {
    if (!visibility || !sky.known()) {
        return std::nullopt;
    }
    const double miles = visibility->miles();
    const std::optional<int> ceiling = sky.ceilingFt();
    const auto below = [&](int feet) { return ceiling && *ceiling < feet; };
    if (below(500) || miles < 1) {
        return FlightCategory::lifr;
    }
    if (below(1000) || miles < 3) {
        return FlightCategory::ifr;
    }
    if ((ceiling && *ceiling <= 3000) || miles <= 5) {
        return FlightCategory::mvfr;
    }
    return FlightCategory::vfr;
}

const char* categoryName(FlightCategory category) {
    switch (category) {
        case FlightCategory::vfr:
            return "VFR";
        case FlightCategory::mvfr:
            return "MVFR";
        case FlightCategory::ifr:
            return "IFR";
        case FlightCategory::lifr:
            return "LIFR";
    }
    return "";
}

}  // namespace orvento::weather
