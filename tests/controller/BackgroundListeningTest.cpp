// Listening in the background, through the real controller and engine against
// loopback stations, with time given: the sleep timer (its schedule, the fade
// of the station and of the monitor's feeds as the mix plays them, the end
// that waits for a transmission's end, the stops that cancel it) and
// the rules of the desktop notifications (each trigger, the window's state,
// the kinds turned off, the rate limit).
#include <sys/resource.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <deque>
#include <mutex>

#include "controller/MonitorController.h"
#include "controller/NoticeRules.h"
#include "controller/Settings.h"
#include "controller/SleepTimer.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;
using State = PlaybackController::PlayState;
using Phase = SleepSchedule::Phase;
using Clock = SleepSchedule::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A clock the test moves.
struct TestClock {
    Clock::time_point now = Clock::now();
    std::function<Clock::time_point()> source() {
        return [this] { return now; };
    }
};

// The mix as the sound device takes it: its peak over the last kWindow
// (longer than liveStation's loop), in dBFS.
class MixMeter {
  public:
    static constexpr std::chrono::milliseconds kWindow{1500};
    AudioOutputChoice output() {
        AudioOutputChoice output;
        output.kind = AudioOutputChoice::Kind::Null;
        output.onAudio = [this](const float* samples, std::size_t frames, int, int channels) {
            float peak = 0;
            const std::size_t count = frames * static_cast<std::size_t>(channels);
            for (std::size_t i = 0; i < count; ++i) {
                peak = std::max(peak, std::abs(samples[i]));
            }
            const double db = peak > 0 ? 20 * std::log10(double{peak}) : -120;
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            blocks_.emplace_back(now, db);
            while (now - blocks_.front().first > kWindow) {
                blocks_.pop_front();
            }
            if (db > -60 && !heardSince_) {
                heardSince_ = now;
            }
        };
        return output;
    }
    double peak() const {
        std::lock_guard lock(mutex_);
        double most = -120;
        for (const auto& [at, db] : blocks_) {
            if (Clock::now() - at <= kWindow) {
                most = std::max(most, db);
            }
        }
        return most;
    }
    // Audio has been heard for a whole window.
    bool heardForAWindow() const {
        std::lock_guard lock(mutex_);
        return heardSince_ && Clock::now() - *heardSince_ > kWindow;
    }
    void forget() {
        std::lock_guard lock(mutex_);
        heardSince_.reset();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<std::pair<Clock::time_point, double>> blocks_;
    std::optional<Clock::time_point> heardSince_;
};

Script tower(double pace) {
    // 16 kbit/s: 2000 bytes a second at its own pace (1).
    return Script::fromFile(ORVENTO_TRANSMISSION_TEST_RECORDINGS "/tower-mp3-8k.mp3", "audio/mpeg")
        .paced(2000 * pace, 4000);
}

}  // namespace

class BackgroundListeningTest : public QObject {
    Q_OBJECT

  private slots:
    void schedule_data();
    void schedule();
    void sleepTimerFadesAndStops();
    void sleepTimerFadesTheMonitor();
    void stopsCancelTheSleepTimer_data();
    void stopsCancelTheSleepTimer();
    void sleepTimerWaitsForTheEndOfATransmission();
    void stationBackAfterALongDrop_data();
    void stationBackAfterALongDrop();
    void stationGivenUpAndRecordingStopped();
    void priorityTransmissionWhileHidden_data();
    void priorityTransmissionWhileHidden();
};

void BackgroundListeningTest::schedule_data() {
    // Steps "seconds[k]" (k: keyed then), each with the phase, gain and the
    // seconds left expected; 60 s timers with a 10 s fade.
    QTest::addColumn<bool>("atTransmissionEnd");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("plain: full, fading, done")
        << false << QStringList{"0", "49.5", "50", "55", "59", "60", "61k"}
        << QStringList{"counting 1 60", "counting 1 11", "fading 1 10", "fading 0.5 5",
                       "fading 0.1 1",  "done 0 0",      "done 0 0"};
    QTest::newRow("plain: keyed changes nothing")
        << false << QStringList{"55k", "60k"} << QStringList{"fading 0.5 5", "done 0 0"};
    QTest::newRow("at a transmission's end: quiet at the time, the fade follows")
        << true << QStringList{"0", "55", "60", "65", "70"}
        << QStringList{"counting 1 70", "counting 1 15", "fading 1 10", "fading 0.5 5", "done 0 0"};
    QTest::newRow("at a transmission's end: waits while keyed, fades over the quiet after")
        << true << QStringList{"60k", "90k", "91", "92k", "96", "101"}
        << QStringList{"waitingForQuiet 1 10", "waitingForQuiet 1 10", "fading 1 10",
                       "fading 0.9 9",         "fading 0.5 5",         "done 0 0"};
    QTest::newRow("at a transmission's end: a station that never unkeys ends all the same")
        << true << QStringList{"60k", "179k", "180k", "190k"}
        << QStringList{"waitingForQuiet 1 10", "waitingForQuiet 1 10", "fading 1 10", "done 0 0"};
}

void BackgroundListeningTest::schedule() {
    QFETCH(bool, atTransmissionEnd);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    const Clock::time_point start{};
    SleepSchedule schedule(start, seconds(60), atTransmissionEnd);
    const auto name = [](Phase phase) {
        switch (phase) {
            case Phase::counting:
                return "counting";
            case Phase::waitingForQuiet:
                return "waitingForQuiet";
            case Phase::fading:
                return "fading";
            case Phase::done:
                return "done";
        }
        return "";
    };
    QStringList got;
    for (QString step : steps) {
        const bool keyed = step.endsWith(QLatin1Char('k'));
        step.remove(QLatin1Char('k'));
        const auto at = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(step.toDouble()));
        const SleepSchedule::State state = schedule.advance(at, keyed);
        got << QStringLiteral("%1 %2 %3")
                   .arg(QLatin1String(name(state.phase)))
                   .arg(std::round(state.gain * 100) / 100)
                   .arg(state.left.count());
    }
    QCOMPARE(got, expected);
}

void BackgroundListeningTest::sleepTimerFadesAndStops() {
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    h.server.setScript("/live.mp3", liveStation());
    c.setAddressText(h.url("/live.mp3"));
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
    TestClock clock;
    SleepTimer timer(c);
    timer.setClock(clock.source());
    QSignalSpy gains(&timer, &SleepTimer::gainChanged);
    timer.start(std::chrono::minutes(15));
    QVERIFY(timer.active());
    QCOMPARE(timer.minutes(), 15);
    QCOMPARE(timer.countdownText(), QStringLiteral("Sleep in 15:00"));
    clock.now += std::chrono::minutes(14) + seconds(20);
    timer.update();
    QCOMPARE(timer.countdownText(), QStringLiteral("Sleep in 0:40"));
    QVERIFY(gains.isEmpty());
    // The last ten seconds: the level falls step by step.
    QList<float> levels;
    for (const int step : {31, 3, 3, 2}) {
        clock.now += seconds(step);
        timer.update();
        levels.append(timer.state().gain);
    }
    QCOMPARE(timer.countdownText(), QStringLiteral("Sleep in 0:01"));
    QCOMPARE(gains.last().first().toFloat(), levels.back());
    for (qsizetype i = 1; i < levels.size(); ++i) {
        QVERIFY2(levels[i] < levels[i - 1], qPrintable(QString::number(levels[i])));
    }
    QVERIFY(levels.front() < 1 && levels.back() > 0);
    QCOMPARE(c.playState(), State::Playing);
    // The end: the station stops, and the next play is heard in full again.
    clock.now += seconds(1);
    timer.update();
    QVERIFY(!timer.active());
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
    QCOMPARE(gains.last().first().toFloat(), 1.0F);
    QCOMPARE(c.statusText(), QStringLiteral("Stopped."));
}

void BackgroundListeningTest::sleepTimerFadesTheMonitor() {
    ControllerHarness h;
    MixMeter meter;
    Mixer mixer(meter.output());
    PelorinServices engine;
    engine.workers = &h.workers;
    MonitorController monitor(mixer, engine, h.log, nullptr);
    h.server.setScript("/live.mp3", liveStation());
    QVERIFY(monitor.add({QStringLiteral("Approach"), h.url("/live.mp3")}));
    monitor.setGainDb(0, -3);
    TestClock clock;
    SleepTimer timer(*h.controller, &monitor);
    timer.setClock(clock.source());
    monitor.play();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Playing, 15000);
    QVERIFY(QTest::qWaitFor([&] { return meter.heardForAWindow(); }, 15000));
    const double full = meter.peak();
    timer.start(std::chrono::minutes(15));
    // The last ten seconds: half way (-6 dB), then a tenth (-20 dB).
    clock.now += std::chrono::minutes(14) + seconds(55);
    timer.update();
    QVERIFY(QTest::qWaitFor([&] { return meter.peak() < full - 5; }, 5000));
    QVERIFY2(meter.peak() > full - 7, qPrintable(QString::number(meter.peak() - full)));
    clock.now += seconds(4);
    timer.update();
    QVERIFY(QTest::qWaitFor([&] { return meter.peak() < full - 19; }, 5000));
    QVERIFY2(meter.peak() > full - 21, qPrintable(QString::number(meter.peak() - full)));
    // The listener's volume is as it was.
    QCOMPARE(monitor.controls(0).gainDb, -3.0);
    // The end: the monitor stops, silent while its feed goes.
    clock.now += seconds(1);
    timer.update();
    QVERIFY(!timer.active());
    QVERIFY(!monitor.playing());
    QCOMPARE(monitor.fade(), 0.0F);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Idle, 5000);
    // Its next play is heard in full again.
    meter.forget();
    monitor.play();
    QVERIFY(QTest::qWaitFor([&] { return meter.heardForAWindow(); }, 15000));
    QVERIFY2(meter.peak() > full - 1, qPrintable(QString::number(meter.peak() - full)));
    monitor.stop();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Idle, 5000);
}

void BackgroundListeningTest::stopsCancelTheSleepTimer_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("the user's stop") << "press";
    QTest::newRow("Off") << "off";
    QTest::newRow("the monitor stops; the station was not playing") << "monitor";
}

void BackgroundListeningTest::stopsCancelTheSleepTimer() {
    QFETCH(QString, how);
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    Mixer mixer(output);
    PelorinServices engine;
    engine.workers = &h.workers;
    MonitorController monitor(mixer, engine, h.log, nullptr);
    h.server.setScript("/live.mp3", liveStation());
    TestClock clock;
    SleepTimer timer(c, &monitor);
    timer.setClock(clock.source());
    QSignalSpy gains(&timer, &SleepTimer::gainChanged);
    if (how == "monitor") {
        QVERIFY(monitor.add({QStringLiteral("Tower"), h.url("/live.mp3")}));
        monitor.play();
        QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Playing, 15000);
    } else {
        c.setAddressText(h.url("/live.mp3"));
        c.press();
        QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
    }
    timer.start(std::chrono::minutes(30));
    clock.now += std::chrono::minutes(29) + seconds(55);
    timer.update();
    QVERIFY(timer.state().gain < 1);
    if (how == "press") {
        c.press();
    } else if (how == "off") {
        timer.cancel();
    } else {
        monitor.stop();
    }
    QVERIFY(!timer.active());
    QVERIFY(timer.countdownText().isEmpty());
    QCOMPARE(gains.last().first().toFloat(), 1.0F);
    // Its time passes without effect.
    clock.now += std::chrono::minutes(1);
    timer.update();
    if (how == "off") {
        QCOMPARE(c.playState(), State::Playing);
        c.press();
    }
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
    if (monitor.count() > 0) {
        QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Idle, 5000);
    }
}

void BackgroundListeningTest::sleepTimerWaitsForTheEndOfATransmission() {
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    c.setReconnectWhenDropped(false);
    // Faster than live: the keyed state follows the audio as it arrives.
    h.server.setScript("/tower.mp3", tower(4));
    c.setAddressText(h.url("/tower.mp3"));
    c.press();
    TestClock clock;
    SleepTimer timer(c);
    timer.setClock(clock.source());
    timer.setAtTransmissionEnd(true);
    timer.start(std::chrono::minutes(60));
    // The hour is up while someone speaks: the station plays on, at full level.
    QVERIFY(QTest::qWaitFor([&] { return c.replay().keyed(); }, 30000));
    clock.now += std::chrono::minutes(60);
    timer.update();
    QCOMPARE(timer.state().phase, Phase::waitingForQuiet);
    QCOMPARE(timer.countdownText(), QStringLiteral("Sleep after this transmission"));
    QCOMPARE(c.playState(), State::Playing);
    // The transmission ends: the fade runs over the quiet, then the stop.
    QVERIFY(QTest::qWaitFor([&] { return !c.replay().keyed(); }, 30000));
    timer.update();
    QCOMPARE(timer.state().phase, Phase::fading);
    clock.now += SleepSchedule::kFade;
    timer.update();
    QVERIFY(!timer.active());
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
}

void BackgroundListeningTest::stationBackAfterALongDrop_data() {
    QTest::addColumn<QList<int>>("drops");  // seconds without audio, each drop
    QTest::addColumn<QString>("window");    // "active", "inactive"
    QTest::addColumn<bool>("kindOn");
    QTest::addColumn<int>("notices");
    QTest::newRow("back after 31 s") << QList<int>{31} << "inactive" << true << 1;
    QTest::newRow("back after 29 s") << QList<int>{29} << "inactive" << true << 0;
    QTest::newRow("the window is active") << QList<int>{31} << "active" << true << 0;
    QTest::newRow("the kind is turned off") << QList<int>{31} << "inactive" << false << 0;
    // One a minute for the station: 31 + 31 s apart, then a minute later.
    QTest::newRow("twice within a minute, then again after it")
        << QList<int>{31, 31, 60} << "inactive" << true << 2;
}

void BackgroundListeningTest::stationBackAfterALongDrop() {
    QFETCH(QList<int>, drops);
    QFETCH(QString, window);
    QFETCH(bool, kindOn);
    QFETCH(int, notices);
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    c.setBackoffPolicy(BackoffPolicy({milliseconds(50)}, 0));
    const std::unique_ptr<Settings> settings = Settings::temporary();
    settings->setNotifies(Settings::kNotifyStationBackKey, kindOn);
    TestClock clock;
    NoticeRules rules(c, nullptr, *settings);
    rules.setClock(clock.source());
    rules.setWindowState([&] { return window == "active"; }, [] { return true; });
    QSignalSpy told(&rules, &NoticeRules::notice);
    // A station that closes after a second of audio, then plays on. A drop
    // is known at the close, while what the player holds still plays.
    h.server.setScript("/s", droppingStation(4000, static_cast<int>(drops.size())));
    c.chooseStation({QStringLiteral("Tower <b>"), h.url("/s")});
    qsizetype drop = 0;
    qsizetype back = 0;
    connect(&c, &PlaybackController::reconnectingChanged, this, [&](bool on) {
        if (on) {
            clock.now += seconds(drops.value(drop++));
        } else {
            ++back;
        }
    });
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
    // Each drop and its return: the reconnection ends with audio again.
    QVERIFY(QTest::qWaitFor([&] { return back == drops.size(); }, 30000));
    QTRY_VERIFY(!c.reconnecting() && c.playState() == State::Playing);
    QCOMPARE(drop, drops.size());
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
    QCOMPARE(told.size(), notices);
    if (notices > 0) {
        const auto notice = told.first().first().value<NoticeRules::Notice>();
        QCOMPARE(notice.kind, NoticeRules::Kind::stationBack);
        QCOMPARE(notice.summary, QStringLiteral("Tower <b> is back"));
        QVERIFY2(notice.body.contains(QStringLiteral("after %1 s").arg(drops.first())),
                 qPrintable(notice.body));
    }
}

void BackgroundListeningTest::stationGivenUpAndRecordingStopped() {
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    c.setReconnectWhenDropped(false);
    const std::unique_ptr<Settings> settings = Settings::temporary();
    TestClock clock;
    NoticeRules rules(c, nullptr, *settings);
    rules.setClock(clock.source());
    QSignalSpy told(&rules, &NoticeRules::notice);
    const auto kinds = [&] {
        QList<NoticeRules::Kind> seen;
        for (const QList<QVariant>& each : told) {
            seen.append(each.first().value<NoticeRules::Notice>().kind);
        }
        return seen;
    };
    Script shortStation = liveStation(4000);
    shortStation.framing = Script::Framing::contentLength;
    h.server.setScript("/s", shortStation);
    c.chooseStation({QStringLiteral("Tower"), h.url("/s")});

    // The user's stop is no news; an end nobody asked for is.
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
    QVERIFY(told.isEmpty());
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 15000);
    QCOMPARE(kinds(), QList{NoticeRules::Kind::stationGivenUp});
    const auto notice = told.first().first().value<NoticeRules::Notice>();
    QCOMPARE(notice.summary, QStringLiteral("Tower stopped"));
    QCOMPARE(notice.body, c.statusText());
    // Again within the minute: held back; after it: told.
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 15000);
    QCOMPARE(told.size(), 1);
    clock.now += NoticeRules::kRateLimit;
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 15000);
    QCOMPARE(told.size(), 2);

    // A recording that can no longer be written (a file size limit stands
    // for the full disk): its own kind, with why.
    settings->setNotifies(Settings::kNotifyStationGivenUpKey, false);
    QTemporaryDir folder;
    c.replay().saver().setFolder(folder.path());
    h.server.setScript("/s", liveStation());
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit before = limit;
    limit.rlim_cur = 2000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    c.replay().setRecording(true);
    c.press();
    QTRY_VERIFY_WITH_TIMEOUT(!c.replay().recording(), 15000);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
    QCOMPARE(kinds().last(), NoticeRules::Kind::recordingStopped);
    QCOMPARE(told.last().first().value<NoticeRules::Notice>().summary,
             QStringLiteral("Recording of Tower stopped"));
    QVERIFY(told.last().first().value<NoticeRules::Notice>().body.contains(
        QStringLiteral("recording stopped")));
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Idle, 5000);
    QCOMPARE(told.size(), 3);
}

void BackgroundListeningTest::priorityTransmissionWhileHidden_data() {
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("priority");
    QTest::addColumn<int>("notices");
    QTest::newRow("hidden, priority") << true << true << 1;
    QTest::newRow("shown, priority") << false << true << 0;
    QTest::newRow("hidden, no priority") << true << false << 0;
}

void BackgroundListeningTest::priorityTransmissionWhileHidden() {
    QFETCH(bool, hidden);
    QFETCH(bool, priority);
    QFETCH(int, notices);
    ControllerHarness h;
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    Mixer mixer(output);
    PelorinServices engine;
    engine.workers = &h.workers;
    MonitorController monitor(mixer, engine, h.log, nullptr);
    const std::unique_ptr<Settings> settings = Settings::temporary();
    NoticeRules rules(*h.controller, &monitor, *settings);
    rules.setWindowState([] { return false; }, [&] { return hidden; });
    QSignalSpy told(&rules, &NoticeRules::notice);
    h.server.setScript("/tower.mp3", tower(1));
    QVERIFY(monitor.add({QStringLiteral("Approach"), h.url("/tower.mp3")}));
    monitor.setPriority(0, priority);
    monitor.play();
    // The first transmission, to its end: one notice at most for it.
    QVERIFY(QTest::qWaitFor([&] { return monitor.transmitting(0); }, 30000));
    QVERIFY(QTest::qWaitFor([&] { return !monitor.transmitting(0); }, 30000));
    QCOMPARE(told.size(), notices);
    if (notices > 0) {
        const auto notice = told.first().first().value<NoticeRules::Notice>();
        QCOMPARE(notice.kind, NoticeRules::Kind::priorityTransmission);
        QCOMPARE(notice.summary, QStringLiteral("Approach is on the air"));
    }
    monitor.stop();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), State::Idle, 5000);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::BackgroundListeningTest)
#include "BackgroundListeningTest.moc"
