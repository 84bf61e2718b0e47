// The stream player's failure alert on screen: a modal message box with the
// title, the message and one button, shown on the main thread.
//
// showAlert is called on a player's worker thread. It hands the box to the
// main thread and returns as soon as the box is shown there, not when the
// user dismisses it; dismissing it only closes it. Called on the main thread
// itself, it shows the box at once. After close() no box is shown any more and
// every call returns at once, including calls already waiting: an application
// that has left its event loop calls close() before it waits for the players'
// workers, which would otherwise wait for a main thread that no longer serves
// them.
#pragma once

#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "engine/player/AlertService.h"

namespace orvento {

class QtAlertService : public AlertService {
  public:
    QtAlertService();

    // The window the boxes belong to and are centred on (may be null). Main
    // thread.
    void setParentWindow(QWidget* window);

    void showAlert(const std::string& title, const std::string& message,
                   const std::string& button) override;

    // Any thread.
    void close();

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable shown;  // a box was shown, or close()
        bool closed = false;            // guarded by mutex
        QPointer<QWidget> parent;       // main thread only
    };
    static void showBox(Shared& shared, const QString& title, const QString& message,
                        const QString& button);

    // Shared with the calls posted to the main thread, which may outlive this
    // object.
    const std::shared_ptr<Shared> shared_;
};

}  // namespace orvento
