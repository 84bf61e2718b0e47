#include "controller/MonitorController.h"

#include <algorithm>
#include <cmath>

#include "controller/MonitorModel.h"
#include "engine/mix/MixLaw.h"

namespace orvento {
namespace {

// A setting that could not be read: the control's default.
double orDefault(double number, double fallback) {
    return std::isnan(number) ? fallback : number;
}

}  // namespace

MonitorController::MonitorController(Mixer& mixer, PelorinServices engine, LogSink log,
                                     std::shared_ptr<Settings> settings, QObject* parent)
    : QObject(parent),
      mixer_(mixer),
      engine_(std::move(engine)),
      log_(std::move(log)),
      settings_(settings ? std::move(settings) : std::shared_ptr<Settings>(Settings::temporary())),
      model_(std::make_unique<MonitorModel>(*this)) {
    meters_.setInterval(kMeterInterval);
    connect(&meters_, &QTimer::timeout, this, &MonitorController::readMeters);
    // The feeds play as the window's station does: reconnecting and at the
    // live edge as the player settings say, also when they change.
    connect(settings_.get(), &Settings::changed, this, [this](const QString& key) {
        if (key == QLatin1String(Settings::kReconnectKey) ||
            key == QLatin1String(Settings::kLiveEdgeKey)) {
            for (const std::unique_ptr<Feed>& each : feeds_) {
                followPlayerSettings(*each->player);
            }
        }
    });
    restore();
}

void MonitorController::followPlayerSettings(PlaybackController& player) const {
    player.setReconnectWhenDropped(settings_->reconnectWhenDropped());
    player.setLiveEdge(settings_->liveEdge());
}

MonitorController::~MonitorController() {
    // Before the model: the players stop as their controllers go.
    feeds_.clear();
}

// ---- The feeds

bool MonitorController::canAdd(const Station& station) const {
    if (isFull() || station.url.trimmed().isEmpty()) {
        return false;
    }
    for (const std::unique_ptr<Feed>& each : feeds_) {
        if (each->player->selectedStation().url == station.url) {
            return false;
        }
    }
    return true;
}

bool MonitorController::add(const Station& station) {
    if (!canAdd(station)) {
        return false;
    }
    insertFeed(station, {});
    save();
    if (playing_) {
        feeds_.back()->player->press();
    }
    return true;
}

void MonitorController::insertFeed(const Station& station, const ChannelControls& controls) {
    auto added = std::make_unique<Feed>();
    added->channel = std::make_unique<MixerChannel>(
        mixer_, controls, engine_.platform ? engine_.platform->logSink() : LogSink{}, silenced_);
    added->channel->setFade(fade_);
    added->player = std::make_unique<PlaybackController>(engine_, log_);
    added->player->chooseStation(station);
    followPlayerSettings(*added->player);
    MixerChannel* channel = added->channel.get();
    added->player->setPlatformSource([channel] { return channel->nextPlatform(); });
    // Its replays play into a feed of their own, as the window's station's do.
    added->player->replay().setReplayOutputSource(
        [mixer = &mixer_] { return ownFeedOutput(*mixer); });
    PlaybackController* player = added->player.get();
    connect(added->player.get(), &PlaybackController::playStateChanged, this,
            [this, player](PlaybackController::PlayState state) {
                playerChanged(player);
                // A feed stopped while it connects does not go on to play:
                // the engine takes a stop before its stream is open too.
                if (state == PlaybackController::PlayState::Idle) {
                    endIfAllEnded();
                }
            });
    connect(added->player.get(), &PlaybackController::statusTextChanged, this,
            [this, player] { playerChanged(player); });
    model_->beginInsertRows({}, count(), count());
    feeds_.push_back(std::move(added));
    model_->endInsertRows();
    emit feedsChanged();
}

void MonitorController::remove(int row) {
    if (!has(row)) {
        return;
    }
    model_->beginRemoveRows({}, row, row);
    std::unique_ptr<Feed> removed = std::move(feeds_[static_cast<std::size_t>(row)]);
    feeds_.erase(feeds_.begin() + row);
    model_->endRemoveRows();
    removed.reset();
    save();
    emit feedsChanged();
    endIfAllEnded();
}

bool MonitorController::move(int from, int to) {
    if (!has(from) || !has(to)) {
        return false;
    }
    if (from == to) {
        return true;
    }
    // The model counts the destination before the move.
    model_->beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    std::unique_ptr<Feed> moved = std::move(feeds_[static_cast<std::size_t>(from)]);
    feeds_.erase(feeds_.begin() + from);
    feeds_.insert(feeds_.begin() + to, std::move(moved));
    model_->endMoveRows();
    save();
    emit feedsChanged();
    return true;
}

int MonitorController::rowOf(const PlaybackController* player) const {
    for (int row = 0; row < count(); ++row) {
        if (feeds_[static_cast<std::size_t>(row)]->player.get() == player) {
            return row;
        }
    }
    return -1;
}

// ---- The controls

void MonitorController::setGainDb(int row, double db) {
    if (has(row)) {
        feeds_[static_cast<std::size_t>(row)]->channel->setGainDb(db);
        model_->rowChanged(row, {MonitorModel::GainRole});
        save();
    }
}

void MonitorController::setPan(int row, double pan) {
    if (has(row)) {
        feeds_[static_cast<std::size_t>(row)]->channel->setPan(pan);
        model_->rowChanged(row, {MonitorModel::PanRole});
        save();
    }
}

void MonitorController::setMute(int row, bool muted) {
    if (has(row)) {
        feeds_[static_cast<std::size_t>(row)]->channel->setMute(muted);
        model_->rowChanged(row, {MonitorModel::MutedRole});
    }
}

void MonitorController::setSolo(int row, bool soloed) {
    if (has(row)) {
        feeds_[static_cast<std::size_t>(row)]->channel->setSolo(soloed);
        model_->rowChanged(row, {MonitorModel::SoloedRole});
    }
}

void MonitorController::setPriority(int row, bool priority) {
    if (has(row)) {
        feeds_[static_cast<std::size_t>(row)]->channel->setPriority(priority);
        model_->rowChanged(row, {MonitorModel::PriorityRole});
        save();
    }
}

void MonitorController::setFade(float level) {
    fade_ = level;
    for (const std::unique_ptr<Feed>& each : feeds_) {
        each->channel->setFade(level);
    }
}

// ---- Play and stop

void MonitorController::play() {
    if (feeds_.empty()) {
        return;
    }
    setPlaying(true);
    for (const std::unique_ptr<Feed>& each : feeds_) {
        if (each->player->playState() == PlaybackController::PlayState::Idle) {
            each->player->press();
        }
    }
}

void MonitorController::stop() {
    setPlaying(false);
    for (const std::unique_ptr<Feed>& each : feeds_) {
        const PlaybackController::PlayState state = each->player->playState();
        if (state == PlaybackController::PlayState::Loading ||
            state == PlaybackController::PlayState::Playing) {
            each->player->press();
        }
    }
}

void MonitorController::toggle() {
    if (playing_) {
        stop();
    } else {
        play();
    }
}

void MonitorController::setPlaying(bool playing) {
    if (playing_ == playing) {
        return;
    }
    playing_ = playing;
    if (playing) {
        meters_.start();
    } else {
        meters_.stop();
    }
    emit playingChanged(playing);
}

void MonitorController::playerChanged(const PlaybackController* player) {
    if (const int row = rowOf(player); row >= 0) {
        model_->rowChanged(row, {MonitorModel::StatusRole, MonitorModel::PlayStateRole});
    }
}

void MonitorController::endIfAllEnded() {
    for (const std::unique_ptr<Feed>& each : feeds_) {
        if (each->player->playState() != PlaybackController::PlayState::Idle) {
            return;
        }
    }
    setPlaying(false);
}

void MonitorController::readMeters() {
    for (int row = 0; row < count(); ++row) {
        Feed& each = *feeds_[static_cast<std::size_t>(row)];
        const auto level = static_cast<int>(std::lround(each.channel->levelDb()));
        const bool keyed = each.channel->transmitting();
        if (level != each.shownLevel || keyed != each.shownKeyed) {
            each.shownLevel = level;
            each.shownKeyed = keyed;
            model_->rowChanged(row, {MonitorModel::LevelRole, MonitorModel::KeyedRole});
        }
    }
    emit metersRead();
}

// ---- Kept across runs

void MonitorController::save() const {
    QList<Station> stations;
    QList<double> volumes;
    QList<double> pans;
    QList<bool> priorities;
    for (const std::unique_ptr<Feed>& each : feeds_) {
        stations.append(each->player->selectedStation());
        volumes.append(each->channel->controls().gainDb);
        pans.append(each->channel->controls().pan);
        priorities.append(each->channel->controls().priority);
    }
    settings_->setMonitorFeeds(stations);
    settings_->setMonitorVolumes(volumes);
    settings_->setMonitorPans(pans);
    settings_->setMonitorPriorities(priorities);
}

void MonitorController::restore() {
    const QList<Station> stations = settings_->monitorFeeds();
    const QList<double> volumes = settings_->monitorVolumes();
    const QList<double> pans = settings_->monitorPans();
    const QList<bool> priorities = settings_->monitorPriorities();
    for (qsizetype i = 0; i < stations.size(); ++i) {
        if (!canAdd(stations[i])) {
            continue;
        }
        ChannelControls controls;
        controls.gainDb =
            std::clamp(orDefault(volumes.value(i, 0), 0), kMinFeedGainDb, kMaxFeedGainDb);
        controls.pan = std::clamp(orDefault(pans.value(i, 0), 0), -1.0, 1.0);
        controls.priority = priorities.value(i, false);
        insertFeed(stations[i], controls);
    }
}

}  // namespace orvento
