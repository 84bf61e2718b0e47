// The monitor over the real engine: its rows and controls, what is kept of
// them across runs, and stations of the local site played together through
// one mixer into the null output, one of them failing alone.
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controller/MonitorController.h"
#include "controller/MonitorModel.h"
#include "tests/controller/ControllerHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

using State = PlaybackController::PlayState;

AudioOutputChoice nullOutput() {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    return output;
}

// The rows as the model gives them: name, URL, gain, pan, muted, priority.
QStringList shown(const MonitorModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList values;
        for (const int role : {int{Qt::DisplayRole}, int{MonitorModel::UrlRole},
                               int{MonitorModel::GainRole}, int{MonitorModel::PanRole},
                               int{MonitorModel::MutedRole}, int{MonitorModel::PriorityRole}}) {
            values.append(model.index(row).data(role).toString());
        }
        rows.append(values.join(QLatin1Char(' ')));
    }
    return rows;
}

bool allIn(const MonitorController& monitor, int rows, State state) {
    for (int row = 0; row < rows; ++row) {
        if (monitor.player(row).playState() != state) {
            return false;
        }
    }
    return true;
}

// The local site's stations, and the mixer and workers a monitor plays them
// with.
struct SiteRig {
    SiteRig() { engine.workers = &workers; }
    Station station(int i) const {
        const site::StationFile& file = site::kSiteStations[i];
        return {QString::fromUtf8(file.name), base + file.path};
    }
    // Every player's worker has ended.
    bool workersEnd() {
        workers.shutdown(std::chrono::seconds(10));
        return workers.running() == 0;
    }

    const site::StationSite site{{.folder = ORVENTO_STATION_SITE_DIR}};
    const QString base = QString::fromStdString(site.baseUrl());
    Mixer mixer{nullOutput(), {.feeds = 2 * kMaxFeeds}};
    WorkerRegistry workers;
    PelorinServices engine;
};

}  // namespace

class MonitorControllerTest : public QObject {
    Q_OBJECT

  private slots:
    void rowsAndControlsAreKeptAcrossRuns();
    void feedsPlayTogetherAndFailAlone();
    void aStopAsTheFeedsStartLeavesNonePlaying();
};

void MonitorControllerTest::rowsAndControlsAreKeptAcrossRuns() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("orvento.conf"));
    Mixer mixer(nullOutput(), {.feeds = 2 * kMaxFeeds});
    WorkerRegistry workers;
    PelorinServices engine;
    engine.workers = &workers;
    {
        MonitorController monitor(mixer, engine, {}, std::make_shared<Settings>(path));
        // The station offered, and whether it is added.
        const std::vector<std::pair<Station, bool>> adds{
            {{"Tower", "http://127.0.0.1:9/tower"}, true},
            {{"Tower again", "http://127.0.0.1:9/tower"}, false},  // there already
            {{"Nothing", "  "}, false},                            // no address
            {{"Ground", "http://127.0.0.1:9/ground"}, true},
            {{"", "http://127.0.0.1:9/approach"}, true},
            {{"D", "http://127.0.0.1:9/d"}, true},
            {{"E", "http://127.0.0.1:9/e"}, true},
            {{"F", "http://127.0.0.1:9/f"}, true},
            {{"G", "http://127.0.0.1:9/g"}, false},  // a seventh
        };
        for (const auto& [station, added] : adds) {
            QCOMPARE(monitor.add(station), added);
        }
        QCOMPARE(monitor.model().rowCount(), kMaxFeeds);
        monitor.setGainDb(1, -6);
        monitor.setGainDb(2, 40);  // clamped
        monitor.setPan(1, -1);
        monitor.setPan(2, 1.5);  // clamped
        monitor.setPriority(2, true);
        monitor.setMute(0, true);  // for the moment only
        QVERIFY(monitor.move(0, 2));
        QVERIFY(!monitor.move(0, kMaxFeeds));
        monitor.remove(kMaxFeeds - 1);
        monitor.remove(kMaxFeeds);  // no such row
        QCOMPARE(shown(monitor.model()),
                 (QStringList{
                     "Ground http://127.0.0.1:9/ground -6 -1 false false",
                     "127.0.0.1:9/approach http://127.0.0.1:9/approach 12 1 false true",
                     "Tower http://127.0.0.1:9/tower 0 0 true false",
                     "D http://127.0.0.1:9/d 0 0 false false",
                     "E http://127.0.0.1:9/e 0 0 false false",
                 }));
    }
    // A hand-edited pan reads as the centre.
    {
        QSettings file(path, QSettings::IniFormat);
        QStringList pans = file.value(QLatin1String(Settings::kMonitorPansKey)).toStringList();
        QCOMPARE(pans.size(), 5);
        pans[0] = QStringLiteral("left");
        file.setValue(QLatin1String(Settings::kMonitorPansKey), pans);
    }
    MonitorController again(mixer, engine, {}, std::make_shared<Settings>(path));
    QCOMPARE(shown(again.model()),
             (QStringList{
                 "Ground http://127.0.0.1:9/ground -6 0 false false",
                 "127.0.0.1:9/approach http://127.0.0.1:9/approach 12 1 false true",
                 "Tower http://127.0.0.1:9/tower 0 0 false false",
                 "D http://127.0.0.1:9/d 0 0 false false",
                 "E http://127.0.0.1:9/e 0 0 false false",
             }));
    // Restored without playing.
    QVERIFY(!again.playing());
    QVERIFY(allIn(again, again.count(), State::Idle));
    QCOMPARE(workers.running(), std::size_t{0});

    // The feeds play as the player settings say, and follow their changes.
    const auto settings = std::make_shared<Settings>(path);
    settings->setLiveEdge(true);
    settings->setReconnectWhenDropped(false);
    const MonitorController third(mixer, engine, {}, settings);
    for (const bool on : {true, false}) {
        if (!on) {
            settings->setLiveEdge(false);
            settings->setReconnectWhenDropped(true);
        }
        for (int row = 0; row < third.count(); ++row) {
            QCOMPARE(third.player(row).liveEdge(), on);
            QCOMPARE(third.player(row).reconnectWhenDropped(), !on);
        }
    }
}

void MonitorControllerTest::feedsPlayTogetherAndFailAlone() {
    SiteRig rig;
    {
        MonitorController monitor(rig.mixer, rig.engine, {}, nullptr);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(monitor.add(rig.station(i)));
            monitor.setPan(i, i - 1.0);
        }
        QVERIFY(monitor.add({QStringLiteral("Gone"), rig.base + site::kErrorPageRoute}));
        QVERIFY(!monitor.playing());

        // Twice: each start takes a new feed, free of the last one's queue.
        for (int run = 0; run < 2; ++run) {
            monitor.play();
            QVERIFY(monitor.playing());
            QTRY_VERIFY_WITH_TIMEOUT(allIn(monitor, 3, State::Playing), 15000);
            // Every playing feed is heard in the mix.
            std::array<double, 3> loudest{-120, -120, -120};
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    for (int row = 0; row < 3; ++row) {
                        loudest[row] = std::max(loudest[row], monitor.levelDb(row));
                    }
                    return *std::min_element(loudest.begin(), loudest.end()) > -50;
                }(),
                10000);
            // The failing feed says why on its own row; the others play on.
            QTRY_COMPARE_WITH_TIMEOUT(monitor.player(3).playState(), State::Idle, 15000);
            QVERIFY2(monitor.model()
                         .index(3)
                         .data(MonitorModel::StatusRole)
                         .toString()
                         .contains(QStringLiteral("404")),
                     qPrintable(monitor.player(3).statusText()));
            QVERIFY(allIn(monitor, 3, State::Playing));
            QVERIFY(monitor.playing());
            monitor.stop();
            QVERIFY(!monitor.playing());
            QTRY_VERIFY_WITH_TIMEOUT(allIn(monitor, 4, State::Idle), 15000);
        }
        QCOMPARE(rig.mixer.outputFailure(), "");
    }
    QVERIFY(rig.workersEnd());
}

// A stop at once after the start, while the feeds are still connecting:
// the monitor is stopped, and none of its feeds plays on, whatever moment of
// its start the stop reached it in.
void MonitorControllerTest::aStopAsTheFeedsStartLeavesNonePlaying() {
    SiteRig rig;
    {
        MonitorController monitor(rig.mixer, rig.engine, {}, nullptr);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(monitor.add(rig.station(i)));
        }
        QSignalSpy playing(&monitor, &MonitorController::playingChanged);
        for (int run = 0; run < 3; ++run) {
            monitor.play();
            QVERIFY(monitor.playing());
            monitor.stop();
            QVERIFY(!monitor.playing());
            QTRY_VERIFY_WITH_TIMEOUT(allIn(monitor, 3, State::Idle), 15000);
            // Long enough for a feed that went on connecting to have played.
            QTest::qWait(1500);
            QVERIFY(allIn(monitor, 3, State::Idle));
            QVERIFY(!monitor.playing());
        }
        // Started and stopped three times, and nothing else.
        QCOMPARE(playing.size(), 6);
    }
    QVERIFY(rig.workersEnd());
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::MonitorControllerTest)
#include "MonitorControllerTest.moc"
