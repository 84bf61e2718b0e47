// Every fatal set-up and hand-over failure, in a whole run: the error line,
// then the worker's failure path (its stop telling true then false on the
// worker thread, one alert there) and a teardown that leaves nothing behind.
#include <gtest/gtest.h>

#include "tests/engine/PlayerHarness.h"

namespace orvento::test {
namespace {

struct FatalRow {
    const char* name;
    Op op;
    int nth;
    UInt32 propertyId;
    const char* line;
    bool queueMade;  // a queue exists when the failure happens
    const char* fixtureName;
    std::size_t bytes = 0;  // of the fixture, from its start; 0: all of it
};

class FatalFault : public testing::TestWithParam<FatalRow> {};

TEST_P(FatalFault, LogsAlertsAndTearsDown) {
    const FatalRow& row = GetParam();
    PlayerHarness h;
    h.platform->failCall(row.op, fourCharStatus("oops"), row.nth, 1, row.propertyId);
    StdoutCapture out;
    const std::vector<UInt8> file = readFile(fixture(row.fixtureName));
    const std::string body(
        file.begin(),
        file.begin() + static_cast<std::ptrdiff_t>(row.bytes > 0 ? row.bytes : file.size()));
    h.createFor("/a", Script::fixed(body)).start();
    ASSERT_TRUE(h.waitEnded());
    // The first failure is the one kept, however many follow from it.
    EXPECT_EQ(h.player->failureReason(), std::string(row.line) + " failed: 'oops' (1869574259)");

    const auto lines = out.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(row.line) + " err spoo 1869574259"),
              lines.end())
        << testing::PrintToString(lines);
    const auto alerts = h.alerts->alerts();
    ASSERT_EQ(alerts.size(), 1U);
    EXPECT_EQ(alerts[0].thread, h.workerThread());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    for (const Notification& n : h.observer.notifications()) {
        EXPECT_EQ(n.thread, h.workerThread());
    }
    EXPECT_TRUE(h.observer.ended());
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    EXPECT_EQ(h.count(Op::AudioQueueDispose), row.queueMade ? 1 : 0);
    EXPECT_EQ(h.platform->buffersHeldByQueue(), 0);
}

// 800 bytes of the MP3 hold less than a hand-over's duration, and the AIFC
// (0.6 s) less than the start's lead: their hand-over and start come with the
// end of the stream. The AIFC's first buffer and the whole MP3's lead (1.25 s)
// come while they stream.
INSTANTIATE_TEST_SUITE_P(
    Rows, FatalFault,
    testing::Values(FatalRow{"DataFormat", Op::AudioFileStreamGetProperty, 1,
                             kAudioFileStreamProperty_DataFormat,
                             "get kAudioFileStreamProperty_DataFormat", false, "mpeg2_l3.mp3"},
                    FatalRow{"NewOutput", Op::AudioQueueNewOutput, 1, 0, "AudioQueueNewOutput",
                             false, "mpeg2_l3.mp3"},
                    FatalRow{"RunningListener", Op::AudioQueueAddPropertyListener, 1, 0,
                             "AudioQueueAddPropertyListener", true, "mpeg2_l3.mp3"},
                    FatalRow{"ThirdBuffer", Op::AudioQueueAllocateBuffer, 3, 0,
                             "AudioQueueAllocateBuffer", true, "mpeg1_l3_vbr_xing.mp3"},
                    FatalRow{"HandOverAtTheEnd", Op::AudioQueueEnqueueBuffer, 1, 0,
                             "AudioQueueEnqueueBuffer", true, "mpeg2_l3.mp3", 800},
                    FatalRow{"StartAtTheEnd", Op::AudioQueueStart, 1, 0, "AudioQueueStart", true,
                             "aifc_fl64.aifc"},
                    FatalRow{"HandOverWhileStreaming", Op::AudioQueueEnqueueBuffer, 1, 0,
                             "AudioQueueEnqueueBuffer", true, "aifc_fl64.aifc"},
                    FatalRow{"StartWhileStreaming", Op::AudioQueueStart, 1, 0, "AudioQueueStart",
                             true, "mpeg2_l3.mp3"}),
    [](const testing::TestParamInfo<FatalRow>& info) { return info.param.name; });

}  // namespace
}  // namespace orvento::test
