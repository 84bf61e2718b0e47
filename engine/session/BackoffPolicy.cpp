#include "engine/session/BackoffPolicy.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace orvento {

std::vector<std::chrono::milliseconds> BackoffPolicy::defaultSteps() {
    using std::chrono::seconds;
    return {seconds(0), seconds(1), seconds(2), seconds(4), seconds(8), seconds(15), seconds(30)};
}

BackoffPolicy::BackoffPolicy(std::vector<std::chrono::milliseconds> steps, double jitter,
                             Random random)
    : steps_(std::move(steps)), jitter_(std::clamp(jitter, 0.0, 1.0)), random_(std::move(random)) {
    if (!random_) {
        random_ = [engine = std::mt19937(std::random_device{}()),
                   spread = std::uniform_real_distribution<double>(0.0, 1.0)]() mutable {
            return spread(engine);
        };
    }
}

std::chrono::milliseconds BackoffPolicy::wait(int attempt) {
    if (steps_.empty()) {
        return std::chrono::milliseconds(0);
    }
    const auto index = static_cast<std::size_t>(std::max(attempt, 0));
    const auto step = steps_[std::min(index, steps_.size() - 1)];
    // random in [0, 1) maps to a factor in [1 - jitter, 1 + jitter).
    const double factor = 1.0 + jitter_ * (2.0 * std::clamp(random_(), 0.0, 1.0) - 1.0);
    return std::chrono::milliseconds(std::llround(static_cast<double>(step.count()) * factor));
}

}  // namespace orvento
