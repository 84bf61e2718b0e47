// PlaybackController: the playback of one feed, between what the user touches
// (the screen's button and fields, the media keys) and the stream player. It
// owns the current player (`streamer`), observes it, and says what to show:
// the play state, the status line, the listening time and the station that is
// on. It touches no widget; the screen and the media keys follow its signals.
//
// One controller plays one station at a time, one player per attempt. Later
// features compose controllers rather than grow this one: a monitor of several
// stations holds one controller per feed (each with its own state, status and
// listening time); a player that comes back after a drop is a new attempt of
// the same controller for the station that is on; a history of what was heard
// follows attemptStarted and reportedEnded with stationOn().
//
// States, as the play/stop button shows them:
//
//   state     streamer                    the screen shows        spin  tick timer
//   Idle      none                        "playbutton.png"        no    stopped
//   Loading   not yet reported playing    "loadingbutton.png"     yes   stopped
//   Playing   reported playing            "stopbutton.png"        no    running
//   Stopping  stop requested              unchanged               no    unchanged
//
// press() while Idle logs "txt:<address>", percent-escapes the selected
// address, creates a player for it (initWithURL), observes it and starts it:
// attemptStarted, then Loading. With a player, it logs the same line and asks
// the player to stop: stopRequested (the spin ends), then Stopping. An address
// longer than kAddressLengthLimit characters (the address field's usual
// limit) is refused with a status text instead.
//
// The player's reports come on any thread: its output queue's, its worker's,
// or the caller's of stop(). They touch nothing of the main thread's: the
// session posts its news to the main thread, which takes the reports in
// order, also when the report already came there: reportedPlaying for every
// "playing" report (the screen
// shows the stop image), reportedEnded for the report that ends the player
// (the screen shows the play image). A player that ends without ever
// reporting (no URL, a stream or parser that could not be opened) ends with
// its hasEnded report, so the controller never stays Loading for ever. Only
// the current attempt's reports change the state and the status line: a
// report of a player that has ended or been replaced since is shown, but
// changes neither. startTimer and stopTimer may be called on any thread; they
// take effect on the main thread, in call order.
//
// The status line says what happened, as plain text, never quoting a
// password: "Connecting...", "Playing", "Stopped.", "Playback ended.",
// "The stream could not be opened: <cause>" for a stream that never played,
// "Playback failed: <cause>" for one that played and then failed. A press
// that stops always ends in Idle with "Stopped.", also when the player's
// "playing" report was already on its way: that report leaves it Stopping.
//
// The selected station is what a press plays: the station chosen from the
// list (name and URL), or an address typed. The name belongs to the URL it
// came with: an address typed that differs from it leaves no name.
//
// Coming back after a drop. Once the station that is on has played audio,
// a later end that the user did not ask for (the server closed the stream, a
// transfer error or stall, a decoding failure) does not return to Idle while
// reconnectWhenDropped() is on: the controller stays Playing (the button
// shows stop, the media keys say playing) and starts a new player for the
// same station, the first at once, the next ones after the waits of the
// session's backoff, for as long as the user does not stop. The status line says
// "Reconnecting in 8 s (attempt 4): <why>" meanwhile and "Playing" once audio
// flows again, which also starts the waits afresh. A press cancels a waiting
// attempt at once (Idle, "Stopped.") or stops the player connecting. These
// players' failure alerts are not shown: the status line says what happens.
// An end before any audio was heard is what it always was: the alert and
// Idle, so a mistyped address is never tried for ever. Turning the setting
// off does not cancel a reconnection under way; it applies to the next drop.
// A recording that came whole (its length declared and reached: the player
// endedComplete) did not drop: it ends with "Playback ended." and Idle.
//
// Honest about silence. While a player is held the controller looks at its
// output every kWatchInterval. Once audio was heard, an output starved of
// audio for SilenceLimits::notice says so on the status line ("Waiting for
// the station: no audio for 4 s") and the listening time stops until audio
// comes again; starved for SilenceLimits::drop, the player is stopped and that
// counts as a drop ("no audio for 10 s"). A player that has played nothing
// SilenceLimits::connect after it started is stopped as a failure with its cause
// ("the station sent 27 bytes in 20 s, too little to play"): for a first
// attempt the failure alert and Idle, as for any failure before audio.
//
// The attempts, the reconnection and the silence watch are a StationSession's
// (engine/session/StationSession.h): the controller drives it from the main
// thread's event loop and says what it tells.
//
// Threads. Everything but startTimer and stopTimer is main-thread only; the
// players' reports reach the session on their threads, and the session's news
// is posted to the main thread. The destructor lets reports under way finish,
// then stops a player still held.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "controller/DiagnosticLog.h"
#include "controller/StationCatalogue.h"
#include "controller/StationReplay.h"
#include "engine/player/Pelorin.h"
#include "engine/session/StationSession.h"

namespace orvento {

class PlaybackController : public QObject, private StationSession::Listener {
    Q_OBJECT

  public:
    enum class PlayState { Idle, Loading, Playing, Stopping };
    Q_ENUM(PlayState)

    // The longest address a press requests.
    static constexpr qsizetype kAddressLengthLimit = 32767;
    static constexpr std::chrono::milliseconds kTickInterval{100};
    static constexpr std::chrono::milliseconds kWatchInterval = StationSession::kWatchInterval;
    using SilenceLimits = StationSession::SilenceLimits;

    // `engine`: given to every player created; `log`: the diagnostic lines
    // (empty: standard error).
    explicit PlaybackController(PelorinServices engine = {}, LogSink log = {},
                                QObject* parent = nullptr);
    ~PlaybackController() override;
    PlaybackController(const PlaybackController&) = delete;
    PlaybackController& operator=(const PlaybackController&) = delete;

    // Where each new player's audio goes: called once per player, on the
    // main thread, for the platform that player is given (a feed of a mixer,
    // one a player, so that a player's feed is free of its predecessor's
    // queue). Empty, or when it gives none: the engine's platform.
    using PlatformSource = std::function<std::shared_ptr<EngineServices>()>;
    void setPlatformSource(PlatformSource source) { platformSource_ = std::move(source); }

    // The station a press plays. chooseStation: one of the list, its name
    // with its URL. setAddressText: an address typed; the chosen name stays
    // only while the text is that station's URL.
    void chooseStation(const Station& station);
    void setAddressText(const QString& text);
    const Station& selectedStation() const { return selected_; }
    // A press would start or stop something: a player exists or an address
    // is selected.
    bool canPlay() const;

    // The play/stop button (see above).
    void press();
    // The stop of a switch to another station, whose press follows once
    // this one is Idle: a press while something plays or connects, but not
    // the user's stop; switching() holds from it to the next press.
    void stopToSwitch();
    bool switching() const { return switching_; }

    PlayState playState() const { return playState_; }
    // The station the current attempt plays; empty while Idle.
    Station stationOn() const;
    // Whether the station on has played audio in this press (a drop since
    // may be bringing it back).
    bool heard() const { return playState_ != PlayState::Idle && session_->heard(); }
    // Players created so far.
    quint64 attempts() const { return session_->attempts(); }
    const QString& statusText() const { return statusText_; }
    // For what else the status line must say (set-up's news, a file saved):
    // news the user should read. For kNewsHold, or until the next press, the
    // station's own words (a reconnection's countdown, a new state) show
    // beside it, not in its place; after that the station's next change
    // replaces it. The live-edge lag, looked at again and again, never does.
    void setStatusText(const QString& text);
    static constexpr std::chrono::seconds kNewsHold{5};
    // What the news's hold reads the time from (tests hold or move it).
    using NewsClock = std::function<std::chrono::steady_clock::time_point()>;
    void setNewsClock(NewsClock clock) { newsClock_ = std::move(clock); }
    // Why the last attempt's player failed, in its own words; empty when it
    // did not fail (or was stopped) and before the first attempt has ended.
    const QString& failureCause() const { return failureCause_; }

    // Listening time: seconds of audio heard since the controller was made,
    // counted on a monotonic clock while the tick timer runs, and since the
    // press that started the station that is on (0 while Idle).
    double listenedSeconds() const { return _ticks; }
    double listenedToStationOn() const;
    bool listeningTimeRunning() const { return _timer != nullptr; }
    void startTimer();
    void stopTimer();
    void timerTick();

    // Reconnecting after a drop (see above); on by default.
    void setReconnectWhenDropped(bool on);
    bool reconnectWhenDropped() const { return session_->reconnect(); }
    // While held, a failure says why on the status line only, without an alert.
    void holdFailureAlerts(bool held) { session_->holdFailureAlerts(held); }
    void setBackoffPolicy(StationSession::Backoff policy) {
        session_->setBackoff(std::move(policy));
    }
    // Plays the next players close to live by catching up (CatchUp.h): the
    // quiet between transmissions is shed and long speech played faster, at
    // a target lag that follows the network. The status line then says how
    // far behind live they play. Off by default: the engine's options as
    // given at construction hold.
    void setLiveEdge(bool on);
    bool liveEdge() const { return liveEdge_; }
    void setSilenceLimits(SilenceLimits limits) { session_->setSilenceLimits(limits); }
    // From a drop until audio plays again or the user stops.
    bool reconnecting() const { return session_->reconnecting(); }
    // A player of the reconnection waits for its turn.
    bool reconnectWaiting() const { return session_->waiting(); }
    // Starts a waiting attempt now (the network is back, the machine woke
    // up); does nothing otherwise.
    void retryNow();

    // What the station said, its transmissions and "say again": every player
    // this controller starts is tapped into it.
    StationReplay& replay() { return *replay_; }
    // The services the next player is given: the engine's (its platform from
    // the platform source, if any), with a tap of the station's history.
    PelorinServices servicesForNextPlayer();

  signals:
    void playStateChanged(orvento::PlaybackController::PlayState state);
    void selectedStationChanged();
    // A press created and started a player (before Loading).
    void attemptStarted();
    // A press is about to stop the player.
    void stopRequested();
    // Posted reports, in order: the player plays; the player has ended.
    void reportedPlaying();
    void reportedEnded();
    void statusTextChanged(const QString& text);
    // Each tick, and when the count stops.
    void listeningTimeChanged(double seconds);
    // reconnecting() changed (after the play state, when both change).
    void reconnectingChanged(bool reconnecting);

  private:
    // The station's own words, beside news still held (see setStatusText).
    void showStatus(const QString& text);
    void showLine(const QString& text);
    // One press, as the main thread knows it.
    struct Attempt {
        Station station;
        bool hadUrl = true;
        double listenedAtStart = 0;
    };

    // The session's news and its next deadline, on the main thread.
    void updateSession();
    void armSessionTimer();

    // StationSession::Listener
    void sessionHasNews() override;
    std::shared_ptr<SessionPlayer> createPlayer(std::shared_ptr<AlertService> alerts) override;
    void playerStarted() override { emit PlaybackController::attemptStarted(); }
    void playerReportedPlaying() override { emit PlaybackController::reportedPlaying(); }
    void playerReportedEnded() override { emit PlaybackController::reportedEnded(); }
    void audioFlowing(bool flowing) override;
    void playing() override;
    void reconnectionStep(const StationSession::Countdown& countdown) override;
    void reconnectionChanged(bool on) override { emit PlaybackController::reconnectingChanged(on); }
    void ended(const StationSession::Ending& ending) override;
    void starved(std::chrono::seconds starved) override;
    void givingUp(const std::string& cause) override;
    void looked(SessionPlayer& player) override;
    std::string silenceCause(const StationSession::Silence& silence) override;

    void setPlayState(PlayState state);
    void log(const QString& text) const;
    void startTickTimer();
    void stopTickTimer();
    void addListeningTime();
    // Sets the tick timer for the next tick at which the shown time changes.
    void armTick();

    const PelorinServices engine_;
    bool liveEdge_ = false;
    std::shared_ptr<CatchUpStage> catchUp_;  // the last player's, while live
    std::shared_ptr<ResumeTrail> resume_;    // the press's players'
    const LogSink log_;
    StationReplay* const replay_;  // a child
    PlatformSource platformSource_;

    // Main thread only.
    Station selected_;
    Attempt attempt_;
    PlayState playState_ = PlayState::Idle;
    bool switching_ = false;
    bool nextPressSwitches_ = false;  // stopToSwitch's press
    QString statusText_;
    QString news_;  // the last text given by setStatusText, until it is replaced
    std::chrono::steady_clock::time_point newsShownAt_{};
    NewsClock newsClock_ = [] { return std::chrono::steady_clock::now(); };
    QString failureCause_;
    std::unique_ptr<QTimer> _timer;  // the tick timer; set exactly while it runs
    double _ticks = 0;               // seconds listened
    std::chrono::steady_clock::time_point ticksCountedUntil_{};
    QTimer sessionTimer_;  // the session's next deadline
    std::unique_ptr<StationSession> session_;
};

}  // namespace orvento
