#include "app/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "app/ApplicationId.h"

namespace orvento {
namespace {

constexpr const char* kApplicationName = "Orvento";
constexpr int kCallTimeoutMs = 5000;
constexpr int kServersUsualTime = -1;  // expire_timeout: the server decides

}  // namespace

DesktopNotifier::DesktopNotifier(LogSink log, QDBusConnection bus, QObject* parent)
    : QObject(parent), log_(std::move(log)), bus_(std::move(bus)) {}

void DesktopNotifier::log(const QString& text) const {
    writeLogLine(log_, text.toStdString());
}

void DesktopNotifier::failed(const QString& why) {
    ++failures_;
    if (!failureSaid_) {
        failureSaid_ = true;
        log(QStringLiteral("no desktop notifications: ") + why);
    }
}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        failed(QStringLiteral("no session bus (%1)").arg(bus_.lastError().message()));
        return;
    }
    if (markup_) {
        send({summary, body});
        return;
    }
    waiting_.append({summary, body});
    if (!asking_) {
        askCapabilities();
    }
}

void DesktopNotifier::askCapabilities() {
    asking_ = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
        QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                asking_ = false;
                const QDBusPendingReply<QStringList> reply = *answered;
                const QList<Pending> waiting = std::exchange(waiting_, {});
                if (reply.isError()) {
                    // Asked again with the next notice: a server may come.
                    for (qsizetype i = 0; i < waiting.size(); ++i) {
                        failed(reply.error().message());
                    }
                    return;
                }
                markup_ = reply.value().contains(QStringLiteral("body-markup"));
                for (const Pending& each : waiting) {
                    send(each);
                }
            });
}

void DesktopNotifier::send(const Pending& notice) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    const QString body = *markup_ ? notice.body.toHtmlEscaped() : notice.body;
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QLatin1String(kApplicationId)},
    };
    call << QLatin1String(kApplicationName) << uint{0} << QLatin1String(kApplicationId)
         << notice.summary << body << QStringList{} << hints << kServersUsualTime;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                const QDBusPendingReply<uint> reply = *answered;
                if (reply.isError()) {
                    // The server went away: learn its capabilities again.
                    markup_.reset();
                    failed(reply.error().message());
                } else {
                    failureSaid_ = false;
                }
            });
}

}  // namespace orvento
