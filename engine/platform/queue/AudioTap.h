// An output that shows a function everything written to the output behind
// it: the audio the output took, in its format, as the queue writes it. The
// function runs on the thread that calls write() (the queue's own).
#pragma once

#include <functional>
#include <memory>

#include "engine/platform/queue/AudioOutput.h"

namespace orvento {

class AudioTap final : public AudioOutput {
  public:
    using Listener =
        std::function<void(const float* samples, std::size_t frames, int sampleRate, int channels)>;

    AudioTap(std::unique_ptr<AudioOutput> output, Listener listener)
        : output_(std::move(output)), listener_(std::move(listener)) {}

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
    UInt64 framesPlayed() const override { return output_->framesPlayed(); }
    UInt64 underruns() const override { return output_->underruns(); }
    std::string takeFailure() override { return output_->takeFailure(); }

  private:
    const std::unique_ptr<AudioOutput> output_;
    const Listener listener_;
};

}  // namespace orvento
