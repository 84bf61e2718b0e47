// Coming back after a drop, through the real engine against a loopback
// station: each way a stream can end, and what the controller does next.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>

#include "controller/StatusTexts.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;
using State = PlaybackController::PlayState;
using std::chrono::milliseconds;

// A parse failure on demand.
class DropPlatform : public GatedServices {
  public:
    std::atomic<bool> failNextParse{false};

  private:
    std::optional<StatusCode> before(const ServiceCall& call) override {
        if (call.op == ServiceOp::AudioFileStreamParseBytes && failNextParse.exchange(false)) {
            return static_cast<StatusCode>(ParserError::InvalidFile);
        }
        return std::nullopt;
    }
};

Script station(const QString& kind) {
    Script script = liveStation(kind == "short" || kind == "whole" ? 12000 : 400000);
    if (kind == "cut") {  // closed before the length it announced
        script.framing = Script::Framing::contentLength;
        script.closeAfter(16000);
    } else if (kind == "whole") {  // a recording: its length declared, all of it sent
        script.framing = Script::Framing::contentLength;
    } else if (kind == "stall") {
        script.stallAfter(16000);
    } else if (kind == "trickle" || kind == "drip") {  // 16000 bytes or none, then 4 a second
        script.writesOf(1).paced(4, kind == "drip" ? 0 : 16000);
    } else if (kind == "503") {
        script = Script::fixed("busy").withStatusLine("HTTP/1.1 503 Service Unavailable");
    } else if (kind == "redirect") {
        script = Script::redirect("/other");
    }
    return script;
}

}  // namespace

class ReconnectTest : public QObject {
    Q_OBJECT

  private slots:
    void waitsGrowAndSpread();
    void endsAfterAudioBringItBack_data();
    void endsAfterAudioBringItBack();
    void liveEdgeSaysLive();
    void aPauseIsSaidAndPasses();
    void newsStaysBesideTheCountdown_data();
    void newsStaysBesideTheCountdown();
};

void ReconnectTest::waitsGrowAndSpread() {
    // Attempt, random value, wait (ms): at once, the first wait, 8 s at both
    // ends of its spread, 15 s, capped, a random value out of range.
    const struct {
        int attempt;
        double random;
        long wait;
    } rows[] = {{0, .9, 0},     {1, .5, 1000},   {4, 0, 6400}, {4, .75, 8800},
                {5, .5, 15000}, {40, .5, 30000}, {6, 7, 36000}};
    for (const auto& row : rows) {
        BackoffPolicy policy(BackoffPolicy::defaultSteps(), 0.2, [&row] { return row.random; });
        QCOMPARE(long(policy.wait(row.attempt).count()), row.wait);
    }
}

void ReconnectTest::endsAfterAudioBringItBack_data() {
    // What /s sends first and then ("-": not changed), the setting, status
    // lines shown in this order ("|" between them), what follows ("plays": audio again; "stop":
    // a press while the next attempt waits; "idle") and the alerts shown.
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<int>("alerts");
    const QString closed = reconnectingText(milliseconds(0), 0, {});
    const QString busy = "the server answered \"HTTP/1.1 503 Service Unavailable\"";
    const auto row = [](const char* name, const QStringList& row, int alerts = 0) {
        QTest::newRow(name) << row << alerts;
    };
    row("closed", {"short", "live", "on", closed, "plays"});
    // Served whole, it did not drop: it ends as any stream does.
    row("recording", {"whole", "-", "on", "Playback ended.", "idle"});
    row("reset", {"cut", "live", "on", "Reconnecting: ", "plays"});
    row("stall",
        {"stall", "live", "on", "Reconnecting: the station sent no audio for 3 s", "plays"});
    row("decode failure",
        {"live", "live", "on", "Reconnecting: the stream's audio could not be read", "plays"});
    row("503 while back", {"short", "503", "on",
                           reconnectingText(milliseconds(300), 1, busy.toStdString()), "plays"});
    row("stopped while waiting", {"short", "503", "on", "Reconnecting in 1 s (attempt 1)", "stop"});
    row("redirected", {"short", "redirect", "on", closed, "plays"});
    row("trickle", {"trickle", "live", "on",
                    "Waiting for the station: no audio for |Reconnecting: the station sent no "
                    "audio for 3 s",
                    "plays"});
    row("drip", {"drip", "-", "on", "The stream could not be opened: the station sent ", "idle"},
        1);
    row("failure, setting off",
        {"live", "-", "off", "Playback failed: the stream's audio could not be read", "idle"}, 1);
    row("never played", {"503", "-", "on", "The stream could not be opened: " + busy, "idle"}, 1);
}

void ReconnectTest::endsAfterAudioBringItBack() {
    QFETCH(QStringList, row);
    QFETCH(int, alerts);
    auto platform = std::make_shared<DropPlatform>();
    auto alertCount = std::make_shared<AlertCount>();
    ControllerHarness h(platform, PelorinServices{{}, alertCount});
    PlaybackController& c = *h.controller;
    c.setBackoffPolicy(
        BackoffPolicy({milliseconds(0), milliseconds(300)}, 0.2, [] { return 0.5; }));
    c.setReconnectWhenDropped(row[2] == "on");
    c.setSilenceLimits({std::chrono::seconds(1), std::chrono::seconds(3), std::chrono::seconds(3)});
    h.server.setScript("/s", station(row[0]));
    h.server.setScript("/other", liveStation());
    c.setAddressText(h.url("/s"));
    c.press();
    QStringList shown;
    connect(&c, &PlaybackController::statusTextChanged, [&](const QString& t) { shown << t; });
    bool wentIdle = false;
    connect(&c, &PlaybackController::playStateChanged,
            [&](State s) { wentIdle |= s == State::Idle; });
    if (row[0] != "503" && row[0] != "drip") {
        QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
        h.server.setScript("/s", station(row[1]));
        platform->failNextParse = row[3].contains("audio could not be read");
    }
    QStringList inOrder;
    for (const QString& text : row[3].split(QLatin1Char('|'))) {
        inOrder << QRegularExpression::escape(text);
    }
    const QRegularExpression expected(inOrder.join(".*"),
                                      QRegularExpression::DotMatchesEverythingOption);
    QTRY_VERIFY2_WITH_TIMEOUT(shown.join(QLatin1Char('\n')).contains(expected),
                              qPrintable(shown.join(" / ")), 15000);
    if (row[4] == "idle") {
        QTRY_COMPARE(c.playState(), State::Idle);
    }
    if (row[4] == "stop") {
        QTRY_VERIFY(c.reconnectWaiting() && !c.listeningTimeRunning());
        QCOMPARE(c.playState(), State::Playing);
        c.press();
        QCOMPARE(c.playState(), State::Idle);
        QCOMPARE(c.statusText(), QStringLiteral("Stopped."));
    }
    if (row[1] == "503" && row[4] == "plays") {
        QTRY_VERIFY(c.attempts() >= 3);
        h.server.setScript("/s", station("live"));
    }
    if (row[4] == "plays") {
        QTRY_VERIFY_WITH_TIMEOUT(!c.reconnecting() && c.statusText() == playingText(), 15000);
        QTRY_VERIFY(c.listeningTimeRunning());
        QVERIFY(!wentIdle);
    }
    const auto requests = h.server.requests();
    QCOMPARE(requests.size() > 1, row[4] != "idle");
    QCOMPARE(requests.back().starts_with("GET /other "), row[1] == "redirect");
    QCOMPARE(alertCount->shown.load(), alerts);
}

// A live station sends 6 s of a tower's talk at once and drops; on the next
// connection its server sends 20 s of later talk at once. With the live edge
// the press's burst is cut (what was said before the press is not owed), and
// the status line says how far behind live the reconnection's burst plays
// while it is caught up, then "Live"; without it, "Playing" all along. A recording (its
// length declared) is not live: "Playing" with the live edge too.
void ReconnectTest::liveEdgeSaysLive() {
    for (const auto& [on, recording] : {std::pair{true, false}, {false, false}, {true, true}}) {
        ControllerHarness h(std::make_shared<DropPlatform>(), PelorinServices{});
        PlaybackController& c = *h.controller;
        c.setLiveEdge(on);
        Script station =
            liveStation(recording ? std::optional<std::uint64_t>(80000) : std::nullopt);
        if (recording) {
            station.framing = Script::Framing::contentLength;
        } else if (on) {
            // 16 kbit/s: 2000 bytes a second. A press's own burst is cut at
            // the live edge; a reconnection's is caught up.
            const std::string tower =
                *Script::fromFile(std::string(ORVENTO_TRANSMISSION_TEST_RECORDINGS) +
                                  "/tower-mp3-8k.mp3")
                     .data;
            auto connections = std::make_shared<std::atomic<int>>(0);
            station = Script::generated(
                [tower, connections] {
                    // After the drop, talk for longer than the test listens.
                    return connections->fetch_add(1) == 0 ? tower.substr(0, 12000)
                                                          : tower.substr(20000) + tower + tower;
                },
                "audio/mpeg");
            station.untilClose().paced(2000, 40000);
        }
        h.server.setScript("/s", station);
        c.setAddressText(h.url("/s"));
        QStringList shown;
        connect(&c, &PlaybackController::statusTextChanged, [&](const QString& t) { shown << t; });
        c.press();
        QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
        if (on && !recording) {
            QTRY_COMPARE_WITH_TIMEOUT(c.statusText(), liveText(), 40000);
            const auto dropped = std::find_if(shown.begin(), shown.end(), [](const QString& t) {
                return t.startsWith(QStringLiteral("Reconnecting"));
            });
            QVERIFY2(dropped != shown.end() && !QStringList(shown.begin(), dropped)
                                                    .join(' ')
                                                    .contains(QStringLiteral("behind live")),
                     qPrintable(shown.join(" / ")));
            const QStringList behind = shown.filter(QStringLiteral("behind live"));
            QVERIFY2(!behind.isEmpty() && behind.first().section(' ', 0, 0).toInt() >= 8,
                     qPrintable(shown.join(" / ")));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(c.listenedSeconds() >= 2, 15000);
            QCOMPARE(c.statusText(), playingText());
            QVERIFY2(!shown.join(' ').contains("behind live"), qPrintable(shown.join(" / ")));
        }
        // News stays over the lag's looks (four a second) while the station plays on.
        c.setStatusText(QStringLiteral("Saved to /tmp/a.mp3"));
        const double listened = c.listenedSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(c.listenedSeconds() >= listened + 1, 15000);
        QCOMPARE(c.statusText(), QStringLiteral("Saved to /tmp/a.mp3"));
    }
}

// A station that pauses for longer than the notice but less than a drop: the
// silence is said, then audio plays again, is counted again and is not
// taken for a drop.
void ReconnectTest::aPauseIsSaidAndPasses() {
    ControllerHarness h(std::make_shared<DropPlatform>(), PelorinServices{});
    PlaybackController& c = *h.controller;
    c.setSilenceLimits({std::chrono::seconds(1), std::chrono::seconds(6), std::chrono::seconds(6)});
    // No burst: about 1.5 s queued, so a 4 s pause starves the output for
    // about 2.5 s.
    h.server.setScript("/s", liveStation().paced(4000, 4000).holdAfter(48000, 4.0));
    c.setAddressText(h.url("/s"));
    QStringList shown;
    connect(&c, &PlaybackController::statusTextChanged, [&](const QString& t) { shown << t; });
    c.press();
    QTRY_VERIFY2_WITH_TIMEOUT(shown.join(QLatin1Char(' ')).contains("Waiting for the station"),
                              qPrintable(shown.join(" / ")), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(c.listeningTimeRunning(), 15000);
    const double resumed = c.listenedSeconds();
    QTRY_VERIFY_WITH_TIMEOUT(c.listenedSeconds() >= resumed + 4, 15000);
    QCOMPARE(c.attempts(), quint64{1});
    QVERIFY2(!shown.join(' ').contains("Reconnecting"), qPrintable(shown.join(" / ")));
    c.press();
}

void ReconnectTest::newsStaysBesideTheCountdown_data() {
    // When the news comes ("playing": before the drop; "waiting": during the
    // countdown), what happens then ("-": nothing; "read": the hold passes;
    // "press"), and whether the next line still holds the news.
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("then");
    QTest::addColumn<bool>("held");
    QTest::newRow("a tick of the countdown") << "waiting"
                                             << "-" << true;
    QTest::newRow("a tick once it was read") << "waiting"
                                             << "read" << false;
    QTest::newRow("the drop") << "playing"
                              << "-" << true;
    QTest::newRow("the drop once it was read") << "playing"
                                               << "read" << false;
    QTest::newRow("a press") << "waiting"
                             << "press" << false;
}

void ReconnectTest::newsStaysBesideTheCountdown() {
    QFETCH(QString, when);
    QFETCH(QString, then);
    QFETCH(bool, held);
    ControllerHarness h(std::make_shared<DropPlatform>(), PelorinServices{});
    PlaybackController& c = *h.controller;
    auto now = std::chrono::steady_clock::now();
    c.setNewsClock([&now] { return now; });
    // At once, then a minute's countdown, a tick a second.
    c.setBackoffPolicy(
        BackoffPolicy({milliseconds(0), milliseconds(60000)}, 0.2, [] { return 0.5; }));
    h.server.setScript("/s", station("short"));
    c.setAddressText(h.url("/s"));
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
    const QString news = QStringLiteral("Saved to /tmp/a.mp3");
    if (when == "playing") {
        c.setStatusText(news);
    }
    h.server.setScript("/s", station("503"));
    QTRY_VERIFY_WITH_TIMEOUT(c.reconnectWaiting() && c.attempts() >= 2, 15000);
    if (when == "waiting") {
        c.setStatusText(news);
        QCOMPARE(c.statusText(), news);
    }
    if (then == "read") {
        now += PlaybackController::kNewsHold;
    }
    if (then == "press") {
        c.press();
        QCOMPARE(c.statusText(), QStringLiteral("Stopped."));
        return;
    }
    // The countdown's next second.
    QSignalSpy changed(&c, &PlaybackController::statusTextChanged);
    QVERIFY(changed.wait(3000));
    const QString line = c.statusText();
    QVERIFY2(line.contains(QStringLiteral("Reconnecting in ")), qPrintable(line));
    QCOMPARE(line.startsWith(news), held);
}

}  // namespace orvento::test

QTEST_GUILESS_MAIN(orvento::test::ReconnectTest)
#include "ReconnectTest.moc"
