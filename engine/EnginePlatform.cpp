#include "engine/EnginePlatform.h"

#include <cstdio>
#include <utility>

#include "engine/HookedParser.h"

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

OutputQueueCreation EnginePlatform::makeOutputQueue(const AudioStreamBasicDescription& format,
                                                    OutputQueue::Listener& listener) {
    PlatformCall call{PlatformOp::AudioQueueNewOutput};
    OutputQueueCreation created;
    const OSStatus status = hooked(call, [&] {
        OutputQueue::Listener* told = &listener;
        interpose(told);
        created = ::orvento::makeOutputQueue(format, output_, *told);
        call.queue = created.queue.get();
        return static_cast<OSStatus>(created.error);
    });
    if (status != noErr || created.queue == nullptr) {
        // Faked, or failed for real.
        return {nullptr,
                status != noErr ? static_cast<QueueError>(status) : QueueError::InvalidParameter};
    }
    return {std::make_unique<HookedQueue>(*this, std::move(created.queue)), QueueError::None};
}

StreamParserCreation EnginePlatform::makeStreamParser(StreamParser::Listener& listener,
                                                      AudioFileType hint) {
    return HookedParser::open(*this, listener, hint);
}

CFHTTPMessageRef EnginePlatform::CFHTTPMessageCreateRequest(CFAllocatorRef alloc,
                                                            CFStringRef method, CFURLRef url,
                                                            CFStringRef version) {
    PlatformCall call{PlatformOp::CFHTTPMessageCreateRequest};
    CFHTTPMessageRef request = nullptr;
    succeeds(call, [&] {
        request = ::orvento::CFHTTPMessageCreateRequest(alloc, method, std::move(url), version);
        return request != nullptr;
    });
    return request;
}

CFReadStreamRef EnginePlatform::CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc,
                                                                 CFHTTPMessageRef request) {
    PlatformCall call{PlatformOp::CFReadStreamCreateForHTTPRequest};
    succeeds(call, [&] {
        call.stream = ::orvento::CFReadStreamCreateForHTTPRequest(alloc, request);
        return call.stream != nullptr;
    });
    return call.stream;
}

bool EnginePlatform::CFReadStreamOpen(CFReadStreamRef stream) {
    PlatformCall call{PlatformOp::CFReadStreamOpen, 0, nullptr, nullptr, stream};
    return succeeds(call, [&] { return ::orvento::CFReadStreamOpen(stream); });
}

bool EnginePlatform::CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                           CFReadStreamClientCallBack callback,
                                           CFStreamClientContext* context) {
    PlatformCall call{PlatformOp::CFReadStreamSetClient, static_cast<std::uint32_t>(events),
                      nullptr, nullptr, stream};
    return succeeds(call, [&] {
        CFStreamClientContext ours{0, nullptr, nullptr, nullptr, nullptr};
        if (context != nullptr) {
            ours = *context;
        }
        interpose(callback, ours.info);
        return ::orvento::CFReadStreamSetClient(stream, events, callback, &ours);
    });
}

void EnginePlatform::CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                                     CFRunLoopMode mode) {
    PlatformCall call{PlatformOp::CFReadStreamScheduleWithRunLoop, 0, nullptr, nullptr, stream};
    before(call);
    ::orvento::CFReadStreamScheduleWithRunLoop(stream, runLoop, mode);
    after(call, noErr);
}

CFIndex EnginePlatform::CFReadStreamRead(CFReadStreamRef stream, std::uint8_t* buffer,
                                         CFIndex length) {
    PlatformCall call{PlatformOp::CFReadStreamRead, 0, nullptr, nullptr, stream};
    return hooked(call, [&] {
        return static_cast<OSStatus>(::orvento::CFReadStreamRead(stream, buffer, length));
    });
}

void EnginePlatform::CFReadStreamClose(CFReadStreamRef stream) {
    PlatformCall call{PlatformOp::CFReadStreamClose, 0, nullptr, nullptr, stream};
    before(call);
    ::orvento::CFReadStreamClose(stream);
    after(call, noErr);
}

void EnginePlatform::CFRelease(CFHTTPMessageRef message) {
    PlatformCall call{PlatformOp::CFReleaseRequest};
    before(call);
    ::orvento::CFRelease(message);
    after(call, noErr);
}

void EnginePlatform::CFRelease(CFReadStreamRef stream) {
    PlatformCall call{PlatformOp::CFReleaseStream, 0, nullptr, nullptr, stream};
    before(call);
    ::orvento::CFRelease(stream);
    after(call, noErr);
}

CFRunLoopRef EnginePlatform::CFRunLoopGetCurrent() {
    PlatformCall call{PlatformOp::CFRunLoopGetCurrent};
    before(call);
    CFRunLoopRef loop = ::orvento::CFRunLoopGetCurrent();
    after(call, noErr);
    return loop;
}

std::int32_t EnginePlatform::CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                                bool returnAfterSourceHandled) {
    PlatformCall call{PlatformOp::CFRunLoopRunInMode};
    before(call);
    const std::int32_t result =
        ::orvento::CFRunLoopRunInMode(mode, seconds, returnAfterSourceHandled);
    after(call, noErr);
    return result;
}

bool EnginePlatform::CFRunLoopPerformBlock(CFRunLoopRef loop, std::function<void()> block) {
    PlatformCall call{PlatformOp::CFRunLoopPerformBlock};
    return succeeds(call, [&] { return loop != nullptr && loop->post(std::move(block)); });
}

std::string EnginePlatform::HttpReadStreamErrorText(CFReadStreamRef stream) {
    return ::orvento::HttpReadStreamErrorText(stream);
}

std::optional<std::uint64_t> EnginePlatform::HttpReadStreamDeclaredLength(CFReadStreamRef stream) {
    return ::orvento::HttpReadStreamDeclaredLength(stream);
}

}  // namespace orvento
