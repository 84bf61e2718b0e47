// The play/stop button through the real window, screen and engine, against a
// loopback station: its four states, the images in the order posted, the
// spin, the failure alert, the status line and the escaping of the typed URL.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "screen/Translations.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;

constexpr int kPlayingWithinMs = 15000;

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
    void playStopAndPlayAgain();
    void failureShowsTheAlertAndReturnsToIdle_data();
    void failureShowsTheAlertAndReturnsToIdle();
    void pressWhileLoading_data();
    void pressWhileLoading();
    void secondPressWhileStoppingOnlyStopsAgain();
    void playerEndingUnheardReturnsToIdle_data();
    void playerEndingUnheardReturnsToIdle();
    void typedTextReachesTheServerEscaped_data();
    void typedTextReachesTheServerEscaped();
};

void PlayButtonTest::playStopAndPlayAgain() {
    ScreenHarness h;
    h.server.setScript("/live.mp3", liveStation());
    const QString url = QString::fromStdString(h.server.url("/live.mp3"));
    h.setUrlText(url);
    QCOMPARE(h.images(), QStringList{kPlay});

    for (int round = 1; round <= 2; ++round) {
        h.press();
        QCOMPARE(h.button().imageName(), kLoading);
        QVERIFY(h.button().hasAnimations());

        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kStop, kPlayingWithinMs);
        QVERIFY(!h.button().hasAnimations());
        QCOMPARE(h.status(), QStringLiteral("Playing"));
        QVERIFY(h.screen().tickTimerRunning());
        // The listening time runs, and never restarts from zero.
        const double before = h.screen().listenedSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(h.screen().listenedSeconds() >= before + 1.0, 5000);
        QCOMPARE(h.screen().timerLabel()->text(), elapsedTimeText(h.screen().listenedSeconds()));

        h.press();
        // Stopping: the image waits for the player's report.
        QCOMPARE(h.button().imageName(), kStop);
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
        QCOMPARE(h.status(), QStringLiteral("Stopped."));
        QVERIFY(!h.screen().tickTimerRunning());
        QCOMPARE(h.server.connectionsAccepted(), static_cast<std::uint64_t>(round));
    }
    QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay, kLoading, kStop, kPlay}));
    QCOMPARE(h.logLines().count(QStringLiteral("txt:") + url), 4);
    QVERIFY(h.screen().timerLabel()->text() >= QStringLiteral("00:00:02"));
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::newRow("English") << "en_GB"
                             << "Audio Error"
                             << "Attempt to play streaming audio failed."
                             << "OK"
                             << "Playback failed: the server answered \"HTTP/1.1 404 Not Found\"";
    QTest::newRow("Turkish")
        << "tr_TR"
        << "Ses Hatası"
        << "Yayındaki sesi çalma girişimi başarısız oldu."
        << "Tamam"
        << "Çalma başarısız oldu: the server answered \"HTTP/1.1 404 Not Found\"";
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle() {
    QFETCH(QString, locale);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(QString, button);
    QFETCH(QString, status);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale(locale));
    ScreenHarness h(nullptr, errorsTable());
    // A server's error page instead of audio: the player fails before playing.
    h.server.setScript("/gone.mp3", Script::notFound());
    h.setUrlText(QString::fromStdString(h.server.url("/gone.mp3")));

    h.press();
    QTRY_VERIFY_WITH_TIMEOUT(shownAlert() != nullptr, kPlayingWithinMs);
    QMessageBox* box = shownAlert();
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(box->text(), message);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->buttons().front()->text(), button);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);

    // The worker waited only until the box was up: it ends while it is shown.
    QTRY_COMPARE_WITH_TIMEOUT(h.workers.running(), std::size_t{0}, 5000);
    QVERIFY(box->isVisible());
    QTRY_COMPARE(h.button().imageName(), kPlay);
    QVERIFY(!h.button().hasAnimations());
    QVERIFY(!h.screen().tickTimerRunning());
    QCOMPARE(h.status(), status);

    // Dismissing the box changes nothing else; the next press is a new attempt.
    QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
    QTRY_VERIFY(shownAlert() == nullptr);
    h.press();
    QCOMPARE(h.button().imageName(), kLoading);
    QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionsAccepted(), std::uint64_t{2}, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(shownAlert() != nullptr, kPlayingWithinMs);
    QTRY_COMPARE(h.button().imageName(), kPlay);
}

void PlayButtonTest::pressWhileLoading_data() {
    QTest::addColumn<bool>("streamOpened");
    QTest::newRow("before the player opened its stream") << false;
    QTest::newRow("after it opened its stream, before its queue started") << true;
}

void PlayButtonTest::pressWhileLoading() {
    QFETCH(bool, streamOpened);
    auto platform = std::make_shared<GatedPlatform>();
    ScreenHarness h(platform);
    h.server.setScript("/live.mp3", streamOpened ? Script::silent() : liveStation());
    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));

    if (!streamOpened) {
        platform->beforeOpening.close();
    }
    h.press();
    if (streamOpened) {
        QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionsAccepted(), std::uint64_t{1}, 5000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(platform->beforeOpening.waiting(), 1, 5000);
    }

    h.press();
    // The spin stops at once; the image waits for the player.
    QVERIFY(!h.button().hasAnimations());
    QCOMPARE(h.button().imageName(), kLoading);

    if (streamOpened) {
        // The player reported playing and then not playing inside stop():
        // both images were posted, in that order, and the screen is Idle.
        QTRY_COMPARE(h.button().imageName(), kPlay);
        QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay}));
        QCOMPARE(h.status(), QStringLiteral("Stopped."));
        QVERIFY(!h.screen().tickTimerRunning());
        QCOMPARE(h.screen().timerLabel()->text(), QStringLiteral("00:00:00"));
    } else {
        // The stop came too early for the player: it goes on and plays.
        platform->beforeOpening.open();
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kStop, kPlayingWithinMs);
        QVERIFY(h.screen().tickTimerRunning());
        QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop}));
        h.press();
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    }
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{1});
}

void PlayButtonTest::secondPressWhileStoppingOnlyStopsAgain() {
    auto platform = std::make_shared<GatedPlatform>();
    ScreenHarness h(platform);
    h.server.setScript("/live.mp3", liveStation());
    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kStop, kPlayingWithinMs);

    platform->beforeStoppedReport.close();
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(platform->beforeStoppedReport.waiting(), 1, 5000);
    h.press();
    QCOMPARE(h.logLines().size(), 3);
    QCOMPARE(h.button().imageName(), kStop);
    QVERIFY(!h.button().hasAnimations());
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{1});

    platform->beforeStoppedReport.open();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay}));
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{1});
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
    for (int press = 1; press <= 2; ++press) {
        h.press();
        // Every press of an Idle screen makes a new attempt.
        QCOMPARE(h.button().imageName(), kLoading);
        QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
        QVERIFY(!h.button().hasAnimations());
        QCOMPARE(h.status(), status);
    }
    QVERIFY(shownAlert() == nullptr);
}

void PlayButtonTest::typedTextReachesTheServerEscaped_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("requested");
    QTest::newRow("spaces") << "/my station.mp3"
                            << "/my%20station.mp3";
    QTest::newRow("non-ASCII") << "/İstanbul kule.mp3"
                               << "/%C4%B0stanbul%20kule.mp3";
    QTest::newRow("percent sign") << "/100%.mp3"
                                  << "/100%25.mp3";
    QTest::newRow("already escaped") << "/%41tc.mp3"
                                     << "/%41tc.mp3";
    QTest::newRow("number sign") << "/a#b.mp3"
                                 << "/a%23b.mp3";
    QTest::newRow("delimiters kept") << "/l;p?q=1&r=$,+"
                                     << "/l;p?q=1&r=$,+";
}

void PlayButtonTest::typedTextReachesTheServerEscaped() {
    QFETCH(QString, path);
    QFETCH(QString, requested);
    ScreenHarness h;
    h.server.setScript("*", Script::silent());
    h.setUrlText(QString::fromStdString(h.server.url("")) + path);
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(h.server.requests().size(), std::size_t{1}, 5000);
    const QString head = QString::fromStdString(h.server.requests().front());
    QVERIFY2(head.startsWith(QStringLiteral("GET ") + requested + QStringLiteral(" HTTP/1.1")),
             qPrintable(head));
    h.press();
    QTRY_COMPARE(h.button().imageName(), kPlay);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::PlayButtonTest)
#include "PlayButtonTest.moc"
