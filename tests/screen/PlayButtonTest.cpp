// The play/stop button through the real window, screen and engine, against a
// loopback station: presses while loading and stopping, the images in the
// order posted, the spin, the failure alert, the status line, and the
// escaping of the typed URL, the station the media keys show; the listening
// time's text, count and timers' threading.
#include <QApplication>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "app/MprisService.h"
#include "screen/ScreenTexts.h"
#include "screen/Translations.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;

const QString kPlay = QStringLiteral("playbutton.png");
const QString kLoading = QStringLiteral("loadingbutton.png");
const QString kStop = QStringLiteral("stopbutton.png");

QMessageBox* shownAlert() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

}  // namespace

class PlayButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void pressesWhileBusy_data();
    void pressesWhileBusy();
    void failureShowsTheAlertAndReturnsToIdle_data();
    void failureShowsTheAlertAndReturnsToIdle();
    void playerEndingUnheardReturnsToIdle_data();
    void playerEndingUnheardReturnsToIdle();
    void typedTextReachesTheServerEscaped();
    void mediaKeysShowTheStation();
    void listeningTimeText_data();
    void listeningTimeText();
    void countFollowsRealTimeWhileTheMainThreadIsBusy();
    void timerCallsTakeEffectInCallOrder_data();
    void timerCallsTakeEffectInCallOrder();
};

void PlayButtonTest::pressesWhileBusy_data() {
    QTest::addColumn<bool>("streamOpened");
    QTest::newRow("loading before the stream opened, then stopping") << false;
    QTest::newRow("loading with the stream open, its queue not started") << true;
}

void PlayButtonTest::pressesWhileBusy() {
    QFETCH(bool, streamOpened);
    auto platform = std::make_shared<GatedPlatform>();
    ScreenHarness h(platform);
    MprisService mediaKeys(h.screen(), h.window());
    h.server.setScript("/live.mp3", streamOpened ? Script::silent() : liveStation());
    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));
    if (!streamOpened) {
        platform->beforeOpening.close();
    }
    QSignalSpy turns(&h.button(), &SpinningButton::animationDidStop);
    QElapsedTimer pressed;
    pressed.start();
    h.press();
    if (streamOpened) {
        // The spin: a full turn in 2 s, then the next one.
        QVERIFY(turns.wait(5000));
        QVERIFY2(pressed.elapsed() >= 1900, qPrintable(QString::number(pressed.elapsed())));
        QCOMPARE(turns.takeFirst().front(), QVariant(true));
        QVERIFY(h.button().hasAnimations());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(platform->beforeOpening.waiting(), 1, 5000);
    }
    // Loading shows as playing to the desktop; Play, as the button, does nothing.
    QCOMPARE(mediaKeys.playbackStatus(), QStringLiteral("Playing"));
    mediaKeys.play();
    h.press();
    // The spin stops at once, reported unfinished; the image waits for the player.
    QVERIFY(!h.button().hasAnimations());
    QCOMPARE(turns.size(), 1);
    QCOMPARE(turns.front().front(), QVariant(false));
    QCOMPARE(h.button().imageName(), kLoading);

    if (!streamOpened) {
        // The stop came too early for the player: it plays, the listening time runs.
        platform->beforeOpening.open();
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kStop, 15000);
        QCOMPARE(h.status(), QStringLiteral("Playing"));
        QTRY_VERIFY_WITH_TIMEOUT(h.screen().listenedSeconds() >= 1.0, 5000);
        QCOMPARE(h.screen().timerLabel()->text(), elapsedTimeText(h.screen().listenedSeconds()));
        // Stopping, the image waits for the player's report; a second stop
        // (from the media keys: Stop) only stops again.
        platform->beforeStoppedReport.close();
        h.press();
        QTRY_COMPARE_WITH_TIMEOUT(platform->beforeStoppedReport.waiting(), 1, 5000);
        QCOMPARE(mediaKeys.playbackStatus(), QStringLiteral("Playing"));
        mediaKeys.play();
        mediaKeys.stop();
        QCOMPARE(h.logLines().filter(QStringLiteral("txt:")).size(), 4);
        QCOMPARE(h.button().imageName(), kStop);
        platform->beforeStoppedReport.open();
    }
    // A stop before the queue ran: both images posted, in order.
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay}));
    QCOMPARE(h.status(), QStringLiteral("Stopped."));
    QVERIFY(!h.screen().tickTimerRunning());
    QCOMPARE(h.screen().timerLabel()->text() == QStringLiteral("00:00:00"), streamOpened);
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{1});
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("texts");  // title, message, button, status line
    const QString cause = QStringLiteral(": the server answered \"HTTP/1.1 404 Not Found\"");
    QTest::newRow("English") << "en_GB"
                             << QStringList{"Audio Error",
                                            "Attempt to play streaming audio failed.", "OK",
                                            "Playback failed" + cause};
    QTest::newRow("Turkish") << "tr_TR"
                             << QStringList{"Ses Hatası",
                                            "Yayındaki sesi çalma girişimi başarısız oldu.",
                                            "Tamam", "Çalma başarısız oldu" + cause};
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle() {
    QFETCH(QString, locale);
    QFETCH(QStringList, texts);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale(locale));
    ScreenHarness h(nullptr, errorsTable());
    // A server's error page instead of audio: the player fails before playing.
    h.server.setScript("/gone.mp3", Script::notFound());
    h.setUrlText(QString::fromStdString(h.server.url("/gone.mp3")));

    h.press();
    QTRY_VERIFY_WITH_TIMEOUT(shownAlert() != nullptr, 15000);
    QMessageBox* box = shownAlert();
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE((QStringList{box->windowTitle(), box->text(), box->buttons().front()->text()}),
             texts.mid(0, 3));
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);

    // The worker waited only until the box was up: it ends while it is shown.
    QTRY_COMPARE_WITH_TIMEOUT(h.workers.running(), std::size_t{0}, 5000);
    QVERIFY(box->isVisible());
    QTRY_COMPARE(h.button().imageName(), kPlay);
    QVERIFY(!h.button().hasAnimations());
    QVERIFY(!h.screen().tickTimerRunning());
    QCOMPARE(h.status(), texts[3]);
}

void PlayButtonTest::playerEndingUnheardReturnsToIdle_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("empty field") << ""
                                 << "Type a stream address first.";
    QTest::newRow("text that is no URL") << "tower one"
                                         << "\u201ctower one\u201d is not a stream address.";
    QTest::newRow("stream that cannot be opened")
        << "ftp://127.0.0.1/live.mp3"
        << "The stream could not be opened: Only http and https addresses can be played: "
           "ftp://127.0.0.1/live.mp3";
}

void PlayButtonTest::playerEndingUnheardReturnsToIdle() {
    QFETCH(QString, text);
    QFETCH(QString, status);
    ScreenHarness h;
    h.setUrlText(text);
    for (int press = 1; press <= 2; ++press) {  // each press a new attempt
        h.press();
        QCOMPARE(h.button().imageName(), kLoading);
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
        QVERIFY(!h.button().hasAnimations());
        QCOMPARE(h.status(), status);
    }
    QVERIFY(shownAlert() == nullptr);
}

void PlayButtonTest::typedTextReachesTheServerEscaped() {
    // Spaces, non-ASCII text, "%", "%41" (kept) and "#"; delimiters kept.
    ScreenHarness h;
    h.server.setScript("*", Script::silent());
    h.setUrlText(QString::fromStdString(h.server.url("")) +
                 QStringLiteral("/İstanbul kule/100%/%41#b;p?q=1&r=$,+"));
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(h.server.requests().size(), std::size_t{1}, 5000);
    const QString head = QString::fromStdString(h.server.requests().front());
    QVERIFY2(head.startsWith(
                 QStringLiteral("GET /%C4%B0stanbul%20kule/100%25/%41%23b;p?q=1&r=$,+ HTTP/1.1")),
             qPrintable(head));
    h.press();
    QTRY_COMPARE(h.button().imageName(), kPlay);
}

void PlayButtonTest::mediaKeysShowTheStation() {
    ScreenHarness h;  // no station listed: empty fields
    MprisService mediaKeys(h.screen(), h.window());
    const auto shown = [&mediaKeys](const char* key) {
        return mediaKeys.metadata().value(QLatin1String(key));
    };
    QVERIFY(!mediaKeys.canPlay());
    QCOMPARE(shown("mpris:trackid").value<QDBusObjectPath>().path(),
             QLatin1String(MprisService::kNoTrack));
    mediaKeys.playPause();
    QVERIFY(h.logLines().filter(QStringLiteral("txt:")).isEmpty());

    h.server.setScript("/live.mp3", liveStation());
    const QString url = QString::fromStdString(h.server.url("/live.mp3"));
    h.setUrlText(url);
    h.screen().myTextField2()->setText(QStringLiteral("Istanbul Tower"));
    QCOMPARE(shown("xesam:title").toString(), QStringLiteral("Istanbul Tower"));
    mediaKeys.play();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kStop, 15000);
    QCOMPARE(h.status(), QStringLiteral("Playing"));
    QVERIFY(!h.button().hasAnimations());
    // The station playing is the one pressed, whatever the fields say now.
    h.setUrlText(url + QStringLiteral("?next"));
    QCOMPARE(shown("xesam:url").toString(), url);
    mediaKeys.stop();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    QCOMPARE(shown("xesam:url").toString(), url + QStringLiteral("?next"));
}

void PlayButtonTest::listeningTimeText_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0.0 << "00:00:00";
    QTest::newRow("just under a second") << 0.999 << "00:00:00";
    QTest::newRow("one second") << 1.0 << "00:00:01";
    QTest::newRow("last tenth of a minute") << 59.9 << "00:00:59";
    QTest::newRow("one minute") << 60.0 << "00:01:00";
    QTest::newRow("just under an hour") << 3599.9 << "00:59:59";
    QTest::newRow("one hour") << 3600.0 << "01:00:00";
    QTest::newRow("100 hours, not wrapped") << 360000.0 << "100:00:00";
    QTest::newRow("negative") << -1.0 << "00:00:00";
}

void PlayButtonTest::listeningTimeText() {
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(orvento::elapsedTimeText(seconds), text);
}

void PlayButtonTest::countFollowsRealTimeWhileTheMainThreadIsBusy() {
    OrventoViewController screen;
    screen.startTimer();
    QTRY_VERIFY(screen.tickTimerRunning());
    // The main thread is busy for 1.3 s: hardly any tick is delivered, yet
    // the count and the label follow the time that passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    QTRY_VERIFY_WITH_TIMEOUT(screen.timerLabel()->text() >= QStringLiteral("00:00:01"), 500);
    QVERIFY(screen.listenedSeconds() >= 1.3);
}

void PlayButtonTest::timerCallsTakeEffectInCallOrder_data() {
    // startTimer (+) and stopTimer (-) on another thread, then on the main one.
    QTest::addColumn<QString>("elsewhere");
    QTest::addColumn<QString>("onMain");
    QTest::addColumn<bool>("running");
    QTest::newRow("start elsewhere") << "+"
                                     << "" << true;
    QTest::newRow("start then stop elsewhere") << "+-"
                                               << "" << false;
    QTest::newRow("start elsewhere, stop on main") << "+"
                                                   << "-" << false;
    QTest::newRow("stop elsewhere, start on main") << "-"
                                                   << "+" << true;
    QTest::newRow("start, stop, start elsewhere") << "+-+"
                                                  << "" << true;
    QTest::newRow("start twice, stop once") << "+"
                                            << "+-" << false;
}

void PlayButtonTest::timerCallsTakeEffectInCallOrder() {
    QFETCH(QString, elsewhere);
    QFETCH(QString, onMain);
    QFETCH(bool, running);
    OrventoViewController screen;
    const auto call = [&screen](const QString& calls) {
        for (const QChar what : calls) {
            what == QLatin1Char('+') ? screen.startTimer() : screen.stopTimer();
        }
    };
    std::thread([&] { call(elsewhere); }).join();
    call(onMain);
    QCoreApplication::processEvents();
    QCOMPARE(screen.tickTimerRunning(), running);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::PlayButtonTest)
#include "PlayButtonTest.moc"
