// Runway visual range: "R24/P2000N", "R06L/0600V1000FT/U", "R33/M0050".
// Runway state groups ("R24/290050") are not RVR and are not read here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvento::weather {

struct RunwayVisualRange {
    std::string runway;          // "24", "06L"
    int value = 0;               // the lowest value, in `feet` or metres as written
    std::optional<int> maximum;  // "0600V1000": varying up to this
    bool lessThan = false;       // "M": below the lowest value the system measures
    bool moreThan = false;       // "P": above the highest
    bool feet = false;           // "FT": values in feet, else metres
    char tendency = 0;           // 'U' rising, 'D' falling, 'N' no change; 0 when not given
};

// The RVR group in `word`; none when `word` is none.
std::optional<RunwayVisualRange> readRunwayVisualRange(std::string_view word);

}  // namespace orvento::weather
