// OrventoAppDelegate: puts the player screen into the application's one window
// and shows it.
//
// Creating the delegate stands for loading the main interface description: it
// creates the playback controller and the station list, the window and the
// player screen on them (whose layout builds the controls and connects the
// screen's outlets and actions). applicationDidFinishLaunching then makes the
// screen the window's content, shows the window, starts the screen's set-up
// (whose downloads run in the background) and focuses the URL field.
// Ctrl+Q closes the window.
//
// Main thread only.
#pragma once

#include <QMainWindow>
#include <memory>

#include "controller/PlaybackController.h"
#include "controller/StationListModel.h"
#include "screen/OrventoViewController.h"

namespace orvento {

class OrventoAppDelegate {
  public:
    explicit OrventoAppDelegate(PelorinServices engine = {}, ScreenServices services = {});
    // Closes the window (the screen goes with it), then stops playback.
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

  private:
    const std::unique_ptr<PlaybackController> controller_;
    const std::unique_ptr<StationListModel> stations_ = std::make_unique<StationListModel>();
    std::unique_ptr<QMainWindow> window_;
    OrventoViewController* viewController_ = nullptr;
};

}  // namespace orvento
