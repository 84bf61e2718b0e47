#include "engine/player/CatchUp.h"

#include <sonic.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvento {

namespace {

constexpr double kBlockSeconds = 0.010;
// Held audio is moved to the front of its buffer once this much has gone.
constexpr std::size_t kCompactSamples = 1 << 15;

}  // namespace

CatchUp::CatchUp(int sampleRate, int channels, ShedHandler onShed)
    : sampleRate_(std::max(1, sampleRate)),
      channels_(std::max(1, channels)),
      blockFrames_(std::max<std::size_t>(1, std::lround(sampleRate_ * kBlockSeconds))),
      onShed_(std::move(onShed)),
      detector_([this](const TransmissionDetector::Event& event) { onEvent(event); }),
      sonic_(sonicCreateStream(sampleRate_, channels_), sonicDestroyStream) {}

CatchUp::~CatchUp() = default;

void CatchUp::onEvent(const TransmissionDetector::Event& event) {
    const Transmission& t = event.transmission;
    if (event.kind == TransmissionDetector::Event::Kind::Started) {
        spans_.push_back({t.startSeconds, t.startSeconds + t.durationSeconds});
        inTransmission_ = true;
    } else if (!spans_.empty()) {
        spans_.back() = {t.startSeconds, t.startSeconds + t.durationSeconds};
        inTransmission_ = false;
    }
}

std::size_t CatchUp::heldFrames() const {
    return (held_.size() - heldBegin_) / static_cast<std::size_t>(channels_);
}

double CatchUp::heldSeconds() const {
    return static_cast<double>(heldFrames()) / sampleRate_;
}

bool CatchUp::droppable(double start) const {
    const double from = start - kQuietKeptSeconds - kDetectorSlackSeconds;
    const double to = start + kBlockSeconds + kQuietKeptSeconds + kDetectorSlackSeconds;
    return std::none_of(spans_.begin(), spans_.end(),
                        [&](const Span& s) { return s.start < to && s.end > from; });
}

bool CatchUp::quietAhead(double start) const {
    const double known = detector_.seconds() - (kLookaheadSeconds - kBlockSeconds);
    for (double t = start + kBlockSeconds; t <= known; t += kBlockSeconds) {
        if (droppable(t)) {
            return true;
        }
    }
    return false;
}

bool CatchUp::speechRunsOn(double start) const {
    return std::any_of(spans_.begin(), spans_.end(), [&](const Span& s) {
        return s.start <= start - kSpeechRunsOnSeconds && s.end > start;
    });
}

void CatchUp::dropBlock() {
    if (onShed_) {
        onShed_(heldStart_, heldStart_ + static_cast<double>(blockFrames_) / sampleRate_,
                Shed::Dropped);
    }
    heldBegin_ += blockFrames_ * static_cast<std::size_t>(channels_);
    heldStart_ += static_cast<double>(blockFrames_) / sampleRate_;
    stats_.framesDropped += blockFrames_;
}

void CatchUp::readSonic(std::vector<float>& out) {
    while (const int available = sonicSamplesAvailable(sonic_.get())) {
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(available) * static_cast<std::size_t>(channels_));
        const int read = sonicReadFloatFromStream(sonic_.get(), out.data() + at, available);
        out.resize(at + static_cast<std::size_t>(std::max(0, read)) *
                            static_cast<std::size_t>(channels_));
        stats_.framesOut += static_cast<std::uint64_t>(std::max(0, read));
        if (read <= 0) {
            break;
        }
    }
}

std::uint64_t CatchUp::release(std::size_t frames, std::vector<float>& out, double speed) {
    const std::size_t samples = frames * static_cast<std::size_t>(channels_);
    float* first = held_.data() + heldBegin_;
    if (speed > 1 && onShed_) {
        onShed_(heldStart_, heldStart_ + static_cast<double>(frames) / sampleRate_, Shed::Faster);
    }
    heldBegin_ += samples;
    heldStart_ += static_cast<double>(frames) / sampleRate_;
    if (speed == 1 && !sonicHolds_) {
        out.insert(out.end(), first, first + samples);
        stats_.framesOut += frames;
        return 0;
    }
    const std::uint64_t before = stats_.framesOut;
    sonicSetSpeed(sonic_.get(), static_cast<float>(speed));
    sonicWriteFloatToStream(sonic_.get(), first, static_cast<int>(frames));
    readSonic(out);
    if (speed > 1) {
        stats_.framesSped += frames;
        stats_.fastestSpeed = std::max(stats_.fastestSpeed, speed);
    }
    // At normal speed sonic passes on all it was given, whatever it held.
    sonicHolds_ = speed != 1;
    const std::uint64_t given = stats_.framesOut - before;
    return given < frames ? frames - given : 0;
}

void CatchUp::process(std::span<const float> in, std::vector<float>& out, double excessSeconds) {
    const std::size_t frames = in.size() / static_cast<std::size_t>(channels_);
    held_.insert(
        held_.end(), in.begin(),
        in.begin() + static_cast<std::ptrdiff_t>(frames * static_cast<std::size_t>(channels_)));
    detector_.feed(in.data(), frames, sampleRate_, channels_);
    stats_.framesIn += frames;
    if (inTransmission_ && !spans_.empty()) {
        spans_.back().end = detector_.seconds();
    }

    // Frames that may still be shed in this call.
    double budget = excessSeconds * sampleRate_;
    const auto lookahead = static_cast<std::size_t>(std::lround(kLookaheadSeconds * sampleRate_));
    while (budget >= 1 && heldFrames() >= blockFrames_ + lookahead) {
        if (budget >= static_cast<double>(blockFrames_) && droppable(heldStart_)) {
            dropBlock();
            budget -= static_cast<double>(blockFrames_);
            continue;
        }
        // Speech, or the quiet kept beside it: played faster only where
        // speech runs on with no quiet to drop in sight.
        const bool faster = speechRunsOn(heldStart_) && !quietAhead(heldStart_);
        const double speed = faster ? std::min(kMaxSpeed, 1 + budget / sampleRate_ / 2) : 1.0;
        budget -= static_cast<double>(release(blockFrames_, out, speed));
    }
    if (budget < 1) {
        // Not behind (any more): what is held plays on at once.
        release(heldFrames(), out, 1.0);
    }

    // Forget what lies behind: transmissions past the quiet kept, and the
    // buffer's given-out front.
    while (!spans_.empty() &&
           spans_.front().end < heldStart_ - kQuietKeptSeconds - kDetectorSlackSeconds &&
           !(inTransmission_ && spans_.size() == 1)) {
        spans_.erase(spans_.begin());
    }
    if (heldBegin_ >= kCompactSamples || heldBegin_ == held_.size()) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldBegin_));
        heldBegin_ = 0;
    }
}

void CatchUp::flush(std::vector<float>& out) {
    release(heldFrames(), out, 1.0);
    if (sonicHolds_) {
        sonicFlushStream(sonic_.get());
        readSonic(out);
        sonicHolds_ = false;
    }
    detector_.finish();
}

namespace {

// A call this much later than the backlog could cover is an underrun: the
// output's own buffer and the queue's pace of calls make up the rest.
constexpr double kUnderrunSlackSeconds = 0.3;

}  // namespace

CatchUpStage::CatchUpStage(std::optional<double> fixedTargetSeconds, CatchUp::ShedHandler onShed,
                           std::function<Clock::time_point()> clock)
    : follows_(!fixedTargetSeconds),
      onShed_(std::move(onShed)),
      clock_(std::move(clock)),
      target_(fixedTargetSeconds.value_or(LagTarget::kStartSeconds)) {}

void CatchUpStage::carryTargetFrom(const CatchUpStage& earlier) {
    if (!follows_ || !earlier.follows_) {
        return;
    }
    std::scoped_lock lock(lagMutex_, earlier.lagMutex_);
    lag_ = earlier.lag_;
    target_.store(lag_.seconds(clock_()));
}

std::optional<double> CatchUpStage::behindLiveSeconds() const {
    const double behind = behind_.load();
    return behind < 0 ? std::nullopt : std::optional(behind + upstream_.load());
}

void CatchUpStage::process(const PcmFormat& format, std::span<const float> in,
                           std::vector<float>& out, double backlogSeconds) {
    const Clock::time_point now = clock_();
    if (follows_) {
        std::lock_guard lock(lagMutex_);
        if (lastCall_) {
            const double gap = std::chrono::duration<double>(now - *lastCall_).count();
            lag_.underrun(gap - lastBacklog_ - kUnderrunSlackSeconds, now);
        }
        target_.store(lag_.seconds(now));
    }
    if (!catchUp_ || !(format == format_)) {
        if (catchUp_) {
            catchUp_->flush(out);
        }
        format_ = format;
        catchUp_ = std::make_unique<CatchUp>(
            format.sampleRate, format.channels,
            [this](double start, double end, CatchUp::Shed how) {
                std::atomic<double>& total = how == CatchUp::Shed::Dropped ? dropped_ : faster_;
                total.store(total.load() + (end - start));
                if (onShed_) {
                    onShed_(start, end, how);
                }
            });
    }
    catchUp_->process(in, out, backlogSeconds + upstream_.load() - target_.load());
    fastest_.store(std::max(fastest_.load(), catchUp_->stats().fastestSpeed));
    seen_.store(seen_.load() + static_cast<double>(in.size()) /
                                   (static_cast<double>(format.sampleRate) * format.channels));
    // What one call sheds is a packet's worth at most: the backlog stands for
    // what is left to play.
    lastCall_ = now;
    lastBacklog_ = backlogSeconds;
    behind_.store(backlogSeconds);
}

void CatchUpStage::flush(std::vector<float>& out) {
    if (catchUp_) {
        catchUp_->flush(out);
        catchUp_.reset();
    }
    lastCall_.reset();
}

void CatchUpStage::reset() {
    catchUp_.reset();
    lastCall_.reset();
}

}  // namespace orvento
