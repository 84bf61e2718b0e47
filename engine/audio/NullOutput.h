// Discards audio, either as fast as it comes or at the pace a device would
// play it.
#pragma once

#include <mutex>

#include "engine/audio/AudioOutput.h"

namespace orvento {

class NullOutput final : public AudioOutput {
  public:
    explicit NullOutput(bool realTime) : realTime_(realTime) {}

    bool open(const PcmFormat& requested, std::string& error) override;
    void close() override {}
    PcmFormat format() const override;
    bool adopt(const PcmFormat& format) override;
    void resume() override;
    void pause() override;
    std::size_t write(const float* samples, std::size_t frames) override;
    Duration untilWritable() const override;
    Duration untilDrained() override;
    void discard() override;
    void silenceNow() override;
    std::uint64_t framesPlayed() const override;
    // Real time only: a write that finds everything written since the last
    // resume or discard already played counts one underrun.
    std::uint64_t underruns() const override;

  private:
    using Clock = std::chrono::steady_clock;
    // Frames written and not yet "played" at `now`.
    double pending(Clock::time_point now) const;
    Duration framesToDuration(double frames) const;

    const bool realTime_;
    mutable std::mutex mutex_;  // guards everything below: framesPlayed() reads from any thread
    PcmFormat format_;
    bool wroteAny_ = false;
    bool paused_ = true;
    bool silenced_ = false;  // between silenceNow() and discard(): writes are dropped
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    bool playing_ = false;  // audio written since the last resume() or discard()
    std::uint64_t underruns_ = 0;
    // Real time: when everything written will have played (while running), or
    // the frames still to play (while paused).
    Clock::time_point playedBy_{};
    double pausedPending_ = 0;
};

}  // namespace orvento
