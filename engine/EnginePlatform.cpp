#include "engine/EnginePlatform.h"

#include <cstdio>
#include <utility>

#include "engine/HookedHttpStream.h"
#include "engine/HookedParser.h"

namespace orvento {

namespace {

AudioOutputChoice withLog(AudioOutputChoice output, const LogSink& log) {
    if (!output.log) {
        output.log = log;
    }
    return output;
}

}  // namespace

EnginePlatform::EnginePlatform(AudioOutputChoice output, LogSink log)
    : log_(std::move(log)), output_(withLog(std::move(output), log_)) {}

void EnginePlatform::logLine(std::string_view line) {
    if (log_) {
        log_(line);
        return;
    }
    std::string text(line);
    text += '\n';
    // One stdio call holds the stream's lock for the whole line, so lines
    // from different threads never interleave.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

template <typename Service>
OSStatus EnginePlatform::hooked(PlatformCall& call, Service&& service) {
    const std::optional<OSStatus> faked = before(call);
    const OSStatus result = faked ? *faked : service();
    after(call, result);
    return result;
}

template <typename Service>
bool EnginePlatform::succeeds(PlatformCall& call, Service&& service) {
    const OSStatus result = before(call) ? 1 : (service() ? noErr : 1);
    after(call, result);
    return result == noErr;
}

OutputQueueCreation EnginePlatform::makeOutputQueue(const AudioStreamBasicDescription& format,
                                                    OutputQueue::Listener& listener) {
    PlatformCall call{PlatformOp::AudioQueueNewOutput};
    OutputQueueCreation created;
    const OSStatus status = hooked(call, [&] {
        OutputQueue::Listener* told = &listener;
        interpose(told);
        created = ::orvento::makeOutputQueue(format, output_, *told);
        call.queue = created.queue.get();
        return static_cast<OSStatus>(created.error);
    });
    if (status != noErr || created.queue == nullptr) {
        // Faked, or failed for real.
        return {nullptr,
                status != noErr ? static_cast<QueueError>(status) : QueueError::InvalidParameter};
    }
    return {std::make_unique<HookedQueue>(*this, std::move(created.queue)), QueueError::None};
}

StreamParserCreation EnginePlatform::makeStreamParser(StreamParser::Listener& listener,
                                                      AudioFileType hint) {
    return HookedParser::open(*this, listener, hint);
}

std::unique_ptr<HttpStream> EnginePlatform::makeHttpStream(const Url& url) {
    PlatformCall call{PlatformOp::CFReadStreamCreateForHTTPRequest};
    std::unique_ptr<HttpStream> stream;
    succeeds(call, [&] {
        if (std::unique_ptr<HttpStream> real = HttpStream::create(url)) {
            stream = std::make_unique<HookedHttpStream>(*this, std::move(real));
            call.stream = stream.get();
        }
        return stream != nullptr;
    });
    return stream;
}

RunLoop::RunResult EnginePlatform::runCurrentLoop(RunLoop::Seconds time,
                                                  bool returnAfterSourceHandled) {
    PlatformCall call{PlatformOp::CFRunLoopRunInMode};
    before(call);
    const RunLoop::RunResult result = RunLoop::current().run(time, returnAfterSourceHandled);
    after(call, noErr);
    return result;
}

bool EnginePlatform::postToRunLoop(RunLoop& loop, std::function<void()> work) {
    PlatformCall call{PlatformOp::CFRunLoopPerformBlock};
    return succeeds(call, [&] { return loop.post(std::move(work)); });
}

}  // namespace orvento
