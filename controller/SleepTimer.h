// SleepTimer: stops playback after a while (SleepSchedule), for listening
// at night: the window's station and the monitor, after 15, 30, 60 or 90
// minutes, or, with atTransmissionEnd, at the end of the transmission under
// way once that time has passed. Over the last SleepSchedule::kFade the
// window's station fades out (gainChanged, which the window's mix follows)
// and so do the monitor's feeds (MonitorController::setFade); at the end the
// station and the monitor are stopped, and each is heard in full again at
// its next play.
//
// Any stop that leaves nothing playing cancels the timer, and so does the
// user's stop of the window's station (press while it plays); so does
// cancel() (the menu's "Off"). A switch to another station is no stop: the
// timer runs on (PlaybackController::stopToSwitch). A timer set while nothing plays runs all the
// same and stops nothing at its end.
//
// Time comes from the clock given (steady_clock by default; tests move it
// and call update()); the keyed state from the window's station's detector.
// countdownText() is what the status line and the tray's tooltip add:
// "Sleep in 14:59", "Sleep after this transmission".
//
// Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

#include "engine/session/SleepSchedule.h"

namespace orvento {

class MonitorController;
class PlaybackController;

class SleepTimer : public QObject {
    Q_OBJECT

  public:
    static constexpr int kMinuteChoices[] = {15, 30, 60, 90};
    static constexpr std::chrono::milliseconds kTickInterval{250};
    using Clock = SleepSchedule::Clock;

    explicit SleepTimer(PlaybackController& station, MonitorController* monitor = nullptr,
                        QObject* parent = nullptr);

    // Tests: the time, and whether a transmission is under way.
    void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }
    void setKeyedSource(std::function<bool()> keyed) { keyed_ = std::move(keyed); }

    // Starts (or restarts) the timer for `after` from now.
    void start(std::chrono::seconds after);
    void cancel();
    bool active() const { return schedule_.has_value(); }
    // The minutes last started; 0 while off.
    int minutes() const { return active() ? minutes_ : 0; }
    // Whether the end waits for the transmission under way; kept between timers.
    void setAtTransmissionEnd(bool on);
    bool atTransmissionEnd() const { return atTransmissionEnd_; }

    SleepSchedule::State state() const { return state_; }
    QString countdownText() const;

    // One step: the schedule at the clock's time. The tick timer calls it.
    void update();

  signals:
    // The timer started, ended, was cancelled, or its countdown text changed.
    void changed();
    // The window's station's gain, 0 to 1.
    void gainChanged(float gain);

  private:
    void setGain(float gain);
    void stop(bool ended);
    void playbackChanged();

    PlaybackController& station_;
    MonitorController* const monitor_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    std::function<bool()> keyed_;
    std::optional<SleepSchedule> schedule_;
    SleepSchedule::State state_;
    int minutes_ = 0;
    bool atTransmissionEnd_ = false;
    bool ending_ = false;         // the timer's own stop is under way
    bool monitorEnding_ = false;  // the timer stopped the monitor; faded until it plays
    float gain_ = 1;
    QTimer ticks_;
};

}  // namespace orvento
