// Whether a feed transmits now: the keyed signal that drives priority
// ducking and the monitor's keyed light. A small interface, so that a
// transmission detector can take the place of the level key below.
//
// Threads: update() runs on the mixer's thread, block by block, and must not
// lock, allocate or wait. A key belongs to one feed.
#pragma once

#include <cstddef>

namespace orvento {

class TransmissionKey {
  public:
    virtual ~TransmissionKey() = default;
    // The feed's next block of the mix, `seconds` long, as it enters the mix
    // (interleaved, `channels` samples a frame, before gain and pan); fewer
    // frames than the block holds, or none, while the feed has nothing to
    // play. Returns whether the feed transmits at the end of the block.
    virtual bool update(const float* samples, std::size_t frames, int channels, double seconds) = 0;
};

// The feed's own short-term level against a threshold: keyed while a block's
// RMS level is above kThresholdDb, and for kHoldSeconds after, so that the
// pauses inside a transmission do not drop it.
class LevelKey final : public TransmissionKey {
  public:
    static constexpr double kThresholdDb = -40;
    static constexpr double kHoldSeconds = 0.3;

    bool update(const float* samples, std::size_t frames, int channels, double seconds) override;

  private:
    double sinceLoud_ = kHoldSeconds;  // seconds since the last loud block
};

}  // namespace orvento
