#include "controller/PlaybackController.h"

#include <algorithm>
#include <utility>

#include "controller/MainThread.h"
#include "controller/StationNames.h"
#include "controller/StatusTexts.h"
#include "engine/UrlEscaping.h"

namespace orvento {

// One player's failure alerts: passed on, unless the player belongs to a
// station that has played and will be brought back (see the header comment).
// Its worker shows the alert; the notifying thread marks what was heard.
class PlaybackController::AttemptAlerts : public AlertService {
  public:
    AttemptAlerts(std::shared_ptr<AlertService> shown,
                  std::shared_ptr<const std::atomic<bool>> reconnectOn, bool retry)
        : shown_(std::move(shown)), reconnectOn_(std::move(reconnectOn)), heard_(retry) {}

    void markHeard() { heard_.store(true); }

    void showAlert(const std::string& title, const std::string& message,
                   const std::string& button) override {
        if (!(heard_.load() && reconnectOn_->load())) {
            shown_->showAlert(title, message, button);
        }
    }

  private:
    const std::shared_ptr<AlertService> shown_;
    const std::shared_ptr<const std::atomic<bool>> reconnectOn_;
    std::atomic<bool> heard_;  // the station played audio (this or an earlier player)
};

PlaybackController::PlaybackController(PelorinServices engine, LogSink log, QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      log_(std::move(log)),
      replay_(new StationReplay(this)) {
    reconnectTimer_.setSingleShot(true);
    connect(&reconnectTimer_, &QTimer::timeout, this, &PlaybackController::reconnectTimerFired);
    watchTimer_.setInterval(kWatchInterval);
    connect(&watchTimer_, &QTimer::timeout, this, &PlaybackController::watchPlayer);
}

PelorinServices PlaybackController::servicesForNextPlayer() {
    PelorinServices services = engine_;
    if (platformSource_) {
        if (std::shared_ptr<EnginePlatform> platform = platformSource_()) {
            services.platform = std::move(platform);
        }
    }
    services.tap = replay_->tapForPlayer();
    if (liveEdge_ && !services.liveEdgeSeconds) {
        services.liveEdgeSeconds = kDefaultLiveEdgeSeconds;
    }
    return services;
}

PlaybackController::~PlaybackController() {
    std::shared_ptr<Pelorin> player;
    {
        // No notification starts any more; wait for those under way, which
        // may still post to this object.
        std::unique_lock lock(streamerMutex_);
        closing_ = true;
        notificationsDone_.wait(lock, [this] { return notificationsRunning_ == 0; });
        player = std::move(streamer);
    }
    if (player) {
        player->removeObserver(this, kIsPlayingKeyPath);
        player->removeObserver(this, kHasEndedKeyPath);
        player->stop();
    }
}

void PlaybackController::log(const QString& text) const {
    writeLogLine(log_, text.toStdString());
}

// ---- What a press plays

void PlaybackController::chooseStation(const Station& station) {
    if (selected_ != station) {
        selected_ = station;
        emit selectedStationChanged();
    }
}

void PlaybackController::setAddressText(const QString& text) {
    if (text != selected_.url) {
        chooseStation(Station{{}, text});
    }
}

bool PlaybackController::canPlay() const {
    return playState_ != PlayState::Idle || !selected_.url.trimmed().isEmpty();
}

Station PlaybackController::stationOn() const {
    return playState_ == PlayState::Idle ? Station{} : attempt_.station;
}

double PlaybackController::listenedToStationOn() const {
    return playState_ == PlayState::Idle ? 0 : _ticks - attempt_.listenedAtStart;
}

void PlaybackController::setStatusText(const QString& text) {
    news_ = text;
    newsShownAt_ = newsClock_();
    showLine(text);
}

void PlaybackController::showStatus(const QString& text) {
    if (!news_.isEmpty() && newsClock_() - newsShownAt_ < kNewsHold) {
        showLine(besideNewsText(news_, text));
        return;
    }
    news_.clear();
    showLine(text);
}

void PlaybackController::showLine(const QString& text) {
    if (statusText_ != text) {
        statusText_ = text;
        emit statusTextChanged(text);
    }
}

void PlaybackController::setPlayState(PlayState state) {
    if (playState_ != state) {
        playState_ = state;
        emit playStateChanged(state);
    }
}

// ---- The press

void PlaybackController::stopToSwitch() {
    if (playState_ != PlayState::Idle) {
        nextPressSwitches_ = true;
        press();
    }
}

void PlaybackController::press() {
    news_.clear();  // read: the user acts on
    switching_ = std::exchange(nextPressSwitches_, false);
    const QString text = selected_.url;
    log(QStringLiteral("txt:") + logField(withoutPassword(text)));

    std::shared_ptr<Pelorin> current;
    {
        std::lock_guard lock(streamerMutex_);
        current = streamer;
    }
    if (!current && reconnecting()) {
        // Between two attempts: nothing to wait for.
        reconnectTimer_.stop();
        attempt_.stopRequested = true;
        emit stopRequested();
        showStatus(endingText(PlayerEnding{attempt_.station.url, true, true, true, {}}));
        setPlayState(PlayState::Idle);
        endReconnecting();
        return;
    }
    if (current) {
        // The state changes only when the player reports that it stopped.
        attempt_.stopRequested = true;
        emit stopRequested();
        setPlayState(PlayState::Stopping);
        current->stop();
        return;
    }
    if (text.size() > kAddressLengthLimit) {
        showStatus(addressTooLongText(kAddressLengthLimit));
        return;
    }

    attempt_ = Attempt{attempt_.generation, selected_, true, false, false, _ticks, {}, {}, false};
    startPlayer();
    showStatus(connectingText());
    setPlayState(PlayState::Loading);
}

void PlaybackController::startPlayer() {
    CFURLRef url = Url::fromString(percentEscapeUrlText(attempt_.station.url.toStdString()));
    ++attempt_.generation;
    attempt_.hadUrl = url != nullptr;
    attempt_.heard = false;
    attempt_.stopRequested = false;
    attempt_.givenUp.clear();
    attempt_.starved = false;
    attempt_.startedAt = std::chrono::steady_clock::now();
    watchTimer_.start();
    replay_->setFeedName(stationTitle(attempt_.station.name, attempt_.station.url));
    PelorinServices services = servicesForNextPlayer();
    auto alerts = std::make_shared<AttemptAlerts>(
        services.alerts ? services.alerts : std::make_shared<StandardErrorAlertService>(),
        reconnectOn_, reconnecting());
    services.alerts = alerts;
    std::shared_ptr<Pelorin> player = Pelorin::initWithURL(std::move(url), std::move(services));
    {
        std::lock_guard lock(streamerMutex_);
        streamer = player;
        streamerAlerts_ = std::move(alerts);
        streamerGeneration_ = attempt_.generation;
    }
    // Observed before it starts, so that no notification is missed.
    player->addObserver(this, kIsPlayingKeyPath);
    player->addObserver(this, kHasEndedKeyPath);
    player->start();
    emit attemptStarted();
}

// ---- Coming back after a drop

void PlaybackController::setLiveEdge(bool on) {
    liveEdge_ = on;
}

void PlaybackController::setReconnectWhenDropped(bool on) {
    reconnectOn_->store(on);
}

void PlaybackController::reconnectAfter(const std::string& cause) {
    const bool first = !reconnecting();
    ++reconnectAttempt_;
    dropCause_ = cause;
    const std::chrono::milliseconds wait = backoff_.wait(reconnectAttempt_);
    log(QStringLiteral("reconnect;%1;%2").arg(reconnectAttempt_).arg(wait.count()));
    showStatus(reconnectingText(wait, reconnectAttempt_, cause));
    if (first) {
        emit reconnectingChanged(true);
    }
    reconnectAt_ = std::chrono::steady_clock::now() + wait;
    reconnectTimer_.start(
        std::clamp(wait, std::chrono::milliseconds(0), std::chrono::milliseconds(1000)));
}

void PlaybackController::reconnectTimerFired() {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        reconnectAt_ - std::chrono::steady_clock::now());
    if (left.count() > 0) {
        // The countdown in the status line, a second at a time.
        showStatus(reconnectingText(left, reconnectAttempt_, dropCause_));
        reconnectTimer_.start(std::min(left, std::chrono::milliseconds(1000)));
        return;
    }
    startNextAttempt();
}

void PlaybackController::retryNow() {
    if (reconnectTimer_.isActive()) {
        reconnectTimer_.stop();
        startNextAttempt();
    }
}

void PlaybackController::startNextAttempt() {
    showStatus(reconnectingText(std::chrono::milliseconds(0), reconnectAttempt_, dropCause_));
    startPlayer();
}

// ---- Honest about silence

void PlaybackController::watchPlayer() {
    std::shared_ptr<Pelorin> player;
    std::shared_ptr<AttemptAlerts> alerts;
    {
        std::lock_guard lock(streamerMutex_);
        player = streamer;
        alerts = streamerAlerts_;
    }
    if (!player) {
        watchTimer_.stop();
        return;
    }
    if (attempt_.stopRequested || !attempt_.givenUp.empty()) {
        return;
    }
    using Seconds = std::chrono::duration<double>;
    if (!attempt_.heard) {
        const Seconds waited = std::chrono::steady_clock::now() - attempt_.startedAt;
        if (waited >= silence_.connect) {
            giveUp(*player, *alerts,
                   tooLittleAudioCause(player->bytesReceived(), silence_.connect).toStdString());
        }
        return;
    }
    const Seconds starved(player->outputStarvedSeconds());
    if (starved >= silence_.drop) {
        giveUp(*player, *alerts, noAudioCause(silence_.drop).toStdString());
    } else if (starved >= silence_.notice) {
        // The listening time stops; a playing report or the audio's return starts it again.
        stopTickTimer();
        attempt_.starved = true;
        showStatus(waitingForAudioText(std::chrono::duration_cast<std::chrono::seconds>(starved)));
    } else if (attempt_.starved) {
        attempt_.starved = false;
        startTickTimer();
        showStatus(playingText());
    } else if (!reconnecting()) {
        showLiveLag(*player);
    }
}

void PlaybackController::showLiveLag(const Pelorin& player) {
    const std::optional<double> lag = player.behindLiveSeconds();
    // News (a file saved, why a save failed) stays until the station's own
    // state changes: the lag, said again at every look, does not replace it.
    if (!lag || playState_ != PlayState::Playing || (!news_.isEmpty() && statusText_ == news_)) {
        return;
    }
    // A second past the target before it is worth a word: the lag wavers
    // by a delivery's length around it.
    const double target = engine_.liveEdgeSeconds.value_or(kDefaultLiveEdgeSeconds);
    showStatus(*lag >= target + 1.0 ? behindLiveText(*lag) : liveText());
}

void PlaybackController::giveUp(Pelorin& player, AlertService& alerts, std::string cause) {
    log(QStringLiteral("no audio;") + logField(QString::fromStdString(cause)));
    attempt_.givenUp = std::move(cause);
    // As the player's own failures do; not shown for a station being brought
    // back. Before the stop: a player stopped before its queue ran reports
    // playing, which is not audio heard.
    const LocalizedStrings none;
    const LocalizedStrings& strings = engine_.strings ? *engine_.strings : none;
    alerts.showAlert(strings.localizedStringForKey(kAlertTitleKey, "", kErrorsTable),
                     strings.localizedStringForKey(kAlertMessageKey, "", kErrorsTable),
                     strings.localizedStringForKey(kAlertButtonKey, "", kErrorsTable));
    player.stop();
}

void PlaybackController::endReconnecting() {
    reconnectTimer_.stop();
    if (reconnecting()) {
        reconnectAttempt_ = -1;
        emit reconnectingChanged(false);
    }
}

// ---- The player's reports

void PlaybackController::observeValueForKeyPath(std::string_view keyPath, Pelorin& object) {
    {
        std::lock_guard lock(streamerMutex_);
        if (closing_) {
            return;
        }
        ++notificationsRunning_;
    }
    if (keyPath == kHasEndedKeyPath) {
        // Only a player that never reported "not playing" is still held here.
        playerEnded(object);
    } else if (keyPath == kIsPlayingKeyPath) {
        if (object.isPlaying()) {
            playerPlays(object);
        } else {
            playerEnded(object);
        }
    }
    {
        std::lock_guard lock(streamerMutex_);
        --notificationsRunning_;
    }
    notificationsDone_.notify_all();
}

void PlaybackController::playerPlays(Pelorin& object) {
    quint64 generation = 0;
    // A player that fails before its queue ran reports playing, then not
    // playing, with its cause already known: that is no audio heard.
    const bool partOfAFailure = !object.failureReason().empty();
    {
        std::lock_guard lock(streamerMutex_);
        if (streamer.get() != &object) {
            return;
        }
        generation = streamerGeneration_;
        if (!partOfAFailure) {
            streamerAlerts_->markHeard();
        }
    }
    postToMainThread(
        this, [this, generation, partOfAFailure] { showPlaying(generation, partOfAFailure); });
    startTimer();
}

void PlaybackController::playerEnded(Pelorin& object) {
    std::shared_ptr<Pelorin> player;
    quint64 generation = 0;
    {
        std::lock_guard lock(streamerMutex_);
        if (streamer.get() != &object) {
            return;
        }
        player = std::move(streamer);
        streamerAlerts_.reset();
        generation = streamerGeneration_;
    }
    // Empty after a user's stop; otherwise why the player failed or could not start.
    std::string cause = object.failureReason();
    const bool complete = object.endedComplete();
    player->removeObserver(this, kIsPlayingKeyPath);
    player->removeObserver(this, kHasEndedKeyPath);
    // The player's worker keeps its own reference until its last step.
    player.reset();
    postToMainThread(this, [this, generation, cause = std::move(cause), complete] {
        showEnded(generation, cause, complete);
    });
    stopTimer();
}

bool PlaybackController::holds(quint64 generation) const {
    std::lock_guard lock(streamerMutex_);
    return streamer && streamerGeneration_ == generation;
}

void PlaybackController::showPlaying(quint64 generation, bool partOfAFailure) {
    emit reportedPlaying();
    // Not for a player that has ended (or been replaced) since it reported:
    // its stop came before its queue ran.
    if (generation != attempt_.generation || !holds(generation)) {
        return;
    }
    if (!partOfAFailure) {
        attempt_.heard = true;
    }
    // Pressed after the player's report was posted: a stop always takes
    // effect, and the player's end that follows says "Stopped.".
    if (attempt_.stopRequested) {
        return;
    }
    if (!partOfAFailure) {
        endReconnecting();
    }
    if (!reconnecting()) {
        showStatus(playingText());
    }
    setPlayState(PlayState::Playing);
}

void PlaybackController::showEnded(quint64 generation, const std::string& playerCause,
                                   bool complete) {
    // A press may have started the next player since.
    const bool current = generation == attempt_.generation;
    const std::string& cause =
        current && !attempt_.givenUp.empty() ? attempt_.givenUp : playerCause;
    const bool dropped = current && (attempt_.heard || reconnecting()) && attempt_.hadUrl &&
                         !attempt_.stopRequested && !complete && reconnectOn_->load();
    if (dropped) {
        // Known before the end is reported, so the screen keeps the stop
        // image; the next player starts after this report.
        failureCause_ = QString::fromStdString(cause);
        reconnectAfter(cause);
        emit reportedEnded();
        return;
    }
    emit reportedEnded();
    if (!current) {
        return;
    }
    endReconnecting();
    failureCause_ = QString::fromStdString(cause);
    showStatus(endingText(PlayerEnding{attempt_.station.url, attempt_.hadUrl, attempt_.heard,
                                       attempt_.stopRequested, cause}));
    setPlayState(PlayState::Idle);
}

// ---- Listening time

void PlaybackController::startTimer() {
    postToMainThread(this, [this] { startTickTimer(); });
}

void PlaybackController::stopTimer() {
    postToMainThread(this, [this] { stopTickTimer(); });
}

void PlaybackController::startTickTimer() {
    if (_timer) {
        return;
    }
    ticksCountedUntil_ = std::chrono::steady_clock::now();
    _timer = std::make_unique<QTimer>();
    _timer->setInterval(kTickInterval);
    connect(_timer.get(), &QTimer::timeout, this, &PlaybackController::timerTick);
    _timer->start();
}

void PlaybackController::stopTickTimer() {
    if (!_timer) {
        return;
    }
    _timer.reset();
    addListeningTime();
}

void PlaybackController::timerTick() {
    addListeningTime();
}

void PlaybackController::addListeningTime() {
    // Real time on a monotonic clock: a busy main thread delays the display,
    // never the count.
    const auto now = std::chrono::steady_clock::now();
    _ticks += std::chrono::duration<double>(now - ticksCountedUntil_).count();
    ticksCountedUntil_ = now;
    emit listeningTimeChanged(_ticks);
}

}  // namespace orvento
