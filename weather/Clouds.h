// The sky: cloud layers ("FEW030", "BKN012CB", "OVC004", "///074///"),
// vertical visibility ("VV002"), and the words for a sky without cloud that
// matters ("CLR", "SKC", "NSC", "NCD"; CAVOK too). The ceiling is the lowest
// broken or overcast layer or vertical visibility with a height.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvento::weather {

enum class CloudAmount {
    few,                 // FEW, 1-2 oktas
    scattered,           // SCT, 3-4 oktas
    broken,              // BKN, 5-7 oktas
    overcast,            // OVC, 8 oktas
    verticalVisibility,  // VV: the sky is hidden; the height is how far one sees up
    unknown,             // "///": an automatic station could not tell
};

struct CloudLayer {
    CloudAmount amount = CloudAmount::unknown;
    std::optional<int> heightFt;  // above the aerodrome; none: not reported ("BKN///")
    std::string type;             // "CB", "TCU", or empty
};

struct Sky {
    std::vector<CloudLayer> layers;  // as written, lowest first in well-formed reports
    std::string clearWord;           // "CLR", "SKC", "NSC", "NCD" or "CAVOK"; empty when none

    // Whether the report says anything about the sky: a layer with a height,
    // or a word for a sky without cloud that matters.
    bool known() const;
    // The lowest broken, overcast or vertical-visibility layer with a height.
    std::optional<int> ceilingFt() const;
};

// Reads one sky word into `sky`; false when `word` is none.
bool readSkyWord(std::string_view word, Sky& sky);

}  // namespace orvento::weather
