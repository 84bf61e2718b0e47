// BackoffPolicy: how long a player that dropped waits before each attempt to
// come back. Attempt 0 starts at once; attempt n waits the n-th step (1, 2, 4,
// 8, 15, then 30 s for every later one), spread by up to +/- the jitter share
// so that many listeners of one server that went down do not all come back in
// the same instant.
//
// The random source gives numbers in [0, 1); the default draws them from a
// generator seeded once per policy. Tests give a fixed source (and short
// steps), so each wait is a known value. Not thread-safe: one owner.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

namespace orvento {

class BackoffPolicy {
  public:
    using Random = std::function<double()>;

    static std::vector<std::chrono::milliseconds> defaultSteps();
    static constexpr double kDefaultJitter = 0.2;

    // `steps`: the waits of attempts 0, 1, 2, ...; the last one repeats. An
    // empty list waits nothing.
    explicit BackoffPolicy(std::vector<std::chrono::milliseconds> steps = defaultSteps(),
                           double jitter = kDefaultJitter, Random random = {});

    // The wait before attempt `attempt` (0 is the first after a drop).
    std::chrono::milliseconds wait(int attempt);

  private:
    std::vector<std::chrono::milliseconds> steps_;
    double jitter_;
    Random random_;
};

}  // namespace orvento
