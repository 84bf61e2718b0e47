#include "controller/BackgroundDownload.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cstdint>

namespace orvento {

QString serverUrl(const QString& baseUrl, const QString& path) {
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + path;
}

BackgroundDownload::BackgroundDownload(std::string url, HttpDownloadOptions options,
                                       QObject* context, Finish finish)
    : cancelFd_(eventfd(0, EFD_CLOEXEC)) {
    options.cancelFd = cancelFd_;
    thread_ = std::thread(
        [url = std::move(url), options, context, alive = alive_, finish = std::move(finish)] {
            std::function<void()> apply = finish(downloadWholeBody(url, options));
            QMetaObject::invokeMethod(
                context,
                [alive, apply = std::move(apply)] {
                    if (*alive && apply) {
                        apply();
                    }
                },
                Qt::QueuedConnection);
        });
}

BackgroundDownload::~BackgroundDownload() {
    *alive_ = false;
    const std::uint64_t one = 1;
    if (cancelFd_ >= 0 && write(cancelFd_, &one, sizeof one) < 0) {
        // Nothing more to do: the download then ends by its own limits.
    }
    thread_.join();
    if (cancelFd_ >= 0) {
        close(cancelFd_);
    }
}

BackgroundDownload::Finish BackgroundDownload::deliver(Done done) {
    return [done = std::move(done)](HttpDownloadResult result) -> std::function<void()> {
        return [done, result = std::move(result)] { done(result); };
    };
}

}  // namespace orvento
