#include "engine/player/ResumeTrail.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <utility>

namespace orvento {

namespace {
// The packet `description` places in `bytes`; none when it lies outside them.
std::optional<std::span<const std::byte>> packetIn(std::span<const std::byte> bytes,
                                                   const PacketDescription& description) {
    const auto start = static_cast<std::size_t>(description.startOffset);
    if (start > bytes.size() || description.byteSize > bytes.size() - start) {
        return std::nullopt;
    }
    return bytes.subspan(start, description.byteSize);
}
}  // namespace

std::uint64_t ResumeTrail::digest(std::span<const std::byte> packet) {
    // FNV-1a: the same bytes, the same digest, on every run.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const std::byte b : packet) {
        hash = (hash ^ static_cast<std::uint64_t>(b)) * 1099511628211ULL;
    }
    return hash;
}

void ResumeTrail::heard(const AudioFormat& format, std::span<const std::byte> bytes,
                        std::span<const PacketDescription> descriptions) {
    if (descriptions.empty()) {
        return;  // plain bytes (linear PCM) have no frames to line up
    }
    std::lock_guard lock(mutex_);
    if (format_ != format) {
        format_ = format;
        digests_.clear();
    }
    for (const PacketDescription& description : descriptions) {
        const std::optional<std::span<const std::byte>> packet = packetIn(bytes, description);
        if (!packet) {
            continue;
        }
        digests_.push_back(digest(*packet));
        if (digests_.size() > kTrailPackets) {
            digests_.pop_front();
        }
    }
    lastHeard_ = std::chrono::steady_clock::now();
    lastHeardWall_ = std::chrono::system_clock::now();
}

bool ResumeTrail::heardAny() const {
    std::lock_guard lock(mutex_);
    return !digests_.empty();
}

std::unique_ptr<ResumeMatcher> ResumeTrail::resumeIn(const AudioFormat& format) {
    std::lock_guard lock(mutex_);
    if (digests_.empty()) {
        return nullptr;
    }
    if (format_ != format) {
        Resumption changed;
        changed.kind = Resumption::Kind::FormatChanged;
        changed.droppedAt = lastHeardWall_;
        digests_.clear();
        format_.reset();
        tell(changed);
        return nullptr;
    }
    // The tail with enough distinct frames to be found in one place only.
    std::unordered_set<std::uint64_t> distinct;
    std::size_t length = 0;
    while (length < digests_.size() && distinct.size() < kDistinctFrames) {
        distinct.insert(digests_[digests_.size() - 1 - length]);
        ++length;
    }
    std::vector<std::uint64_t> pattern(digests_.end() - static_cast<std::ptrdiff_t>(length),
                                       digests_.end());
    return std::make_unique<ResumeMatcher>(*this, std::move(pattern), format.sampleRate,
                                           format.framesPerPacket, lastHeard_, lastHeardWall_);
}

void ResumeTrail::tell(const Resumption& resumption) const {
    if (onResumption_) {
        onResumption_(resumption);
    }
}

ResumeMatcher::ResumeMatcher(const ResumeTrail& trail, std::vector<std::uint64_t> pattern,
                             double sampleRate, std::uint32_t framesPerPacket,
                             Clock::time_point lastHeard,
                             std::chrono::system_clock::time_point droppedAt)
    : trail_(trail),
      pattern_(std::move(pattern)),
      sampleRate_(sampleRate),
      framesPerPacket_(framesPerPacket),
      lastHeard_(lastHeard),
      droppedAt_(droppedAt) {}

double ResumeMatcher::secondsOf(const PacketDescription& description) const {
    const std::uint32_t frames =
        description.framesInPacket != 0 ? description.framesInPacket : framesPerPacket_;
    return sampleRate_ > 0 ? frames / sampleRate_ : 0;
}

void ResumeMatcher::hold(std::span<const std::byte> packet, PacketDescription description) {
    description.startOffset = static_cast<std::int64_t>(bytes_.size());
    bytes_.insert(bytes_.end(), packet.begin(), packet.end());
    descriptions_.push_back(description);
}

bool ResumeMatcher::take(std::span<const std::byte> bytes,
                         std::span<const PacketDescription> descriptions, Clock::time_point now) {
    if (!firstArrival_) {
        firstArrival_ = now;
    }
    double brought = 0;
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        const std::optional<std::span<const std::byte>> packet = packetIn(bytes, descriptions[i]);
        if (!packet) {
            continue;
        }
        hold(*packet, descriptions[i]);
        digests_.push_back(ResumeTrail::digest(*packet));
        brought += secondsOf(descriptions[i]);

        // The last frames heard, in order, end here: play on after them.
        if (digests_.size() >= pattern_.size() &&
            std::equal(pattern_.begin(), pattern_.end(),
                       digests_.end() - static_cast<std::ptrdiff_t>(pattern_.size()))) {
            Resumption resumed;
            resumed.skippedSeconds = heldSeconds_ + brought;  // all held so far
            resumed.droppedAt = droppedAt_;
            // What came after the match in this delivery is played too.
            const std::size_t first = descriptions_.size();
            for (const PacketDescription& rest : descriptions.subspan(i + 1)) {
                if (const auto after = packetIn(bytes, rest)) {
                    hold(*after, rest);
                }
            }
            release(first, resumed);
            return true;
        }
    }
    heldSeconds_ += brought;
    arrivals_.emplace_back(now, brought);
    while (!arrivals_.empty() && now - arrivals_.front().first > std::chrono::seconds(1)) {
        arrivals_.pop_front();
    }
    if (heldSeconds_ >= kMaxHeldSeconds || atLivePace(now)) {
        decide(now);
        return true;
    }
    return false;
}

void ResumeMatcher::finish(Clock::time_point now) {
    if (descriptions_.empty()) {
        return;  // nothing came: nothing to say
    }
    decide(now);
}

void ResumeMatcher::decide(Clock::time_point now) {
    // The burst may begin inside the last frames heard.
    for (std::size_t k = std::min(pattern_.size(), digests_.size()); k >= kMinOverlap; --k) {
        if (std::equal(pattern_.end() - static_cast<std::ptrdiff_t>(k), pattern_.end(),
                       digests_.begin())) {
            Resumption resumed;
            resumed.droppedAt = droppedAt_;
            for (std::size_t i = 0; i < k; ++i) {
                resumed.skippedSeconds += secondsOf(descriptions_[i]);
            }
            release(k, resumed);
            return;
        }
    }
    // The burst does not reach back to the last frame heard: all of it is
    // new, and the outage beyond it is lost.
    const double outage = std::chrono::duration<double>(*firstArrival_ - lastHeard_).count();
    const double burst = heldSeconds_ - std::chrono::duration<double>(now - *firstArrival_).count();
    Resumption gap;
    gap.kind = Resumption::Kind::Gap;
    gap.missedSeconds = std::max(0.0, outage - std::max(0.0, burst));
    gap.droppedAt = droppedAt_;
    release(0, gap);
}

bool ResumeMatcher::atLivePace(Clock::time_point now) const {
    if (now - *firstArrival_ < std::chrono::seconds(1)) {
        return false;
    }
    double lastSecond = 0;
    for (const auto& [at, seconds] : arrivals_) {
        lastSecond += seconds;
    }
    return lastSecond <= kLivePace;
}

void ResumeMatcher::release(std::size_t first, const Resumption& outcome) {
    if (first > 0) {
        const auto from = first < descriptions_.size()
                              ? static_cast<std::size_t>(descriptions_[first].startOffset)
                              : bytes_.size();
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(from));
        descriptions_.erase(descriptions_.begin(),
                            descriptions_.begin() + static_cast<std::ptrdiff_t>(first));
        for (PacketDescription& description : descriptions_) {
            description.startOffset -= static_cast<std::int64_t>(from);
        }
    }
    digests_.clear();
    trail_.tell(outcome);
}

}  // namespace orvento
