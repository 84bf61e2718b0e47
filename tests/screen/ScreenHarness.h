// The screen's tests' harness: the real screen (layout, controls) shown as a
// window, on a real controller over the real engine (ControllerHarness),
// against a catalogue and weather server of its own.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QTest>
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
    // The screen shown and set up. Defaults: the null-output platform,
    // untranslated alerts, and a catalogue and weather server of its own with
    // no station and a line of weather each (`site`: both servers' base URL).
    // Returns once set-up has applied every download unless `waitForSetUp`
    // is false.
    explicit ScreenHarness(std::shared_ptr<EnginePlatform> platform = nullptr,
                           std::shared_ptr<const LocalizedStrings> strings = nullptr,
                           const QString& site = {}, bool waitForSetUp = true);
    ~ScreenHarness();

    OrventoViewController& screen() const { return *screen_; }
    SpinningButton& button() const { return *screen().button; }

    void setUrlText(const QString& text) const { screen().textField->setText(text); }
    void press() const { QTest::mouseClick(screen().button, Qt::LeftButton); }
    // Every image the button was given, in order, from set-up on.
    const QStringList& images() const { return images_; }
    QString status() const { return screen().statusLabel->text(); }

    StationListModel stations;
    loopback::LoopbackServer site;

  private:
    QStringList images_;
    std::unique_ptr<OrventoViewController> screen_;
};

// The failure alert shown now, if any.
QMessageBox* shownAlert();

}  // namespace orvento::test
