// The engine's one seam to the platform: every platform operation a stream
// player calls (audio session, streaming parser, output queue, HTTP read
// stream, run loop) is a virtual member here, named and shaped like the
// platform function it stands for.
//
// ProductionPlatform forwards each member to the real service. Tests derive
// from it to make a single operation fail with a chosen status, or to make the
// read stream report an error, while every other operation stays real.
//
// Threads: a player calls the session, parser, read-stream and run-loop
// members on its worker thread; the queue members on its worker thread, except
// AudioQueueStop (also from the thread that calls the player's stop) and
// AudioSessionSetActive(false) (from the queue's own thread). A platform
// object may be shared by several players at once, so implementations keep no
// per-call state without a lock.
#pragma once

#include <memory>
#include <string>

#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"
#include "engine/platform/http/HttpReadStream.h"
#include "engine/platform/parser/AudioFileStream.h"
#include "engine/platform/queue/AudioQueue.h"
#include "engine/platform/runloop/RunLoop.h"
#include "engine/platform/session/AudioSession.h"
#include "engine/platform/url/Url.h"

namespace orvento {

class EnginePlatform {
  public:
    virtual ~EnginePlatform() = default;

    // Audio session.
    virtual OSStatus AudioSessionInitialize(CFRunLoopRef runLoop, CFRunLoopMode mode,
                                            AudioSessionInterruptionListener listener,
                                            void* clientData) = 0;
    virtual OSStatus AudioSessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                             const void* data) = 0;
    virtual OSStatus AudioSessionSetActive(Boolean active) = 0;

    // Streaming audio-file parser.
    virtual OSStatus AudioFileStreamOpen(void* clientData,
                                         AudioFileStream_PropertyListenerProc propertyProc,
                                         AudioFileStream_PacketsProc packetsProc,
                                         AudioFileTypeID hint, AudioFileStreamID* outStream) = 0;
    virtual OSStatus AudioFileStreamParseBytes(AudioFileStreamID stream, UInt32 size,
                                               const void* data,
                                               AudioFileStreamParseFlags flags) = 0;
    virtual OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                                    AudioFileStreamPropertyID id, UInt32* outSize,
                                                    Boolean* outWritable) = 0;
    virtual OSStatus AudioFileStreamGetProperty(AudioFileStreamID stream,
                                                AudioFileStreamPropertyID id, UInt32* ioSize,
                                                void* outData) = 0;
    virtual OSStatus AudioFileStreamClose(AudioFileStreamID stream) = 0;

    // Output audio queue.
    virtual OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                         AudioQueueOutputCallback callback, void* userData,
                                         CFRunLoopRef runLoop, CFRunLoopMode mode, UInt32 flags,
                                         AudioQueueRef* outQueue) = 0;
    virtual OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID id,
                                                   AudioQueuePropertyListenerProc proc,
                                                   void* userData) = 0;
    virtual OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                              AudioQueueBufferRef* outBuffer) = 0;
    virtual OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id,
                                           const void* data, UInt32 size) = 0;
    virtual OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                             UInt32 packetDescCount,
                                             const AudioStreamPacketDescription* descs) = 0;
    virtual OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime) = 0;
    virtual OSStatus AudioQueueFlush(AudioQueueRef queue) = 0;
    virtual OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate) = 0;
    virtual OSStatus AudioQueueDispose(AudioQueueRef queue, Boolean immediate) = 0;

    // HTTP read stream.
    virtual CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef alloc, CFStringRef method,
                                                        CFURLRef url, CFStringRef version) = 0;
    virtual CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc,
                                                             CFHTTPMessageRef request) = 0;
    virtual Boolean CFReadStreamOpen(CFReadStreamRef stream) = 0;
    virtual Boolean CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                          CFReadStreamClientCallBack callback,
                                          CFStreamClientContext* context) = 0;
    virtual void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                                 CFRunLoopMode mode) = 0;
    virtual CFIndex CFReadStreamRead(CFReadStreamRef stream, UInt8* buffer, CFIndex length) = 0;
    virtual void CFReadStreamClose(CFReadStreamRef stream) = 0;
    virtual void CFRelease(CFHTTPMessageRef message) = 0;
    virtual void CFRelease(CFReadStreamRef stream) = 0;

    // Run loop.
    virtual CFRunLoopRef CFRunLoopGetCurrent() = 0;
    virtual SInt32 CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) = 0;

    // The services' own words, which a player keeps to say why it failed:
    // the read stream's failure text and its response's status line, the
    // queue's failure text. Empty when a service has none (the defaults).
    // On the worker thread, while the stream or queue is open.
    virtual std::string HttpReadStreamErrorText(CFReadStreamRef /*stream*/) { return {}; }
    virtual std::string HttpReadStreamStatusLine(CFReadStreamRef /*stream*/) { return {}; }
    virtual std::string AudioQueueErrorText(AudioQueueRef /*queue*/) { return {}; }
};

// The real services. New queues go to the output chosen at construction (the
// sound device by default).
class ProductionPlatform : public EnginePlatform {
  public:
    explicit ProductionPlatform(AudioOutputChoice output = {});

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

    std::string HttpReadStreamErrorText(CFReadStreamRef stream) override;
    std::string HttpReadStreamStatusLine(CFReadStreamRef stream) override;
    std::string AudioQueueErrorText(AudioQueueRef queue) override;

  private:
    const AudioOutputChoice output_;
};

}  // namespace orvento
