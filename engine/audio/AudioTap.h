// An output that shows a function everything written to the output behind
// it: the audio the output took, in its format, as the queue writes it. The
// function runs on the thread that calls write() (the queue's own). While its
// mute flag holds true, the output behind it is given silence instead, frame
// for frame.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "engine/audio/AudioOutput.h"

namespace orvento {

class AudioTap final : public AudioOutput {
  public:
    using Listener =
        std::function<void(const float* samples, std::size_t frames, int sampleRate, int channels)>;

    AudioTap(std::unique_ptr<AudioOutput> output, Listener listener,
             std::shared_ptr<const std::atomic<bool>> muted = {})
        : output_(std::move(output)), listener_(std::move(listener)), muted_(std::move(muted)) {}

    bool open(const PcmFormat& requested, std::string& error) override {
        return output_->open(requested, error);
    }
    void close() override { output_->close(); }
    PcmFormat format() const override { return output_->format(); }
    bool adopt(const PcmFormat& format) override { return output_->adopt(format); }
    void resume() override { output_->resume(); }
    void pause() override { output_->pause(); }
    std::size_t write(const float* samples, std::size_t frames) override;
    Duration untilWritable() const override { return output_->untilWritable(); }
    Duration untilDrained() override { return output_->untilDrained(); }
    void discard() override { output_->discard(); }
    void silenceNow() override { output_->silenceNow(); }
    std::uint64_t framesPlayed() const override { return output_->framesPlayed(); }
    std::uint64_t underruns() const override { return output_->underruns(); }
    std::string takeFailure() override { return output_->takeFailure(); }

  private:
    std::size_t writeSilence(std::size_t frames);

    const std::unique_ptr<AudioOutput> output_;
    const Listener listener_;
    const std::shared_ptr<const std::atomic<bool>> muted_;
    std::array<float, 4096> silence_{};
};

}  // namespace orvento
