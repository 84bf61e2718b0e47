// The HTTP stream: an HTTP/1.1 GET whose response body is read in pieces on
// the thread whose run loop the stream is scheduled on.
//
// Lifecycle: create the stream for a URL (HttpStream::create), open it, set
// its listener, schedule it on a run loop, read inside the listener's
// events, destroy it (or close it first where the closing thread is not the
// owner). Opening validates the URL and returns at once; the transfer starts
// when the stream is both open and scheduled (in either order).
//
// Threads. The thread whose run loop the stream is scheduled on owns the
// stream. The transfer (a libcurl easy handle on a multi handle of its own,
// whose sockets and timers are run-loop sources) progresses only while that
// thread runs its loop, and every libcurl call on the stream's handles is made
// on that thread. Listener events are dispatched there, from the loop's pass
// (never from inside a libcurl callback), and read() is meant to be called
// there. close(), the destructor, errorText(), declaredLength() and
// batchingDelays() may be called from any thread, also while the owning
// thread runs its loop or is inside the listener. Create, open, set the
// listener and schedule on one thread (as a rule the owning thread, before it
// runs its loop).
//
// Events. Event::bytesAvailable, Event::error and Event::end are reported, at
// most one per pass of the loop:
//   - bytesAvailable when new body bytes have arrived in the buffer; it is
//     reported again on the next pass while buffered bytes remain, but only
//     if the listener read something during (or since) the previous
//     bytesAvailable dispatch. A listener that does not read is not notified
//     again until new bytes arrive, so it cannot make the loop spin.
//   - end once the response is complete and every buffered byte has been
//     read.
//   - error once the transfer has failed (connection, TLS, protocol or
//     redirect errors, a connect timeout, or the stall rule below) and either
//     every buffered byte has been read, or the listener did not read during
//     the last bytesAvailable dispatch: bytes already received are offered
//     before the error.
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
// Ownership and memory. The stream is owned by the unique_ptr create()
// returns; destroying it closes it. Its memory inside is held by the loop while
// it is scheduled and during every listener call, so a listener call in
// progress on the owning thread keeps a usable `stream` argument (reads
// return 0) even when another thread closes and destroys the stream
// meanwhile; it is freed once no callback of it runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engine/net/ReadBatching.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"

namespace orvento {

// Settings beyond a player's, for tests and tools. The defaults are what
// every production stream uses.
struct HttpStreamOptions {
    using Seconds = std::chrono::duration<double>;

    Seconds connectTimeout{15};
    Seconds stallTimeout{30};  // no body byte for this long: error event
    // The batching interval for slow streams (which streams count as slow
    // does not change with it); 0 reads every piece as it arrives.
    Seconds readBatchInterval{kReadBatchSeconds};
    // Trust anchors (PEM) used instead of the system's bundle; the
    // system's certificate directory still applies. Empty: the system's
    // bundle.
    std::string caFile;
};

class HttpStream {
  public:
    // What a listener is told (see "Events" above).
    enum class Event {
        bytesAvailable,  // body bytes wait to be read
        error,           // the transfer failed; errorText() says why
        end,             // the whole body has been read
    };

    // Receives the events, on the owning thread, from inside its run loop.
    // It must stay valid while events can come: until close() or the
    // destructor returns, and, when that happens on another thread, until a
    // call whose dispatch had begun returns.
    class Listener {
      public:
        // `stream` is the stream the event is for, usable for the whole call
        // (see "Ownership"); it need not be the object create() returned.
        virtual void onStreamEvent(HttpStream& stream, Event event) = 0;

      protected:
        ~Listener() = default;
    };

    using Options = HttpStreamOptions;

    // A GET of `url`. Null for options with a timeout that is not positive
    // or a batching interval that is negative or not finite. Initialises
    // libcurl for the process on first use. Any thread.
    static std::unique_ptr<HttpStream> create(const Url& url, const Options& options = {});

    // Closes the stream (see close()).
    virtual ~HttpStream() = default;

    // Validates the stream's URL and returns at once, without network
    // activity. False (with errorText() set) for a scheme other than http or
    // https (compared case-insensitively), a stream already opened, or a
    // closed one. True otherwise: the transfer starts when the stream is
    // scheduled.
    virtual bool open() = 0;

    // Sets the listener; null removes it. Call it on the thread that
    // schedules the stream, before scheduling, or on the owning thread.
    virtual void setListener(Listener* listener) = 0;

    // Schedules the stream on `loop`, whose thread becomes the owning thread.
    // A stream is scheduled once: later calls do nothing. When called on
    // another thread than the loop's, the scheduling takes effect on the
    // loop's next pass.
    virtual void schedule(RunLoop& loop) = 0;

    // Copies buffered body bytes into `buffer` and returns their number.
    // Never blocks. Returns:
    //   - n > 0: bytes read;
    //   - 0: at the end of the stream, on a stream its owner has closed (a
    //     stop never turns into a read failure), for an empty buffer, or when
    //     no byte is buffered yet (within a bytesAvailable event at least one
    //     byte always is);
    //   - nullopt: the transfer failed and no byte is left, the owning
    //     thread's run loop has been shut down, or the call was made on
    //     another thread than the owning one.
    virtual std::optional<std::size_t> read(std::span<std::byte> buffer) = 0;

    // From the moment close returns, no event is dispatched any more, except
    // one whose dispatch had already begun on the owning thread (its listener
    // call may still be running, or be about to run, when close returns).
    // Close never waits for a running listener call: it may be blocked
    // waiting for the very thread that closes. Reads on a closed stream
    // return 0. The transfer is stopped and its libcurl handles are cleaned
    // up on the owning thread: at once when called there, otherwise on its
    // loop's next pass (or when that loop shuts down). Any thread; closing
    // twice, or a stream never opened, is harmless.
    virtual void close() = 0;

    // What went wrong, for a user (libcurl's own description where it has
    // one; never a bare "Out of memory" for an over-long response header):
    // empty until the open failed or the transfer failed (which is before,
    // or at the latest when, the error event is reported). Any thread.
    virtual std::string errorText() const = 0;

    // The length of the body as the response declared it (its
    // Content-Length), known before the reader is offered the first byte;
    // none before that, without a length (a live stream that ends when the
    // server closes), for a chunked body and for a station's "ICY 200 OK"
    // answer. A body that ends short of its declared length is an error,
    // never an end. Any thread.
    virtual std::optional<std::uint64_t> declaredLength() const = 0;

    // How many batching delays the stream has made so far. Any thread.
    virtual std::uint64_t batchingDelays() const = 0;

    // Body bytes received and not read yet: what of a server's burst waits
    // here. Owning thread.
    virtual std::size_t bufferedBytes() const = 0;
};

}  // namespace orvento
