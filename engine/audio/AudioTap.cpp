#include "engine/audio/AudioTap.h"

#include <algorithm>

namespace orvento {

std::size_t AudioTap::write(const float* samples, std::size_t frames) {
    const bool muted = muted_ && muted_->load(std::memory_order_relaxed);
    const std::size_t taken = muted ? writeSilence(frames) : output_->write(samples, frames);
    if (taken > 0 && listener_) {
        const PcmFormat format = output_->format();
        listener_(samples, taken, format.sampleRate, format.channels);
    }
    return taken;
}

std::size_t AudioTap::writeSilence(std::size_t frames) {
    const auto channels = static_cast<std::size_t>(std::max(output_->format().channels, 1));
    const std::size_t chunk = silence_.size() / channels;
    std::size_t taken = 0;
    while (taken < frames) {
        const std::size_t asked = std::min(chunk, frames - taken);
        const std::size_t took = output_->write(silence_.data(), asked);
        taken += took;
        if (took < asked) {
            break;
        }
    }
    return taken;
}

}  // namespace orvento
