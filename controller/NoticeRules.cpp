#include "controller/NoticeRules.h"

#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"
#include "controller/Settings.h"
#include "controller/StatusTexts.h"

namespace orvento {
namespace {

QString nameOf(const Station& station) {
    return station.name.isEmpty() ? withoutPassword(station.url) : station.name;
}

}  // namespace

NoticeRules::NoticeRules(PlaybackController& station, MonitorController* monitor,
                         Settings& settings, QObject* parent)
    : QObject(parent), station_(station), monitor_(monitor), settings_(settings) {
    watch(&station_);
    if (monitor_ != nullptr) {
        connect(monitor_, &MonitorController::feedsChanged, this, &NoticeRules::watchFeeds);
        watchFeeds();
        // The priority feeds are looked at as the monitor reads its lights,
        // only while it plays.
        connect(monitor_, &MonitorController::metersRead, this, &NoticeRules::readKeyed);
        connect(monitor_, &MonitorController::playingChanged, this, [this](bool playing) {
            if (!playing) {
                keyed_.clear();
            }
        });
    }
}

NoticeRules::~NoticeRules() = default;

void NoticeRules::setWindowState(std::function<bool()> active, std::function<bool()> hidden) {
    windowActive_ = std::move(active);
    windowHidden_ = std::move(hidden);
}

const char* NoticeRules::settingsKey(Kind kind) {
    switch (kind) {
        case Kind::stationBack:
            return Settings::kNotifyStationBackKey;
        case Kind::stationGivenUp:
            return Settings::kNotifyStationGivenUpKey;
        case Kind::priorityTransmission:
            return Settings::kNotifyPriorityTransmissionKey;
        case Kind::recordingStopped:
            return Settings::kNotifyRecordingStoppedKey;
    }
    return "";
}

void NoticeRules::watchFeeds() {
    for (int row = 0; row < monitor_->count(); ++row) {
        watch(&monitor_->player(row));
    }
}

void NoticeRules::watch(PlaybackController* player) {
    if (watched_.contains(player)) {
        return;
    }
    watched_.insert(player, {});
    connect(player, &QObject::destroyed, this, [this, player] { watched_.remove(player); });
    connect(player, &PlaybackController::attemptStarted, this, [this, player] {
        Watched& w = watched_[player];
        // The attempt's station, as the press took it (not yet "on").
        w.station = nameOf(player->playState() == PlaybackController::PlayState::Idle
                               ? player->selectedStation()
                               : player->stationOn());
        w.userStopped = false;
    });
    connect(player, &PlaybackController::stopRequested, this,
            [this, player] { watched_[player].userStopped = true; });
    connect(player, &PlaybackController::reconnectingChanged, this, [this, player](bool on) {
        Watched& w = watched_[player];
        if (on) {
            w.dropped = true;
            w.droppedAt = now_();
            return;
        }
        // Audio again, not a stop: the station is back.
        const bool back =
            w.dropped && player->playState() == PlaybackController::PlayState::Playing;
        w.dropped = false;
        const auto silent = std::chrono::duration_cast<std::chrono::seconds>(now_() - w.droppedAt);
        if (back && silent > kLongDrop) {
            tell(Kind::stationBack, w.station, tr("%1 is back").arg(w.station),
                 tr("The station plays again after %1 s without audio.").arg(silent.count()));
        }
    });
    connect(player, &PlaybackController::playStateChanged, this,
            [this, player](PlaybackController::PlayState state) {
                Watched& w = watched_[player];
                if (state != PlaybackController::PlayState::Idle || w.userStopped) {
                    return;
                }
                w.userStopped = true;  // said once
                tell(Kind::stationGivenUp, w.station, tr("%1 stopped").arg(w.station),
                     player->statusText());
            });
    connect(&player->replay(), &StationReplay::recordingFailed, this,
            [this, player](const QString& why) {
                const QString station = nameOf(player->selectedStation());
                tell(Kind::recordingStopped, station, tr("Recording of %1 stopped").arg(station),
                     why);
            });
}

void NoticeRules::readKeyed() {
    if (!monitor_->playing()) {
        keyed_.clear();
        return;
    }
    QSet<QString> keyed;
    for (int row = 0; row < monitor_->count(); ++row) {
        if (!monitor_->controls(row).priority || !monitor_->transmitting(row)) {
            continue;
        }
        const Station station = monitor_->station(row);
        keyed.insert(station.url);
        if (!keyed_.contains(station.url) && windowHidden_()) {
            tell(Kind::priorityTransmission, nameOf(station),
                 tr("%1 is on the air").arg(nameOf(station)),
                 tr("A priority station of the monitor started a transmission."));
        }
    }
    keyed_ = keyed;
}

void NoticeRules::tell(Kind kind, const QString& station, const QString& summary,
                       const QString& body) {
    if (windowActive_() || !settings_.notifies(settingsKey(kind))) {
        return;
    }
    const QString key = QString::number(static_cast<int>(kind)) + QLatin1Char(' ') + station;
    const Clock::time_point now = now_();
    if (const auto last = lastSent_.constFind(key);
        last != lastSent_.cend() && now - *last < kRateLimit) {
        return;
    }
    lastSent_.insert(key, now);
    emit notice({kind, station, summary, body});
}

}  // namespace orvento
