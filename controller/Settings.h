// Settings: the user's choices that outlast a run, kept with QSettings.
//
// A thin typed wrapper: one key constant and one getter/setter pair per
// setting. A value that is missing, of the wrong type or out of range reads as
// the setting's default, so a hand-edited or older file never breaks a start.
// Every change is written to the file at once (a crash loses nothing) and
// announced with changed(key), so every part of the window that shows a
// setting follows it. New settings are added the same way: a key constant, a
// getter with its default, a setter that writes and announces.
//
// Where: the user's settings live in the desktop's usual place,
// $XDG_CONFIG_HOME/orvento/orvento.conf (~/.config/orvento/orvento.conf);
// Settings(path) keeps them in an INI file of the caller's choice (tests);
// temporary() in a private folder that goes with the object (a run that must
// not touch the user's).
//
// Main thread only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "controller/StationCatalogue.h"

namespace orvento {

class Settings : public QObject {
    Q_OBJECT

  public:
    // Stations starred by the user, in the order starred.
    static constexpr const char* kFavouritesKey = "stations/favourites";
    // The user's own stations (a name and an address each), in the order added.
    static constexpr const char* kOwnStationsKey = "stations/own";
    // Stations played, the latest first.
    static constexpr const char* kRecentKey = "stations/recent";
    // The station played last, selected at start.
    static constexpr const char* kLastStationKey = "stations/last";
    // Whether the start also plays that station.
    static constexpr const char* kPlayLastAtStartKey = "stations/playLastAtStart";
    // The airport whose weather the window shows: a four-letter ICAO code.
    static constexpr const char* kWeatherAirportKey = "weather/airport";
    static constexpr const char* kDefaultWeatherAirport = "LTBA";
    // The "Station catalogue address": a catalogue server's base URL (http
    // or https); none: no catalogue (ORVENTO_CATALOGUE_URL comes first).
    static constexpr const char* kCatalogueUrlKey = "stations/catalogueUrl";
    // Minutes of what the station said that are kept for replay and saving.
    static constexpr const char* kHistoryMinutesKey = "history/minutes";
    static constexpr int kDefaultHistoryMinutes = 30;
    static constexpr int kMinHistoryMinutes = 5;
    static constexpr int kMaxHistoryMinutes = 120;

    // Whether a station that drops after it played is brought back by itself.
    static constexpr const char* kReconnectKey = "playback/reconnectWhenDropped";
    // Whether a station plays close to live (true, the default) or from the
    // backlog its server sends on connecting.
    static constexpr const char* kLiveEdgeKey = "playback/liveEdge";

    // Whether closing the window leaves the station playing, the window
    // hidden in the tray (off: closing ends the application).
    static constexpr const char* kKeepPlayingWhenClosedKey = "window/keepPlayingWhenClosed";
    // Which desktop notifications are sent, one key per kind (NoticeRules.h);
    // each on unless the file says "false".
    static constexpr const char* kNotifyStationBackKey = "notifications/stationBack";
    static constexpr const char* kNotifyStationGivenUpKey = "notifications/stationGivenUp";
    static constexpr const char* kNotifyPriorityTransmissionKey =
        "notifications/priorityTransmission";
    static constexpr const char* kNotifyRecordingStoppedKey = "notifications/recordingStopped";

    // The monitor's feeds, in the order shown; and for each, in the same
    // order, its volume (dB), its pan (-1 left to 1 right) and whether it
    // has priority.
    static constexpr const char* kMonitorFeedsKey = "monitor/feeds";
    static constexpr const char* kMonitorVolumesKey = "monitor/volumes";
    static constexpr const char* kMonitorPansKey = "monitor/pans";
    static constexpr const char* kMonitorPrioritiesKey = "monitor/priorities";
    // The window's size and place on the desktop, as QWidget::saveGeometry
    // writes them; the window starts as it was closed.
    static constexpr const char* kWindowGeometryKey = "window/geometry";
    // The most stations a list setting keeps.
    static constexpr qsizetype kStationListLimit = 1000;

    // The user's settings, in the usual place.
    explicit Settings(QObject* parent = nullptr);
    // Settings in the INI file `path`.
    explicit Settings(const QString& path, QObject* parent = nullptr);
    // Settings for this run only, in a temporary folder.
    static std::unique_ptr<Settings> temporary();
    ~Settings() override;

    // The file the settings are kept in.
    QString fileName() const { return store_->fileName(); }

    QList<Station> favourites() const;
    void setFavourites(const QList<Station>& stations);
    QList<Station> ownStations() const;
    void setOwnStations(const QList<Station>& stations);
    QList<Station> recentStations() const;
    void setRecentStations(const QList<Station>& stations);
    std::optional<Station> lastStation() const;
    void setLastStation(const Station& station);
    bool playLastStationAtStart() const;
    void setPlayLastStationAtStart(bool play);
    // Always a valid code: the default when the file holds none.
    QString weatherAirport() const;
    void setWeatherAirport(const QString& code);
    QString catalogueUrl() const;
    void setCatalogueUrl(const QString& url);
    // Within kMinHistoryMinutes..kMaxHistoryMinutes; the setter clamps.
    int historyMinutes() const;
    void setHistoryMinutes(int minutes);
    // On unless the file says "false".
    bool reconnectWhenDropped() const;
    void setReconnectWhenDropped(bool on);
    bool liveEdge() const;
    void setLiveEdge(bool on);
    // Off unless the file says "true".
    bool keepPlayingWhenClosed() const;
    void setKeepPlayingWhenClosed(bool on);
    // `key`: one of the kNotify...Key constants.
    bool notifies(const char* key) const;
    void setNotifies(const char* key, bool on);

    // Empty when none was kept.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    QList<Station> monitorFeeds() const;
    void setMonitorFeeds(const QList<Station>& stations);
    // Numbers that cannot be read are missing (NaN): the reader's default.
    QList<double> monitorVolumes() const;
    void setMonitorVolumes(const QList<double>& volumes);
    QList<double> monitorPans() const;
    void setMonitorPans(const QList<double>& pans);
    QList<bool> monitorPriorities() const;
    void setMonitorPriorities(const QList<bool>& priorities);

  signals:
    void changed(const QString& key);

  private:
    Settings(std::unique_ptr<QTemporaryDir> folder, const QString& path);
    void write(const char* key, const QVariant& value);
    // Saves the file and announces the change of `key`.
    void written(const char* key);
    QList<Station> stationList(const char* key) const;
    void setStationList(const char* key, const QList<Station>& stations);
    QList<double> numberList(const char* key) const;
    void setNumberList(const char* key, const QList<double>& numbers);

    std::unique_ptr<QTemporaryDir> folder_;  // temporary(): removed with the object
    std::unique_ptr<QSettings> store_;
};

}  // namespace orvento
