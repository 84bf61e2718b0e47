#include "tests/screen/ScreenHarness.h"

#include <QApplication>

#include "controller/StationCatalogue.h"
#include "controller/WeatherReport.h"

namespace orvento::test {
namespace {

using loopback::Script;

PelorinServices withAlerts(const std::shared_ptr<QtAlertService>& alerts,
                           std::shared_ptr<const LocalizedStrings> strings) {
    PelorinServices engine;
    engine.alerts = alerts;
    engine.strings = std::move(strings);
    return engine;
}

}  // namespace

ScreenHarness::ScreenHarness(std::shared_ptr<EngineServices> platform,
                             std::shared_ptr<const LocalizedStrings> strings,
                             const QString& catalogue, const QString& weather, bool waitForSetUp,
                             std::shared_ptr<Settings> settings,
                             const std::function<void(ScreenServices&)>& adjust)
    : ControllerHarness(std::move(platform), withAlerts(alerts, std::move(strings))) {
    site.setScript(kCataloguePath, Script::fixed("[]"));
    site.setScript(kMetarPath, Script::fixed("LTBA 141220Z 34012KT"));
    site.setScript(kTafPath, Script::fixed("TAF LTBA 141100Z"));
    const QString own = QString::fromStdString(site.url(""));
    ScreenServices services;
    services.catalogueBaseUrl = catalogue == kOwnSite ? own : catalogue;
    services.weatherBaseUrl = weather == kOwnSite ? own : weather;
    services.log = log;
    services.settings = std::move(settings);
    mixer = std::make_unique<Mixer>(
        [] {
            AudioOutputChoice output;
            output.kind = AudioOutputChoice::Kind::Null;
            return output;
        }(),
        MixerOptions{.feeds = 2 * kMaxFeeds});
    PelorinServices feeds;
    feeds.workers = &workers;
    monitor = std::make_unique<MonitorController>(*mixer, feeds, log, services.settings);
    services.monitor = monitor.get();
    if (adjust) {
        adjust(services);
    }
    screen_ = std::make_unique<OrventoViewController>(*controller, stations, std::move(services));
    QObject::connect(screen().button, &SpinningButton::imageChanged, screen().button,
                     [this](const QString& name) { images_.append(name); });
    QObject::connect(screen_.get(), &OrventoViewController::setUpDownloadArrived, screen_.get(),
                     [this] { ++arrivals_; });
    alerts->setParentWindow(screen_.get());
    screen_->show();
    screen_->viewDidLoad();
    screen_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(screen_.get()));
    QVERIFY(!waitForSetUp || setUp());
}

ScreenHarness::~ScreenHarness() {
    screen_.reset();
    // The players end before their mixer goes.
    monitor.reset();
    controller.reset();
    workers.shutdown(std::chrono::seconds(10));
    alerts->close();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget) != nullptr) {
            widget->close();
        }
    }
}

bool ScreenHarness::setUp() const {
    // The weather panel is filled last.
    return QTest::qWaitFor(
        [this] { return screen().metar->toPlainText().startsWith(QStringLiteral("METAR:")); },
        15000);
}

QMessageBox* shownAlert() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

}  // namespace orvento::test
