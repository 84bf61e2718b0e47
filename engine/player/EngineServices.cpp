#include "engine/player/EngineServices.h"

#include <cstdio>
#include <utility>

#include "engine/player/HookedHttpStream.h"
#include "engine/player/HookedParser.h"

namespace orvento {

namespace {

AudioOutputChoice withLog(AudioOutputChoice output, const LogSink& log) {
    if (!output.log) {
        output.log = log;
    }
    return output;
}

}  // namespace

EngineServices::EngineServices(AudioOutputChoice output, LogSink log)
    : log_(std::move(log)), output_(withLog(std::move(output), log_)) {}

void EngineServices::logLine(std::string_view line) {
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
bool EngineServices::succeeds(ServiceCall& call, Service&& service) {
    const StatusCode result = before(call) ? 1 : (service() ? kSuccess : 1);
    after(call, result);
    return result == kSuccess;
}

OutputQueueCreation EngineServices::makeOutputQueue(const AudioFormat& format,
                                                    OutputQueue::Listener& listener) {
    ServiceCall call{ServiceOp::AudioQueueNewOutput};
    OutputQueueCreation created;
    const StatusCode status = hooked<StatusCode>(call, [&] {
        OutputQueue::Listener* told = &listener;
        interpose(told);
        created = ::orvento::makeOutputQueue(format, output_, *told);
        call.queue = created.queue.get();
        return static_cast<StatusCode>(created.error);
    });
    if (status != kSuccess || created.queue == nullptr) {
        // Faked, or failed for real.
        return {nullptr, status != kSuccess ? static_cast<QueueError>(status)
                                            : QueueError::InvalidParameter};
    }
    return {std::make_unique<HookedQueue>(*this, std::move(created.queue)), QueueError::None};
}

StreamParserCreation EngineServices::makeStreamParser(StreamParser::Listener& listener,
                                                      AudioFileType hint) {
    return HookedParser::open(*this, listener, hint);
}

std::unique_ptr<HttpStream> EngineServices::makeHttpStream(const Url& url) {
    ServiceCall call{ServiceOp::HttpStreamCreate};
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

RunLoop::RunResult EngineServices::runCurrentLoop(RunLoop::Seconds time,
                                                  bool returnAfterSourceHandled) {
    ServiceCall call{ServiceOp::RunLoopRun};
    RunLoop::RunResult result{};
    unfakeable(call, [&] { result = RunLoop::current().run(time, returnAfterSourceHandled); });
    return result;
}

bool EngineServices::postToRunLoop(RunLoop& loop, std::function<void()> work) {
    ServiceCall call{ServiceOp::RunLoopPost};
    return succeeds(call, [&] { return loop.post(std::move(work)); });
}

}  // namespace orvento
