// A per-thread run loop: the place where a thread's event sources (HTTP read
// streams, timers, work posted from other threads) are served.
//
// Each thread has at most one run loop, created on first use by
// CFRunLoopGetCurrent and destroyed when the thread exits. Sources scheduled
// on a run loop are served only on its thread, and only while that thread is
// inside CFRunLoopRunInMode. While nothing is due the thread sleeps in the
// kernel; work posted from another thread wakes it at once.
#pragma once

#include "engine/platform/CoreTypes.h"

namespace orvento {

class RunLoop;
// Non-owning; valid until the run loop's thread exits.
using CFRunLoopRef = RunLoop*;
using CFTimeInterval = double;  // seconds

// A run-loop mode. Compared by text. Sources scheduled in kCFRunLoopCommonModes
// are served in kCFRunLoopDefaultMode (and in every other mode).
using CFRunLoopMode = const char*;
inline constexpr CFRunLoopMode kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
inline constexpr CFRunLoopMode kCFRunLoopCommonModes = "kCFRunLoopCommonModes";

// Results of CFRunLoopRunInMode.
enum : SInt32 {
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
// the first source served. Waits the whole time even when no source is
// scheduled. Must be called on the run loop's own thread; may be nested.
SInt32 CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                          Boolean returnAfterSourceHandled);

// Makes the innermost CFRunLoopRunInMode of `loop` return. Any thread.
void CFRunLoopStop(CFRunLoopRef loop);

// Wakes `loop` if it sleeps, so that it re-examines its sources. Any thread.
void CFRunLoopWakeUp(CFRunLoopRef loop);

}  // namespace orvento
