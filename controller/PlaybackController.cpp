#include "controller/PlaybackController.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "controller/MainThread.h"
#include "controller/StationNames.h"
#include "controller/StatusTexts.h"
#include "engine/net/UrlEscaping.h"
#include "engine/session/PelorinPlayer.h"

namespace orvento {

namespace {

StationSession::Options sessionOptions(const PelorinServices& engine) {
    StationSession::Options options;
    options.alerts = engine.alerts;
    options.strings = engine.strings;
    return options;
}

}  // namespace

PlaybackController::PlaybackController(PelorinServices engine, LogSink log, QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      log_(std::move(log)),
      replay_(new StationReplay(this)),
      session_(std::make_unique<StationSession>(static_cast<StationSession::Listener&>(*this),
                                                sessionOptions(engine_))) {
    sessionTimer_.setSingleShot(true);
    // A coarse timer may come a little early, find nothing due, and be set
    // again for the few milliseconds left: two wakes for one look.
    sessionTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sessionTimer_, &QTimer::timeout, this, &PlaybackController::updateSession);
}

PelorinServices PlaybackController::servicesForNextPlayer() {
    PelorinServices services = engine_;
    if (platformSource_) {
        if (std::shared_ptr<EngineServices> platform = platformSource_()) {
            services.platform = std::move(platform);
        }
    }
    services.tap = replay_->tapForPlayer();
    services.resume = resume_;
    if (liveEdge_ && !services.liveEdgeSeconds && !services.catchUp) {
        // Close to live without losing a word, at a target that follows the
        // network; a station's next connection starts from what the last one
        // learned of it.
        auto stage = std::make_shared<CatchUpStage>(std::nullopt);
        if (catchUp_) {
            stage->carryTargetFrom(*catchUp_);
        }
        catchUp_ = stage;
        services.catchUp = std::move(stage);
        // A press starts at the live edge: what was said before it is not
        // owed to the listener.
        services.liveEdgeSeconds = kDefaultLiveEdgeSeconds;
    }
    return services;
}

PlaybackController::~PlaybackController() {
    // Reports under way finish; a player still held is stopped.
    session_.reset();
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

    if (session_->hasSomethingToStop()) {
        // The state changes when the player reports that it stopped, or at
        // once between two attempts.
        emit stopRequested();
        if (!session_->waiting()) {
            setPlayState(PlayState::Stopping);
        }
        session_->stop();
        armSessionTimer();
        return;
    }
    if (text.size() > kAddressLengthLimit) {
        showStatus(addressTooLongText(kAddressLengthLimit));
        return;
    }

    attempt_ = Attempt{selected_, true, _ticks};
    // A press starts afresh: perhaps another station, another network.
    catchUp_.reset();
    resume_ = replay_->newResumeTrail();
    session_->start(std::chrono::steady_clock::now());
    armSessionTimer();
    showStatus(connectingText());
    setPlayState(PlayState::Loading);
}

std::shared_ptr<SessionPlayer> PlaybackController::createPlayer(
    std::shared_ptr<AlertService> alerts) {
    std::optional<Url> url = Url::parse(percentEscapeUrlText(attempt_.station.url.toStdString()));
    attempt_.hadUrl = url.has_value();
    replay_->setFeedName(stationTitle(attempt_.station.name, attempt_.station.url));
    PelorinServices services = servicesForNextPlayer();
    services.alerts = std::move(alerts);
    return std::make_shared<PelorinPlayer>(
        Pelorin::initWithURL(std::move(url), std::move(services)));
}

// ---- The session, driven from the main thread

void PlaybackController::sessionHasNews() {
    postToMainThread(this, [this] { updateSession(); });
}

void PlaybackController::updateSession() {
    session_->update(std::chrono::steady_clock::now());
    armSessionTimer();
}

void PlaybackController::armSessionTimer() {
    const std::optional<StationSession::TimePoint> next = session_->nextDeadline();
    if (!next) {
        sessionTimer_.stop();
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now());
    sessionTimer_.start(std::max(wait, std::chrono::milliseconds(0)));
}

void PlaybackController::retryNow() {
    session_->retryNow(std::chrono::steady_clock::now());
    armSessionTimer();
}

void PlaybackController::setLiveEdge(bool on) {
    liveEdge_ = on;
}

void PlaybackController::setReconnectWhenDropped(bool on) {
    session_->setReconnect(on);
}

// ---- What the session tells

void PlaybackController::playing() {
    showStatus(playingText());
    setPlayState(PlayState::Playing);
}

void PlaybackController::audioFlowing(bool flowing) {
    if (flowing) {
        startTickTimer();
    } else {
        stopTickTimer();
    }
}

void PlaybackController::reconnectionStep(const StationSession::Countdown& countdown) {
    if (countdown.step == StationSession::Countdown::Step::Dropped) {
        failureCause_ = QString::fromStdString(countdown.cause);
        log(QStringLiteral("reconnect;%1;%2").arg(countdown.attempt).arg(countdown.wait.count()));
    }
    showStatus(reconnectingText(countdown.wait, countdown.attempt, countdown.cause));
}

void PlaybackController::ended(const StationSession::Ending& ending) {
    failureCause_ = QString::fromStdString(ending.cause);
    showStatus(endingText(PlayerEnding{attempt_.station.url, attempt_.hadUrl, ending.heard,
                                       ending.stopped, ending.cause}));
    setPlayState(PlayState::Idle);
}

void PlaybackController::starved(std::chrono::seconds starved) {
    // The listening time stops; a playing report or the audio's return starts it again.
    showStatus(waitingForAudioText(starved));
}

void PlaybackController::givingUp(const std::string& cause) {
    log(QStringLiteral("no audio;") + logField(QString::fromStdString(cause)));
}

std::string PlaybackController::silenceCause(const StationSession::Silence& silence) {
    return (silence.kind == StationSession::Silence::Kind::TooLittle
                ? tooLittleAudioCause(silence.bytes, silence.limit)
                : noAudioCause(silence.limit))
        .toStdString();
}

void PlaybackController::looked(SessionPlayer& player) {
    const std::optional<std::chrono::duration<double>> lag = player.behindLive();
    // News (a file saved, why a save failed) stays until the station's own
    // state changes: the lag, said again at every look, does not replace it.
    if (!lag || playState_ != PlayState::Playing || (!news_.isEmpty() && statusText_ == news_)) {
        return;
    }
    // A second past the target before it is worth a word: the lag wavers
    // by a delivery's length around it.
    const double target = engine_.liveEdgeSeconds.value_or(kDefaultLiveEdgeSeconds);
    const double behind = lag->count();
    showStatus(behind >= target + 1.0 ? behindLiveText(behind) : liveText());
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
    // Precise: a coarse timer may come early, before the shown time changes.
    _timer->setSingleShot(true);
    _timer->setTimerType(Qt::PreciseTimer);
    connect(_timer.get(), &QTimer::timeout, this, &PlaybackController::timerTick);
    armTick();
}

void PlaybackController::armTick() {
    // The shown time is the count to the nearest second: it changes once the
    // count passes the next half second. The tick comes on the tick grid as
    // before, but not at the nine ticks a second that would show nothing new.
    const double tick = std::chrono::duration<double>(kTickInterval).count();
    const double next = std::floor(_ticks + 0.5) + 0.5;
    const double ticks = std::max(1.0, std::ceil((next - _ticks) / tick));
    _timer->start(kTickInterval * static_cast<int>(ticks));
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
    if (_timer) {
        armTick();
    }
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
