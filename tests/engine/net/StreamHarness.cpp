#include "tests/engine/net/StreamHarness.h"

#include <gtest/gtest.h>

#include <span>

#include "engine/net/Url.h"

namespace orvento::testsupport {
namespace {

thread_local bool insideRun = false;

void runSlice(double seconds) {
    insideRun = true;
    RunLoop::current().run(RunLoop::Seconds(seconds), false);
    insideRun = false;
}

}  // namespace

void ClientLog::onStreamEvent(HttpStream& stream, HttpStream::Event event) {
    events.fetch_add(1);
    offThread = offThread || std::this_thread::get_id() != owner;
    outsideRun = outsideRun || !insideRun;
    if (terminals() > 0) {
        ++eventsAfterTerminal;
    }
    switch (event) {
        case HttpStream::Event::bytesAvailable: {
            ++hasBytes;
            if (readSize > 0) {
                std::vector<std::uint8_t> chunk(readSize);
                const std::optional<std::size_t> got = readBytes(stream, chunk.data(), readSize);
                if (got && *got > 0) {
                    body.insert(body.end(), chunk.begin(),
                                chunk.begin() + static_cast<std::ptrdiff_t>(*got));
                } else if (got) {
                    ++readsReturningZero;
                }
            }
            break;
        }
        case HttpStream::Event::end:
            ++ends;
            break;
        case HttpStream::Event::error:
            ++errors;
            break;
    }
    if (hook) {
        hook(stream, event);
    }
}

std::optional<std::size_t> readBytes(HttpStream& stream, std::uint8_t* data, std::size_t size) {
    return stream.read(std::as_writable_bytes(std::span(data, size)));
}

StreamPtr createStream(const std::string& url, const HttpStreamOptions& options) {
    const std::optional<Url> parsed = Url::parse(url);
    if (!parsed) {
        return nullptr;
    }
    StreamPtr stream = HttpStream::create(*parsed, options);
    if (!stream || !stream->open()) {
        return nullptr;
    }
    return stream;
}

StreamPtr startStream(const std::string& url, ClientLog& log, const HttpStreamOptions& options) {
    StreamPtr stream = createStream(url, options);
    if (!stream) {
        ADD_FAILURE() << "cannot open " << url;
        return nullptr;
    }
    log.owner = std::this_thread::get_id();
    stream->setListener(&log);
    stream->schedule(RunLoop::current());
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
