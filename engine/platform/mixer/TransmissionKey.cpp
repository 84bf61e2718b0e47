#include "engine/platform/mixer/TransmissionKey.h"

#include <cmath>

namespace orvento {

bool LevelKey::update(const float* samples, std::size_t frames, int channels, double seconds) {
    const std::size_t count = frames * static_cast<std::size_t>(channels);
    double power = 0;
    for (std::size_t i = 0; i < count; ++i) {
        power += static_cast<double>(samples[i]) * samples[i];
    }
    // Compared as power, so that no logarithm is taken per block.
    static const double threshold = std::pow(10.0, kThresholdDb / 10);
    if (count > 0 && power / static_cast<double>(count) > threshold) {
        sinceLoud_ = 0;
    } else {
        sinceLoud_ += seconds;
    }
    return sinceLoud_ < kHoldSeconds;
}

}  // namespace orvento
