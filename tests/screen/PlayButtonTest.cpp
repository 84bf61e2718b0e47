// The play/stop button through the real screen, controller and engine,
// against a loopback station: presses while loading and stopping, the images
// in the order posted, the spin, the failure alert and the status line as
// plain text, and the escaping of the typed URL.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "controller/StatusTexts.h"
#include "screen/Translations.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {
namespace {

using loopback::Script;

const QString kPlay = QStringLiteral("playbutton.png");
const QString kLoading = QStringLiteral("loadingbutton.png");
const QString kStop = QStringLiteral("stopbutton.png");

}  // namespace

class PlayButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void pressesWhileBusy_data();
    void pressesWhileBusy();
    void failureShowsTheAlertAndReturnsToIdle_data();
    void failureShowsTheAlertAndReturnsToIdle();
    void typedTextReachesTheServerEscaped();
};

void PlayButtonTest::pressesWhileBusy_data() {
    QTest::addColumn<bool>("streamOpened");
    // Depends on the engine ignoring a stop before its stream opened: the
    // player plays on, and the second press stops it.
    QTest::newRow("loading before the stream opened, then stopping") << false;
    QTest::newRow("loading with the stream open, its queue not started") << true;
}

void PlayButtonTest::pressesWhileBusy() {
    QFETCH(bool, streamOpened);
    auto platform = std::make_shared<GatedPlatform>();
    ScreenHarness h(platform);
    h.server.setScript("/live.mp3", streamOpened ? Script::silent() : liveStation());
    h.setUrlText(h.url("/live.mp3"));
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
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->listenedSeconds() >= 1.0, 5000);
        QTRY_COMPARE(h.screen().timerLabel()->text(),
                     elapsedTimeText(h.controller->listenedSeconds()));
        // Stopping, the image waits for the player's report; a second press
        // only stops again.
        platform->beforeStoppedReport.close();
        h.press();
        QTRY_COMPARE_WITH_TIMEOUT(platform->beforeStoppedReport.waiting(), 1, 5000);
        h.press();
        QCOMPARE(h.logLines().filter(QStringLiteral("txt:")).size(), 4);
        QCOMPARE(h.button().imageName(), kStop);
        platform->beforeStoppedReport.open();
    }
    // A stop before the queue ran: both images posted, in order.
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay}));
    QCOMPARE(h.status(), QStringLiteral("Stopped."));
    QVERIFY(!h.controller->listeningTimeRunning());
    QCOMPARE(h.screen().timerLabel()->text() == QStringLiteral("00:00:00"), streamOpened);
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{1});
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("texts");  // title, message, button, status line
    // The server's words, markup and all, shown as they are.
    const QString cause =
        QStringLiteral(": the server answered \"HTTP/1.1 404 <font size=7>HUGE</font>\"");
    QTest::newRow("English") << "en_GB"
                             << QStringList{"Audio Error",
                                            "Attempt to play streaming audio failed.", "OK",
                                            "The stream could not be opened" + cause};
    QTest::newRow("Turkish") << "tr_TR"
                             << QStringList{"Ses Hatası",
                                            "Yayındaki sesi çalma girişimi başarısız oldu.",
                                            "Tamam", "Yayın açılamadı" + cause};
}

void PlayButtonTest::failureShowsTheAlertAndReturnsToIdle() {
    QFETCH(QString, locale);
    QFETCH(QStringList, texts);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale(locale));
    ScreenHarness h(nullptr, errorsTable());
    // A server's error page instead of audio: the player fails before playing.
    h.server.setScript("/gone.mp3",
                       Script::notFound().withStatusLine("HTTP/1.1 404 <font size=7>HUGE</font>"));
    h.setUrlText(h.url("/gone.mp3"));

    h.press();
    QTRY_VERIFY_WITH_TIMEOUT(shownAlert() != nullptr, 15000);
    QMessageBox* box = shownAlert();
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE((QStringList{box->windowTitle(), box->text(), box->buttons().front()->text()}),
             texts.mid(0, 3));
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QCOMPARE(box->textFormat(), Qt::PlainText);

    // The worker waited only until the box was up: it ends while it is shown.
    QTRY_COMPARE_WITH_TIMEOUT(h.workers.running(), std::size_t{0}, 5000);
    QVERIFY(box->isVisible());
    QTRY_COMPARE(h.button().imageName(), kPlay);
    QVERIFY(!h.button().hasAnimations());
    QVERIFY(!h.controller->listeningTimeRunning());
    QCOMPARE(h.status(), texts[3]);
    QCOMPARE(h.screen().statusLabel->textFormat(), Qt::PlainText);
}

void PlayButtonTest::typedTextReachesTheServerEscaped() {
    // Spaces, non-ASCII text, "%", "%41" (kept) and "#"; delimiters kept.
    ScreenHarness h;
    h.server.setScript("*", Script::silent());
    h.setUrlText(h.url("") + QStringLiteral("/İstanbul kule/100%/%41#b;p?q=1&r=$,+"));
    QTest::keyClick(h.screen().textField, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(h.server.requests().size(), std::size_t{1}, 5000);
    const QString head = QString::fromStdString(h.server.requests().front());
    QVERIFY2(head.startsWith(
                 QStringLiteral("GET /%C4%B0stanbul%20kule/100%25/%41%23b;p?q=1&r=$,+ HTTP/1.1")),
             qPrintable(head));
    h.press();
    QTRY_COMPARE(h.button().imageName(), kPlay);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::PlayButtonTest)
#include "PlayButtonTest.moc"
