// The read stream's batching rule on its own, in simulated time: read by
// read, which reads are followed by a batching delay.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/net/ReadBatching.h"

namespace orvento {
namespace {

using Clock = ReadBatching::Clock;

struct Read {
    double atMs;  // since the transfer started
    std::uint64_t bytes;
    bool socketRead = true;
    bool waitedThroughDelay = false;
};

// `count` reads of `bytes`, every `everyMs`, from `fromMs` on.
std::vector<Read> reads(int count, std::uint64_t bytes, double everyMs, double fromMs = 0) {
    std::vector<Read> out;
    for (int i = 1; i <= count; ++i) {
        out.push_back({fromMs + i * everyMs, bytes});
    }
    return out;
}

std::vector<Read> operator+(std::vector<Read> a, const std::vector<Read>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct BatchingRow {
    const char* name;
    std::vector<Read> reads;
    std::vector<int> delayedReads;  // 1-based; empty: none
    double interval = kReadBatchSeconds;
    double restartAtMs = -1;  // a resume: the rate is judged afresh from there
};

class ReadBatchingRule : public testing::TestWithParam<BatchingRow> {};

TEST_P(ReadBatchingRule, DelaysOnlySmallFrequentReadsOfASlowStream) {
    const BatchingRow& row = GetParam();
    ReadBatching rule(row.interval);
    const Clock::time_point start{};
    const auto at = [&](double ms) {
        return start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double, std::milli>(ms));
    };
    rule.restart(start);
    std::vector<int> delayed;
    for (std::size_t i = 0; i < row.reads.size(); ++i) {
        const Read& r = row.reads[i];
        if (row.restartAtMs >= 0 && r.atMs >= row.restartAtMs &&
            (i == 0 || row.reads[i - 1].atMs < row.restartAtMs)) {
            rule.restart(at(row.restartAtMs));
        }
        if (rule.delayAfterRead(at(r.atMs), r.bytes, r.socketRead, r.waitedThroughDelay)) {
            delayed.push_back(static_cast<int>(i) + 1);
        }
    }
    EXPECT_EQ(delayed, row.delayedReads);
}

std::vector<int> oneTo(int n) {
    std::vector<int> v(static_cast<std::size_t>(n));
    std::iota(v.begin(), v.end(), 1);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadBatchingRule,
    testing::Values(
        // A 16 kbit/s station: 20 pieces of 100 bytes a second.
        BatchingRow{"ADripIsBatched", reads(10, 100, 50), oneTo(10)},
        // Pieces further apart than an interval cost a wake each anyway.
        BatchingRow{"RarePiecesAreNot", reads(5, 100, 300), {}},
        // ... unless they waited through a delay: then the drip goes on.
        BatchingRow{
            "ARareReadAfterADelayIs", {{300, 100, true, true}, {600, 100, true, true}}, {1, 2}},
        BatchingRow{"LargeReadsAreNot", reads(10, kReadBatchBelowBytes, 50), {}},
        BatchingRow{"ReadsOfNothingAreNot", reads(5, 0, 10), {}},
        // libcurl's own timer, and sockets not being read, are never delayed.
        BatchingRow{
            "OnlySocketReadsAre", {{10, 100, false}, {20, 100, false}, {30, 100, true}}, {3}},
        BatchingRow{"AZeroIntervalNeverDelays", reads(10, 100, 50), {}, 0},
        // 400 kB/s in pieces of 500 bytes: fast, however small each read.
        BatchingRow{"AFastStreamInSmallPiecesIsNot", reads(200, 500, 1.25), {}},
        // A burst's first pieces: fast for the time observed so far.
        BatchingRow{"TheStartOfABurstIsNot", reads(5, 12000, 2), {}},
        // A fast stream's small read between large ones.
        BatchingRow{"ASmallReadBetweenLargeOnesIsNot",
                    reads(10, 20000, 10) + reads(1, 100, 10, 100) + reads(10, 20000, 10, 110),
                    {}},
        // The rate is that of the last interval: a fast stream that turns into
        // a drip is batched once the fast part has left the window.
        BatchingRow{"ADripAfterAFastPartOnceTheWindowHasPassed",
                    reads(10, 20000, 10) + reads(10, 100, 50, 100),
                    {15, 16, 17, 18, 19, 20}},
        // After a resume the rate is judged afresh: the backlog's large reads
        // are forgotten.
        BatchingRow{"AResumeForgetsTheRate",
                    reads(10, 15000, 10) + reads(3, 100, 10, 100),
                    {11, 12, 13},
                    kReadBatchSeconds,
                    105}),
    [](const testing::TestParamInfo<BatchingRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
