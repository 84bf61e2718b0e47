#include "controller/StationDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <random>

#include "controller/JsonReader.h"
#include "controller/StationNames.h"
#include "controller/StatusTexts.h"

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// A host name as the list of servers should give one: letters, digits, dots
// and hyphens (anything else could make the URL point elsewhere).
bool isHostName(const QString& name) {
    return !name.isEmpty() && name.size() <= 253 &&
           std::all_of(name.begin(), name.end(), [](QChar c) {
               return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                      (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
           });
}

// QJsonValue::toInt's rule: a whole number that fits, else 0.
int wholeNumber(double value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max() &&
                   value == std::trunc(value)
               ? static_cast<int>(value)
               : 0;
}

// The station of the object at `json` (entered); none, with the object
// read, when it has no id or no http or https stream URL. A member of the
// wrong type counts as absent; of a member given twice, the last counts.
std::optional<DirectoryStation> readStation(JsonReader& json) {
    DirectoryStation station;
    QString resolved;
    QString entered;
    double bitrate = 0;
    double checkOk = 0;
    while (json.nextMember()) {
        const QByteArrayView key = json.key();
        QString* text = key == "stationuuid"    ? &station.uuid
                        : key == "name"         ? &station.name
                        : key == "url_resolved" ? &resolved
                        : key == "url"          ? &entered
                        : key == "country"      ? &station.country
                        : key == "countrycode"  ? &station.countryCode
                        : key == "codec"        ? &station.codec
                                                : nullptr;
        double* number = key == "bitrate" ? &bitrate : key == "lastcheckok" ? &checkOk : nullptr;
        if (text != nullptr && !json.readString(*text)) {
            text->clear();
            json.skip();
        } else if (number != nullptr && !json.readNumber(*number)) {
            *number = 0;
            json.skip();
        } else if (text == nullptr && number == nullptr) {
            json.skip();
        }
    }
    station.url = resolved.isEmpty() ? entered : resolved;
    // Only a stream on the web is played from the directory (not a local file).
    const bool web = station.url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                     station.url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    if (json.failed() || station.uuid.isEmpty() || !web) {
        return std::nullopt;
    }
    station.bitrate = std::max(0, wholeNumber(bitrate));
    station.lastCheckOk = wholeNumber(checkOk) == 1;
    station.searchKey = orvento::searchKey(station.name);
    return station;
}

// The stations of the array at `json`; none when it is no array of JSON.
// Elements that are not objects are skipped.
std::optional<QList<DirectoryStation>> readStations(JsonReader& json) {
    if (!json.enterArray()) {
        return std::nullopt;
    }
    QList<DirectoryStation> stations;
    while (json.nextElement()) {
        if (!json.enterObject()) {
            json.skip();
        } else if (std::optional<DirectoryStation> station = readStation(json)) {
            stations.append(std::move(*station));
        }
    }
    if (json.failed()) {
        return std::nullopt;
    }
    return stations;
}

void randomShuffle(QStringList& servers) {
    std::shuffle(servers.begin(), servers.end(), std::mt19937(std::random_device{}()));
}

}  // namespace

std::optional<QList<DirectoryStation>> parseDirectoryStations(const QByteArray& body) {
    // Read in one pass, without a document: a tag's answer holds thousands
    // of stations, each with some 30 fields, of which 8 are kept.
    JsonReader json(body);
    std::optional<QList<DirectoryStation>> stations = readStations(json);
    if (!json.finish()) {
        return std::nullopt;
    }
    return stations;
}

QStringList parseDirectoryServers(const QByteArray& body) {
    QStringList names;
    for (const QJsonValue& server : QJsonDocument::fromJson(body).array()) {
        const QString name = server[QLatin1String("name")].toString();
        if (isHostName(name) && !names.contains(name)) {
            names.append(name);
        }
    }
    return names;
}

void mergeDirectoryStations(QList<DirectoryStation>& into, const QList<DirectoryStation>& more) {
    QSet<QString> held;
    held.reserve(into.size() + more.size());
    for (const DirectoryStation& station : into) {
        held.insert(station.uuid);
    }
    for (const DirectoryStation& station : more) {
        if (!held.contains(station.uuid)) {
            held.insert(station.uuid);
            into.append(station);
        }
    }
}

QString directoryTagPath(const QString& tag) {
    return QStringLiteral("/json/stations/bytagexact/%1?hidebroken=true&order=name&limit=%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(tag)))
        .arg(kDirectoryStationsPerTag);
}

QString directoryClickPath(const QString& uuid) {
    return QStringLiteral("/json/url/") + QString::fromLatin1(QUrl::toPercentEncoding(uuid));
}

QByteArray writeDirectoryCache(const DirectoryList& list) {
    // Written by hand: QJsonObject per station takes ten times as long; into
    // a std::string, whose appending of a character is inline.
    std::string out;
    out.reserve(256 + static_cast<std::size_t>(list.stations.size()) * 256);
    const auto string = [&out](const QString& text) {
        out += '"';
        for (const QChar c : text) {
            if (c == u'"' || c == u'\\') {
                out += '\\';
                out += static_cast<char>(c.unicode());
            } else if (c.unicode() >= 0x20 && c.unicode() < 0x80) {
                out += static_cast<char>(c.unicode());
            } else {
                // Each UTF-16 unit escaped, surrogate pairs as two.
                out += "\\u";
                for (const int shift : {12, 8, 4, 0}) {
                    out += "0123456789abcdef"[(c.unicode() >> shift) & 15];
                }
            }
        }
        out += '"';
    };
    out += "{\"server\":";
    string(list.server);
    out += ",\"fetched\":";
    string(list.fetched.toString(Qt::ISODate));
    out += ",\"stations\":[";
    for (qsizetype i = 0; i < list.stations.size(); ++i) {
        const DirectoryStation& station = list.stations[i];
        out += i == 0 ? "{\"stationuuid\":" : ",{\"stationuuid\":";
        string(station.uuid);
        out += ",\"name\":";
        string(station.name);
        out += ",\"url_resolved\":";
        string(station.url);
        out += ",\"country\":";
        string(station.country);
        out += ",\"countrycode\":";
        string(station.countryCode);
        out += ",\"codec\":";
        string(station.codec);
        out += ",\"bitrate\":" + std::to_string(station.bitrate);
        out += station.lastCheckOk ? ",\"lastcheckok\":1}" : ",\"lastcheckok\":0}";
    }
    out += "]}";
    return QByteArray::fromStdString(out);
}

std::optional<DirectoryList> readDirectoryCache(const QByteArray& bytes) {
    JsonReader json(bytes);
    if (!json.enterObject()) {
        return std::nullopt;
    }
    DirectoryList list;
    std::optional<QList<DirectoryStation>> stations;
    QString fetched;
    while (json.nextMember()) {
        const QByteArrayView key = json.key();
        if (key == "stations") {
            stations = readStations(json);
        } else if (!(key == "server" && json.readString(list.server)) &&
                   !(key == "fetched" && json.readString(fetched))) {
            json.skip();
        }
    }
    if (!json.finish() || !stations) {
        return std::nullopt;
    }
    list.fetched = QDateTime::fromString(fetched, Qt::ISODate);
    list.stations = std::move(*stations);
    return list;
}

QString directoryDetails(const DirectoryStation& station) {
    QStringList parts;
    if (const QString country = shownName(station.country); !country.isEmpty()) {
        parts.append(country);
    }
    if (const QString codec = shownName(station.codec);
        !codec.isEmpty() && codec.compare(QLatin1String("UNKNOWN"), Qt::CaseInsensitive) != 0) {
        parts.append(codec);
    }
    if (station.bitrate > 0) {
        parts.append(translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 kbit/s"))
                         .arg(station.bitrate));
    }
    parts.append(station.lastCheckOk
                     ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "up"))
                     : translate(QT_TRANSLATE_NOOP("OrventoViewController", "down")));
    return parts.join(QStringLiteral(" \u00b7 "));
}

std::string directoryUserAgent() {
    return std::string("Orvento/") + ORVENTO_VERSION;
}

DirectoryFetch fetchDirectory(const DirectoryServers& servers, int cancelFd,
                              const ServerShuffle& shuffle) {
    DirectoryFetch fetch;
    HttpDownloadOptions options;
    options.maxBytes = kDirectoryMaxBytes;
    options.totalTimeout = kDirectoryRequestTime;
    options.cancelFd = cancelFd;
    options.userAgent = directoryUserAgent();
    const auto get = [&](const QString& url) {
        ++fetch.requests;
        return downloadWholeBody(url.toStdString(), options);
    };

    QStringList bases;
    if (!servers.server.isEmpty()) {
        bases.append(servers.server);
    } else {
        const HttpDownloadResult answer = get(servers.listUrl);
        QStringList names = answer.body
                                ? parseDirectoryServers(QByteArray::fromStdString(*answer.body))
                                : QStringList();
        if (names.isEmpty()) {
            fetch.error = translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                      "no directory server could be found (%1)"))
                              .arg(answer.body ? translate(QT_TRANSLATE_NOOP(
                                                     "OrventoViewController", "an empty list"))
                                               : QString::fromStdString(answer.error));
            return fetch;
        }
        if (shuffle) {
            shuffle(names);
        }
        for (const QString& name : names.mid(0, kDirectoryServersTried)) {
            bases.append(QStringLiteral("https://") + name);
        }
    }

    for (const QString& base : bases) {
        DirectoryList list;
        list.server = base;
        QString failure;
        // The tags side by side, each fetched and read on a thread of its
        // own; merged in order.
        struct Answer {
            HttpDownloadResult download;
            std::optional<QList<DirectoryStation>> stations;
        };
        std::vector<std::future<Answer>> answers;
        for (const char* tag : kDirectoryTags) {
            ++fetch.requests;
            answers.push_back(std::async(
                std::launch::async,
                [&options](const std::string& url) {
                    Answer answer{downloadWholeBody(url, options), std::nullopt};
                    if (answer.download.body) {
                        answer.stations = parseDirectoryStations(
                            QByteArray::fromStdString(*answer.download.body));
                    }
                    return answer;
                },
                serverUrl(base, directoryTagPath(QString::fromUtf8(tag))).toStdString()));
        }
        for (std::future<Answer>& pending : answers) {
            const Answer answer = pending.get();
            if (!failure.isEmpty()) {
                continue;
            }
            if (!answer.download.body) {
                failure = QString::fromStdString(answer.download.error);
            } else if (!answer.stations) {
                failure = translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                      "the answer is not a list of stations"));
            } else {
                mergeDirectoryStations(list.stations,
                                       answer.stations->mid(0, kDirectoryStationsPerTag));
            }
        }
        if (failure.isEmpty()) {
            list.fetched = QDateTime::currentDateTimeUtc();
            fetch.list = std::move(list);
            fetch.error.clear();
            return fetch;
        }
        // The next server, if any, is asked the whole list again.
        fetch.error = QStringLiteral("%1: %2").arg(withoutPassword(base), failure);
    }
    return fetch;
}

StationDirectory::StationDirectory(DirectoryServers servers, QString cacheFolder, QObject* parent)
    : QObject(parent),
      servers_(std::move(servers)),
      cacheFolder_(std::move(cacheFolder)),
      shuffle_(&randomShuffle) {}

StationDirectory::~StationDirectory() = default;

QString StationDirectory::cachePath() const {
    return cacheFolder_.isEmpty() ? QString()
                                  : QDir(cacheFolder_).filePath(QLatin1String(kDirectoryCacheFile));
}

void StationDirectory::start() {
    if (!configured()) {
        return;
    }
    if (QFile file(cachePath()); !cachePath().isEmpty() && file.open(QIODevice::ReadOnly)) {
        // A cache is small (a fetch's bodies are capped); a huge file is no cache of ours.
        if (file.size() <= static_cast<qint64>(kDirectoryMaxBytes * kDirectoryTags.size())) {
            if (std::optional<DirectoryList> cached = readDirectoryCache(file.readAll())) {
                list_ = std::move(*cached);
                emit changed();
            }
        }
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool fresh = list_.fetched.isValid() && list_.fetched <= now &&
                       list_.fetched.secsTo(now) < std::chrono::seconds(kDirectoryMaxAge).count();
    if (!fresh) {
        refresh();
    }
}

void StationDirectory::refresh() {
    if (!configured() || fetch_ != nullptr) {
        return;
    }
    fetch_ = std::make_unique<BackgroundDownload>(
        [this, servers = servers_, shuffle = shuffle_](int cancelFd) {
            // On the fetch's thread: nothing of this object is touched here.
            DirectoryFetch fetch = fetchDirectory(servers, cancelFd, shuffle);
            return std::function<void()>([this, fetch = std::move(fetch)] { arrived(fetch); });
        },
        this);
    emit changed();
}

void StationDirectory::arrived(const DirectoryFetch& fetch) {
    fetch_.reset();
    if (fetch.list) {
        list_ = *fetch.list;
        error_.clear();
        writeCache();
    } else {
        error_ = fetch.error;
    }
    emit changed();
    emit fetched(fetch.list.has_value());
}

void StationDirectory::writeCache() {
    if (cachePath().isEmpty()) {
        return;
    }
    // On a thread of its own: making 20,000 stations' text and syncing the
    // file to disk take a while. A write under way ends first.
    cacheWrite_ = std::make_unique<BackgroundDownload>(
        [list = list_, folder = cacheFolder_, path = cachePath()](int) {
            if (QDir().mkpath(folder)) {
                QSaveFile file(path);
                if (file.open(QIODevice::WriteOnly)) {
                    file.write(writeDirectoryCache(list));
                    file.commit();
                }
            }
            return std::function<void()>();
        },
        this);
}

void StationDirectory::click(const QString& uuid) {
    const QString base = !servers_.server.isEmpty() ? servers_.server : list_.server;
    // A few at once at most: clicks are counts, not worth a queue.
    constexpr std::size_t kClicksUnderWay = 4;
    if (base.isEmpty() || uuid.isEmpty() || clicks_.size() >= kClicksUnderWay) {
        return;
    }
    HttpDownloadOptions options;
    options.maxBytes = 64 * 1024;
    options.totalTimeout = kDirectoryRequestTime;
    options.userAgent = directoryUserAgent();
    auto click = std::make_unique<BackgroundDownload>(
        serverUrl(base, directoryClickPath(uuid)).toStdString(), options, this,
        BackgroundDownload::deliver([this](const HttpDownloadResult&) {
            // The download has ended: it can go (its thread ends at once).
            std::erase_if(clicks_, [](const std::unique_ptr<BackgroundDownload>& under) {
                return under->finished();
            });
        }));
    clicks_.push_back(std::move(click));
}

}  // namespace orvento
