// Coming back after a drop, through the real engine against a loopback
// station: each way a stream can end, and what the controller does next.
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>

#include "controller/StatusTexts.h"
#include "engine/platform/http/HttpReadStream.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;
using State = PlaybackController::PlayState;
using std::chrono::milliseconds;

// The null output in real time, a stall limit of 1 s, a parse failure on demand.
class DropPlatform : public EnginePlatform {
  public:
    DropPlatform() : EnginePlatform(nullOutput()) {}
    std::atomic<bool> failNextParse{false};

  private:
    static AudioOutputChoice nullOutput() {
        AudioOutputChoice output;
        output.kind = AudioOutputChoice::Kind::Null;
        return output;
    }
    std::optional<OSStatus> before(const PlatformCall& call) override {
        if (call.op == PlatformOp::CFReadStreamOpen) {
            HttpReadStreamOptions options;
            options.stallTimeoutSeconds = 1;
            HttpReadStreamSetOptions(call.stream, options);
        }
        if (call.op == PlatformOp::AudioFileStreamParseBytes && failNextParse.exchange(false)) {
            return kAudioFileStreamError_InvalidFile;
        }
        return std::nullopt;
    }
};

class AlertCount : public AlertService {
  public:
    void showAlert(const std::string&, const std::string&, const std::string&) override { ++shown; }
    std::atomic<int> shown{0};
};

Script station(const QString& kind) {
    const std::string mp3 =
        qEnvironmentVariable("ORVENTO_SOURCE_DIR").toStdString() + "/tests/data/mpeg2_l3.mp3";
    if (kind == "short") {
        return liveStation(12000);
    }
    if (kind == "cut") {  // closed 4 s into a body of 100 s
        return Script::fromFile(mp3, "audio/mpeg").repeated(400000).closeAfter(16000);
    }
    if (kind == "stall") {
        return Script::fromFile(mp3, "audio/mpeg").repeated().untilClose().stallAfter(16000);
    }
    if (kind == "503") {
        return Script::fixed("busy").withStatusLine("HTTP/1.1 503 Service Unavailable");
    }
    return kind == "redirect" ? Script::redirect("/other") : liveStation();
}

}  // namespace

class ReconnectTest : public QObject {
    Q_OBJECT

  private slots:
    void waitsGrowAndSpread_data();
    void waitsGrowAndSpread();
    void endsAfterAudioBringItBack_data();
    void endsAfterAudioBringItBack();
};

void ReconnectTest::waitsGrowAndSpread_data() {
    QTest::addColumn<int>("attempt");
    QTest::addColumn<double>("random");
    QTest::addColumn<int>("wait");  // ms
    QTest::newRow("at once") << 0 << 0.9 << 0;
    QTest::newRow("first wait") << 1 << 0.5 << 1000;
    QTest::newRow("8 s, low end") << 4 << 0.0 << 6400;
    QTest::newRow("8 s, high end") << 4 << 0.75 << 8800;
    QTest::newRow("15 s") << 5 << 0.5 << 15000;
    QTest::newRow("capped") << 40 << 0.5 << 30000;
    QTest::newRow("random out of range") << 6 << 7.0 << 36000;
}

void ReconnectTest::waitsGrowAndSpread() {
    QFETCH(int, attempt);
    QFETCH(double, random);
    BackoffPolicy policy(BackoffPolicy::defaultSteps(), 0.2, [random] { return random; });
    QTEST(static_cast<int>(policy.wait(attempt).count()), "wait");
}

void ReconnectTest::endsAfterAudioBringItBack_data() {
    // What /s sends first and then ("-": not changed), the setting, the
    // status line after the end, what follows ("plays": audio again; "stop":
    // a press while the next attempt waits; "idle") and the alerts shown.
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<int>("alerts");
    const QString closed = reconnectingText(milliseconds(0), 0, {});
    const QString busy = "the server answered \"HTTP/1.1 503 Service Unavailable\"";
    const auto row = [](const char* name, const QStringList& row, int alerts = 0) {
        QTest::newRow(name) << row << alerts;
    };
    row("closed", {"short", "live", "on", closed, "plays"});
    row("reset", {"cut", "live", "on", "Reconnecting: ", "plays"});
    row("stall", {"stall", "live", "on", "Reconnecting: ", "plays"});
    row("decode failure",
        {"live", "live", "on", "Reconnecting: AudioFileStreamParseBytes", "plays"});
    row("503 while back", {"short", "503", "on",
                           reconnectingText(milliseconds(300), 1, busy.toStdString()), "plays"});
    row("stopped while waiting", {"short", "503", "on", "Reconnecting in 1 s (attempt 1)", "stop"});
    row("redirected", {"short", "redirect", "on", closed, "plays"});
    row("setting off", {"short", "-", "off", "Playback ended.", "idle"});
    row("failure, setting off",
        {"live", "-", "off", "Playback failed: AudioFileStreamParseBytes", "idle"}, 1);
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
    h.server.setScript("/s", station(row[0]));
    h.server.setScript("/other", liveStation());
    c.setAddressText(h.url("/s"));
    c.press();
    QSignalSpy states(&c, &PlaybackController::playStateChanged);
    QSignalSpy texts(&c, &PlaybackController::statusTextChanged);
    QSignalSpy reconnecting(&c, &PlaybackController::reconnectingChanged);
    if (row[0] != "503") {
        QTRY_COMPARE_WITH_TIMEOUT(c.playState(), State::Playing, 15000);
        h.server.setScript("/s", station(row[1]));
        platform->failNextParse = row[3].contains("Parse");
    }
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(texts.cbegin(), texts.cend(),
                                         [&](const QVariantList& text) {
                                             return text[0].toString().startsWith(row[3]);
                                         }),
                             15000);
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
        QCOMPARE(reconnecting.size(), 2);
        for (const QVariantList& state : states) {
            QVERIFY(state[0].value<State>() != State::Idle);
        }
    }
    const auto requests = h.server.requests();
    QCOMPARE(requests.size() > 1, row[4] != "idle");
    QCOMPARE(requests.back().starts_with("GET /other "), row[1] == "redirect");
    QCOMPARE(alertCount->shown.load(), alerts);
}

}  // namespace orvento::test

QTEST_GUILESS_MAIN(orvento::test::ReconnectTest)
#include "ReconnectTest.moc"
