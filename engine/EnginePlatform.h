// The engine's one seam to the platform: every platform operation a stream
// player calls (streaming parser, output queue, HTTP stream, run loop) goes
// through here to the real service. The parser and queue operations are
// members named and shaped like the platform function each stands for; the
// HTTP stream comes from one factory, as a stream whose operations pass the
// hooks (HookedHttpStream).
//
// Every operation passes two hooks on its way, with what the call is about
// (PlatformCall): before() may fake its result without the service being
// called, after() hears the result. The callbacks the engine registers (the
// queue's buffer-complete callback and running-state listener, the stream's
// listener) pass interpose() first, which may put a trampoline in their place.
// A test double, a tool or a benchmark derives and overrides only those; the
// defaults change nothing.
//
// Threads: a player calls the parser, HTTP stream and run-loop members on
// its worker thread; the queue members on its worker thread, except
// AudioQueueStop (also from the thread that calls the player's stop); the
// stream's close and destruction, postToRunLoop and logLine from any thread. The hooks run on the
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
#include <optional>
#include <string>
#include <string_view>

#include "engine/LogSink.h"
#include "engine/net/HttpStream.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"
#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"
#include "engine/platform/parser/AudioFileStream.h"
#include "engine/platform/queue/AudioQueue.h"

namespace orvento {

enum class PlatformOp {
    AudioFileStreamOpen,
    AudioFileStreamParseBytes,
    AudioFileStreamGetPropertyInfo,
    AudioFileStreamGetProperty,
    AudioFileStreamClose,
    AudioQueueNewOutput,
    AudioQueueAddPropertyListener,
    AudioQueueAllocateBuffer,
    AudioQueueSetProperty,
    AudioQueueEnqueueBuffer,
    AudioQueueStart,
    AudioQueueFlush,
    AudioQueueStop,
    AudioQueueDispose,
    // The HTTP stream's, by the names of the platform functions they stand
    // for: makeHttpStream, open, setListener, schedule, read, close, and its
    // destruction.
    CFReadStreamCreateForHTTPRequest,
    CFReadStreamOpen,
    CFReadStreamSetClient,
    CFReadStreamScheduleWithRunLoop,
    CFReadStreamRead,
    CFReadStreamClose,
    CFReleaseStream,
    // runCurrentLoop and postToRunLoop.
    CFRunLoopRunInMode,
    CFRunLoopPerformBlock,
};

// What an operation is about, as the hooks see it.
struct PlatformCall {
    PlatformOp op;
    // The property id of a property call;
    // `immediate` of a stop or disposal; the flags of a parse; the hint of a
    // parser's opening; the capacity of an allocation; the description count
    // of an enqueue. Otherwise 0.
    std::uint32_t detail = 0;
    // The handles the call is for. For a creation, in after(), the new one
    // (null when it failed); likewise the buffer an allocation made.
    AudioFileStreamID parser = nullptr;
    AudioQueueRef queue = nullptr;
    const HttpStream* stream = nullptr;
    AudioQueueBufferRef buffer = nullptr;                        // allocated or enqueued
    const AudioStreamPacketDescription* descriptions = nullptr;  // of an enqueue
};

class EnginePlatform {
  public:
    // New queues go to `output` (the sound device by default); the engine's
    // own lines to `log` (see above; it also becomes the queues' log unless
    // `output` has one).
    explicit EnginePlatform(AudioOutputChoice output = {}, LogSink log = {});
    virtual ~EnginePlatform() = default;
    // The log given (a platform of another output logs the same way).
    const LogSink& logSink() const { return log_; }
    EnginePlatform(const EnginePlatform&) = delete;
    EnginePlatform& operator=(const EnginePlatform&) = delete;

    // Streaming audio-file parser.
    OSStatus AudioFileStreamOpen(void* clientData,
                                 AudioFileStream_PropertyListenerProc propertyProc,
                                 AudioFileStream_PacketsProc packetsProc, AudioFileTypeID hint,
                                 AudioFileStreamID* outStream);
    OSStatus AudioFileStreamParseBytes(AudioFileStreamID stream, std::uint32_t size,
                                       const void* data, AudioFileStreamParseFlags flags);
    OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID stream, AudioFileStreamPropertyID id,
                                            std::uint32_t* outSize, bool* outWritable);
    OSStatus AudioFileStreamGetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID id,
                                        std::uint32_t* ioSize, void* outData);
    OSStatus AudioFileStreamClose(AudioFileStreamID stream);

    // Output audio queue.
    OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                 AudioQueueOutputCallback callback, void* userData,
                                 RunLoop* runLoop, const char* mode, std::uint32_t flags,
                                 AudioQueueRef* outQueue);
    OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID id,
                                           AudioQueuePropertyListenerProc proc, void* userData);
    OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, std::uint32_t capacity,
                                      AudioQueueBufferRef* outBuffer);
    OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id, const void* data,
                                   std::uint32_t size);
    OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                     std::uint32_t packetDescCount,
                                     const AudioStreamPacketDescription* descs);
    OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime);
    OSStatus AudioQueueFlush(AudioQueueRef queue);
    OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);
    OSStatus AudioQueueDispose(AudioQueueRef queue, bool immediate);

    // HTTP stream: a GET of `url` (HttpStream::create, default options)
    // whose operations pass the hooks, each as a PlatformCall whose `stream`
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

    // The queue's own words, which a player keeps to say why it failed
    // (empty when it has none). On the worker thread, while the queue is
    // open. Not hooked.
    std::string AudioQueueErrorText(AudioQueueRef queue);
    double AudioQueueStarvedSeconds(AudioQueueRef queue);

  protected:
    // Before each operation. A value fakes the operation's result without
    // calling the service: an operation with a status returns it, a
    // stream's read returns it as its count (a negative one: a failed read),
    // the others report failure (false, or null). Operations without a
    // result (closing, destroying, scheduling, running the loop) always reach
    // the service.
    virtual std::optional<OSStatus> before(const PlatformCall& /*call*/) { return std::nullopt; }
    // After each operation, with its result: the status; the count of a
    // read; 0 or 1 for the success or failure of the others.
    virtual void after(const PlatformCall& /*call*/, OSStatus /*result*/) {}
    // The callbacks the engine registers, before the service sees them; an
    // override may substitute its own function and data, which must then
    // call the engine's with the engine's data.
    virtual void interpose(AudioQueueOutputCallback& /*callback*/, void*& /*userData*/) {}
    virtual void interpose(AudioQueuePropertyListenerProc& /*proc*/, void*& /*userData*/) {}
    virtual void interpose(HttpStream::Listener*& /*listener*/) {}

  private:
    // Calls the hooks around each of the stream's operations.
    friend class HookedHttpStream;

    // Calls `service` between the hooks: one that returns a status, and one
    // that says whether it succeeded.
    template <typename Service>
    OSStatus hooked(PlatformCall& call, Service&& service);
    template <typename Service>
    bool succeeds(PlatformCall& call, Service&& service);

    const LogSink log_;
    const AudioOutputChoice output_;
};

}  // namespace orvento
