#include "app/SessionInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "app/ApplicationId.h"
#include "app/MprisService.h"

namespace orvento {

SessionInstance::SessionInstance(const QDBusConnection& bus, LogSink sink) : log_(std::move(sink)) {
    if (!bus.isConnected()) {
        log(QStringLiteral("session: no D-Bus session bus (%1): a second start of Orvento will "
                           "open a window of its own, and the media keys will not reach this one")
                .arg(bus.lastError().message()));
        return;
    }
    const QString name = QLatin1String(kApplicationId);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claim =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (claim.isValid() && claim.value() == QDBusConnectionInterface::ServiceRegistered) {
        bus_ = bus;
        outcome_ = Outcome::first;
        return;
    }
    const uint holder = bus.interface()->servicePid(name).value();
    const QString error = handOver(bus);
    if (error.isEmpty()) {
        log(QStringLiteral("session: Orvento runs already (process %1): its window was raised")
                .arg(holder));
        outcome_ = Outcome::handedOver;
        return;
    }
    log(QStringLiteral("session: %1 is held (process %2), but its window could not be raised "
                       "(%3): this start opens a window of its own")
            .arg(name)
            .arg(holder)
            .arg(error));
}

SessionInstance::~SessionInstance() {
    if (bus_) {
        bus_->interface()->unregisterService(QLatin1String(kApplicationId));
    }
}

QString SessionInstance::handOver(const QDBusConnection& bus) {
    const QString mpris = QLatin1String(MprisService::kServiceName);
    const QDeadlineTimer deadline(kHandOverTimeout);
    if (!bus.interface()->isServiceRegistered(mpris).value()) {
        // The running one is still starting: its MPRIS name comes with its window.
        QEventLoop loop;
        QDBusServiceWatcher watcher(mpris, bus, QDBusServiceWatcher::WatchForRegistration);
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop,
                         &QEventLoop::quit);
        QTimer::singleShot(static_cast<int>(deadline.remainingTime()), &loop, &QEventLoop::quit);
        // Registered between the question and the watch: not signalled.
        if (!bus.interface()->isServiceRegistered(mpris).value()) {
            loop.exec();
        }
    }
    const QDBusMessage raise = QDBusMessage::createMethodCall(
        mpris, QLatin1String(MprisService::kObjectPath),
        QLatin1String(MprisService::kRootInterface), QStringLiteral("Raise"));
    const QDBusMessage reply = bus.call(
        raise, QDBus::Block, static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {};
    }
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

void SessionInstance::log(const QString& text) const {
    writeLogLine(log_, text.toStdString());
}

}  // namespace orvento
