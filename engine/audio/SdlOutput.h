// The sound device through SDL2 audio in callback mode. The queue's thread
// writes into a bounded ring; SDL's audio thread copies from it in its
// callback, which never blocks, allocates or takes a lock, and pads with
// silence when the ring runs dry (an underrun).
#pragma once

#include <SDL2/SDL_audio.h>

#include <atomic>
#include <vector>

#include "engine/audio/AudioOutput.h"

namespace orvento {

class SdlOutput final : public AudioOutput {
  public:
    explicit SdlOutput(std::string deviceName) : deviceName_(std::move(deviceName)) {}
    ~SdlOutput() override { close(); }

    bool open(const PcmFormat& requested, std::string& error) override;
    void close() override;
    PcmFormat format() const override { return format_; }
    bool adopt(const PcmFormat& /*format*/) override { return false; }
    void resume() override;
    void pause() override;
    std::size_t write(const float* samples, std::size_t frames) override;
    Duration untilWritable() const override;
    Duration untilDrained() override;
    void discard() override;
    void silenceNow() override { silenced_.store(true); }
    std::uint64_t framesPlayed() const override { return played_.load(); }

  private:
    static void callback(void* self, Uint8* stream, int length);
    void fill(float* out, std::size_t frames);
    Duration framesToDuration(double frames) const;

    const std::string deviceName_;
    // Set by open(), constant until close().
    SDL_AudioDeviceID device_ = 0;
    bool subsystemStarted_ = false;
    PcmFormat format_;
    std::size_t periodFrames_ = 0;
    std::vector<float> ring_;
    std::size_t ringFrames_ = 0;

    // The ring's positions in frames since open(), only ever growing:
    // writePos_ is advanced by the queue's thread, readPos_ by the callback
    // (and by discard() while the callback is paused).
    std::atomic<std::uint64_t> writePos_{0};
    std::atomic<std::uint64_t> readPos_{0};
    std::atomic<std::uint64_t> played_{0};     // frames of audio the callback has handed over
    std::atomic<std::uint64_t> callbacks_{0};  // callback runs so far
    std::atomic<bool> silenced_{false};

    // Queue thread only: the callback count when the ring was first seen
    // empty during a drain; 0 while not draining.
    std::uint64_t drainMark_ = 0;
    std::chrono::steady_clock::time_point drainGiveUp_{};
};

}  // namespace orvento
