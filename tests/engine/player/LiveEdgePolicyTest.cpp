// The live edge, row by row: a server's opening burst (its size, the
// station's bit rate, the target lag, the size of the reads it comes in), then
// half a minute of steady air, then a 3 s stall that ends in a heap. Packets
// of 20 ms (160 frames at 8 kHz), or PCM of 2 bytes a frame.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "engine/player/LiveEdgePolicy.h"

namespace orvento {
namespace {

using namespace std::chrono_literals;

struct Row {
    std::size_t burstBytes, bitRate;
    double target;
    std::size_t readBytes;
    std::uint32_t formatFrames;  // frames a packet as the format says; 1: PCM
    std::size_t burstSkipped;
    std::optional<double> lagAfterBurst;
    std::size_t stallSkipped;
    // Whether each read of the burst comes with the bytes of it still to be
    // read: false as on a network that brings it no faster than it is read.
    bool restKnown = true;
};

class LiveEdgePolicyTest : public testing::TestWithParam<Row> {};

TEST_P(LiveEdgePolicyTest, SkipsWhatIsOlderThanTheTarget) {
    const Row& row = GetParam();
    const bool pcm = row.formatFrames == 1;
    const std::size_t packetBytes = pcm ? 2 : row.bitRate / 400, perSecond = pcm ? 8000 : 50;
    LiveEdgePolicy policy(row.target);
    AudioFormat format{};
    format.sampleRate = 8000;
    format.framesPerPacket = row.formatFrames;
    format.bytesPerPacket = pcm ? 2 : 0;
    policy.formatKnown(format);
    LiveEdgePolicy::TimePoint t{};
    // `count` packets, with `upstream` bytes received after them.
    const auto deliver = [&](std::size_t count, std::size_t upstream = 0) {
        if (pcm) {
            return policy.bytesToSkip(count * 2, t, upstream) / 2;
        }
        std::vector<PacketDescription> packets(count, {0, 0, std::uint32_t(packetBytes)});
        return policy.packetsToSkip(packets, t, upstream);
    };
    // The burst's reads come while the rest of it waits in the stream: only
    // its end is live, however it is read.
    std::size_t skipped = 0;
    for (std::size_t left = row.burstBytes / packetBytes; left > 0;) {
        const std::size_t n = std::min(left, row.readBytes / packetBytes);
        left -= n;
        skipped += deliver(n, row.restKnown ? left * packetBytes : 0);
    }
    EXPECT_EQ(skipped, row.burstSkipped);
    const auto lag = policy.behindLiveSeconds(t);
    ASSERT_EQ(lag.has_value(), row.lagAfterBurst.has_value());
    EXPECT_NEAR(lag.value_or(0), row.lagAfterBurst.value_or(0), 1e-6);
    for (skipped = 0; t < LiveEdgePolicy::TimePoint(30s);) {
        t += 500ms;
        skipped += deliver(perSecond / 2);
    }
    EXPECT_EQ(skipped, 0U) << "steady air";
    t += 3s;
    skipped = deliver(3 * perSecond);
    EXPECT_EQ(skipped, row.stallSkipped) << "after a stall";
    if (lag) {
        const double kept = double(3 * perSecond - skipped) / double(perSecond);
        EXPECT_NEAR(policy.behindLiveSeconds(t + 250ms).value_or(0), kept - 0.25, 1e-6);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LiveEdgePolicyTest,
    testing::Values(Row{65536, 16000, 1.5, 65536, 160, 1562, 1.52, 74},
                    Row{65536, 16000, 1.5, 4096, 160, 1562, 1.52, 74},  // in 4 KiB reads: as one
                    // Each read all there is so far: the newest piece is live.
                    Row{65536, 16000, 1.5, 4096, 160, 1556, 1.64, 74, false},
                    Row{65536, 128000, 1.5, 4096, 160, 120, 4.08, 74, false},
                    Row{65536, 8000, 1.5, 65536, 160, 3200, 1.52, 74},
                    Row{65536, 16000, 0.5, 65536, 160, 1612, 0.52, 124},
                    Row{2000, 16000, 1.5, 65536, 160, 0, 1.0, 74},  // within the target
                    Row{65536, 128000, 1.5, 4096, 160, 128, 1.52, 74},
                    Row{65536, 128000, 1.5, 65536, 1, 20767, 1.500125, 11999},  // PCM
                    Row{65536, 16000, 1.5, 65536, 0, 0, std::nullopt, 0}));     // no frame count

}  // namespace
}  // namespace orvento
