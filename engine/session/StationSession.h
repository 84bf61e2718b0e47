// StationSession: one station played for as long as the listener wants it,
// one player per attempt: it decides whether an end is a drop, an end or a
// failure, brings a station that dropped back after the waits of its backoff,
// and watches the output for silence. The window's controller, each of the
// monitor's feeds and orvento-play each hold one; it knows nothing of how they
// show what happens.
//
// Time and threads. The session has no thread and no timer of its own. Its
// owner calls start(), stop(), retryNow() and update() on one thread (the
// owner's), with the time now; after each call nextDeadline() says when
// update() is due next. The players report on their own threads: the session
// queues each report and calls sessionHasNews() on the reporting thread, and
// the owner answers with update() on its own thread (posting it is fine; one
// update takes every report queued). Every other listener call comes on the
// owner's thread, from inside those calls, never inside a player's report.
// So a player's stop() may report inside itself without reentering anyone.
//
// An attempt. start() makes a player (listener's createPlayer) and starts it.
// Only the held player's reports count: the plays report of one that has
// ended or been replaced by the time update() takes it is passed on
// (playerReportedPlaying) but changes nothing. A plays report means audio was
// heard unless the player had failed already (a failure before the output
// ran is told plays, then ended).
//
// Drops. When the player that ended had played audio (or a reconnection is
// under way), an end the user did not ask for is a drop while reconnect is
// on, unless the player endedComplete (a recording served whole ends). A drop
// starts the reconnection: attempt 0 waits the backoff's first wait, each
// later failure the next; a second of each wait is told (reconnectionStep, Tick)
// and then the attempt starts (Starting). Audio again ends the reconnection
// and starts the waits afresh. An end before any audio is the end of the
// session (ended), so a wrong address is never tried for ever. Turning
// reconnect off applies to the next end.
//
// Failure alerts. Each player shows its failures through the alerts given to
// createPlayer: they reach the session's alert service, except those of a
// player whose station played and will be brought back (reconnect on): then
// reconnectionStep says why; and none while failure alerts are held (an
// owner with other addresses to try next, which says why on its own).
//
// Silence (with limits). Every kWatchInterval while a player is held: one
// that heard nothing `connect` after its start, or whose output has been
// starved for `drop`, is stopped as a failure with the listener's words
// (silenceCause): for a station that played, that is a drop. Starved for
// `notice`, starved() is told and the audio stops flowing (audioFlowing
// false) until it comes again (audioFlowing true, playing).
//
// Stopping. stop() while a player is held stops it: its end is the session's
// end, never a drop. Between two attempts it ends the session at once.
//
// The destructor lets reports under way finish, then stops a player still
// held; no listener call comes after it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/player/AlertService.h"
#include "engine/player/LocalizedStrings.h"
#include "engine/session/BackoffPolicy.h"
#include "engine/session/SessionPlayer.h"

namespace orvento {

class StationSession : private SessionPlayer::Listener {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    // The waits before each attempt of a reconnection.
    using Backoff = BackoffPolicy;

    static constexpr std::chrono::milliseconds kWatchInterval{250};
    static constexpr std::chrono::milliseconds kCountdownStep{1000};

    struct SilenceLimits {
        std::chrono::seconds notice{2};
        std::chrono::seconds drop{10};
        std::chrono::seconds connect{20};
    };

    enum class State {
        Idle,        // nothing started, or the session has ended
        Connecting,  // a player is held and nothing was heard in this start()
        Playing,     // audio was heard (a reconnection's player may be connecting)
        Waiting,     // a reconnection waits for its next attempt
        Stopping,    // stop() asked the player to stop; its end follows
    };

    // Why a player is given up for silence.
    struct Silence {
        enum class Kind {
            TooLittle,  // nothing heard `limit` after the start
            NoAudio,    // the output starved for `limit`
        } kind;
        std::chrono::seconds limit;
        std::uint64_t bytes;  // received by then
    };

    // A reconnection's progress.
    struct Countdown {
        enum class Step {
            Dropped,   // the drop: `wait` is the whole wait
            Tick,      // a second of it has passed: `wait` is what is left
            Starting,  // the attempt starts now
        } step;
        int attempt;  // 0 for the first after the drop
        std::chrono::milliseconds wait;
        std::string cause;  // why the last player ended; empty: the server closed
    };

    // The session's end.
    struct Ending {
        bool heard;         // audio was heard in the attempt that ended
        bool stopped;       // by stop()
        bool complete;      // the whole stream came
        std::string cause;  // why it failed; empty when it did not
    };

    class Listener {
      public:
        virtual ~Listener() = default;
        // Any thread: update() is due on the owner's thread.
        virtual void sessionHasNews() = 0;
        // The next attempt's player; it must show its failure alerts through `alerts`.
        virtual std::shared_ptr<SessionPlayer> createPlayer(
            std::shared_ptr<AlertService> alerts) = 0;
        virtual void playerStarted() {}
        // Every report of a held player, in order, before what it changes.
        virtual void playerReportedPlaying() {}
        virtual void playerReportedEnded() {}
        // Audio plays (the player plays, the output has audio again) or stops.
        virtual void audioFlowing(bool /*flowing*/) {}
        // Audio was heard, no reconnection under way.
        virtual void playing() {}
        virtual void reconnectionStep(const Countdown& /*countdown*/) {}
        // A reconnection began or ended.
        virtual void reconnectionChanged(bool /*on*/) {}
        virtual void ended(const Ending& /*ending*/) {}
        // The output has been starved for that long, past the notice.
        virtual void starved(std::chrono::seconds /*starved*/) {}
        // A player is stopped for `cause` (silenceCause's words).
        virtual void givingUp(const std::string& /*cause*/) {}
        // A look at a playing player with nothing to say.
        virtual void looked(SessionPlayer& /*player*/) {}
        virtual std::string silenceCause(const Silence& silence);
    };

    struct Options {
        // Where failures that are not brought back are shown; none: standard error.
        std::shared_ptr<AlertService> alerts{};
        // The alert's texts (the "Errors" table); none: the keys.
        std::shared_ptr<const LocalizedStrings> strings{};
        // None: no silence watch.
        std::optional<SilenceLimits> silence{SilenceLimits{}};
        Backoff backoff{};
        bool reconnect = true;
    };

    StationSession(Listener& listener, Options options);
    ~StationSession() override;
    StationSession(const StationSession&) = delete;
    StationSession& operator=(const StationSession&) = delete;

    // A new start: the first attempt's player, now; nothing while there is
    // something to stop. The end of a player that ended before it is passed
    // on (playerReportedEnded) but changes nothing.
    void start(TimePoint now);
    // See Stopping above; false when there was nothing to stop. A player
    // that has ended, its end not yet taken, ends the session when it is.
    bool stop();
    // A player is held, a reconnection is under way or waits.
    bool hasSomethingToStop() const;
    // A waiting attempt starts now; nothing otherwise.
    void retryNow(TimePoint now);
    // Takes the players' reports and does what is due by `now`.
    void update(TimePoint now);
    // When update() is due next without news; none: only on news.
    std::optional<TimePoint> nextDeadline() const;

    // Any thread.
    void setReconnect(bool on);
    bool reconnect() const;
    // Failure alerts of this session's players are dropped while held.
    void holdFailureAlerts(bool held) { alertsHeld_->store(held); }
    // Owner's thread, between starts.
    void setBackoff(Backoff backoff) { options_.backoff = std::move(backoff); }
    void setSilenceLimits(std::optional<SilenceLimits> limits) { options_.silence = limits; }

    State state() const;
    bool reconnecting() const { return reconnectAttempt_ >= 0; }
    bool waiting() const { return waiting_; }
    // Audio was heard in the current attempt.
    bool heard() const { return attempt_.heard; }
    // Players made so far.
    std::uint64_t attempts() const { return generation_; }

  private:
    class Alerts;
    struct Report {
        std::uint64_t generation;
        bool plays;
        bool partOfAFailure;                    // plays: the player had failed already
        std::string cause;                      // ended: why it failed
        bool complete;                          // ended: the whole stream came
        std::shared_ptr<SessionPlayer> player;  // ended: released on the owner's thread
        bool playingOut = false;                // the server closed; the end follows
        bool outgoing = false;                  // ended: a player that was playing out
    };

    void plays(SessionPlayer& player) override;
    void ended(SessionPlayer& player) override;
    void playingOut(SessionPlayer& player) override;
    // Moves the held player out to play out beside the next attempt.
    void letPlayOut();
    void take(Report& report, TimePoint now);
    void startAttempt(TimePoint now);
    void reconnectAfter(const std::string& cause, TimePoint now);
    void endReconnecting();
    void watch(TimePoint now);
    void giveUp(const Silence& silence);
    bool holds(std::uint64_t generation) const;
    std::shared_ptr<SessionPlayer> held() const;

    Listener& listener_;
    Options options_;
    const std::shared_ptr<std::atomic<bool>> reconnectOn_;
    const std::shared_ptr<std::atomic<bool>> alertsHeld_ = std::make_shared<std::atomic<bool>>();

    // Guarded by mutex_: what the reporting threads touch.
    mutable std::mutex mutex_;
    std::shared_ptr<SessionPlayer> held_;
    // A dropped player playing out what it held while the next attempt
    // connects; the gate the next players wait behind opens at its end.
    std::shared_ptr<SessionPlayer> outgoing_;
    std::shared_ptr<PlayOutGate> outgoingGate_;
    std::shared_ptr<Alerts> heldAlerts_;
    std::uint64_t heldGeneration_ = 0;
    std::deque<Report> reports_;
    int reportsRunning_ = 0;
    bool closing_ = false;
    std::condition_variable reportsDone_;

    // The owner's thread.
    struct Attempt {
        bool heard = false;
        bool stopRequested = false;
        bool starved = false;  // starved() was told
        std::string givenUp;   // why the session stopped the player; empty if it did not
        TimePoint startedAt{};
    };
    Attempt attempt_;
    std::uint64_t generation_ = 0;
    bool active_ = false;        // from start() until the session ends
    TimePoint nextLook_{};       // the silence watch, while a player is held
    int reconnectAttempt_ = -1;  // the attempt under way or waiting; -1: none
    bool waiting_ = false;
    std::string dropCause_;
    TimePoint reconnectAt_{};
    TimePoint nextTick_{};
};

}  // namespace orvento
