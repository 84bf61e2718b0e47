// Keeping the desktop awake through the session bus. Runs on a private
// session bus (ctest starts it under dbus-run-session) where the test itself
// plays the desktop: a recording service that answers as the portal and the
// screen saver do, on a connection and thread of its own.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>
#include <QThread>
#include <mutex>

#include "app/DesktopIdleInhibitor.h"

namespace orvento::test {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kHandle = QStringLiteral("/org/freedesktop/portal/desktop/request/1/orvento");

QString argumentText(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        QStringList members;
        const QVariantMap map = qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
        for (auto it = map.begin(); it != map.end(); ++it) {
            const QVariant member = it.value().canConvert<QDBusVariant>()
                                        ? it.value().value<QDBusVariant>().variant()
                                        : it.value();
            members.append(it.key() + QLatin1Char('=') + member.toString());
        }
        return QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return value.toString();
}

// Answers the portal's and the screen saver's calls and writes each down as
// "<sender> <path> <interface>.<member>(<arguments>)".
class Desktop : public QDBusVirtualObject {
  public:
    bool portalRefuses = false;

    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QStringList arguments;
        for (const QVariant& argument : message.arguments()) {
            arguments.append(argumentText(argument));
        }
        {
            std::lock_guard lock(mutex_);
            calls_.append(QStringLiteral("%1 %2 %3.%4(%5)")
                              .arg(message.service(), message.path(), message.interface(),
                                   message.member(), arguments.join(QStringLiteral(", "))));
        }
        QDBusMessage reply = message.createReply();
        if (message.member() == QLatin1String("Inhibit")) {
            if (message.interface() == QLatin1String("org.freedesktop.portal.Inhibit")) {
                reply = portalRefuses
                            ? message.createErrorReply(
                                  QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                  QStringLiteral("Not allowed here"))
                            : message.createReply(QVariant::fromValue(QDBusObjectPath(kHandle)));
            } else {
                reply = message.createReply(QVariant::fromValue(uint{42}));
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

// The desktop on the session bus: answering on a thread and a connection of
// its own (so that the inhibitor's blocking release gets its answer), under
// the given service names, until the object goes.
class DesktopOnTheBus {
  public:
    DesktopOnTheBus(const QString& connectionName, const QStringList& services, bool portalRefuses)
        : name_(connectionName) {
        thread_.start();
        desktop.portalRefuses = portalRefuses;
        desktop.moveToThread(&thread_);
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_);
        ready = bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                          &desktop, QDBusConnection::SubPath) &&
                bus.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &desktop);
        for (const QString& service : services) {
            ready = ready && bus.registerService(service);
        }
    }
    ~DesktopOnTheBus() {
        QDBusConnection::disconnectFromBus(name_);
        thread_.quit();
        thread_.wait();
    }
    DesktopOnTheBus(const DesktopOnTheBus&) = delete;
    DesktopOnTheBus& operator=(const DesktopOnTheBus&) = delete;

    Desktop desktop;
    bool ready = false;

  private:
    const QString name_;
    QThread thread_;
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
    QTest::addColumn<bool>("sessionBus");
    QTest::addColumn<QStringList>("calls");  // without the sender, "@" for the handle
    QTest::addColumn<QString>("logLine");    // its beginning
    const QString inhibit = QStringLiteral(
        "/org/freedesktop/portal/desktop org.freedesktop.portal.Inhibit.Inhibit(, 8, "
        "{reason=Playing air-traffic control radio})");
    const QString close = QStringLiteral("@ org.freedesktop.portal.Request.Close()");
    const QString saverInhibit = QStringLiteral(
        "/org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver.Inhibit(Orvento, Playing "
        "air-traffic control radio)");
    const QString saverRelease =
        QStringLiteral("/org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver.UnInhibit(42)");

    QTest::newRow("the desktop portal")
        << QStringList{kPortal, kScreenSaver} << false << true << QStringList{inhibit, close}
        << "screen kept awake through the desktop portal";
    QTest::newRow("the screen saver alone")
        << QStringList{kScreenSaver} << false << true << QStringList{saverInhibit, saverRelease}
        << "screen kept awake through org.freedesktop.ScreenSaver";
    QTest::newRow("a portal that refuses")
        << QStringList{kPortal, kScreenSaver} << true << true
        << QStringList{inhibit, saverInhibit, saverRelease}
        << "screen kept awake through org.freedesktop.ScreenSaver";
    QTest::newRow("neither") << QStringList{} << false << true << QStringList{}
                             << "screen not kept awake: the desktop portal: ";
    QTest::newRow("no session bus") << QStringList{} << false << false << QStringList{}
                                    << "screen not kept awake: no session bus";
}

void IdleInhibitorTest::keepsTheScreenAwakeUntilItGoes() {
    QFETCH(QStringList, services);
    QFETCH(bool, portalRefuses);
    QFETCH(bool, sessionBus);
    QFETCH(QStringList, calls);
    QFETCH(QString, logLine);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(),
             "run under dbus-run-session: no session bus");

    DesktopOnTheBus desktop(QStringLiteral("desktop-%1").arg(QTest::currentDataTag()), services,
                            portalRefuses);
    QVERIFY(desktop.ready);

    QStringList lines;
    const QDBusConnection appBus =
        sessionBus ? QDBusConnection::sessionBus()
                   : QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                   QStringLiteral("no-bus"));
    auto inhibitor = std::make_unique<DesktopIdleInhibitor>(
        [&lines](std::string_view text) {
            lines.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        },
        appBus);
    inhibitor->setIdleTimerDisabled(true);
    QTRY_COMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(logLine), qPrintable(lines[0]));

    // Held while the object lives (a second request asks nothing more): every
    // call but the release has come. It is ended when the object goes.
    inhibitor->setIdleTimerDisabled(true);
    QTest::qWait(100);
    QCOMPARE(desktop.desktop.calls().size(), std::max<qsizetype>(calls.size() - 1, 0));
    inhibitor.reset();
    QStringList expected;
    for (QString call : calls) {
        expected.append(appBus.baseService() + QLatin1Char(' ') +
                        call.replace(QLatin1Char('@'), kHandle));
    }
    QTRY_COMPARE(desktop.desktop.calls(), expected);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::IdleInhibitorTest)
#include "IdleInhibitorTest.moc"
