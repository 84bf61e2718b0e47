// The HTTP read stream: an HTTP/1.1 GET whose response body is read in pieces
// on the thread whose run loop the stream is scheduled on.
//
// Lifecycle: create a request, create a stream for it, release the request,
// open the stream, set its client, schedule it on a run loop, read inside the
// client's events, close, release. Opening validates the URL and returns at
// once; the transfer starts when the stream is both open and scheduled (in
// either order).
//
// Threads. The thread whose run loop the stream is scheduled on owns the
// stream. The transfer (a libcurl easy handle on a multi handle of its own,
// whose sockets and timers are run-loop sources) progresses only while that
// thread runs its loop, and every libcurl call on the stream's handles is made
// on that thread. Client events are dispatched there, from the loop's pass
// (never from inside a libcurl callback), and CFReadStreamRead is meant to be
// called there. CFReadStreamClose, CFRelease and HttpReadStreamErrorText may
// be called from any thread, also while the owning thread runs its loop or is
// inside the client's callback. Create, open, set the client and schedule on
// one thread (as a rule the owning thread, before it runs its loop).
//
// Events. kCFStreamEventHasBytesAvailable (2), kCFStreamEventErrorOccurred (8)
// and kCFStreamEventEndEncountered (16) are the only events reported, each
// only if the client's mask has it, at most one per pass of the loop:
//   - has-bytes-available when new body bytes have arrived in the buffer; it
//     is reported again on the next pass while buffered bytes remain, but only
//     if the client read something during (or since) the previous
//     has-bytes-available dispatch. A client that does not read is not
//     notified again until new bytes arrive, so it cannot make the loop spin.
//   - end-encountered once the response is complete and every buffered byte
//     has been read.
//   - error-occurred once the transfer has failed (connection, TLS, protocol
//     or redirect errors, a connect timeout, or the stall rule below) and
//     either every buffered byte has been read, or the client did not read
//     during the last has-bytes-available dispatch, or it does not take that
//     event: bytes already received are offered before the error.
// At most one of end and error is reported, once.
//
// Response. The request is a GET over HTTP/1.1 with no header fields beyond
// libcurl's own Host and "Accept: */*" (no Accept-Encoding, no User-Agent).
// Only a success reaches the reader: a response whose status is not 2xx (a
// 404 page, a 500 without a body) is an error named by its status line
// ("the server answered "HTTP/1.1 404 Not Found""), and none of its body is
// delivered. Header fields are not examined. Chunked transfer coding is
// decoded. A SHOUTcast-style status line "ICY 200 OK" is accepted like
// "HTTP/1.0 200 OK"; any other non-HTTP status line (such as "ICY 404 Not
// Found") is an error. Only http and https are spoken, also across redirects;
// at most 5 redirects are followed, and a failure after a redirect is named
// for itself (a certificate problem, too many redirects), not for the
// redirect. An internationalised host name (UTF-8 in the URL) is looked up in
// its ASCII form. These rules and their words are CurlTransfer's (shared with
// the whole-body download). Connecting times out after 15 s, and a transfer
// that receives no body byte for 30 s while it waits for the server fails
// (not while it is paused because the reader does not read).
//
// Slow streams. Every wake of the owning thread for a socket costs a few
// system calls whatever it brings (the loop's poll, the read, and libcurl's
// own readability check after it), and a live stream at a low bit rate
// arrives as many small pieces a second. Such a stream is read in batches.
// After a read of its socket that took some body bytes but fewer than
// kReadBatchBelowBytes, when the last kReadBatchSeconds brought fewer than
// kReadBatchBelowBytes (a rate below 64 KiB/s; right after the start or a
// resume, the same rate over the time observed so far), and pieces come more often than once an
// interval (the previous read was less than an interval ago, or this one took bytes that had waited
// through a batching delay), the stream stops watching that socket for reading for one interval and
// then reads, in one go, what the kernel's receive buffer held meanwhile. Never delayed:
// connecting, sending the request, TLS handshakes, a read that took no body byte (the response
// head) or a lot of it, a fast stream even when it arrives in small pieces, and any other socket;
// so the start of a stream, its burst included, and a fast stream run at full speed. A fast stream
// whose server falls silent for a whole interval may be taken for a slow one for one delay; the
// read after it is then large. At most one batching delay is pending at a time; the transfer's own
// timers (the connect timeout) are untouched. The cost: a slow stream's
// bytes, its end and its errors reach the reader up to one interval after
// they arrived. Batching changes neither the order nor the meaning of events:
// the end and an error still come after every byte received before them.
// The stall rule sees through a batching delay: bytes waiting in the kernel
// are read before it judges.
//
// Flow control and memory. The stream buffers at most 96 KiB of body (one
// read of 32 KiB plus 64 KiB ahead of it). When a piece from the network does
// not fit, the transfer pauses and TCP backpressure reaches the server; it is
// resumed, on a later pass of the loop, once the reader has drained the
// buffer to half. Memory does not grow with the length of the stream.
//
// Ownership. Requests and streams are created holding one reference, for the
// caller, which CFRelease gives back. The stream is also held internally
// while it is scheduled and while a client callback runs, so a callback in
// progress on the owning thread never sees freed memory even when another
// thread closes and releases the stream meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/net/ReadBatching.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"
#include "engine/platform/CoreTypes.h"

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
inline constexpr CFStreamEventType kCFStreamEventOpenCompleted = 1;  // never reported
inline constexpr CFStreamEventType kCFStreamEventHasBytesAvailable = 2;
inline constexpr CFStreamEventType kCFStreamEventCanAcceptBytes = 4;  // never reported
inline constexpr CFStreamEventType kCFStreamEventErrorOccurred = 8;
inline constexpr CFStreamEventType kCFStreamEventEndEncountered = 16;

// Called on the owning thread, from inside its run loop, with the stream, the
// event and the context's info.
using CFReadStreamClientCallBack = void (*)(CFReadStreamRef stream, CFStreamEventType type,
                                            void* clientCallBackInfo);

// The client's context. `info` is passed to every callback. When `retain` is
// given it is called on `info` when the client is set; `release`, when given,
// is called when the client is replaced or removed and when the stream is
// destroyed. `copyDescription` is not used.
struct CFStreamClientContext {
    CFIndex version;
    void* info;
    const void* (*retain)(const void* info);
    void (*release)(const void* info);
    CFStringRef (*copyDescription)(const void* info);
};

// A request for `url` with `requestMethod` and `httpVersion`. Only "GET" over
// kCFHTTPVersion1_1 is supported. Returns null when an argument is null or
// another method or version is asked for. Released with CFRelease. Any thread.
CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef alloc, CFStringRef requestMethod,
                                            CFURLRef url, CFStringRef httpVersion);

// A read stream for `request`; the stream keeps what it needs of the
// request, which may be released at once. Null for a null request. Released
// with CFRelease. Initialises libcurl for the process on first use.
CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc, CFHTTPMessageRef request);

// Validates the stream's URL and returns at once, without network activity.
// False (with HttpReadStreamErrorText set) for a null stream, a null URL, a
// scheme other than http or https (compared case-insensitively), a stream
// already opened, or a closed one. True otherwise: the transfer starts when
// the stream is scheduled.
bool CFReadStreamOpen(CFReadStreamRef stream);

// Sets the client: `clientCB` is called for the events in `streamEvents`.
// A null callback or an empty mask removes the client. The context is copied
// (see CFStreamClientContext); a null context means a null info. Returns
// false only for a null stream. Call it on the thread that schedules the
// stream, before scheduling, or on the owning thread.
bool CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags streamEvents,
                           CFReadStreamClientCallBack clientCB,
                           CFStreamClientContext* clientContext);

// Schedules the stream on `runLoop` in `runLoopMode` (kCFRunLoopCommonModes:
// served in every mode); `runLoop`'s thread becomes the owning thread. A
// stream is scheduled once: later calls, and calls with a null stream or
// loop, do nothing. When called on another thread than `runLoop`'s, the
// scheduling takes effect on the loop's next pass.
void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                     CFRunLoopMode runLoopMode);

// Copies up to `bufferLength` buffered body bytes into `buffer` and returns
// their number. Never blocks. Returns:
//   - n > 0: bytes read;
//   - 0: at the end of the stream, on a stream its owner has closed (a stop
//     never turns into a read failure), when `bufferLength` is 0, or when no
//     byte is buffered yet (within a has-bytes-available event at least one
//     byte always is);
//   - -1: the transfer failed and no byte is left, the owning thread's run
//     loop has been shut down, the call was made on another thread than the
//     owning one, or the stream or buffer is null or the length negative.
CFIndex CFReadStreamRead(CFReadStreamRef stream, std::uint8_t* buffer, CFIndex bufferLength);

// Closes the stream: from the moment it returns, no event is dispatched any
// more, except one whose dispatch had already begun on the owning thread
// (its callback may still be running, or be about to run, when close
// returns). Close never waits for a running callback: the callback may be
// blocked waiting for the very thread that closes. Reads on a closed stream
// return 0. The transfer is stopped and its libcurl handles are cleaned up on
// the owning thread: at once when called there, otherwise on its loop's next
// pass (or when that loop shuts down). Any thread; closing twice, closing a
// null stream or one never opened is harmless.
void CFReadStreamClose(CFReadStreamRef stream);

// Give back the caller's reference. Any thread; null is ignored. Releasing a
// stream closes it first if it is still open; the memory is freed once the
// stream is no longer scheduled and no callback of it is running.
void CFRelease(CFHTTPMessageRef message);
void CFRelease(CFReadStreamRef stream);

// Settings beyond the platform's, for tests and tools. The defaults are what
// every production stream uses.
struct HttpReadStreamOptions {
    double connectTimeoutSeconds = 15;
    double stallTimeoutSeconds = 30;  // no body byte for this long: error event
    // The batching interval for slow streams (which streams count as slow
    // does not change with it); 0 reads every piece as it arrives.
    double readBatchSeconds = kReadBatchSeconds;
    // Trust anchors (PEM) used instead of the system's bundle; the system's
    // certificate directory still applies. Empty: the system's bundle.
    std::string caFile;
};
// Before CFReadStreamOpen only; returns false afterwards, for a null stream,
// for a timeout that is not positive and for a batching interval that is
// negative or not finite.
bool HttpReadStreamSetOptions(CFReadStreamRef stream, const HttpReadStreamOptions& options);

// What went wrong, for a user (libcurl's own description where it has one;
// never a bare "Out of memory" for an over-long response header): empty until the open failed or
// the transfer failed (which is before, or at the latest when, the error event is reported). Any
// thread.
std::string HttpReadStreamErrorText(CFReadStreamRef stream);

// The length of the body as the response declared it (its Content-Length),
// known before the reader is offered the first byte; none before that,
// without a length (a live stream that ends when the server closes), for a
// chunked body and for a station's "ICY 200 OK" answer. A body that ends
// short of its declared length is an error, never an end. Any thread.
std::optional<std::uint64_t> HttpReadStreamDeclaredLength(CFReadStreamRef stream);

// How many batching delays the stream has made so far (0 for a null
// stream). Any thread.
std::uint64_t HttpReadStreamBatchingDelays(CFReadStreamRef stream);

}  // namespace orvento
