#include "weather/FlightCategory.h"

namespace orvento::weather {

std::optional<FlightCategory> flightCategory(const std::optional<Visibility>& visibility,
                                             const Sky& sky) {
    // Without a height in the sky there is no ceiling, so each element alone
    // may already say LIFR; the missing one could only make it worse.
    const std::optional<int> ceiling = sky.ceilingFt();
    const auto below = [&](int feet) { return ceiling && *ceiling < feet; };
    const bool underOneMile = visibility && visibility->miles() < 1;
    if (below(500) || underOneMile) {
        return FlightCategory::lifr;
    }
    if (!visibility || !sky.known()) {
        return std::nullopt;
    }
    const double miles = visibility->miles();
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
