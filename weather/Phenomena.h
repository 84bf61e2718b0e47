// Present weather: "-RA", "+TSRA", "VCSH", "FZFG", "BLSN", "-SHRASN", ..., put
// into words for people who do not read the codes ("light rain showers").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvento::weather {

struct Phenomenon {
    std::string code;   // as written: "-SHRA"
    std::string words;  // "light rain showers"
};

// The weather group in `word`; none when `word` is none. "NSW" (no significant
// weather, in forecasts) reads as a phenomenon with those words.
std::optional<Phenomenon> readPhenomenon(std::string_view word);

}  // namespace orvento::weather
