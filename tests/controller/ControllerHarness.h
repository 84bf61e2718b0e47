// What the controller's, the screen's and the application's tests share: the
// real engine playing into a null output in real time, a loopback station, a
// platform with gates that hold a player, and a controller on them whose log
// lines are kept.
#pragma once

#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>

#include "controller/PlaybackController.h"
#include "engine/player/WorkerRegistry.h"
#include "tests/engine/player/HookedServices.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {

// The real platform playing into nothing, in real time.
std::shared_ptr<EngineServices> nullOutputPlatform();

// A live station: a short MP3 (4000 bytes a second) repeated for ever, or up
// to `bytes`; its first 40000 bytes at once, then in real time.
loopback::Script liveStation(std::optional<std::uint64_t> bytes = std::nullopt);
// The same station, whose first `drops` connections close after
// `bytesPerConnection` each; the next one stays (a minute of talk). Each
// connection goes on with the station's talk where the last one closed, as
// a live station's does.
loopback::Script droppingStation(std::uint64_t bytesPerConnection, int drops);

// A barrier a test closes and opens; open at first.
class Gate {
  public:
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    void open() {
        std::lock_guard lock(mutex_);
        closed_ = false;
        opened_.notify_all();
    }
    // Returns once the gate is open.
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        opened_.wait(lock, [this] { return !closed_; });
        --waiting_;
    }
    int waiting() const {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
    int waiting_ = 0;
};

// The real platform (null output) with two gates: one holds a player's worker
// before it opens anything (its stream does not exist yet), one holds each
// output queue's report that it stopped running. It counts the reports that
// a queue runs, once their listener has returned (a controller has posted
// what it makes of them then).
class GatedServices : public HookedServices {
  public:
    GatedServices();
    Gate beforeOpening;
    Gate beforeStoppedReport;
    // Waits, without running the caller's events, until `count` running
    // reports were delivered; false at the deadline.
    bool waitForRunningReports(int count, std::chrono::milliseconds timeout);

  private:
    std::optional<StatusCode> before(const ServiceCall& call) override;
    void interpose(OutputQueue::Listener*& listener) override;

    // Stands between a queue and the engine's listener.
    class GatedListener : public OutputQueue::Listener {
      public:
        GatedListener(OutputQueue::Listener& engine, GatedServices& owner)
            : engine_(engine), owner_(owner) {}
        void bufferComplete(OutputQueue::Buffer& buffer) override {
            engine_.bufferComplete(buffer);
        }
        void runningChanged(bool running) override;

      private:
        OutputQueue::Listener& engine_;
        GatedServices& owner_;
    };

    std::mutex mutex_;
    std::condition_variable reported_;
    std::list<GatedListener> listeners_;  // guarded by mutex_; never shrinks
    int runningReports_ = 0;              // guarded by mutex_
};

// Counts the failure alerts the players show.
class AlertCount : public AlertService {
  public:
    void showAlert(const std::string&, const std::string&, const std::string&) override { ++shown; }
    std::atomic<int> shown{0};
};

// A controller on `platform` (default: the null output) with a station
// server of its own and its log lines kept. The destructor lets every player
// end.
class ControllerHarness {
  public:
    explicit ControllerHarness(std::shared_ptr<EngineServices> platform = nullptr,
                               PelorinServices engine = {});
    ~ControllerHarness();
    ControllerHarness(const ControllerHarness&) = delete;
    ControllerHarness& operator=(const ControllerHarness&) = delete;

    QStringList logLines() const;
    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }

    loopback::LoopbackServer server;
    WorkerRegistry workers;
    const LogSink log;
    std::unique_ptr<PlaybackController> controller;

  private:
    mutable std::mutex logMutex_;
    QStringList log_;  // guarded by logMutex_
};

}  // namespace orvento::test
