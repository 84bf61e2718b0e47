#include "engine/mix/MixLaw.h"

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

namespace {

// Below this the limiter's gain is 1 within a hundred-thousandth of a dB.
constexpr float kLimiterExcessFloor = 1e-6F;

}  // namespace

MixLimiter::MixLimiter(double sampleRate)
    : ceiling_(static_cast<float>(std::pow(10.0, kLimiterCeilingDb / 20))),
      release_(static_cast<float>(std::exp(-1 / (kLimiterReleaseSeconds * sampleRate)))),
      envelope_(ceiling_) {}

void MixLimiter::process(float* stereo, std::size_t frames) {
    for (std::size_t f = 0; f < frames; ++f) {
        float& left = stereo[2 * f];
        float& right = stereo[2 * f + 1];
        const float peak = std::max(std::abs(left), std::abs(right));
        float excess = (envelope_ - ceiling_) * release_;
        excess = excess < kLimiterExcessFloor ? 0 : excess;  // no denormals
        envelope_ = std::max(peak, ceiling_ + excess);
        const float gain = ceiling_ / envelope_;
        left *= gain;
        right *= gain;
    }
}

double MixLimiter::gainDb() const {
    return 20 * std::log10(static_cast<double>(ceiling_) / envelope_);
}

}  // namespace orvento
