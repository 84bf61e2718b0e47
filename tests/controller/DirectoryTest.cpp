// The community directory over loopback servers that speak its API: what is
// asked (each air-traffic tag, broken stations left out, who asks), what is
// kept (each station once), which server (one named; or from the list of
// servers, at their public names, the next when one fails), the cache and its
// age, the click, and what stays when a server answers badly; how an answer's
// JSON is read, field by field, and refused when it is not JSON.
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <random>

#include "controller/StationDirectory.h"
#include "controller/StationNames.h"
#include "engine/net/CurlTransfer.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {

// Declared before the helpers: moc reads no further than it must.
class DirectoryTest : public QObject {
    Q_OBJECT

  private slots:
    void tagsMergedOnceEachAsked();
    void stationsReadFromStrictJson_data();
    void stationsReadFromStrictJson();
    void jsonRefusedWhereQtRefusesIt();
    void badAnswerKeepsTheCachedList_data();
    void badAnswerKeepsTheCachedList();
    void fetchedOnlyWhenTheCacheIsADayOld_data();
    void fetchedOnlyWhenTheCacheIsADayOld();
    void serverChosenFromTheListNextOnFailure();
    void clickCountsThePlay();
    void localSiteServesTheDirectory();
};

namespace {

using loopback::LoopbackServer;
using loopback::Script;

std::string station(const std::string& uuid, const std::string& name) {
    return R"({"stationuuid":")" + uuid + R"(","name":")" + name +
           R"(","url":"http://example.invalid/)" + uuid +
           R"(.pls","url_resolved":"http://example.invalid/)" + uuid +
           R"(","country":"Türkiye","countrycode":"TR","codec":"MP3","bitrate":32,"hls":0,)"
           R"("lastcheckok":1,"votes":0,"clickcount":0,"tags":"atc"})";
}

// Each tag's answer, in the order of kDirectoryTags.
void serveTags(LoopbackServer& server, const std::vector<std::string>& answers) {
    for (std::size_t i = 0; i < kDirectoryTags.size(); ++i) {
        const QString path = directoryTagPath(QString::fromUtf8(kDirectoryTags[i]));
        server.setScript(path.section(u'?', 0, 0).toStdString(),
                         Script::fixed(answers[i], "application/json"));
    }
}

// A name that the cache must keep as it came: quotes, a backslash, a line
// break, a tab, a plane, an emoji and a right-to-left override.
const QString kFreshName = QStringLiteral("Fresh \"Tower\" \\ \n\t\u2708 \U0001F6E9 \u202e");

void serveOneStation(LoopbackServer& server) {
    serveTags(server,
              {"[" + station("fresh", R"(Fresh \"Tower\" \\ \n\t\u2708 \ud83d\udee9 \u202e)") + "]",
               "[]", "[]", "[]"});
}

QStringList names(const QList<DirectoryStation>& stations) {
    QStringList names;
    for (const DirectoryStation& listed : stations) {
        names.append(listed.name);
    }
    return names;
}

// A cache in `folder` of one station, fetched `age` ago.
void writeCache(const QString& folder, std::chrono::seconds age) {
    DirectoryList list;
    list.stations.append(*parseDirectoryStations(
                              QByteArray::fromStdString("[" + station("c1", "Cached Tower") + "]"))
                              ->begin());
    list.server = QStringLiteral("http://127.0.0.1:1");
    list.fetched = QDateTime::currentDateTimeUtc().addSecs(-age.count());
    QFile file(folder + QLatin1Char('/') + QLatin1String(kDirectoryCacheFile));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(writeDirectoryCache(list));
}

int requestsTo(const LoopbackServer& server, const std::string& part) {
    const std::vector<std::string> heads = server.requests();
    return static_cast<int>(std::count_if(heads.begin(), heads.end(), [&](const std::string& h) {
        return h.find(part) != std::string::npos;
    }));
}

}  // namespace

void DirectoryTest::tagsMergedOnceEachAsked() {
    LoopbackServer server;
    const std::string a = station("a", "Alpha Tower");
    const std::string b = station("b", "Bravo <b>Ground</b>\u202e");
    const std::string c = station("c", "Charlie Approach");
    // Stations under several tags, and twice under one; one without an id,
    // one that is a local file.
    serveTags(
        server,
        {"[" + a + "," + b + "," + a + "]", "[" + b + "," + c + "]", "[" + a + "]",
         R"([{"name":"No id","url":"http://x/"},)"
         R"({"stationuuid":"f","name":"File","url":"file:///etc/passwd","url_resolved":""}])"});
    const DirectoryFetch fetch =
        fetchDirectory({.server = QString::fromStdString(server.url("")), .listUrl = {}}, -1, {});
    QVERIFY2(fetch.list.has_value(), qPrintable(fetch.error));
    QCOMPARE(
        names(fetch.list->stations).join(u'|'),
        (QStringList{"Alpha Tower", "Bravo <b>Ground</b>\u202e", "Charlie Approach"}).join(u'|'));
    QCOMPARE(fetch.list->stations.front().url, QStringLiteral("http://example.invalid/a"));
    QCOMPARE(directoryDetails(fetch.list->stations.front()),
             QStringLiteral("Türkiye \u00b7 MP3 \u00b7 32 kbit/s \u00b7 up"));
    QCOMPARE(fetch.requests, 4);
    for (const std::string& head : server.requests()) {
        QVERIFY2(head.find("hidebroken=true") != std::string::npos, head.c_str());
        QVERIFY2(head.find("User-Agent: Orvento/") != std::string::npos, head.c_str());
    }
}

void DirectoryTest::stationsReadFromStrictJson_data() {
    QTest::addColumn<QByteArray>("body");
    // Each station's "name|url|details", joined with "; "; "none" when refused.
    QTest::addColumn<QString>("read");
    const QByteArray tower = QByteArray::fromStdString(station("t", "Tower"));
    const QString towerRead = QStringLiteral(
        "Tower|http://example.invalid/t|Türkiye \u00b7 MP3 \u00b7 32 kbit/s \u00b7 up");
    QTest::newRow("blanks around") << " \r\n\t[ " + tower + " ]\n" << towerRead;
    QTest::newRow("no station") << QByteArray("[]") << QString();
    QTest::newRow("fields nested and unknown")
        << QByteArray(
               R"([{"tags":[1,-2.5e3,{"a":[true,false,null,{}]},[]],"stationuuid":"n",)"
               R"("geo":{"lat":52.3,"x":"}]"},"name":"Nested","url_resolved":"https://n/"}])")
        << "Nested|https://n/|down";
    QTest::newRow("escapes") << QByteArray(R"([{"stationuuid":"e","n\u0061me":"A\/B \"q\" \\ )"
                                           R"(\u00e7 \ud83d\udee9\b\f","url":"http://e/"}])")
                             << QStringLiteral("A/B \"q\" \\ \u00e7 \U0001F6E9\b\f|http://e/|down");
    QTest::newRow("lone surrogates")
        << QByteArray(R"([{"stationuuid":"s","name":"\ud83dx \udee9 \ud83d","url":"http://s/"}])")
        << QStringLiteral("\ufffdx \ufffd \ufffd|http://s/|down");
    QTest::newRow("invalid UTF-8 replaced")
        << QByteArray("[{\"stationuuid\":\"u\",\"name\":\"a\xff\xfe b\",\"url\":\"http://u/\"}]")
        << QStringLiteral("a\ufffd\ufffd b|http://u/|down");
    QTest::newRow("wrong types count as absent")
        << QByteArray(R"([{"stationuuid":"w","name":5,"url":"http://w/","codec":["MP3"],)"
                      R"("bitrate":"128","lastcheckok":true},)"
                      R"({"stationuuid":"x","name":"Half","url":"http://x/","bitrate":128.5,)"
                      R"("lastcheckok":1.0,"country":null},)"
                      R"({"stationuuid":"y","name":"Big","url":"http://y/","bitrate":1e30}])")
        << "|http://w/|down; Half|http://x/|up; Big|http://y/|down";
    QTest::newRow("the last of a field given twice")
        << QByteArray(R"([{"stationuuid":"d","name":"First","name":"Second","url":"http://d/"}])")
        << "Second|http://d/|down";
    QTest::newRow("elements that are no object")
        << "[1,\"x\",null,[{\"stationuuid\":\"q\"}]," + tower + ",{}]" << towerRead;
    QTest::newRow("nested 200 deep")
        << "[{\"x\":" + QByteArray(200, '[') + QByteArray(200, ']') + "}," + tower + "]"
        << towerRead;
    const auto none = QStringLiteral("none");
    QTest::newRow("nested 300 deep")
        << "[{\"x\":" + QByteArray(300, '[') + QByteArray(300, ']') + "}]" << none;
    QTest::newRow("an object") << "{\"stations\":[" + tower + "]}" << none;
    QTest::newRow("trailing comma in the list") << "[" + tower + ",]" << none;
    QTest::newRow("trailing comma in a station")
        << QByteArray(R"([{"stationuuid":"c","url":"http://c/",}])") << none;
    QTest::newRow("missing comma")
        << QByteArray(R"([{"stationuuid":"c" "url":"http://c/"}])") << none;
    QTest::newRow("text after the list") << "[" + tower + "] x" << none;
    QTest::newRow("two lists") << QByteArray("[][]") << none;
    QTest::newRow("cut short") << "[" + tower.left(tower.size() - 20) << none;
    QTest::newRow("a raw line break in a string")
        << QByteArray("[{\"stationuuid\":\"r\",\"name\":\"a\nb\",\"url\":\"http://r/\"}]") << none;
    QTest::newRow("a bad escape") << QByteArray(
                                         R"([{"stationuuid":"b","name":"\x41","url":"http://b/"}])")
                                  << none;
    QTest::newRow("a short unicode escape")
        << QByteArray(R"([{"stationuuid":"b","name":"\u41","url":"http://b/"}])") << none;
    QTest::newRow("a number with a leading zero")
        << QByteArray(R"([{"stationuuid":"b","bitrate":032,"url":"http://b/"}])") << none;
    QTest::newRow("a number without digits")
        << QByteArray(R"([{"stationuuid":"b","bitrate":-,"url":"http://b/"}])") << none;
    QTest::newRow("a misspelt literal")
        << QByteArray(R"([{"stationuuid":"b","hls":nul,"url":"http://b/"}])") << none;
    QTest::newRow("a key that is no string")
        << QByteArray(R"([{stationuuid:"b","url":"http://b/"}])") << none;
    QTest::newRow("empty") << QByteArray() << none;
}

void DirectoryTest::stationsReadFromStrictJson() {
    QFETCH(QByteArray, body);
    QFETCH(QString, read);
    const std::optional<QList<DirectoryStation>> stations = parseDirectoryStations(body);
    QStringList found;
    for (const DirectoryStation& each : stations.value_or(QList<DirectoryStation>())) {
        found.append(QStringList{each.name, each.url, directoryDetails(each)}.join(u'|'));
    }
    QCOMPARE(stations ? found.join(QStringLiteral("; ")) : QStringLiteral("none"), read);
    if (stations && !stations->isEmpty()) {
        // Each with its search key, made as it was read.
        QCOMPARE(stations->front().searchKey, searchKey(stations->front().name));
    }
}

void DirectoryTest::jsonRefusedWhereQtRefusesIt() {
    // A station list broken a few characters at a time (the same ones on
    // each run): the directory's reader refuses what Qt's JSON parser
    // refuses as an array, and takes the rest but what Qt takes beyond JSON.
    // In ASCII: invalid UTF-8, which Qt refuses, is read with replacements.
    const QByteArray whole =
        QByteArray::fromStdString("[" + station("a", "Alpha") + "," + station("b", "B\\u00e7") +
                                  R"(,{"x":[1.5e3,-0,true,null,{"y":"\n"}]}])")
            .replace("Türkiye", "Turkey");
    const QByteArray characters = R"([]{}",:\ .-+0123456789eEtfnulr)";
    // Qt takes what JSON has not: an unknown escape ("\\i", "\\u12") as it
    // comes, a fraction without digits on a side ("1.", ".5"); this reader
    // refuses them (see the rows above).
    const auto qtLenient = [](const QByteArray& body) {
        static const QRegularExpression beyondJson(QStringLiteral(
            R"(\\(?:[^"\\/bfnrtu]|u(?![0-9a-fA-F]{4}))|(?<![0-9])\.[0-9]|[0-9]\.(?![0-9]))"));
        return beyondJson.match(QString::fromLatin1(body)).hasMatch();
    };
    std::mt19937 random(7);
    const auto pick = [&random](qsizetype size) {
        return std::uniform_int_distribution<qsizetype>(0, size - 1)(random);
    };
    int refused = 0;
    for (int i = 0; i < 20000; ++i) {
        QByteArray body = whole;
        for (int change = 0; change <= i % 3; ++change) {
            const qsizetype at = pick(body.size());
            const char c = characters[pick(characters.size())];
            switch (pick(3)) {
                case 0:
                    body.remove(at, 1);
                    break;
                case 1:
                    body.insert(at, c);
                    break;
                default:
                    body[at] = c;
            }
        }
        QJsonParseError error{};
        const bool qtTakes = QJsonDocument::fromJson(body, &error).isArray() &&
                             error.error == QJsonParseError::NoError;
        refused += qtTakes ? 0 : 1;
        const bool taken = parseDirectoryStations(body).has_value();
        QVERIFY2(taken == qtTakes || (qtTakes && qtLenient(body)), body.constData());
    }
    QVERIFY(refused > 1000);
}

void DirectoryTest::badAnswerKeepsTheCachedList_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("said");
    QTest::newRow("junk") << "junk"
                          << "not a list of stations";
    QTest::newRow("HTML") << "html"
                          << "not a list of stations";
    QTest::newRow("500") << "500"
                         << "500";
    QTest::newRow("50 MB") << "huge"
                           << "larger than";
    QTest::newRow("nothing") << "empty"
                             << "not a list of stations";
    QTest::newRow("no server") << "gone"
                               << "127.0.0.1";
}

void DirectoryTest::badAnswerKeepsTheCachedList() {
    QFETCH(QString, answer);
    QFETCH(QString, said);
    const QTemporaryDir folder;
    writeCache(folder.path(), std::chrono::hours(50));
    auto server = std::make_unique<LoopbackServer>();
    Script script =
        answer == "junk"   ? Script::fixed("\x01\xff{[not json")
        : answer == "html" ? Script::fixed("<html><body>Welcome</body></html>", "text/html")
        : answer == "500"
            ? Script::fixed(R"({"error":1})").withStatusLine("HTTP/1.1 500 Internal Server Error")
        : answer == "huge" ? Script::pattern(50'000'000)
                           : Script::fixed("");
    server->setScript("*", script);
    const QString base = QString::fromStdString(server->url(""));
    if (answer == "gone") {
        server.reset();
    }
    StationDirectory directory({.server = base, .listUrl = {}}, folder.path());
    QSignalSpy fetched(&directory, &StationDirectory::fetched);
    directory.start();
    QCOMPARE(names(directory.list().stations), QStringList{"Cached Tower"});
    QVERIFY(directory.fetching());
    QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 20000);
    QCOMPARE(fetched.front().front().toBool(), false);
    QVERIFY2(directory.error().contains(said), qPrintable(directory.error()));
    QCOMPARE(names(directory.list().stations), QStringList{"Cached Tower"});
    StationDirectory again({.server = QStringLiteral("http://127.0.0.1:1"), .listUrl = {}},
                           folder.path());
    again.start();
    QCOMPARE(names(again.list().stations), QStringList{"Cached Tower"});
}

void DirectoryTest::fetchedOnlyWhenTheCacheIsADayOld_data() {
    QTest::addColumn<int>("ageHours");  // -1: no cache
    QTest::addColumn<bool>("fetches");
    QTest::newRow("no cache") << -1 << true;
    QTest::newRow("an hour") << 1 << false;
    QTest::newRow("23 hours") << 23 << false;
    QTest::newRow("25 hours") << 25 << true;
    QTest::newRow("from the future") << -3 << true;
}

void DirectoryTest::fetchedOnlyWhenTheCacheIsADayOld() {
    QFETCH(int, ageHours);
    QFETCH(bool, fetches);
    const QTemporaryDir folder;
    if (ageHours != -1) {
        writeCache(folder.path(), std::chrono::hours(ageHours));
    }
    LoopbackServer server;
    serveOneStation(server);
    const DirectoryServers servers{.server = QString::fromStdString(server.url("")), .listUrl = {}};
    {
        StationDirectory directory(servers, folder.path());
        QSignalSpy fetched(&directory, &StationDirectory::fetched);
        directory.start();
        QCOMPARE(directory.fetching(), fetches);
        if (!fetches) {
            QCOMPARE(names(directory.list().stations), QStringList{"Cached Tower"});
            return;
        }
        QTRY_COMPARE(fetched.size(), 1);
        QCOMPARE(names(directory.list().stations), QStringList{kFreshName});
    }
    // The next start takes the list from the cache, without asking.
    StationDirectory next(servers, folder.path());
    next.start();
    QVERIFY(!next.fetching());
    QCOMPARE(names(next.list().stations), QStringList{kFreshName});
    QCOMPARE(next.list().server, servers.server);
}

void DirectoryTest::serverChosenFromTheListNextOnFailure() {
    // The public names, sent to loopback: one server answers for the list and
    // for good.api; bad.api refuses connections.
    LoopbackServer server(LoopbackServer::Transport::tls, 0,
                          {"all.api.radio-browser.info", "good.api.radio-browser.info"});
    server.setScript("/json/servers",
                     Script::fixed(R"([{"ip":"1","name":"bad.api.radio-browser.info"},)"
                                   R"({"ip":"2","name":"good.api.radio-browser.info"},)"
                                   R"({"ip":"3","name":"bad.api.radio-browser.info"},)"
                                   R"({"ip":"4","name":"x.example/@evil"}])"));
    serveOneStation(server);
    const std::string port = std::to_string(server.port());
    qputenv(kTestConnectToVariable,
            QByteArray::fromStdString("all.api.radio-browser.info:443:127.0.0.1:" + port +
                                      ",good.api.radio-browser.info:443:127.0.0.1:" + port +
                                      ",bad.api.radio-browser.info:443:127.0.0.1:1"));
    qputenv(kTestCaFileVariable, QByteArray::fromStdString(server.caFile()));
    // The stand-in is on this machine, whatever proxy the environment names.
    qputenv("no_proxy", "*");
    QStringList tried;
    const DirectoryFetch fetch =
        fetchDirectory({.server = {}, .listUrl = QLatin1String(kDirectoryServerListUrl)}, -1,
                       [&tried](QStringList& servers) { tried = servers; });
    qunsetenv(kTestConnectToVariable);
    qunsetenv(kTestCaFileVariable);
    QVERIFY2(fetch.list.has_value(), qPrintable(fetch.error));
    QCOMPARE(tried, (QStringList{"bad.api.radio-browser.info", "good.api.radio-browser.info"}));
    QCOMPARE(fetch.list->server, QStringLiteral("https://good.api.radio-browser.info"));
    QCOMPARE(names(fetch.list->stations), QStringList{kFreshName});
    // The list, then the four tags of each server.
    QCOMPARE(fetch.requests, 9);
    QCOMPARE(requestsTo(server, "Host: all.api.radio-browser.info"), 1);
    QCOMPARE(requestsTo(server, "Host: good.api.radio-browser.info"), 4);
}

void DirectoryTest::clickCountsThePlay() {
    LoopbackServer server;
    server.setScript("/json/url/c1", Script::fixed(R"({"ok":true})"));
    const QTemporaryDir folder;
    writeCache(folder.path(), std::chrono::hours(1));
    StationDirectory directory({.server = QString::fromStdString(server.url("")), .listUrl = {}},
                               folder.path());
    directory.start();
    directory.click(QStringLiteral("c1"));
    QVERIFY(server.waitUntil([&] { return requestsTo(server, "GET /json/url/c1 ") == 1; }));
    QVERIFY(requestsTo(server, "User-Agent: Orvento/") == 1);
}

void DirectoryTest::localSiteServesTheDirectory() {
    // What scripts/run shows under Directory: the site's stations, once each.
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QString base = QString::fromStdString(site.baseUrl());
    const DirectoryFetch fetch = fetchDirectory({.server = base, .listUrl = {}}, -1, {});
    QVERIFY2(fetch.list.has_value(), qPrintable(fetch.error));
    QCOMPARE(fetch.list->stations.size(), static_cast<qsizetype>(site.stations().size()));
    QCOMPARE(fetch.list->stations.front().url, QString::fromStdString(site.stations().front().url));
    HttpDownloadOptions options;
    options.maxBytes = 4096;
    const HttpDownloadResult click = downloadWholeBody(
        serverUrl(base, directoryClickPath(fetch.list->stations.front().uuid)).toStdString(),
        options);
    QVERIFY(click.body && click.body->find("\"ok\": true") != std::string::npos);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::DirectoryTest)
#include "DirectoryTest.moc"
