// The media keys: the MPRIS service of the real window over the real engine,
// on a private session bus (ctest starts this program under
// dbus-run-session), driven through a second bus connection as a desktop
// would drive it.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "app/ApplicationId.h"
#include "app/MprisService.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {
namespace {

using testsupport::Script;
using PlayState = OrventoViewController::PlayState;

constexpr int kReplyWithinMs = 5000;
constexpr int kPlayingWithinMs = 15000;
const QString kClientName = QStringLiteral("orvento-mpris-test-client");

// A D-Bus value as Qt hands it over: nested dictionaries arrive unread.
QVariantMap toMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) {
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    }
    return value.toMap();
}

QString trackId(const QVariantMap& metadata) {
    return metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
}

int presses(const ScreenHarness& h) {
    return static_cast<int>(h.logLines().filter(QStringLiteral("txt:")).size());
}

}  // namespace

class MprisTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlsPressTheButtonAsItIsShown_data();
    void controlsPressTheButtonAsItIsShown();
    void statusAndStationFollowTheScreen();
    void rootInterfaceNamesAndShowsTheApplication();
    void secondServiceTakesAnInstanceName();
    void withoutABusItSaysSoOnceAndTheScreenPlaysOn();

    // PropertiesChanged of the player interface, as received.
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated);

  private:
    QDBusMessage reply(const QDBusMessage& message);
    QVariant property(const char* interface, const char* name);
    void call(const char* method, const char* interface = MprisService::kPlayerInterface);
    // A service for the harness's screen, registered on the session bus, its
    // signals recorded from now on; null when it could not register.
    std::unique_ptr<MprisService> serve(const ScreenHarness& h);
    // The PlaybackStatus the signals have announced since serve().
    QString announcedStatus() const;

    QDBusConnection client_{QString()};
    QList<QVariantMap> changes_;  // each PropertiesChanged's changed properties
};

void MprisTest::initTestCase() {
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run me under dbus-run-session");
    client_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kClientName);
    QVERIFY(client_.isConnected());
    QVERIFY(client_.connect(QString(), QLatin1String(MprisService::kObjectPath),
                            QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), this,
                            SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
}

void MprisTest::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(kClientName);
}

void MprisTest::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated) {
    QCOMPARE(interface, QLatin1String(MprisService::kPlayerInterface));
    QVERIFY(invalidated.isEmpty());
    changes_.append(changed);
}

QDBusMessage MprisTest::reply(const QDBusMessage& message) {
    // Asynchronous, so that the service (on this same thread) can answer.
    QDBusPendingCall pending = client_.asyncCall(message);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, kReplyWithinMs)) {
        QTest::qFail("no reply from the MPRIS service", __FILE__, __LINE__);
        return {};
    }
    const QDBusMessage answer = pending.reply();
    if (answer.type() != QDBusMessage::ReplyMessage) {
        QTest::qFail(qPrintable(answer.errorMessage()), __FILE__, __LINE__);
    }
    return answer;
}

QVariant MprisTest::property(const char* interface, const char* name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(MprisService::kServiceName), QLatin1String(MprisService::kObjectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(interface) << QLatin1String(name);
    const QList<QVariant> arguments = reply(get).arguments();
    return arguments.isEmpty() ? QVariant() : arguments.front().value<QDBusVariant>().variant();
}

void MprisTest::call(const char* method, const char* interface) {
    reply(QDBusMessage::createMethodCall(QLatin1String(MprisService::kServiceName),
                                         QLatin1String(MprisService::kObjectPath),
                                         QLatin1String(interface), QLatin1String(method)));
}

std::unique_ptr<MprisService> MprisTest::serve(const ScreenHarness& h) {
    auto service = std::make_unique<MprisService>(h.screen(), h.window());
    if (!service->registerOn(QDBusConnection::sessionBus())) {
        return nullptr;
    }
    changes_.clear();
    return service;
}

QString MprisTest::announcedStatus() const {
    // Every test serves an idle screen.
    QString status = QStringLiteral("Stopped");
    for (const QVariantMap& changed : changes_) {
        status = changed.value(QStringLiteral("PlaybackStatus"), status).toString();
    }
    return status;
}

void MprisTest::controlsPressTheButtonAsItIsShown_data() {
    QTest::addColumn<PlayState>("state");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<QList<PlayState>>("states");  // the screen's states after the call
    QTest::addColumn<QString>("status");           // PlaybackStatus then
    const QString on = QStringLiteral("Playing");
    const QString off = QStringLiteral("Stopped");
    using enum PlayState;
    const QList<PlayState> starts{Loading, Playing};
    const QList<PlayState> stops{Stopping, Idle};
    struct Row {
        const char* name;
        PlayState state;
        const char* method;
        int pressed;
        QList<PlayState> states;
        QString status;
    };
    for (const Row& row : {
             Row{"idle: Play starts", Idle, "Play", 1, starts, on},
             Row{"idle: Pause does nothing", Idle, "Pause", 0, {}, off},
             Row{"idle: Stop does nothing", Idle, "Stop", 0, {}, off},
             Row{"idle: PlayPause starts", Idle, "PlayPause", 1, starts, on},
             Row{"loading: Play does nothing", Loading, "Play", 0, {}, on},
             // Stopped before its queue ran: never shown as playing.
             Row{"loading: Pause stops", Loading, "Pause", 1, stops, off},
             Row{"loading: Stop stops", Loading, "Stop", 1, stops, off},
             Row{"loading: PlayPause stops", Loading, "PlayPause", 1, stops, off},
             Row{"playing: Play does nothing", Playing, "Play", 0, {}, on},
             Row{"playing: Pause stops", Playing, "Pause", 1, stops, off},
             Row{"playing: Stop stops", Playing, "Stop", 1, stops, off},
             Row{"playing: PlayPause stops", Playing, "PlayPause", 1, stops, off},
             // The player has not yet stopped: the button sends stop again.
             Row{"stopping: Play does nothing", Stopping, "Play", 0, {}, on},
             Row{"stopping: Pause stops again", Stopping, "Pause", 1, {}, on},
             Row{"stopping: Stop stops again", Stopping, "Stop", 1, {}, on},
             Row{"stopping: PlayPause stops again", Stopping, "PlayPause", 1, {}, on},
         }) {
        QTest::newRow(row.name) << row.state << QString::fromLatin1(row.method) << row.pressed
                                << row.states << row.status;
    }
}

void MprisTest::controlsPressTheButtonAsItIsShown() {
    QFETCH(PlayState, state);
    QFETCH(QString, method);
    QFETCH(int, pressed);
    QFETCH(QList<PlayState>, states);
    QFETCH(QString, status);
    auto platform = std::make_shared<GatedPlatform>();
    ScreenHarness h(platform);
    h.server.setScript("/live.mp3", liveStation());
    // Connected, and never a byte: a player that stays loading.
    h.server.setScript("/silent.mp3", Script::silent());
    const auto service = serve(h);
    QVERIFY(service);

    h.setUrlText(QString::fromStdString(
        h.server.url(state == PlayState::Loading ? "/silent.mp3" : "/live.mp3")));
    if (state != PlayState::Idle) {
        h.press();
        if (state == PlayState::Loading) {
            QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionsAccepted(), std::uint64_t{1}, 5000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Playing, kPlayingWithinMs);
        }
    }
    if (state == PlayState::Stopping) {
        platform->beforeStoppedReport.close();
        h.press();
        QTRY_COMPARE_WITH_TIMEOUT(platform->beforeStoppedReport.waiting(), 1, 5000);
    }
    QCOMPARE(h.screen().playState(), state);
    QCOMPARE(property(MprisService::kPlayerInterface, "PlaybackStatus").toString(),
             state == PlayState::Idle ? QStringLiteral("Stopped") : QStringLiteral("Playing"));

    QSignalSpy changes(&h.screen(), &OrventoViewController::playStateChanged);
    const auto seen = [&changes] {
        QList<PlayState> states;
        for (const QList<QVariant>& arguments : changes) {
            states.append(arguments.front().value<PlayState>());
        }
        return states;
    };
    const int before = presses(h);
    call(method.toLatin1().constData());
    QCOMPARE(presses(h) - before, pressed);
    QTRY_COMPARE_WITH_TIMEOUT(seen(), states, kPlayingWithinMs);
    QCOMPARE(property(MprisService::kPlayerInterface, "PlaybackStatus").toString(), status);
    if (state == PlayState::Stopping) {
        platform->beforeStoppedReport.open();
        QTRY_COMPARE_WITH_TIMEOUT(seen(), QList<PlayState>{PlayState::Idle}, 5000);
    }
    // The signals told every change: they end at the status now.
    QTRY_COMPARE(announcedStatus(), service->playbackStatus());
}

void MprisTest::statusAndStationFollowTheScreen() {
    ScreenHarness h;
    h.server.setScript("/live.mp3", liveStation());
    const QString url = QString::fromStdString(h.server.url("/live.mp3"));
    h.setUrlText(QString());
    const auto service = serve(h);
    QVERIFY(service);
    const char* player = MprisService::kPlayerInterface;

    // No URL: nothing to play, no track.
    QCOMPARE(property(player, "CanPlay").toBool(), false);
    QCOMPARE(trackId(toMap(property(player, "Metadata"))), QLatin1String(MprisService::kNoTrack));
    QCOMPARE(property(player, "PlaybackStatus").toString(), QStringLiteral("Stopped"));
    QCOMPARE(property(player, "CanPause").toBool(), true);
    QCOMPARE(property(player, "CanControl").toBool(), true);
    QCOMPARE(property(player, "CanSeek").toBool(), false);
    QCOMPARE(property(player, "CanGoNext").toBool(), false);
    call("Play");
    QCOMPARE(presses(h), 0);

    // Idle, the station in the fields is the one Play would start.
    h.setUrlText(url);
    QTRY_VERIFY(!changes_.isEmpty());
    QCOMPARE(changes_.last().value(QStringLiteral("CanPlay")), QVariant(true));
    QVariantMap metadata = toMap(changes_.last().value(QStringLiteral("Metadata")));
    QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(), url);
    QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(), url);
    const QString urlOnlyTrack = trackId(metadata);
    QVERIFY2(urlOnlyTrack.startsWith(QStringLiteral("/org/orvento/")), qPrintable(urlOnlyTrack));

    changes_.clear();
    h.screen().myTextField2()->setText(QStringLiteral("Istanbul Tower"));
    QTRY_COMPARE(changes_.size(), 1);
    QCOMPARE(changes_.last().keys(), QStringList{QStringLiteral("Metadata")});
    metadata = toMap(property(player, "Metadata"));
    QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(),
             QStringLiteral("Istanbul Tower"));
    QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(), url);
    const QString namedTrack = trackId(metadata);
    QVERIFY(namedTrack != urlOnlyTrack);

    // Playing: Position grows with what is heard.
    changes_.clear();
    call("Play");
    QTRY_VERIFY(!changes_.isEmpty());
    QCOMPARE(changes_.first().value(QStringLiteral("PlaybackStatus")),
             QVariant(QStringLiteral("Playing")));
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Playing, kPlayingWithinMs);
    QTRY_VERIFY_WITH_TIMEOUT(property(player, "Position").toLongLong() > 500000, 5000);

    // While a station is on, other text in the fields does not rename it.
    changes_.clear();
    h.setUrlText(url + QStringLiteral("?next"));
    h.screen().myTextField2()->setText(QString());
    // The service's signals come before its answer.
    QCOMPARE(trackId(toMap(property(player, "Metadata"))), namedTrack);
    QVERIFY(changes_.isEmpty());

    // Stopped: the fields' station again, announced with the status.
    call("Stop");
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Idle, 5000);
    QTRY_VERIFY(!changes_.isEmpty());
    QVariantMap last;
    for (const QVariantMap& changed : changes_) {
        last.insert(changed);
    }
    QCOMPARE(last.value(QStringLiteral("PlaybackStatus")), QVariant(QStringLiteral("Stopped")));
    metadata = toMap(last.value(QStringLiteral("Metadata")));
    QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(), url + QStringLiteral("?next"));
    QCOMPARE(property(player, "Position").toLongLong(), 0);

    // The same station has the same track id again.
    h.setUrlText(url);
    h.screen().myTextField2()->setText(QStringLiteral("Istanbul Tower"));
    QCOMPARE(trackId(toMap(property(player, "Metadata"))), namedTrack);
}

void MprisTest::rootInterfaceNamesAndShowsTheApplication() {
    ScreenHarness h;
    const auto service = serve(h);
    QVERIFY(service);
    const char* root = MprisService::kRootInterface;
    QCOMPARE(property(root, "Identity").toString(), QStringLiteral("Orvento"));
    const QString entry = property(root, "DesktopEntry").toString();
    QCOMPARE(entry, QLatin1String(kApplicationId));
    QVERIFY(QFile::exists(qEnvironmentVariable("ORVENTO_SOURCE_DIR") + QStringLiteral("/data/") +
                          entry + QStringLiteral(".desktop")));
    QCOMPARE(property(root, "CanRaise").toBool(), true);
    QCOMPARE(property(root, "CanQuit").toBool(), true);
    QCOMPARE(property(root, "HasTrackList").toBool(), false);

    h.window().showMinimized();
    QTRY_VERIFY(h.window().isMinimized());
    call("Raise", root);
    QTRY_VERIFY(!h.window().isMinimized());
    QVERIFY(h.window().isVisible());

    call("Quit", root);
    QTRY_VERIFY(!h.window().isVisible());
}

void MprisTest::secondServiceTakesAnInstanceName() {
    ScreenHarness h;
    const auto first = serve(h);
    QVERIFY(first);
    QCOMPARE(first->serviceName(), QLatin1String(MprisService::kServiceName));
    const QString other = QStringLiteral("orvento-mpris-test-second");
    {
        MprisService second(h.screen(), h.window());
        QVERIFY(
            second.registerOn(QDBusConnection::connectToBus(QDBusConnection::SessionBus, other)));
        QCOMPARE(second.serviceName(),
                 QLatin1String(MprisService::kServiceName) +
                     QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()));
    }
    QDBusConnection::disconnectFromBus(other);
}

void MprisTest::withoutABusItSaysSoOnceAndTheScreenPlaysOn() {
    ScreenHarness h;
    h.server.setScript("/live.mp3", liveStation());
    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));
    QStringList lines;
    const QString nowhere = QStringLiteral("orvento-mpris-test-nowhere");
    {
        MprisService service(h.screen(), h.window(), [&lines](std::string_view text) {
            lines.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        });
        QVERIFY(!service.registerOn(
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), nowhere)));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.front().startsWith(QStringLiteral("mpris: no D-Bus session bus")),
                 qPrintable(lines.front()));
        QVERIFY(service.serviceName().isEmpty());
        // The controls still reach the button.
        service.play();
        QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Playing, kPlayingWithinMs);
        service.stop();
        QTRY_COMPARE_WITH_TIMEOUT(h.screen().playState(), PlayState::Idle, 5000);
    }
    QCOMPARE(lines.size(), 1);
    QDBusConnection::disconnectFromBus(nowhere);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::MprisTest)
#include "MprisTest.moc"
