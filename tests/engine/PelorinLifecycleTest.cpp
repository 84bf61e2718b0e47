// The player's life: start, the worker's set-up, stop in every state, the
// failure path, the end, and who holds the object when.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "tests/engine/PlayerHarness.h"

namespace orvento::test {
namespace {

const std::string kShortMp3 = "mpeg2_l3.mp3";     // 1.25 s, 32 kbit/s, no tags
const std::string kLowRateMp3 = "mpeg25_l3.mp3";  // 1.37 s, 16 kbit/s

Script mp3File(const std::string& name) {
    return Script::fromFile(fixture(name).string());
}

// The fixture for ever, as fast as the player reads: a live station that
// never ends by itself and keeps the ring full.
Script endlessStation(const std::string& name) {
    Script s = mp3File(name);
    s.repeated();
    return s;
}

std::vector<std::thread::id> notificationThreads(const RecordingObserver& o) {
    std::vector<std::thread::id> threads;
    for (const Notification& n : o.notifications()) {
        if (n.keyPath == kIsPlayingKeyPath) {
            threads.push_back(n.thread);
        }
    }
    return threads;
}

TEST(PlayerLifecycle, PlaysAStreamToItsEndAndTearsDown) {
    PlayerHarness h;
    StdoutCapture out;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    ASSERT_TRUE(h.waitEnded());

    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    const auto threads = notificationThreads(h.observer);
    ASSERT_EQ(threads.size(), 2U);
    // Both from the queue's own thread: neither the test's nor the worker's.
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_NE(threads[0], h.workerThread());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_TRUE(h.alerts->alerts().empty());
    // An MP3 stream has no cookie: its one error line.
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_TRUE(lines[0].starts_with("info kAudioFileStreamProperty_MagicCookieData err "));

    // The worker's set-up: session for media playback, the MP3 hint, one GET.
    EXPECT_EQ(h.countWith(Op::AudioSessionSetProperty, kAudioSessionProperty_AudioCategory), 1);
    EXPECT_EQ(AudioSessionGetState().category, kAudioSessionCategory_MediaPlayback);
    EXPECT_EQ(h.countWith(Op::AudioSessionSetActive, 1), 1);
    EXPECT_EQ(h.countWith(Op::AudioFileStreamOpen, kAudioFileMP3Type), 1);
    EXPECT_EQ(h.countWith(Op::CFReadStreamSetClient, kStreamEventMask), 1);
    EXPECT_EQ(h.server.requests().size(), 1U);
    // The orderly end: flush, a stop after play-out, the session made inactive
    // once, from the queue's thread.
    EXPECT_EQ(h.count(Op::AudioQueueFlush), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 0), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 0);
    const auto deactivations = h.platform->callsOf(Op::AudioSessionSetActive);
    ASSERT_EQ(deactivations.size(), 2U);
    EXPECT_EQ(deactivations[1].detail, 0U);
    EXPECT_EQ(deactivations[1].thread, threads[1]);
    // Teardown: the stream closed once, the parser closed, the queue disposed of at once.
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    EXPECT_EQ(h.count(Op::CFReleaseStream), 1);
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueDispose, 1), 1);
    EXPECT_EQ(h.count(Op::AudioQueueStart), 1);
    // The running state was reported twice: started, stopped.
    EXPECT_EQ(h.platform->runningReports(), 2);
    // Every buffer came back before the end.
    EXPECT_EQ(h.platform->buffersHeldByQueue(), 0);
}

TEST(PlayerLifecycle, APlayerWithoutURLEndsWithoutTouchingThePlatform) {
    PlayerHarness h;
    Pelorin& player = h.create("not a url");
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_TRUE(h.platform->calls().empty());
    EXPECT_TRUE(h.observer.values().empty());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_TRUE(h.alerts->alerts().empty());
}

TEST(PlayerLifecycle, StartTwiceStartsOneWorker) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.count(Op::AudioFileStreamOpen), 1);
    EXPECT_EQ(h.server.requests().size(), 1U);
}

TEST(PlayerLifecycle, ParserThatCannotBeOpenedEndsQuietly) {
    PlayerHarness h;
    h.platform->failCall(Op::AudioFileStreamOpen, fourCharStatus("typ?"));
    StdoutCapture out;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(out.lines(), std::vector<std::string>{"AudioFileStreamOpen err ?pyt 1954115647"});
    EXPECT_TRUE(h.observer.values().empty());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(h.count(Op::CFHTTPMessageCreateRequest), 0);
    // The parser that never opened is not closed.
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 0);
    EXPECT_EQ(h.server.connectionsAccepted(), 0U);
}

class UnopenableStream : public testing::TestWithParam<const char*> {};

TEST_P(UnopenableStream, EndsQuietlyAfterReleasingTheStreamAndClosingTheParser) {
    PlayerHarness h;
    StdoutCapture out;
    Pelorin& player = h.create(GetParam());
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_TRUE(out.lines().empty());
    EXPECT_TRUE(h.observer.values().empty());
    EXPECT_TRUE(h.observer.ended());
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(h.count(Op::CFReleaseStream), 1);
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 0);
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    EXPECT_EQ(h.count(Op::CFReadStreamScheduleWithRunLoop), 0);
}

// Schemes the read stream does not speak.
INSTANTIATE_TEST_SUITE_P(Schemes, UnopenableStream,
                         testing::Values("ftp://127.0.0.1/a.mp3", "file:///tmp/a.mp3"));

TEST(PlayerLifecycle, FailingSessionCallsAreIgnored) {
    PlayerHarness h;
    for (Op op :
         {Op::AudioSessionInitialize, Op::AudioSessionSetProperty, Op::AudioSessionSetActive}) {
        h.platform->failCall(op, fourCharStatus("oops"));
    }
    StdoutCapture out;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_EQ(out.lines().size(), 1U);  // the cookie line only
    EXPECT_TRUE(h.alerts->alerts().empty());
}

// ---- stop in each state, twice ----

TEST(StopInState, CreatedDoesNothingAndTheStreamStillPlays) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.stop();
    player.stop();
    EXPECT_TRUE(h.observer.values().empty());
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
}

TEST(StopInState, BeforeTheStreamExistsDoesNothingAndTheStreamStillPlays) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    std::latch reached(1);
    std::latch stopped(1);
    // The worker is held just before it creates the stream.
    h.platform->onCall(Op::CFReadStreamCreateForHTTPRequest, [&] {
        reached.count_down();
        stopped.wait();
    });
    player.start();
    reached.wait();
    player.stop();
    player.stop();
    stopped.count_down();
    EXPECT_TRUE(h.observer.values().empty());
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.alerts->alerts().empty());
}

TEST(StopInState, ConnectingTellsTrueThenFalseOnTheCallersThread) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", Script::silent());
    player.start();
    ASSERT_TRUE(waitUntil([&] { return h.access->streamOpen(); }));
    ASSERT_EQ(h.access->audioQueue(), nullptr);
    player.stop();
    // Told before stop returned, on this thread.
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    for (std::thread::id t : notificationThreads(h.observer)) {
        EXPECT_EQ(t, std::this_thread::get_id());
    }
    player.stop();
    EXPECT_EQ(h.observer.values().size(), 2U);
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values().size(), 2U);
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    EXPECT_EQ(h.count(Op::AudioQueueNewOutput), 0);
    EXPECT_EQ(h.count(Op::AudioQueueStop), 0);
    EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    EXPECT_TRUE(waitUntil([&] { return h.server.connectionsOpen() == 0; }));
}

TEST(StopInState, BeforeTheLeadTellsTrueThenFalseAndDisposesOfTheUnstartedQueue) {
    PlayerHarness h;
    Script s = mp3File(kShortMp3);
    s.stallAfter(2000);  // half a second of audio: buffers handed over, short of the lead
    Pelorin& player = h.createFor("/a.mp3", s);
    player.start();
    ASSERT_TRUE(waitUntil([&] { return h.count(Op::AudioQueueEnqueueBuffer) >= 1; }));
    ASSERT_FALSE(h.access->started());
    player.stop();
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    player.stop();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_EQ(h.count(Op::AudioQueueStart), 0);
    EXPECT_EQ(h.count(Op::AudioQueueStop), 0);
    // The queue that was made, holding buffers, is not left behind with its thread.
    EXPECT_EQ(h.countWith(Op::AudioQueueDispose, 1), 1);
    EXPECT_EQ(h.platform->buffersHeldByQueue(), 0);
    EXPECT_TRUE(h.alerts->alerts().empty());
}

// A stop at each moment of the queue's start: it meets either a queue that is
// started and stops it, or one that is not and keeps it from starting; the
// queue's reports are told apart by their order, not by the play state.
enum class StartMoment {
    BetweenTheQueueStartAndStarted,  // the service's start has returned to the worker
    BeforeTheRunningReport,          // started; the queue's report that it runs held back
    InsideTheRunningReport,          // the report has told true and is not done
};

struct StartMomentRow {
    const char* name;
    StartMoment moment;
};

class StopAtTheStart : public testing::TestWithParam<StartMomentRow> {};

TEST_P(StopAtTheStart, StopsTheQueueTellsTrueThenFalseAndMakesTheSessionInactiveOnce) {
    PlayerHarness h(/*realTimeOutput=*/true);
    Pelorin& player = h.createFor("/live", endlessStation(kLowRateMp3));
    std::thread stopper;
    std::atomic<bool> stopReturned{false};
    switch (GetParam().moment) {
        case StartMoment::BetweenTheQueueStartAndStarted:
            h.platform->onReturn(Op::AudioQueueStart, [&] {
                stopper = std::thread([&] {
                    player.stop();
                    stopReturned.store(true);
                });
                // A stop that is not kept out until the start is complete
                // runs to its end within this wait; one that is kept out
                // returns only after it.
                waitUntil([&] { return stopReturned.load(); }, 200ms);
            });
            break;
        case StartMoment::BeforeTheRunningReport:
            h.platform->holdRunningReports(true);
            break;
        case StartMoment::InsideTheRunningReport:
            h.observer.onFirstTrue([&] { player.stop(); });
            break;
    }
    player.start();
    if (GetParam().moment == StartMoment::BeforeTheRunningReport) {
        ASSERT_TRUE(waitUntil([&] { return h.access->started(); }));
        player.stop();
        player.stop();
        // The queue is stopped at once; the player tells nothing itself.
        EXPECT_TRUE(h.observer.values().empty());
        h.platform->holdRunningReports(false);
    }
    ASSERT_TRUE(h.waitEnded());
    if (stopper.joinable()) {
        stopper.join();
    }
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false})) << h.diagnostics();
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 1);
    EXPECT_EQ(h.platform->runningReports(), 2);
    EXPECT_EQ(h.countWith(Op::AudioSessionSetActive, 0), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueDispose, 1), 1);
    EXPECT_TRUE(h.alerts->alerts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StopAtTheStart,
    testing::Values(StartMomentRow{"BetweenTheQueueStartAndStarted",
                                   StartMoment::BetweenTheQueueStartAndStarted},
                    StartMomentRow{"BeforeTheRunningReport", StartMoment::BeforeTheRunningReport},
                    StartMomentRow{"InsideTheRunningReport", StartMoment::InsideTheRunningReport}),
    [](const testing::TestParamInfo<StartMomentRow>& info) { return info.param.name; });

TEST(StopInState, PlayingStopsTheQueueAtOnceAndTheQueueTellsFalse) {
    PlayerHarness h(/*realTimeOutput=*/true);
    Pelorin& player = h.createFor("/live", endlessStation(kLowRateMp3));
    player.start();
    ASSERT_TRUE(waitUntil([&] { return h.playing(); }));
    player.stop();
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 1);
    player.stop();
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 1);
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    const auto threads = notificationThreads(h.observer);
    EXPECT_NE(threads[1], std::this_thread::get_id());
    EXPECT_EQ(h.countWith(Op::AudioSessionSetActive, 0), 1);
    EXPECT_EQ(h.countWith(Op::AudioQueueDispose, 1), 1);
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_TRUE(waitUntil([&] { return h.server.connectionsOpen() == 0; }));
}

TEST(StopInState, DrainingDoesNothingAndTheQueuedAudioPlaysToItsEnd) {
    PlayerHarness h(/*realTimeOutput=*/true);
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    // The whole stream has arrived and the stream is closed, audio still playing.
    ASSERT_TRUE(waitUntil([&] { return h.countWith(Op::AudioQueueStop, 0) == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !h.access->streamOpen(); }));
    ASSERT_FALSE(h.access->finished());
    player.stop();
    player.stop();
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 0);
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_EQ(h.countWith(Op::AudioQueueStop, 1), 0);
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
}

TEST(StopInState, AfterTheWorkersFailurePathDoesNothing) {
    PlayerHarness h;
    h.platform->failCall(Op::AudioFileStreamParseBytes, fourCharStatus("oops"));
    StdoutCapture out;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    ASSERT_TRUE(waitUntil([&] { return !h.alerts->alerts().empty(); }));
    player.stop();
    player.stop();
    ASSERT_TRUE(h.waitEnded());
    // The worker's own stop told true then false on the worker thread.
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    for (std::thread::id t : notificationThreads(h.observer)) {
        EXPECT_EQ(t, h.workerThread());
    }
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    EXPECT_EQ(h.alerts->alerts().size(), 1U);
}

TEST(StopInState, AfterTheEndDoesNothing) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    player.start();
    ASSERT_TRUE(h.waitEnded());
    const auto callsBefore = h.platform->calls().size();
    player.stop();
    player.stop();
    EXPECT_EQ(h.platform->calls().size(), callsBefore);
    EXPECT_EQ(h.observer.values().size(), 2U);
}

// ---- the failure path ----

TEST(FailurePath, ShowsOneAlertWithTheErrorsTableTextsOnTheWorkerThread) {
    PlayerHarness h;
    auto strings = std::make_shared<LocalizedStrings>();
    strings->setString("Errors", "Audio Error", "Ses hatası");
    h.platform->failCall(Op::AudioFileStreamParseBytes, fourCharStatus("oops"));
    StdoutCapture out;
    h.server.setScript("/a.mp3", mp3File(kShortMp3));
    PelorinServices services{h.platform, h.alerts, strings, &h.workers};
    auto player = Pelorin::initWithURL(Url::fromString(h.server.url("/a.mp3")), services);
    std::weak_ptr<Pelorin> weak = player;
    h.observer.observe(*player);
    player->start();
    player.reset();
    ASSERT_TRUE(h.workers.waitForAll(std::chrono::seconds(20)));
    EXPECT_TRUE(weak.expired());
    const auto alerts = h.alerts->alerts();
    ASSERT_EQ(alerts.size(), 1U);
    EXPECT_EQ(alerts[0].title, "Ses hatası");
    // Keys the table lacks show as themselves.
    EXPECT_EQ(alerts[0].message, "Attempt to play streaming audio failed.");
    EXPECT_EQ(alerts[0].button, "OK");
    EXPECT_EQ(alerts[0].thread, h.workerThread());
    EXPECT_EQ(out.lines(),
              std::vector<std::string>{"AudioFileStreamParseBytes err spoo 1869574259"});
}

TEST(FailurePath, FailedAndFinishedAtTheSamePollStillAlerts) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/live", endlessStation(kLowRateMp3));
    // Inside one event: the owner's stop (finished, true then false), then a
    // stream error (failed). The next poll sees both.
    h.platform->onBytesEvent(1, [&] { player.stop(); });
    h.platform->replaceBytesEventWithError(1);
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(h.alerts->alerts().size(), 1U);
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
}

// ---- ownership ----

TEST(Ownership, AnObserverMayDropTheLastOwnerReferenceInsideTheFalseNotification) {
    PlayerHarness h;
    h.server.setScript("/a.mp3", mp3File(kShortMp3));
    PelorinServices services{h.platform, h.alerts, nullptr, &h.workers};
    auto holder = Pelorin::initWithURL(Url::fromString(h.server.url("/a.mp3")), services);
    std::weak_ptr<Pelorin> weak = holder;
    RecordingObserver screen;
    screen.observe(*holder);
    screen.dropOnFalse(&holder);
    Pelorin* raw = holder.get();
    raw->start();
    ASSERT_TRUE(h.workers.waitForAll(std::chrono::seconds(20)));
    EXPECT_EQ(screen.values(), (std::vector<bool>{true, false}));
    // Dropped inside the notification; destroyed at the worker's last step.
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(screen.ended());
}

TEST(Ownership, ScreenLikeOwnerStoppingBeforeTheQueueStartsDropsItInsideStop) {
    PlayerHarness h;
    h.server.setScript("/a.mp3", Script::silent());
    PelorinServices services{h.platform, h.alerts, nullptr, &h.workers};
    auto holder = Pelorin::initWithURL(Url::fromString(h.server.url("/a.mp3")), services);
    std::weak_ptr<Pelorin> weak = holder;
    RecordingObserver screen;
    screen.observe(*holder);
    screen.dropOnFalse(&holder);
    Pelorin* raw = holder.get();
    raw->start();
    PelorinTestAccess access(*raw);
    ASSERT_TRUE(waitUntil([&] { return access.streamOpen(); }));
    raw->stop();  // drops `holder` inside, on this thread
    EXPECT_EQ(holder, nullptr);
    ASSERT_TRUE(h.workers.waitForAll(std::chrono::seconds(20)));
    EXPECT_TRUE(weak.expired());
}

TEST(Observation, EverySetterCallNotifiesOnItsThreadEvenWithoutChange) {
    auto player = Pelorin::initWithURL(nullptr, {});
    RecordingObserver observer;
    observer.observe(*player);
    PelorinTestAccess access(*player);
    access.setIsPlaying(false);
    access.setIsPlaying(false);
    std::thread other([&] { access.setIsPlaying(true); });
    const std::thread::id otherId = other.get_id();
    other.join();
    const auto n = observer.notifications();
    ASSERT_EQ(n.size(), 3U);
    EXPECT_EQ(observer.values(), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(n[0].thread, std::this_thread::get_id());
    EXPECT_EQ(n[2].thread, otherId);
    // The value is stored before the observers are told.
    EXPECT_TRUE(n[2].isPlaying);
    player->removeObserver(&observer, kIsPlayingKeyPath);
    player->removeObserver(&observer, kHasEndedKeyPath);
}

TEST(Ownership, RemovedObserversAreNotCalledAgain) {
    PlayerHarness h;
    Pelorin& player = h.createFor("/a.mp3", mp3File(kShortMp3));
    RecordingObserver other;
    player.addObserver(&other, kIsPlayingKeyPath);
    player.removeObserver(&other, kIsPlayingKeyPath);
    player.addObserver(&other, "somethingElse");
    player.start();
    ASSERT_TRUE(h.waitEnded());
    EXPECT_TRUE(other.notifications().empty());
    EXPECT_EQ(h.observer.values().size(), 2U);
}

}  // namespace
}  // namespace orvento::test
