// The screen's parts on their own: the listening-time text and count, the
// timers' threading, the diagnostic line format.
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <thread>

#include "screen/DiagnosticLog.h"
#include "screen/OrventoViewController.h"
#include "screen/ScreenTexts.h"

namespace orvento::test {

class ScreenPartsTest : public QObject {
    Q_OBJECT

  private slots:
    void elapsedTimeText_data();
    void elapsedTimeText();
    void countFollowsRealTimeWhileTheMainThreadIsBusy();
    void timerCallsTakeEffectInCallOrder_data();
    void timerCallsTakeEffectInCallOrder();
    void logLineLooksLikeThePlatformLog();
};

void ScreenPartsTest::elapsedTimeText_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0.0 << "00:00:00";
    QTest::newRow("just under a second") << 0.999 << "00:00:00";
    QTest::newRow("one second") << 1.0 << "00:00:01";
    QTest::newRow("last tenth of a minute") << 59.9 << "00:00:59";
    QTest::newRow("599 ticks of 0.1 s summed") << [] {
        double t = 0;
        for (int i = 0; i < 599; ++i) {
            t += 0.1;
        }
        return t;
    }() << "00:00:59";
    QTest::newRow("one minute") << 60.0 << "00:01:00";
    QTest::newRow("just under an hour") << 3599.9 << "00:59:59";
    QTest::newRow("one hour") << 3600.0 << "01:00:00";
    QTest::newRow("100 hours, not wrapped") << 360000.0 << "100:00:00";
    QTest::newRow("negative") << -1.0 << "00:00:00";
}

void ScreenPartsTest::elapsedTimeText() {
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(orvento::elapsedTimeText(seconds), text);
}

void ScreenPartsTest::countFollowsRealTimeWhileTheMainThreadIsBusy() {
    OrventoViewController screen;
    screen.startTimer();
    QTRY_VERIFY(screen.tickTimerRunning());
    // The main thread is busy for 1.3 s: hardly any tick is delivered, yet
    // the count and the label follow the time that passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    QTRY_VERIFY_WITH_TIMEOUT(screen.timerLabel()->text() >= QStringLiteral("00:00:01"), 500);
    QVERIFY(screen.listenedSeconds() >= 1.3);
}

void ScreenPartsTest::timerCallsTakeEffectInCallOrder_data() {
    // Calls as "<thread><call>": w = another thread, m = the main thread;
    // + = startTimer, - = stopTimer. The main thread's calls follow the
    // other thread's, which have all returned by then.
    QTest::addColumn<QString>("calls");
    QTest::addColumn<bool>("running");
    QTest::newRow("start elsewhere") << "w+" << true;
    QTest::newRow("start then stop elsewhere") << "w+w-" << false;
    QTest::newRow("start elsewhere, stop on main") << "w+m-" << false;
    QTest::newRow("stop elsewhere, start on main") << "w-m+" << true;
    QTest::newRow("start, stop, start elsewhere") << "w+w-w+" << true;
    QTest::newRow("start twice, stop once") << "w+m+m-" << false;
}

void ScreenPartsTest::timerCallsTakeEffectInCallOrder() {
    QFETCH(QString, calls);
    QFETCH(bool, running);
    OrventoViewController screen;
    const auto call = [&screen](QChar what) {
        if (what == QLatin1Char('+')) {
            screen.startTimer();
        } else {
            screen.stopTimer();
        }
    };
    std::thread other([&] {
        for (qsizetype i = 0; i + 1 < calls.size(); i += 2) {
            if (calls[i] == QLatin1Char('w')) {
                call(calls[i + 1]);
            }
        }
    });
    other.join();
    for (qsizetype i = 0; i + 1 < calls.size(); i += 2) {
        if (calls[i] == QLatin1Char('m')) {
            call(calls[i + 1]);
        }
    }
    QCoreApplication::processEvents();
    QCOMPARE(screen.tickTimerRunning(), running);
}

void ScreenPartsTest::logLineLooksLikeThePlatformLog() {
    const auto when =
        std::chrono::system_clock::from_time_t(1700000000) + std::chrono::milliseconds(42);
    const QString line = QString::fromStdString(formatLogLine("txt:http://h/a b", when));
    const QRegularExpression format(QStringLiteral(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.042 [^\s\[]+\[(\d+)\] txt:http://h/a b\n$)"));
    const QRegularExpressionMatch match = format.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1).toLongLong(), QCoreApplication::applicationPid());
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::ScreenPartsTest)
#include "ScreenPartsTest.moc"
