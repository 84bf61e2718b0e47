#include "bench/lag/MarkerFinder.h"

#include <algorithm>
#include <cmath>

#include "bench/common/SoundServer.h"
#include "tools/station-server/MarkerStation.h"

namespace orvento::bench {
namespace {

using site::kMarkerHz;

// A tone is at most this far below the loudest heard: players may play
// quieter than full scale, and the tone's first window holds only part of it.
constexpr double kBelowLoudestDb = 15;
// Quieter than this is never a tone (the station's hiss is far below it).
constexpr double kFloorDb = -50;
// Windows of quiet before a tone, and windows of tone that make one whole.
constexpr std::size_t kQuietWindows = 100;
constexpr auto kWholeToneWindows =
    static_cast<std::size_t>(site::kMarkerToneSeconds * kSinkRate * 0.8 / kMarkerWindowFrames);

// The loudest marker frequency of a window of both channels, as its level
// in dB and its index.
std::pair<double, std::size_t> loudestTone(const std::vector<float>& stereo, std::size_t from,
                                           std::size_t count) {
    std::pair<double, std::size_t> loudest{-200, 0};
    for (std::size_t i = 0; i < kMarkerHz.size(); ++i) {
        const double db = std::max(toneDb(stereo, 0, from, count, kMarkerHz[i]),
                                   toneDb(stereo, 1, from, count, kMarkerHz[i]));
        loudest = std::max(loudest, std::pair{db, i});
    }
    return loudest;
}

// The tone's first frame: where, from the window before the first loud one,
// a sample first reaches half the tone's amplitude (`db`), 2.5 ms into its
// fade-in.
std::size_t onset(const std::vector<float>& stereo, std::size_t window, double db) {
    const double half = std::pow(10, db / 20) / 2;
    const std::size_t from = window > 0 ? (window - 1) * kMarkerWindowFrames : 0;
    for (std::size_t f = from; f < (window + 1) * kMarkerWindowFrames; ++f) {
        if (std::abs(stereo[2 * f]) >= half || std::abs(stereo[2 * f + 1]) >= half) {
            return f - std::min<std::size_t>(f, kSinkRate / 400);
        }
    }
    return window * kMarkerWindowFrames;
}

}  // namespace

std::vector<HeardMarker> findMarkers(const std::vector<float>& stereo) {
    const std::size_t frames = stereo.size() / 2;
    std::vector<double> levels;
    for (std::size_t f = 0; f + kMarkerWindowFrames <= frames; f += kMarkerWindowFrames) {
        levels.push_back(loudestTone(stereo, f, kMarkerWindowFrames).first);
    }
    if (levels.empty()) {
        return {};
    }
    const double threshold =
        std::max(*std::max_element(levels.begin(), levels.end()) - kBelowLoudestDb, kFloorDb);
    std::vector<HeardMarker> found;
    std::size_t quiet = kQuietWindows;  // the recording starts before the player
    for (std::size_t w = 0; w < levels.size(); ++w) {
        if (levels[w] < threshold) {
            ++quiet;
            continue;
        }
        std::size_t end = w;
        while (end < levels.size() && levels[end] >= threshold) {
            ++end;
        }
        if (quiet >= kQuietWindows && end - w >= kWholeToneWindows) {
            // Which tone: its whole length past the partial first window.
            const std::size_t from = (w + 1) * kMarkerWindowFrames;
            const auto [db, tone] = loudestTone(stereo, from, (end - w - 1) * kMarkerWindowFrames);
            found.push_back({onset(stereo, w, db), tone});
        }
        quiet = 0;
        w = end - 1;
    }
    return found;
}

}  // namespace orvento::bench
