// The desktop's idle timer through the session bus: while the idle timer is
// disabled, the desktop neither blanks nor locks the screen.
//
// Disabling it asks, in this order, until one agrees:
//   1. the desktop portal: org.freedesktop.portal.Inhibit.Inhibit with the
//      flag "idle" (8) on org.freedesktop.portal.Desktop; the inhibition lasts
//      until its request object's Close;
//   2. the screen saver: org.freedesktop.ScreenSaver.Inhibit on
//      org.freedesktop.ScreenSaver; it lasts until UnInhibit with its cookie.
// Both services also end an inhibition when the connection that asked for it
// closes, so an application that ends in any way leaves none behind.
// The questions are asked without blocking; the answer (or that there is no
// session bus, or no service agreed) is logged in one line, and the
// application carries on either way. Enabling the idle timer again, or
// destroying the object, ends the inhibition (waiting up to a second for the
// service to take note).
//
// Main thread (the thread of the bus connection's replies).
#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include "controller/DiagnosticLog.h"
#include "screen/IdleTimer.h"

class QDBusPendingCallWatcher;

namespace orvento {

class DesktopIdleInhibitor : public QObject, public IdleTimer {
    Q_OBJECT

  public:
    enum class State {
        enabled,      // the idle timer runs (nothing asked, or the inhibition ended)
        asking,       // waiting for an answer
        portal,       // inhibited through the desktop portal
        screenSaver,  // inhibited through org.freedesktop.ScreenSaver
        unavailable,  // no session bus, or no service agreed
    };

    // Log lines go to `log` (empty: standard error).
    explicit DesktopIdleInhibitor(LogSink log = {},
                                  QDBusConnection bus = QDBusConnection::sessionBus());
    ~DesktopIdleInhibitor() override;
    DesktopIdleInhibitor(const DesktopIdleInhibitor&) = delete;
    DesktopIdleInhibitor& operator=(const DesktopIdleInhibitor&) = delete;

    void setIdleTimerDisabled(bool disabled) override;
    State state() const { return state_; }

  private:
    void askPortal();
    void askScreenSaver(const QString& portalError);
    void portalAnswered(QDBusPendingCallWatcher* call);
    void screenSaverAnswered(QDBusPendingCallWatcher* call, const QString& portalError);
    // An inhibition has been granted `through` a service.
    void held(State state, const QString& through);
    void release();
    void log(const QString& text) const;

    const LogSink log_;
    QDBusConnection bus_;
    bool wanted_ = false;  // the idle timer should be disabled
    State state_ = State::enabled;
    QDBusObjectPath request_;  // the portal's inhibition
    uint cookie_ = 0;          // the screen saver's inhibition
};

}  // namespace orvento
