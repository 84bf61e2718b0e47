// Where the listener of a live station left off, told by the compressed
// frames themselves, so that a drop costs no word the server still holds.
//
// A player notes the digest of every packet it hands to its queue (heard).
// When the station's next connection starts, its opening burst (the tail of
// what the server sent, Icecast up to 32 s) is held back and lined up with the
// last frames heard: the same bytes make the same digests whatever their
// timing, so the player plays on from just after the last frame heard, and
// what was said during the outage is played (and caught up). A burst that
// does not reach back that far is played whole, and what neither connection
// brought is a gap. A stream in another format starts afresh.
//
// The pattern sought is the trail's tail, long enough to hold several
// distinct frames: a quiet stretch encodes as the same frame over and over,
// and the last frame heard alone would be found in every quiet.
//
// Threads. The trail is shared by a station's players in turn and locked:
// a player's worker notes what it hands over while the next one's reads the
// pattern. A ResumeMatcher belongs to one player's worker.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "engine/base/AudioFormat.h"

namespace orvento {

// A gap shorter than this is the network's jitter, or a burst that holds
// more than the outage but not the frames heard (a server that started its
// stream afresh): not worth telling the listener.
inline constexpr double kGapToldSeconds = 1;

// What came of a connection's start after a drop.
struct Resumption {
    enum class Kind {
        Resumed,        // lined up: nothing missed
        Gap,            // the burst does not reach back to the last frame heard
        FormatChanged,  // another format: started afresh
    };
    Kind kind = Kind::Resumed;
    double skippedSeconds = 0;  // Resumed: of the burst, heard already
    double missedSeconds = 0;   // Gap: what neither connection brought
    // When the last frame heard came off the network.
    std::chrono::system_clock::time_point droppedAt{};
};

class ResumeMatcher;

class ResumeTrail {
  public:
    using Handler = std::function<void(const Resumption&)>;
    // Digests kept: the longest pattern sought.
    static constexpr std::size_t kTrailPackets = 256;
    // Distinct frames wanted in the pattern before it is shorter than the trail.
    static constexpr std::size_t kDistinctFrames = 8;

    // `onResumption` hears what came of each start after a drop, on the
    // starting player's worker.
    explicit ResumeTrail(Handler onResumption = {}) : onResumption_(std::move(onResumption)) {}

    // A player handed these packets of a stream in `format` to its queue.
    void heard(const AudioFormat& format, std::span<const std::byte> bytes,
               std::span<const PacketDescription> descriptions);
    // Whether any frame has been heard: none before a press's first audio.
    bool heardAny() const;
    // For a new stream in `format`: a matcher when frames were heard before
    // in that format; none when nothing was (the trail then follows the new
    // stream) or the format changed (told as such; the trail starts afresh).
    std::unique_ptr<ResumeMatcher> resumeIn(const AudioFormat& format);
    void tell(const Resumption& resumption) const;

    static std::uint64_t digest(std::span<const std::byte> packet);

  private:
    const Handler onResumption_;
    mutable std::mutex mutex_;
    std::optional<AudioFormat> format_;
    std::deque<std::uint64_t> digests_;
    std::chrono::steady_clock::time_point lastHeard_{};
    std::chrono::system_clock::time_point lastHeardWall_{};
};

// The opening of one connection after a drop, held back until it is lined
// up with the frames heard before, or until it is clear that it cannot be.
class ResumeMatcher {
  public:
    using Clock = std::chrono::steady_clock;
    // The most audio held back: longer than any server's burst.
    static constexpr double kMaxHeldSeconds = 64;
    // The burst is over once a second brings no more than this much audio:
    // the station's own pace.
    static constexpr double kLivePace = 1.25;
    // The fewest frames heard a burst must begin with to be lined up at its
    // very start.
    static constexpr std::size_t kMinOverlap = 4;

    ResumeMatcher(const ResumeTrail& trail, std::vector<std::uint64_t> pattern, double sampleRate,
                  std::uint32_t framesPerPacket, Clock::time_point lastHeard,
                  std::chrono::system_clock::time_point droppedAt);

    // Takes a delivery that arrived at `now`. True once decided: the
    // packets to play are then in bytes() and descriptions(), the outcome
    // told to the trail's handler.
    bool take(std::span<const std::byte> bytes, std::span<const PacketDescription> descriptions,
              Clock::time_point now);
    // The stream ended before it was decided: what came is decided now, as
    // at the burst's end.
    void finish(Clock::time_point now);
    std::span<const std::byte> bytes() const { return bytes_; }
    std::span<const PacketDescription> descriptions() const { return descriptions_; }

  private:
    double secondsOf(const PacketDescription& description) const;
    // Appends a packet to those held back.
    void hold(std::span<const std::byte> packet, PacketDescription description);
    // Lined up at the burst's start, or a gap: what is held plays.
    void decide(Clock::time_point now);
    // Plays from packet `first` of those held on.
    void release(std::size_t first, const Resumption& outcome);
    // Whether the burst is over: the last second brought audio at live pace.
    bool atLivePace(Clock::time_point now) const;

    const ResumeTrail& trail_;
    const std::vector<std::uint64_t> pattern_;
    const double sampleRate_;
    const std::uint32_t framesPerPacket_;
    const Clock::time_point lastHeard_;
    const std::chrono::system_clock::time_point droppedAt_;
    std::optional<Clock::time_point> firstArrival_;
    std::vector<std::byte> bytes_;
    std::vector<PacketDescription> descriptions_;
    std::vector<std::uint64_t> digests_;
    double heldSeconds_ = 0;
    std::deque<std::pair<Clock::time_point, double>> arrivals_;  // the last second's
};

}  // namespace orvento
