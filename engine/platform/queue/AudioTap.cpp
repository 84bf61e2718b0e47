#include "engine/platform/queue/AudioTap.h"

namespace orvento {

std::size_t AudioTap::write(const float* samples, std::size_t frames) {
    const std::size_t taken = output_->write(samples, frames);
    if (taken > 0) {
        const PcmFormat format = output_->format();
        listener_(samples, taken, format.sampleRate, format.channels);
    }
    return taken;
}

}  // namespace orvento
