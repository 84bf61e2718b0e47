#include "tests/engine/FaultInjectingPlatform.h"

#include <algorithm>

namespace orvento::test {

FaultInjectingPlatform::FaultInjectingPlatform() : FaultInjectingPlatform(nullOutput(false)) {}

FaultInjectingPlatform::FaultInjectingPlatform(AudioOutputChoice output)
    : ProductionPlatform(std::move(output)) {}

FaultInjectingPlatform::~FaultInjectingPlatform() {
    for (AudioQueueRef queue : liveQueues_) {
        ::orvento::AudioQueueDispose(queue, true);
    }
    for (AudioFileStreamID parser : liveParsers_) {
        ::orvento::AudioFileStreamClose(parser);
    }
}

AudioOutputChoice FaultInjectingPlatform::nullOutput(bool realTime) {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::Null;
    choice.realTime = realTime;
    return choice;
}

void FaultInjectingPlatform::failCall(Op op, OSStatus status, int nth, int count,
                                      UInt32 propertyId) {
    std::lock_guard lock(mutex_);
    faults_[op].push_back(Fault{status, nth, nth + count - 1, propertyId});
}

void FaultInjectingPlatform::replaceBytesEventWithError(int nth) {
    std::lock_guard lock(mutex_);
    bytesEventsToError_ = nth;
}

void FaultInjectingPlatform::readReturnsZero(int nth) {
    std::lock_guard lock(mutex_);
    zeroRead_ = nth;
}

void FaultInjectingPlatform::onBytesEvent(int nth, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    hookEvent_ = nth;
    hook_ = std::move(action);
}

void FaultInjectingPlatform::onCall(Op op, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    callHooks_[op] = std::move(action);
}

void FaultInjectingPlatform::onReturn(Op op, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    returnHooks_[op] = std::move(action);
}

void FaultInjectingPlatform::leave(Op op) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        if (auto h = returnHooks_.find(op); h != returnHooks_.end()) {
            hook = std::move(h->second);
            returnHooks_.erase(h);
        }
    }
    if (hook) {
        hook();
    }
}

void FaultInjectingPlatform::holdRunningReports(bool hold) {
    {
        std::lock_guard lock(mutex_);
        holdRunning_ = hold;
    }
    holdChanged_.notify_all();
}

int FaultInjectingPlatform::runningReports() const {
    std::lock_guard lock(mutex_);
    return runningReports_;
}

int FaultInjectingPlatform::runningReportsHandled() const {
    std::lock_guard lock(mutex_);
    return runningReportsHandled_;
}

void FaultInjectingPlatform::listenerTrampoline(void* userData, AudioQueueRef queue,
                                                AudioQueuePropertyID id) {
    auto* client = static_cast<ListenerClient*>(userData);
    FaultInjectingPlatform* self = client->platform;
    {
        std::unique_lock lock(self->mutex_);
        self->holdChanged_.wait(lock, [self] { return !self->holdRunning_; });
        ++self->runningReports_;
    }
    client->proc(client->userData, queue, id);
    std::lock_guard lock(self->mutex_);
    ++self->runningReportsHandled_;
}

int FaultInjectingPlatform::count(Op op) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(op);
    return it == counts_.end() ? 0 : it->second;
}

std::vector<CallRecord> FaultInjectingPlatform::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<CallRecord> FaultInjectingPlatform::callsOf(Op op) const {
    std::lock_guard lock(mutex_);
    std::vector<CallRecord> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [op](const CallRecord& c) { return c.op == op; });
    return out;
}

std::vector<EnqueueRecord> FaultInjectingPlatform::enqueues() const {
    std::lock_guard lock(mutex_);
    return enqueues_;
}

std::vector<std::size_t> FaultInjectingPlatform::completions() const {
    std::lock_guard lock(mutex_);
    return completions_;
}

int FaultInjectingPlatform::buffersHeldByQueue() const {
    std::lock_guard lock(mutex_);
    return buffersHeld_;
}

std::chrono::steady_clock::time_point FaultInjectingPlatform::lastParseReturn() const {
    std::lock_guard lock(mutex_);
    return lastParseReturn_;
}

std::size_t FaultInjectingPlatform::bytesRead() const {
    std::lock_guard lock(mutex_);
    return bytesRead_;
}

OSStatus FaultInjectingPlatform::enter(Op op, UInt32 detail) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        if (auto h = callHooks_.find(op); h != callHooks_.end()) {
            hook = std::move(h->second);
            callHooks_.erase(h);
        }
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(mutex_);
    ++counts_[op];
    auto it = faults_.find(op);
    if (it == faults_.end()) {
        return noErr;
    }
    for (Fault& f : it->second) {
        if (f.propertyId != 0 && f.propertyId != detail) {
            continue;
        }
        ++f.seen;
        if (f.seen >= f.first && f.seen <= f.last) {
            return f.status;
        }
    }
    return noErr;
}

void FaultInjectingPlatform::record(Op op, OSStatus status, UInt32 detail) {
    std::lock_guard lock(mutex_);
    calls_.push_back(CallRecord{op, std::this_thread::get_id(), status, detail});
}

#define FORWARD_STATUS(op, detail, call)         \
    do {                                         \
        OSStatus injected = enter(op, (detail)); \
        OSStatus result = injected;              \
        if (injected == noErr) {                 \
            result = (call);                     \
        }                                        \
        record(op, result, (detail));            \
        leave(op);                               \
        return result;                           \
    } while (false)

OSStatus FaultInjectingPlatform::AudioSessionInitialize(CFRunLoopRef runLoop, CFRunLoopMode mode,
                                                        AudioSessionInterruptionListener listener,
                                                        void* clientData) {
    FORWARD_STATUS(Op::AudioSessionInitialize, 0,
                   ProductionPlatform::AudioSessionInitialize(runLoop, mode, listener, clientData));
}

OSStatus FaultInjectingPlatform::AudioSessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                                         const void* data) {
    FORWARD_STATUS(Op::AudioSessionSetProperty, id,
                   ProductionPlatform::AudioSessionSetProperty(id, size, data));
}

OSStatus FaultInjectingPlatform::AudioSessionSetActive(Boolean active) {
    FORWARD_STATUS(Op::AudioSessionSetActive, active ? 1 : 0,
                   ProductionPlatform::AudioSessionSetActive(active));
}

OSStatus FaultInjectingPlatform::AudioFileStreamOpen(
    void* clientData, AudioFileStream_PropertyListenerProc propertyProc,
    AudioFileStream_PacketsProc packetsProc, AudioFileTypeID hint, AudioFileStreamID* outStream) {
    const OSStatus injected = enter(Op::AudioFileStreamOpen, hint);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioFileStreamOpen(clientData, propertyProc, packetsProc,
                                                         hint, outStream);
        if (result == noErr) {
            std::lock_guard lock(mutex_);
            liveParsers_.insert(*outStream);
        }
    }
    record(Op::AudioFileStreamOpen, result, hint);
    return result;
}

OSStatus FaultInjectingPlatform::AudioFileStreamParseBytes(AudioFileStreamID stream, UInt32 size,
                                                           const void* data,
                                                           AudioFileStreamParseFlags flags) {
    const OSStatus injected = enter(Op::AudioFileStreamParseBytes, flags);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioFileStreamParseBytes(stream, size, data, flags);
    }
    {
        std::lock_guard lock(mutex_);
        lastParseReturn_ = std::chrono::steady_clock::now();
    }
    record(Op::AudioFileStreamParseBytes, result, flags);
    return result;
}

OSStatus FaultInjectingPlatform::AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                                                AudioFileStreamPropertyID id,
                                                                UInt32* outSize,
                                                                Boolean* outWritable) {
    FORWARD_STATUS(
        Op::AudioFileStreamGetPropertyInfo, id,
        ProductionPlatform::AudioFileStreamGetPropertyInfo(stream, id, outSize, outWritable));
}

OSStatus FaultInjectingPlatform::AudioFileStreamGetProperty(AudioFileStreamID stream,
                                                            AudioFileStreamPropertyID id,
                                                            UInt32* ioSize, void* outData) {
    FORWARD_STATUS(Op::AudioFileStreamGetProperty, id,
                   ProductionPlatform::AudioFileStreamGetProperty(stream, id, ioSize, outData));
}

OSStatus FaultInjectingPlatform::AudioFileStreamClose(AudioFileStreamID stream) {
    const OSStatus injected = enter(Op::AudioFileStreamClose);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioFileStreamClose(stream);
        if (result == noErr) {
            std::lock_guard lock(mutex_);
            liveParsers_.erase(stream);
        }
    }
    record(Op::AudioFileStreamClose, result, 0);
    return result;
}

void FaultInjectingPlatform::queueTrampoline(void* userData, AudioQueueRef queue,
                                             AudioQueueBufferRef buffer) {
    auto* client = static_cast<QueueClient*>(userData);
    {
        std::lock_guard lock(client->platform->mutex_);
        --client->platform->buffersHeld_;
        const auto& b = client->buffers;
        client->platform->completions_.push_back(
            static_cast<std::size_t>(std::find(b.begin(), b.end(), buffer) - b.begin()));
    }
    client->callback(client->userData, queue, buffer);
}

OSStatus FaultInjectingPlatform::AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                                     AudioQueueOutputCallback callback,
                                                     void* userData, CFRunLoopRef runLoop,
                                                     CFRunLoopMode mode, UInt32 flags,
                                                     AudioQueueRef* outQueue) {
    auto client = std::make_unique<QueueClient>();
    client->callback = callback;
    client->userData = userData;
    client->platform = this;
    QueueClient* raw = client.get();
    OSStatus injected = enter(Op::AudioQueueNewOutput);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioQueueNewOutput(format, &queueTrampoline, raw, runLoop,
                                                         mode, flags, outQueue);
    }
    if (result == noErr) {
        std::lock_guard lock(mutex_);
        queueClients_[*outQueue] = std::move(client);
        liveQueues_.insert(*outQueue);
    }
    record(Op::AudioQueueNewOutput, result, 0);
    return result;
}

OSStatus FaultInjectingPlatform::AudioQueueAddPropertyListener(AudioQueueRef queue,
                                                               AudioQueuePropertyID id,
                                                               AudioQueuePropertyListenerProc proc,
                                                               void* userData) {
    OSStatus injected = enter(Op::AudioQueueAddPropertyListener, id);
    OSStatus result = injected;
    if (injected == noErr) {
        auto client = std::make_unique<ListenerClient>();
        client->proc = proc;
        client->userData = userData;
        client->platform = this;
        ListenerClient* raw = client.get();
        {
            std::lock_guard lock(mutex_);
            listenerClients_.push_back(std::move(client));
        }
        result =
            ProductionPlatform::AudioQueueAddPropertyListener(queue, id, &listenerTrampoline, raw);
    }
    record(Op::AudioQueueAddPropertyListener, result, id);
    return result;
}

OSStatus FaultInjectingPlatform::AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                                          AudioQueueBufferRef* outBuffer) {
    OSStatus injected = enter(Op::AudioQueueAllocateBuffer);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioQueueAllocateBuffer(queue, capacity, outBuffer);
    }
    if (result == noErr) {
        std::lock_guard lock(mutex_);
        if (auto it = queueClients_.find(queue); it != queueClients_.end()) {
            it->second->buffers.push_back(*outBuffer);
        }
    }
    record(Op::AudioQueueAllocateBuffer, result, capacity);
    return result;
}

OSStatus FaultInjectingPlatform::AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id,
                                                       const void* data, UInt32 size) {
    FORWARD_STATUS(Op::AudioQueueSetProperty, id,
                   ProductionPlatform::AudioQueueSetProperty(queue, id, data, size));
}

OSStatus FaultInjectingPlatform::AudioQueueEnqueueBuffer(
    AudioQueueRef queue, AudioQueueBufferRef buffer, UInt32 packetDescCount,
    const AudioStreamPacketDescription* descs) {
    {
        std::lock_guard lock(mutex_);
        EnqueueRecord r{buffer->mAudioDataByteSize, packetDescCount, descs != nullptr, {}, 0};
        if (descs != nullptr) {
            r.descs.assign(descs, descs + packetDescCount);
        }
        if (auto it = queueClients_.find(queue); it != queueClients_.end()) {
            const auto& b = it->second->buffers;
            r.ringPosition =
                static_cast<std::size_t>(std::find(b.begin(), b.end(), buffer) - b.begin());
        }
        enqueues_.push_back(std::move(r));
    }
    OSStatus injected = enter(Op::AudioQueueEnqueueBuffer);
    OSStatus result = injected;
    if (injected == noErr) {
        // Counted before the call: the queue may give the buffer back at once.
        {
            std::lock_guard lock(mutex_);
            ++buffersHeld_;
        }
        result = ProductionPlatform::AudioQueueEnqueueBuffer(queue, buffer, packetDescCount, descs);
        if (result != noErr) {
            std::lock_guard lock(mutex_);
            --buffersHeld_;
        }
    }
    record(Op::AudioQueueEnqueueBuffer, result, packetDescCount);
    return result;
}

OSStatus FaultInjectingPlatform::AudioQueueStart(AudioQueueRef queue,
                                                 const AudioTimeStamp* startTime) {
    FORWARD_STATUS(Op::AudioQueueStart, 0, ProductionPlatform::AudioQueueStart(queue, startTime));
}

OSStatus FaultInjectingPlatform::AudioQueueFlush(AudioQueueRef queue) {
    FORWARD_STATUS(Op::AudioQueueFlush, 0, ProductionPlatform::AudioQueueFlush(queue));
}

OSStatus FaultInjectingPlatform::AudioQueueStop(AudioQueueRef queue, Boolean immediate) {
    FORWARD_STATUS(Op::AudioQueueStop, immediate ? 1 : 0,
                   ProductionPlatform::AudioQueueStop(queue, immediate));
}

OSStatus FaultInjectingPlatform::AudioQueueDispose(AudioQueueRef queue, Boolean immediate) {
    OSStatus injected = enter(Op::AudioQueueDispose, immediate ? 1 : 0);
    OSStatus result = injected;
    if (injected == noErr) {
        result = ProductionPlatform::AudioQueueDispose(queue, immediate);
        if (result == noErr) {
            std::lock_guard lock(mutex_);
            liveQueues_.erase(queue);
        }
    }
    record(Op::AudioQueueDispose, result, immediate ? 1 : 0);
    return result;
}

CFHTTPMessageRef FaultInjectingPlatform::CFHTTPMessageCreateRequest(CFAllocatorRef alloc,
                                                                    CFStringRef method,
                                                                    CFURLRef url,
                                                                    CFStringRef version) {
    if (enter(Op::CFHTTPMessageCreateRequest) != noErr) {
        record(Op::CFHTTPMessageCreateRequest, 1, 0);
        return nullptr;
    }
    record(Op::CFHTTPMessageCreateRequest, 0, 0);
    return ProductionPlatform::CFHTTPMessageCreateRequest(alloc, method, std::move(url), version);
}

CFReadStreamRef FaultInjectingPlatform::CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc,
                                                                         CFHTTPMessageRef request) {
    if (enter(Op::CFReadStreamCreateForHTTPRequest) != noErr) {
        record(Op::CFReadStreamCreateForHTTPRequest, 1, 0);
        return nullptr;
    }
    record(Op::CFReadStreamCreateForHTTPRequest, 0, 0);
    return ProductionPlatform::CFReadStreamCreateForHTTPRequest(alloc, request);
}

Boolean FaultInjectingPlatform::CFReadStreamOpen(CFReadStreamRef stream) {
    if (enter(Op::CFReadStreamOpen) != noErr) {
        record(Op::CFReadStreamOpen, 1, 0);
        return false;
    }
    const Boolean opened = ProductionPlatform::CFReadStreamOpen(stream);
    record(Op::CFReadStreamOpen, opened ? 0 : 1, 0);
    return opened;
}

void FaultInjectingPlatform::streamTrampoline(CFReadStreamRef stream, CFStreamEventType type,
                                              void* info) {
    auto* client = static_cast<StreamClient*>(info);
    FaultInjectingPlatform* self = client->platform;
    if (type == kCFStreamEventHasBytesAvailable) {
        std::function<void()> action;
        {
            std::lock_guard lock(self->mutex_);
            ++self->bytesEventsSeen_;
            if (self->bytesEventsSeen_ == self->bytesEventsToError_) {
                type = kCFStreamEventErrorOccurred;
            }
            if (self->bytesEventsSeen_ == self->hookEvent_) {
                action = std::move(self->hook_);
            }
        }
        if (action) {
            action();
        }
    }
    self->record(Op::StreamEvent, 0, static_cast<UInt32>(type));
    client->callback(stream, type, client->info);
}

Boolean FaultInjectingPlatform::CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                                      CFReadStreamClientCallBack callback,
                                                      CFStreamClientContext* context) {
    enter(Op::CFReadStreamSetClient, static_cast<UInt32>(events));
    auto client = std::make_unique<StreamClient>();
    client->callback = callback;
    client->info = context != nullptr ? context->info : nullptr;
    client->platform = this;
    CFStreamClientContext ours{0, client.get(), nullptr, nullptr, nullptr};
    {
        std::lock_guard lock(mutex_);
        streamClients_[stream] = std::move(client);
    }
    record(Op::CFReadStreamSetClient, 0, static_cast<UInt32>(events));
    return ProductionPlatform::CFReadStreamSetClient(stream, events, &streamTrampoline, &ours);
}

void FaultInjectingPlatform::CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream,
                                                             CFRunLoopRef runLoop,
                                                             CFRunLoopMode mode) {
    enter(Op::CFReadStreamScheduleWithRunLoop);
    record(Op::CFReadStreamScheduleWithRunLoop, 0, 0);
    ProductionPlatform::CFReadStreamScheduleWithRunLoop(stream, runLoop, mode);
}

CFIndex FaultInjectingPlatform::CFReadStreamRead(CFReadStreamRef stream, UInt8* buffer,
                                                 CFIndex length) {
    if (enter(Op::CFReadStreamRead) != noErr) {
        record(Op::CFReadStreamRead, -1, 0);
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        if (++readsSeen_ == zeroRead_) {
            calls_.push_back(CallRecord{Op::CFReadStreamRead, std::this_thread::get_id(), 0, 0});
            return 0;
        }
    }
    const CFIndex n = ProductionPlatform::CFReadStreamRead(stream, buffer, length);
    {
        std::lock_guard lock(mutex_);
        bytesRead_ += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    record(Op::CFReadStreamRead, static_cast<OSStatus>(n), 0);
    return n;
}

void FaultInjectingPlatform::CFReadStreamClose(CFReadStreamRef stream) {
    enter(Op::CFReadStreamClose);
    record(Op::CFReadStreamClose, 0, 0);
    ProductionPlatform::CFReadStreamClose(stream);
}

void FaultInjectingPlatform::CFRelease(CFHTTPMessageRef message) {
    enter(Op::CFReleaseRequest);
    record(Op::CFReleaseRequest, 0, 0);
    ProductionPlatform::CFRelease(message);
}

void FaultInjectingPlatform::CFRelease(CFReadStreamRef stream) {
    enter(Op::CFReleaseStream);
    record(Op::CFReleaseStream, 0, 0);
    ProductionPlatform::CFRelease(stream);
}

CFRunLoopRef FaultInjectingPlatform::CFRunLoopGetCurrent() {
    enter(Op::CFRunLoopGetCurrent);
    return ProductionPlatform::CFRunLoopGetCurrent();
}

SInt32 FaultInjectingPlatform::CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                                  Boolean returnAfterSourceHandled) {
    enter(Op::CFRunLoopRunInMode);
    return ProductionPlatform::CFRunLoopRunInMode(mode, seconds, returnAfterSourceHandled);
}

}  // namespace orvento::test
