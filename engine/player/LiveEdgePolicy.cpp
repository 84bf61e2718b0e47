#include "engine/player/LiveEdgePolicy.h"

#include <algorithm>

namespace orvento {

void LiveEdgePolicy::formatKnown(const AudioFormat& format) {
    std::lock_guard lock(mutex_);
    sampleRate_ = format.sampleRate > 0 ? format.sampleRate : 0;
    framesPerPacket_ = format.framesPerPacket;
    bytesPerPacket_ = format.bytesPerPacket;
    newestEnd_ = 0;
    keptEnd_ = 0;
    keptFrames_ = 0;
    firstKept_.reset();
}

void LiveEdgePolicy::reachBack(double seconds) {
    std::lock_guard lock(mutex_);
    targetSeconds_ += std::max(0.0, seconds);
}

double LiveEdgePolicy::pendingFrames(TimePoint now) const {
    if (!firstKept_) {
        return 0;
    }
    const double played = std::chrono::duration<double>(now - *firstKept_).count() * sampleRate_;
    return std::max(0.0, static_cast<double>(keptFrames_) - std::max(0.0, played));
}

std::size_t LiveEdgePolicy::decide(std::size_t count, std::int64_t framesEach, TimePoint arrival,
                                   double upstreamFrames) {
    if (sampleRate_ <= 0 || framesEach <= 0) {
        return 0;
    }
    const auto total = static_cast<std::int64_t>(count);
    newestEnd_ += total * framesEach;
    const double target = targetSeconds_ * sampleRate_;
    const double pending = pendingFrames(arrival);
    // Packet i ends (total - 1 - i) packets before the newest. While audio
    // plays on, a delivery a little early is no reason to cut: only a lag
    // beyond the slack is cut back, to the target itself.
    const double slack = firstKept_ && pending > 0 ? kLiveEdgeSlackSeconds * sampleRate_ : 0;
    const auto lagOf = [&](std::int64_t i) {
        return static_cast<double>((total - 1 - i) * framesEach) + upstreamFrames + pending;
    };
    std::int64_t skip = 0;
    if (total > 0 && lagOf(0) > target + slack) {
        // Each packet kept adds to the pending audio what it takes off its
        // age: the first one within the target is kept, and every later one.
        while (skip < total && lagOf(skip) > target) {
            ++skip;
        }
    }
    if (skip < total) {
        if (!firstKept_ || pending <= 0) {
            // Nothing left to play: the kept audio starts afresh from here.
            firstKept_ = arrival;
            keptFrames_ = 0;
        }
        keptFrames_ += (total - skip) * framesEach;
        keptEnd_ = newestEnd_;
    }
    return static_cast<std::size_t>(skip);
}

std::size_t LiveEdgePolicy::packetsToSkip(std::span<const PacketDescription> packets,
                                          TimePoint arrival, std::size_t bytesUpstream) {
    std::lock_guard lock(mutex_);
    // The bytes upstream hold audio at this delivery's rate.
    std::uint64_t bytes = 0;
    for (const PacketDescription& p : packets) {
        bytes += p.byteSize;
    }
    const double upstreamFrames =
        bytes > 0 ? static_cast<double>(bytesUpstream) * static_cast<double>(packets.size()) *
                        static_cast<double>(framesPerPacket_) / static_cast<double>(bytes)
                  : 0;
    return decide(packets.size(), framesPerPacket_, arrival, upstreamFrames);
}

std::size_t LiveEdgePolicy::bytesToSkip(std::size_t byteCount, TimePoint arrival,
                                        std::size_t bytesUpstream) {
    std::lock_guard lock(mutex_);
    if (bytesPerPacket_ == 0) {
        return 0;
    }
    const double upstreamFrames = static_cast<double>(bytesUpstream / bytesPerPacket_) *
                                  static_cast<double>(framesPerPacket_);
    return decide(byteCount / bytesPerPacket_, framesPerPacket_, arrival, upstreamFrames) *
           bytesPerPacket_;
}

std::optional<double> LiveEdgePolicy::behindLiveSeconds(TimePoint now) const {
    std::lock_guard lock(mutex_);
    if (!firstKept_ || sampleRate_ <= 0) {
        return std::nullopt;
    }
    return (static_cast<double>(newestEnd_ - keptEnd_) + pendingFrames(now)) / sampleRate_;
}

}  // namespace orvento
