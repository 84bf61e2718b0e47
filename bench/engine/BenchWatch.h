// What the engine benchmarks share to time a player: an observer that notes
// when it was told playing and stopped, and a line of figures.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <vector>

#include "engine/player/Pelorin.h"

namespace orvento::bench {

using Clock = std::chrono::steady_clock;

class Watcher : public PelorinObserver {
  public:
    void isPlayingChanged(Pelorin& p) override {
        std::lock_guard lock(mutex_);
        (p.isPlaying() ? playingAt_ : stoppedAt_) = Clock::now();
        changed_.notify_all();
    }
    // When the player was told playing, or stopped; waits up to 30 s.
    Clock::time_point waitPlaying() { return wait(playingAt_); }
    Clock::time_point waitStopped() { return wait(stoppedAt_); }

  private:
    Clock::time_point wait(Clock::time_point& at) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30),
                          [&] { return at != Clock::time_point{}; });
        return at;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point playingAt_{};
    Clock::time_point stoppedAt_{};
};

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// "<what> median ... p90 ... max ... (n runs)".
inline void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-44s median %8.3f ms   p90 %8.3f ms   max %8.3f ms   (%zu runs)\n", what,
                v[v.size() / 2], v[v.size() * 9 / 10], v.back(), v.size());
}

}  // namespace orvento::bench
