#include "engine/session/StationSession.h"

#include <algorithm>
#include <vector>

#include "engine/player/Pelorin.h"

namespace orvento {

// One attempt's alerts: passed on, unless the station has played and will be
// brought back. Its player's worker shows them; the reporting thread marks
// what was heard.
class StationSession::Alerts : public AlertService {
  public:
    Alerts(std::shared_ptr<AlertService> shown, std::shared_ptr<const std::atomic<bool>> reconnect,
           std::shared_ptr<const std::atomic<bool>> held, bool heard)
        : shown_(std::move(shown)),
          reconnect_(std::move(reconnect)),
          held_(std::move(held)),
          heard_(heard) {}

    void markHeard() { heard_.store(true); }

    void showAlert(const std::string& title, const std::string& message,
                   const std::string& button) override {
        if (!held_->load() && !(heard_.load() && reconnect_->load())) {
            shown_->showAlert(title, message, button);
        }
    }

  private:
    const std::shared_ptr<AlertService> shown_;
    const std::shared_ptr<const std::atomic<bool>> reconnect_;
    const std::shared_ptr<const std::atomic<bool>> held_;
    std::atomic<bool> heard_;  // the station played (this or an earlier player)
};

std::string StationSession::Listener::silenceCause(const Silence& silence) {
    const std::string limit = std::to_string(silence.limit.count());
    if (silence.kind == Silence::Kind::TooLittle) {
        return "the station sent " + std::to_string(silence.bytes) + " bytes in " + limit +
               " s, too little to play";
    }
    return "the station sent no audio for " + limit + " s";
}

StationSession::StationSession(Listener& listener, Options options)
    : listener_(listener),
      options_(std::move(options)),
      reconnectOn_(std::make_shared<std::atomic<bool>>(options_.reconnect)) {
    if (!options_.alerts) {
        options_.alerts = std::make_shared<StandardErrorAlertService>();
    }
}

StationSession::~StationSession() {
    std::shared_ptr<SessionPlayer> player;
    std::shared_ptr<SessionPlayer> outgoing;
    std::deque<Report> reports;
    {
        // No report is taken any more; those under way may still call the listener.
        std::unique_lock lock(mutex_);
        closing_ = true;
        reportsDone_.wait(lock, [this] { return reportsRunning_ == 0; });
        player = std::move(held_);
        outgoing = std::move(outgoing_);
        reports.swap(reports_);
    }
    for (const std::shared_ptr<SessionPlayer>& each : {player, outgoing}) {
        if (each) {
            each->detach();
            each->stop();
        }
    }
}

void StationSession::setReconnect(bool on) {
    reconnectOn_->store(on);
}

bool StationSession::reconnect() const {
    return reconnectOn_->load();
}

StationSession::State StationSession::state() const {
    if (!active_) {
        return State::Idle;
    }
    if (waiting_) {
        return State::Waiting;
    }
    if (attempt_.stopRequested) {
        return State::Stopping;
    }
    return attempt_.heard || reconnecting() ? State::Playing : State::Connecting;
}

// ---- The owner's calls

void StationSession::start(TimePoint now) {
    if (hasSomethingToStop()) {
        return;
    }
    active_ = true;
    startAttempt(now);
}

void StationSession::startAttempt(TimePoint now) {
    ++generation_;
    attempt_ = Attempt{};
    attempt_.startedAt = now;
    nextLook_ = now + kWatchInterval;
    auto alerts =
        std::make_shared<Alerts>(options_.alerts, reconnectOn_, alertsHeld_, reconnecting());
    std::shared_ptr<SessionPlayer> player = listener_.createPlayer(alerts);
    std::shared_ptr<PlayOutGate> gate;
    {
        std::lock_guard lock(mutex_);
        held_ = player;
        heldAlerts_ = std::move(alerts);
        heldGeneration_ = generation_;
        gate = outgoingGate_;
    }
    if (gate) {
        player->playAfter(std::move(gate));
    }
    player->start(*this);
    listener_.playerStarted();
}

bool StationSession::stop() {
    if (!active_) {
        return false;
    }
    attempt_.stopRequested = true;
    std::shared_ptr<SessionPlayer> outgoing;
    {
        std::lock_guard lock(mutex_);
        outgoing = outgoing_;
    }
    if (outgoing) {
        outgoing->stop();  // its end opens the gate
    }
    if (waiting_) {
        // Between two attempts: nothing to wait for.
        waiting_ = false;
        active_ = false;
        listener_.ended(Ending{true, true, false, {}});
        endReconnecting();
        return true;
    }
    // The end comes with the player's report.
    if (std::shared_ptr<SessionPlayer> player = held()) {
        player->stop();
    }
    return true;
}

void StationSession::retryNow(TimePoint now) {
    if (waiting_) {
        waiting_ = false;
        listener_.reconnectionStep(Countdown{Countdown::Step::Starting, reconnectAttempt_,
                                             std::chrono::milliseconds(0), dropCause_});
        startAttempt(now);
    }
}

void StationSession::update(TimePoint now) {
    std::deque<Report> reports;
    {
        std::lock_guard lock(mutex_);
        reports.swap(reports_);
    }
    for (Report& report : reports) {
        take(report, now);
    }
    if (waiting_ && now >= nextTick_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(reconnectAt_ - now);
        if (left.count() > 0) {
            // The countdown, a second at a time.
            listener_.reconnectionStep(
                Countdown{Countdown::Step::Tick, reconnectAttempt_, left, dropCause_});
            nextTick_ = now + std::min(left, std::chrono::milliseconds(kCountdownStep));
        } else {
            retryNow(now);
        }
    }
    if (options_.silence && now >= nextLook_ && held()) {
        nextLook_ = now + kWatchInterval;
        watch(now);
    }
}

std::optional<StationSession::TimePoint> StationSession::nextDeadline() const {
    std::optional<TimePoint> next;
    if (waiting_) {
        next = nextTick_;
    }
    if (options_.silence && held()) {
        next = next ? std::min(*next, nextLook_) : nextLook_;
    }
    return next;
}

// ---- The players' reports

void StationSession::plays(SessionPlayer& player) {
    // A player that fails before its output ran reports playing, then not
    // playing, with its cause already known: that is no audio heard.
    const bool partOfAFailure = !player.failureReason().empty();
    {
        std::lock_guard lock(mutex_);
        if (closing_ || held_.get() != &player) {
            return;
        }
        ++reportsRunning_;
        if (!partOfAFailure) {
            heldAlerts_->markHeard();
        }
        reports_.push_back(Report{heldGeneration_, true, partOfAFailure, {}, false, {}});
    }
    listener_.sessionHasNews();
    {
        std::lock_guard lock(mutex_);
        --reportsRunning_;
    }
    reportsDone_.notify_all();
}

void StationSession::playingOut(SessionPlayer& player) {
    {
        std::lock_guard lock(mutex_);
        if (closing_ || held_.get() != &player) {
            return;
        }
        ++reportsRunning_;
        reports_.push_back(Report{heldGeneration_, false, false, {}, false, {}, true, false});
    }
    listener_.sessionHasNews();
    {
        std::lock_guard lock(mutex_);
        --reportsRunning_;
    }
    reportsDone_.notify_all();
}

void StationSession::ended(SessionPlayer& player) {
    // Empty after a stop; otherwise why the player failed or could not start.
    std::string cause = player.failureReason();
    const bool complete = player.endedComplete();
    std::shared_ptr<SessionPlayer> ending;
    {
        std::lock_guard lock(mutex_);
        if (!closing_ && outgoing_.get() == &player) {
            // Played out: the next player may sound.
            outgoingGate_->open();
            ending = std::move(outgoing_);
            reports_.push_back(Report{0, false, false, {}, false, ending, false, true});
        }
    }
    if (ending) {
        player.detach();
        listener_.sessionHasNews();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (closing_ || held_.get() != &player) {
            return;
        }
        ++reportsRunning_;
        ending = std::move(held_);
        heldAlerts_.reset();
        // Its object goes on the owner's thread.
        reports_.push_back(
            Report{heldGeneration_, false, false, std::move(cause), complete, ending});
    }
    // Nothing more of it counts.
    player.detach();
    listener_.sessionHasNews();
    {
        std::lock_guard lock(mutex_);
        --reportsRunning_;
    }
    reportsDone_.notify_all();
}

bool StationSession::hasSomethingToStop() const {
    return waiting_ || reconnecting() || held() != nullptr;
}

bool StationSession::holds(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return held_ && heldGeneration_ == generation;
}

std::shared_ptr<SessionPlayer> StationSession::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

void StationSession::take(Report& report, TimePoint now) {
    if (report.outgoing) {
        report.player.reset();
        return;
    }
    // A start may have made the next player since.
    const bool current = report.generation == generation_;
    if (report.playingOut) {
        // The drop is known at the server's close: the next attempt connects
        // while this player plays out what it held.
        if (current && holds(report.generation) && attempt_.heard && !attempt_.stopRequested &&
            attempt_.givenUp.empty() && reconnectOn_->load()) {
            letPlayOut();
            reconnectAfter({}, now);
            listener_.playerReportedEnded();
            listener_.audioFlowing(false);
        }
        return;
    }
    if (report.plays) {
        listener_.playerReportedPlaying();
        // Not for a player that has ended (or been replaced) since it
        // reported: its stop came before its output ran.
        if (current && holds(report.generation)) {
            if (!report.partOfAFailure) {
                attempt_.heard = true;
            }
            // A stop asked for after the report: the end follows.
            if (!attempt_.stopRequested) {
                if (!report.partOfAFailure) {
                    endReconnecting();
                }
                if (!reconnecting()) {
                    listener_.playing();
                }
            }
        }
        listener_.audioFlowing(true);
        return;
    }
    const std::string& cause =
        current && !attempt_.givenUp.empty() ? attempt_.givenUp : report.cause;
    const bool dropped = current && (attempt_.heard || reconnecting()) && !attempt_.stopRequested &&
                         !report.complete && reconnectOn_->load();
    if (dropped) {
        // Known before the end is passed on; the next player starts after it.
        reconnectAfter(cause, now);
        listener_.playerReportedEnded();
    } else {
        listener_.playerReportedEnded();
        if (current) {
            active_ = false;
            endReconnecting();
            listener_.ended(Ending{attempt_.heard, attempt_.stopRequested, report.complete, cause});
        }
    }
    listener_.audioFlowing(false);
    report.player.reset();
}

// ---- Coming back after a drop

void StationSession::letPlayOut() {
    std::shared_ptr<SessionPlayer> earlier;
    {
        std::lock_guard lock(mutex_);
        // One playing out at a time: one that still does is cut short.
        earlier = std::move(outgoing_);
        if (outgoingGate_) {
            outgoingGate_->open();
        }
        outgoing_ = std::move(held_);
        outgoingGate_ = std::make_shared<PlayOutGate>();
        heldAlerts_.reset();
    }
    if (earlier) {
        earlier->detach();
        earlier->stop();
    }
}

void StationSession::reconnectAfter(const std::string& cause, TimePoint now) {
    const bool first = !reconnecting();
    ++reconnectAttempt_;
    dropCause_ = cause;
    const std::chrono::milliseconds wait = options_.backoff.wait(reconnectAttempt_);
    listener_.reconnectionStep(Countdown{Countdown::Step::Dropped, reconnectAttempt_, wait, cause});
    if (first) {
        listener_.reconnectionChanged(true);
    }
    waiting_ = true;
    reconnectAt_ = now + wait;
    nextTick_ = now + std::clamp(wait, std::chrono::milliseconds(0), kCountdownStep);
}

void StationSession::endReconnecting() {
    waiting_ = false;
    if (reconnecting()) {
        reconnectAttempt_ = -1;
        listener_.reconnectionChanged(false);
    }
}

// ---- Silence

void StationSession::watch(TimePoint now) {
    if (attempt_.stopRequested || !attempt_.givenUp.empty()) {
        return;
    }
    std::shared_ptr<SessionPlayer> player = held();
    const SilenceLimits& limits = *options_.silence;
    if (!attempt_.heard) {
        if (now - attempt_.startedAt >= limits.connect) {
            giveUp(Silence{Silence::Kind::TooLittle, limits.connect, player->bytesReceived()});
        }
        return;
    }
    const std::chrono::duration<double> starved = player->outputStarved();
    if (starved >= limits.drop) {
        giveUp(Silence{Silence::Kind::NoAudio, limits.drop, player->bytesReceived()});
    } else if (starved >= limits.notice) {
        attempt_.starved = true;
        listener_.audioFlowing(false);
        listener_.starved(std::chrono::duration_cast<std::chrono::seconds>(starved));
    } else if (attempt_.starved) {
        attempt_.starved = false;
        listener_.audioFlowing(true);
        listener_.playing();
    } else if (!reconnecting()) {
        listener_.looked(*player);
    }
}

void StationSession::giveUp(const Silence& silence) {
    std::shared_ptr<SessionPlayer> player;
    std::shared_ptr<Alerts> alerts;
    {
        std::lock_guard lock(mutex_);
        player = held_;
        alerts = heldAlerts_;
    }
    attempt_.givenUp = listener_.silenceCause(silence);
    listener_.givingUp(attempt_.givenUp);
    // As the player's own failures do; not shown for a station being brought
    // back. Before the stop: a player stopped before its output ran reports
    // playing, which is not audio heard.
    const LocalizedStrings none;
    const LocalizedStrings& strings = options_.strings ? *options_.strings : none;
    alerts->showAlert(strings.localizedStringForKey(kAlertTitleKey, "", kErrorsTable),
                      strings.localizedStringForKey(kAlertMessageKey, "", kErrorsTable),
                      strings.localizedStringForKey(kAlertButtonKey, "", kErrorsTable));
    player->stop();
}

}  // namespace orvento
