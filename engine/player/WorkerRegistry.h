// Owns the stream players' worker threads, so that no worker outlives what it
// touches and none is left detached.
//
// A worker is started with spawn(); its body runs on a new thread that the
// registry keeps. When a body returns, its thread is marked finished and is
// joined by the next spawn(), reap(), waitForAll() or shutdown() (whichever
// comes first, on that caller's thread); a thread never joins itself.
//
// Every worker may come with a stop request: shutdown() calls the request of
// each worker still running, once (also of workers spawned while it waits),
// waits until all have ended, then joins them. A program calls shutdown()
// before it leaves main(); the registry's destructor does the same as a last
// resort, with a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace orvento {

class WorkerRegistry {
  public:
    WorkerRegistry() = default;
    ~WorkerRegistry();
    WorkerRegistry(const WorkerRegistry&) = delete;
    WorkerRegistry& operator=(const WorkerRegistry&) = delete;

    // The registry stream players use unless they are given another.
    static WorkerRegistry& shared();

    // Runs `body` on a new thread. `stopRequest` (may be empty) asks the body
    // to end soon; it is called from shutdown()'s thread and must not block
    // for long. Any thread, also a worker.
    void spawn(std::function<void()> body, std::function<void()> stopRequest = {});

    // Joins the workers whose bodies have returned.
    void reap();

    // Workers whose bodies have not returned yet.
    std::size_t running() const;

    // Waits until every body has returned or `timeout` passed; joins the
    // finished ones. True when none is left running. Must not be called on a
    // worker thread.
    bool waitForAll(std::chrono::milliseconds timeout);

    // Sends the stop request of every running worker once, and waits until
    // all have ended or `timeout` passed; joins them. True when none is left
    // running.
    bool shutdown(std::chrono::milliseconds timeout);

  private:
    struct Worker {
        std::thread thread;
        std::function<void()> stopRequest;
        bool finished = false;
        bool asked = false;  // its stop request was sent
    };

    // Takes the finished workers out of the list, to be joined without the lock.
    std::vector<std::thread> takeFinishedLocked();

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a body returned, or a worker was spawned
    std::list<Worker> workers_;        // guarded by mutex_
};

}  // namespace orvento
