// The output queue's creation when the parser knows the format, driven on the
// test's thread against the real parser and queue.
#include <gtest/gtest.h>

#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/FaultInjectingPlatform.h"
#include "tests/engine/PelorinTestAccess.h"
#include "tests/engine/TestStreams.h"

namespace orvento::test {
namespace {

struct SetupFaultRow {
    const char* name;
    Op op;
    int nth;
    UInt32 propertyId;
    const char* line;  // the one error line expected
    bool failed;
    bool queueExists;
    int buffersAllocated;
    bool cookieAsked;  // the cookie's size was asked for
};

class QueueSetupFault : public testing::TestWithParam<SetupFaultRow> {};

TEST_P(QueueSetupFault, LogsTheStepAndLeavesWhatWasCreated) {
    const SetupFaultRow& row = GetParam();
    auto platform = std::make_shared<FaultInjectingPlatform>();
    const OSStatus status = fourCharStatus("oops");
    platform->failCall(row.op, status, row.nth, 1, row.propertyId);
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileAAC_ADTSType), noErr);

    StdoutCapture out;
    // An ADTS stream has a magic cookie, so every set-up step runs.
    access.parse(readFile(fixture("adts_lc.aac")));
    const auto lines = out.lines();

    ASSERT_EQ(lines.size(), 1U) << (lines.empty() ? "" : lines[0]);
    EXPECT_EQ(lines[0], std::string(row.line) + " err spoo 1869574259");
    EXPECT_EQ(access.failed(), row.failed);
    EXPECT_EQ(access.audioQueue() != nullptr, row.queueExists);
    int allocated = 0;
    for (std::size_t i = 0; i < kBufferCount; ++i) {
        if (access.buffer(i) != nullptr) {
            // Buffers exist in ring order: no gap before an allocated one.
            EXPECT_EQ(static_cast<int>(i), allocated);
            ++allocated;
        }
    }
    EXPECT_EQ(allocated, row.buffersAllocated);
    bool cookieAsked = false;
    for (const CallRecord& c : platform->callsOf(Op::AudioFileStreamGetPropertyInfo)) {
        cookieAsked |= c.detail == kAudioFileStreamProperty_MagicCookieData;
    }
    EXPECT_EQ(cookieAsked, row.cookieAsked);
    access.teardown();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QueueSetupFault,
    testing::Values(SetupFaultRow{"DataFormat", Op::AudioFileStreamGetProperty, 1,
                                  kAudioFileStreamProperty_DataFormat,
                                  "get kAudioFileStreamProperty_DataFormat", true, false, 0, false},
                    SetupFaultRow{"NewOutput", Op::AudioQueueNewOutput, 1, 0, "AudioQueueNewOutput",
                                  true, false, 0, false},
                    SetupFaultRow{"RunningListener", Op::AudioQueueAddPropertyListener, 1, 0,
                                  "AudioQueueAddPropertyListener", true, true, 0, false},
                    // The fourth allocation fails: three buffers, and the cookie steps still run.
                    SetupFaultRow{"FourthBuffer", Op::AudioQueueAllocateBuffer, 4, 0,
                                  "AudioQueueAllocateBuffer", true, true, 3, true},
                    SetupFaultRow{"CookieSize", Op::AudioFileStreamGetPropertyInfo, 1,
                                  kAudioFileStreamProperty_MagicCookieData,
                                  "info kAudioFileStreamProperty_MagicCookieData", false, true, 6,
                                  true},
                    SetupFaultRow{"CookieBytes", Op::AudioFileStreamGetProperty, 1,
                                  kAudioFileStreamProperty_MagicCookieData,
                                  "get kAudioFileStreamProperty_MagicCookieData", false, true, 6,
                                  true},
                    SetupFaultRow{"CookieToQueue", Op::AudioQueueSetProperty, 1, 0,
                                  "set kAudioQueueProperty_MagicCookie", false, true, 6, true}),
    [](const testing::TestParamInfo<SetupFaultRow>& info) { return info.param.name; });

TEST(QueueSetup, CreatesTheQueueWithSixBuffersAndPassesTheCookie) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileAAC_ADTSType), noErr);
    StdoutCapture out;
    access.parse(readFile(fixture("adts_lc.aac")));
    EXPECT_TRUE(out.lines().empty());
    EXPECT_FALSE(access.failed());
    ASSERT_NE(access.audioQueue(), nullptr);
    for (std::size_t i = 0; i < kBufferCount; ++i) {
        ASSERT_NE(access.buffer(i), nullptr);
        EXPECT_GE(access.buffer(i)->mAudioDataBytesCapacity, kBufferSize);
    }
    const auto allocations = platform->callsOf(Op::AudioQueueAllocateBuffer);
    ASSERT_EQ(allocations.size(), kBufferCount);
    for (const CallRecord& c : allocations) {
        EXPECT_EQ(c.detail, kBufferSize);
    }
    const auto listeners = platform->callsOf(Op::AudioQueueAddPropertyListener);
    ASSERT_EQ(listeners.size(), 1U);
    EXPECT_EQ(listeners[0].detail, kAudioQueueProperty_IsRunning);
    const auto cookies = platform->callsOf(Op::AudioQueueSetProperty);
    ASSERT_EQ(cookies.size(), 1U);
    EXPECT_EQ(cookies[0].detail, kAudioQueueProperty_MagicCookie);
    access.teardown();
}

TEST(QueueSetup, AFormatWithoutCookieLogsOneLineAndGoesOn) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileMP3Type), noErr);
    StdoutCapture out;
    access.parse(readFile(fixture("mpeg1_l3_cbr_id3.mp3")));
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_TRUE(lines[0].starts_with("info kAudioFileStreamProperty_MagicCookieData err "));
    EXPECT_FALSE(access.failed());
    EXPECT_NE(access.audioQueue(), nullptr);
    EXPECT_EQ(platform->count(Op::AudioQueueSetProperty), 0);
    access.teardown();
}

TEST(QueueSetup, APropertyOtherThanReadyChangesNothing) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileMP3Type), noErr);
    access.property(kAudioFileStreamProperty_DataFormat);
    EXPECT_FALSE(access.discontinuous());
    EXPECT_EQ(access.audioQueue(), nullptr);
    EXPECT_EQ(platform->count(Op::AudioFileStreamGetProperty), 0);
    access.teardown();
}

TEST(QueueSetup, ReadyMarksTheNextParseDiscontinuous) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileWAVEType), noErr);
    // A header without samples: ready, and no packets to clear the mark.
    access.parse(wavHeader(8000, 1, 16, 1 << 20));
    ASSERT_NE(access.audioQueue(), nullptr);
    EXPECT_TRUE(access.discontinuous());
    access.deliver(std::vector<UInt8>(10), {}, false);
    EXPECT_FALSE(access.discontinuous());
    access.teardown();
}

}  // namespace
}  // namespace orvento::test
