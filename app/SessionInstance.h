// One Orvento a desktop session: a second start raises the window of the one
// running instead of opening a window of its own beside it (which would lose
// the MPRIS name and write the same settings).
//
// Every start claims kApplicationId as a name on the session bus, without
// queueing, before it builds anything: of two starts, even at once, exactly
// one gets it and holds it while its SessionInstance lives. A start that
// does not get it waits for the running Orvento's MPRIS service (up to
// kHandOverTimeout: it may still be starting) and hands its request over as
// an MPRIS call, Raise on the root interface; a start given an address would
// hand it over the same way, as OpenUri on the player interface. Then it ends.
//
// Without a session bus it says so in one log line and the start runs as a
// window of its own, as does a start whose request the running one did not
// take (a line saying why); its MPRIS service then takes the name of its
// process (MprisService).
//
// Main thread, after the QApplication is made.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <optional>

#include "controller/DiagnosticLog.h"

namespace orvento {

class SessionInstance {
  public:
    enum class Outcome {
        first,       // this start holds the name: it builds the window
        handedOver,  // the running Orvento took the request: this start ends, status 0
        alone,       // no session bus, or the request was not taken: a window of its own
    };

    static constexpr std::chrono::milliseconds kHandOverTimeout{700};

    // Claims the name on `bus` and, when another start holds it, hands the
    // request over. `log`: where its lines go (empty: standard error).
    explicit SessionInstance(const QDBusConnection& bus, LogSink sink = {});
    // Gives the name back.
    ~SessionInstance();
    SessionInstance(const SessionInstance&) = delete;
    SessionInstance& operator=(const SessionInstance&) = delete;

    Outcome outcome() const { return outcome_; }

  private:
    // Raise on the running Orvento's MPRIS service, once it is there; the
    // bus's error, or empty when it was taken.
    QString handOver(const QDBusConnection& bus);
    void log(const QString& text) const;

    const LogSink log_;
    std::optional<QDBusConnection> bus_;  // set while the name is held
    Outcome outcome_ = Outcome::alone;
};

}  // namespace orvento
