// The sound device through a PulseAudio server (or PipeWire's PulseAudio
// service), in the PulseAudio output module. Chosen over SDL's audio for the
// desktop's sound server because it wakes about ten times a second where
// SDL's PulseAudio driver wakes hundreds of times (it takes every server
// message on its audio thread), and because a stop can take back what the
// server holds (a flush), so a deep server buffer still stops at once.
//
// The server keeps about kTargetSeconds of audio; it asks for more each time
// kRequestSeconds has played, and the queue's thread writes straight into the
// stream then (no ring of our own, no callback of ours on a real-time
// thread). Playback begins once kPrebufferSeconds is there.
//
// Threads: as AudioOutput. libpulse's own thread (a threaded main loop) runs
// the state and drain notifications; every stream call is made under that
// loop's lock, which silenceNow() also takes, from any thread.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "engine/audio/AudioOutput.h"

namespace orvento {

class PulseOutput final : public AudioOutput {
  public:
    static constexpr double kTargetSeconds = 0.3;
    static constexpr double kRequestSeconds = 0.12;
    static constexpr double kPrebufferSeconds = 0.02;

    // `sinkName`: the server's name of the sink; empty: its default sink.
    explicit PulseOutput(std::string sinkName) : sinkName_(std::move(sinkName)) {}
    ~PulseOutput() override { close(); }
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    // Fails, with the server's words, when no server answers.
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
    void silenceNow() override;
    std::uint64_t framesPlayed() const override;
    std::string takeFailure() override;

  private:
    class Lock;  // the main loop's lock, held for a scope
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onDrained(pa_stream* stream, int success, void* self);
    // Called with the loop's lock held.
    void noteFailure(const char* what);
    bool usable() const;
    void cork(bool corked);
    void flush();
    std::size_t bytes(double seconds) const;
    Duration framesToDuration(double frames) const;

    const std::string sinkName_;
    // Set by open(), constant until close().
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    PcmFormat format_;
    std::size_t frameBytes_ = 0;

    // Guarded by the loop's lock.
    std::uint64_t written_ = 0;  // frames handed to the server
    std::uint64_t dropped_ = 0;  // frames of those flushed away
    bool silenced_ = false;
    bool draining_ = false;
    std::chrono::steady_clock::time_point drainGiveUp_{};
    std::string failure_;
    bool failed_ = false;
    std::atomic<bool> drained_{false};  // set by the drain notification
};

}  // namespace orvento
