// A sound server of the benchmark's own, for measuring what players send to
// the sound device: a PulseAudio daemon with one null sink, in a private
// runtime folder (nothing of the desktop's is touched), and recordings of
// that sink's monitor with parec.
//
// Threads: SoundServer is used by the thread that made it. A Recording reads
// parec's output on a thread of its own; its members may be called from any
// thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/common/ChildProcess.h"

namespace orvento::bench {

inline constexpr int kSinkRate = 48000;  // stereo, like most sound devices
inline constexpr const char* kSink = "orvento_bench";

// The PulseAudio daemon with its null sink, the default sink, for as long as
// the object lives.
class SoundServer {
  public:
    // Starts the daemon with its socket and runtime folders in `dir`, and
    // waits up to 15 s for it to answer.
    explicit SoundServer(const std::filesystem::path& dir);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // False when the daemon did not answer (its log is dir/pulseaudio.log).
    bool ready() const { return ready_; }
    // The clients' environment: the server, and private runtime folders;
    // `more` beside it.
    Env env(Env more = {}) const;

  private:
    std::string socket_;
    Env env_;
    std::unique_ptr<Child> daemon_;
    bool ready_ = false;
};

// What reaches the sink while the object lives: parec on its monitor, stereo
// floats at kSinkRate, with the moment each piece arrived.
class Recording {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts parec and waits (up to 5 s) until the monitor's audio flows;
    // parec's messages go to `log`.
    Recording(const SoundServer& server, const std::filesystem::path& log);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // The frame that had reached the recording at `when`.
    std::size_t frameAt(Clock::time_point when) const;
    // When `frame` reached the sink's monitor: the sink plays in real time,
    // so frame n comes n / kSinkRate seconds after frame 0; frame 0's moment
    // is taken from the piece that came with the least delay. Within a few
    // milliseconds.
    Clock::time_point arrivalOf(std::size_t frame) const;
    // Interleaved left and right samples so far.
    std::vector<float> samples() const;

  private:
    void read();

    Child parec_;
    mutable std::mutex mutex_;  // guards samples_ and marks_, written by reader_
    std::vector<float> samples_;
    std::vector<std::pair<Clock::time_point, std::size_t>> marks_;  // when, frames by then
    std::thread reader_;
};

// Level in dB of `frequency` in one channel (0 left, 1 right) over
// [from, from + count) frames of interleaved stereo at kSinkRate (Goertzel;
// a full-scale sine reads about 0 dB).
double toneDb(const std::vector<float>& stereo, int channel, std::size_t from, std::size_t count,
              double frequency);

}  // namespace orvento::bench
