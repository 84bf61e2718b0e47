#include "engine/transmissions/TransmissionDetector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/base/FlushDenormals.h"

namespace orvento {
namespace {

constexpr double kFrameSeconds = 0.010;
// A transmission lasts at least this long; it ends after this long without
// speech; its start reaches back at most this many frames over a quiet onset.
constexpr double kMinSeconds = 0.3;
constexpr double kHangSeconds = 0.6;
constexpr int kReachBackFrames = 25;
// Voiced frames in a row that start a transmission (a click makes at most two).
constexpr int kRunFrames = 3;
// Unvoiced frames in a row that carry a transmission on: a fricative is
// shorter, a squelch tail often longer.
constexpr int kUnvoicedFrames = 20;
// The floors: the lowest smoothed level of the last 8 blocks of 0.5 s.
constexpr int kFloorBlockFrames = 50;
const double kFloorSmoothing = 1 - std::exp(-kFrameSeconds / 0.04);
// Voiced: the voice band this far above its floor, and this periodic (the
// normalised self-correlation at the best lag). Loosely voiced: the same,
// looser.
constexpr double kVoicedSnrDb = 10;
constexpr double kVoicedPeriodicity = 0.6;
constexpr double kLooselySnrDb = 5;
constexpr double kLooselyPeriodicity = 0.45;
// Unvoiced: the high band this far above its floor and this much more risen
// than the voice band (a fricative), or the voice band loosely above its
// floor and this much more risen than the high band. Hiss, a squelch tail
// and static rise in both bands alike.
constexpr double kFricativeSnrDb = 8;
constexpr double kFricativeContrastDb = -4;
constexpr double kVoiceContrastDb = 3;
// The band edges.
constexpr double kSpeechLowHz = 300;
constexpr double kVoiceHighHz = 1000;
constexpr double kUpperLowHz = 1500;
constexpr double kUpperHighHz = 3400;
// The periodicity: the voice band averaged down to about this rate,
// correlated over this window at the periods of a voice.
constexpr double kPitchRateHz = 4000;
constexpr double kPitchWindowSeconds = 0.04;
constexpr double kPitchLowHz = 70;
constexpr double kPitchHighHz = 400;
constexpr double kMeterFallDbPerSecond = 20;
// Butterworth: the Q of a second-order filter and of the two sections of a
// fourth-order one.
constexpr double kQ2 = std::numbers::sqrt2 / 2;
constexpr std::array<double, 2> kQ4 = {0.5411961, 1.3065630};

double powerDb(double power) {
    return power > 1e-12 ? 10 * std::log10(power) : TransmissionDetector::kSilenceDbfs;
}

double amplitudeDb(double amplitude) {
    return std::max(TransmissionDetector::kSilenceDbfs, 20 * std::log10(amplitude + 1e-12));
}

enum class Pass { Low, High };

// A second-order Butterworth section (the audio cookbook's formulas), its
// corner kept under the Nyquist frequency.
template <typename Biquad>
Biquad section(Pass pass, double hz, double q, int sampleRate) {
    const double w = 2 * std::numbers::pi * std::min(hz, 0.45 * sampleRate) / sampleRate;
    const double alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0 = (pass == Pass::Low ? 1 - c : 1 + c) / 2 / a0;
    f.b1 = (pass == Pass::Low ? 1 - c : -(1 + c)) / a0;
    f.b2 = f.b0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
    return f;
}

}  // namespace

float TransmissionDetector::FloorTracker::update(float levelDb, int framesPerBlock) {
    current = framesInBlock == 0 ? levelDb : std::min(current, levelDb);
    float floor = current;
    for (int i = 0; i < blocksFilled; ++i) {
        floor = std::min(floor, blockMinimum[static_cast<std::size_t>(i)]);
    }
    if (++framesInBlock == framesPerBlock) {
        blockMinimum[static_cast<std::size_t>(next)] = current;
        next = (next + 1) % kBlocks;
        blocksFilled = std::min(blocksFilled + 1, kBlocks);
        framesInBlock = 0;
    }
    return floor;
}

TransmissionDetector::TransmissionDetector(EventHandler onEvent) : onEvent_(std::move(onEvent)) {}

double TransmissionDetector::seconds() const {
    if (sampleRate_ == 0) {
        return segmentStart_;
    }
    return segmentStart_ +
           static_cast<double>(framesInSegment_ * static_cast<std::uint64_t>(frameLength_) +
                               static_cast<std::uint64_t>(filled_)) /
               sampleRate_;
}

void TransmissionDetector::setFormat(int sampleRate, int channels) {
    // The partly gathered frame is dropped; its time is not.
    segmentStart_ = seconds();
    framesInSegment_ = 0;
    filled_ = 0;
    voiceSum_ = upperSum_ = rawSum_ = 0;
    peak_ = 0;
    sampleRate_ = sampleRate;
    channels_ = channels;
    frameLength_ = std::max(1, static_cast<int>(std::lround(sampleRate * kFrameSeconds)));
    for (std::size_t i = 0; i < kQ4.size(); ++i) {
        speechHighPass_[i] = section<Biquad>(Pass::High, kSpeechLowHz, kQ4[i], sampleRate);
        upperHighPass_[i] = section<Biquad>(Pass::High, kUpperLowHz, kQ4[i], sampleRate);
    }
    voiceLowPass_ = section<Biquad>(Pass::Low, kVoiceHighHz, kQ2, sampleRate);
    upperLowPass_ = section<Biquad>(Pass::Low, kUpperHighHz, kQ2, sampleRate);
    decimation_ = std::max(1, static_cast<int>(std::lround(sampleRate / kPitchRateHz)));
    const double pitchRate = static_cast<double>(sampleRate) / decimation_;
    minLag_ = std::max(1, static_cast<int>(std::lround(pitchRate / kPitchHighHz)));
    maxLag_ = std::max(minLag_, static_cast<int>(std::lround(pitchRate / kPitchLowHz)));
    pitchWindow_ = std::max(1, static_cast<int>(std::lround(pitchRate * kPitchWindowSeconds)));
    pitchWritten_ = 0;
    pitchCount_ = 0;
    pitchSum_ = 0;
}

void TransmissionDetector::feed(const float* samples, std::size_t frames, int sampleRate,
                                int channels) {
    if (samples == nullptr || frames == 0 || sampleRate < 1 || channels < 1) {
        return;
    }
    if (sampleRate != sampleRate_ || channels != channels_) {
        setFormat(sampleRate, channels);
    }
    // The filters ring down into denormals in every silence.
    const FlushDenormals flush;
    const double mix = 1.0 / channels;
    const auto width = static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const float* frame = samples + i * width;
        double mono = 0;
        for (std::size_t c = 0; c < width; ++c) {
            const float s = std::isfinite(frame[c]) ? frame[c] : 0.0F;
            mono += s;
            rawSum_ += static_cast<double>(s) * s;
            peak_ = std::max(peak_, std::fabs(s));
        }
        const double speech = speechHighPass_[1].process(speechHighPass_[0].process(mono * mix));
        const double voice = voiceLowPass_.process(speech);
        const double upper =
            upperLowPass_.process(upperHighPass_[1].process(upperHighPass_[0].process(speech)));
        voiceSum_ += voice * voice;
        upperSum_ += upper * upper;
        pitchSum_ += voice;
        if (++pitchCount_ == decimation_) {
            pitchRing_[pitchWritten_++ % kPitchRing] = static_cast<float>(pitchSum_);
            pitchSum_ = 0;
            pitchCount_ = 0;
        }
        if (++filled_ == frameLength_) {
            endFrame();
        }
    }
}

double TransmissionDetector::periodicity() const {
    const int span = pitchWindow_ + maxLag_;
    if (pitchWritten_ < static_cast<std::uint64_t>(span)) {
        return 0;
    }
    std::array<double, kPitchRing> x;
    const std::uint64_t first = pitchWritten_ - static_cast<std::uint64_t>(span);
    for (int i = 0; i < span; ++i) {
        x[static_cast<std::size_t>(i)] =
            pitchRing_[(first + static_cast<std::uint64_t>(i)) % kPitchRing];
    }
    const auto at = [&x](int i) { return x[static_cast<std::size_t>(i)]; };
    // The window is the last pitchWindow_ samples; `back` is the energy of
    // the window `lag` samples earlier, slid along as the lag shrinks.
    double now = 0;
    for (int i = maxLag_; i < span; ++i) {
        now += at(i) * at(i);
    }
    double back = 0;
    for (int i = 0; i < pitchWindow_; ++i) {
        back += at(i) * at(i);
    }
    double best = 0;
    for (int lag = maxLag_; lag >= minLag_; --lag) {
        if (lag < maxLag_) {
            back += at(span - lag - 1) * at(span - lag - 1) -
                    at(maxLag_ - lag - 1) * at(maxLag_ - lag - 1);
        }
        // Four sums side by side: one alone waits for each addition before
        // the next, and this loop is most of the detector's time in speech.
        std::array<double, 4> sums{};
        int i = maxLag_;
        for (; i + 4 <= span; i += 4) {
            for (int k = 0; k < 4; ++k) {
                sums[static_cast<std::size_t>(k)] += at(i + k) * at(i + k - lag);
            }
        }
        for (; i < span; ++i) {
            sums[0] += at(i) * at(i - lag);
        }
        const double sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        if (now * back > 0) {
            best = std::max(best, sum / std::sqrt(now * back));
        }
    }
    return best;
}

void TransmissionDetector::endFrame() {
    const double length = static_cast<double>(frameLength_) / sampleRate_;
    const double start = segmentStart_ + static_cast<double>(framesInSegment_) * length;
    ++framesInSegment_;
    const double voice = voiceSum_ / frameLength_;
    const double upper = upperSum_ / frameLength_;
    const double raw = rawSum_ / (static_cast<double>(frameLength_) * channels_);
    const float peak = peak_;
    filled_ = 0;
    voiceSum_ = upperSum_ = rawSum_ = 0;
    peak_ = 0;

    const double meter = level_.load(std::memory_order_relaxed) - kMeterFallDbPerSecond * length;
    level_.store(std::max({powerDb(raw), meter, kSilenceDbfs}), std::memory_order_relaxed);

    // The floors follow a smoothed level.
    if (smoothVoice_ < 0) {
        smoothVoice_ = voice;
        smoothUpper_ = upper;
    }
    smoothVoice_ += kFloorSmoothing * (voice - smoothVoice_);
    smoothUpper_ += kFloorSmoothing * (upper - smoothUpper_);
    const double voiceFloor =
        voiceFloor_.update(static_cast<float>(powerDb(smoothVoice_)), kFloorBlockFrames);
    const double upperFloor =
        upperFloor_.update(static_cast<float>(powerDb(smoothUpper_)), kFloorBlockFrames);

    // Decisions look at the last 20 ms.
    const double snr = powerDb((voice + lastVoice_) / 2) - voiceFloor;
    const double upperSnr = powerDb((upper + lastUpper_) / 2) - upperFloor;
    lastVoice_ = voice;
    lastUpper_ = upper;
    const double contrast = snr - upperSnr;
    const double pitch = snr >= kLooselySnrDb ? periodicity() : 0;
    FrameClass frame;
    frame.voiced = snr >= kVoicedSnrDb && pitch >= kVoicedPeriodicity;
    frame.loosely = snr >= kLooselySnrDb && pitch >= kLooselyPeriodicity;
    frame.unvoiced = (upperSnr >= kFricativeSnrDb && contrast <= kFricativeContrastDb) ||
                     (snr >= kLooselySnrDb && contrast >= kVoiceContrastDb);
    decide(start, start + length, peak, frame);
}

void TransmissionDetector::startCandidate(double end) {
    static_assert(kReachBackFrames + kRunFrames < kHistory, "the history holds the reach back");
    // The run's first frame, or the onset right before it.
    const std::uint64_t first = framesSeen_ - kRunFrames;
    std::uint64_t earliest = first;
    while (earliest > 0 && first - earliest < kReachBackFrames &&
           history_[(earliest - 1) % kHistory].onsetLike) {
        --earliest;
    }
    start_ = history_[earliest % kHistory].start;
    loudest_ = 0;
    for (std::uint64_t i = earliest; i < framesSeen_; ++i) {
        loudest_ = std::max(loudest_, history_[i % kHistory].peak);
    }
    pendingPeak_ = 0;
    lastSpeech_ = end;
    lastWasSpeech_ = true;
    state_ = State::Candidate;
}

void TransmissionDetector::decide(double start, double end, float peak, FrameClass frame) {
    const bool onsetLike = frame.loosely || frame.unvoiced;
    history_[framesSeen_ % kHistory] = {start, peak, onsetLike};
    ++framesSeen_;
    voicedRun_ = frame.voiced ? voicedRun_ + 1 : 0;
    looselyRun_ = frame.loosely ? looselyRun_ + 1 : 0;
    unvoicedRun_ = frame.unvoiced && !frame.loosely ? unvoicedRun_ + 1 : 0;
    onsetRun_ = onsetLike ? onsetRun_ + 1 : 0;
    if (state_ == State::Idle) {
        if (voicedRun_ >= kRunFrames) {
            startCandidate(end);
        }
        return;
    }
    // Speech goes on: a run of loosely voiced frames, or such a frame or a
    // short stretch of unvoiced ones right after speech.
    const bool speech =
        looselyRun_ >= kRunFrames ||
        (lastWasSpeech_ && (frame.loosely || (frame.unvoiced && unvoicedRun_ <= kUnvoicedFrames)));
    lastWasSpeech_ = speech;
    if (speech) {
        loudest_ = std::max({loudest_, pendingPeak_, peak});
        pendingPeak_ = 0;
        lastSpeech_ = end;
    } else {
        pendingPeak_ = std::max(pendingPeak_, peak);
    }
    if (state_ == State::Candidate && lastSpeech_ - start_ >= kMinSeconds) {
        state_ = State::Keyed;
        keyed_.store(true, std::memory_order_relaxed);
        report(Event::Kind::Started);
    }
    if (end - lastSpeech_ < kHangSeconds) {
        return;
    }
    // An onset that began within the hang may yet turn into speech: wait for
    // it as long as a start would reach back over it.
    const double onsetStart = end - onsetRun_ * (end - start);
    if (onsetRun_ > 0 && onsetRun_ <= kReachBackFrames && onsetStart - lastSpeech_ < kHangSeconds) {
        return;
    }
    if (state_ == State::Keyed) {
        keyed_.store(false, std::memory_order_relaxed);
        report(Event::Kind::Ended);
    }
    state_ = State::Idle;
}

void TransmissionDetector::finish() {
    if (state_ == State::Keyed) {
        keyed_.store(false, std::memory_order_relaxed);
        report(Event::Kind::Ended);
    }
    state_ = State::Idle;
    voicedRun_ = looselyRun_ = unvoicedRun_ = onsetRun_ = 0;
    lastWasSpeech_ = false;
}

void TransmissionDetector::report(Event::Kind kind) {
    if (onEvent_) {
        onEvent_({kind, {start_, lastSpeech_ - start_, amplitudeDb(loudest_)}});
    }
}

}  // namespace orvento
