// Playlists: what each format's files are read as, what is recognised as a
// playlist and what as a stream, and the opener through the real controller
// and engine against loopback servers that answer with playlists (by
// Content-Type, by their first bytes) and with playlist files: which entry
// plays, under which name, and what is refused with which words.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controller/AddressOpener.h"
#include "controller/Playlist.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

std::string manyEntries(int count) {
    std::string text = "#EXTM3U\n";
    for (int i = 0; i < count; ++i) {
        text += "http://127.0.0.1:1/" + std::to_string(i) + "\n";
    }
    return text;
}

QString joined(const Playlist& playlist) {
    QStringList parts;
    for (const PlaylistEntry& entry : playlist.entries) {
        parts << QString::fromStdString(entry.address + "|" + entry.title);
    }
    return parts.join(QLatin1Char(' '));
}

}  // namespace

class PlaylistTest : public QObject {
    Q_OBJECT

  private slots:
    void readsEachFormat_data();
    void readsEachFormat();
    void recognisesPlaylistsAndStreams_data();
    void recognisesPlaylistsAndStreams();
    void refusesBadPlaylists_data();
    void refusesBadPlaylists();
    void opensAddresses_data();
    void opensAddresses();
    void aStationOnPlaysOnWhenNothingCanBeOpened();
};

void PlaylistTest::readsEachFormat_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("entries");  // address|title, space-separated
    QTest::newRow("pls, numbers out of order, a BOM")
        << int(PlaylistFormat::pls)
        << QByteArray(
               "\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=2\r\nFile2=http://b/2\r\n"
               "Title2=Two\r\nFile1=http://a/1\r\nTitle1=One\r\nLength1=-1\r\nVersion=2\r\n")
        << ""
        << "http://a/1|One http://b/2|Two";
    QTest::newRow("m3u, plain lines")
        << int(PlaylistFormat::m3u) << QByteArray("http://a/1\n\n  http://b/2  \n") << ""
        << "http://a/1| http://b/2|";
    QTest::newRow("m3u8, extended with titles")
        << int(PlaylistFormat::m3u)
        << QByteArray(
               "#EXTM3U\n#PLAYLIST:Istanbul Tower\n#EXTINF:-1,Tower 118.1\nhttp://a/1\n"
               "relative.mp3\n")
        << "Istanbul Tower"
        << "http://a/1|Tower 118.1 relative.mp3|";
    QTest::newRow("xspf") << int(PlaylistFormat::xspf)
                          << QByteArray(
                                 "<?xml version=\"1.0\"?>\n<playlist version=\"1\" "
                                 "xmlns=\"http://xspf.org/ns/0/\"><title>Ground &amp; "
                                 "Tower</title><trackList><track><title>G</title>"
                                 "<location>http://a/1?x=1&amp;y=2</location></track>"
                                 "<track><location>http://b/2</location></track>"
                                 "</trackList></playlist>")
                          << "Ground & Tower"
                          << "http://a/1?x=1&y=2|G http://b/2|";
    QTest::newRow("asx, alternative refs")
        << int(PlaylistFormat::asx)
        << QByteArray(
               "<asx version=\"3.0\"><title>Approach</title>"
               "<entry><title>Main</title><ref href=\"http://a/1\"/>"
               "<ref href='http://b/2' /></entry></asx>")
        << "Approach"
        << "http://a/1|Main http://b/2|Main";
    QTest::newRow("ASX in capitals, refs never closed")
        << int(PlaylistFormat::asx)
        << QByteArray(
               "<ASX VERSION=\"3.0\">\n<ENTRY>\n<REF HREF=\"http://a/1\">\n"
               "<REF HREF=\"http://b/2\">\n</ENTRY>\n</ASX>")
        << ""
        << "http://a/1| http://b/2|";
}

void PlaylistTest::readsEachFormat() {
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    const Playlist playlist =
        readPlaylist(static_cast<PlaylistFormat>(format), bytes.toStdString());
    QCOMPARE(int(playlist.error), int(PlaylistError::none));
    QTEST(QString::fromStdString(playlist.title), "title");
    QTEST(joined(playlist), "entries");
}

void PlaylistTest::recognisesPlaylistsAndStreams_data() {
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("format");  // -1: a stream
    const QByteArray mp3("\xFF\xFB\x90\x00\x00\x00\x00\x00", 8);
    QTest::newRow("pls by type") << "audio/x-scpls" << QByteArray("File1=x") << "http://h/listen"
                                 << int(PlaylistFormat::pls);
    QTest::newRow("m3u by type, charset")
        << "audio/x-mpegurl; charset=utf-8" << QByteArray("http://a/1") << "http://h/"
        << int(PlaylistFormat::m3u);
    QTest::newRow("xspf by type") << "application/xspf+xml" << QByteArray("<playlist>")
                                  << "http://h/" << int(PlaylistFormat::xspf);
    QTest::newRow("asx by type") << "video/x-ms-asx" << QByteArray("<asx>") << "http://h/"
                                 << int(PlaylistFormat::asx);
    QTest::newRow("pls by first bytes")
        << "application/octet-stream" << QByteArray("[Playlist]\nFile1=x") << "http://h/a"
        << int(PlaylistFormat::pls);
    QTest::newRow("m3u by first bytes")
        << "text/plain" << QByteArray("  #EXTM3U\nx") << "http://h/a" << int(PlaylistFormat::m3u);
    QTest::newRow("xspf by first bytes") << "" << QByteArray("<?xml version='1.0'?>\n<playlist>")
                                         << "/tmp/a" << int(PlaylistFormat::xspf);
    QTest::newRow("asx by first bytes") << "text/html" << QByteArray("<ASX version=\"3\">")
                                        << "http://h/a" << int(PlaylistFormat::asx);
    QTest::newRow("plain list by extension") << "text/plain" << QByteArray("http://a/1")
                                             << "http://h/a.M3U?x=1" << int(PlaylistFormat::m3u);
    QTest::newRow("file by extension")
        << "" << QByteArray("File1=x") << "/tmp/station.pls" << int(PlaylistFormat::pls);
    QTest::newRow("ASF media is a stream")
        << "video/x-ms-asf" << QByteArray("0&\xB2u", 4) << "http://h/a.asx" << -1;
    QTest::newRow("audio under a playlist's name") << "audio/mpeg" << mp3 << "http://h/a.pls" << -1;
    QTest::newRow("binary under a playlist's name") << "" << mp3 << "/tmp/a.m3u" << -1;
    QTest::newRow("a stream") << "audio/mpeg" << mp3 << "http://h/live" << -1;
    QTest::newRow("a web page") << "text/html" << QByteArray("<html>") << "http://h/" << -1;
}

void PlaylistTest::recognisesPlaylistsAndStreams() {
    QFETCH(QString, contentType);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, address);
    QFETCH(int, format);
    const std::optional<PlaylistFormat> found =
        recognisePlaylist(contentType.toStdString(), bytes.toStdString(), address.toStdString());
    QCOMPARE(found ? int(*found) : -1, format);
}

void PlaylistTest::refusesBadPlaylists_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("entries");
    QTest::newRow("empty") << int(PlaylistFormat::pls) << QByteArray("[playlist]\n")
                           << int(PlaylistError::empty) << 0;
    QTest::newRow("only comments") << int(PlaylistFormat::m3u) << QByteArray("#EXTM3U\n# x\n")
                                   << int(PlaylistError::empty) << 0;
    QTest::newRow("binary") << int(PlaylistFormat::m3u) << QByteArray("ab\0cd", 5)
                            << int(PlaylistError::binary) << 0;
    QTest::newRow("HLS") << int(PlaylistFormat::m3u)
                         << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.ts\n")
                         << int(PlaylistError::hls) << 0;
    QTest::newRow("1,000 entries")
        << int(PlaylistFormat::m3u) << QByteArray::fromStdString(manyEntries(1000))
        << int(PlaylistError::none) << 1000;
    QTest::newRow("1,001 entries")
        << int(PlaylistFormat::m3u) << QByteArray::fromStdString(manyEntries(1001))
        << int(PlaylistError::tooManyEntries) << 0;
    QTest::newRow("10,000 entries")
        << int(PlaylistFormat::m3u) << QByteArray::fromStdString(manyEntries(10000))
        << int(PlaylistError::tooManyEntries) << 0;
    std::string pls = "[playlist]\n";
    for (int i = 1; i <= 10000; ++i) {
        pls += "File" + std::to_string(i) + "=http://h/\n";
    }
    QTest::newRow("10,000 pls entries")
        << int(PlaylistFormat::pls) << QByteArray::fromStdString(pls)
        << int(PlaylistError::tooManyEntries) << 0;
    QTest::newRow("over 1 MiB") << int(PlaylistFormat::m3u)
                                << QByteArray(int(kPlaylistMaxBytes) + 1, '#')
                                << int(PlaylistError::tooLarge) << 0;
}

void PlaylistTest::refusesBadPlaylists() {
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    const Playlist playlist =
        readPlaylist(static_cast<PlaylistFormat>(format), bytes.toStdString());
    QTEST(int(playlist.error), "error");
    QTEST(int(playlist.entries.size()), "entries");
}

void PlaylistTest::opensAddresses_data() {
    QTest::addColumn<QString>("open");    // a path on the server, or "file:NAME" in the folder
    QTest::addColumn<QString>("played");  // the path that plays; empty: none
    QTest::addColumn<QString>("name");    // the station's name
    QTest::addColumn<QString>("said");    // in the status line when nothing plays
    QTest::addColumn<int>("alerts");      // failure alerts shown
    QTest::newRow("pls by Content-Type") << "/listen"
                                         << "/live.mp3"
                                         << "Istanbul Tower"
                                         << "" << 0;
    QTest::newRow("m3u by first bytes") << "/tune-in"
                                        << "/live.mp3"
                                        << "Approach"
                                        << "" << 0;
    QTest::newRow("a stream as it is") << "/live.mp3"
                                       << "/live.mp3"
                                       << ""
                                       << "" << 0;
    QTest::newRow("the next entry after a failing one") << "/first-fails.xspf"
                                                        << "/live.mp3"
                                                        << "Fallback"
                                                        << "" << 0;
    QTest::newRow("three deep") << "/deep1.pls"
                                << "/live.mp3"
                                << "Deep"
                                << "" << 0;
    QTest::newRow("four deep") << "/deeper1.pls"
                               << ""
                               << ""
                               << "is inside playlists more than 3 deep" << 0;
    QTest::newRow("recursive") << "/self.m3u"
                               << ""
                               << ""
                               << "lists itself" << 0;
    QTest::newRow("HLS") << "/hls.m3u8"
                         << ""
                         << ""
                         << "an HLS stream" << 0;
    QTest::newRow("10,000 entries") << "/many.m3u"
                                    << ""
                                    << ""
                                    << "more than 1000 entries" << 0;
    QTest::newRow("over 1 MiB") << "/huge.m3u"
                                << ""
                                << ""
                                << "larger than 1 MiB" << 0;
    QTest::newRow("empty") << "/empty.pls"
                           << ""
                           << ""
                           << "lists no station" << 0;
    QTest::newRow("binary") << "/binary.m3u"
                            << ""
                            << ""
                            << "it is not text" << 0;
    QTest::newRow("a file from the network") << "/to-file.pls"
                                             << ""
                                             << ""
                                             << "may not open files of this computer" << 0;
    QTest::newRow("javascript") << "/script.m3u"
                                << ""
                                << ""
                                << "is not played: Orvento plays http" << 0;
    QTest::newRow("a password, masked") << "/masked.pls"
                                        << "/live.mp3"
                                        << ""
                                        << "" << 0;
    QTest::newRow("a local pls") << "file:station.pls"
                                 << "/live.mp3"
                                 << "Local"
                                 << "" << 0;
    QTest::newRow("a local file listing a local one") << "file:outer.m3u"
                                                      << "/live.mp3"
                                                      << "Local"
                                                      << "" << 0;
    QTest::newRow("a local file that is no playlist") << "file:tower.mp3"
                                                      << ""
                                                      << ""
                                                      << "is not a playlist" << 0;
    QTest::newRow("every entry fails: one alert, of the last") << "/all-fail.m3u"
                                                               << ""
                                                               << ""
                                                               << "" << 1;
    QTest::newRow("a missing file") << "file:missing.pls"
                                    << ""
                                    << ""
                                    << "could not be read" << 0;
    QTest::newRow("a folder") << "file:"
                              << ""
                              << ""
                              << "it is not a file" << 0;
    QTest::newRow("a device") << "file:/dev/stdin"
                              << ""
                              << ""
                              << "it is not a file" << 0;
}

void PlaylistTest::opensAddresses() {
    QFETCH(QString, open);
    QFETCH(QString, played);
    QFETCH(QString, name);
    QFETCH(QString, said);
    QFETCH(int, alerts);
    auto alertCount = std::make_shared<AlertCount>();
    PelorinServices engine;
    engine.alerts = alertCount;
    ControllerHarness h(nullptr, engine);
    PlaybackController& c = *h.controller;
    AddressOpener opener(c, h.log);
    const QTemporaryDir folder;
    const auto write = [&folder](const char* file, const std::string& text) {
        QFile out(folder.filePath(QLatin1String(file)));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text.data(), qint64(text.size()));
    };
    const std::string live = h.server.url("/live.mp3");
    const std::string site = h.server.url("");
    h.server.setScript("/live.mp3", liveStation());
    h.server.setScript(
        "/listen", loopback::Script::fixed("[playlist]\nFile1=/live.mp3\nTitle1=Istanbul Tower\n",
                                           "audio/x-scpls"));
    h.server.setScript("/tune-in",
                       loopback::Script::fixed("#EXTM3U\n#PLAYLIST:Approach\nlive.mp3\n"));
    h.server.setScript(
        "/first-fails.xspf",
        loopback::Script::fixed("<playlist><title>Fallback</title><trackList>"
                                "<track><location>/gone</location></track>"
                                "<track><location>/broken</location></track>"
                                "<track><location>" +
                                    live + "</location></track></trackList></playlist>",
                                "text/xml"));
    h.server.setScript("/gone", loopback::Script::notFound());
    h.server.setScript("/all-fail.m3u",
                       loopback::Script::fixed("/broken\n/gone\n/broken\n", "audio/x-mpegurl"));
    // Looks like a stream, and fails to play.
    h.server.setScript("/broken", loopback::Script::fixed(std::string(4000, 'x'), "audio/mpeg"));
    h.server.setScript("/deep1.pls",
                       loopback::Script::fixed("[playlist]\nFile1=/deep2.m3u\nTitle1=Deep\n"));
    h.server.setScript("/deep2.m3u", loopback::Script::fixed("/deep3.asx\n", "audio/x-mpegurl"));
    h.server.setScript("/deep3.asx", loopback::Script::fixed(
                                         "<asx><entry><ref href=\"/live.mp3\"/></entry></asx>"));
    h.server.setScript("/deeper1.pls", loopback::Script::fixed("[playlist]\nFile1=/deeper2.pls\n"));
    h.server.setScript("/deeper2.pls", loopback::Script::fixed("[playlist]\nFile1=/deeper3.pls\n"));
    h.server.setScript("/deeper3.pls", loopback::Script::fixed("[playlist]\nFile1=/deeper4.pls\n"));
    h.server.setScript("/deeper4.pls", loopback::Script::fixed("[playlist]\nFile1=/live.mp3\n"));
    h.server.setScript("/self.m3u", loopback::Script::fixed("#EXTM3U\n" + site + "/self.m3u\n"));
    h.server.setScript("/hls.m3u8",
                       loopback::Script::fixed("#EXTM3U\n#EXT-X-VERSION:3\n#EXTINF:10,\nlive.mp3\n",
                                               "application/vnd.apple.mpegurl"));
    h.server.setScript("/many.m3u", loopback::Script::fixed(manyEntries(10000)));
    h.server.setScript("/huge.m3u",
                       loopback::Script::fixed(std::string(kPlaylistMaxBytes + 1, '#')));
    h.server.setScript("/empty.pls", loopback::Script::fixed("[playlist]\nNumberOfEntries=0\n"));
    h.server.setScript("/binary.m3u", loopback::Script::fixed(std::string("#EXTM3U\n\0\0\0", 11),
                                                              "audio/x-mpegurl"));
    // A playlist file here that would play, were a remote list let at it.
    write("here.pls", "[playlist]\nFile1=" + live + "\n");
    h.server.setScript("/to-file.pls",
                       loopback::Script::fixed("[playlist]\nFile1=file://" +
                                               folder.filePath("here.pls").toStdString() + "\n"));
    h.server.setScript("/script.m3u",
                       loopback::Script::fixed("javascript:alert(1)\n", "audio/x-mpegurl"));
    std::string withPassword = live;
    withPassword.replace(withPassword.find("//"), 2, "//pilot:secret@");
    h.server.setScript("/masked.pls", loopback::Script::fixed("[playlist]\nFile1=" + withPassword));
    write("station.pls", "[playlist]\nFile1=" + live + "\nTitle1=Local\n");
    write("outer.m3u", "station.pls\n");
    write("tower.mp3", std::string("\xFF\xFB\x90\x00", 4));

    const QString file = open.mid(5);
    const QString address = !open.startsWith(QLatin1String("file:"))
                                ? QString::fromStdString(h.server.url(open.toStdString()))
                            : file.startsWith(QLatin1Char('/')) ? file
                                                                : folder.filePath(file);
    QSignalSpy finished(&opener, &AddressOpener::finished);
    opener.open(address);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 15000);
    QCOMPARE(finished.first().first().toBool(), !played.isEmpty());
    QCOMPARE(alertCount->shown.load(), alerts);
    if (played.isEmpty()) {
        QCOMPARE(c.playState(), PlaybackController::PlayState::Idle);
        QVERIFY2(c.statusText().contains(said), qPrintable(c.statusText()));
        QVERIFY(!c.statusText().contains(QLatin1String("secret")));
        return;
    }
    QCOMPARE(c.playState(), PlaybackController::PlayState::Playing);
    QCOMPARE(QUrl(c.stationOn().url).path(), played);
    QCOMPARE(c.stationOn().name, name);
    for (const QString& line : h.logLines()) {
        QVERIFY2(!line.contains(QLatin1String("secret")), qPrintable(line));
    }
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), PlaybackController::PlayState::Idle, 5000);
}

void PlaylistTest::aStationOnPlaysOnWhenNothingCanBeOpened() {
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    AddressOpener opener(c, h.log);
    h.server.setScript("/live.mp3", liveStation());
    h.server.setScript("/empty.m3u", loopback::Script::fixed("#EXTM3U\n"));
    h.server.setScript("/other.pls", loopback::Script::fixed("[playlist]\nFile1=/live.mp3\n"
                                                             "Title1=Other\n"));
    c.chooseStation({QStringLiteral("Tower"), h.url("/live.mp3")});
    c.press();
    QTRY_VERIFY_WITH_TIMEOUT(c.heard(), 15000);
    QSignalSpy finished(&opener, &AddressOpener::finished);
    opener.open(h.url("/empty.m3u"));
    QVERIFY(finished.wait(10000));
    QCOMPARE(c.playState(), PlaybackController::PlayState::Playing);
    QCOMPARE(c.stationOn().name, QStringLiteral("Tower"));
    QVERIFY(c.statusText().contains(QLatin1String("lists no station")));
    // A playlist that plays takes the station's place.
    opener.open(h.url("/other.pls"));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.last().first().toBool(), true);
    QCOMPARE(c.stationOn().name, QStringLiteral("Other"));
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), PlaybackController::PlayState::Idle, 5000);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::PlaylistTest)
#include "PlaylistTest.moc"
