// LiveEdgePolicy: keeps a stream's playing close to live. On connecting, a
// station's server sends a burst of what it has buffered, often half a minute
// of audio; queued in full, all of it plays that far behind for the whole
// session. The policy decides which leading packets of each delivery are too
// old to be worth playing: those that would be heard more than the target lag
// behind the newest audio received.
//
// Model. The newest audio received is taken as live. Audio kept for playing
// is assumed to play in real time from the moment the first kept packet came:
// what was kept and has not had time to play yet is the pending audio. A
// packet would be heard (newest end - packet end) + pending behind live. When
// the first packet of a delivery would be heard later than the target (plus a
// small slack while audio plays on), the leading packets are skipped until the
// rest is within the target. Only whole packets are skipped, and
// only at the start of a delivery, so the decoder sees a clean cut. A stall
// that lets the pending audio run out and then delivers a heap at once is cut
// back the same way.
//
// Time comes in with each call (the packets' arrival, the moment asked
// about): no clock is read here. Streams whose format gives no duration
// (no sample rate, or variable frames per packet) are never cut, and the
// player asks only about live streams: a recording, whose response declared
// its length, plays whole.
//
// Threads: deliveries come on one thread; behindLiveSeconds may be called
// from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "engine/base/AudioFormat.h"

namespace orvento {

inline constexpr double kDefaultLiveEdgeSeconds = 1.5;
// How far past the target a stream that plays on may drift before it is cut:
// the network's jitter alone must not cost audio.
inline constexpr double kLiveEdgeSlackSeconds = 0.25;
// A server's opening burst comes within this of the connection's first bytes
// on any network worth listening over; what comes later is the station's own
// pace, or a heap after a stall.
inline constexpr double kOpeningBurstSeconds = 1;

class LiveEdgePolicy {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit LiveEdgePolicy(double targetSeconds) : targetSeconds_(targetSeconds) {}

    // A new stream's format; forgets everything about the previous stream.
    void formatKnown(const AudioFormat& format);

    // How many leading packets of a delivery of described packets not to
    // play. `bytesUpstream`: of the same stream, received after these and
    // not delivered yet (a burst comes in several deliveries): the newest
    // audio lies that much further on.
    std::size_t packetsToSkip(std::span<const PacketDescription> packets, TimePoint arrival,
                              std::size_t bytesUpstream = 0);
    // How many leading bytes of a run of constant-size packets (no
    // descriptions) not to play: a whole number of packets.
    std::size_t bytesToSkip(std::size_t byteCount, TimePoint arrival,
                            std::size_t bytesUpstream = 0);

    // How far behind the newest audio received the playing is at `now`, in
    // seconds; none before the first kept packet or for a stream that is
    // never cut.
    std::optional<double> behindLiveSeconds(TimePoint now) const;

    // Keeps `seconds` more than the target at the next deliveries: audio
    // said since a moment that much before them is owed to the listener.
    void reachBack(double seconds);

  private:
    // Positions are in sample frames since the start of the stream.
    double pendingFrames(TimePoint now) const;
    // Of `count` packets of `framesEach` frames, the first ones to skip.
    std::size_t decide(std::size_t count, std::int64_t framesEach, TimePoint arrival,
                       double upstreamFrames);

    double targetSeconds_;
    mutable std::mutex mutex_;
    double sampleRate_ = 0;
    std::int64_t framesPerPacket_ = 0;
    std::uint32_t bytesPerPacket_ = 0;
    std::int64_t newestEnd_ = 0;   // end of the newest audio received
    std::int64_t keptEnd_ = 0;     // end of the newest audio kept
    std::int64_t keptFrames_ = 0;  // all audio kept
    std::optional<TimePoint> firstKept_;
};

}  // namespace orvento
