// A per-thread run loop: the place where a thread's event sources (HTTP read
// streams, timers, work posted from other threads) are served.
//
// Each thread has at most one run loop, created on first use by
// CFRunLoopGetCurrent and shut down when the thread exits. Sources scheduled
// on a run loop are served only on its thread, and only while that thread is
// inside CFRunLoopRunInMode. While nothing is due the thread sleeps in the
// kernel (poll(2) on the sources' descriptors and an eventfd, with the nearest
// timer as the timeout); work posted from another thread wakes it at once.
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
// Only sources scheduled in the running mode or in kCFRunLoopCommonModes take
// part in a pass. A source is never re-entered: while its callback runs, a
// nested CFRunLoopRunInMode neither calls it again nor polls its descriptor.
//
// Shutdown: when the thread exits, the loop stops accepting posted work,
// calls the cancel callback of every signalled source still scheduled (so a
// service can release what it holds on the right thread), and drops the
// pending posted work without running it. Later calls on the loop from other
// threads are harmless: post() returns false, wake-ups do nothing.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/CoreTypes.h"

namespace orvento {

class RunLoop;
// Non-owning; valid until the run loop's thread exits.
using CFRunLoopRef = RunLoop*;
using CFTimeInterval = double;  // seconds

// A run-loop mode. Compared by text. Sources scheduled in kCFRunLoopCommonModes
// are served in kCFRunLoopDefaultMode (and in every other mode). A null mode
// means kCFRunLoopDefaultMode.
using CFRunLoopMode = const char*;
inline constexpr CFRunLoopMode kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
inline constexpr CFRunLoopMode kCFRunLoopCommonModes = "kCFRunLoopCommonModes";

// Results of CFRunLoopRunInMode.
enum : std::int32_t {
    kCFRunLoopRunFinished = 1,       // not used: the loop waits even with no sources
    kCFRunLoopRunStopped = 2,        // CFRunLoopStop was called
    kCFRunLoopRunTimedOut = 3,       // the time was up
    kCFRunLoopRunHandledSource = 4,  // returnAfterSourceHandled and a source was served
};

// The calling thread's run loop, created on first use.
CFRunLoopRef CFRunLoopGetCurrent();

// Serves the calling thread's sources scheduled in `mode` (or in the common
// modes) for `seconds`, sleeping while nothing is due. Returns after the time
// is up, after CFRunLoopStop, or, when returnAfterSourceHandled is true, after
// the first pass that served a source (a ready descriptor, posted work, a
// signalled source or a timer). Waits the whole time even when no source is
// scheduled. With `seconds` 0 (or less) it makes exactly one pass without
// waiting. Must be called on the run loop's own thread; may be nested.
std::int32_t CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                bool returnAfterSourceHandled);

// Makes the innermost CFRunLoopRunInMode of `loop` return (at the end of its
// current pass). A stop that arrives while the loop is not running is
// forgotten. Any thread; a null loop is ignored.
void CFRunLoopStop(CFRunLoopRef loop);

// Wakes `loop` if it sleeps, so that it re-examines its sources. Any thread;
// a null loop is ignored.
void CFRunLoopWakeUp(CFRunLoopRef loop);

// The run loop itself, with the source API that platform services use to
// schedule their work. Obtained through CFRunLoopGetCurrent; other threads
// that must reach a loop safely hold it through shared_from_this().
//
// Threads: the members marked "any thread" may be called from any thread
// while the loop object is alive (they keep it alive until they return, even
// if the loop's thread exits meanwhile); every other member must be called
// on the loop's own thread (it may be
// called from inside a source's callback, including the callback of the
// source it concerns).
class RunLoop : public std::enable_shared_from_this<RunLoop> {
  public:
    // Identifies a scheduled source; 0 is never a valid id.
    using SourceId = std::uint64_t;
    using Clock = std::chrono::steady_clock;

    // Use CFRunLoopGetCurrent. Public only for std::make_shared.
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // --- Any thread ---

    // Queues `work` to run on the loop's thread during its next pass (step 3),
    // in posting order, and wakes the loop. Posted work runs in every mode.
    // Returns false, and drops `work` at once, when the loop is shut down.
    bool post(std::function<void()> work);
    // Marks a signalled source so that it is performed on the next pass, and
    // wakes the loop. Unknown or removed ids are ignored.
    void signal(SourceId id);
    void wakeUp();
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
    SourceId addFdWatch(int fd, short events, CFRunLoopMode mode,
                        std::function<void(short revents)> onReady);
    void setFdWatchEvents(SourceId id, short events);

    // A one-shot timer, created disarmed. armTimer (re)arms it to fire once,
    // `delaySeconds` from now (0 or less: on the next pass); it is disarmed
    // before `onFire` runs, so the callback may arm it again.
    SourceId addTimer(CFRunLoopMode mode, std::function<void()> onFire);
    void armTimer(SourceId id, CFTimeInterval delaySeconds);
    void disarmTimer(SourceId id);

    // A source performed on the pass after signal(). `cancel`, if given, is
    // called once if the loop shuts down while the source is still scheduled
    // (not when the source is removed).
    SourceId addSignalledSource(CFRunLoopMode mode, std::function<void()> perform,
                                std::function<void()> cancel = {});

    // Unschedules any kind of source; its callback is not called again (a
    // callback already running finishes). Unknown ids are ignored. The
    // callback objects are destroyed once no pass uses them any more.
    void removeSource(SourceId id);

    // CFRunLoopRunInMode on this loop.
    std::int32_t run(CFRunLoopMode mode, CFTimeInterval seconds, bool returnAfterSourceHandled);

    // Called once, on the loop's thread, when that thread exits: see the
    // file comment. Also called by tests that end a loop early.
    void shutDown();

  private:
    struct Source;
    using SourcePtr = std::shared_ptr<Source>;

    SourcePtr find(SourceId id) const;
    SourceId add(SourcePtr source);
    void takeForeignWork(std::vector<std::function<void()>>& work);
    Clock::duration waitTime(const std::string& mode, Clock::time_point deadline);
    bool pass(const std::string& mode, Clock::time_point deadline);

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
