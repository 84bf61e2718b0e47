// Feeds arbitrary bytes to the METAR and TAF decoders and their JSON, and
// checks what must hold for any input: a report or an error, never both; no
// category without a visibility and a known sky but LIFR, which one of them
// gives alone; JSON of printable ASCII or
// UTF-8, one line, braces balanced outside strings.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "weather/Json.h"
#include "weather/Metar.h"
#include "weather/Taf.h"

namespace {

using namespace orvento::weather;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkJson(const std::string& json) {
    require(json.size() >= 2 && json.front() == '{' && json.back() == '}');
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        require(c >= 0x20 && c != 0x7f);
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
            require(depth >= 0);
        }
    }
    require(depth == 0 && !inString);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const MetarDecode metar = decodeMetar(text);
    require(metar.metar.has_value() == metar.error.empty());
    if (metar.metar && metar.metar->category) {
        require((metar.metar->conditions.visibility && metar.metar->conditions.sky.known()) ||
                (*metar.metar->category == FlightCategory::lifr &&
                 (metar.metar->conditions.visibility || metar.metar->conditions.sky.known())));
    }
    checkJson(metarJson(metar, text));

    const TafDecode taf = decodeTaf(text);
    require(taf.taf.has_value() == taf.error.empty());
    if (taf.taf) {
        require(!taf.taf->groups.empty() && taf.taf->groups[0].type == TafGroupType::base);
        for (const TafGroup& g : taf.taf->groups) {
            require(!g.category || (g.visibilityInForce && g.skyInForce.known()) ||
                    (*g.category == FlightCategory::lifr &&
                     (g.visibilityInForce || g.skyInForce.known())));
        }
    }
    checkJson(tafJson(taf, text));
    return 0;
}
