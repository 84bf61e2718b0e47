#include "engine/player/WorkerRegistry.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>

namespace orvento {
namespace {

void joinAll(std::vector<std::thread>& threads) {
    for (std::thread& t : threads) {
        t.join();
    }
}

}  // namespace

WorkerRegistry::~WorkerRegistry() {
    if (!shutdown(std::chrono::seconds(10))) {
        // Still running after repeated stop requests: blocking the process's
        // exit forever would be worse than leaving them to the exit.
        std::fputs("orvento: stream player threads still running at exit\n", stderr);
        std::lock_guard lock(mutex_);
        for (Worker& w : workers_) {
            w.thread.detach();
        }
        workers_.clear();
    }
}

WorkerRegistry& WorkerRegistry::shared() {
    static WorkerRegistry registry;
    return registry;
}

void WorkerRegistry::spawn(std::function<void()> body, std::function<void()> stopRequest) {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        done = takeFinishedLocked();
        Worker& w = workers_.emplace_back();
        w.stopRequest = std::move(stopRequest);
        // The thread finds its own entry through this iterator; list entries
        // never move while the thread runs.
        auto self = std::prev(workers_.end());
        w.thread = std::thread([this, self, body = std::move(body)]() mutable {
            pthread_setname_np(pthread_self(), "orvento-worker");
            body();
            body = nullptr;  // drop what the body captured before reporting the end
            std::lock_guard l(mutex_);
            self->finished = true;
            changed_.notify_all();
        });
    }
    changed_.notify_all();
    joinAll(done);
}

void WorkerRegistry::reap() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        done = takeFinishedLocked();
    }
    joinAll(done);
}

std::size_t WorkerRegistry::running() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const Worker& w : workers_) {
        n += w.finished ? 0 : 1;
    }
    return n;
}

std::vector<std::thread> WorkerRegistry::takeFinishedLocked() {
    std::vector<std::thread> done;
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished) {
            done.push_back(std::move(it->thread));
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    return done;
}

bool WorkerRegistry::waitForAll(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::thread> done;
    bool allEnded = false;
    {
        std::unique_lock lock(mutex_);
        allEnded = changed_.wait_until(lock, deadline, [this] {
            for (const Worker& w : workers_) {
                if (!w.finished) {
                    return false;
                }
            }
            return true;
        });
        done = takeFinishedLocked();
    }
    joinAll(done);
    return allEnded;
}

bool WorkerRegistry::shutdown(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        std::vector<std::function<void()>> requests;
        for (Worker& w : workers_) {
            if (!w.finished && !w.asked) {
                w.asked = true;
                if (w.stopRequest) {
                    requests.push_back(w.stopRequest);
                }
            }
        }
        if (!requests.empty()) {
            // Called without the lock: a request may end a worker synchronously.
            lock.unlock();
            for (auto& request : requests) {
                request();
            }
            lock.lock();
        }
        const bool settled = changed_.wait_until(lock, deadline, [this] {
            for (const Worker& w : workers_) {
                if (!w.finished && !w.asked) {
                    return true;  // spawned meanwhile: ask it too
                }
            }
            for (const Worker& w : workers_) {
                if (!w.finished) {
                    return false;
                }
            }
            return true;
        });
        if (!settled) {
            break;
        }
        const bool allEnded = std::all_of(workers_.begin(), workers_.end(),
                                          [](const Worker& w) { return w.finished; });
        if (allEnded) {
            break;
        }
    }
    std::vector<std::thread> done = takeFinishedLocked();
    const bool allEnded = workers_.empty();
    lock.unlock();
    joinAll(done);
    return allEnded;
}

}  // namespace orvento
