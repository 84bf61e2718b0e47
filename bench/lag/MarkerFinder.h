// Finds the marker station's tones (tools/station-server/MarkerStation.h) in
// a recording of the sink: where each one starts and which of the tones it is.
#pragma once

#include <cstddef>
#include <vector>

namespace orvento::bench {

struct HeardMarker {
    std::size_t frame = 0;  // the tone's first frame, to within a few milliseconds
    std::size_t tone = 0;   // which tone: an index into kMarkerHz
};

// The analysis's step: 10 ms at the sink's rate, whole cycles of every tone.
inline constexpr std::size_t kMarkerWindowFrames = 480;

// The tones heard in interleaved stereo at kSinkRate, in order. A tone
// counts when, after at least a second without one, one of the marker
// frequencies stands out for most of a tone's length; a tone cut short (as
// a player starts or skips audio) does not count.
std::vector<HeardMarker> findMarkers(const std::vector<float>& stereo);

}  // namespace orvento::bench
