// A station waiting out a long backoff, told by a stand-in logind on a private
// bus (ctest runs this under dbus-run-session; that bus stands for the system
// bus too) that the machine woke up; and the lines said without a bus.
#include <QDBusMessage>
#include <QTest>

#include "app/ResumeWatcher.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {

class ResumeTest : public QObject {
    Q_OBJECT

  private slots:
    void aWakeUpCutsTheWaitShort_data();
    void aWakeUpCutsTheWaitShort();

  public slots:
    void heard() { ++heard_; }

  private:
    int heard_ = 0;
};

void ResumeTest::aWakeUpCutsTheWaitShort_data() {
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("sleeping");
    QTest::addColumn<bool>("retried");
    QTest::newRow("woke up") << ResumeWatcher::kLogindService << false << true;
    QTest::newRow("going to sleep") << ResumeWatcher::kLogindService << true << false;
    QTest::newRow("not logind") << "org.example.NotLogind" << false << false;
}

void ResumeTest::aWakeUpCutsTheWaitShort() {
    QFETCH(QString, sender);
    QFETCH(bool, sleeping);
    QFETCH(bool, retried);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    c.setBackoffPolicy(BackoffPolicy({std::chrono::minutes(10)}, 0));
    h.server.setScript("/s", liveStation(12000));  // closes after some audio
    c.setAddressText(h.url("/s"));
    const ResumeWatcher watcher(c, nullptr, h.log);
    const ResumeWatcher noBus(c, nullptr, h.log,
                              QDBusConnection::connectToBus("unix:path=/-", "-"));
    QCOMPARE(h.logLines().filter(QRegularExpression("^no system bus: .+; after a suspend")).size(),
             1);
    // The private bus has no NetworkManager on it.
    QCOMPARE(h.logLines().filter("no network reachability backend").size(), 2);
    c.press();
    QTRY_VERIFY_WITH_TIMEOUT(c.reconnectWaiting(), 15000);
    const quint64 attempts = c.attempts();

    // The test hears the signal on the watcher's connection, after the watcher.
    QDBusConnection bus = QDBusConnection::systemBus();
    const QString path = ResumeWatcher::kLogindPath, manager = ResumeWatcher::kLogindManager;
    bus.connect({}, path, manager, "PrepareForSleep", this, SLOT(heard()));
    QDBusConnection standIn = QDBusConnection::connectToBus(QDBusConnection::SessionBus, sender);
    QVERIFY(standIn.registerService(sender));
    heard_ = 0;
    QVERIFY(standIn.send(QDBusMessage::createSignal(path, manager, "PrepareForSleep") << sleeping));
    QTRY_COMPARE(heard_, 1);
    QCoreApplication::processEvents();
    QCOMPARE(c.attempts(), attempts + (retried ? 1 : 0));
    QCOMPARE(c.reconnectWaiting(), !retried);
    QCOMPARE(h.logLines().contains("woke up: reconnecting 1 station now"), retried);
    bus.disconnect({}, path, manager, "PrepareForSleep", this, SLOT(heard()));
    QDBusConnection::disconnectFromBus(sender);
    c.press();
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::ResumeTest)
#include "ResumeTest.moc"
