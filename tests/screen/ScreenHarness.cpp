#include "tests/screen/ScreenHarness.h"

#include <QApplication>
#include <QMessageBox>

#include "controller/StationCatalogue.h"
#include "controller/WeatherReport.h"

namespace orvento::test {

using loopback::Script;

namespace {

PelorinServices withAlerts(const std::shared_ptr<QtAlertService>& alerts,
                           std::shared_ptr<const LocalizedStrings> strings) {
    PelorinServices engine;
    engine.alerts = alerts;
    engine.strings = std::move(strings);
    return engine;
}

}  // namespace

ScreenHarness::ScreenHarness(std::shared_ptr<EnginePlatform> platform,
                             std::shared_ptr<const LocalizedStrings> strings,
                             const QString& siteUrl, bool waitForSetUp)
    : ControllerHarness(std::move(platform), withAlerts(alerts, std::move(strings))) {
    site.setScript(kCataloguePath, Script::fixed("[]"));
    site.setScript(kMetarPath, Script::fixed("LTBA 141220Z 34012KT"));
    site.setScript(kTafPath, Script::fixed("TAF LTBA 141100Z"));
    ScreenServices services;
    services.catalogueBaseUrl = services.weatherBaseUrl =
        siteUrl.isEmpty() ? QString::fromStdString(site.url("")) : siteUrl;
    services.log = log;
    screen_ = std::make_unique<OrventoViewController>(*controller, stations, std::move(services));
    QObject::connect(screen().button, &SpinningButton::imageChanged, screen().button,
                     [this](const QString& name) { images_.append(name); });
    alerts->setParentWindow(screen_.get());
    screen_->show();
    screen_->viewDidLoad();
    QVERIFY(QTest::qWaitForWindowExposed(screen_.get()));
    if (waitForSetUp) {
        QTRY_VERIFY_WITH_TIMEOUT(screen().metar->toPlainText().startsWith(QStringLiteral("METAR:")),
                                 15000);
    }
}

ScreenHarness::~ScreenHarness() {
    screen_.reset();
    alerts->close();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget) != nullptr) {
            widget->close();
        }
    }
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
