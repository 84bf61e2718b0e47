// The read-batching rule of the HTTP stream (HttpStream.h, "Slow
// streams"): after each read of the transfer it says whether the socket is
// left unwatched for reading for one interval, so that a slow stream's small
// pieces are read in one go. Time is passed in, so the rule can be tried in
// milliseconds. The stream's owning thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace orvento {

// How long a slow stream's socket is left unwatched for reading after a small
// read. A 16 kbit/s station that sends 20 pieces a second then costs its
// reader 4 wakes a second instead of 20; a shorter interval saves too little
// of a player's CPU, a longer one little more. A quarter of a second is far
// less than a player buffers and far below the 30 s stall rule.
inline constexpr double kReadBatchSeconds = 0.25;
// A read that took at least this many body bytes (one libcurl receive
// buffer) is never followed by a batching delay, and a stream counts as slow
// while fewer than this many bytes arrive per kReadBatchSeconds (64 KiB/s).
inline constexpr std::size_t kReadBatchBelowBytes = std::size_t{16} * 1024;

class ReadBatching {
  public:
    using Clock = std::chrono::steady_clock;

    // `intervalSeconds`: the delay after a small read; 0 never delays.
    explicit ReadBatching(double intervalSeconds) : interval_(intervalSeconds) {}
    double interval() const { return interval_; }

    // Judges the stream's rate afresh from `at` on: the transfer started, or
    // resumed after a pause that says nothing of its rate.
    void restart(Clock::time_point at);

    // A read at `at` that took `taken` body bytes. `socketRead`: a read of a
    // socket being watched for reading (not of the transfer's timer), which
    // may be followed by a delay; `waitedThroughDelay`: its bytes had waited
    // through one. True: leave the socket unwatched for one interval. That
    // is so for a small read (some bytes, fewer than kReadBatchBelowBytes) of
    // a slow stream (judged by the last kReadBatchSeconds, or the time since
    // the restart when that is shorter, so the first pieces of a burst do not
    // look slow) whose pieces come more often than once an interval.
    bool delayAfterRead(Clock::time_point at, std::uint64_t taken, bool socketRead,
                        bool waitedThroughDelay);

  private:
    static constexpr std::int64_t kBuckets = 8;  // of the rate window

    std::int64_t bucketOf(Clock::time_point at) const;
    bool isSlow(Clock::time_point at) const;

    const double interval_;
    Clock::time_point lastRead_{};
    // Body bytes read over the last kReadBatchSeconds, in buckets of an
    // eighth of it: constant time and memory however many pieces arrive.
    Clock::time_point origin_{};
    std::int64_t current_ = 0;
    std::array<std::uint64_t, kBuckets> buckets_{};
};

}  // namespace orvento
