// NoticeRules: when the desktop is told what happened while the listener
// looks elsewhere. It watches the window's station and the monitor's feeds
// and says notice() for:
//
//   stationBack           a station that dropped and came back after more than
//                         kLongDrop without audio
//   stationGivenUp        a station that ended without the user's stop (a
//                         failure, or reconnecting turned off)
//   priorityTransmission  a priority feed of the monitor starting a
//                         transmission while the window is hidden
//   recordingStopped      a recording that stopped by itself (a full disk)
//
// None while the window is active, none of a kind turned off in the Settings
// (its kNotify...Key), and at most one per kRateLimit for each kind and
// station: the ones in between are dropped. Texts are plain.
//
// The window's state and the time come from the functions given (tests set
// them). Main thread only.
#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace orvento {

class MonitorController;
class PlaybackController;
class Settings;

class NoticeRules : public QObject {
    Q_OBJECT

  public:
    enum class Kind { stationBack, stationGivenUp, priorityTransmission, recordingStopped };
    Q_ENUM(Kind)
    struct Notice {
        Kind kind;
        QString station;  // its name, or its address without a password
        QString summary;
        QString body;
    };
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds kLongDrop{30};
    static constexpr std::chrono::minutes kRateLimit{1};

    NoticeRules(PlaybackController& station, MonitorController* monitor, Settings& settings,
                QObject* parent = nullptr);
    ~NoticeRules() override;

    // Whether the window is active (no notice at all), and hidden.
    void setWindowState(std::function<bool()> active, std::function<bool()> hidden);
    void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }
    // The settings key of a kind.
    static const char* settingsKey(Kind kind);

  signals:
    void notice(const orvento::NoticeRules::Notice& notice);

  private:
    struct Watched {
        QString station;  // of the last attempt started
        bool userStopped = false;
        bool dropped = false;
        Clock::time_point droppedAt{};
    };

    void watch(PlaybackController* player);
    void watchFeeds();
    void readKeyed();
    void tell(Kind kind, const QString& station, const QString& summary, const QString& body);

    PlaybackController& station_;
    MonitorController* const monitor_;
    Settings& settings_;
    std::function<bool()> windowActive_ = [] { return false; };
    std::function<bool()> windowHidden_ = [] { return false; };
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    QHash<const PlaybackController*, Watched> watched_;
    QSet<QString> keyed_;  // priority feeds transmitting at the last look, by URL
    QHash<QString, Clock::time_point> lastSent_;  // by kind and station
};

}  // namespace orvento
