// StationDirectory: the air-traffic stations of the community radio directory
// (radio-browser, a public JSON API), kept as the Stations browser's
// "Directory" source.
//
// What is asked, and how (the directory's own rules of use):
//   - Which server: ORVENTO_DIRECTORY_URL names one (DirectoryServers::server);
//     otherwise the names in the directory's list of servers
//     (kDirectoryServerListUrl), shuffled, each asked over HTTPS by name; a
//     server that fails (no answer, an error status, a body that is not a
//     station list) hands over to the next, at most kDirectoryServersTried.
//   - What: the stations of each of kDirectoryTags (the whole tag; the four
//     asked side by side), with the broken ones left out by the server
//     (hidebroken), at most
//     kDirectoryStationsPerTag a tag, merged in tag order and kept once each
//     by their lasting id (stationuuid; the same station is tagged several
//     ways). Each request is capped at kDirectoryMaxBytes and
//     kDirectoryRequestTime, and says who asks (User-Agent "Orvento/<version>").
//   - When: start() reads the cache and fetches only when it is missing or
//     older than kDirectoryMaxAge; refresh() fetches at once (F5). The list
//     that arrives replaces the cache; a fetch that fails keeps the list and
//     the cache as they were and says why (error()).
//   - A play: click() calls the directory's click endpoint once for the
//     station (its play count); the caller calls it once per play the user
//     starts, not on reconnections.
//
// The cache: kDirectoryCacheFile in the folder given (the XDG cache folder in
// the application), written whole or not at all, off the main thread, after
// the list is shown.
//
// Free text from the directory (names, countries) is kept as it came: views
// show it through shownName and as plain text.
//
// StationDirectory: main thread only (fetches run on a thread of their own).
// The free functions: any thread.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/BackgroundDownload.h"
#include "controller/StationCatalogue.h"

namespace orvento {

inline constexpr const char* kDirectoryServerListUrl =
    "https://all.api.radio-browser.info/json/servers";
inline constexpr std::array<const char*, 4> kDirectoryTags = {"atc", "air traffic control",
                                                              "aviation", "airband"};
inline constexpr std::size_t kDirectoryMaxBytes = 4 * 1024 * 1024;
// Asked for, and taken at most of an answer whatever the server sends.
inline constexpr int kDirectoryStationsPerTag = 10000;
inline constexpr int kDirectoryServersTried = 3;
inline constexpr std::chrono::seconds kDirectoryRequestTime{15};
inline constexpr std::chrono::hours kDirectoryMaxAge{24};
inline constexpr const char* kDirectoryCacheFile = "directory.json";

struct DirectoryStation {
    QString uuid;  // stationuuid
    QString name;
    QString url;  // the stream as the last check found it (url_resolved), else as entered
    QString country;
    QString countryCode;
    QString codec;
    int bitrate = 0;  // kbit/s; 0: unknown
    bool lastCheckOk = false;
    // searchKey(name), made where the list is read (off the main thread);
    // empty in a station made otherwise.
    QString searchKey;
    Station station() const { return {name, url}; }
};

struct DirectoryList {
    QList<DirectoryStation> stations;
    QString server;     // where they came from: "https://de1.api.radio-browser.info"
    QDateTime fetched;  // UTC
};

// Where to ask. Neither set: there is no directory.
struct DirectoryServers {
    QString server;   // one server's base URL; empty: chosen from listUrl
    QString listUrl;  // the list of servers
    bool configured() const { return !server.isEmpty() || !listUrl.isEmpty(); }
};

// The stations of a search's body; none when it is not a JSON array. Elements
// without an id or an http or https stream URL are skipped.
std::optional<QList<DirectoryStation>> parseDirectoryStations(const QByteArray& body);
// The server names of the list of servers, each once, in order.
QStringList parseDirectoryServers(const QByteArray& body);
// Appends the stations of `more` whose id `into` does not hold yet.
void mergeDirectoryStations(QList<DirectoryStation>& into, const QList<DirectoryStation>& more);
// A tag's search, after a server's base URL.
QString directoryTagPath(const QString& tag);
// The click endpoint of a station, after a server's base URL.
QString directoryClickPath(const QString& uuid);
// The cache file's bytes, and back; none when they are no cache.
QByteArray writeDirectoryCache(const DirectoryList& list);
std::optional<DirectoryList> readDirectoryCache(const QByteArray& bytes);
// "Germany · MP3 · 128 kbit/s · up" (what is known of it).
QString directoryDetails(const DirectoryStation& station);

struct DirectoryFetch {
    std::optional<DirectoryList> list;  // none when it failed
    QString error;                      // why it failed, in words
    int requests = 0;                   // requests made
};
// Puts the servers in the order they are tried.
using ServerShuffle = std::function<void(QStringList& servers)>;
// Fetches the list (see above). Blocking; `cancelFd` as in HttpDownloadOptions.
DirectoryFetch fetchDirectory(const DirectoryServers& servers, int cancelFd,
                              const ServerShuffle& shuffle);
// "Orvento/<version>".
std::string directoryUserAgent();

class StationDirectory : public QObject {
    Q_OBJECT

  public:
    // `cacheFolder`: where the cache is kept; empty: nowhere.
    StationDirectory(DirectoryServers servers, QString cacheFolder, QObject* parent = nullptr);
    ~StationDirectory() override;

    bool configured() const { return servers_.configured(); }
    void start();
    // One fetch at a time: a refresh while one runs does nothing.
    void refresh();
    bool fetching() const { return fetch_ != nullptr; }
    // The latest list (from the cache or a fetch); no stations before one.
    const DirectoryList& list() const { return list_; }
    // Why the latest fetch failed; empty when it succeeded or none has ended.
    const QString& error() const { return error_; }
    void click(const QString& uuid);
    // The order servers are tried in; random by default.
    void setShuffle(ServerShuffle shuffle) { shuffle_ = std::move(shuffle); }

  signals:
    // The list or the state of the fetch changed.
    void changed();
    // A fetch ended (after changed()); `ok` when its list was taken.
    void fetched(bool ok);

  private:
    QString cachePath() const;
    void arrived(const DirectoryFetch& fetch);
    void writeCache();

    const DirectoryServers servers_;
    const QString cacheFolder_;
    DirectoryList list_;
    QString error_;
    ServerShuffle shuffle_;
    std::unique_ptr<BackgroundDownload> fetch_;
    std::unique_ptr<BackgroundDownload> cacheWrite_;  // the list of the latest fetch, to the cache
    std::vector<std::unique_ptr<BackgroundDownload>> clicks_;  // under way
};

}  // namespace orvento
