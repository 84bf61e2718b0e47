#include "controller/SleepTimer.h"

#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"

namespace orvento {

SleepTimer::SleepTimer(PlaybackController& station, MonitorController* monitor, QObject* parent)
    : QObject(parent),
      station_(station),
      monitor_(monitor),
      keyed_([&station] { return station.replay().keyed(); }) {
    ticks_.setInterval(kTickInterval);
    connect(&ticks_, &QTimer::timeout, this, &SleepTimer::update);
    connect(&station_, &PlaybackController::stopRequested, this, [this] {
        if (!ending_ && !station_.switching()) {
            cancel();
        }
    });
    connect(&station_, &PlaybackController::playStateChanged, this, &SleepTimer::playbackChanged);
    if (monitor_ != nullptr) {
        connect(monitor_, &MonitorController::playingChanged, this, &SleepTimer::playbackChanged);
        connect(monitor_, &MonitorController::playingChanged, this, [this](bool playing) {
            if (playing && monitorEnding_) {
                monitorEnding_ = false;
                monitor_->setFade(schedule_ ? state_.gain : 1.0F);
            }
        });
    }
}

void SleepTimer::start(std::chrono::seconds after) {
    schedule_.emplace(now_(), after, atTransmissionEnd_);
    minutes_ = static_cast<int>(std::chrono::duration_cast<std::chrono::minutes>(after).count());
    ending_ = false;
    setGain(1);
    ticks_.start();
    update();
}

void SleepTimer::cancel() {
    stop(false);
}

void SleepTimer::setAtTransmissionEnd(bool on) {
    if (on == atTransmissionEnd_) {
        return;
    }
    atTransmissionEnd_ = on;
    // A timer running keeps its time and takes the new way of ending.
    if (schedule_ && state_.phase == SleepSchedule::Phase::counting) {
        schedule_.emplace(schedule_->due(), std::chrono::seconds{0}, on);
        update();
    }
    emit changed();
}

void SleepTimer::playbackChanged() {
    if (ending_ && station_.playState() == PlaybackController::PlayState::Idle) {
        // The timer's stop has taken: the next play is heard in full.
        ending_ = false;
        setGain(1);
        return;
    }
    const bool monitorPlays = monitor_ != nullptr && monitor_->playing();
    if (schedule_ && !ending_ && station_.playState() == PlaybackController::PlayState::Idle &&
        !monitorPlays && !station_.switching()) {
        cancel();
    }
}

void SleepTimer::update() {
    if (!schedule_) {
        return;
    }
    const QString before = countdownText();
    state_ = schedule_->advance(now_(), keyed_ && keyed_());
    setGain(state_.gain);
    if (state_.phase == SleepSchedule::Phase::done) {
        stop(true);
        return;
    }
    if (countdownText() != before) {
        emit changed();
    }
}

void SleepTimer::stop(bool ended) {
    if (!schedule_) {
        return;
    }
    schedule_.reset();
    ticks_.stop();
    state_ = {};
    if (ended) {
        ending_ = station_.playState() == PlaybackController::PlayState::Loading ||
                  station_.playState() == PlaybackController::PlayState::Playing;
        if (ending_) {
            station_.press();
        }
        if (monitor_ != nullptr && monitor_->playing()) {
            // Its feeds take a moment to stop: they stay faded meanwhile.
            monitorEnding_ = true;
            monitor_->stop();
        }
    }
    if (!ending_) {
        setGain(1);
    }
    emit changed();
}

void SleepTimer::setGain(float gain) {
    if (gain != gain_) {
        gain_ = gain;
        emit gainChanged(gain);
    }
    if (monitor_ != nullptr && !monitorEnding_) {
        monitor_->setFade(gain);
    }
}

QString SleepTimer::countdownText() const {
    if (!schedule_) {
        return {};
    }
    if (state_.phase == SleepSchedule::Phase::waitingForQuiet) {
        return tr("Sleep after this transmission");
    }
    const auto seconds = state_.left.count();
    return tr("Sleep in %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace orvento
