// The play/stop button through the real screen, controller and engine,
// against a loopback station: presses while loading and stopping, the images
// in the order posted, the spin and the listening time. (ScreenshotTest
// shows the failure alert.)
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "controller/StatusTexts.h"
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
};

void PlayButtonTest::pressesWhileBusy_data() {
    QTest::addColumn<bool>("streamOpened");
    QTest::newRow("stopped while loading, before the stream opened") << false;
    QTest::newRow("loading with the stream open, its queue not started") << true;
}

void PlayButtonTest::pressesWhileBusy() {
    QFETCH(bool, streamOpened);
    auto platform = std::make_shared<GatedServices>();
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
        // A loaded machine may take the whole turn to connect: the stop must
        // find the stream open.
        QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionsAccepted(), std::uint64_t{1}, 5000);
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
        // The player goes no further than where the stop found it.
        platform->beforeOpening.open();
    }
    // A stop before the queue ran: both images posted, in order.
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), kPlay, 5000);
    QCOMPARE(h.images(), (QStringList{kPlay, kLoading, kStop, kPlay}));
    QCOMPARE(h.status(), QStringLiteral("Stopped."));
    QVERIFY(!h.controller->listeningTimeRunning());
    QCOMPARE(h.screen().timerLabel()->text(), QStringLiteral("00:00:00"));
    QCOMPARE(h.server.connectionsAccepted(), std::uint64_t{streamOpened ? 1U : 0U});
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::PlayButtonTest)
#include "PlayButtonTest.moc"
