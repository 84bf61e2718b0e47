// A per-thread run loop: the place where a thread's event sources (HTTP
// streams, timers, work posted from other threads) are served.
//
// Each thread has at most one run loop, created on first use by
// RunLoop::current() and shut down when the thread exits. Sources added to a
// run loop are served only on its thread, and only while that thread is
// inside run(). Every source is served in every run. While nothing is due the
// thread sleeps in the kernel (poll(2) on the sources' descriptors and an
// eventfd, with the nearest timer as the timeout); work posted from another
// thread wakes it at once.
//
// One pass of the loop, in this order:
//   1. wait in the kernel until a watched descriptor is ready, the loop is
//      woken, the nearest timer is due or the run's time is up (no wait at all
//      when posted work or a signalled source is already pending);
//   2. call the watch callback of every ready descriptor;
//   3. run the work posted so far, in posting order;
//   4. perform every signalled source (its signal is cleared first, so a
//      source that signals itself again is performed on the next pass);
//   5. fire every timer that is due, in the order they fell due (a timer
//      armed again for later by an earlier one waits);
//   6. return if the loop was stopped, if a source was served and the caller
//      asked to return after one, or if the time is up.
// A source is never re-entered: while its callback runs, a nested run()
// neither calls it again nor polls its descriptor.
//
// Shutdown: when the thread exits, the loop stops accepting posted work,
// calls the cancel callback of every signalled source still added (so a
// service can release what it holds on the right thread), and drops the
// pending posted work without running it. Later calls on the loop from other
// threads are harmless: post() returns false, wake-ups and stops do nothing.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvento {

class RunLoop : public std::enable_shared_from_this<RunLoop> {
  public:
    // Identifies a scheduled source; 0 is never a valid id.
    using SourceId = std::uint64_t;
    using Clock = std::chrono::steady_clock;
    // A time span; NaN and negative spans count as 0.
    using Seconds = std::chrono::duration<double>;

    // Why run() returned.
    enum class RunResult {
        stopped,        // stop() was called
        timedOut,       // the time was up
        handledSource,  // returnAfterSourceHandled and a source was served
    };

    // The calling thread's run loop, created on first use; valid until the
    // thread exits.
    static RunLoop& current();

    // Use current(). Public only for std::make_shared.
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // --- Any thread ---

    // Queues `work` to run on the loop's thread during its next pass (step 3),
    // in posting order, and wakes the loop; it counts as a served source, so a
    // run that returns after one source returns. Never lost: a loop that is
    // not running yet runs it on its next pass. Returns false, and drops `work` at once, when the
    // loop is shut down.
    bool post(std::function<void()> work);
    // Marks a signalled source so that it is performed on the next pass, and
    // wakes the loop. Unknown or removed ids are ignored.
    void signal(SourceId id);
    // Wakes the loop if it sleeps, so that it re-examines its sources.
    void wakeUp();
    // Makes the innermost run() return at the end of its current pass. A stop
    // that arrives while the loop is not running is forgotten.
    void stop();
    // True when called on the loop's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_; }
    bool isShutDown() const;
    // Passes made so far (kernel waits), for diagnostics: a loop that spins
    // shows it here.
    std::uint64_t passCount() const { return passes_.load(std::memory_order_relaxed); }

    // --- Loop thread only ---

    // Watches `fd` for `events` (POLLIN and/or POLLOUT; 0 watches nothing for
    // now). `onReady` receives the poll(2) revents. The caller keeps owning
    // the descriptor and must remove the watch before closing it.
    SourceId addFdWatch(int fd, short events, std::function<void(short revents)> onReady);
    void setFdWatchEvents(SourceId id, short events);

    // A one-shot timer, created disarmed. armTimer (re)arms it to fire once,
    // `delay` from now (0 or less: on the next pass); it is disarmed before
    // `onFire` runs, so the callback may arm it again.
    SourceId addTimer(std::function<void()> onFire);
    void armTimer(SourceId id, Seconds delay);
    void disarmTimer(SourceId id);

    // A source performed on the pass after signal(). `cancel`, if given, is
    // called once if the loop shuts down while the source is still scheduled
    // (not when the source is removed).
    SourceId addSignalledSource(std::function<void()> perform, std::function<void()> cancel = {});

    // Unschedules any kind of source; its callback is not called again (a
    // callback already running finishes). Unknown ids are ignored. The
    // callback objects are destroyed once no pass uses them any more.
    void removeSource(SourceId id);

    // Serves the sources for `time`, sleeping while nothing is due. Returns
    // after the time is up, after stop(), or, when returnAfterSourceHandled
    // is true, after the first pass that served a source (a ready
    // descriptor, posted work, a signalled source or a timer). Waits the
    // whole time even when no source is added. With a `time` of 0 (or less)
    // it makes exactly one pass without waiting. May be nested.
    RunResult run(Seconds time, bool returnAfterSourceHandled);

    // Called once, on the loop's thread, when that thread exits: see the
    // file comment. Also called by tests that end a loop early.
    void shutDown();

  private:
    struct Source;
    using SourcePtr = std::shared_ptr<Source>;

    SourcePtr find(SourceId id) const;
    SourceId add(SourcePtr source);
    void takeForeignWork(std::vector<std::function<void()>>& work);
    Clock::duration waitTime(Clock::time_point deadline);
    bool pass(Clock::time_point deadline);

    // Owned by the loop's thread.
    const std::thread::id thread_;
    std::map<SourceId, SourcePtr> sources_;  // ordered: sources are served in creation order
    SourceId nextId_ = 1;
    bool shutDownDone_ = false;

    // Shared with other threads, guarded by mutex_.
    mutable std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
    std::vector<SourceId> foreignSignals_;
    bool acceptingWork_ = true;

    // Shared with other threads, lock-free.
    const int wakeFd_;  // eventfd; written to wake the loop
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint64_t> passes_{0};
};

}  // namespace orvento
