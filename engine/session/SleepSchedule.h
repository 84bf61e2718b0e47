// SleepSchedule: when a sleep timer ends playback, and how loud the last
// seconds are. Shared by the window's timer and orvento-play --sleep.
//
// Set for `after` from `start`, playback ends at start + after; over its last
// kFade (or the fade given) the gain falls in a straight line from 1 to 0. With `atTransmissionEnd`
// the time may run a little over so that a sentence is not cut: once `after`
// has passed, the schedule waits while a transmission is under way (keyed), at
// most kLongestWait (a station that never unkeys still ends), and then fades
// over kFade of quiet.
//
// The owner calls advance() with the time and the keyed state every few
// hundred milliseconds; time is given, never read, so tests set it. Not
// thread-safe: one owner.
#pragma once

#include <chrono>

namespace orvento {

class SleepSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFade{10};
    static constexpr std::chrono::minutes kLongestWait{2};

    enum class Phase {
        counting,         // before the fade; full gain
        waitingForQuiet,  // the time is up, a transmission is under way
        fading,           // the gain falls
        done,             // stop playback now
    };
    struct State {
        Phase phase = Phase::counting;
        float gain = 1;
        // Until the end, rounded up; while waiting for quiet, the fade's length.
        std::chrono::seconds left{0};
    };

    // `fade`: kFade but where a test shortens time.
    SleepSchedule(Clock::time_point start, Clock::duration after, bool atTransmissionEnd,
                  Clock::duration fade = kFade);

    State advance(Clock::time_point now, bool keyed);
    // When `after` is up.
    Clock::time_point due() const { return due_; }

  private:
    State fadingTo(Clock::time_point end, Clock::time_point now) const;

    Clock::time_point due_;
    bool atTransmissionEnd_;
    Clock::duration fade_;
    bool fadeStarted_ = false;
    Clock::time_point end_{};  // with atTransmissionEnd_: once the fade has started
};

}  // namespace orvento
