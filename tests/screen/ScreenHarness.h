// The screen's tests' harness: the real screen (layout, controls) shown as a
// window, on a real controller over the real engine (ControllerHarness), set
// up from a catalogue and weather server of its own or the ones given, with
// a monitor whose feeds play into the null output.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>

#include "controller/StationListModel.h"
#include "screen/OrventoViewController.h"
#include "screen/QtAlertService.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {

// The alerts, made before the controller that shows them.
struct ScreenAlerts {
    const std::shared_ptr<QtAlertService> alerts = std::make_shared<QtAlertService>();
};

class ScreenHarness : public ScreenAlerts, public ControllerHarness {
  public:
    // Set-up's servers: `site`, a server of the harness's own with no station
    // and a line of weather each; another base URL; or none (empty).
    static inline const QString kOwnSite = QStringLiteral("site");

    // The screen shown in an active window, and set up unless
    // `waitForSetUp` is false. Defaults: the null-output platform,
    // untranslated alerts and settings for this screen only.
    explicit ScreenHarness(std::shared_ptr<EngineServices> platform = nullptr,
                           std::shared_ptr<const LocalizedStrings> strings = nullptr,
                           const QString& catalogue = kOwnSite, const QString& weather = kOwnSite,
                           bool waitForSetUp = true, std::shared_ptr<Settings> settings = nullptr,
                           const std::function<void(ScreenServices&)>& adjust = {});
    ~ScreenHarness();

    OrventoViewController& screen() const { return *screen_; }
    SpinningButton& button() const { return *screen().button; }
    // Set-up has applied every download.
    bool setUp() const;

    void setUrlText(const QString& text) const { screen().textField->setText(text); }
    void press() const { QTest::mouseClick(screen().button, Qt::LeftButton); }
    // Every image the button was given, in order, from set-up on.
    const QStringList& images() const { return images_; }
    // Set-up's downloads arrived so far.
    int arrivals() const { return arrivals_; }
    QString status() const { return screen().statusLabel->text(); }

    StationListModel stations;
    loopback::LoopbackServer site;
    // The screen's monitor, on a mixer of its own playing into nothing.
    std::unique_ptr<Mixer> mixer;
    std::unique_ptr<MonitorController> monitor;

  private:
    QStringList images_;
    int arrivals_ = 0;
    std::unique_ptr<OrventoViewController> screen_;
};

// The failure alert shown now, if any.
QMessageBox* shownAlert();

}  // namespace orvento::test
