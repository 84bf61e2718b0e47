// The engine's one seam to its services: a stream player gets its streaming
// parser, output queue and HTTP stream from the factory members here, and
// runs and wakes its run loop through them.
//
// Every operation passes two hooks on its way, with what the call is about
// (ServiceCall): before() may fake its result without the service being
// called, after() hears the result. The parser, the queue and the stream
// come wrapped so that each of their operations passes the same hooks
// (HookedParser.h, HookedQueue.h, HookedHttpStream.h). The listeners the
// engine gives them pass interpose() first, which may put a stand-in of its
// own in their place.
// A test double, a tool or a benchmark derives and overrides only those; the
// defaults change nothing.
//
// Threads: a player calls its parser's, stream's and queue's operations and
// runCurrentLoop on its worker thread, except the queue's stop and the
// stream's close and destruction (also from the thread that calls the
// player's stop); postToRunLoop and logLine from any thread. The hooks run on the
// calling thread. A platform object may be shared by several players at
// once, so hooks keep no per-call state without a lock.
//
// Log. The lines the engine writes on its own go to the sink given at
// construction: a player's error lines ("<operation> err <code> <status>")
// through logLine, and the output queue's lines (an output that cannot
// start, a decoder failure). Without a sink, the error lines go to standard
// output and the queue's lines to standard error, as a command-line program
// expects them. The sink is called on any of the threads above, one line at
// a time, and must not call back into the player.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/LogSink.h"
#include "engine/audio/OutputQueue.h"
#include "engine/base/AudioFormat.h"
#include "engine/base/StatusCode.h"
#include "engine/demux/StreamParser.h"
#include "engine/net/HttpStream.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"
#include "engine/player/HookedQueue.h"

namespace orvento {

// The parser's operations keep the names of the platform functions they
// were: AudioFileStreamOpen its creation, AudioFileStreamParseBytes feed(),
// AudioFileStreamGetProperty each getter, AudioFileStreamClose its
// destruction.
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
    // The property id of a property call (for a parser's getter, its
    // StreamProperty); the size of a queue's magic cookie; `immediate` of a
    // stop or disposal; the Continuity of a parse; the hint of a parser's
    // opening; the capacity of an allocation; the description count of an
    // enqueue. Otherwise 0.
    std::uint32_t detail = 0;
    // The objects the call is for. For a creation, in after(), the new one
    // (null when it failed); likewise the buffer an allocation made.
    const StreamParser* parser = nullptr;
    const OutputQueue* queue = nullptr;
    const HttpStream* stream = nullptr;
    const OutputQueue::Buffer* buffer = nullptr;      // allocated or enqueued
    const PacketDescription* descriptions = nullptr;  // of an enqueue
};

// A new parser, or the error that kept it from being made (only a hook
// fakes one: making a parser does not fail).
struct StreamParserCreation {
    std::unique_ptr<StreamParser> parser;
    ParserError error = ParserError::None;
};

class EngineServices {
  public:
    // New queues go to `output` (the sound device by default); the engine's
    // own lines to `log` (see above; it also becomes the queues' log unless
    // `output` has one).
    explicit EngineServices(AudioOutputChoice output = {}, LogSink log = {});
    virtual ~EngineServices() = default;
    // The log given (a platform of another output logs the same way).
    const LogSink& logSink() const { return log_; }
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    // A streaming parser (StreamParser.h) telling `listener`, behind the
    // hooks: its creation is AudioFileStreamOpen (detail: the hint), feed()
    // AudioFileStreamParseBytes (detail: the Continuity), each getter but
    // readyToProducePackets and diagnostics AudioFileStreamGetProperty
    // (detail: its StreamProperty), its destruction AudioFileStreamClose. A
    // faked status is the ParserError of the same value: a faked creation
    // makes no parser, a faked feed() parses nothing and returns it, a faked
    // getter answers it (a faked 0 lets a creation or a getter through); a
    // destruction always destroys. The parser must not outlive this platform.
    StreamParserCreation makeStreamParser(StreamParser::Listener& listener, AudioFileType hint);

    // Output queue: a new one for `format`, playing to the platform's output
    // and telling `listener` (after interpose()), behind the hooks
    // (HookedQueue). Hooked as ServiceOp::AudioQueueNewOutput; a faked
    // result fails the creation with that code (a faked 0 as
    // QueueError::InvalidParameter).
    OutputQueueCreation makeOutputQueue(const AudioFormat& format, OutputQueue::Listener& listener);

    // HTTP stream: a GET of `url` (HttpStream::create, default options)
    // whose operations pass the hooks, each as a ServiceCall whose `stream`
    // is the object returned. Null when the stream cannot be created or
    // before() fakes the creation. The events reach the listener with a
    // stream whose reads pass the hooks too.
    std::unique_ptr<HttpStream> makeHttpStream(const Url& url);

    // Run loop. Runs the calling thread's loop (RunLoop::run).
    RunLoop::RunResult runCurrentLoop(RunLoop::Seconds time, bool returnAfterSourceHandled);
    // RunLoop::post on `loop`; false once the loop has shut down. Any thread.
    bool postToRunLoop(RunLoop& loop, std::function<void()> work);

    // Writes one of the engine's own lines (without its line end) to the
    // log. Not hooked.
    void logLine(std::string_view line);

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
    // The callbacks the engine registers, before the service sees them; an
    // override may substitute its own, which must then call the engine's
    // (a substituted queue listener must outlive the queue).
    virtual void interpose(OutputQueue::Listener*& /*listener*/) {}
    virtual void interpose(HttpStream::Listener*& /*listener*/) {}
    // The parser's listener: an override may put its own in its place, which
    // must forward to the engine's and live as long as the platform.
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
    bool succeeds(ServiceCall& call, Service&& service);
    // An operation without a result (closing, destroying, scheduling): the
    // hooks hear it, but it always reaches the service.
    template <typename Service>
    void unfakeable(ServiceCall& call, Service&& service) {
        before(call);
        service();
        after(call, kSuccess);
    }

    const LogSink log_;
    const AudioOutputChoice output_;
};

}  // namespace orvento
