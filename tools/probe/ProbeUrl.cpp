#include <chrono>
#include <cstdint>

#include "engine/net/HttpReadStream.h"
#include "engine/net/RunLoop.h"
#include "tools/probe/Probe.h"

namespace orvento::probe {

namespace {

// The read-stream client: one read per bytes-available event, as the engine
// does, each read handed to the parser.
struct UrlReader {
    explicit UrlReader(Probe& target) : probe(target) {}

    Probe& probe;
    bool done = false;
    bool failed = false;
    std::uint64_t bytes = 0;
    std::string error;

    static void onEvent(CFReadStreamRef stream, CFStreamEventType type, void* info) {
        auto& r = *static_cast<UrlReader*>(info);
        if (r.done) {
            return;
        }
        if (type == kCFStreamEventHasBytesAvailable) {
            std::uint8_t chunk[32768];
            CFIndex n = CFReadStreamRead(stream, chunk, sizeof chunk);
            if (n < 0) {
                r.fail(HttpReadStreamErrorText(stream));
                return;
            }
            r.bytes += n > 0 ? static_cast<std::uint64_t>(n) : 0;
            if (n > 0 && r.probe.feed(chunk, static_cast<size_t>(n)) != noErr) {
                r.done = true;  // the parser gave up: the report says why
            }
        } else if (type == kCFStreamEventErrorOccurred) {
            r.fail(HttpReadStreamErrorText(stream));
        } else if (type == kCFStreamEventEndEncountered) {
            r.done = true;
        }
    }

    void fail(std::string text) {
        failed = true;
        done = true;
        error = text.empty() ? "the transfer failed" : std::move(text);
    }
};

}  // namespace

bool probeUrl(const std::string& url, Probe& probe, std::string& error, double timeoutSeconds,
              bool* timedOut, std::uint64_t* bodyBytes) {
    if (timedOut != nullptr) {
        *timedOut = false;
    }
    if (bodyBytes != nullptr) {
        *bodyBytes = 0;
    }
    CFURLRef parsed = Url::fromString(url);
    if (!parsed) {
        error = "not a valid URL: " + url;
        return false;
    }
    CFHTTPMessageRef request =
        CFHTTPMessageCreateRequest(kCFAllocatorDefault, "GET", parsed, kCFHTTPVersion1_1);
    CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request);
    CFRelease(request);
    if (stream == nullptr || !CFReadStreamOpen(stream)) {
        error = stream != nullptr ? HttpReadStreamErrorText(stream) : "cannot create the request";
        CFRelease(stream);
        return false;
    }
    UrlReader reader(probe);
    CFStreamClientContext context{0, &reader, nullptr, nullptr, nullptr};
    CFReadStreamSetClient(stream,
                          kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred |
                              kCFStreamEventEndEncountered,
                          &UrlReader::onEvent, &context);
    CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!reader.done && std::chrono::steady_clock::now() < deadline) {
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true);
    }
    if (!reader.done && timedOut != nullptr) {
        *timedOut = true;  // a live stream does not end: what was read is the answer
    }
    CFReadStreamClose(stream);
    CFRelease(stream);
    error = reader.error;
    if (bodyBytes != nullptr) {
        *bodyBytes = reader.bytes;
    }
    return !reader.failed;
}

}  // namespace orvento::probe
