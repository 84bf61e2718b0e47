// Keeping the desktop awake, on a private session bus (ctest starts this
// under dbus-run-session with session-bus.conf) where the test plays the
// desktop: a service that answers as the portal and the screen saver do and
// writes down each call, on a connection and thread of its own (the
// inhibitor's release blocks).
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <mutex>

#include "app/DesktopIdleInhibitor.h"

namespace orvento::test {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kHandle = QStringLiteral("/org/freedesktop/portal/desktop/request/1/orvento");

// Each call as "<path> <interface>.<member>(<arguments>)".
class Desktop : public QDBusVirtualObject {
  public:
    bool portalRefuses = false;

    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QStringList arguments;
        for (const QVariant& argument : message.arguments()) {
            if (argument.canConvert<QDBusArgument>()) {  // the portal's options
                const QVariantMap options =
                    qdbus_cast<QVariantMap>(argument.value<QDBusArgument>());
                arguments.append(QStringLiteral("{reason=%1}")
                                     .arg(options.value(QStringLiteral("reason")).toString()));
            } else {
                arguments.append(argument.toString());
            }
        }
        {
            std::lock_guard lock(mutex_);
            calls_.append(QStringLiteral("%1 %2.%3(%4)")
                              .arg(message.path(), message.interface(), message.member(),
                                   arguments.join(QStringLiteral(", "))));
        }
        QDBusMessage reply = message.createReply();
        if (message.member() == QLatin1String("Inhibit")) {
            if (message.interface() != QLatin1String("org.freedesktop.portal.Inhibit")) {
                reply = message.createReply(QVariant::fromValue(uint{42}));
            } else if (portalRefuses) {
                reply = message.createErrorReply(
                    QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                    QStringLiteral("Not allowed here"));
            } else {
                reply = message.createReply(QVariant::fromValue(QDBusObjectPath(kHandle)));
            }
        }
        return connection.send(reply);
    }
    QStringList calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    mutable std::mutex mutex_;
    QStringList calls_;  // guarded by mutex_
};

}  // namespace

class IdleInhibitorTest : public QObject {
    Q_OBJECT

  private slots:
    void keepsTheScreenAwakeUntilItGoes_data();
    void keepsTheScreenAwakeUntilItGoes();
};

void IdleInhibitorTest::keepsTheScreenAwakeUntilItGoes_data() {
    QTest::addColumn<QStringList>("services");  // the names the desktop has
    QTest::addColumn<bool>("portalRefuses");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("logLine");  // its beginning
    const QString inhibit = QStringLiteral(
        "/org/freedesktop/portal/desktop org.freedesktop.portal.Inhibit.Inhibit(, 8, "
        "{reason=Playing air-traffic control radio})");
    const QString close = kHandle + QStringLiteral(" org.freedesktop.portal.Request.Close()");
    const QString saverInhibit = QStringLiteral(
        "/org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver.Inhibit(Orvento, Playing "
        "air-traffic control radio)");
    const QString saverRelease =
        QStringLiteral("/org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver.UnInhibit(42)");
    const QString throughSaver =
        QStringLiteral("screen kept awake through org.freedesktop.ScreenSaver");

    QTest::newRow("the desktop portal")
        << QStringList{kPortal, kScreenSaver} << false << QStringList{inhibit, close}
        << "screen kept awake through the desktop portal";
    QTest::newRow("the screen saver alone")
        << QStringList{kScreenSaver} << false << QStringList{saverInhibit, saverRelease}
        << throughSaver;
    QTest::newRow("a portal that refuses")
        << QStringList{kPortal, kScreenSaver} << true
        << QStringList{inhibit, saverInhibit, saverRelease} << throughSaver;
    QTest::newRow("neither") << QStringList{} << false << QStringList{}
                             << "screen not kept awake: the desktop portal: ";
}

void IdleInhibitorTest::keepsTheScreenAwakeUntilItGoes() {
    QFETCH(QStringList, services);
    QFETCH(bool, portalRefuses);
    QFETCH(QStringList, calls);
    QFETCH(QString, logLine);

    const QString name = QStringLiteral("desktop-%1").arg(QTest::currentDataTag());
    Desktop desktop;
    desktop.portalRefuses = portalRefuses;
    QThread thread;
    desktop.moveToThread(&thread);
    thread.start();
    const auto end = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus(name);
        thread.quit();
        thread.wait();
    });
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        QVERIFY2(bus.isConnected(), "run under dbus-run-session: no session bus");
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                          &desktop, QDBusConnection::SubPath));
        QVERIFY(
            bus.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &desktop));
        for (const QString& service : services) {
            QVERIFY(bus.registerService(service));
        }
    }

    QStringList lines;
    auto inhibitor = std::make_unique<DesktopIdleInhibitor>(
        [&lines](std::string_view text) { lines.append(QString::fromUtf8(text)); });
    inhibitor->setIdleTimerDisabled(true);
    QTRY_COMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(logLine), qPrintable(lines[0]));

    // Held while the object lives (asking again asks nothing more): every
    // call but the release has come. It is released when the object goes.
    inhibitor->setIdleTimerDisabled(true);
    QTest::qWait(100);
    QCOMPARE(desktop.calls().size(), std::max<qsizetype>(calls.size() - 1, 0));
    inhibitor.reset();
    QTRY_COMPARE(desktop.calls(), calls);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::IdleInhibitorTest)
#include "IdleInhibitorTest.moc"
