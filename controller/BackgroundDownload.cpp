#include "controller/BackgroundDownload.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cstdint>

namespace orvento {

BackgroundDownload::BackgroundDownload(std::string url, HttpDownloadOptions options,
                                       QObject* context, Done done)
    : cancelFd_(eventfd(0, EFD_CLOEXEC)) {
    options.cancelFd = cancelFd_;
    thread_ = std::thread(
        [url = std::move(url), options, context, alive = alive_, done = std::move(done)] {
            HttpDownloadResult result = downloadWholeBody(url, options);
            QMetaObject::invokeMethod(
                context,
                [alive, done, result = std::move(result)] {
                    if (*alive) {
                        done(result);
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

}  // namespace orvento
