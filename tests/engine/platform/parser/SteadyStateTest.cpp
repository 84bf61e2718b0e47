// Bounded memory: a long stream is parsed without heap allocation once the
// format is known, whatever the split, and runs stay bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "tests/engine/platform/parser/AllocationCounter.h"
#include "tests/engine/platform/parser/ParserTestSupport.h"

namespace orvento::test {
namespace {

// The zero counts below mean something only if the counter sees allocations.
TEST(AllocationCounter, SeesAnAllocationOnThisThread) {
    startCountingAllocations();
    auto block = std::make_unique<std::vector<int>>(100);
    long counted = stopCountingAllocations();
    EXPECT_EQ(block->size(), 100u);
    EXPECT_EQ(counted, 2);
}

// Counts packets without allocating.
struct Counter {
    UInt64 packets = 0;
    UInt64 bytes = 0;
    UInt32 largestRun = 0;
    int ready = 0;
    static void onProperty(void* self, AudioFileStreamID, AudioFileStreamPropertyID id,
                           AudioFileStreamPropertyFlags*) {
        if (id == kAudioFileStreamProperty_ReadyToProducePackets) {
            ++static_cast<Counter*>(self)->ready;
        }
    }
    static void onPackets(void* self, UInt32 numberBytes, UInt32 numberPackets, const void*,
                          AudioStreamPacketDescription*) {
        auto& c = *static_cast<Counter*>(self);
        c.packets += numberPackets;
        c.bytes += numberBytes;
        c.largestRun = std::max(c.largestRun, numberBytes);
    }
};

struct SteadyRow {
    const char* fixture;
    size_t skipHead;  // bytes of the fixture before its frames/data
    size_t repeats;
};

void PrintTo(const SteadyRow& row, std::ostream* out) {
    *out << row.fixture;
}

class SteadyState : public ::testing::TestWithParam<SteadyRow> {};

TEST_P(SteadyState, ALongStreamAllocatesNothingOnceReady) {
    const SteadyRow& row = GetParam();
    std::vector<UInt8> file = readFixture(row.fixture);
    // A stream many times longer than the fixture: its audio repeated.
    std::vector<UInt8> body(file.begin() + static_cast<long>(row.skipHead), file.end());
    std::vector<UInt8> stream(file.begin(), file.begin() + static_cast<long>(row.skipHead));
    for (size_t i = 0; i < row.repeats; ++i) {
        stream.insert(stream.end(), body.begin(), body.end());
    }
    for (size_t chunk : {size_t{1}, size_t{777}, size_t{32768}}) {
        Counter counter;
        AudioFileStreamID s = nullptr;
        ASSERT_EQ(AudioFileStreamOpen(&counter, &Counter::onProperty, &Counter::onPackets,
                                      kAudioFileMP3Type, &s),
                  noErr);
        size_t pos = 0;
        // Warm up until packets flow, then count.
        while (pos < stream.size() && counter.packets == 0) {
            size_t n = std::min(chunk, stream.size() - pos);
            ASSERT_EQ(AudioFileStreamParseBytes(s, static_cast<UInt32>(n), stream.data() + pos, 0),
                      noErr);
            pos += n;
        }
        startCountingAllocations();
        OSStatus status = noErr;
        while (pos < stream.size() && status == noErr) {
            size_t n = std::min(chunk, stream.size() - pos);
            status = AudioFileStreamParseBytes(s, static_cast<UInt32>(n), stream.data() + pos, 0);
            pos += n;
        }
        long allocations = stopCountingAllocations();
        EXPECT_EQ(status, noErr);
        EXPECT_EQ(allocations, 0) << "chunk " << chunk;
        EXPECT_EQ(counter.ready, 1);
        EXPECT_GT(counter.packets, row.repeats);
        EXPECT_LE(counter.largestRun, std::max<size_t>(chunk, 65536) + 65536);
        EXPECT_EQ(AudioFileStreamClose(s), noErr);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, SteadyState,
                         ::testing::Values(SteadyRow{"mpeg2_l3.mp3", 0, 60},
                                           SteadyRow{"adts_stereo.aac", 0, 60},
                                           SteadyRow{"wav_live_zero.wav", 78, 40}),
                         [](const auto& info) {
                             std::string name = info.param.fixture;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace orvento::test
