// The MPRIS service where mpris-session.sh (the real program driven with
// gdbus) cannot reach: fields without a station or changing under a playing
// one, Raise, a second instance (PlayButtonTest: a loading or stopping
// screen). On a private session bus (ctest starts this under
// dbus-run-session), driven through a second connection as a desktop would.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QTest>

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

}  // namespace

class MprisTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void stationFollowsTheFields();
    void secondServiceTakesAnInstanceName();

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

void MprisTest::initTestCase() {
    client_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kClient);
    QVERIFY2(client_.isConnected(), "run me under dbus-run-session");
    QVERIFY(client_.connect(QString(), QLatin1String(MprisService::kObjectPath),
                            QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), this,
                            SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
}

void MprisTest::stationFollowsTheFields() {
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

void MprisTest::secondServiceTakesAnInstanceName() {
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

}  // namespace orvento::test

QTEST_MAIN(orvento::test::MprisTest)
#include "MprisTest.moc"
