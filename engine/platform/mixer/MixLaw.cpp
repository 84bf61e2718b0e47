#include "engine/platform/mixer/MixLaw.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvento {

double gainFromDb(double db) {
    return std::pow(10.0, std::clamp(db, kMinFeedGainDb, kMaxFeedGainDb) / 20);
}

PanGains monoPan(double pan) {
    const double angle = (std::clamp(pan, -1.0, 1.0) + 1) * std::numbers::pi / 4;
    return {std::cos(angle), std::sin(angle)};
}

PanGains stereoBalance(double pan) {
    const PanGains mono = monoPan(pan);
    return {std::min(1.0, std::numbers::sqrt2 * mono.left),
            std::min(1.0, std::numbers::sqrt2 * mono.right)};
}

bool feedHeard(bool muted, bool soloed, bool anySoloed) {
    return !muted && (soloed || !anySoloed);
}

double DuckEnvelope::advance(bool ducking, double seconds) {
    if (ducking) {
        db_ = std::max(-kDuckDepthDb, db_ - seconds * kDuckDepthDb / kDuckAttackSeconds);
    } else {
        db_ = std::min(0.0, db_ + seconds * kDuckDepthDb / kDuckReleaseSeconds);
    }
    return db_;
}

}  // namespace orvento
