#include "app/OrventoApplication.h"

#include <QLocale>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/ApplicationId.h"
#include "app/DesktopIdleInhibitor.h"
#include "app/MprisService.h"
#include "app/TerminationSignals.h"
#include "engine/EnginePlatform.h"
#include "engine/WorkerRegistry.h"
#include "screen/OrventoLook.h"
#include "screen/QtAlertService.h"
#include "screen/Translations.h"

namespace orvento {
namespace {

// How long the end waits for the players' workers to finish.
constexpr std::chrono::seconds kWorkersShutdown{10};

QString serverFromEnvironment(const char* variable, const char* buildDefault) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(buildDefault) : value;
}

bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int orventoMain(int& argc, char** argv, const LaunchHooks& hooks) {
    if (!displayAvailable()) {
        std::fputs(
            "orvento: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not "
            "set); orvento-play plays a stream from the command line\n",
            stderr);
        return 1;
    }
    // Before any thread starts: every thread inherits the block.
    blockTerminationSignals();
    QApplication app(argc, argv);
    // SIGTERM, SIGINT or SIGHUP end the application as closing its window
    // does, in any state: the event loop ends, playback stops, the desktop's
    // idle timer is given back.
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &app, [](int signalNumber) {
        writeLogLine(std::string(TerminationSignals::nameOf(signalNumber)) + ": ending");
        QApplication::exit(0);
    });
    QApplication::setApplicationName(QStringLiteral("Orvento"));
    QGuiApplication::setDesktopFileName(QLatin1String(kApplicationId));
    applyOrventoLook(app);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale::system());

    auto alerts = std::make_shared<QtAlertService>();
    PelorinServices engine;
    // The engine's own lines ("... err ..." and the output's) join the
    // application's log.
    engine.platform = std::make_shared<EnginePlatform>(
        AudioOutputChoice{}, [](std::string_view line) { writeLogLine(line); });
    engine.alerts = alerts;
    engine.strings = errorsTable();
    engine.workers = &WorkerRegistry::shared();
    ScreenServices services;
    services.catalogueBaseUrl =
        serverFromEnvironment(kCatalogueUrlVariable, ORVENTO_DEFAULT_CATALOGUE_URL);
    services.weatherBaseUrl =
        serverFromEnvironment(kWeatherUrlVariable, ORVENTO_DEFAULT_WEATHER_URL);
    // Held until the end of the run; it ends the inhibition as it goes.
    const auto idleTimer = std::make_shared<DesktopIdleInhibitor>();
    services.idleTimer = idleTimer;
    // The user's settings, in the desktop's usual place.
    services.settings = std::make_shared<Settings>();

    int status = 0;
    {
        OrventoAppDelegate delegate(std::move(engine), std::move(services));
        alerts->setParentWindow(delegate.window());
        delegate.applicationDidFinishLaunching();
        // The media keys and the desktop's media controls.
        MprisService mpris(delegate.controller());
        QMainWindow* window = delegate.window();
        QObject::connect(&mpris, &MprisService::quitRequested, window, &QWidget::close);
        QObject::connect(&mpris, &MprisService::raiseRequested, window, [window] {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->show();
            window->raise();
            window->activateWindow();
        });
        mpris.registerOn(QDBusConnection::sessionBus());
        if (hooks.launched) {
            QTimer::singleShot(0, &app, [&] { hooks.launched(delegate); });
        }
        status = QApplication::exec();
        // A worker waiting for its alert to be shown would wait for ever now.
        alerts->close();
    }
    // The controller stopped its player as it went; let every worker finish.
    WorkerRegistry::shared().shutdown(kWorkersShutdown);
    return status;
}

}  // namespace orvento
