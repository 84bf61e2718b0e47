// The player's life: a stream played to its end, how streams end, a stop at
// every moment (held there through the platform's hooks), and who holds the
// object when.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "tests/engine/player/PlayerHarness.h"
#include "tests/engine/player/TestStreams.h"

namespace orvento::test {
namespace {

const StatusCode kOops = fourCharStatus("oops");

TEST(PlayerLifecycle, PlaysAStreamToItsEndAndTearsDown) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", fixtureScript("mpeg2_l3.mp3"));
    player.start();
    player.start();  // once per object: later calls do nothing
    ASSERT_TRUE(h.waitEnded());

    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    const auto threads = h.observer.threads();
    ASSERT_EQ(threads.size(), 2U);
    // Both from the queue's own thread: neither the test's nor the worker's.
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_NE(threads[0], h.workerThread());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_TRUE(h.alerts->alerts().empty());
    // An MP3 stream has no cookie: its one error line.
    const auto lines = h.platform->logLines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_TRUE(lines[0].starts_with("info kAudioFileStreamProperty_MagicCookieData err "));

    // The set-up: the MP3 hint, one GET.
    FaultInjectingServices& p = *h.platform;
    EXPECT_EQ(p.count(Op::AudioFileStreamOpen, static_cast<std::uint32_t>(AudioFileType::MP3)), 1);
    EXPECT_EQ(h.server.requests().size(), 1U);
    // The orderly end: flush, a stop after play-out; the stream closed once,
    // the parser closed, the queue disposed of at once.
    EXPECT_EQ(p.count(Op::AudioQueueFlush), 1);
    EXPECT_EQ(p.count(Op::AudioQueueStop, 0), 1);
    EXPECT_EQ(p.count(Op::HttpStreamClose), 1);
    EXPECT_EQ(p.count(Op::HttpStreamDestroy), 1);
    EXPECT_EQ(p.count(Op::AudioFileStreamClose), 1);
    EXPECT_EQ(p.count(Op::AudioQueueDispose, 1), 1);
    EXPECT_EQ(p.buffersHeldByQueue(), 0);
}

TEST(PlayerLifecycle, APlayerWithoutURLEndsWithoutTouchingThePlatform) {
    PlayerHarness h;
    h.create("not a url").start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_TRUE(h.platform->calls().empty());
    EXPECT_TRUE(h.observer.values().empty());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_EQ(h.player->failureReason(), "no stream address was given");
}

// ---- how a stream ends ----

struct EndRow {
    const char* name;
    std::function<Script()> script;
    std::function<void(FaultInjectingServices&)> inject;
    std::function<void(const PlayerHarness&)> check;
};

class StreamEnd : public testing::TestWithParam<EndRow> {};

TEST_P(StreamEnd, PlaysToTheEnd) {
    PlayerHarness h;
    GetParam().inject(*h.platform);
    h.createFor("/a", GetParam().script()).start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
    EXPECT_TRUE(h.alerts->alerts().empty()) << h.diagnostics();
    EXPECT_EQ(h.platform->count(Op::AudioQueueStart), 1);
    EXPECT_EQ(h.platform->count(Op::AudioQueueFlush), 1);
    EXPECT_EQ(h.platform->count(Op::AudioQueueStop, 0), 1);
    GetParam().check(h);
}

// The hand-overs made before the queue was started.
int handOversBeforeTheStart(const PlayerHarness& h) {
    int n = 0;
    for (const CallRecord& c : h.platform->calls()) {
        if (c.op == Op::AudioQueueStart) {
            break;
        }
        n += c.op == Op::AudioQueueEnqueueBuffer ? 1 : 0;
    }
    return n;
}

const auto kNothingFaked = [](FaultInjectingServices&) {};

INSTANTIATE_TEST_SUITE_P(
    Rows, StreamEnd,
    testing::Values(
        // 0.75 s of audio: its last, partial buffer goes with the end, which
        // starts the queue.
        EndRow{"ShorterThanTheLead",
               [] {
                   const std::vector<std::uint8_t> file = readFile(fixture("mpeg2_l3.mp3"));
                   return Script::fixed(std::string(file.begin(), file.begin() + 3000));
               },
               kNothingFaked,
               [](const PlayerHarness& h) {
                   EXPECT_GE(h.platform->count(Op::AudioQueueEnqueueBuffer), 2);
                   EXPECT_EQ(handOversBeforeTheStart(h),
                             h.platform->count(Op::AudioQueueEnqueueBuffer));
               }},
        // 1.25 s of 8 kHz PCM, usually in one read, handed over since it
        // holds more than a quarter second: the end finds the fill buffer
        // empty and only flushes and stops; it never hands over an empty
        // buffer (the reads may split the body: then more buffers go).
        EndRow{"RightAfterAHandOver",
               [] {
                   std::vector<std::uint8_t> wav = wavHeader(8000, 1, 16, 20000);
                   wav.resize(wav.size() + 20000);
                   return Script::fixed(std::string(wav.begin(), wav.end()));
               },
               kNothingFaked,
               [](const PlayerHarness& h) {
                   std::uint32_t bytes = 0;
                   for (const CallRecord& c : h.platform->calls()) {
                       if (c.op == Op::AudioQueueEnqueueBuffer) {
                           EXPECT_GT(c.bytes, 0U);
                           bytes += c.bytes;
                       }
                   }
                   EXPECT_EQ(bytes, 20000U);
               }},
        // The header alone, then the audio: the parse that follows the
        // format's readiness is marked as a discontinuity, the next are not.
        EndRow{"AHeaderAloneThenTheAudio",
               [] {
                   std::vector<std::uint8_t> wav = wavHeader(8000, 1, 16, 16000);
                   wav.resize(wav.size() + 16000);
                   return Script::fixed(std::string(wav.begin(), wav.end())).holdAfter(44, 0.5);
               },
               kNothingFaked,
               [](const PlayerHarness& h) {
                   const auto parses = h.platform->callsOf(Op::AudioFileStreamParseBytes);
                   ASSERT_GE(parses.size(), 2U);
                   EXPECT_EQ(parses[0].detail, 0U);
                   const auto discontinuous = static_cast<std::uint32_t>(Continuity::Discontinuous);
                   EXPECT_EQ(parses[1].detail, discontinuous);
                   EXPECT_EQ(h.platform->count(Op::AudioFileStreamParseBytes, discontinuous), 1);
               }},
        // A read of nothing reaches no parser.
        EndRow{"AfterAnEmptyRead", [] { return fixtureScript("mpeg2_l3.mp3").paced(4000); },
               [](FaultInjectingServices& p) { p.fake(Op::HttpStreamRead, 0); },
               [](const PlayerHarness& h) {
                   EXPECT_EQ(h.platform->count(Op::AudioFileStreamParseBytes),
                             h.platform->count(Op::HttpStreamRead) - 1);
               }}),
    [](const testing::TestParamInfo<EndRow>& info) { return std::string(info.param.name); });

// ---- a recording that came whole, or a live stream's end ----

struct WholeRow {
    const char* name;
    std::function<Script()> script;  // served at /a; /whole serves the file whole
    bool complete;                   // endedComplete: not a drop
    const char* failure;             // the start of failureReason
};

class WholeOrDrop : public testing::TestWithParam<WholeRow> {};

// Only a body whose declared length came in full ends complete; every other
// end after audio, however orderly, is a drop for the owner to answer.
TEST_P(WholeOrDrop, OnlyADeclaredLengthReachedEndsComplete) {
    const WholeRow& row = GetParam();
    PlayerHarness h;
    h.server.setScript("/whole", fixtureScript("mpeg2_l3.mp3"));
    h.createFor("/a", row.script()).start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
    EXPECT_EQ(h.player->endedComplete(), row.complete) << h.diagnostics();
    EXPECT_TRUE(h.player->failureReason().starts_with(row.failure)) << h.diagnostics();
    EXPECT_EQ(h.player->failureReason().empty(), *row.failure == '\0') << h.diagnostics();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WholeOrDrop,
    testing::Values(
        WholeRow{"LengthReached", [] { return fixtureScript("mpeg2_l3.mp3"); }, true, ""},
        WholeRow{"LengthReachedAfterARedirect", [] { return Script::redirect("/whole"); }, true,
                 ""},
        WholeRow{"NoLength", [] { return fixtureScript("mpeg2_l3.mp3").untilClose(); }, false, ""},
        WholeRow{"Chunked", [] { return fixtureScript("mpeg2_l3.mp3").chunked(); }, false, ""},
        // A station's answer: its length says nothing of its end.
        WholeRow{"IcyAnswerWithALength",
                 [] { return fixtureScript("mpeg2_l3.mp3").withStatusLine("ICY 200 OK"); }, false,
                 ""},
        WholeRow{"ClosedBeforeItsLength",
                 [] { return fixtureScript("mpeg1_l3_vbr_xing.mp3").closeAfter(9000); }, false,
                 "transfer closed"}),
    [](const testing::TestParamInfo<WholeRow>& info) { return info.param.name; });

// ---- a stop at every moment, twice ----

enum class Moment {
    BeforeTheStart,
    Connected,     // the server has the request and never answers
    HeldAtCall,    // the worker is held as it calls `op`
    HeldAtReturn,  // ... as `op` returns to it
    QueueStartReturning,
    RunningReportHeld,
    InsideTheRunningReport,
    Playing,
    InsideAFailingStreamEvent,
    AfterTheAlert,
    AfterTheEnd,
};

enum class ToldOn { Caller, Queue, Worker };

struct StopRow {
    const char* name;
    Moment moment;
    std::function<Script()> script;
    Op op = Op::RunLoopRun;
    std::function<void(FaultInjectingServices&)> inject = nullptr;
    ToldOn toldOn = ToldOn::Queue;
    int immediateStops = 0;
    int starts = 1;
    bool alert = false;
    bool realTime = false;
    // How far the worker got: 0 nothing opened, 1 the parser, 2 the stream,
    // 3 a connection; -1: not checked.
    int reached = -1;
};

// A live station that never ends by itself, at 16 kbit/s.
Script liveStation() {
    return fixtureScript("mpeg25_l3.mp3").repeated();
}
Script wholeMp3() {
    return fixtureScript("mpeg2_l3.mp3");
}

class StopAt : public testing::TestWithParam<StopRow> {};

TEST_P(StopAt, TellsOnceTrueThenFalseAndEndsThePlayer) {
    const StopRow& row = GetParam();
    PlayerHarness h(row.realTime);
    if (row.inject) {
        row.inject(*h.platform);
    }
    Pelorin& player = h.createFor("/a", row.script());
    FaultInjectingServices& p = *h.platform;
    const auto stopTwice = [&] {
        player.stop();
        player.stop();
    };
    std::latch reached(1);
    std::latch released(1);
    const auto hold = [&] {
        reached.count_down();
        released.wait();
    };
    std::thread stopper;
    std::atomic<bool> stopReturned{false};
    switch (row.moment) {
        case Moment::BeforeTheStart:
            stopTwice();
            EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
            player.start();
            break;
        case Moment::Connected:
            player.start();
            ASSERT_TRUE(h.server.waitUntil([&] { return h.server.requests().size() == 1; }));
            stopTwice();
            break;
        case Moment::HeldAtCall:
        case Moment::HeldAtReturn:
            (row.moment == Moment::HeldAtCall ? p.onCall(row.op, hold) : p.onReturn(row.op, hold));
            player.start();
            reached.wait();
            stopTwice();
            released.count_down();
            break;
        case Moment::QueueStartReturning:
            // A stop that is not kept out until the start is complete runs to
            // its end within this wait; one that is kept out returns after it.
            p.onReturn(Op::AudioQueueStart, [&] {
                stopper = std::thread([&] {
                    stopTwice();
                    stopReturned.store(true);
                });
                p.waitFor([&] { return stopReturned.load(); }, 200ms);
            });
            player.start();
            break;
        case Moment::RunningReportHeld:
            p.holdRunningReports(true);
            player.start();
            ASSERT_TRUE(p.waitFor([&] { return p.count(Op::AudioQueueStart) == 1; }));
            stopTwice();
            // The queue is stopped at once; the player tells nothing itself.
            EXPECT_TRUE(h.observer.values().empty());
            p.holdRunningReports(false);
            break;
        case Moment::InsideTheRunningReport:
            h.observer.onFirstTrue(stopTwice);
            player.start();
            break;
        case Moment::Playing:
            player.start();
            ASSERT_TRUE(h.waitPlaying());
            stopTwice();
            // The queue is stopped before stop returns.
            EXPECT_EQ(p.count(Op::AudioQueueStop, 1), row.immediateStops);
            break;
        case Moment::InsideAFailingStreamEvent:
            // The owner's stop, then a stream error, in one event: the next
            // poll finds the player both finished and failed.
            p.onBytesEvent(1, stopTwice);
            p.replaceBytesEventWithError(1);
            player.start();
            break;
        case Moment::AfterTheAlert:
            player.start();
            ASSERT_TRUE(h.alerts->waitForAlert());
            stopTwice();
            break;
        case Moment::AfterTheEnd:
            player.start();
            ASSERT_TRUE(h.waitEnded());
            const std::size_t calls = p.calls().size();
            stopTwice();
            EXPECT_EQ(p.calls().size(), calls);
            break;
    }
    ASSERT_TRUE(h.waitEnded());
    if (stopper.joinable()) {
        stopper.join();
    }
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
    const auto threads = h.observer.threads();
    for (std::thread::id t : threads) {
        switch (row.toldOn) {
            case ToldOn::Caller:
                EXPECT_EQ(t, std::this_thread::get_id());
                break;
            case ToldOn::Worker:
                EXPECT_EQ(t, h.workerThread());
                break;
            case ToldOn::Queue:
                EXPECT_NE(t, std::this_thread::get_id());
                EXPECT_NE(t, h.workerThread());
                break;
        }
    }
    EXPECT_EQ(p.count(Op::AudioQueueStop, 1), row.immediateStops);
    EXPECT_EQ(p.count(Op::AudioQueueStart), row.starts);
    EXPECT_EQ(h.alerts->alerts().size(), row.alert ? 1U : 0U) << h.diagnostics();
    EXPECT_LE(p.count(Op::HttpStreamClose), 1);
    // Whatever was made is gone: the stream, the queue (also one never
    // started).
    EXPECT_EQ(p.count(Op::HttpStreamDestroy), p.count(Op::HttpStreamCreate));
    EXPECT_EQ(p.count(Op::AudioQueueDispose), p.count(Op::AudioQueueNewOutput));
    EXPECT_EQ(p.buffersHeldByQueue(), 0);
    EXPECT_TRUE(h.server.waitUntil([&] { return h.server.connectionsOpen() == 0; }));
    if (row.reached >= 0) {
        const int progress = (p.count(Op::AudioFileStreamOpen) > 0 ? 1 : 0) +
                             (p.count(Op::HttpStreamCreate) > 0 ? 1 : 0) +
                             (h.server.connectionsAccepted() > 0 ? 1 : 0);
        EXPECT_EQ(progress, row.reached);
    }
}

StopRow stopRow(const char* name, Moment moment, std::function<Script()> script, Op op,
                std::function<void(FaultInjectingServices&)> inject, ToldOn toldOn,
                int immediateStops, int starts, bool alert = false, bool realTime = false,
                int reached = -1) {
    return {name,   moment, std::move(script), op,     std::move(inject), toldOn, immediateStops,
            starts, alert,  realTime,          reached};
}
const auto kStallsBeforeTheLead = [] { return fixtureScript("mpeg2_l3.mp3").stallAfter(2000); };
const auto kFailingStop = [](FaultInjectingServices& p) {
    p.fake(Op::AudioQueueStop, kOops, 1, 1, 1);
};
const auto kFailingParse = [](FaultInjectingServices& p) {
    p.fake(Op::AudioFileStreamParseBytes, kOops);
};

INSTANTIATE_TEST_SUITE_P(
    Moments, StopAt,
    testing::Values(
        // Before the queue was started: told true then false inside stop; the
        // worker opens nothing more, wakes from its wait and ends.
        stopRow("BeforeTheStart", Moment::BeforeTheStart, wholeMp3, {}, {}, ToldOn::Caller, 0, 0,
                false, false, 0),
        stopRow("BeforeTheParserOpens", Moment::HeldAtCall, wholeMp3, Op::AudioFileStreamOpen, {},
                ToldOn::Caller, 0, 0, false, false, 1),
        stopRow("WhileTheStreamIsSetUp", Moment::HeldAtCall, wholeMp3, Op::HttpStreamSchedule, {},
                ToldOn::Caller, 0, 0, false, false, 2),
        stopRow(
            "Connected", Moment::Connected, [] { return Script::silent(); }, {}, {}, ToldOn::Caller,
            0, 0, false, false, 3),
        stopRow("BeforeTheLead", Moment::HeldAtReturn, kStallsBeforeTheLead,
                Op::AudioQueueEnqueueBuffer, {}, ToldOn::Caller, 0, 0),
        // At each moment of the queue's start: a stop meets a queue that is
        // started and stops it, or one that is not and keeps it from starting.
        stopRow("QueueStartReturning", Moment::QueueStartReturning, liveStation, {}, {},
                ToldOn::Queue, 1, 1, false, true),
        stopRow("RunningReportHeld", Moment::RunningReportHeld, liveStation, {}, {}, ToldOn::Queue,
                1, 1, false, true),
        stopRow("InsideTheRunningReport", Moment::InsideTheRunningReport, liveStation, {}, {},
                ToldOn::Queue, 1, 1, false, true),
        stopRow("Playing", Moment::Playing, liveStation, {}, {}, ToldOn::Queue, 1, 1, false, true),
        // The queue's immediate stop fails: logged, and the worker ends all
        // the same; its disposal silences the queue.
        stopRow("PlayingWithAStopThatFails", Moment::Playing, liveStation, {}, kFailingStop,
                ToldOn::Queue, 1, 1, false, true),
        // Once the whole stream has arrived a stop still cuts its play-out short.
        stopRow("Draining", Moment::HeldAtReturn, wholeMp3, Op::HttpStreamDestroy, {},
                ToldOn::Queue, 1, 1, false, true),
        stopRow("InsideAFailingStreamEvent", Moment::InsideAFailingStreamEvent, liveStation, {}, {},
                ToldOn::Worker, 0, 0, true),
        stopRow("AfterTheFailurePath", Moment::AfterTheAlert, wholeMp3, {}, kFailingParse,
                ToldOn::Worker, 0, 0, true),
        StopRow{"AfterTheEnd", Moment::AfterTheEnd, wholeMp3}),
    [](const testing::TestParamInfo<StopRow>& info) { return std::string(info.param.name); });

// ---- who holds the player ----

struct OwnerRow {
    const char* name;
    std::function<Script()> script;
    bool stopsBeforeTheQueueRuns;
};

class ScreenLikeOwner : public testing::TestWithParam<OwnerRow> {};

// The owner drops its reference inside the false notification, as the screen
// does: the player lives on until its worker's last step.
TEST_P(ScreenLikeOwner, MayDropThePlayerInsideTheFalseNotification) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", GetParam().script());
    RecordingObserver screen;
    screen.observe(player);
    screen.dropOnFalse(&h.player);
    RecordingObserver removed;
    player.addObserver(&removed);
    player.removeObserver(&removed);
    std::latch reached(1);
    std::latch released(1);
    if (GetParam().stopsBeforeTheQueueRuns) {
        h.platform->onCall(Op::RunLoopRun, [&] {
            reached.count_down();
            released.wait();
        });
    }
    player.start();
    if (GetParam().stopsBeforeTheQueueRuns) {
        reached.wait();
        player.stop();  // drops the reference inside, on this thread
        EXPECT_EQ(h.player, nullptr);
        released.count_down();
    }
    ASSERT_TRUE(h.workers.waitForAll(20s));
    EXPECT_EQ(screen.values(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.weak.expired());
    // It let go inside the false notification: the end is not told to it.
    EXPECT_FALSE(screen.ended());
    EXPECT_TRUE(removed.notifications().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScreenLikeOwner,
    testing::Values(OwnerRow{"AtTheEnd", wholeMp3, false},
                    OwnerRow{"InsideStop", [] { return Script::silent(); }, true}),
    [](const testing::TestParamInfo<OwnerRow>& info) { return std::string(info.param.name); });

TEST(Shutdown, StopsPlayersWhoseOwnerNeverDoesAndJoinsTheirWorkers) {
    PlayerHarness h(/*realTimeOutput=*/true);
    h.createFor("/live", liveStation()).start();
    ASSERT_TRUE(h.waitPlaying());
    h.player.reset();  // the owner lets go without stopping
    EXPECT_TRUE(h.workers.shutdown(10s));
    EXPECT_EQ(h.workers.running(), 0U);
    EXPECT_TRUE(h.weak.expired());
}

}  // namespace
}  // namespace orvento::test
