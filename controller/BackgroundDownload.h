// BackgroundDownload: one whole-body download (HttpDownload) on a thread of
// its own, so the main thread never waits for a server.
//
// The constructor starts it. When it has ended, `finish` runs on the
// download's thread with the result, so that the work of reading it
// (parsing a catalogue, decoding a report) does not hold up the main thread
// either; the call `finish` returns then runs on `context`'s thread (for a
// QObject of the main thread: later, by the main event loop), unless this
// object has gone first. deliver(done) makes a `finish` that only hands the
// result to `done` on `context`'s thread. The destructor abandons a download
// under way (it fails at once, whatever its time limits) and joins the
// thread: it returns within milliseconds (plus the time `finish` takes), so a
// window that closes during a download ends at once. Several downloads run
// side by side, each on its own thread.
//
// The second constructor runs `work` in place of one download: several
// downloads in a row, each given the cancel descriptor (HttpDownloadOptions::
// cancelFd) so that the destructor ends them all the same way.
//
// Create and destroy on `context`'s thread; `context` outlives this object.
// `finish` must not touch what belongs to `context`'s thread.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/net/HttpDownload.h"

namespace orvento {

// The URL of `path` on the server at `baseUrl` ("http://host:port"): the
// base's trailing slashes dropped, as the paths bring their own.
QString serverUrl(const QString& baseUrl, const QString& path);

class BackgroundDownload {
  public:
    using Done = std::function<void(const HttpDownloadResult& result)>;
    using Finish = std::function<std::function<void()>(HttpDownloadResult result)>;
    using Work = std::function<std::function<void()>(int cancelFd)>;

    BackgroundDownload(std::string url, HttpDownloadOptions options, QObject* context,
                       Finish finish);
    BackgroundDownload(Work work, QObject* context);
    ~BackgroundDownload();
    BackgroundDownload(const BackgroundDownload&) = delete;
    BackgroundDownload& operator=(const BackgroundDownload&) = delete;

    static Finish deliver(Done done);
    // The download (or work) has ended; its result is on its way to `context`.
    bool finished() const { return finished_->load(); }

  private:
    int cancelFd_ = -1;  // an eventfd: written to abandon the download
    // False once this object goes; read by the posted call (context's thread).
    const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    const std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(false);
    std::thread thread_;
};

}  // namespace orvento
