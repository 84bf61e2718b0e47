// A station, or a monitor feed, waiting out a long backoff, told through Qt's
// own NetworkManager reachability backend that the network changed: a
// stand-in NetworkManager on a private bus (ctest runs this under
// dbus-run-session; that bus stands for the system bus too) reports its
// state. A program of its own because Qt loads one reachability backend per
// process and keeps it, and the resume tests need a process without one.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>
#include <QThread>
#include <atomic>

#include "app/ResumeWatcher.h"
#include "controller/MonitorController.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

using Reachability = QNetworkInformation::Reachability;

// NetworkManager's states (NMState) and what Qt's backend makes of them.
constexpr uint kDisconnected = 20;
constexpr uint kConnectedLocal = 50;
constexpr uint kConnectedSite = 60;
constexpr uint kConnectedGlobal = 70;
// Its connectivity (NMConnectivityState), given along with the state.
constexpr uint kConnectivityNone = 1;
constexpr uint kConnectivityFull = 4;

Reachability reachabilityOf(uint state) {
    switch (state) {
        case kDisconnected:
            return Reachability::Disconnected;
        case kConnectedLocal:
            return Reachability::Local;
        case kConnectedSite:
            return Reachability::Site;
        case kConnectedGlobal:
            return Reachability::Online;
        default:
            return Reachability::Unknown;
    }
}

uint connectivityOf(uint state) {
    return state == kConnectedGlobal ? kConnectivityFull : kConnectivityNone;
}

// org.freedesktop.NetworkManager at /org/freedesktop/NetworkManager, as much
// as Qt's backend asks of it: the manager's properties through
// org.freedesktop.DBus.Properties (one GetAll when the backend loads), then
// PropertiesChanged. Qt's reachability follows State alone; Connectivity,
// PrimaryConnection ("/": none, so no device is asked about) and Metered are
// given as NetworkManager gives them.
//
// The object answers on a thread of its own: the backend's GetAll is a
// blocking call from the main thread.
class StandInNetworkManager {
  public:
    static constexpr const char* kService = "org.freedesktop.NetworkManager";
    static constexpr const char* kPath = "/org/freedesktop/NetworkManager";
    static constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

    explicit StandInNetworkManager(uint state)
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kService)) {
        manager_.state = state;
        registered_ = bus_.registerVirtualObject(QLatin1String(kPath), &manager_);
        manager_.moveToThread(&thread_);
        thread_.start();
        registered_ = registered_ && bus_.registerService(QLatin1String(kService));
    }
    ~StandInNetworkManager() {
        bus_.unregisterObject(QLatin1String(kPath));
        QDBusConnection::disconnectFromBus(QLatin1String(kService));
        thread_.quit();
        thread_.wait();
    }
    StandInNetworkManager(const StandInNetworkManager&) = delete;
    StandInNetworkManager& operator=(const StandInNetworkManager&) = delete;

    bool registered() const { return registered_; }

    // Sets State and announces it with the connectivity that goes with it,
    // as NetworkManager does.
    bool setState(uint state) {
        manager_.state = state;
        QDBusMessage changed = QDBusMessage::createSignal(
            QLatin1String(kPath), QLatin1String(kProperties), QStringLiteral("PropertiesChanged"));
        changed << QString::fromLatin1(kService)
                << QVariantMap{{QStringLiteral("State"), QVariant::fromValue(state)},
                               {QStringLiteral("Connectivity"),
                                QVariant::fromValue(connectivityOf(state))}}
                << QStringList();
        return bus_.send(changed);
    }

  private:
    class Manager : public QDBusVirtualObject {
      public:
        std::atomic<uint> state;

        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
            const QVariantMap properties{
                {QStringLiteral("State"), QVariant::fromValue(state.load())},
                {QStringLiteral("Connectivity"), QVariant::fromValue(connectivityOf(state.load()))},
                {QStringLiteral("PrimaryConnection"), QVariant::fromValue(QDBusObjectPath("/"))},
                {QStringLiteral("Metered"), QVariant::fromValue(uint{0})}};
            const QString name = call.arguments().value(1).toString();
            if (call.interface() != QLatin1String(kProperties) ||
                call.arguments().value(0).toString() != QLatin1String(kService)) {
                return bus.send(
                    call.createErrorReply(QDBusError::UnknownInterface, call.interface()));
            }
            if (call.member() == QLatin1String("GetAll")) {
                return bus.send(call.createReply(properties));
            }
            if (call.member() == QLatin1String("Get") && properties.contains(name)) {
                return bus.send(
                    call.createReply(QVariant::fromValue(QDBusVariant(properties[name]))));
            }
            return bus.send(call.createErrorReply(QDBusError::UnknownProperty, name));
        }
    };

    QThread thread_;
    Manager manager_;  // answers on thread_
    QDBusConnection bus_;
    bool registered_ = false;
};

AudioOutputChoice nullOutput() {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    return output;
}

}  // namespace

class NetworkBackTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase() { networkManager_.reset(); }
    void onlyTheNetworkBackCutsTheWaitShort_data();
    void onlyTheNetworkBackCutsTheWaitShort();

  private:
    std::unique_ptr<StandInNetworkManager> networkManager_;
};

void NetworkBackTest::initTestCase() {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    networkManager_ = std::make_unique<StandInNetworkManager>(kDisconnected);
    QVERIFY(networkManager_->registered());
}

void NetworkBackTest::onlyTheNetworkBackCutsTheWaitShort_data() {
    // The state when the watcher starts, then each change; whether the last
    // change retries at once (those before it never do); whether the one
    // waiting is a monitor feed instead of the window's station.
    QTest::addColumn<QList<uint>>("states");
    QTest::addColumn<bool>("retried");
    QTest::addColumn<bool>("feed");
    QTest::newRow("back online") << QList<uint>{kDisconnected, kConnectedGlobal} << true << false;
    QTest::newRow("feed back online")
        << QList<uint>{kDisconnected, kConnectedGlobal} << true << true;
    QTest::newRow("limited, then online")
        << QList<uint>{kConnectedSite, kConnectedGlobal} << true << false;
    QTest::newRow("lost, then back")
        << QList<uint>{kConnectedGlobal, kDisconnected, kConnectedGlobal} << true << false;
    QTest::newRow("only the site") << QList<uint>{kDisconnected, kConnectedSite} << false << false;
    QTest::newRow("feed, only the link")
        << QList<uint>{kDisconnected, kConnectedLocal} << false << true;
    QTest::newRow("lost") << QList<uint>{kConnectedGlobal, kDisconnected} << false << false;
}

void NetworkBackTest::onlyTheNetworkBackCutsTheWaitShort() {
    QFETCH(QList<uint>, states);
    QFETCH(bool, retried);
    QFETCH(bool, feed);
    QVERIFY(networkManager_->setState(states.front()));
    // Qt's backend, once loaded (by an earlier row), follows the stand-in.
    if (QNetworkInformation* network = QNetworkInformation::instance()) {
        QTRY_COMPARE(network->reachability(), reachabilityOf(states.front()));
    }

    Mixer mixer(nullOutput(), {.feeds = 2 * kMaxFeeds});  // outlives the players
    ControllerHarness h;
    PelorinServices engine;
    engine.workers = &h.workers;
    MonitorController monitor(mixer, engine, h.log, nullptr);
    const ResumeWatcher watcher(*h.controller, &monitor, h.log);
    QNetworkInformation* network = QNetworkInformation::instance();
    QVERIFY(network != nullptr);
    QCOMPARE(network->backendName(), QStringLiteral("networkmanager"));
    QCOMPARE(network->reachability(), reachabilityOf(states.front()));
    QVERIFY(h.logLines().filter("no network reachability backend").isEmpty());

    h.server.setScript("/s", liveStation(12000));  // closes after some audio
    if (feed) {
        QVERIFY(monitor.add({QStringLiteral("Feed"), h.url("/s")}));
    } else {
        h.controller->setAddressText(h.url("/s"));
    }
    PlaybackController& waiting = feed ? monitor.player(0) : *h.controller;
    waiting.setBackoffPolicy(BackoffPolicy({std::chrono::minutes(10)}, 0));
    feed ? monitor.play() : h.controller->press();
    QTRY_VERIFY_WITH_TIMEOUT(waiting.reconnectWaiting(), 15000);
    const quint64 attempts = waiting.attempts();

    // The test hears each change after the watcher, until it returns.
    int heard = 0;
    const QObject hearing;
    connect(network, &QNetworkInformation::reachabilityChanged, &hearing, [&heard] { ++heard; });
    for (qsizetype change = 1; change < states.size(); ++change) {
        const bool last = change == states.size() - 1;
        QVERIFY(networkManager_->setState(states[change]));
        QTRY_COMPARE(heard, change);
        QCOMPARE(network->reachability(), reachabilityOf(states[change]));
        QCOMPARE(waiting.attempts(), attempts + (last && retried ? 1 : 0));
        QCOMPARE(waiting.reconnectWaiting(), !(last && retried));
    }
    QCOMPARE(h.logLines().contains("network online: reconnecting 1 station now"), retried);
    QCOMPARE(h.logLines().filter("reconnecting").size(), retried ? 1 : 0);
    feed ? monitor.stop() : h.controller->press();
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::NetworkBackTest)
#include "NetworkBackTest.moc"
