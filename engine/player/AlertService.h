// How a stream player tells its user that playback failed: one modal alert
// with a title, a message and a single button. The application supplies the
// real dialog; the command-line player prints the texts.
//
// The player calls showAlert on its worker thread and waits only until the
// alert has been shown, not until the user dismisses it: an implementation
// that presents the dialog on a user-interface thread hands it over there,
// waits until the dialog is up and returns. Dismissing the alert has no effect
// on the player. Several players may call at once.
#pragma once

#include <string>

namespace orvento {

class AlertService {
  public:
    virtual ~AlertService() = default;

    // Shows the alert; returns once it is visible. The texts are already
    // localised; `button` is the one (cancel) button.
    virtual void showAlert(const std::string& title, const std::string& message,
                           const std::string& button) = 0;
};

// Writes "<title>: <message>" as one line on standard error: for programs
// without a user interface.
class StandardErrorAlertService : public AlertService {
  public:
    void showAlert(const std::string& title, const std::string& message,
                   const std::string& button) override;
};

}  // namespace orvento
