// Catching up on a backlog without losing a word: what a queue's decoded
// audio passes through on its way to the output when the playing has fallen
// behind live.
//
// While the caller says the playing is behind its target (excess > 0), the
// stage sheds audio, in this order of preference:
//   1. Quiet between transmissions goes: 10 ms blocks are dropped where no
//      transmission lies within kQuietKeptSeconds (and the detector's slack)
//      on either side, so every transmission keeps that much quiet around it
//      and none of its audio is dropped.
//   2. Where speech runs on (a transmission past its first
//      kSpeechRunsOnSeconds) with no droppable quiet in sight, it is played
//      faster with its pitch kept (libsonic, made for speech), at most
//      kMaxSpeed. A short transmission plays at its own speed and the quiet
//      after it goes instead.
// It sheds no more than the excess it is told. With no excess everything
// passes unchanged and at once (no delay); while shedding, the stage holds
// kLookaheadSeconds of audio so that it knows whether a transmission is about
// to start before it drops what precedes it.
//
// Transmissions are those of a TransmissionDetector fed with the same audio:
// the one judgement of what is speech.
//
// One thread (the queue's); nothing here is shared. Allocates only while its
// buffers grow to their working size.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/audio/PcmStage.h"
#include "engine/player/LagTarget.h"
#include "engine/transmissions/TransmissionDetector.h"

struct sonicStreamStruct;

namespace orvento {

inline constexpr double kQuietKeptSeconds = 0.3;
// The detector places a transmission's ends to within this of its first and
// last syllables; the quiet kept counts from the syllables.
inline constexpr double kDetectorSlackSeconds = 0.25;
inline constexpr double kMaxSpeed = 1.25;
inline constexpr double kSpeechRunsOnSeconds = 3;
// What must be known ahead of a block before it is dropped: the quiet kept
// before a transmission, and the 0.3 s a transmission takes to be reported.
inline constexpr double kLookaheadSeconds = 0.9;

class CatchUp {
  public:
    struct Stats {
        std::uint64_t framesIn = 0;
        std::uint64_t framesOut = 0;
        std::uint64_t framesDropped = 0;  // quiet between transmissions
        std::uint64_t framesSped = 0;     // taken in while playing faster
        double fastestSpeed = 1;
    };

    // What was not played as it came: `start` to `end` in seconds of the
    // audio taken in, dropped or played faster.
    enum class Shed { Dropped, Faster };
    using ShedHandler = std::function<void(double start, double end, Shed how)>;

    CatchUp(int sampleRate, int channels, ShedHandler onShed = {});
    ~CatchUp();
    CatchUp(const CatchUp&) = delete;
    CatchUp& operator=(const CatchUp&) = delete;

    // Takes interleaved frames and appends to `out` what is to be played now.
    // `excessSeconds`: how far the playing is behind its target (0 or less:
    // not behind; everything held then comes out at normal speed).
    void process(std::span<const float> in, std::vector<float>& out, double excessSeconds);
    // The end of the audio: everything held comes out.
    void flush(std::vector<float>& out);

    // Seconds of audio held (taken in and not yet given out).
    double heldSeconds() const;
    const Stats& stats() const { return stats_; }

  private:
    struct Span {
        double start;
        double end;  // the time fed so far while the transmission goes on
    };

    void onEvent(const TransmissionDetector::Event& event);
    std::size_t heldFrames() const;
    // Whether the block starting at `start` seconds may be dropped: no
    // transmission within kQuietKeptSeconds of it.
    bool droppable(double start) const;
    // Whether a droppable block lies in what is known ahead of `start`.
    bool quietAhead(double start) const;
    // Whether `start` lies in a transmission that began kSpeechRunsOnSeconds
    // or more before it.
    bool speechRunsOn(double start) const;
    void dropBlock();
    // Gives out the first `frames` held frames at `speed`; the frames shed
    // by playing faster.
    std::uint64_t release(std::size_t frames, std::vector<float>& out, double speed);
    void readSonic(std::vector<float>& out);

    const int sampleRate_;
    const int channels_;
    const std::size_t blockFrames_;
    const ShedHandler onShed_;
    TransmissionDetector detector_;
    std::vector<Span> spans_;      // transmissions known, oldest first
    bool inTransmission_ = false;  // spans_.back() goes on
    std::vector<float> held_;      // audio taken in, from heldBegin_ not yet given out
    std::size_t heldBegin_ = 0;    // in samples
    double heldStart_ = 0;         // the time of the first frame not yet given out
    std::unique_ptr<sonicStreamStruct, void (*)(sonicStreamStruct*)> sonic_;
    bool sonicHolds_ = false;  // sonic may hold audio not yet read
    std::vector<float> scratch_;
    Stats stats_;
};

// Catching up inside an output queue (OutputQueue::setStage): the excess is
// the queue's backlog, and what waits upstream of the queue as its owner
// tells (a server's burst waits mostly in the network), beyond the target
// lag. The target is fixed, or follows
// the network (LagTarget): an underrun is seen as a call that comes later
// than the backlog left at the previous one could cover. A change of format
// starts a new CatchUp after the old one has given out what it held.
//
// The queue's thread calls it; behindLiveSeconds() and the target may be read
// from any thread.
class CatchUpStage final : public PcmStage {
  public:
    using Clock = std::chrono::steady_clock;

    // A fixed target, or (none) one that follows the network.
    explicit CatchUpStage(std::optional<double> fixedTargetSeconds,
                          CatchUp::ShedHandler onShed = {},
                          std::function<Clock::time_point()> clock = Clock::now);

    double targetSeconds() const { return target_.load(); }
    // Starts from what `earlier` has learned of the network: a station's next
    // connection runs on the same network. Before the first process().
    void carryTargetFrom(const CatchUpStage& earlier);
    // The backlog at the last call and what waits upstream: how far behind
    // its newest audio the stream plays; none before the first call.
    std::optional<double> behindLiveSeconds() const;
    // Any thread: seconds of audio received and not handed to the queue yet.
    void setUpstreamSeconds(double seconds) { upstream_.store(seconds); }

    void process(const PcmFormat& format, std::span<const float> in, std::vector<float>& out,
                 double backlogSeconds) override;
    void flush(std::vector<float>& out) override;
    void reset() override;
    double heldSeconds() const override { return catchUp_ ? catchUp_->heldSeconds() : 0; }
    // Any thread: seconds of audio taken in, dropped, and played faster (as
    // taken in), over every stream the stage has served.
    double seenSeconds() const { return seen_.load(); }
    double droppedSeconds() const { return dropped_.load(); }
    double fasterSeconds() const { return faster_.load(); }
    // The fastest speed played so far (1: never faster).
    double fastestSpeed() const { return fastest_.load(); }

  private:
    const bool follows_;
    const CatchUp::ShedHandler onShed_;
    const std::function<Clock::time_point()> clock_;
    mutable std::mutex lagMutex_;  // lag_: the queue's thread, and a later stage
    LagTarget lag_;
    std::atomic<double> target_;
    std::atomic<double> behind_{-1};  // -1: not known yet
    std::atomic<double> upstream_{0};
    std::atomic<double> seen_{0};
    std::atomic<double> dropped_{0};
    std::atomic<double> faster_{0};
    std::atomic<double> fastest_{1};
    std::optional<Clock::time_point> lastCall_;
    double lastBacklog_ = 0;  // left to play after the last call
    PcmFormat format_;
    std::unique_ptr<CatchUp> catchUp_;
};

}  // namespace orvento
