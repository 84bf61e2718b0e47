#include "app/DesktopIdleInhibitor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace orvento {
namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalInterface = "org.freedesktop.portal.Inhibit";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr uint kInhibitIdle = 8;  // the portal's flag for "idle"

constexpr const char* kScreenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kScreenSaverInterface = "org.freedesktop.ScreenSaver";

constexpr const char* kApplicationName = "Orvento";
constexpr const char* kReason = "Playing air-traffic control radio";

constexpr int kAskTimeoutMs = 5000;
constexpr int kReleaseTimeoutMs = 1000;

}  // namespace

DesktopIdleInhibitor::DesktopIdleInhibitor(LogSink log, QDBusConnection bus)
    : log_(std::move(log)), bus_(std::move(bus)) {}

DesktopIdleInhibitor::~DesktopIdleInhibitor() {
    release();
}

void DesktopIdleInhibitor::log(const QString& text) const {
    writeLogLine(log_, text.toStdString());
}

void DesktopIdleInhibitor::setIdleTimerDisabled(bool disabled) {
    wanted_ = disabled;
    if (!disabled) {
        release();
        return;
    }
    if (state_ != State::enabled) {
        return;  // asked already, held, or known to be impossible
    }
    if (!bus_.isConnected()) {
        state_ = State::unavailable;
        log(QStringLiteral("screen not kept awake: no session bus (%1)")
                .arg(bus_.lastError().message()));
        return;
    }
    askPortal();
}

void DesktopIdleInhibitor::askPortal() {
    state_ = State::asking;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                       QLatin1String(kPortalInterface), QStringLiteral("Inhibit"));
    const QVariantMap options{{QStringLiteral("reason"), QLatin1String(kReason)}};
    call << QString() << kInhibitIdle << options;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAskTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            &DesktopIdleInhibitor::portalAnswered);
}

void DesktopIdleInhibitor::portalAnswered(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError()) {
        askScreenSaver(reply.error().message());
        return;
    }
    request_ = reply.value();
    held(State::portal, QStringLiteral("the desktop portal"));
}

void DesktopIdleInhibitor::askScreenSaver(const QString& portalError) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kScreenSaverService), QLatin1String(kScreenSaverPath),
        QLatin1String(kScreenSaverInterface), QStringLiteral("Inhibit"));
    call << QLatin1String(kApplicationName) << QLatin1String(kReason);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAskTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, portalError](QDBusPendingCallWatcher* answered) {
                screenSaverAnswered(answered, portalError);
            });
}

void DesktopIdleInhibitor::screenSaverAnswered(QDBusPendingCallWatcher* call,
                                               const QString& portalError) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        state_ = State::unavailable;
        log(QStringLiteral("screen not kept awake: the desktop portal: %1; the screen saver: %2")
                .arg(portalError, reply.error().message()));
        return;
    }
    cookie_ = reply.value();
    held(State::screenSaver, QStringLiteral("org.freedesktop.ScreenSaver"));
}

void DesktopIdleInhibitor::held(State state, const QString& through) {
    state_ = state;
    log(QStringLiteral("screen kept awake through ") + through);
    // Released while the answer was on its way.
    if (!wanted_) {
        release();
    }
}

void DesktopIdleInhibitor::release() {
    QDBusMessage call;
    if (state_ == State::portal) {
        call = QDBusMessage::createMethodCall(QLatin1String(kPortalService), request_.path(),
                                              QLatin1String(kRequestInterface),
                                              QStringLiteral("Close"));
    } else if (state_ == State::screenSaver) {
        call = QDBusMessage::createMethodCall(
            QLatin1String(kScreenSaverService), QLatin1String(kScreenSaverPath),
            QLatin1String(kScreenSaverInterface), QStringLiteral("UnInhibit"));
        call << cookie_;
    } else {
        return;  // nothing held; an answer still to come is released when it comes
    }
    state_ = State::enabled;
    bus_.call(call, QDBus::Block, kReleaseTimeoutMs);
}

}  // namespace orvento
