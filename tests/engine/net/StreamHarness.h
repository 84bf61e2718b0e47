// Drives HTTP read streams in tests: a client that records every event and
// reads (or not) as told, and a loop runner and a wait with deadlines.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/HttpReadStream.h"

namespace orvento::testsupport {

// What a stream's client saw. Touched on the owning thread only, except the
// atomics.
struct ClientLog {
    std::thread::id owner = std::this_thread::get_id();
    CFIndex readSize = 32768;  // bytes read per has-bytes-available; 0: does not read
    std::vector<std::uint8_t> body;
    int hasBytes = 0;
    int ends = 0;
    int errors = 0;
    int eventsAfterTerminal = 0;
    int readsReturningZero = 0;
    bool offThread = false;   // an event came on another thread
    bool outsideRun = false;  // an event came while the thread was not in its run loop
    std::atomic<int> events{0};
    // Called after the log was updated, for tests that act inside the callback.
    std::function<void(CFReadStreamRef, CFStreamEventType)> hook;

    int terminals() const { return ends + errors; }
};

// Closes and releases on destruction (a CFReadStreamRef with an owner).
struct StreamCloser {
    void operator()(HttpReadStream* stream) const {
        CFReadStreamClose(stream);
        CFRelease(stream);
    }
};
using StreamPtr = std::unique_ptr<HttpReadStream, StreamCloser>;

inline constexpr CFOptionFlags kEngineEvents =
    kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred | kCFStreamEventEndEncountered;

// The stream for `url`, created and opened; null when either fails.
StreamPtr createStream(const std::string& url, const HttpReadStreamOptions& options = {});

// Creates, opens, sets `log` as client and schedules on the calling thread's
// run loop in the common modes, as the engine does. Fails the test (and
// returns null) when the stream cannot be opened.
StreamPtr startStream(const std::string& url, ClientLog& log,
                      const HttpReadStreamOptions& options = {});

// Runs the calling thread's loop in short slices until `done` holds or
// `seconds` have passed; returns `done()`.
bool runLoopUntil(const std::function<bool()>& done, double seconds = 10);
// Runs the calling thread's loop for `seconds`.
void runLoopFor(double seconds);

}  // namespace orvento::testsupport
