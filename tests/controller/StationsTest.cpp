// Finding and remembering stations: which names a query finds (in the
// Turkish locale, where "I" and "i" are not each other's capitals), a search
// typed key by key (which looks among the rows it found when it can), names
// shown on one line, and what the station memory keeps across a restart
// through the real controller and settings file, with the filter's scopes.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "controller/Settings.h"
#include "controller/StationFilterModel.h"
#include "controller/StationMemory.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {

class StationsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey)); }
    void queryFindsNames_data();
    void queryFindsNames();
    void typedSearchFindsWhatAFreshOneFinds_data();
    void typedSearchFindsWhatAFreshOneFinds();
    void namesShowOnOneLine_data();
    void namesShowOnOneLine();
    void rememberedAcrossARestart_data();
    void rememberedAcrossARestart();
    void unreadableSettingsReadAsDefaults();
};

void StationsTest::queryFindsNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("found");
    const auto row = [](const char* name, const char* query, bool found) {
        QTest::addRow("%s / %s", name, query)
            << QString::fromUtf8(name) << QString::fromUtf8(query) << found;
    };
    row("İstanbul Tower 118.1", "istanbul", true);
    row("İstanbul Tower 118.1", "İSTANBUL", true);
    row("İstanbul Tower 118.1", "ISTANBUL", true);
    row("İstanbul Tower 118.1", "Istanbul", true);
    row("Istanbul Tower", "ıstanbul", true);
    row("ISTANBUL TOWER", "i̇stanbul", true);
    row("İstanbul Tower 118.1", "118.1", true);
    row("İstanbul Tower 118.1", "1181", true);
    row("İstanbul Tower 118.1", "118,1", true);
    row("İstanbul Tower 118.1", "8.1", true);
    row("İstanbul Tower 118.1", "1191", false);
    row("Ground 121.8 / 121.75", "12175", true);
    row("İstanbul Approach (demo)", "app", true);
    row("İstanbul Approach (demo)", "demo ist", true);
    row("İstanbul Approach (demo)", "approach tower", false);
    row("Atatürk Ground (LTBA)", "ltba", true);
    row("Atatürk Ground (LTBA)", "ATATURK", true);
    row("Atatürk Ground (LTBA)", "atatürk", true);
    row("Zürich Arrival ＬＳＺＨ", "zurich lszh", true);
    row("Łódź København Straße", "lodz kobenhavn strasse", true);
    row("Tower\u200b\u202eA", "towera", true);
    row("Tower", "", true);
}

void StationsTest::queryFindsNames() {
    QFETCH(QString, name);
    QFETCH(QString, query);
    QFETCH(bool, found);
    QCOMPARE(StationQuery(query).matches(searchKey(name)), found);
}

void StationsTest::typedSearchFindsWhatAFreshOneFinds_data() {
    QTest::addColumn<QStringList>("typed");  // the search field after each key
    QTest::addColumn<int>("scope");          // StationFilterModel::Scope
    QTest::addColumn<QString>("starred");    // after the first key; empty: none
    QTest::addColumn<QStringList>("found");  // after the last
    const auto all = static_cast<int>(StationFilterModel::Scope::all);
    QTest::newRow("a name letter by letter")
        << QStringList{"s", "sc", "sch", "schiphol", "schiphol ", "schiphol t", "schiphol to"}
        << all << QString() << QStringList{"Schiphol Tower 118.1"};
    QTest::newRow("a frequency digit by digit")
        << QStringList{"1", "11", "118", "118.", "118.1"} << all << QString()
        << QStringList{"Schiphol Tower 118.1", "Ankara Tower 1181"};
    QTest::newRow("a dot, then the number after it")
        << QStringList{".", ".1"} << all << QString()
        << QStringList{"Schiphol Tower 118.1", "Schiphol Ground 121", "Towing 130.0",
                       "Ankara Tower 1181"};
    QTest::newRow("a letter taken back")
        << QStringList{"tow", "towi", "tow"} << all << QString()
        << QStringList{"Schiphol Tower 118.1", "Towing 130.0", "Ankara Tower 1181"};
    QTest::newRow("a word taken back")
        << QStringList{"schiphol g", "schiphol"} << all << QString()
        << QStringList{"Schiphol Tower 118.1", "Schiphol Ground 121"};
    QTest::newRow("starred while typing in the favourites")
        << QStringList{"s", "sc"} << static_cast<int>(StationFilterModel::Scope::favourites)
        << "Schiphol Ground 121" << QStringList{"Schiphol Ground 121"};
}

void StationsTest::typedSearchFindsWhatAFreshOneFinds() {
    QFETCH(QStringList, typed);
    QFETCH(int, scope);
    QFETCH(QString, starred);
    QFETCH(QStringList, found);
    QList<Station> stations;
    for (const char* name :
         {"Schiphol Tower 118.1", "Schiphol Ground 121", "Towing 130.0", "Ankara Tower 1181"}) {
        stations.append({QString::fromUtf8(name), QStringLiteral("http://127.0.0.1:1/")});
    }
    StationListModel model;
    model.setStations(stations);
    const auto names = [](const StationFilterModel& rows) {
        QStringList shown;
        for (int row = 0; row < rows.rowCount(); ++row) {
            shown.append(rows.index(row, 0).data().toString());
        }
        return shown;
    };
    StationFilterModel typing;
    typing.setSourceModel(&model);
    typing.setScope(static_cast<StationFilterModel::Scope>(scope));
    for (const QString& text : typed) {
        typing.setQuery(text);
        if (!starred.isEmpty() && text == typed.front()) {
            model.setFavourites({Station{starred, QStringLiteral("http://127.0.0.1:1/")}});
        }
        StationFilterModel fresh;
        fresh.setSourceModel(&model);
        fresh.setScope(static_cast<StationFilterModel::Scope>(scope));
        fresh.setQuery(text);
        if (text != typed.front() || starred.isEmpty()) {
            QCOMPARE(names(typing), names(fresh));
        }
    }
    QCOMPARE(names(typing), found);
}

void StationsTest::namesShowOnOneLine_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("breaks and tabs") << "Tower\n118.1\r\n\tGround"
                                     << "Tower 118.1 Ground";
    QTest::newRow("bidirectional and zero-width") << "\u202eTower\u200b\u2066X\u2069\ufeff"
                                                  << "TowerX";
    QTest::newRow("blanks") << "  a \u2028 b  "
                            << "a b";
    QTest::newRow("right-to-left text stays") << "\u05de\u05d2\u05d3\u05dc 1"
                                              << "\u05de\u05d2\u05d3\u05dc 1";
    QTest::newRow("a megabyte") << QString(1 << 20, 'x')
                                << QString(kNameCharactersUsed, 'x') + QChar(0x2026);
}

void StationsTest::namesShowOnOneLine() {
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QCOMPARE(shownName(name), shown);
}

void StationsTest::rememberedAcrossARestart_data() {
    QTest::addColumn<bool>("playAtStart");
    QTest::newRow("selected at start") << false;
    QTest::newRow("played at start") << true;
}

void StationsTest::rememberedAcrossARestart() {
    QFETCH(bool, playAtStart);
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("orvento.conf"));
    // Twelve stations on a port that refuses: each press ends at once.
    QList<Station> stations;
    for (int i = 0; i < 12; ++i) {
        stations.append(
            {QStringLiteral("Station %1").arg(i), QStringLiteral("http://127.0.0.1:1/%1").arg(i)});
    }
    const auto names = [](StationFilterModel& rows) {
        QStringList shown;
        for (int row = 0; row < rows.rowCount(); ++row) {
            shown.append(rows.index(row, 0).data().toString());
        }
        return shown;
    };
    const QStringList recent{"Station 2", "Station 11", "Station 10", "Station 9", "Station 8",
                             "Station 7", "Station 6",  "Station 5",  "Station 4", "Station 3"};
    {
        ControllerHarness h;
        Settings settings(file);
        StationListModel model;
        model.setStations(stations);
        StationMemory memory(settings, *h.controller, model);
        QVERIFY(!memory.restoreLastStation());
        for (const int row : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 2}) {
            h.controller->chooseStation(stations[row]);
            h.controller->press();
            QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
        }
        // What cannot play is not remembered.
        h.controller->setAddressText(QStringLiteral("ftp://127.0.0.1:1/x"));
        h.controller->press();
        QTRY_COMPARE(h.controller->playState(), PlaybackController::PlayState::Idle);
        for (const int row : {9, 1, 5, 9}) {
            memory.toggleFavourite(stations[row]);
        }
        settings.setPlayLastStationAtStart(playAtStart);

        StationFilterModel rows;
        rows.setSourceModel(&model);
        rows.setScope(StationFilterModel::Scope::recent);
        QCOMPARE(names(rows), recent);
        rows.setScope(StationFilterModel::Scope::favourites);
        QCOMPARE(names(rows), (QStringList{"Station 1", "Station 5"}));
        rows.setQuery(QStringLiteral("5"));
        QCOMPARE(names(rows), QStringList{"Station 5"});
    }
    ControllerHarness h;
    Settings settings(file);
    StationListModel model;
    model.setStations(stations);
    StationMemory memory(settings, *h.controller, model);
    QVERIFY(memory.restoreLastStation());
    QCOMPARE(h.controller->selectedStation(), stations[2]);
    QCOMPARE(h.controller->attempts(), playAtStart ? 1u : 0u);
    QCOMPARE(settings.favourites(), (QList<Station>{stations[1], stations[5]}));
    QCOMPARE(model.index(5).data(StationListModel::FavouriteRole), QVariant(true));
    QCOMPARE(model.index(11).data(StationListModel::RecentRole), QVariant(1));
    QCOMPARE(memory.recent().size(), StationMemory::kRecentLimit);
}

void StationsTest::unreadableSettingsReadAsDefaults() {
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("orvento.conf"));
    QFile written(file);
    QVERIFY(written.open(QIODevice::WriteOnly));
    written.write(
        "[weather]\nairport=LT1A\n[stations]\nplayLastAtStart=maybe\n"
        "favourites\\size=3\nfavourites\\1\\name=A\nfavourites\\2\\url=http://b/\n"
        "last\\name=C\n[playback]\nliveEdge=maybe\n");
    written.close();
    const Settings settings(file);
    QCOMPARE(settings.weatherAirport(), QStringLiteral("LTBA"));
    QVERIFY(!settings.playLastStationAtStart());
    QCOMPARE(settings.favourites(), (QList<Station>{{QString(), QStringLiteral("http://b/")}}));
    QVERIFY(!settings.lastStation());
    QVERIFY(settings.liveEdge());
    Settings(file).setLiveEdge(false);
    QVERIFY(!Settings(file).liveEdge());
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::StationsTest)
#include "StationsTest.moc"
