// What goes wrong, and what the player then does: every failing platform
// call the engine tests, and every kind of stream that cannot play, in whole
// runs against a loopback station. A fatal failure writes its error line,
// keeps its reason, and takes the failure path (its own stop telling true
// then false, one alert on the worker thread, a teardown that leaves nothing
// behind); the others are logged and playback goes on, or the worker ends
// quietly.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/engine/player/PlayerHarness.h"

namespace orvento::test {
namespace {

const StatusCode kOops = fourCharStatus("oops");  // printed "oops 1869574259"

enum class ToldOn { Worker, Queue, Nobody };

struct FaultRow {
    const char* name;
    std::function<void(FaultInjectingServices&)> inject;
    std::function<Script()> script;  // made when the test runs: fixtures are read then
    const char* line;                // "<line> err oops 1869574259" is logged; "": no such line
    int lines;                       // how many times
    bool alert;
    ToldOn toldOn;
    std::string reason;  // what failureReason() starts with; empty: nothing failed
    int disposals;       // of the queue
    std::function<void(PlayerHarness&)> check = nullptr;
};

std::function<void(FaultInjectingServices&)> failing(Op op, int nth = 1, int count = 1,
                                                     std::uint32_t detail = 0) {
    return [=](FaultInjectingServices& p) { p.fake(op, kOops, nth, count, detail); };
}
// The detail of a hooked parser getter.
constexpr std::uint32_t getter(StreamProperty property) {
    return static_cast<std::uint32_t>(property);
}
const std::function<void(FaultInjectingServices&)> kNoFault = [](FaultInjectingServices&) {};
const auto kNoParse = [](PlayerHarness& h) {
    EXPECT_EQ(h.platform->count(Op::AudioFileStreamParseBytes), 0);
};

std::function<Script()> file(const char* name, std::size_t bytes = 0) {
    return [=] {
        const std::vector<std::uint8_t> data = readFile(fixture(name));
        return Script::fixed(std::string(
            data.begin(),
            data.begin() + static_cast<std::ptrdiff_t>(bytes > 0 ? bytes : data.size())));
    };
}
const auto kMp3 = file("mpeg2_l3.mp3");          // 1.25 s at 32 kbit/s: more than the lead
const auto kShortAifc = file("aifc_fl64.aifc");  // 0.6 s: less than the lead
const auto kAdts = file("adts_lc.aac");          // has a magic cookie

class PlayerFault : public testing::TestWithParam<FaultRow> {};

TEST_P(PlayerFault, IsLoggedAndEndsThePlayerAsItShould) {
    const FaultRow& row = GetParam();
    PlayerHarness h;
    row.inject(*h.platform);
    h.createFor("/a", row.script()).start();
    ASSERT_TRUE(h.waitEnded());

    const auto lines = h.platform->logLines();
    const std::string line = std::string(row.line) + " err oops 1869574259";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), *row.line != '\0' ? row.lines : 0)
        << testing::PrintToString(lines);
    EXPECT_EQ(h.alerts->alerts().size(), row.alert ? 1U : 0U) << h.diagnostics();
    for (const ShownAlert& a : h.alerts->alerts()) {
        EXPECT_EQ(a.title, "Audio Error");
        EXPECT_EQ(a.message, "Attempt to play streaming audio failed.");
        EXPECT_EQ(a.thread, h.workerThread());
    }
    const auto threads = h.observer.threads();
    switch (row.toldOn) {
        case ToldOn::Nobody:
            EXPECT_TRUE(h.observer.values().empty()) << h.diagnostics();
            break;
        case ToldOn::Worker:
            EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
            EXPECT_EQ(std::count(threads.begin(), threads.end(), h.workerThread()), 2);
            break;
        case ToldOn::Queue:
            EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
            ASSERT_EQ(threads.size(), 2U);
            EXPECT_EQ(threads[0], threads[1]);
            EXPECT_NE(threads[0], h.workerThread());
            EXPECT_NE(threads[0], std::this_thread::get_id());
            break;
    }
    // The first failure is the one kept, however many follow from it.
    if (row.reason.empty()) {
        EXPECT_EQ(h.player->failureReason(), "");
    } else {
        EXPECT_TRUE(h.player->failureReason().starts_with(row.reason)) << h.player->failureReason();
    }
    EXPECT_TRUE(h.observer.ended());
    EXPECT_EQ(h.platform->count(Op::AudioQueueDispose), row.disposals);
    EXPECT_EQ(h.platform->buffersHeldByQueue(), 0);
    EXPECT_LE(h.platform->count(Op::HttpStreamClose), 1);
    if (row.check) {
        row.check(h);
    }
}

// A fatal failure of `operation` before the queue ran.
FaultRow fatal(const char* name, std::function<void(FaultInjectingServices&)> inject,
               std::function<Script()> script, const char* operation, std::string_view words,
               int disposals, std::function<void(PlayerHarness&)> check = nullptr) {
    return {name, std::move(inject), std::move(script),  operation, 1,
            true, ToldOn::Worker,    std::string(words), disposals, std::move(check)};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlayerFault,
    testing::Values(
        // Fatal set-up failures: the queue never starts.
        fatal("DataFormat",
              failing(Op::AudioFileStreamGetProperty, 1, 1, getter(StreamProperty::DataFormat)),
              kMp3, "get kAudioFileStreamProperty_DataFormat", kUnknownFormatReason, 0),
        fatal("NewOutput", failing(Op::AudioQueueNewOutput), kMp3, "AudioQueueNewOutput",
              kOutputCannotOpenReason, 0),
        // The first step after the queue exists: the queue is disposed of.
        fatal("FirstBuffer", failing(Op::AudioQueueAllocateBuffer), kMp3,
              "AudioQueueAllocateBuffer", kOutputCannotOpenReason, 1,
              [](PlayerHarness& h) {
                  EXPECT_EQ(h.platform->count(Op::AudioQueueAllocateBuffer), 1);
              }),
        // No buffer after the failing one is asked for; the cookie steps still run.
        fatal("FourthBuffer", failing(Op::AudioQueueAllocateBuffer, 4), kAdts,
              "AudioQueueAllocateBuffer", kOutputCannotOpenReason, 1,
              [](PlayerHarness& h) {
                  EXPECT_EQ(h.platform->count(Op::AudioQueueAllocateBuffer), 4);
                  EXPECT_EQ(h.platform->count(Op::AudioQueueSetProperty), 1);
              }),
        // Hand-over and start, while streaming and with the end of the stream.
        fatal("HandOverWhileStreaming", failing(Op::AudioQueueEnqueueBuffer), kShortAifc,
              "AudioQueueEnqueueBuffer", kOutputRefusedAudioReason, 1),
        fatal("HandOverAtTheEnd", failing(Op::AudioQueueEnqueueBuffer), file("mpeg2_l3.mp3", 800),
              "AudioQueueEnqueueBuffer", kOutputRefusedAudioReason, 1),
        // The output's start is said in words; its code only in the error line.
        FaultRow{"StartWhileStreaming", failing(Op::AudioQueueStart), kMp3, "AudioQueueStart", 1,
                 true, ToldOn::Worker, std::string(kOutputCannotStartReason), 1},
        FaultRow{"StartAtTheEnd", failing(Op::AudioQueueStart), kShortAifc, "AudioQueueStart", 1,
                 true, ToldOn::Worker, std::string(kOutputCannotStartReason), 1},
        // The stream's failures.
        fatal("Parse", failing(Op::AudioFileStreamParseBytes), kMp3, "AudioFileStreamParseBytes",
              kUnreadableAudioReason, 0),
        FaultRow{"Read", [](FaultInjectingServices& p) { p.fake(Op::HttpStreamRead, -1); }, kMp3,
                 "", 0, true, ToldOn::Worker, "the stream could not be read", 0,
                 [](PlayerHarness& h) {
                     EXPECT_EQ(h.platform->count(Op::AudioFileStreamParseBytes), 0);
                 }},
        // An error event stops the reading, although more bytes arrive.
        FaultRow{"ErrorEvent", [](FaultInjectingServices& p) { p.replaceBytesEventWithError(1); },
                 [] { return fixtureScript("mpeg2_l3.mp3").repeated().paced(20000); }, "", 0, true,
                 ToldOn::Worker, "the stream reported an error", 0,
                 [](PlayerHarness& h) { EXPECT_EQ(h.platform->count(Op::HttpStreamRead), 0); }},
        FaultRow{"ServerClosesMidStream", kNoFault,
                 [] { return fixtureScript("mpeg1_l3_vbr_xing.mp3").closeAfter(6000); }, "", 0,
                 true, ToldOn::Worker, "transfer closed with ", 1},
        // Streams without audio: failed at the latest at their end, saying why.
        FaultRow{"EmptyBody", kNoFault, [] { return Script::fixed(""); }, "", 0, true,
                 ToldOn::Worker, "not an audio stream", 0},
        // An answer that is no success: none of its body reaches the parser.
        FaultRow{"ErrorPage", kNoFault, [] { return Script::notFound(); }, "", 0, true,
                 ToldOn::Worker, "the server answered \"HTTP/1.1 404 Not Found\"", 0, kNoParse},
        FaultRow{"ErrorStatusWithAudio", kNoFault,
                 [] {
                     return fixtureScript("mpeg1_l3_vbr_xing.mp3")
                         .withStatusLine("HTTP/1.1 503 Service Unavailable");
                 },
                 "", 0, true, ToldOn::Worker,
                 "the server answered \"HTTP/1.1 503 Service Unavailable\"", 0, kNoParse},
        // A failure after a failure: the first one is told.
        FaultRow{"ParseFailureThenStreamError",
                 [](FaultInjectingServices& p) {
                     p.fake(Op::AudioFileStreamParseBytes, kOops);
                     p.errorAfterBytesEvent(1);
                 },
                 kMp3, "AudioFileStreamParseBytes", 1, true, ToldOn::Worker,
                 std::string(kUnreadableAudioReason), 0},
        // No sound server: what to do, not the status.
        FaultRow{
            "NoSoundDevice",
            [](FaultInjectingServices& p) {
                p.fake(Op::AudioQueueStart, static_cast<StatusCode>(QueueError::InvalidDevice));
            },
            kMp3, "", 0, true, ToldOn::Worker, std::string(kNoSoundOutputReason), 1,
            [](PlayerHarness& h) {
                EXPECT_EQ(h.platform->logLines().back(), "AudioQueueStart err qidv 1902732406");
            }},
        FaultRow{"TextBody", kNoFault,
                 [] { return Script::fixed(std::string(100000, 'x'), "text/plain"); }, "", 0, true,
                 ToldOn::Worker, "not an audio stream", 0},
        FaultRow{"Mp4IndexLast", kNoFault, [] { return fixtureScript("m4a_moov_last.m4a"); }, "", 0,
                 true, ToldOn::Worker, kUnstreamableMp4Reason.data(), 0},
        // The end of the stream refused: the failure path stops the queue at once.
        FaultRow{"FlushAtTheEnd", failing(Op::AudioQueueFlush), kMp3, "AudioQueueFlush", 1, true,
                 ToldOn::Queue, std::string(kOutputCannotFinishReason), 1,
                 [](PlayerHarness& h) { EXPECT_EQ(h.platform->count(Op::AudioQueueStop, 1), 1); }},
        FaultRow{"StopAfterPlayOut", failing(Op::AudioQueueStop, 1, 1, 0), kMp3, "AudioQueueStop",
                 1, true, ToldOn::Queue, std::string(kOutputCannotFinishReason), 1,
                 [](PlayerHarness& h) { EXPECT_EQ(h.platform->count(Op::AudioQueueStop, 1), 1); }},
        // Not fatal: logged, and the stream plays to its end.
        FaultRow{"CookieBytes",
                 failing(Op::AudioFileStreamGetProperty, 1, 1, getter(StreamProperty::MagicCookie)),
                 kAdts, "get kAudioFileStreamProperty_MagicCookieData", 1, false, ToldOn::Queue, "",
                 1},
        // Closing the parser cannot fail: a close the platform says failed
        // is done all the same, once, and nothing is logged or tried again.
        FaultRow{"ParserCloseSaidToFail", failing(Op::AudioFileStreamClose, 1, 100), kMp3,
                 "AudioFileStreamClose", 0, false, ToldOn::Queue, "", 1,
                 [](PlayerHarness& h) {
                     EXPECT_EQ(h.platform->count(Op::AudioFileStreamClose), 1);
                     EXPECT_EQ(h.platform->count(Op::AudioQueueDispose), 1);
                 }},
        // A teardown step that fails is logged and tried again, a bounded
        // number of times; nothing is closed twice, and the worker ends. A
        // player whose queue is still there is kept: that queue may call it.
        FaultRow{"DisposeTwice", failing(Op::AudioQueueDispose, 1, 2), kMp3, "AudioQueueDispose", 2,
                 false, ToldOn::Queue, "", 3,
                 [](PlayerHarness& h) {
                     EXPECT_EQ(h.platform->count(Op::AudioFileStreamClose), 1);
                     h.player.reset();
                     EXPECT_TRUE(h.weak.expired());
                 }},
        FaultRow{"DisposeAlways", failing(Op::AudioQueueDispose, 1, 100), kMp3, "AudioQueueDispose",
                 kTeardownAttempts, false, ToldOn::Queue, "", kTeardownAttempts,
                 [](PlayerHarness& h) {
                     h.player.reset();
                     EXPECT_FALSE(h.weak.expired());
                 }},
        // A parser or stream that cannot be opened: the worker ends quietly.
        FaultRow{"ParserOpen", failing(Op::AudioFileStreamOpen), kMp3, "AudioFileStreamOpen", 1,
                 false, ToldOn::Nobody, std::string(kParserCannotOpenReason), 0,
                 [](PlayerHarness& h) {
                     EXPECT_EQ(h.platform->count(Op::HttpStreamCreate), 0);
                     EXPECT_EQ(h.platform->count(Op::AudioFileStreamClose), 0);
                     EXPECT_EQ(h.server.connectionsAccepted(), 0U);
                 }},
        FaultRow{"StreamOpen", failing(Op::HttpStreamOpen), kMp3, "", 0, false, ToldOn::Nobody,
                 "the stream could not be opened", 0,
                 [](PlayerHarness& h) {
                     EXPECT_EQ(h.platform->count(Op::HttpStreamDestroy), 1);
                     EXPECT_EQ(h.platform->count(Op::HttpStreamClose), 0);
                     EXPECT_EQ(h.platform->count(Op::HttpStreamSchedule), 0);
                     EXPECT_EQ(h.platform->count(Op::AudioFileStreamClose), 1);
                 }}),
    [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento::test
