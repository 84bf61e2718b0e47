#include "tests/engine/player/HookedServices.h"

#include <utility>

#include "tests/engine/player/HookedHttpStream.h"
#include "tests/engine/player/HookedParser.h"
#include "tests/engine/player/HookedQueue.h"

namespace orvento {

StreamParserCreation HookedServices::makeStreamParser(StreamParser::Listener& listener,
                                                      AudioFileType hint) {
    return HookedParser::open(*this, listener, hint);
}

OutputQueueCreation HookedServices::makeOutputQueue(const AudioFormat& format,
                                                    OutputQueue::Listener& listener) {
    ServiceCall call{ServiceOp::AudioQueueNewOutput};
    OutputQueueCreation created;
    const StatusCode status = hooked<StatusCode>(call, [&] {
        OutputQueue::Listener* told = &listener;
        interpose(told);
        created = EngineServices::makeOutputQueue(format, *told);
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

std::unique_ptr<HttpStream> HookedServices::makeHttpStream(const Url& url) {
    ServiceCall call{ServiceOp::HttpStreamCreate};
    std::unique_ptr<HttpStream> stream;
    succeeds(call, [&] {
        if (std::unique_ptr<HttpStream> real = EngineServices::makeHttpStream(url)) {
            stream = std::make_unique<HookedHttpStream>(*this, std::move(real));
            call.stream = stream.get();
        }
        return stream != nullptr;
    });
    return stream;
}

RunLoop::RunResult HookedServices::runCurrentLoop(RunLoop::Seconds time,
                                                  bool returnAfterSourceHandled) {
    ServiceCall call{ServiceOp::RunLoopRun};
    RunLoop::RunResult result{};
    unfakeable(call,
               [&] { result = EngineServices::runCurrentLoop(time, returnAfterSourceHandled); });
    return result;
}

bool HookedServices::postToRunLoop(RunLoop& loop, std::function<void()> work) {
    ServiceCall call{ServiceOp::RunLoopPost};
    return succeeds(call, [&] { return EngineServices::postToRunLoop(loop, std::move(work)); });
}

}  // namespace orvento
