// Finds the transmissions in air-traffic radio audio: speech from its first to
// its last syllable, in a stream that is mostly a receiver's hiss (or a
// closed squelch) between them.
//
// How it decides, every 10 ms:
//   - Levels. The audio is split into a voice band (300 Hz to 1 kHz, where
//     voiced speech is loudest) and a high band (1.5 to 3.4 kHz). Each band's
//     noise floor is the lowest level of the last few seconds, so it follows
//     hiss, hum and level drift.
//   - Voicing. Voiced speech repeats itself at the pitch of the voice; hiss,
//     a squelch tail, static and clicks do not. A frame is voiced when the
//     voice band stands well above its floor and correlates with itself at a
//     voice's period (70 to 400 Hz) over the last 40 ms.
//   - A transmission starts with a run of voiced frames (its start reaches
//     back over the quieter onset just before) and counts once it spans
//     0.3 s: anything shorter is noise.
//   - Inside it, loosely voiced frames and short stretches of unvoiced sound
//     ("s", "t": the high band risen more than the voice band, or the voice
//     band risen more than the high band without a pitch) carry it on. It
//     ends at its last such frame once 0.6 s have passed without another
//     (pauses inside a transmission are shorter; two transmissions are a
//     second apart), so a squelch tail right after the speech is not part of
//     it.
//   - Its peak is the loudest sample between its start and end.
//
// Threads: one thread feeds the detector; feed() and finish() call the event
// handler on that thread. levelDbfs() and keyed() may be read from any
// thread, for a level meter and a "keyed" light. keyed() is the one judgement
// of whether a station transmits: the transmissions list's, and the mixer's
// for its feeds' lights and priority ducking (a detector per feed, fed on the
// mixing thread: feed() and finish() do not lock, allocate or wait).
//
// Time: seconds of audio fed since construction, whatever the sample rate (a
// format change mid-stream starts new filters; the time runs on). A live
// player maps them to the wall clock by noting when it fed the first sample.
//
// Cost: six second-order filters per sample; the self-correlation only for
// frames louder than the floor; nothing allocates after construction.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvento {

struct Transmission {
    double startSeconds = 0;     // the first syllable
    double durationSeconds = 0;  // to the last syllable
    double peakDbfs = -120;      // the loudest sample in between (0 = full scale)
};

class TransmissionDetector {
  public:
    struct Event {
        enum class Kind {
            // A transmission has lasted 0.3 s: `transmission` has its start,
            // its length so far and its peak so far.
            Started,
            // It has ended (0.6 s after its last syllable, or at finish()):
            // `transmission` is final.
            Ended,
        };
        Kind kind;
        Transmission transmission;
    };
    using EventHandler = std::function<void(const Event&)>;

    // The level below which levelDbfs() and peaks read as silence.
    static constexpr double kSilenceDbfs = -120;

    explicit TransmissionDetector(EventHandler onEvent);
    TransmissionDetector(const TransmissionDetector&) = delete;
    TransmissionDetector& operator=(const TransmissionDetector&) = delete;

    // `frames` interleaved frames of `channels` channels (mixed to one) at
    // `sampleRate` (meant for 8 to 48 kHz), in blocks of any size. Calls the
    // handler for what the audio completed. A null or empty block, or a rate
    // or channel count under 1, does nothing; samples that are not finite
    // count as silence.
    void feed(const float* samples, std::size_t frames, int sampleRate, int channels);
    // The end of the audio (or a gap in it): a transmission in progress ends
    // at its last syllable and is reported. Feeding may go on afterwards.
    void finish();

    // Seconds of audio fed so far.
    double seconds() const;

    // Any thread: the level of the last 10 ms in dBFS, falling back by at most
    // 20 dB a second as a meter's needle does; and whether a transmission is
    // under way (from 0.3 s into it until it has ended).
    double levelDbfs() const { return level_.load(std::memory_order_relaxed); }
    bool keyed() const { return keyed_.load(std::memory_order_relaxed); }

  private:
    // A second-order section (transposed direct form II).
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double process(double x) {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    // The lowest level (dB) of the last few blocks of frames.
    struct FloorTracker {
        static constexpr int kBlocks = 8;
        std::array<float, kBlocks> blockMinimum{};
        int blocksFilled = 0;
        int next = 0;
        float current = 0;  // the minimum of the block being gathered
        int framesInBlock = 0;
        // Takes a frame's level and returns the floor.
        float update(float levelDb, int framesPerBlock);
    };
    // How a frame sounded.
    struct FrameClass {
        bool voiced = false;    // loud and pitched: starts a transmission
        bool loosely = false;   // voiced by the looser test
        bool unvoiced = false;  // speech-shaped without a pitch
    };
    // What the decision remembers of a recent frame.
    struct FrameRecord {
        double start = 0;
        float peak = 0;          // loudest sample, linear
        bool onsetLike = false;  // loosely voiced or unvoiced
    };
    enum class State { Idle, Candidate, Keyed };

    void setFormat(int sampleRate, int channels);
    void endFrame();
    double periodicity() const;
    void decide(double start, double end, float peak, FrameClass frame);
    void startCandidate(double end);
    void report(Event::Kind kind);

    const EventHandler onEvent_;

    // Owned by the feeding thread.
    int sampleRate_ = 0;
    int channels_ = 0;
    int frameLength_ = 0;                // samples per frame at sampleRate_
    double segmentStart_ = 0;            // seconds fed before the current format
    std::uint64_t framesInSegment_ = 0;  // whole frames done in the current format
    // Filters: a shared 4th-order high-pass at 300 Hz, then the voice band's
    // low-pass and the high band's 4th-order high-pass and low-pass.
    std::array<Biquad, 2> speechHighPass_{};
    Biquad voiceLowPass_;
    std::array<Biquad, 2> upperHighPass_{};
    Biquad upperLowPass_;
    // The voice band averaged down to about 4 kHz, in a ring, for the
    // periodicity; the lags and window in its samples.
    static constexpr std::size_t kPitchRing = 512;
    std::array<float, kPitchRing> pitchRing_{};
    std::uint64_t pitchWritten_ = 0;
    int decimation_ = 1;
    int pitchCount_ = 0;
    double pitchSum_ = 0;
    int minLag_ = 1;
    int maxLag_ = 1;
    int pitchWindow_ = 1;
    // The frame being gathered.
    int filled_ = 0;
    double voiceSum_ = 0;
    double upperSum_ = 0;
    double rawSum_ = 0;
    float peak_ = 0;
    // Frame levels: the previous frame's energies (decisions look at 20 ms),
    // the smoothed energies the floors follow, and the floors.
    double lastVoice_ = 0;
    double lastUpper_ = 0;
    double smoothVoice_ = -1;  // < 0: no frame yet
    double smoothUpper_ = 0;
    FloorTracker voiceFloor_;
    FloorTracker upperFloor_;
    // Recent frames, for the start's reach back.
    static constexpr std::uint64_t kHistory = 32;
    std::array<FrameRecord, kHistory> history_{};
    std::uint64_t framesSeen_ = 0;
    // Frames of a kind in a row, up to the current one.
    int voicedRun_ = 0;
    int looselyRun_ = 0;
    int unvoicedRun_ = 0;  // unvoiced and not loosely voiced
    int onsetRun_ = 0;
    bool lastWasSpeech_ = false;
    // The transmission being followed.
    State state_ = State::Idle;
    double start_ = 0;
    double lastSpeech_ = 0;  // end of its last speech frame
    float loudest_ = 0;      // its peak up to lastSpeech_
    float pendingPeak_ = 0;  // loudest sample after lastSpeech_

    // Read from any thread.
    std::atomic<double> level_{kSilenceDbfs};
    std::atomic<bool> keyed_{false};
};

}  // namespace orvento
