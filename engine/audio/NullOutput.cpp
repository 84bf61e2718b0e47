#include "engine/audio/NullOutput.h"

#include <algorithm>
#include <cmath>

namespace orvento {
namespace {

// Audio "queued" ahead of the virtual device. Deeper than the sound device's
// ring: nothing here needs a quick stop (an immediate stop drops it all at
// once), and fewer refills mean fewer wake-ups of the queue's thread.
constexpr double kQueuedSeconds = 0.5;

}  // namespace

bool NullOutput::open(const PcmFormat& requested, std::string& /*error*/) {
    std::lock_guard lock(mutex_);
    format_ = requested;
    return true;
}

PcmFormat NullOutput::format() const {
    std::lock_guard lock(mutex_);
    return format_;
}

bool NullOutput::adopt(const PcmFormat& format) {
    std::lock_guard lock(mutex_);
    if (wroteAny_) {
        return false;
    }
    format_ = format;
    return true;
}

double NullOutput::pending(Clock::time_point now) const {
    if (!realTime_) {
        return 0;
    }
    if (paused_) {
        return pausedPending_;
    }
    const double seconds = std::chrono::duration<double>(playedBy_ - now).count();
    return std::max(0.0, seconds * format_.sampleRate);
}

AudioOutput::Duration NullOutput::framesToDuration(double frames) const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(frames / format_.sampleRate));
}

void NullOutput::resume() {
    std::lock_guard lock(mutex_);
    if (paused_) {
        paused_ = false;
        playedBy_ = Clock::now() + framesToDuration(pausedPending_);
        playing_ = pausedPending_ > 0;
        pausedPending_ = 0;
    }
}

void NullOutput::pause() {
    std::lock_guard lock(mutex_);
    if (!paused_) {
        pausedPending_ = pending(Clock::now());
        paused_ = true;
    }
}

std::size_t NullOutput::write(const float* /*samples*/, std::size_t frames) {
    std::lock_guard lock(mutex_);
    wroteAny_ = true;
    if (silenced_) {
        written_ += frames;
        dropped_ += frames;
        return frames;
    }
    if (realTime_) {
        const Clock::time_point now = Clock::now();
        const double room = kQueuedSeconds * format_.sampleRate - pending(now);
        frames = std::min(frames, static_cast<std::size_t>(std::max(0.0, room)));
        if (paused_) {
            pausedPending_ += static_cast<double>(frames);
        } else if (frames > 0) {
            if (playing_ && playedBy_ < now) {
                ++underruns_;  // it played silence since playedBy_
            }
            playing_ = true;
            playedBy_ = std::max(playedBy_, now) + framesToDuration(static_cast<double>(frames));
        }
    }
    written_ += frames;
    return frames;
}

AudioOutput::Duration NullOutput::untilWritable() const {
    std::lock_guard lock(mutex_);
    if (!realTime_) {
        return Duration::zero();
    }
    // Wait until half the queued audio has played, then refill in one go.
    const double excess = pending(Clock::now()) - kQueuedSeconds * format_.sampleRate / 2;
    return excess > 0 ? framesToDuration(excess) : Duration::zero();
}

AudioOutput::Duration NullOutput::untilDrained() {
    std::lock_guard lock(mutex_);
    return framesToDuration(std::ceil(pending(Clock::now())));
}

void NullOutput::silenceNow() {
    discard();
    std::lock_guard lock(mutex_);
    silenced_ = true;
}

void NullOutput::discard() {
    std::lock_guard lock(mutex_);
    silenced_ = false;
    const double left = pending(Clock::now());
    dropped_ += static_cast<std::uint64_t>(std::llround(left));
    pausedPending_ = 0;
    playedBy_ = Clock::now();
    playing_ = false;
}

std::uint64_t NullOutput::underruns() const {
    std::lock_guard lock(mutex_);
    return underruns_;
}

std::uint64_t NullOutput::framesPlayed() const {
    std::lock_guard lock(mutex_);
    const auto left = static_cast<std::uint64_t>(std::llround(pending(Clock::now())));
    return written_ - dropped_ - std::min(left, written_ - dropped_);
}

}  // namespace orvento
