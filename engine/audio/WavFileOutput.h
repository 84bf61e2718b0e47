// Writes the audio to a 32-bit float WAV file, as fast as it comes; the file
// takes the format of the first audio written.
//
// The file stays readable while it grows. On a file that can seek, the
// header's sizes are brought up to date about once a second (after the data
// they count has been written and synced to the disk), after a failure and at
// close: a recording cut short by a kill, a hang-up or a power cut holds all
// but its last second. A FIFO or pipe gets, with the first audio, a header
// whose sizes say "until the end", as live encoders write it.
//
// Nothing waits. The file is opened and written without blocking, so a FIFO
// nobody reads yet, or a reader that falls behind, only makes the output not
// writable for a while (untilWritable), which the queue waits out and which a
// stop cuts short.
//
// A write that fails (a full disk, the file-size limit, a reader that went
// away) ends the output for good: takeFailure() says why, later audio is
// dropped, and the header counts the frames that reached the file.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <vector>

#include "engine/audio/AudioOutput.h"

namespace orvento {

class WavFileOutput final : public AudioOutput {
  public:
    explicit WavFileOutput(std::string path) : path_(std::move(path)) {}
    ~WavFileOutput() override;
    WavFileOutput(const WavFileOutput&) = delete;
    WavFileOutput& operator=(const WavFileOutput&) = delete;

    bool open(const PcmFormat& requested, std::string& error) override;
    void close() override;
    PcmFormat format() const override { return format_; }
    bool adopt(const PcmFormat& format) override;
    void resume() override {}
    void pause() override {}
    std::size_t write(const float* samples, std::size_t frames) override;
    Duration untilWritable() const override;
    Duration untilDrained() override;
    void discard() override {}
    void silenceNow() override {}
    std::uint64_t framesPlayed() const override { return framesTaken_.load(); }
    std::string takeFailure() override;

    static constexpr std::size_t kHeaderBytes = 58;  // RIFF, fmt (18 bytes), fact, data
    // The header of a float WAV file holding `frames` frames; without a
    // count, sizes that mean "until the end".
    static void header(const PcmFormat& format, std::optional<std::uint64_t> frames,
                       unsigned char (&out)[kHeaderBytes]);

  private:
    bool openFile(std::string& error);
    bool ready();
    bool flushPending();
    void writeHeader();
    void fail(const char* what, int error);
    void failWith(std::string text);
    std::size_t frameBytes() const;

    const std::string path_;
    // Owned by the queue's thread between open() and close() (open() and
    // close() run while that thread does not use the output).
    int fd_ = -1;
    bool waitingForReader_ = false;  // a FIFO without a reader: opened by a later write()
    bool seekable_ = false;          // the header can be rewritten in place
    bool regularFile_ = false;       // worth syncing before the header counts the data
    bool headerWritten_ = false;
    bool failed_ = false;
    std::string failure_;
    PcmFormat format_;
    std::vector<unsigned char> pending_;  // bytes taken and not yet written
    // Bytes of pending_ that reached the file: the audio bytes of a file that
    // can seek (its header is written apart).
    std::uint64_t bytesWritten_ = 0;
    std::chrono::steady_clock::time_point nextHeaderUpdate_{};
    std::atomic<std::uint64_t> framesTaken_{0};
};

}  // namespace orvento
