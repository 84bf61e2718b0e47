// OrventoAppDelegate: puts the player screen into the application's one window
// and shows it.
//
// Creating the delegate stands for loading the main interface description: it
// creates the playback controller and the station list, the window and the
// player screen on them (whose layout builds the controls and connects the
// screen's outlets and actions). applicationDidFinishLaunching then makes the
// screen the window's content, shows the window (with the size and place it
// had when it was last closed, kept in the settings), starts the screen's set-up
// (whose downloads run in the background) and focuses the URL field.
// Ctrl+Q closes the window. An address or a file dropped on the window (but
// on its text fields, which take the text) is opened with the opener.
//
// With a mixer, every player of the window plays into a feed of it, so that
// the window's station and the monitor's feeds share one output; the mixer
// outlives the delegate and the players' workers. Without one, players play
// on the engine's platform. With a mixer there is also a monitor of several
// stations (the screen's "Monitor" tab), kept in the settings.
//
// Main thread only.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <memory>

#include "controller/AddressOpener.h"
#include "controller/MixerChannel.h"
#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"
#include "controller/SleepTimer.h"
#include "controller/StationListModel.h"
#include "screen/OrventoViewController.h"

namespace orvento {

class OrventoAppDelegate {
  public:
    explicit OrventoAppDelegate(PelorinServices engine = {}, ScreenServices services = {},
                                std::shared_ptr<Mixer> mixer = nullptr,
                                std::shared_ptr<std::atomic<bool>> liveMute = {});
    // Keeps the window's size and place, closes the window (the screen goes
    // with it), then stops playback.
    ~OrventoAppDelegate();
    OrventoAppDelegate(const OrventoAppDelegate&) = delete;
    OrventoAppDelegate& operator=(const OrventoAppDelegate&) = delete;

    void applicationDidFinishLaunching();

    QMainWindow* window() const { return window_.get(); }
    void setWindow(std::unique_ptr<QMainWindow> window) { window_ = std::move(window); }
    // The screen belongs to the window (its child); this is a view of it.
    OrventoViewController* viewController() const { return viewController_; }
    void setViewController(OrventoViewController* viewController) {
        viewController_ = viewController;
    }
    PlaybackController& controller() const { return *controller_; }
    // Ctrl+Q: closes the window.
    QAction* quitAction() const { return quitAction_; }
    // Plays what is handed in from outside: arguments, OpenUri, drops.
    AddressOpener& opener() const { return *opener_; }
    // The monitor of several stations; null without a mixer.
    MonitorController* monitor() const { return monitor_.get(); }
    // Stops the window's station and the monitor after a while; with a
    // mixer, the station fades out over the last seconds.
    SleepTimer& sleepTimer() const { return *sleepTimer_; }

  private:
    const std::shared_ptr<Mixer> mixer_;
    const std::unique_ptr<MixerChannel> stationChannel_;  // with a mixer
    const std::unique_ptr<PlaybackController> controller_;
    std::unique_ptr<MonitorController> monitor_;  // with a mixer
    std::unique_ptr<SleepTimer> sleepTimer_;
    std::unique_ptr<AddressOpener> opener_;
    const std::unique_ptr<StationListModel> stations_ = std::make_unique<StationListModel>();
    std::unique_ptr<QMainWindow> window_;
    OrventoViewController* viewController_ = nullptr;
    QAction* quitAction_ = nullptr;  // the window's
    bool launched_ = false;          // the window has been shown
};

}  // namespace orvento
