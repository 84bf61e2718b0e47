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
    : BackgroundDownload(
          [url = std::move(url), options, finish = std::move(finish)](int cancelFd) mutable {
              options.cancelFd = cancelFd;
              return finish(downloadWholeBody(url, options));
          },
          context) {}

BackgroundDownload::BackgroundDownload(Work work, QObject* context)
    : cancelFd_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([work = std::move(work), cancelFd = cancelFd_, context, alive = alive_,
                           finished = finished_] {
        std::function<void()> apply = work(cancelFd);
        *finished = true;
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
