#include "app/OrventoApplication.h"

#include <QLocale>
#include <QPalette>
#include <QStyleFactory>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/ApplicationId.h"
#include "app/DesktopIdleInhibitor.h"
#include "app/MprisService.h"
#include "engine/EnginePlatform.h"
#include "engine/WorkerRegistry.h"
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

void applyOrventoLook(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette;
    const QColor text(0xe8, 0xee, 0xf6);
    const QColor muted(0x5d, 0x70, 0x90);
    palette.setColor(QPalette::Window, QColor(0x0f, 0x20, 0x36));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0x0b, 0x18, 0x28));
    palette.setColor(QPalette::AlternateBase, QColor(0x12, 0x23, 0x3a));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x6b, 0x7f, 0x9c));
    palette.setColor(QPalette::Button, QColor(0x1f, 0x36, 0x57));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x8f, 0x7d));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x12, 0x23, 0x3a));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0x45, 0xe0, 0xc2));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, muted);
    }
    QApplication::setPalette(palette);
}

int orventoMain(int& argc, char** argv, const LaunchHooks& hooks) {
    if (!displayAvailable()) {
        std::fputs(
            "orvento: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not "
            "set); orvento-play plays a stream from the command line\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvento"));
    QGuiApplication::setDesktopFileName(QLatin1String(kApplicationId));
    applyOrventoLook(app);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale::system());

    auto alerts = std::make_shared<QtAlertService>();
    ScreenServices services;
    services.engine.platform = std::make_shared<EnginePlatform>();
    services.engine.alerts = alerts;
    services.engine.strings = errorsTable();
    services.engine.workers = &WorkerRegistry::shared();
    services.catalogueBaseUrl =
        serverFromEnvironment(kCatalogueUrlVariable, ORVENTO_DEFAULT_CATALOGUE_URL);
    services.weatherBaseUrl =
        serverFromEnvironment(kWeatherUrlVariable, ORVENTO_DEFAULT_WEATHER_URL);
    // Held until the end of the run; it ends the inhibition as it goes.
    const auto idleTimer = std::make_shared<DesktopIdleInhibitor>();
    services.idleTimer = idleTimer;

    int status = 0;
    {
        OrventoAppDelegate delegate(std::move(services));
        alerts->setParentWindow(delegate.window());
        delegate.applicationDidFinishLaunching();
        // The media keys and the desktop's media controls.
        MprisService mpris(*delegate.viewController(), *delegate.window());
        mpris.registerOn(QDBusConnection::sessionBus());
        if (hooks.launched) {
            QTimer::singleShot(0, &app, [&] { hooks.launched(delegate); });
        }
        status = QApplication::exec();
        // A worker waiting for its alert to be shown would wait for ever now.
        alerts->close();
    }
    // The screen stopped its player as it went; let every worker finish.
    WorkerRegistry::shared().shutdown(kWorkersShutdown);
    return status;
}

}  // namespace orvento
