#include "controller/Settings.h"

#include <algorithm>
#include <cmath>

#include "weather/ServerFiles.h"

namespace orvento {
namespace {

constexpr const char* kNameKey = "name";
constexpr const char* kUrlKey = "url";

std::unique_ptr<QSettings> usualPlace() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("orvento"), QStringLiteral("orvento"));
}

// A station kept under `group`; none without a URL.
std::optional<Station> readStation(const QSettings& store, const QString& group) {
    Station station{store.value(group + kNameKey).toString(),
                    store.value(group + kUrlKey).toString()};
    if (station.url.isEmpty()) {
        return std::nullopt;
    }
    return station;
}

}  // namespace

Settings::Settings(QObject* parent) : QObject(parent), store_(usualPlace()) {}

Settings::Settings(const QString& path, QObject* parent)
    : QObject(parent), store_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

Settings::Settings(std::unique_ptr<QTemporaryDir> folder, const QString& path) : Settings(path) {
    folder_ = std::move(folder);
}

std::unique_ptr<Settings> Settings::temporary() {
    auto folder = std::make_unique<QTemporaryDir>();
    const QString path = folder->filePath(QStringLiteral("orvento.conf"));
    return std::unique_ptr<Settings>(new Settings(std::move(folder), path));
}

Settings::~Settings() {
    // Written before a temporary folder goes.
    store_.reset();
}

void Settings::write(const char* key, const QVariant& value) {
    store_->setValue(QLatin1String(key), value);
    written(key);
}

void Settings::written(const char* key) {
    store_->sync();
    emit changed(QLatin1String(key));
}

QList<Station> Settings::stationList(const char* key) const {
    QList<Station> stations;
    const int size = store_->beginReadArray(QLatin1String(key));
    for (int i = 0; i < size && stations.size() < kStationListLimit; ++i) {
        store_->setArrayIndex(i);
        if (std::optional<Station> station = readStation(*store_, QString())) {
            stations.append(*station);
        }
    }
    store_->endArray();
    return stations;
}

void Settings::setStationList(const char* key, const QList<Station>& stations) {
    store_->remove(QLatin1String(key));
    store_->beginWriteArray(QLatin1String(key));
    for (qsizetype i = 0; i < stations.size() && i < kStationListLimit; ++i) {
        store_->setArrayIndex(static_cast<int>(i));
        store_->setValue(QLatin1String(kNameKey), stations[i].name);
        store_->setValue(QLatin1String(kUrlKey), stations[i].url);
    }
    store_->endArray();
    written(key);
}

QList<Station> Settings::ownStations() const {
    return stationList(kOwnStationsKey);
}

void Settings::setOwnStations(const QList<Station>& stations) {
    setStationList(kOwnStationsKey, stations);
}

QList<Station> Settings::favourites() const {
    return stationList(kFavouritesKey);
}

void Settings::setFavourites(const QList<Station>& stations) {
    setStationList(kFavouritesKey, stations);
}

QList<Station> Settings::recentStations() const {
    return stationList(kRecentKey);
}

void Settings::setRecentStations(const QList<Station>& stations) {
    setStationList(kRecentKey, stations);
}

std::optional<Station> Settings::lastStation() const {
    return readStation(*store_, QLatin1String(kLastStationKey) + QLatin1Char('/'));
}

void Settings::setLastStation(const Station& station) {
    const QString group = QLatin1String(kLastStationKey) + QLatin1Char('/');
    store_->setValue(group + kNameKey, station.name);
    store_->setValue(group + kUrlKey, station.url);
    written(kLastStationKey);
}

bool Settings::playLastStationAtStart() const {
    return store_->value(QLatin1String(kPlayLastAtStartKey)).toString() == QLatin1String("true");
}

void Settings::setPlayLastStationAtStart(bool play) {
    write(kPlayLastAtStartKey, play);
}

QString Settings::weatherAirport() const {
    const QString code = store_->value(QLatin1String(kWeatherAirportKey)).toString();
    return weather::isIcaoCode(code.toStdString()) ? code : QLatin1String(kDefaultWeatherAirport);
}

void Settings::setWeatherAirport(const QString& code) {
    write(kWeatherAirportKey, code);
}

QString Settings::catalogueUrl() const {
    const QString url = store_->value(QLatin1String(kCatalogueUrlKey)).toString().trimmed();
    const bool web = url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                     url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    return web ? url : QString();
}

void Settings::setCatalogueUrl(const QString& url) {
    write(kCatalogueUrlKey, url.trimmed());
}

int Settings::historyMinutes() const {
    bool ok = false;
    const int minutes = store_->value(QLatin1String(kHistoryMinutesKey)).toInt(&ok);
    return ok && minutes >= kMinHistoryMinutes && minutes <= kMaxHistoryMinutes
               ? minutes
               : kDefaultHistoryMinutes;
}

void Settings::setHistoryMinutes(int minutes) {
    write(kHistoryMinutesKey, std::clamp(minutes, kMinHistoryMinutes, kMaxHistoryMinutes));
}

bool Settings::reconnectWhenDropped() const {
    return store_->value(QLatin1String(kReconnectKey)).toString() != QLatin1String("false");
}

void Settings::setReconnectWhenDropped(bool on) {
    write(kReconnectKey, on);
}

bool Settings::liveEdge() const {
    return store_->value(QLatin1String(kLiveEdgeKey)).toString() != QLatin1String("false");
}

void Settings::setLiveEdge(bool on) {
    write(kLiveEdgeKey, on);
}

bool Settings::keepPlayingWhenClosed() const {
    return store_->value(QLatin1String(kKeepPlayingWhenClosedKey)).toString() ==
           QLatin1String("true");
}

void Settings::setKeepPlayingWhenClosed(bool on) {
    write(kKeepPlayingWhenClosedKey, on);
}

bool Settings::notifies(const char* key) const {
    return store_->value(QLatin1String(key)).toString() != QLatin1String("false");
}

void Settings::setNotifies(const char* key, bool on) {
    write(key, on);
}

QByteArray Settings::windowGeometry() const {
    return store_->value(QLatin1String(kWindowGeometryKey)).toByteArray();
}

void Settings::setWindowGeometry(const QByteArray& geometry) {
    write(kWindowGeometryKey, geometry);
}

// ---- The monitor

QList<Station> Settings::monitorFeeds() const {
    return stationList(kMonitorFeedsKey);
}

void Settings::setMonitorFeeds(const QList<Station>& stations) {
    setStationList(kMonitorFeedsKey, stations);
}

QList<double> Settings::numberList(const char* key) const {
    QList<double> numbers;
    const QStringList texts = store_->value(QLatin1String(key)).toStringList();
    for (qsizetype i = 0; i < texts.size() && i < kStationListLimit; ++i) {
        bool ok = false;
        const double number = texts[i].toDouble(&ok);
        numbers.append(ok && std::isfinite(number) ? number : std::nan(""));
    }
    return numbers;
}

void Settings::setNumberList(const char* key, const QList<double>& numbers) {
    QStringList texts;
    for (const double number : numbers) {
        texts.append(QString::number(number));
    }
    write(key, texts);
}

QList<double> Settings::monitorVolumes() const {
    return numberList(kMonitorVolumesKey);
}

void Settings::setMonitorVolumes(const QList<double>& volumes) {
    setNumberList(kMonitorVolumesKey, volumes);
}

QList<double> Settings::monitorPans() const {
    return numberList(kMonitorPansKey);
}

void Settings::setMonitorPans(const QList<double>& pans) {
    setNumberList(kMonitorPansKey, pans);
}

QList<bool> Settings::monitorPriorities() const {
    QList<bool> priorities;
    for (const double number : numberList(kMonitorPrioritiesKey)) {
        priorities.append(number == 1);
    }
    return priorities;
}

void Settings::setMonitorPriorities(const QList<bool>& priorities) {
    QList<double> numbers;
    for (const bool priority : priorities) {
        numbers.append(priority ? 1 : 0);
    }
    setNumberList(kMonitorPrioritiesKey, numbers);
}

}  // namespace orvento
