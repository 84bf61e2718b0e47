// The real platform services with a way to make any single operation fail
// with a chosen status, to make the read stream report an error, and with a
// record of what the engine called (which operation, on which thread, what it
// handed to the queue). Everything not told to fail runs for real.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/EnginePlatform.h"

namespace orvento::test {

enum class Op {
    AudioSessionInitialize,
    AudioSessionSetProperty,
    AudioSessionSetActive,
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
    CFHTTPMessageCreateRequest,
    CFReadStreamCreateForHTTPRequest,
    CFReadStreamOpen,
    CFReadStreamSetClient,
    CFReadStreamScheduleWithRunLoop,
    CFReadStreamRead,
    CFReadStreamClose,
    CFReleaseRequest,
    CFReleaseStream,
    CFRunLoopGetCurrent,
    CFRunLoopRunInMode,
    // Not an operation: an event the stream delivered to the engine (detail:
    // the event type as the engine saw it).
    StreamEvent,
};

// One buffer as the engine handed it to the queue.
struct EnqueueRecord {
    UInt32 byteSize;
    UInt32 packetDescCount;
    bool descsGiven;
    std::vector<AudioStreamPacketDescription> descs;
    std::size_t ringPosition;  // which of the queue's buffers, in allocation order
};

struct CallRecord {
    Op op;
    std::thread::id thread;
    OSStatus status;  // what the engine was given (0 for calls without a status)
    UInt32 detail;    // the property id for property calls, `immediate` for stop/dispose, the flags
                      // of a parse
};

class FaultInjectingPlatform : public ProductionPlatform {
  public:
    // Plays into the null output as fast as the audio comes.
    FaultInjectingPlatform();
    explicit FaultInjectingPlatform(AudioOutputChoice output);
    ~FaultInjectingPlatform() override;

    static AudioOutputChoice nullOutput(bool realTime);

    // Calls number `nth` (1-based) to `nth + count - 1` of `op` fail with
    // `status` without reaching the service. For a property call, `propertyId`
    // (when not 0) limits the counting to that property. Boolean operations
    // report false, CFReadStreamRead -1, creations null.
    void failCall(Op op, OSStatus status, int nth = 1, int count = 1, UInt32 propertyId = 0);

    // The `nth` bytes-available event (1-based) reaches the engine as an error
    // event instead.
    void replaceBytesEventWithError(int nth);

    // Read number `nth` (1-based) returns 0 without reading.
    void readReturnsZero(int nth);

    // Runs `action` on the worker, inside bytes-available event number `nth`,
    // before the engine sees the event.
    void onBytesEvent(int nth, std::function<void()> action);

    // Runs `action` on the calling thread when `op` is next called, before the
    // call goes on.
    void onCall(Op op, std::function<void()> action);
    // Runs `action` on the calling thread when `op` next returns from the
    // service, before the engine sees the result (operations with a status).
    void onReturn(Op op, std::function<void()> action);

    // While held, the queue's running-state reports wait (on the queue's
    // thread) before they reach the engine.
    void holdRunningReports(bool hold);
    // Running-state reports that have reached the engine, and those the
    // engine has finished handling.
    int runningReports() const;
    int runningReportsHandled() const;

    // Calls made so far of `op`.
    int count(Op op) const;
    std::vector<CallRecord> calls() const;
    std::vector<CallRecord> callsOf(Op op) const;
    std::vector<EnqueueRecord> enqueues() const;
    // Ring positions of the buffers the queue gave back, in order.
    std::vector<std::size_t> completions() const;
    // Buffers the engine has handed over and the queue has not given back.
    int buffersHeldByQueue() const;
    // When the latest parse call returned.
    std::chrono::steady_clock::time_point lastParseReturn() const;
    // Bytes the engine has received from the stream.
    std::size_t bytesRead() const;

    OSStatus AudioSessionInitialize(CFRunLoopRef runLoop, CFRunLoopMode mode,
                                    AudioSessionInterruptionListener listener,
                                    void* clientData) override;
    OSStatus AudioSessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                     const void* data) override;
    OSStatus AudioSessionSetActive(Boolean active) override;
    OSStatus AudioFileStreamOpen(void* clientData,
                                 AudioFileStream_PropertyListenerProc propertyProc,
                                 AudioFileStream_PacketsProc packetsProc, AudioFileTypeID hint,
                                 AudioFileStreamID* outStream) override;
    OSStatus AudioFileStreamParseBytes(AudioFileStreamID stream, UInt32 size, const void* data,
                                       AudioFileStreamParseFlags flags) override;
    OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID stream, AudioFileStreamPropertyID id,
                                            UInt32* outSize, Boolean* outWritable) override;
    OSStatus AudioFileStreamGetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID id,
                                        UInt32* ioSize, void* outData) override;
    OSStatus AudioFileStreamClose(AudioFileStreamID stream) override;
    OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                 AudioQueueOutputCallback callback, void* userData,
                                 CFRunLoopRef runLoop, CFRunLoopMode mode, UInt32 flags,
                                 AudioQueueRef* outQueue) override;
    OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID id,
                                           AudioQueuePropertyListenerProc proc,
                                           void* userData) override;
    OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                      AudioQueueBufferRef* outBuffer) override;
    OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id, const void* data,
                                   UInt32 size) override;
    OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                     UInt32 packetDescCount,
                                     const AudioStreamPacketDescription* descs) override;
    OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime) override;
    OSStatus AudioQueueFlush(AudioQueueRef queue) override;
    OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate) override;
    OSStatus AudioQueueDispose(AudioQueueRef queue, Boolean immediate) override;
    CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef alloc, CFStringRef method,
                                                CFURLRef url, CFStringRef version) override;
    CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc,
                                                     CFHTTPMessageRef request) override;
    Boolean CFReadStreamOpen(CFReadStreamRef stream) override;
    Boolean CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                  CFReadStreamClientCallBack callback,
                                  CFStreamClientContext* context) override;
    void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                         CFRunLoopMode mode) override;
    CFIndex CFReadStreamRead(CFReadStreamRef stream, UInt8* buffer, CFIndex length) override;
    void CFReadStreamClose(CFReadStreamRef stream) override;
    void CFRelease(CFHTTPMessageRef message) override;
    void CFRelease(CFReadStreamRef stream) override;
    CFRunLoopRef CFRunLoopGetCurrent() override;
    SInt32 CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                              Boolean returnAfterSourceHandled) override;

  private:
    struct Fault {
        OSStatus status;
        int first;
        int last;
        UInt32 propertyId;
        int seen = 0;
    };
    // Records the call and says which status to fake (0: call the service).
    OSStatus enter(Op op, UInt32 detail = 0);
    void record(Op op, OSStatus status, UInt32 detail);
    void leave(Op op);

    // The engine's stream client, called through a trampoline that can
    // replace an event.
    struct StreamClient {
        CFReadStreamClientCallBack callback = nullptr;
        void* info = nullptr;
        FaultInjectingPlatform* platform = nullptr;
    };
    static void streamTrampoline(CFReadStreamRef stream, CFStreamEventType type, void* info);

    // The engine's queue callback, called through a trampoline that keeps
    // count of the buffers the queue holds.
    struct QueueClient {
        AudioQueueOutputCallback callback = nullptr;
        void* userData = nullptr;
        FaultInjectingPlatform* platform = nullptr;
        std::vector<AudioQueueBufferRef> buffers;  // in allocation order
    };
    static void queueTrampoline(void* userData, AudioQueueRef queue, AudioQueueBufferRef buffer);

    struct ListenerClient {
        AudioQueuePropertyListenerProc proc = nullptr;
        void* userData = nullptr;
        FaultInjectingPlatform* platform = nullptr;
    };
    static void listenerTrampoline(void* userData, AudioQueueRef queue, AudioQueuePropertyID id);
    std::vector<std::unique_ptr<ListenerClient>> listenerClients_;
    std::condition_variable holdChanged_;
    bool holdRunning_ = false;
    int runningReports_ = 0;
    int runningReportsHandled_ = 0;
    int zeroRead_ = 0;
    int readsSeen_ = 0;
    int hookEvent_ = 0;
    std::function<void()> hook_;
    std::map<Op, std::function<void()>> callHooks_;
    std::map<Op, std::function<void()>> returnHooks_;

    mutable std::mutex mutex_;
    std::map<Op, std::vector<Fault>> faults_;
    std::map<Op, int> counts_;
    std::vector<CallRecord> calls_;
    std::vector<EnqueueRecord> enqueues_;
    int bytesEventsToError_ = 0;
    int bytesEventsSeen_ = 0;
    int buffersHeld_ = 0;
    std::vector<std::size_t> completions_;
    std::size_t bytesRead_ = 0;
    std::chrono::steady_clock::time_point lastParseReturn_{};
    std::map<CFReadStreamRef, std::unique_ptr<StreamClient>> streamClients_;
    std::map<AudioQueueRef, std::unique_ptr<QueueClient>> queueClients_;
    // Queues and parsers whose disposal was made to fail for good: released
    // at the end so a test leaks nothing.
    std::set<AudioQueueRef> liveQueues_;
    std::set<AudioFileStreamID> liveParsers_;
    // Clients are created before the service gives the queue's handle.
    std::unique_ptr<QueueClient> pendingQueueClient_;
};

}  // namespace orvento::test
