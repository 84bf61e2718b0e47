#include "app/OrventoApplication.h"

#include <QAction>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "app/ApplicationId.h"
#include "app/DesktopIdleInhibitor.h"
#include "app/DesktopNotices.h"
#include "app/MprisService.h"
#include "app/ResumeWatcher.h"
#include "app/SessionInstance.h"
#include "app/TerminationSignals.h"
#include "app/TrayIcon.h"
#include "engine/player/EngineServices.h"
#include "engine/player/WorkerRegistry.h"
#include "screen/OrventoLook.h"
#include "screen/QtAlertService.h"
#include "screen/Translations.h"

namespace orvento {
namespace {

// How long the end waits for the players' workers to finish.
constexpr std::chrono::seconds kWorkersShutdown{10};
// The mixer's feeds: the window's station and the monitor's, each twice for
// the moment a player's queue goes while its successor's comes.
constexpr int kMixerFeeds = 2 * (kMaxFeeds + 1);

QString serverFromEnvironment(const char* variable, const char* buildDefault) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(buildDefault) : value;
}

// The first argument that is no option.
QString addressArgument(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            return argument;
        }
    }
    return {};
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
    // `orvento ADDRESS`: a stream's URL or a playlist, played at once, here
    // or by the Orvento already running.
    const QString address =
        AddressOpener::absoluteAddress(addressArgument(QApplication::arguments()));
    // Before anything is built: a second start only raises the first's
    // window, or hands it its address.
    const QDBusConnection sessionBus = QDBusConnection::sessionBus();
    std::optional<SessionInstance> instance;
    if (!hooks.besideOthers) {
        instance.emplace(sessionBus, address);
        if (instance->outcome() == SessionInstance::Outcome::handedOver) {
            return 0;
        }
    }
    applyOrventoLook(app);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale::system());

    auto alerts = std::make_shared<QtAlertService>();
    PelorinServices engine;
    // Live audio is muted while a transmission is played again; the
    // engine's own lines ("... err ..." and the output's) join the
    // application's log.
    auto liveMute = std::make_shared<std::atomic<bool>>(false);
    AudioOutputChoice liveOutput;
    liveOutput.muted = liveMute;
    engine.platform = std::make_shared<EngineServices>(
        liveOutput, [](std::string_view line) { writeLogLine(line); });
    engine.alerts = alerts;
    engine.strings = errorsTable();
    engine.workers = &WorkerRegistry::shared();
    // The user's settings, in the desktop's usual place.
    const auto settings = std::make_shared<Settings>();
    ScreenServices services;
    services.catalogueBaseUrl =
        serverFromEnvironment(kCatalogueUrlVariable, ORVENTO_DEFAULT_CATALOGUE_URL);
    if (services.catalogueBaseUrl.isEmpty()) {
        services.catalogueBaseUrl = settings->catalogueUrl();
    }
    services.weatherBaseUrl =
        serverFromEnvironment(kWeatherUrlVariable, ORVENTO_DEFAULT_WEATHER_URL);
    if (services.weatherBaseUrl.isEmpty()) {
        services.weatherBaseUrl = QLatin1String(weather::kPublicWeatherServer);
        services.weatherLayout = weather::ServerLayout::nws;
    }
    services.directory.server = qEnvironmentVariable(kDirectoryUrlVariable);
    if (services.directory.server.isEmpty()) {
        services.directory.listUrl = QLatin1String(kDirectoryServerListUrl);
    }
    services.cacheFolder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    // Held until the end of the run; it ends the inhibition as it goes.
    const auto idleTimer = std::make_shared<DesktopIdleInhibitor>();
    services.idleTimer = idleTimer;
    services.settings = settings;

    // Every player of the window plays through one mix to the sound device:
    // the device is opened once, whatever the number of stations playing.
    MixerOptions mixing;
    mixing.feeds = kMixerFeeds;
    const auto mixer = std::make_shared<Mixer>(AudioOutputChoice{}, mixing);

    int status = 0;
    {
        OrventoAppDelegate delegate(std::move(engine), std::move(services), mixer, liveMute);
        // A replay plays into a feed of its own, beside the live one it mutes.
        delegate.controller().replay().setOutputs(AudioOutputChoice{}, liveMute);
        delegate.controller().replay().setReplayOutputSource(
            [mixer] { return ownFeedOutput(*mixer); });
        alerts->setParentWindow(delegate.window());
        delegate.applicationDidFinishLaunching();
        // The media keys and the desktop's media controls.
        MprisService mpris(delegate.controller());
        mpris.setMonitor(delegate.monitor());
        mpris.setOpener(&delegate.opener());
        // The tray, where there is one: closing the window may leave the
        // station playing there, so the end follows the tray's word rather
        // than the last window closed.
        TrayIcon tray(delegate);
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(&tray, &TrayIcon::ending, &app, [] { QApplication::quit(); });
        QObject::disconnect(delegate.quitAction(), nullptr, delegate.window(), nullptr);
        QObject::connect(delegate.quitAction(), &QAction::triggered, &tray, &TrayIcon::quit);
        QObject::connect(&mpris, &MprisService::quitRequested, &tray, &TrayIcon::quit);
        QObject::connect(&mpris, &MprisService::raiseRequested, &tray, [&tray] {
            writeLogLine("raise: the window comes to the front");
            tray.showWindow();
        });
        // Without a bus the instance has said so already, in one line.
        if (sessionBus.isConnected() || !instance) {
            mpris.registerOn(sessionBus);
        }
        // What happened while the listener looks elsewhere, on the desktop.
        const DesktopNotices notices(delegate, {}, sessionBus);
        // After a suspend or a network change, a dropped station need not
        // wait out its backoff.
        const ResumeWatcher resumes(delegate.controller(), delegate.monitor());
        if (!address.isEmpty()) {
            QTimer::singleShot(0, &app, [&delegate, address] { delegate.opener().open(address); });
        }
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
