#include "engine/session/SleepSchedule.h"

#include <algorithm>

namespace orvento {

SleepSchedule::SleepSchedule(Clock::time_point start, Clock::duration after, bool atTransmissionEnd,
                             Clock::duration fade)
    : due_(start + after), atTransmissionEnd_(atTransmissionEnd), fade_(fade) {}

SleepSchedule::State SleepSchedule::fadingTo(Clock::time_point end, Clock::time_point now) const {
    State state;
    if (now >= end) {
        state.phase = Phase::done;
        state.gain = 0;
        return state;
    }
    const auto left = end - now;
    state.left = std::chrono::ceil<std::chrono::seconds>(left);
    if (left > fade_) {
        return state;
    }
    state.phase = Phase::fading;
    state.gain = std::clamp(std::chrono::duration<float>(left) / fade_, 0.0F, 1.0F);
    return state;
}

SleepSchedule::State SleepSchedule::advance(Clock::time_point now, bool keyed) {
    if (!atTransmissionEnd_) {
        return fadingTo(due_, now);
    }
    if (fadeStarted_) {
        return fadingTo(end_, now);
    }
    if (now < due_) {
        State state;
        state.left = std::chrono::ceil<std::chrono::seconds>(due_ - now + fade_);
        return state;
    }
    if (keyed && now < due_ + kLongestWait) {
        return {Phase::waitingForQuiet, 1, std::chrono::ceil<std::chrono::seconds>(fade_)};
    }
    fadeStarted_ = true;
    end_ = now + fade_;
    return fadingTo(end_, now);
}

}  // namespace orvento
