// The stream's events: reading, parse feeding, the end of the stream and the
// ways a stream fails.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/engine/PlayerHarness.h"
#include "tests/engine/TestStreams.h"

namespace orvento::test {
namespace {

const std::string kShortMp3 = "mpeg2_l3.mp3";

Script mp3File(const std::string& name = kShortMp3) {
    return Script::fromFile(fixture(name).string());
}

// What a failed stream must show: one alert, true then false from the
// worker's own stop, the stream closed by that stop, everything torn down.
void expectFailurePath(PlayerHarness& h) {
    ASSERT_TRUE(h.waitEnded());
    const auto alerts = h.alerts->alerts();
    ASSERT_EQ(alerts.size(), 1U);
    EXPECT_EQ(alerts[0].title, "Audio Error");
    EXPECT_EQ(alerts[0].message, "Attempt to play streaming audio failed.");
    EXPECT_EQ(alerts[0].thread, h.workerThread());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    for (const Notification& n : h.observer.notifications()) {
        EXPECT_EQ(n.thread, h.workerThread());
    }
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    EXPECT_EQ(h.count(Op::CFReleaseStream), 1);
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    EXPECT_TRUE(waitUntil([&] { return h.server.connectionsOpen() == 0; }));
}

TEST(StreamFailure, AReadErrorFailsWithoutALine) {
    PlayerHarness h;
    h.platform->failCall(Op::CFReadStreamRead, 1);
    StdoutCapture out;
    h.createFor("/a.mp3", mp3File()).start();
    expectFailurePath(h);
    EXPECT_TRUE(out.lines().empty());
    EXPECT_EQ(h.count(Op::AudioFileStreamParseBytes), 0);
    // The stream itself has no words for a read made to fail.
    EXPECT_EQ(h.player->failureReason(), "the stream could not be read");
}

TEST(StreamFailure, AnErrorEventFailsAndNothingIsReadAfterIt) {
    PlayerHarness h;
    h.platform->replaceBytesEventWithError(1);
    StdoutCapture out;
    // Paced, so that more bytes arrive while the failure waits for the poll.
    Script s = mp3File();
    s.repeated();
    s.paced(20000);
    h.createFor("/live", s).start();
    expectFailurePath(h);
    EXPECT_TRUE(out.lines().empty());
    EXPECT_EQ(h.count(Op::CFReadStreamRead), 0);
    EXPECT_EQ(h.player->failureReason(), "the stream reported an error");
}

TEST(StreamFailure, AServerThatClosesMidStreamFails) {
    PlayerHarness h;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.closeAfter(6000);  // the Content-Length promises more
    h.createFor("/a.mp3", s).start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.alerts->alerts().size(), 1U);
    EXPECT_FALSE(h.observer.values().empty());
    EXPECT_FALSE(h.observer.values().back());
    // The transfer's own words.
    EXPECT_TRUE(h.player->failureReason().starts_with("transfer closed with "))
        << h.player->failureReason();
}

TEST(StreamFailure, AParseErrorLogsTheParseLine) {
    PlayerHarness h;
    h.platform->failCall(Op::AudioFileStreamParseBytes, fourCharStatus("dta?"));
    StdoutCapture out;
    h.createFor("/a.mp3", mp3File()).start();
    expectFailurePath(h);
    EXPECT_EQ(out.lines(),
              std::vector<std::string>{"AudioFileStreamParseBytes err ?atd 1685348671"});
}

// The hand-overs made before the queue was started.
std::size_t handOversBeforeTheStart(const PlayerHarness& h) {
    std::size_t n = 0;
    for (const CallRecord& c : h.platform->calls()) {
        if (c.op == Op::AudioQueueStart) {
            return n;
        }
        n += c.op == Op::AudioQueueEnqueueBuffer ? 1 : 0;
    }
    return n;
}

struct NoAudioRow {
    const char* name;
    std::function<Script()> script;  // made when the test runs: fixtures are read then
    const char* reason;
};

class StreamWithoutAudio : public testing::TestWithParam<NoAudioRow> {};

TEST_P(StreamWithoutAudio, FailsAtTheLatestAtTheEndAndSaysWhy) {
    PlayerHarness h;
    h.createFor("/a.mp3", GetParam().script()).start();
    expectFailurePath(h);
    EXPECT_EQ(h.count(Op::AudioQueueStart), 0);
    EXPECT_EQ(h.count(Op::AudioQueueFlush), 0);
    EXPECT_EQ(h.player->failureReason(), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StreamWithoutAudio,
    testing::Values(
        NoAudioRow{"EmptyBody", [] { return Script::fixed(""); }, "not an audio stream"},
        NoAudioRow{"ErrorPage", [] { return Script::notFound(); },
                   "the server answered \"HTTP/1.1 404 Not Found\""},
        NoAudioRow{"ErrorStatusWithAudio",
                   [] {
                       Script s = mp3File("mpeg1_l3_vbr_xing.mp3");
                       s.closeAfter(3000).withStatusLine("HTTP/1.1 503 Service Unavailable");
                       return s;
                   },
                   "the server answered \"HTTP/1.1 503 Service Unavailable\""},
        NoAudioRow{"TextBody", [] { return Script::fixed(std::string(100000, 'x'), "text/plain"); },
                   "not an audio stream"},
        NoAudioRow{"Mp4IndexLast", [] { return mp3File("m4a_moov_last.m4a"); },
                   "MP4 whose index comes after its data cannot be streamed"},
        NoAudioRow{"HeaderLineOf200KB",
                   [] { return mp3File().withHeader("X-Big: " + std::string(200'000, 'a')); },
                   "The server's response header is too long (a header line over 100 KB)."}),
    [](const testing::TestParamInfo<NoAudioRow>& info) { return info.param.name; });

TEST(StreamEnd, AStreamShorterThanTheLeadStartsAtItsEnd) {
    PlayerHarness h;
    const std::vector<UInt8> file = readFile(fixture(kShortMp3));
    h.createFor("/a.mp3", Script::fixed(std::string(file.begin(), file.begin() + 3000)))
        .start();  // 0.75 s at 32 kbit/s
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    const auto records = h.platform->enqueues();
    ASSERT_GE(records.size(), 2U);
    EXPECT_EQ(handOversBeforeTheStart(h), records.size());
    EXPECT_EQ(h.count(Op::AudioQueueStart), 1);
    EXPECT_EQ(h.count(Op::AudioQueueFlush), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 0), 1);
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(h.player->failureReason(), "");
}

TEST(StreamEnd, BuffersGoOverByDurationAndTheQueueStartsWithTheLead) {
    PlayerHarness h;
    Script s = mp3File("mpeg1_l3_vbr_xing.mp3");  // 44.1 kHz, 1152 frames a packet
    s.repeated(200000);                           // about 18 s
    h.createFor("/a.mp3", s).start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    constexpr double kRate = 44100;
    constexpr double kFramesPerPacket = 1152;
    const auto packetsPerBuffer =
        static_cast<UInt32>(std::ceil(kHandOverSeconds * kRate / kFramesPerPacket));
    const auto buffersForTheLead = static_cast<std::size_t>(
        std::ceil(kStartLeadSeconds * kRate / (packetsPerBuffer * kFramesPerPacket)));
    std::size_t total = 0;
    const auto records = h.platform->enqueues();
    ASSERT_GT(records.size(), 50U);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        // Every buffer but the last goes over once it holds the duration.
        EXPECT_EQ(records[i].packetDescCount, packetsPerBuffer) << i;
        total += records[i].byteSize;
    }
    EXPECT_LE(records.back().packetDescCount, packetsPerBuffer);
    total += records.back().byteSize;
    EXPECT_GT(total, 190000U);
    EXPECT_EQ(h.count(Op::AudioQueueStart), 1);
    EXPECT_EQ(handOversBeforeTheStart(h), buffersForTheLead);
}

struct EndFaultRow {
    const char* name;
    Op op;
    UInt32 detail;
    const char* line;
};

class EndOfStreamFault : public testing::TestWithParam<EndFaultRow> {};

// A queue that was not told to play out and stop would leave the player
// "playing" while nothing plays: the refusal is a failure, and its path stops
// the queue at once.
TEST_P(EndOfStreamFault, FailsAndStopsTheQueue) {
    const EndFaultRow& row = GetParam();
    PlayerHarness h(/*realTimeOutput=*/true);
    h.platform->failCall(row.op, fourCharStatus("oops"), 1, 1, row.detail);
    StdoutCapture out;
    h.createFor("/a.mp3", mp3File()).start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
    EXPECT_EQ(h.alerts->alerts().size(), 1U);
    EXPECT_EQ(h.player->failureReason(), std::string(row.line) + " failed: 'oops' (1869574259)");
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 1);
    EXPECT_EQ(h.countWith(Op::AudioSessionSetActive, 0), 1);
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    const auto lines = out.lines();
    std::string printed;
    for (const std::string& line : lines) {
        printed += "[" + line + "]\n";
    }
    ASSERT_EQ(lines.size(), 2U) << printed;  // the cookie line, then the end's
    EXPECT_EQ(lines[1], std::string(row.line) + " err spoo 1869574259");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EndOfStreamFault,
    testing::Values(EndFaultRow{"Flush", Op::AudioQueueFlush, 0, "AudioQueueFlush"},
                    EndFaultRow{"StopAfterPlayOut", Op::AudioQueueStop, 0, "AudioQueueStop"}),
    [](const testing::TestParamInfo<EndFaultRow>& info) { return info.param.name; });

TEST(StreamRead, AReadOfNothingChangesNothing) {
    PlayerHarness h;
    h.platform->readReturnsZero(1);
    Script s = mp3File();
    s.paced(4000);  // more bytes keep coming after the empty read
    h.createFor("/a.mp3", s).start();
    ASSERT_TRUE(h.waitEnded());
    // The empty read reached no parser; the rest of the stream played.
    EXPECT_EQ(h.count(Op::AudioFileStreamParseBytes), h.count(Op::CFReadStreamRead) - 1);
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.alerts->alerts().empty());
}

TEST(StreamRead, TheFirstParseAfterReadyIsMarkedDiscontinuousOthersAreNot) {
    PlayerHarness h;
    Script s = mp3File("mpeg1_l3_vbr_xing.mp3");
    s.writesOf(1000);
    // Slow enough to last several of the read stream's batching intervals,
    // so that many reads follow the first.
    s.paced(8000);
    h.createFor("/a.mp3", s).start();
    ASSERT_TRUE(h.waitEnded());
    int marked = 0;
    for (const CallRecord& c : h.platform->callsOf(Op::AudioFileStreamParseBytes)) {
        marked += c.detail == kAudioFileStreamParseFlag_Discontinuity ? 1 : 0;
    }
    // Packets follow readiness in the same parse call, which clears the mark.
    EXPECT_LE(marked, 1);
    EXPECT_GT(h.count(Op::AudioFileStreamParseBytes), 3);
}

TEST(StreamEvents, AfterAFailureOrAStopBytesEventsReadNothing) {
    for (bool viaFinished : {false, true}) {
        auto platform = std::make_shared<FaultInjectingPlatform>();
        auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
        PelorinTestAccess access(*player);
        if (viaFinished) {
            access.setFinished();
        } else {
            access.event(kCFStreamEventErrorOccurred);
            ASSERT_TRUE(access.failed());
        }
        access.event(kCFStreamEventHasBytesAvailable);
        access.event(kCFStreamEventEndEncountered);
        EXPECT_EQ(platform->count(Op::CFReadStreamRead), 0);
        EXPECT_EQ(platform->count(Op::AudioQueueFlush), 0);
    }
}

TEST(StreamEvents, AnErrorEventFailsEvenWhenFinished) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    access.setFinished();
    access.event(kCFStreamEventErrorOccurred);
    EXPECT_TRUE(access.failed());
}

TEST(StreamEvents, EndRightAfterAHandOverOnlyFlushesAndStops) {
    auto platform = std::make_shared<FaultInjectingPlatform>();
    auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
    PelorinTestAccess access(*player);
    ASSERT_EQ(access.openParser(kAudioFileWAVEType), noErr);
    access.parse(wavHeader(48000, 2, 16, 0x7FFFFFF0));
    access.deliver(std::vector<UInt8>(kBufferSize), {}, false);
    access.enqueueFillBuffer();
    ASSERT_EQ(access.bytesFilled(), 0U);
    access.endEncountered();
    EXPECT_EQ(platform->enqueues().size(), 1U);
    EXPECT_EQ(platform->count(Op::AudioQueueFlush), 1);
    EXPECT_EQ(platform->count(Op::AudioQueueStop), 1);
    EXPECT_FALSE(access.failed());
    access.teardown();
}

}  // namespace
}  // namespace orvento::test
