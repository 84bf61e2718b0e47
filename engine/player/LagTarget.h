// How far behind its newest audio a live stream is played, following the
// network: it starts at kStartSeconds; an underrun (the output had nothing
// to play for a while) grows it by what was missing, so that a stall as long
// as the one seen is covered next time, up to kMaxSeconds; while delivery
// stays steady it shrinks back by kShrinkPerMinute towards the start.
//
// Time comes in with each call; nothing here reads a clock. Not thread-safe:
// its owner serialises the calls.
#pragma once

#include <algorithm>
#include <chrono>

#include "engine/player/LiveEdgePolicy.h"

namespace orvento {

class LagTarget {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr double kStartSeconds = kDefaultLiveEdgeSeconds;
    static constexpr double kMaxSeconds = 8;
    static constexpr double kShrinkPerMinute = 0.5;
    // Added to what an underrun missed: the network's jitter on top.
    static constexpr double kMarginSeconds = 0.25;

    // The target at `now`.
    double seconds(TimePoint now) const {
        const double minutes = std::chrono::duration<double>(now - grownAt_).count() / 60;
        return std::max(kStartSeconds, grown_ - kShrinkPerMinute * std::max(0.0, minutes));
    }

    // The output had nothing to play for `missingSeconds` until `now`.
    void underrun(double missingSeconds, TimePoint now) {
        if (missingSeconds <= 0) {
            return;
        }
        grown_ = std::min(kMaxSeconds, seconds(now) + missingSeconds + kMarginSeconds);
        grownAt_ = now;
    }

  private:
    double grown_ = kStartSeconds;
    TimePoint grownAt_{};
};

}  // namespace orvento
