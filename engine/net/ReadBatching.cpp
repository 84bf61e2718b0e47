#include "engine/net/ReadBatching.h"

#include <algorithm>

namespace orvento {

void ReadBatching::restart(Clock::time_point at) {
    lastRead_ = at;
    origin_ = at;
    current_ = 0;
    buckets_.fill(0);
}

std::int64_t ReadBatching::bucketOf(Clock::time_point at) const {
    const double seconds = std::chrono::duration<double>(at - origin_).count();
    return std::max<std::int64_t>(
        0, static_cast<std::int64_t>(seconds * kBuckets / kReadBatchSeconds));
}

bool ReadBatching::isSlow(Clock::time_point at) const {
    std::uint64_t bytes = 0;
    for (const std::uint64_t bucket : buckets_) {
        bytes += bucket;
    }
    const double observed = std::chrono::duration<double>(at - origin_).count();
    const double share = std::min(1.0, observed / kReadBatchSeconds);
    return static_cast<double>(bytes) < static_cast<double>(kReadBatchBelowBytes) * share;
}

bool ReadBatching::delayAfterRead(Clock::time_point at, std::uint64_t taken, bool socketRead,
                                  bool waitedThroughDelay) {
    const double gap = std::chrono::duration<double>(at - lastRead_).count();
    lastRead_ = at;
    const std::int64_t index = bucketOf(at);
    for (std::int64_t next = current_ + 1; next <= index && next <= current_ + kBuckets; ++next) {
        buckets_[static_cast<std::size_t>(next % kBuckets)] = 0;
    }
    current_ = std::max(current_, index);
    buckets_[static_cast<std::size_t>(current_ % kBuckets)] += taken;
    if (!socketRead || interval_ <= 0 || taken == 0 || taken >= kReadBatchBelowBytes) {
        return false;
    }
    // Judged by the rate over the whole last kReadBatchSeconds, not by this
    // read alone: a burst that arrives in many small pieces, a fast stream's
    // occasional small read (the tail of a large write that came in two
    // segments, say) and a fast stream that hesitated for a moment are not
    // slow.
    const bool slow = isSlow(at);
    // Pieces that come less often than once an interval would each cost a
    // wake anyway, and the batching timer one more.
    const bool frequent = waitedThroughDelay || gap < interval_;
    return slow && frequent;
}

}  // namespace orvento
