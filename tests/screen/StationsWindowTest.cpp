// Finding stations and the weather of any airport, through the window: a
// station found by typing, played with Return, starred and found again under
// the favourites after a restart (a new window on the same settings file),
// and so is a directory station with the directory and its cache gone; a
// reload that fails and keeps the list; an airport code typed in the weather
// panel, refused when wrong, fetched from the local station site when right,
// and a report flagged when it is old.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controller/AddressOpener.h"
#include "controller/StationCatalogue.h"
#include "controller/StatusTexts.h"
#include "controller/WeatherReport.h"
#include "controller/WeatherTexts.h"
#include "engine/net/CurlTransfer.h"
#include "screen/PlayerSettingsDialog.h"
#include "screen/StationDialog.h"
#include "tests/screen/ScreenHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

QStringList shownNames(const QListView& list) {
    QStringList names;
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        names.append(list.model()->index(row, 0).data().toString());
    }
    return names;
}

// "ddhhmm" of a moment `minutes` ago, as a METAR gives it.
QString issuedMinutesAgo(int minutes) {
    return QDateTime::currentDateTimeUtc()
        .addSecs(-60 * minutes)
        .toString(QStringLiteral("ddHHmm"));
}

}  // namespace

class StationsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void foundPlayedStarredAndFoundAfterARestart();
    void reloadThatFailsKeepsTheList();
    void ownStationsAndFavouritesOutliveTheirSource();
    void airportTypedInTheWeatherPanel();
    void oldMetarFlagged_data();
    void oldMetarFlagged();
    void playerSettingsShownAndWritten();
    void directoryStationPlayedCountedAndCached();
    void starredDirectoryStationOutlivesTheDirectory();
    void weatherKeptWhenAFetchFails_data();
    void weatherKeptWhenAFetchFails();
    void weatherFromThePublicServer();
    void noWeatherIsNotSaidFetched();
};

void StationsWindowTest::foundPlayedStarredAndFoundAfterARestart() {
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("orvento.conf"));
    LoopbackServer streams;
    streams.setScript("/approach.mp3", liveStation());
    LoopbackServer catalogue;
    const QString approach = QString::fromStdString(streams.url("/approach.mp3"));
    catalogue.setScript(
        kCataloguePath,
        Script::fixed(R"([{"a":"İstanbul Tower 118.1","d":"http://127.0.0.1:1/t"},)"
                      R"({"a":"İstanbul Approach 120.5","d":")" +
                      approach.toStdString() +
                      R"("},{"a":"Ankara Approach 119.1","d":"http://127.0.0.1:1/a"}])"));
    const QString base = QString::fromStdString(catalogue.url(""));
    const QString name = QStringLiteral("İstanbul Approach 120.5");
    {
        ScreenHarness h(nullptr, nullptr, base, {}, true, std::make_shared<Settings>(file));
        StationBrowser& browser = *h.screen().stationBrowser;
        h.screen().findAction->trigger();
        QVERIFY(browser.isVisible());
        QCOMPARE(QApplication::focusWidget(), browser.searchField());
        QTest::keyClicks(browser.searchField(), QStringLiteral("app"));
        QCOMPARE(shownNames(*browser.list()), (QStringList{name, "Ankara Approach 119.1"}));
        QTest::keyClick(browser.searchField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(h.status(), liveText(), 40000);
        QCOMPARE(h.controller->selectedStation(), (Station{name, approach}));

        // Starred with Space on its row.
        h.screen().openSearch();
        QTest::keyClick(browser.searchField(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), browser.list());
        QTest::keyClick(browser.list(), Qt::Key_Space);
        QCOMPARE(browser.list()->currentIndex().data(StationListModel::FavouriteRole),
                 QVariant(true));
        h.press();
        QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
    }
    ScreenHarness h(nullptr, nullptr, base, {}, true, std::make_shared<Settings>(file));
    // The last station is selected, not played.
    QCOMPARE(h.screen().textField->text(), approach);
    QCOMPARE(h.controller->attempts(), 0u);
    QTest::mouseClick(h.screen().selectButton, Qt::LeftButton);
    StationBrowser& browser = *h.screen().stationBrowser;
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::favourites), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), QStringList{name});
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::recent), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), QStringList{name});
}

void StationsWindowTest::ownStationsAndFavouritesOutliveTheirSource() {
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("orvento.conf"));
    QString base;
    {
        LoopbackServer catalogue;
        catalogue.setScript(kCataloguePath,
                            Script::fixed(R"([{"a":"Tower","d":"http://127.0.0.1:1/t"}])"));
        base = QString::fromStdString(catalogue.url(""));
        ScreenHarness h(nullptr, nullptr, base, {}, true, std::make_shared<Settings>(file));
        StationBrowser& browser = *h.screen().stationBrowser;
        // Filled in and accepted by keyboard.
        const auto fill = [&h](const QString& name, const QString& address) {
            QPointer<StationDialog> dialog;
            QTRY_VERIFY((dialog = h.screen().findChild<StationDialog*>()) != nullptr &&
                        dialog->isVisible());
            dialog->nameField()->clear();
            QTest::keyClicks(dialog->nameField(), name);
            if (!address.isNull()) {
                dialog->addressField()->clear();
                QTest::keyClicks(dialog->addressField(), address);
            }
            QTest::keyClick(dialog->addressField(), Qt::Key_Return);
            QTRY_VERIFY(dialog.isNull());
        };
        h.screen().addStationAction->trigger();
        fill(QStringLiteral("My approach"), QStringLiteral("http://127.0.0.1:1/mine"));
        h.screen().findAction->trigger();
        QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::mine), Qt::LeftButton);
        QCOMPARE(shownNames(*browser.list()), QStringList{"My approach"});
        // Space stars, F2 renames: the star stays.
        browser.list()->setFocus();
        browser.list()->setCurrentIndex(browser.list()->model()->index(0, 0));
        QTest::keyClick(browser.list(), Qt::Key_Space);
        QTest::keyClick(browser.list(), Qt::Key_F2);
        fill(QStringLiteral("Renamed"), QString());
        QCOMPARE(shownNames(*browser.list()), QStringList{"Renamed"});
        // A catalogue station starred too; F2 and Delete leave it alone.
        QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::all), Qt::LeftButton);
        browser.list()->setCurrentIndex(browser.list()->model()->index(0, 0));
        QCOMPARE(browser.list()->currentIndex().data().toString(), QStringLiteral("Tower"));
        QTest::keyClick(browser.list(), Qt::Key_Space);
        QTest::keyClick(browser.list(), Qt::Key_Delete);
        QTest::keyClick(browser.list(), Qt::Key_F2);
        QVERIFY(h.screen().findChild<StationDialog*>() == nullptr);
        QCOMPARE(shownNames(*browser.list()), (QStringList{"Tower", "Renamed"}));

        // A playlist's station, played, is under Recent and starred there.
        LoopbackServer streams;
        streams.setScript("/live.mp3", liveStation());
        streams.setScript("/tower.pls",
                          Script::fixed("[playlist]\nFile1=live.mp3\nTitle1=Listed\n"));
        AddressOpener opener(*h.controller, h.log);
        opener.open(QString::fromStdString(streams.url("/tower.pls")));
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->heard(), 15000);
        h.press();
        QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
        QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::recent), Qt::LeftButton);
        QCOMPARE(shownNames(*browser.list()), QStringList{"Listed"});
        browser.list()->setCurrentIndex(browser.list()->model()->index(0, 0));
        QTest::keyClick(browser.list(), Qt::Key_Space);
    }
    // The catalogue's server is gone.
    ScreenHarness h(nullptr, nullptr, base, {}, true, std::make_shared<Settings>(file));
    QVERIFY(h.screen().selectButton->isEnabled());
    QTest::mouseClick(h.screen().selectButton, Qt::LeftButton);
    StationBrowser& browser = *h.screen().stationBrowser;
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::favourites), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), (QStringList{"Renamed", "Tower", "Listed"}));
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::mine), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), QStringList{"Renamed"});
    QCOMPARE(browser.list()->model()->index(0, 0).data(StationListModel::UrlRole).toString(),
             QStringLiteral("http://127.0.0.1:1/mine"));
    browser.list()->setFocus();
    browser.list()->setCurrentIndex(browser.list()->model()->index(0, 0));
    QTest::keyClick(browser.list(), Qt::Key_Delete);
    QCOMPARE(shownNames(*browser.list()), QStringList{});
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::favourites), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), (QStringList{"Tower", "Listed"}));
}

void StationsWindowTest::reloadThatFailsKeepsTheList() {
    LoopbackServer catalogue;
    catalogue.setScript(kCataloguePath, Script::fixed(R"([{"a":"Tower","d":"http://t/1"}])"));
    const QString base = QString::fromStdString(catalogue.url(""));
    ScreenHarness h(nullptr, nullptr, base, {});
    const QString server = QStringLiteral("127.0.0.1:%1").arg(catalogue.port());
    catalogue.setScript(kCataloguePath, Script::fixed("<html>Not Found</html>"));
    h.screen().reloadAction->trigger();
    QTRY_COMPARE(h.status(), reloadText(CatalogueOutcome::unreadable, server, {}, 1));
    QCOMPARE(h.screen().tableData1(), QStringList{"Tower"});

    catalogue.setScript(kCataloguePath, Script::fixed(R"([{"a":"A","d":"u"},{"a":"B","d":"v"}])"));
    QTest::keyClick(&h.screen(), Qt::Key_F5);
    QTRY_COMPARE(h.status(), reloadText(CatalogueOutcome::loaded, server, {}, 2));
    QCOMPARE(h.screen().tableData1(), (QStringList{"A", "B"}));
}

void StationsWindowTest::airportTypedInTheWeatherPanel() {
    const QTemporaryDir folder;
    auto settings = std::make_shared<Settings>(folder.filePath(QStringLiteral("orvento.conf")));
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QString url = QString::fromStdString(site.baseUrl());
    ScreenHarness h(nullptr, nullptr, url, url, true, settings);
    WeatherPanel& panel = *h.screen().weatherPanel;
    QCOMPARE(panel.airportField()->text(), QStringLiteral("LTBA"));

    panel.airportField()->selectAll();
    QTest::keyClicks(panel.airportField(), QStringLiteral("LT1A"));
    QTest::keyClick(panel.airportField(), Qt::Key_Return);
    QCOMPARE(panel.message(), wrongAirportText(QStringLiteral("LT1A")));
    QCOMPARE(settings->weatherAirport(), QStringLiteral("LTBA"));

    panel.airportField()->selectAll();
    QTest::keyClicks(panel.airportField(), QStringLiteral(" ltfm"));
    QTest::keyClick(panel.airportField(), Qt::Key_Return);
    QCOMPARE(settings->weatherAirport(), QStringLiteral("LTFM"));
    QTRY_VERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("TAF LTFM")));
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("\nLTFM ")));
    QCOMPARE(panel.metarView()->badgeText(), QStringLiteral("MVFR"));
    QVERIFY(!panel.metarView()->flaggedOld());
    QVERIFY(!panel.timeline()->periods().isEmpty());
    QCOMPARE(panel.message(), QString());
}

void StationsWindowTest::oldMetarFlagged_data() {
    QTest::addColumn<int>("minutes");
    QTest::addColumn<bool>("old");
    QTest::newRow("10 minutes") << 10 << false;
    QTest::newRow("85 minutes") << 85 << false;
    QTest::newRow("95 minutes") << 95 << true;
    QTest::newRow("a day") << 24 * 60 << true;
}

void StationsWindowTest::oldMetarFlagged() {
    QFETCH(int, minutes);
    QFETCH(bool, old);
    LoopbackServer server;
    server.setScript(kMetarPath, Script::fixed(("LTBA " + issuedMinutesAgo(minutes) +
                                                "Z 34012KT 9999 FEW030 19/11 Q1016")
                                                   .toStdString()));
    server.setScript(kTafPath, Script::fixed("TAF LTBA"));
    ScreenHarness h(nullptr, nullptr, {}, QString::fromStdString(server.url("")));
    const MetarView& view = *h.screen().weatherPanel->metarView();
    QCOMPARE(view.badgeText(), QStringLiteral("VFR"));
    QCOMPARE(view.flaggedOld(), old);
}

void StationsWindowTest::playerSettingsShownAndWritten() {
    const std::unique_ptr<Settings> settings = Settings::temporary();
    settings->setHistoryMinutes(45);
    settings->setLiveEdge(false);
    const PlayerSettingsDialog dialog(*settings);
    QVERIFY(dialog.reconnectBox()->isChecked());
    QVERIFY(dialog.keepBacklogBox()->isChecked());
    QCOMPARE(dialog.historyBox()->value(), 45);
    // Each control writes its setting at once; a change made elsewhere shows.
    dialog.reconnectBox()->click();
    dialog.keepBacklogBox()->click();
    dialog.historyBox()->stepBy(-50);
    QCOMPARE((std::tuple{settings->reconnectWhenDropped(), settings->liveEdge(),
                         settings->historyMinutes()}),
             (std::tuple{false, true, Settings::kMinHistoryMinutes}));
    settings->setHistoryMinutes(120);
    settings->setReconnectWhenDropped(true);
    QCOMPARE(dialog.historyBox()->value(), 120);
    QVERIFY(dialog.reconnectBox()->isChecked());

    // Closing the window ends the application unless asked; every kind of
    // notice is on until turned off, each on its own.
    QVERIFY(!dialog.keepPlayingBox()->isChecked());
    dialog.keepPlayingBox()->click();
    QVERIFY(settings->keepPlayingWhenClosed());
    const QList<QCheckBox*>& notices = dialog.notificationBoxes();
    QCOMPARE(notices.size(), qsizetype{4});
    for (qsizetype i = 0; i < notices.size(); ++i) {
        const char* key = PlayerSettingsDialog::kNotificationKeys[i];
        QVERIFY(notices[i]->isChecked());
        notices[i]->click();
        QVERIFY2(!settings->notifies(key), key);
        for (qsizetype other = i + 1; other < notices.size(); ++other) {
            QVERIFY(settings->notifies(PlayerSettingsDialog::kNotificationKeys[other]));
        }
    }
    settings->setNotifies(Settings::kNotifyStationBackKey, true);
    QVERIFY(notices.front()->isChecked());
}

void StationsWindowTest::directoryStationPlayedCountedAndCached() {
    const QTemporaryDir folder;
    const QString cache = folder.filePath(QStringLiteral("cache"));
    LoopbackServer streams;
    // The tower drops once after it played: the reconnection is no new play.
    streams.setScript("/tower.mp3", liveStation(24000));
    const std::string tower = streams.url("/tower.mp3");
    const QString name = QStringLiteral("Heathrow Tower 118.5");
    auto directory = std::make_unique<LoopbackServer>();
    const std::string stations =
        R"([{"stationuuid":"t1","name":"Heathrow Tower 118.5","url":")" + tower +
        R"(","url_resolved":")" + tower +
        R"(","country":"United Kingdom","countrycode":"GB","codec":"MP3","bitrate":32,)"
        R"("lastcheckok":1},{"stationuuid":"g1","name":"Heathrow Ground","url":"http://127.0.0.1:1/g",)"
        R"("url_resolved":"","country":"","countrycode":"","codec":"UNKNOWN","bitrate":0,"lastcheckok":0}])";
    directory->setScript("/json/stations/bytagexact/atc", Script::fixed(stations));
    directory->setScript("*", Script::fixed("[]"));
    directory->setScript("/json/url/t1", Script::fixed(R"({"ok":true})"));
    const QString server = QString::fromStdString(directory->url(""));
    const auto withDirectory = [&](const QString& at) {
        return [at, cache](ScreenServices& services) {
            services.directory.server = at;
            services.cacheFolder = cache;
        };
    };
    {
        ScreenHarness h(nullptr, nullptr, {}, ScreenHarness::kOwnSite, true, nullptr,
                        withDirectory(server));
        // No catalogue is nothing wrong; its scope is not offered.
        QCOMPARE(h.status(), readyText());
        StationBrowser& browser = *h.screen().stationBrowser;
        h.screen().findAction->trigger();
        QVERIFY(browser.scopeButton(StationFilterModel::Scope::all)->isHidden());
        QVERIFY(browser.scopeButton(StationFilterModel::Scope::directory)->isChecked());
        QTest::keyClicks(browser.searchField(), QStringLiteral("tower"));
        QTRY_COMPARE(shownNames(*browser.list()), QStringList{name});
        QCOMPARE(browser.list()->model()->index(0, 0).data(StationListModel::DetailRole),
                 QVariant(QStringLiteral("United Kingdom \u00b7 MP3 \u00b7 32 kbit/s \u00b7 up")));
        QVERIFY(browser.directoryNote().contains(QStringLiteral("1 stations")) ||
                browser.directoryNote().contains(QStringLiteral("2 stations")));
        QTest::keyClick(browser.searchField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(h.status(), liveText(), 40000);
        streams.setScript("/tower.mp3", liveStation());
        QTRY_VERIFY_WITH_TIMEOUT(streams.connectionsAccepted() >= 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(h.status(), liveText(), 40000);
        const auto clicks = [&] {
            const std::vector<std::string> heads = directory->requests();
            return std::count_if(heads.begin(), heads.end(), [](const std::string& head) {
                return head.starts_with("GET /json/url/t1 ");
            });
        };
        QCOMPARE(clicks(), 1);
        h.press();
        QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
    }
    directory.reset();
    // A restart with the directory gone: the cached list.
    ScreenHarness h(nullptr, nullptr, {}, ScreenHarness::kOwnSite, true, nullptr,
                    withDirectory(server));
    h.screen().findAction->trigger();
    StationBrowser& browser = *h.screen().stationBrowser;
    QTest::keyClicks(browser.searchField(), QStringLiteral("heathrow"));
    QCOMPARE(shownNames(*browser.list()), (QStringList{name, "Heathrow Ground"}));
    QVERIFY(browser.directoryNote().contains(QStringLiteral("fetched")));
    // F5: the directory cannot be reached, the list stays.
    QTest::keyClick(&h.screen(), Qt::Key_F5);
    QTRY_VERIFY(h.status().startsWith(QStringLiteral("The directory could not be updated")));
    QVERIFY(
        browser.directoryNote().startsWith(QStringLiteral("The directory could not be reached")));
    QCOMPARE(shownNames(*browser.list()), (QStringList{name, "Heathrow Ground"}));
}

void StationsWindowTest::starredDirectoryStationOutlivesTheDirectory() {
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("orvento.conf"));
    const QString cache = folder.filePath(QStringLiteral("cache"));
    LoopbackServer streams;
    streams.setScript("/tower.mp3", liveStation());
    // The directory's stream is its resolved address; the one entered is gone.
    const QString tower = QString::fromStdString(streams.url("/tower.mp3"));
    const QString name = QStringLiteral("Schiphol Tower 118.1");
    auto directory = std::make_unique<LoopbackServer>();
    directory->setScript(
        "/json/stations/bytagexact/atc",
        Script::fixed(
            R"([{"stationuuid":"s1","name":"Schiphol Tower 118.1",)"
            R"("url":"http://127.0.0.1:1/tower.pls","url_resolved":")" +
            tower.toStdString() +
            R"(","country":"The Netherlands","codec":"MP3","bitrate":32,"lastcheckok":1},)"
            R"({"stationuuid":"s2","name":"Schiphol Ground","url":"http://127.0.0.1:1/g",)"
            R"("url_resolved":"","codec":"MP3","bitrate":0,"lastcheckok":1}])"));
    directory->setScript("*", Script::fixed("[]"));
    const QString server = QString::fromStdString(directory->url(""));
    const auto withDirectory = [&](ScreenServices& services) {
        services.directory.server = server;
        services.cacheFolder = cache;
    };
    {
        ScreenHarness h(nullptr, nullptr, {}, ScreenHarness::kOwnSite, true,
                        std::make_shared<Settings>(file), withDirectory);
        StationBrowser& browser = *h.screen().stationBrowser;
        h.screen().findAction->trigger();
        QTest::keyClicks(browser.searchField(), QStringLiteral("schiphol tower"));
        QTRY_COMPARE(shownNames(*browser.list()), QStringList{name});
        // A star marks its row: the list is not made again (nor scrolled away).
        const QSignalSpy resets(&h.stations, &QAbstractItemModel::modelReset);
        QTest::keyClick(browser.searchField(), Qt::Key_Down);
        QTest::keyClick(browser.list(), Qt::Key_Space);
        QCOMPARE(browser.list()->currentIndex().data(StationListModel::FavouriteRole),
                 QVariant(true));
        QCOMPARE(resets.size(), 0);
    }
    QVERIFY(QFile::exists(cache + QLatin1Char('/') + QLatin1String(kDirectoryCacheFile)));
    directory.reset();
    QVERIFY(QDir(cache).removeRecursively());

    // The same settings and cache folder, with neither directory nor cache.
    ScreenHarness h(nullptr, nullptr, {}, ScreenHarness::kOwnSite, true,
                    std::make_shared<Settings>(file), withDirectory);
    StationBrowser& browser = *h.screen().stationBrowser;
    h.screen().findAction->trigger();
    QTest::mouseClick(browser.scopeButton(StationFilterModel::Scope::favourites), Qt::LeftButton);
    QCOMPARE(shownNames(*browser.list()), QStringList{name});
    QCOMPARE(browser.list()->model()->index(0, 0).data(StationListModel::UrlRole).toString(),
             tower);
    QTest::keyClick(browser.searchField(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(h.status(), liveText(), 40000);
    QCOMPARE(h.controller->selectedStation(), (Station{name, tower}));
    h.press();
    QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
}

void StationsWindowTest::weatherKeptWhenAFetchFails_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("500") << "500";
    QTest::newRow("HTML") << "html";
    QTest::newRow("junk") << "junk";
    QTest::newRow("50 MB") << "huge";
    QTest::newRow("nothing") << "empty";
}

void StationsWindowTest::weatherKeptWhenAFetchFails() {
    QFETCH(QString, answer);
    LoopbackServer server;
    const std::string metar = "2024/05/14 12:20\nLTBA " + issuedMinutesAgo(10).toStdString() +
                              "Z 34012KT 9999 FEW030 19/11 Q1016\n";
    server.setScript(kMetarPath, Script::fixed(metar));
    server.setScript(kTafPath, Script::fixed("TAF LTBA"));
    ScreenHarness h(nullptr, nullptr, {}, QString::fromStdString(server.url("")));
    const WeatherPanel& panel = *h.screen().weatherPanel;
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.port());
    QVERIFY2(panel.source().startsWith(QStringLiteral("From %1, fetched ").arg(host)),
             qPrintable(panel.source()));
    Script bad = answer == "500"    ? Script::fixed("x").withStatusLine("HTTP/1.1 500 Oops")
                 : answer == "html" ? Script::fixed("<html><body>Gone fishing</body></html>")
                 : answer == "junk" ? Script::fixed(std::string("\0\x01\xfe\xff", 4))
                 : answer == "huge" ? Script::pattern(50'000'000)
                                    : Script::fixed("");
    server.setScript(kMetarPath, bad);
    h.screen().refreshWeatherAction->trigger();
    QTRY_VERIFY(panel.source().startsWith(QStringLiteral("The latest fetch failed")));
    QVERIFY2(panel.source().contains(QStringLiteral("fetched just now")),
             qPrintable(panel.source()));
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("34012KT")));
    QCOMPARE(panel.metarView()->badgeText(), QStringLiteral("VFR"));
}

void StationsWindowTest::weatherFromThePublicServer() {
    // The public server's name, sent to a loopback stand-in.
    LoopbackServer server(LoopbackServer::Transport::tls, 0, {"tgftp.nws.noaa.gov"});
    server.setScript(
        "/data/observations/metar/stations/LTBA.TXT",
        Script::fixed("2024/05/14 12:20\nLTBA 141220Z 34012KT 9999 FEW030 19/11 Q1016\n"));
    server.setScript("/data/forecasts/taf/stations/LTBA.TXT",
                     Script::fixed("2024/05/14 11:00\nTAF LTBA 141100Z 1412/1518 34012KT CAVOK\n"));
    qputenv(kTestConnectToVariable, QByteArray::fromStdString("tgftp.nws.noaa.gov:443:127.0.0.1:" +
                                                              std::to_string(server.port())));
    qputenv(kTestCaFileVariable, QByteArray::fromStdString(server.caFile()));
    // The stand-in is on this machine, whatever proxy the environment names.
    qputenv("no_proxy", "*");
    ScreenHarness h(
        nullptr, nullptr, {}, QLatin1String(weather::kPublicWeatherServer), true, nullptr,
        [](ScreenServices& services) { services.weatherLayout = weather::ServerLayout::nws; });
    qunsetenv(kTestConnectToVariable);
    qunsetenv(kTestCaFileVariable);
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("LTBA 141220Z 34012KT")));
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("TAF LTBA 141100Z")));
    QVERIFY2(h.screen().weatherPanel->source().startsWith(
                 QStringLiteral("From tgftp.nws.noaa.gov, fetched ")),
             qPrintable(h.screen().weatherPanel->source()));
}

void StationsWindowTest::noWeatherIsNotSaidFetched() {
    // A first fetch that brings no report: the panel says where it asked,
    // not that something was fetched from there.
    LoopbackServer server;
    const Script refused = Script::fixed("x").withStatusLine("HTTP/1.1 500 Oops");
    server.setScript(kMetarPath, refused);
    server.setScript(kTafPath, refused);
    ScreenHarness h(nullptr, nullptr, {}, QString::fromStdString(server.url("")));
    const QString source = h.screen().weatherPanel->source();
    QVERIFY2(source.startsWith(QStringLiteral("Asked 127.0.0.1:%1 at ").arg(server.port())) &&
                 source.endsWith(QStringLiteral(" UTC; no report came.")),
             qPrintable(source));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::StationsWindowTest)
#include "StationsWindowTest.moc"
