// Desktop notifications through the session bus: each notice becomes one
// org.freedesktop.Notifications.Notify (plain text: where the server reads
// markup in the body, <, > and & are escaped), with the application's icon
// and desktop entry, shown for the server's usual time.
//
// Calls never block: no notification server, a bus that is gone or a server
// that errs is said in one log line ("no desktop notifications: ..."), and
// said again only after a notice has gone through since. Nothing waits for a
// reply at the end.
//
// Main thread (the thread of the bus connection's replies).
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

#include "controller/DiagnosticLog.h"

class QDBusPendingCallWatcher;

namespace orvento {

class DesktopNotifier : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    explicit DesktopNotifier(LogSink log = {}, QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    void notify(const QString& summary, const QString& body);
    // Notices the desktop has not taken so far (each logged or not).
    int failures() const { return failures_; }

  private:
    struct Pending {
        QString summary;
        QString body;
    };
    void askCapabilities();
    void send(const Pending& notice);
    void failed(const QString& why);
    void log(const QString& text) const;

    const LogSink log_;
    QDBusConnection bus_;
    std::optional<bool> markup_;  // known once the server has said its capabilities
    bool asking_ = false;
    QList<Pending> waiting_;  // for the capabilities
    bool failureSaid_ = false;
    int failures_ = 0;
};

}  // namespace orvento
