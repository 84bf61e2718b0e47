#include "engine/EnginePlatform.h"

#include <utility>

namespace orvento {

ProductionPlatform::ProductionPlatform(AudioOutputChoice output) : output_(std::move(output)) {}

OSStatus ProductionPlatform::AudioSessionInitialize(CFRunLoopRef runLoop, CFRunLoopMode mode,
                                                    AudioSessionInterruptionListener listener,
                                                    void* clientData) {
    return ::orvento::AudioSessionInitialize(runLoop, mode, listener, clientData);
}

OSStatus ProductionPlatform::AudioSessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                                     const void* data) {
    return ::orvento::AudioSessionSetProperty(id, size, data);
}

OSStatus ProductionPlatform::AudioSessionSetActive(Boolean active) {
    return ::orvento::AudioSessionSetActive(active);
}

OSStatus ProductionPlatform::AudioFileStreamOpen(void* clientData,
                                                 AudioFileStream_PropertyListenerProc propertyProc,
                                                 AudioFileStream_PacketsProc packetsProc,
                                                 AudioFileTypeID hint,
                                                 AudioFileStreamID* outStream) {
    return ::orvento::AudioFileStreamOpen(clientData, propertyProc, packetsProc, hint, outStream);
}

OSStatus ProductionPlatform::AudioFileStreamParseBytes(AudioFileStreamID stream, UInt32 size,
                                                       const void* data,
                                                       AudioFileStreamParseFlags flags) {
    return ::orvento::AudioFileStreamParseBytes(stream, size, data, flags);
}

OSStatus ProductionPlatform::AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                                            AudioFileStreamPropertyID id,
                                                            UInt32* outSize, Boolean* outWritable) {
    return ::orvento::AudioFileStreamGetPropertyInfo(stream, id, outSize, outWritable);
}

OSStatus ProductionPlatform::AudioFileStreamGetProperty(AudioFileStreamID stream,
                                                        AudioFileStreamPropertyID id,
                                                        UInt32* ioSize, void* outData) {
    return ::orvento::AudioFileStreamGetProperty(stream, id, ioSize, outData);
}

OSStatus ProductionPlatform::AudioFileStreamClose(AudioFileStreamID stream) {
    return ::orvento::AudioFileStreamClose(stream);
}

OSStatus ProductionPlatform::AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                                 AudioQueueOutputCallback callback, void* userData,
                                                 CFRunLoopRef runLoop, CFRunLoopMode mode,
                                                 UInt32 flags, AudioQueueRef* outQueue) {
    return ::orvento::AudioQueueNewOutputTo(output_, format, callback, userData, runLoop, mode,
                                            flags, outQueue);
}

OSStatus ProductionPlatform::AudioQueueAddPropertyListener(AudioQueueRef queue,
                                                           AudioQueuePropertyID id,
                                                           AudioQueuePropertyListenerProc proc,
                                                           void* userData) {
    return ::orvento::AudioQueueAddPropertyListener(queue, id, proc, userData);
}

OSStatus ProductionPlatform::AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                                      AudioQueueBufferRef* outBuffer) {
    return ::orvento::AudioQueueAllocateBuffer(queue, capacity, outBuffer);
}

OSStatus ProductionPlatform::AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id,
                                                   const void* data, UInt32 size) {
    return ::orvento::AudioQueueSetProperty(queue, id, data, size);
}

OSStatus ProductionPlatform::AudioQueueEnqueueBuffer(AudioQueueRef queue,
                                                     AudioQueueBufferRef buffer,
                                                     UInt32 packetDescCount,
                                                     const AudioStreamPacketDescription* descs) {
    return ::orvento::AudioQueueEnqueueBuffer(queue, buffer, packetDescCount, descs);
}

OSStatus ProductionPlatform::AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime) {
    return ::orvento::AudioQueueStart(queue, startTime);
}

OSStatus ProductionPlatform::AudioQueueFlush(AudioQueueRef queue) {
    return ::orvento::AudioQueueFlush(queue);
}

OSStatus ProductionPlatform::AudioQueueStop(AudioQueueRef queue, Boolean immediate) {
    return ::orvento::AudioQueueStop(queue, immediate);
}

OSStatus ProductionPlatform::AudioQueueDispose(AudioQueueRef queue, Boolean immediate) {
    return ::orvento::AudioQueueDispose(queue, immediate);
}

CFHTTPMessageRef ProductionPlatform::CFHTTPMessageCreateRequest(CFAllocatorRef alloc,
                                                                CFStringRef method, CFURLRef url,
                                                                CFStringRef version) {
    return ::orvento::CFHTTPMessageCreateRequest(alloc, method, std::move(url), version);
}

CFReadStreamRef ProductionPlatform::CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc,
                                                                     CFHTTPMessageRef request) {
    return ::orvento::CFReadStreamCreateForHTTPRequest(alloc, request);
}

Boolean ProductionPlatform::CFReadStreamOpen(CFReadStreamRef stream) {
    return ::orvento::CFReadStreamOpen(stream);
}

Boolean ProductionPlatform::CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                                  CFReadStreamClientCallBack callback,
                                                  CFStreamClientContext* context) {
    return ::orvento::CFReadStreamSetClient(stream, events, callback, context);
}

void ProductionPlatform::CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream,
                                                         CFRunLoopRef runLoop, CFRunLoopMode mode) {
    ::orvento::CFReadStreamScheduleWithRunLoop(stream, runLoop, mode);
}

CFIndex ProductionPlatform::CFReadStreamRead(CFReadStreamRef stream, UInt8* buffer,
                                             CFIndex length) {
    return ::orvento::CFReadStreamRead(stream, buffer, length);
}

void ProductionPlatform::CFReadStreamClose(CFReadStreamRef stream) {
    ::orvento::CFReadStreamClose(stream);
}

void ProductionPlatform::CFRelease(CFHTTPMessageRef message) {
    ::orvento::CFRelease(message);
}

void ProductionPlatform::CFRelease(CFReadStreamRef stream) {
    ::orvento::CFRelease(stream);
}

CFRunLoopRef ProductionPlatform::CFRunLoopGetCurrent() {
    return ::orvento::CFRunLoopGetCurrent();
}

SInt32 ProductionPlatform::CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                              Boolean returnAfterSourceHandled) {
    return ::orvento::CFRunLoopRunInMode(mode, seconds, returnAfterSourceHandled);
}

std::string ProductionPlatform::HttpReadStreamErrorText(CFReadStreamRef stream) {
    return ::orvento::HttpReadStreamErrorText(stream);
}

std::string ProductionPlatform::HttpReadStreamStatusLine(CFReadStreamRef stream) {
    return ::orvento::HttpReadStreamStatusLine(stream);
}

std::string ProductionPlatform::AudioQueueErrorText(AudioQueueRef queue) {
    return ::orvento::AudioQueueErrorText(queue);
}

}  // namespace orvento
