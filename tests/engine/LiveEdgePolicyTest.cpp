// The live edge, row by row: a server's opening burst (its size, the
// station's bit rate, the target lag, the size of the reads it comes in),
// then half a minute of steady air, then a stall that ends in a heap. The
// packets are of 20 ms (160 frames at 8 kHz) unless the row is PCM.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/LiveEdgePolicy.h"

namespace orvento {
namespace {

using namespace std::chrono_literals;

struct Row {
    const char* name;
    std::size_t burstBytes, bitRate;
    double target;
    std::size_t readBytes;
    UInt32 formatFrames;  // frames per packet the format states; 1: PCM, 2 bytes a frame
    std::size_t burstSkipped;
    std::optional<double> lagAfterBurst;
    std::size_t stallSkipped;
};

const Row kRows[] = {
    {"16 kbit/s, one read", 65536, 16000, 1.5, 65536, 160, 1562, 1.52, 74},
    {"16 kbit/s, 4 KiB reads", 65536, 16000, 1.5, 4096, 160, 1556, 1.64, 74},
    {"8 kbit/s", 65536, 8000, 1.5, 65536, 160, 3200, 1.52, 74},
    {"target 0.5 s", 65536, 16000, 0.5, 65536, 160, 1612, 0.52, 124},
    {"burst within the target", 2000, 16000, 1.5, 65536, 160, 0, 1.0, 74},
    {"128 kbit/s, 4 KiB reads", 65536, 128000, 1.5, 4096, 160, 120, 4.08, 74},
    {"PCM", 65536, 128000, 1.5, 65536, 1, 20767, 1.500125, 11999},
    {"no frame count", 65536, 16000, 1.5, 65536, 0, 0, std::nullopt, 0},
};

class LiveEdgePolicyTest : public testing::TestWithParam<Row> {
  protected:
    bool pcm() const { return GetParam().formatFrames == 1; }
    std::size_t packetBytes() const { return pcm() ? 2 : GetParam().bitRate / 400; }
    std::size_t packetsIn(std::chrono::milliseconds audio) const {
        return static_cast<std::size_t>(audio.count()) * (pcm() ? 8 : 1) / (pcm() ? 1 : 20);
    }
    double packetSeconds() const { return pcm() ? 1.0 / 8000 : 0.02; }

    // Delivers `count` packets arriving at `at`; the number skipped.
    std::size_t deliver(std::size_t count, LiveEdgePolicy::TimePoint at) {
        if (pcm()) {
            return policy.bytesToSkip(count * 2, at) / 2;
        }
        std::vector<AudioStreamPacketDescription> packets(count);
        for (std::size_t i = 0; i < count; ++i) {
            packets[i] = {static_cast<SInt64>(i * packetBytes()), 0,
                          static_cast<UInt32>(packetBytes())};
        }
        return policy.packetsToSkip(packets, at);
    }

    LiveEdgePolicy policy{GetParam().target};
};

TEST_P(LiveEdgePolicyTest, SkipsWhatIsOlderThanTheTarget) {
    const Row& row = GetParam();
    AudioStreamBasicDescription format{};
    format.mSampleRate = 8000;
    format.mFramesPerPacket = row.formatFrames;
    format.mBytesPerPacket = pcm() ? 2 : 0;
    policy.formatKnown(format);

    LiveEdgePolicy::TimePoint t{};
    std::size_t burst = row.burstBytes / packetBytes();
    const std::size_t perRead = row.readBytes / packetBytes();
    std::size_t skipped = 0;
    while (burst > 0) {
        const std::size_t n = std::min(burst, perRead);
        skipped += deliver(n, t);
        burst -= n;
    }
    EXPECT_EQ(skipped, row.burstSkipped);
    const auto lag = policy.behindLiveSeconds(t);
    ASSERT_EQ(lag.has_value(), row.lagAfterBurst.has_value());
    if (lag) {
        EXPECT_NEAR(*lag, *row.lagAfterBurst, 1e-6);
    }

    skipped = 0;
    for (int i = 0; i < 60; ++i) {
        t += 500ms;
        skipped += deliver(packetsIn(500ms), t);
    }
    EXPECT_EQ(skipped, 0U) << "steady air";

    t += 3s;
    const std::size_t heap = packetsIn(3000ms);
    skipped = deliver(heap, t);
    EXPECT_EQ(skipped, row.stallSkipped) << "after a stall";
    if (lag) {
        EXPECT_NEAR(*policy.behindLiveSeconds(t), double(heap - skipped) * packetSeconds(), 1e-6);
        EXPECT_NEAR(*policy.behindLiveSeconds(t + 250ms),
                    double(heap - skipped) * packetSeconds() - 0.25, 1e-6);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LiveEdgePolicyTest, testing::ValuesIn(kRows), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
});

}  // namespace
}  // namespace orvento
