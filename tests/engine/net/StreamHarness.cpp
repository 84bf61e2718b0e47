#include "tests/engine/net/StreamHarness.h"

#include <gtest/gtest.h>

#include "engine/net/Url.h"

namespace orvento::testsupport {
namespace {

thread_local bool insideRun = false;

void runSlice(double seconds) {
    insideRun = true;
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false);
    insideRun = false;
}

void logEvent(CFReadStreamRef stream, CFStreamEventType type, void* info) {
    ClientLog& log = *static_cast<ClientLog*>(info);
    log.events.fetch_add(1);
    log.offThread = log.offThread || std::this_thread::get_id() != log.owner;
    log.outsideRun = log.outsideRun || !insideRun;
    if (log.terminals() > 0) {
        ++log.eventsAfterTerminal;
    }
    switch (type) {
        case kCFStreamEventHasBytesAvailable: {
            ++log.hasBytes;
            if (log.readSize > 0) {
                std::vector<std::uint8_t> chunk(static_cast<std::size_t>(log.readSize));
                const CFIndex got = CFReadStreamRead(stream, chunk.data(), log.readSize);
                if (got > 0) {
                    log.body.insert(log.body.end(), chunk.begin(), chunk.begin() + got);
                } else if (got == 0) {
                    ++log.readsReturningZero;
                }
            }
            break;
        }
        case kCFStreamEventEndEncountered:
            ++log.ends;
            break;
        case kCFStreamEventErrorOccurred:
            ++log.errors;
            break;
        default:
            ADD_FAILURE() << "unexpected event " << type;
    }
    if (log.hook) {
        log.hook(stream, type);
    }
}

}  // namespace

StreamPtr createStream(const std::string& url, const HttpReadStreamOptions& options) {
    CFHTTPMessageRef request = CFHTTPMessageCreateRequest(kCFAllocatorDefault, "GET",
                                                          Url::fromString(url), kCFHTTPVersion1_1);
    if (request == nullptr) {
        return nullptr;
    }
    StreamPtr stream(CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request));
    CFRelease(request);
    if (!stream || !HttpReadStreamSetOptions(stream.get(), options) ||
        !CFReadStreamOpen(stream.get())) {
        return nullptr;
    }
    return stream;
}

StreamPtr startStream(const std::string& url, ClientLog& log,
                      const HttpReadStreamOptions& options) {
    StreamPtr stream = createStream(url, options);
    if (!stream) {
        ADD_FAILURE() << "cannot open " << url;
        return nullptr;
    }
    log.owner = std::this_thread::get_id();
    CFStreamClientContext context{0, &log, nullptr, nullptr, nullptr};
    EXPECT_TRUE(CFReadStreamSetClient(stream.get(), kEngineEvents, logEvent, &context));
    CFReadStreamScheduleWithRunLoop(stream.get(), CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
    return stream;
}

bool runLoopUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        runSlice(0.02);
    }
    return true;
}

void runLoopFor(double seconds) {
    runSlice(seconds);
}

}  // namespace orvento::testsupport
