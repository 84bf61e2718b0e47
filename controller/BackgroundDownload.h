// BackgroundDownload: one whole-body download (HttpDownload) on a thread of
// its own, so the main thread never waits for a server.
//
// The constructor starts it; when it has ended, `done` is called with the
// result on `context`'s thread (for a QObject of the main thread: later, by the
// main event loop), unless this object has gone first. The
// destructor abandons a download under way (it fails at once, whatever its
// time limits) and joins the thread: it returns within milliseconds, so a
// window that closes during a download ends at once. Several downloads run
// side by side, each on its own thread.
//
// Create and destroy on `context`'s thread; `context` outlives this object.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/platform/http/HttpDownload.h"

namespace orvento {

class BackgroundDownload {
  public:
    using Done = std::function<void(const HttpDownloadResult& result)>;

    BackgroundDownload(std::string url, HttpDownloadOptions options, QObject* context, Done done);
    ~BackgroundDownload();
    BackgroundDownload(const BackgroundDownload&) = delete;
    BackgroundDownload& operator=(const BackgroundDownload&) = delete;

  private:
    int cancelFd_ = -1;  // an eventfd: written to abandon the download
    // False once this object goes; read by the posted call (context's thread).
    const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::thread thread_;
};

}  // namespace orvento
