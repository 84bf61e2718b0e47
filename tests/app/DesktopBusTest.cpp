// The desktop's services on a private session bus (ctest starts this under
// dbus-run-session with session-bus.conf), driven or played by the test:
// - MPRIS where mpris-session.sh (the real program driven with gdbus) cannot
//   reach: fields without a station or changing under a playing one, Raise, a
//   second instance (PlayButtonTest: a loading or stopping screen);
// - keeping the desktop awake, against a service that answers as the portal
//   and the screen saver do and writes down each call, on a connection and
//   thread of its own (the inhibitor's release blocks).
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <mutex>

#include "app/DesktopIdleInhibitor.h"
#include "app/MprisService.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {
namespace {

using PlayState = OrventoViewController::PlayState;
const char* const kPlayer = MprisService::kPlayerInterface;
const QString kClient = QStringLiteral("orvento-mpris-test-client");

// Nested dictionaries arrive as unread D-Bus arguments.
QVariantMap toMap(const QVariant& value) {
    return value.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(value.value<QDBusArgument>())
                                             : value.toMap();
}

qsizetype presses(const ScreenHarness& h) {
    return h.logLines().filter(QStringLiteral("txt:")).size();
}

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

class DesktopBusTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void mprisStationFollowsTheFields();
    void mprisSecondServiceTakesAnInstanceName();
    void idleInhibitorKeepsTheScreenAwakeUntilItGoes_data();
    void idleInhibitorKeepsTheScreenAwakeUntilItGoes();

    void propertiesChanged(const QString& /*interface*/, const QVariantMap& changed,
                           const QStringList& /*invalidated*/) {
        changes_.append(changed);
    }

  private:
    // The answer's first argument; the call is asynchronous so that the
    // service, on this thread, can answer.
    QVariant call(const char* interface, const char* member, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QLatin1String(MprisService::kServiceName), QLatin1String(MprisService::kObjectPath),
            QLatin1String(interface), QLatin1String(member));
        message.setArguments(arguments);
        QDBusPendingCall pending = client_.asyncCall(message);
        return QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)
                   ? pending.reply().arguments().value(0)
                   : QVariant();
    }
    QVariant property(const char* name) {
        return call("org.freedesktop.DBus.Properties", "Get",
                    {QLatin1String(kPlayer), QLatin1String(name)})
            .value<QDBusVariant>()
            .variant();
    }

    QDBusConnection client_{QString()};
    QList<QVariantMap> changes_;
};

void DesktopBusTest::initTestCase() {
    client_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kClient);
    QVERIFY2(client_.isConnected(), "run me under dbus-run-session");
    QVERIFY(client_.connect(QString(), QLatin1String(MprisService::kObjectPath),
                            QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), this,
                            SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
}

void DesktopBusTest::mprisStationFollowsTheFields() {
    ScreenHarness h;  // no station listed: empty fields
    h.server.setScript("/live.mp3", liveStation());
    const QString url = QString::fromStdString(h.server.url("/live.mp3"));
    MprisService service(h.screen(), h.window());
    QVERIFY(service.registerOn(QDBusConnection::sessionBus()));
    changes_.clear();

    QCOMPARE(property("CanPlay"), QVariant(false));
    QCOMPARE(toMap(property("Metadata"))
                 .value(QStringLiteral("mpris:trackid"))
                 .value<QDBusObjectPath>()
                 .path(),
             QLatin1String(MprisService::kNoTrack));
    call(kPlayer, "PlayPause");
    QCOMPARE(presses(h), 0);

    // Announced as the fields change.
    h.setUrlText(url);
    h.screen().myTextField2()->setText(QStringLiteral("Istanbul Tower"));
    QTRY_COMPARE(changes_.size(), 2);
    QCOMPARE(changes_[0].value(QStringLiteral("CanPlay")), QVariant(true));
    const QVariantMap metadata = toMap(changes_[1].value(QStringLiteral("Metadata")));
    QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(),
             QStringLiteral("Istanbul Tower"));
    QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(), url);

    // A playing station is the one pressed, whatever the fields say now.
    call(kPlayer, "Play");
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Playing, 15000);
    h.setUrlText(url + QStringLiteral("?next"));
    QCOMPARE(toMap(property("Metadata")).value(QStringLiteral("xesam:url")).toString(), url);
    call(kPlayer, "Stop");
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Idle, 5000);
    QCOMPARE(toMap(property("Metadata")).value(QStringLiteral("xesam:url")).toString(),
             url + QStringLiteral("?next"));

    h.window().showMinimized();
    QTRY_VERIFY(h.window().isMinimized());
    call(MprisService::kRootInterface, "Raise");
    QTRY_VERIFY(!h.window().isMinimized());
}

void DesktopBusTest::mprisSecondServiceTakesAnInstanceName() {
    ScreenHarness h;
    MprisService first(h.screen(), h.window());
    MprisService second(h.screen(), h.window());
    QVERIFY(first.registerOn(QDBusConnection::sessionBus()));
    QVERIFY(second.registerOn(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"))));
    QCOMPARE(second.serviceName(),
             QLatin1String(MprisService::kServiceName) +
                 QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()));
}

void DesktopBusTest::idleInhibitorKeepsTheScreenAwakeUntilItGoes_data() {
    QTest::addColumn<QStringList>("services");  // the names the desktop has
    QTest::addColumn<bool>("portalRefuses");
    QTest::addColumn<bool>("sessionBus");
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
        << QStringList{kPortal, kScreenSaver} << false << true << QStringList{inhibit, close}
        << "screen kept awake through the desktop portal";
    QTest::newRow("the screen saver alone")
        << QStringList{kScreenSaver} << false << true << QStringList{saverInhibit, saverRelease}
        << throughSaver;
    QTest::newRow("a portal that refuses")
        << QStringList{kPortal, kScreenSaver} << true << true
        << QStringList{inhibit, saverInhibit, saverRelease} << throughSaver;
    QTest::newRow("neither") << QStringList{} << false << true << QStringList{}
                             << "screen not kept awake: the desktop portal: ";
    QTest::newRow("no session bus") << QStringList{} << false << false << QStringList{}
                                    << "screen not kept awake: no session bus";
}

void DesktopBusTest::idleInhibitorKeepsTheScreenAwakeUntilItGoes() {
    QFETCH(QStringList, services);
    QFETCH(bool, portalRefuses);
    QFETCH(bool, sessionBus);
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
    const QDBusConnection appBus =
        sessionBus ? QDBusConnection::sessionBus()
                   : QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                   QStringLiteral("no-bus"));
    auto inhibitor = std::make_unique<DesktopIdleInhibitor>(
        [&lines](std::string_view text) { lines.append(QString::fromUtf8(text)); }, appBus);
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

QTEST_MAIN(orvento::test::DesktopBusTest)
#include "DesktopBusTest.moc"
