// The temperature and dew point group "TT/DD" in whole degrees Celsius, "M"
// for minus: "19/11", "M01/M02", "10/M00", "25/" (no dew point), "/////".
#pragma once

#include <optional>
#include <string_view>

namespace orvento::weather {

struct Temperatures {
    std::optional<int> airC;       // none: not reported
    std::optional<int> dewPointC;  // none: not reported
};

// The group in `word`; none when `word` is no temperature group.
std::optional<Temperatures> readTemperatures(std::string_view word);

}  // namespace orvento::weather
