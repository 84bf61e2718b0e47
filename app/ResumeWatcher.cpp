#include "app/ResumeWatcher.h"

#include <QDBusError>
#include <string>

#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"

namespace orvento {

ResumeWatcher::ResumeWatcher(PlaybackController& window, MonitorController* monitor, LogSink log,
                             QDBusConnection systemBus)
    : window_(window), monitor_(monitor), log_(std::move(log)) {
    if (!systemBus.isConnected()) {
        writeLogLine(log_, "no system bus: " + systemBus.lastError().message().toStdString() +
                               "; after a suspend the station comes back on its own time");
    } else if (!systemBus.connect(QLatin1String(kLogindService), QLatin1String(kLogindPath),
                                  QLatin1String(kLogindManager), QStringLiteral("PrepareForSleep"),
                                  this, SLOT(prepareForSleep(bool)))) {
        writeLogLine(log_, "no resume signal: " + systemBus.lastError().message().toStdString() +
                               "; after a suspend the station comes back on its own time");
    }

    if (!QNetworkInformation::loadDefaultBackend() || QNetworkInformation::instance() == nullptr) {
        writeLogLine(log_,
                     "no network reachability backend: when the network comes back the "
                     "station comes back on its own time");
        return;
    }
    QNetworkInformation* network = QNetworkInformation::instance();
    reachability_ = network->reachability();
    connect(network, &QNetworkInformation::reachabilityChanged, this,
            &ResumeWatcher::reachabilityChanged);
}

void ResumeWatcher::prepareForSleep(bool sleeping) {
    if (!sleeping) {
        retryNow("woke up");
    }
}

void ResumeWatcher::reachabilityChanged(QNetworkInformation::Reachability reachability) {
    // Only the change to Online: the network being there all along says
    // nothing about a waiting attempt's chances.
    const bool cameBack = reachability == QNetworkInformation::Reachability::Online &&
                          reachability_ != QNetworkInformation::Reachability::Online;
    reachability_ = reachability;
    if (cameBack) {
        retryNow("network online");
    }
}

void ResumeWatcher::retryNow(const char* why) {
    int started = 0;
    const auto retry = [&started](PlaybackController& player) {
        if (player.reconnectWaiting()) {
            player.retryNow();
            ++started;
        }
    };
    retry(window_);
    for (int row = 0; monitor_ != nullptr && row < monitor_->count(); ++row) {
        retry(monitor_->player(row));
    }
    if (started > 0) {
        writeLogLine(log_, std::string(why) + ": reconnecting " + std::to_string(started) +
                               (started == 1 ? " station now" : " stations now"));
    }
}

}  // namespace orvento
