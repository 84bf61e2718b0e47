// The real services with two hooks on every operation, for tests and
// benchmarks that fake a result, count calls or act at one.
//
// Every operation passes the hooks with what the call is about (ServiceCall):
// before() may fake its result without the service being called, after()
// hears the result. The parser, the queue and the stream come wrapped so
// that each of their operations passes the same hooks (HookedParser.h,
// HookedQueue.h, HookedHttpStream.h). The listeners the engine gives them
// pass interpose() first, which may put a stand-in of its own in their
// place. A double derives and overrides only those; the defaults change
// nothing. The hooks run on the calling thread (see EngineServices.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/base/StatusCode.h"
#include "engine/player/EngineServices.h"

namespace orvento {

// The operations, by the names the engine's log lines give them: the
// parser's creation is AudioFileStreamOpen, feed() AudioFileStreamParseBytes,
// each getter AudioFileStreamGetProperty, its destruction AudioFileStreamClose.
enum class ServiceOp {
    AudioFileStreamOpen,
    AudioFileStreamParseBytes,
    AudioFileStreamGetProperty,
    AudioFileStreamClose,
    AudioQueueNewOutput,
    AudioQueueAllocateBuffer,
    AudioQueueSetProperty,
    AudioQueueEnqueueBuffer,
    AudioQueueStart,
    AudioQueueFlush,
    AudioQueueStop,
    AudioQueueDispose,
    // The HTTP stream's: makeHttpStream, open, setListener, schedule, read,
    // close, and its destruction.
    HttpStreamCreate,
    HttpStreamOpen,
    HttpStreamSetListener,
    HttpStreamSchedule,
    HttpStreamRead,
    HttpStreamClose,
    HttpStreamDestroy,
    // runCurrentLoop and postToRunLoop.
    RunLoopRun,
    RunLoopPost,
};

// What an operation is about, as the hooks see it.
struct ServiceCall {
    ServiceOp op;
    // The StreamProperty of a parser's getter; the size of a queue's magic
    // cookie; `immediate` of a stop or disposal; the Continuity of a parse;
    // the hint of a parser's opening; the capacity of an allocation; the
    // description count of an enqueue. Otherwise 0.
    std::uint32_t detail = 0;
    // The objects the call is for. For a creation, in after(), the new one
    // (null when it failed); likewise the buffer an allocation made.
    const StreamParser* parser = nullptr;
    const OutputQueue* queue = nullptr;
    const HttpStream* stream = nullptr;
    const OutputQueue::Buffer* buffer = nullptr;      // allocated or enqueued
    const PacketDescription* descriptions = nullptr;  // of an enqueue
};

class HookedServices : public EngineServices {
  public:
    using EngineServices::EngineServices;

    // A faked status is the ParserError of the same value: a faked creation
    // makes no parser, a faked feed() parses nothing and returns it, a faked
    // getter answers it (a faked 0 lets a creation or a getter through); a
    // destruction always destroys.
    StreamParserCreation makeStreamParser(StreamParser::Listener& listener,
                                          AudioFileType hint) override;
    // A faked result fails the creation with that code (a faked 0 as
    // QueueError::InvalidParameter).
    OutputQueueCreation makeOutputQueue(const AudioFormat& format,
                                        OutputQueue::Listener& listener) override;
    // Null when before() fakes the creation. The events reach the listener
    // with a stream whose reads pass the hooks too.
    std::unique_ptr<HttpStream> makeHttpStream(const Url& url) override;
    RunLoop::RunResult runCurrentLoop(RunLoop::Seconds time,
                                      bool returnAfterSourceHandled) override;
    bool postToRunLoop(RunLoop& loop, std::function<void()> work) override;

  protected:
    // Before each operation. A value fakes the operation's result without
    // calling the service: an operation with a status returns it, a
    // stream's read returns it as its count (a negative one: a failed read),
    // the others report failure (false, or null). Operations without a
    // result (closing, destroying, scheduling, running the loop) always reach
    // the service.
    virtual std::optional<StatusCode> before(const ServiceCall& /*call*/) { return std::nullopt; }
    // After each operation, with its result: the status; the count of a
    // read; 0 or 1 for the success or failure of the others.
    virtual void after(const ServiceCall& /*call*/, StatusCode /*result*/) {}
    // The listeners the engine registers, before the service sees them; an
    // override may substitute its own, which must then call the engine's
    // (a substituted queue listener must outlive the queue; a parser's, the
    // services).
    virtual void interpose(OutputQueue::Listener*& /*listener*/) {}
    virtual void interpose(HttpStream::Listener*& /*listener*/) {}
    virtual void interpose(StreamParser::Listener*& /*listener*/) {}

  private:
    friend class HookedHttpStream;
    friend class HookedParser;
    friend class HookedQueue;

    // Calls `service` between the hooks. `Error` is what the service returns
    // (a service's error enum, or a StatusCode); a faked status stands for it.
    template <typename Error, typename Service>
    Error hooked(ServiceCall& call, Service&& service) {
        const std::optional<StatusCode> faked = before(call);
        const Error result = faked ? static_cast<Error>(*faked) : service();
        after(call, static_cast<StatusCode>(result));
        return result;
    }
    // The same for a service that says whether it succeeded.
    template <typename Service>
    bool succeeds(ServiceCall& call, Service&& service) {
        const StatusCode result = before(call) ? 1 : (service() ? kSuccess : 1);
        after(call, result);
        return result == kSuccess;
    }
    // An operation without a result: the hooks hear it, but it always
    // reaches the service.
    template <typename Service>
    void unfakeable(ServiceCall& call, Service&& service) {
        before(call);
        service();
        after(call, kSuccess);
    }
};

}  // namespace orvento
