// Writes the audio to a 32-bit float WAV file, as fast as it comes. The
// header is written when the file is opened and completed when it is closed;
// the file takes the format of the first audio written.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>

#include "engine/platform/queue/AudioOutput.h"

namespace orvento {

class WavFileOutput final : public AudioOutput {
  public:
    explicit WavFileOutput(std::string path) : path_(std::move(path)) {}

    bool open(const PcmFormat& requested, std::string& error) override;
    void close() override;
    PcmFormat format() const override { return format_; }
    bool adopt(const PcmFormat& format) override;
    void resume() override {}
    void pause() override {}
    std::size_t write(const float* samples, std::size_t frames) override;
    Duration untilWritable() const override { return Duration::zero(); }
    Duration untilDrained() override { return Duration::zero(); }
    void discard() override {}
    void silenceNow() override {}
    UInt64 framesPlayed() const override { return framesWritten_.load(); }
    std::string takeFailure() override;

    // The header of a float WAV file holding `frames` frames.
    static void header(const PcmFormat& format, UInt64 frames, unsigned char (&out)[58]);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    bool writeHeader();
    void fail(const char* what);

    const std::string path_;
    // Owned by the queue's thread between open() and close().
    std::unique_ptr<std::FILE, FileCloser> file_;
    PcmFormat format_;
    bool failed_ = false;
    std::string failure_;
    std::atomic<UInt64> framesWritten_{0};
};

}  // namespace orvento
