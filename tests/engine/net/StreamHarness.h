// Drives HTTP streams in tests: a listener that records every event and
// reads (or not) as told, and a loop runner and a wait with deadlines.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/HttpStream.h"

namespace orvento::testsupport {

// What a stream's listener saw. Touched on the owning thread only, except
// the atomics.
struct ClientLog : HttpStream::Listener {
    std::thread::id owner = std::this_thread::get_id();
    std::size_t readSize = 32768;  // bytes read per bytesAvailable; 0: does not read
    std::vector<std::uint8_t> body;
    int hasBytes = 0;
    int ends = 0;
    int errors = 0;
    int eventsAfterTerminal = 0;
    int readsReturningZero = 0;
    bool offThread = false;   // an event came on another thread
    bool outsideRun = false;  // an event came while the thread was not in its run loop
    std::atomic<int> events{0};
    // Called after the log was updated, for tests that act inside the listener.
    std::function<void(HttpStream&, HttpStream::Event)> hook;

    int terminals() const { return ends + errors; }
    void onStreamEvent(HttpStream& stream, HttpStream::Event event) override;
};

using StreamPtr = std::unique_ptr<HttpStream>;

// Reads up to `size` bytes into `data` (HttpStream::read).
std::optional<std::size_t> readBytes(HttpStream& stream, std::uint8_t* data, std::size_t size);

// The stream for `url`, created and opened; null when either fails.
StreamPtr createStream(const std::string& url, const HttpStreamOptions& options = {});

// Creates, opens, sets `log` as listener and schedules on the calling
// thread's run loop, as the engine does. Fails the test (and returns null)
// when the stream cannot be opened.
StreamPtr startStream(const std::string& url, ClientLog& log,
                      const HttpStreamOptions& options = {});

// Runs the calling thread's loop in short slices until `done` holds or
// `seconds` have passed; returns `done()`.
bool runLoopUntil(const std::function<bool()>& done, double seconds = 10);
// Runs the calling thread's loop for `seconds`.
void runLoopFor(double seconds);

}  // namespace orvento::testsupport
