// Brings a dropped station back as soon as it can play again: after the
// machine wakes from suspend, and when the network comes back. Until then the
// players' own backoff waits run on; this only cuts a wait short.
//
// What it watches:
//   - logind's PrepareForSleep(bool) (org.freedesktop.login1,
//     /org/freedesktop/login1, org.freedesktop.login1.Manager) on the given
//     system bus; the signal with false says the machine has woken up;
//   - Qt's network reachability (the default backend, NetworkManager on a
//     desktop); a change to Online says the network is back.
// Either event calls retryNow() on the window's controller and on every feed
// of the monitor: a player that waits for its next attempt starts it at
// once, and nothing else changes. A line is logged when one does.
// Without a system bus, or without a reachability backend, one line says so
// and the backoff alone brings the station back.
//
// Main thread only (the bus connection's signals and the reachability
// backend's are delivered there). The controllers outlive the watcher.
#pragma once

#include <QDBusConnection>
#include <QNetworkInformation>
#include <QObject>

#include "controller/DiagnosticLog.h"

namespace orvento {

class MonitorController;
class PlaybackController;

class ResumeWatcher : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kLogindService = "org.freedesktop.login1";
    static constexpr const char* kLogindPath = "/org/freedesktop/login1";
    static constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

    // `monitor` may be null (no monitor). Log lines go to `log` (empty:
    // standard error).
    ResumeWatcher(PlaybackController& window, MonitorController* monitor, LogSink log = {},
                  QDBusConnection systemBus = QDBusConnection::systemBus());

  private slots:
    void prepareForSleep(bool sleeping);

  private:
    void reachabilityChanged(QNetworkInformation::Reachability reachability);
    // Starts every waiting attempt now; `why` names the event in the log.
    void retryNow(const char* why);

    PlaybackController& window_;
    MonitorController* const monitor_;
    const LogSink log_;
    QNetworkInformation::Reachability reachability_ = QNetworkInformation::Reachability::Unknown;
};

}  // namespace orvento
