// The application's start-up and run, as main() does it: the Qt application
// (given the process arguments: the first that is no option is an address or
// a playlist file to play at once, `orvento [URL or FILE]`), the look, the
// translation for the system's language, the services the screen and its
// players run on (the servers it fetches from, the desktop's idle timer), the
// delegate, the event loop, and an orderly end.
#pragma once

#include <QApplication>
#include <functional>

#include "app/OrventoAppDelegate.h"

namespace orvento {

// The environment variables naming the catalogue and weather servers, as base
// URLs ("http://127.0.0.1:8000"); unset or empty, the build's defaults
// (ORVENTO_DEFAULT_CATALOGUE_URL, ORVENTO_DEFAULT_WEATHER_URL) apply, and
// when those are empty: the catalogue address of the settings (none by
// default), and the public weather server (weather::kPublicWeatherServer).
// ORVENTO_DIRECTORY_URL names one server of the community directory in place
// of those its list of servers names.
inline constexpr const char* kCatalogueUrlVariable = "ORVENTO_CATALOGUE_URL";
inline constexpr const char* kWeatherUrlVariable = "ORVENTO_WEATHER_URL";
inline constexpr const char* kDirectoryUrlVariable = "ORVENTO_DIRECTORY_URL";

struct LaunchHooks {
    // Called on the main thread once the window is shown and the event loop
    // runs (benchmarks drive the application from here).
    std::function<void(OrventoAppDelegate&)> launched;
    // A window of its own even where Orvento runs already in the session
    // (benchmarks measure a start of their own).
    bool besideOthers = false;
};

// Runs the application until its window is closed; returns the exit status.
// Without a display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY
// set, and no QT_QPA_PLATFORM chosen) it says so in one line on standard
// error and returns 1. Where Orvento runs already in the session it raises
// that one's window and returns 0 (SessionInstance).
int orventoMain(int& argc, char** argv, const LaunchHooks& hooks = {});

}  // namespace orvento
