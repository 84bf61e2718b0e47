// OrventoAppDelegate: puts the player screen into the application's one window
// and shows it.
//
// Creating the delegate stands for loading the main interface description: it
// creates the window and the player screen (whose layout builds the controls
// and connects the screen's outlets) and connects the screen's actions:
//   - the play button's click -> buttonPressed;
//   - Return in the URL field -> textFieldShouldReturn;
//   - the select control's click -> SelectbuttonClick.
// applicationDidFinishLaunching then makes the screen the window's content,
// shows the window, runs the screen's set-up (the window paints meanwhile)
// and focuses the URL field.
// Ctrl+Q closes the window.
//
// Main thread only.
#pragma once

#include <QMainWindow>
#include <memory>

#include "screen/OrventoViewController.h"

namespace orvento {

class OrventoAppDelegate {
  public:
    explicit OrventoAppDelegate(ScreenServices services = {});
    // Closes the window; the screen goes with it.
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

  private:
    std::unique_ptr<QMainWindow> window_;
    OrventoViewController* viewController_ = nullptr;
};

}  // namespace orvento
