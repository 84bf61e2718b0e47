// StationHistory: what a station said lately, kept as the stream's own
// compressed packets with the time each came off the network and its place
// on the audio clock, so that a stretch can be played again or saved without
// re-encoding.
//
// Bounds. Packets older than the window (measured from the newest packet's
// arrival) are dropped, and so are the oldest whenever the packet bytes and
// their records would take more than maxBytes, whatever the bit rate: the
// bytes live in one ring that grows up to three quarters of maxBytes, the
// records in the rest. A packet larger than the ring can ever be is not kept.
//
// Streams. Each stream is a segment with its format, magic cookie and the
// station it came from (the history runs on when the station changes, and a
// reader must not take one station's audio for another's); a segment that
// follows an ended stream is marked as coming after a gap (a reconnection,
// another station, or the station played again). Packets before the first
// beginStream are not kept.
//
// The audio clock: seconds of audio from the first stream on, as the writer
// counts them (the live detector's clock), running on across streams.
//
// Threads: one writer at a time (a player's worker); the readers on any
// thread. Every call takes the history's lock for as long as it copies.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "engine/base/AudioFormat.h"

namespace orvento {

class StationHistory {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    static constexpr std::chrono::minutes kDefaultWindow{30};
    // between() starts this much early, so that a first syllable is whole.
    static constexpr double kLeadInSeconds = 0.2;

    // A stretch of one segment, ready to be played or written.
    struct Excerpt {
        AudioFormat format{};
        std::vector<std::uint8_t> cookie;
        std::vector<std::uint8_t> bytes;
        // One per packet, offsets into `bytes`; empty for linear PCM.
        std::vector<PacketDescription> descriptions;
        double fromSeconds = 0;  // audio clock of the first packet
        double toSeconds = 0;    // and of the end of the last
        Clock::time_point firstArrival{};
        bool afterGap = false;
        std::string station;  // as beginStream was given it
    };

    explicit StationHistory(std::chrono::seconds window = kDefaultWindow,
                            std::size_t maxBytes = kMaxBytes);
    StationHistory(const StationHistory&) = delete;
    StationHistory& operator=(const StationHistory&) = delete;

    // Takes effect with the next packet.
    void setWindow(std::chrono::seconds window);

    // The writer.
    void beginStream(const AudioFormat& format, std::span<const std::uint8_t> cookie,
                     std::string station = {});
    // One packet (or, for linear PCM, a run of whole frames) of `frames`
    // frames, starting at `seconds` on the audio clock.
    void append(std::span<const std::uint8_t> packet, std::uint32_t frames,
                Clock::time_point arrival, double seconds);
    void endStream();

    // The readers. The packets that start in [fromSeconds - kLeadInSeconds,
    // toSeconds] on the audio clock, and those that arrived at `from` or later; one excerpt per
    // segment, oldest first.
    std::vector<Excerpt> between(double fromSeconds, double toSeconds) const;
    std::vector<Excerpt> since(Clock::time_point from) const;

    std::size_t packetCount() const;
    std::size_t packetBytes() const;
    // Bytes taken by the ring and the records: never more than maxBytes.
    std::size_t memoryBytes() const;
    std::size_t segmentCount() const;

  private:
    struct Record {
        std::uint64_t at;  // position of the first byte since the first packet
        std::uint32_t size;
        std::uint32_t frames;
        double seconds;
        Clock::time_point arrival;
        std::uint64_t segment;
    };
    struct Segment {
        std::uint64_t id;
        AudioFormat format;
        std::vector<std::uint8_t> cookie;
        bool afterGap;
        std::string station;
    };

    template <typename Wanted>
    std::vector<Excerpt> collect(Wanted wanted) const;
    void dropOldest();
    void growRing(std::size_t needed);
    void writeAt(std::uint64_t at, std::span<const std::uint8_t> bytes);
    void copyOut(const Record& record, std::vector<std::uint8_t>& to) const;
    std::size_t recordLimit() const;

    const std::size_t maxBytes_;
    const std::size_t ringLimit_;

    mutable std::mutex mutex_;  // guards everything below
    Clock::duration window_;
    std::vector<std::uint8_t> ring_;
    std::uint64_t head_ = 0;  // position of the next byte
    std::deque<Record> records_;
    std::deque<Segment> segments_;
    bool streaming_ = false;
    std::uint64_t nextSegment_ = 0;
};

}  // namespace orvento
