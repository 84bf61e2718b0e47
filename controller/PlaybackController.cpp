#include "controller/PlaybackController.h"

#include "controller/MainThread.h"
#include "controller/StatusTexts.h"
#include "engine/UrlEscaping.h"

namespace orvento {

PlaybackController::PlaybackController(PelorinServices engine, LogSink log, QObject* parent)
    : QObject(parent), engine_(std::move(engine)), log_(std::move(log)) {}

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

void PlaybackController::press() {
    const QString text = selected_.url;
    log(QStringLiteral("txt:") + logField(withoutPassword(text)));

    std::shared_ptr<Pelorin> current;
    {
        std::lock_guard lock(streamerMutex_);
        current = streamer;
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
        setStatusText(addressTooLongText(kAddressLengthLimit));
        return;
    }

    CFURLRef url = Url::fromString(percentEscapeUrlText(text.toStdString()));
    attempt_ = Attempt{attempt_.generation + 1, selected_, url != nullptr, false, false, _ticks};
    std::shared_ptr<Pelorin> player = Pelorin::initWithURL(std::move(url), servicesForPlayer());
    {
        std::lock_guard lock(streamerMutex_);
        streamer = player;
        streamerGeneration_ = attempt_.generation;
    }
    // Observed before it starts, so that no notification is missed.
    player->addObserver(this, kIsPlayingKeyPath);
    player->addObserver(this, kHasEndedKeyPath);
    player->start();
    emit attemptStarted();
    setStatusText(connectingText());
    setPlayState(PlayState::Loading);
}

PelorinServices PlaybackController::servicesForPlayer() const {
    PelorinServices services = engine_;
    if (platformSource_) {
        if (std::shared_ptr<EnginePlatform> platform = platformSource_()) {
            services.platform = std::move(platform);
        }
    }
    return services;
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
    {
        std::lock_guard lock(streamerMutex_);
        if (streamer.get() != &object) {
            return;
        }
        generation = streamerGeneration_;
    }
    // A player that fails before its queue ran reports playing, then not
    // playing, with its cause already known: that is no audio heard.
    const bool partOfAFailure = !object.failureReason().empty();
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
        generation = streamerGeneration_;
    }
    // Empty after a user's stop; otherwise why the player failed or could not start.
    std::string cause = object.failureReason();
    player->removeObserver(this, kIsPlayingKeyPath);
    player->removeObserver(this, kHasEndedKeyPath);
    // The player's worker keeps its own reference until its last step.
    player.reset();
    postToMainThread(
        this, [this, generation, cause = std::move(cause)] { showEnded(generation, cause); });
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
        // It plays on after a stop it was asked for: that stop did nothing.
        attempt_.stopRequested = false;
    }
    setStatusText(playingText());
    setPlayState(PlayState::Playing);
}

void PlaybackController::showEnded(quint64 generation, const std::string& cause) {
    emit reportedEnded();
    // A press may have started the next player since.
    if (generation != attempt_.generation) {
        return;
    }
    failureCause_ = QString::fromStdString(cause);
    setStatusText(endingText(PlayerEnding{attempt_.station.url, attempt_.hadUrl, attempt_.heard,
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
