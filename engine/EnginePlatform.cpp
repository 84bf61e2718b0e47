#include "engine/EnginePlatform.h"

#include <cstdio>
#include <utility>

#include "engine/HookedHttpStream.h"

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

OSStatus EnginePlatform::AudioFileStreamOpen(void* clientData,
                                             AudioFileStream_PropertyListenerProc propertyProc,
                                             AudioFileStream_PacketsProc packetsProc,
                                             AudioFileTypeID hint, AudioFileStreamID* outStream) {
    PlatformCall call{PlatformOp::AudioFileStreamOpen, hint};
    return hooked(call, [&] {
        const OSStatus status =
            ::orvento::AudioFileStreamOpen(clientData, propertyProc, packetsProc, hint, outStream);
        call.parser = status == noErr ? *outStream : nullptr;
        return status;
    });
}

OSStatus EnginePlatform::AudioFileStreamParseBytes(AudioFileStreamID stream, std::uint32_t size,
                                                   const void* data,
                                                   AudioFileStreamParseFlags flags) {
    PlatformCall call{PlatformOp::AudioFileStreamParseBytes, flags, stream};
    return hooked(call,
                  [&] { return ::orvento::AudioFileStreamParseBytes(stream, size, data, flags); });
}

OSStatus EnginePlatform::AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                                        AudioFileStreamPropertyID id,
                                                        std::uint32_t* outSize, bool* outWritable) {
    PlatformCall call{PlatformOp::AudioFileStreamGetPropertyInfo, id, stream};
    return hooked(call, [&] {
        return ::orvento::AudioFileStreamGetPropertyInfo(stream, id, outSize, outWritable);
    });
}

OSStatus EnginePlatform::AudioFileStreamGetProperty(AudioFileStreamID stream,
                                                    AudioFileStreamPropertyID id,
                                                    std::uint32_t* ioSize, void* outData) {
    PlatformCall call{PlatformOp::AudioFileStreamGetProperty, id, stream};
    return hooked(
        call, [&] { return ::orvento::AudioFileStreamGetProperty(stream, id, ioSize, outData); });
}

OSStatus EnginePlatform::AudioFileStreamClose(AudioFileStreamID stream) {
    PlatformCall call{PlatformOp::AudioFileStreamClose, 0, stream};
    return hooked(call, [&] { return ::orvento::AudioFileStreamClose(stream); });
}

OSStatus EnginePlatform::AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                                             AudioQueueOutputCallback callback, void* userData,
                                             RunLoop* runLoop, const char* mode,
                                             std::uint32_t flags, AudioQueueRef* outQueue) {
    PlatformCall call{PlatformOp::AudioQueueNewOutput};
    return hooked(call, [&] {
        interpose(callback, userData);
        const OSStatus status = ::orvento::AudioQueueNewOutputTo(
            output_, format, callback, userData, runLoop, mode, flags, outQueue);
        call.queue = status == noErr ? *outQueue : nullptr;
        return status;
    });
}

OSStatus EnginePlatform::AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID id,
                                                       AudioQueuePropertyListenerProc proc,
                                                       void* userData) {
    PlatformCall call{PlatformOp::AudioQueueAddPropertyListener, id, nullptr, queue};
    return hooked(call, [&] {
        interpose(proc, userData);
        return ::orvento::AudioQueueAddPropertyListener(queue, id, proc, userData);
    });
}

OSStatus EnginePlatform::AudioQueueAllocateBuffer(AudioQueueRef queue, std::uint32_t capacity,
                                                  AudioQueueBufferRef* outBuffer) {
    PlatformCall call{PlatformOp::AudioQueueAllocateBuffer, capacity, nullptr, queue};
    return hooked(call, [&] {
        const OSStatus status = ::orvento::AudioQueueAllocateBuffer(queue, capacity, outBuffer);
        call.buffer = status == noErr ? *outBuffer : nullptr;
        return status;
    });
}

OSStatus EnginePlatform::AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID id,
                                               const void* data, std::uint32_t size) {
    PlatformCall call{PlatformOp::AudioQueueSetProperty, id, nullptr, queue};
    return hooked(call, [&] { return ::orvento::AudioQueueSetProperty(queue, id, data, size); });
}

OSStatus EnginePlatform::AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                                 std::uint32_t packetDescCount,
                                                 const AudioStreamPacketDescription* descs) {
    PlatformCall call{PlatformOp::AudioQueueEnqueueBuffer,
                      packetDescCount,
                      nullptr,
                      queue,
                      nullptr,
                      buffer,
                      descs};
    return hooked(call, [&] {
        return ::orvento::AudioQueueEnqueueBuffer(queue, buffer, packetDescCount, descs);
    });
}

OSStatus EnginePlatform::AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime) {
    PlatformCall call{PlatformOp::AudioQueueStart, 0, nullptr, queue};
    return hooked(call, [&] { return ::orvento::AudioQueueStart(queue, startTime); });
}

OSStatus EnginePlatform::AudioQueueFlush(AudioQueueRef queue) {
    PlatformCall call{PlatformOp::AudioQueueFlush, 0, nullptr, queue};
    return hooked(call, [&] { return ::orvento::AudioQueueFlush(queue); });
}

OSStatus EnginePlatform::AudioQueueStop(AudioQueueRef queue, bool immediate) {
    PlatformCall call{PlatformOp::AudioQueueStop, immediate ? 1U : 0U, nullptr, queue};
    return hooked(call, [&] { return ::orvento::AudioQueueStop(queue, immediate); });
}

OSStatus EnginePlatform::AudioQueueDispose(AudioQueueRef queue, bool immediate) {
    PlatformCall call{PlatformOp::AudioQueueDispose, immediate ? 1U : 0U, nullptr, queue};
    return hooked(call, [&] { return ::orvento::AudioQueueDispose(queue, immediate); });
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

std::string EnginePlatform::AudioQueueErrorText(AudioQueueRef queue) {
    return ::orvento::AudioQueueErrorText(queue);
}

double EnginePlatform::AudioQueueStarvedSeconds(AudioQueueRef queue) {
    return ::orvento::AudioQueueStarvedSeconds(queue);
}

}  // namespace orvento
