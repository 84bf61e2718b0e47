#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "engine/net/HttpStream.h"
#include "engine/net/RunLoop.h"
#include "tools/probe/Probe.h"

namespace orvento::probe {

namespace {

// The stream's listener: one read per bytes-available event, as the engine
// does, each read handed to the parser.
struct UrlReader final : HttpStream::Listener {
    explicit UrlReader(Probe& target) : probe(target) {}

    Probe& probe;
    bool done = false;
    bool failed = false;
    std::uint64_t bytes = 0;
    std::string error;

    void onStreamEvent(HttpStream& stream, HttpStream::Event event) override {
        UrlReader& r = *this;
        if (r.done) {
            return;
        }
        if (event == HttpStream::Event::bytesAvailable) {
            std::uint8_t chunk[32768];
            const std::optional<std::size_t> n =
                stream.read(std::as_writable_bytes(std::span(chunk)));
            if (!n) {
                r.fail(stream.errorText());
                return;
            }
            r.bytes += *n;
            if (*n > 0 && r.probe.feed(std::as_bytes(std::span(chunk, *n))) != ParserError::None) {
                r.done = true;  // the parser gave up: the report says why
            }
        } else if (event == HttpStream::Event::error) {
            r.fail(stream.errorText());
        } else if (event == HttpStream::Event::end) {
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
    const std::optional<Url> parsed = Url::parse(url);
    if (!parsed) {
        error = "not a valid URL: " + url;
        return false;
    }
    UrlReader reader(probe);
    std::unique_ptr<HttpStream> stream = HttpStream::create(*parsed);
    if (stream == nullptr || !stream->open()) {
        error = stream != nullptr ? stream->errorText() : "cannot create the request";
        return false;
    }
    stream->setListener(&reader);
    stream->schedule(RunLoop::current());
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!reader.done && std::chrono::steady_clock::now() < deadline) {
        RunLoop::current().run(RunLoop::Seconds(0.05), true);
    }
    if (!reader.done && timedOut != nullptr) {
        *timedOut = true;  // a live stream does not end: what was read is the answer
    }
    stream.reset();
    error = reader.error;
    if (bodyBytes != nullptr) {
        *bodyBytes = reader.bytes;
    }
    return !reader.failed;
}

}  // namespace orvento::probe
