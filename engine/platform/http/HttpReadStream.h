// The HTTP read stream: an HTTP/1.1 GET whose response body is read in pieces
// on the thread whose run loop the stream is scheduled on.
//
// Lifecycle: create a request, create a stream for it, release the request,
// open the stream, set its client, schedule it on a run loop, read inside the
// client's events, close, release. (Contract details: see below, at each
// operation.)
#pragma once

#include <cstddef>
#include <string>

#include "engine/platform/CoreTypes.h"
#include "engine/platform/runloop/RunLoop.h"
#include "engine/platform/url/Url.h"

namespace orvento {

struct CFAllocator;
using CFAllocatorRef = const CFAllocator*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

using CFStringRef = const char*;
using CFIndex = long;
using CFOptionFlags = unsigned long;

inline constexpr CFStringRef kCFHTTPVersion1_1 = "HTTP/1.1";

class HttpMessage;
using CFHTTPMessageRef = HttpMessage*;
class HttpReadStream;
using CFReadStreamRef = HttpReadStream*;

using CFStreamEventType = CFOptionFlags;
inline constexpr CFStreamEventType kCFStreamEventNone = 0;
inline constexpr CFStreamEventType kCFStreamEventOpenCompleted = 1;
inline constexpr CFStreamEventType kCFStreamEventHasBytesAvailable = 2;
inline constexpr CFStreamEventType kCFStreamEventCanAcceptBytes = 4;
inline constexpr CFStreamEventType kCFStreamEventErrorOccurred = 8;
inline constexpr CFStreamEventType kCFStreamEventEndEncountered = 16;

using CFReadStreamClientCallBack = void (*)(CFReadStreamRef stream, CFStreamEventType type,
                                            void* clientCallBackInfo);

struct CFStreamClientContext {
    CFIndex version;
    void* info;
    const void* (*retain)(const void* info);
    void (*release)(const void* info);
    CFStringRef (*copyDescription)(const void* info);
};

// A request for `url` with `requestMethod` ("GET") and `httpVersion`
// (kCFHTTPVersion1_1). Returns null when an argument is null. Released with
// CFRelease.
CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef alloc, CFStringRef requestMethod,
                                            CFURLRef url, CFStringRef httpVersion);

// A read stream for `request`; the stream keeps what it needs of the
// request, which may be released at once. Released with CFRelease.
CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc, CFHTTPMessageRef request);

Boolean CFReadStreamOpen(CFReadStreamRef stream);
Boolean CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags streamEvents,
                              CFReadStreamClientCallBack clientCB,
                              CFStreamClientContext* clientContext);
void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                     CFRunLoopMode runLoopMode);
CFIndex CFReadStreamRead(CFReadStreamRef stream, UInt8* buffer, CFIndex bufferLength);
void CFReadStreamClose(CFReadStreamRef stream);

void CFRelease(CFHTTPMessageRef message);
void CFRelease(CFReadStreamRef stream);

// Settings beyond the platform's, for tests and tools. The defaults are what
// every production stream uses.
struct HttpReadStreamOptions {
    double connectTimeoutSeconds = 15;
    double stallTimeoutSeconds = 30;  // no body byte for this long: error event
    std::string caFile;               // extra trust anchors (PEM); empty: the system's
};
// Before CFReadStreamOpen only; returns false afterwards.
Boolean HttpReadStreamSetOptions(CFReadStreamRef stream, const HttpReadStreamOptions& options);

// What went wrong, for a user: empty until an error event was reported or the
// open failed.
std::string HttpReadStreamErrorText(CFReadStreamRef stream);

}  // namespace orvento
