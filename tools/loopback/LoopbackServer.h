// A scripted HTTP server on 127.0.0.1, for the tests, the station-server tool
// and the benchmarks.
//
// Each request path is given a Script that states what the server sends and
// how: a fixed body, a body from a file, an endless body (optionally paced at
// a byte rate after an initial burst), chunked or not, a custom status line,
// a redirect, a 404 page, closing, stalling or pausing mid-body, or no answer
// at all.
// The server observes what it managed to do: body bytes written to its
// sockets, connections accepted and still open, and the request heads it
// received.
//
// Usage:
//   LoopbackServer server;                       // listens on 127.0.0.1, port 0
//   server.setScript("/live", Script::endless().paced(2000));
//   std::optional<Url> url = Url::parse(server.url("/live"));
//   ...                                          // play it; then, for instance,
//   server.bodyBytesWritten();                   // what the client's socket took
//
// Threads: the server accepts on a thread of its own and serves each
// connection on a thread of its own. Every member may be called from any
// thread. The destructor stops every connection and joins every thread.
// Every response carries "Connection: close" and ends its connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvento::loopback {

// The deterministic byte at `offset` of a pattern body: a pseudo-random
// sequence whose period (65521) is prime, so an offset error in the middle of
// a stream changes the bytes a reader sees.
std::uint8_t patternByte(std::uint64_t offset);
// True when `bytes` are the pattern from `offset` on.
bool matchesPattern(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset);

// What the server does with one request.
struct Script {
    enum class Framing {
        contentLength,  // a Content-Length header (endless bodies: no length, until close)
        chunked,        // Transfer-Encoding: chunked, one chunk per write
        untilClose,     // no length; the body ends when the connection closes
    };

    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::string> headers;  // extra header lines, without CRLF
    Framing framing = Framing::contentLength;

    // The body: `data` repeated up to `length` bytes, or the pattern when
    // `data` is null. No length: endless.
    std::shared_ptr<const std::string> data;
    std::optional<std::uint64_t> length;
    // When set, makes the body afresh for each request (called on the
    // connection's thread), in place of `data` and `length`.
    std::function<std::string()> makeBody;

    double bytesPerSecond = 0;     // 0: as fast as the socket takes it
    std::uint64_t burstBytes = 0;  // sent at once before the pacing starts
    // Paced bodies, after the burst: now and then (about every 2 s) the server holds its
    // writes back for a random time up to this long, then sends what has
    // fallen due at once, as a congested network delivers. 0: never.
    double jitterSeconds = 0;
    std::uint32_t jitterSeed = 1;   // the same seed, the same holds
    std::size_t writeSize = 16384;  // most body bytes per write (and per chunk), at most 65536
    int sendBufferBytes = 0;        // SO_SNDBUF for the connection; 0: the system's

    std::optional<std::uint64_t> closeAfterBytes;  // close the connection there
    std::optional<std::uint64_t> stallAfterBytes;  // send nothing more from there, stay open
    std::optional<std::uint64_t> holdAfterBytes;   // send nothing from there for holdSeconds
    double holdSeconds = 0;
    bool neverAnswer = false;  // read the request and send nothing, stay open

    // A body of exactly these bytes.
    static Script fixed(std::string body, std::string contentType = "application/octet-stream");
    // A body made by `make` for each request, e.g. a text that tells the time.
    static Script generated(std::function<std::string()> make,
                            std::string contentType = "application/octet-stream");
    // A body read from `path` now (throws std::runtime_error if unreadable).
    static Script fromFile(const std::string& path,
                           std::string contentType = "application/octet-stream");
    // `length` bytes of the pattern.
    static Script pattern(std::uint64_t length);
    // The pattern, for ever, untilClose.
    static Script endless();
    // "HTTP/1.1 404 Not Found" with a small HTML page.
    static Script notFound();
    // A redirect to `location` (absolute, or a path on this server).
    static Script redirect(std::string location, int status = 302);
    // Accepts, reads the request and never answers.
    static Script silent();

    // Modifiers, chainable on temporaries.
    Script& withStatusLine(std::string line);
    Script& withHeader(std::string line);
    Script& chunked();
    Script& untilClose();
    // Repeats the body's bytes for ever (or up to `total`).
    Script& repeated(std::optional<std::uint64_t> total = std::nullopt);
    Script& paced(double rate, std::uint64_t burst = 0);
    Script& jittered(double maxSeconds, std::uint32_t seed = 1);
    Script& writesOf(std::size_t bytes);
    Script& withSendBuffer(int bytes);
    Script& closeAfter(std::uint64_t bytes);
    Script& stallAfter(std::uint64_t bytes);
    // Sends the first `bytes`, then nothing for `seconds`, then the rest.
    Script& holdAfter(std::uint64_t bytes, double seconds);
};

// The clock of one paced body: the burst goes at once, and byte
// `burstBytes + bytesPerSecond * s` falls due `s` seconds after `start` and is
// written within a twentieth of a second of that (unless the client's socket
// holds it back). So a station's live point is the burst's end, and the moment
// any later byte went out live is known.
struct PacedBody {
    std::string target;  // the request's target
    std::chrono::steady_clock::time_point start;
    std::uint64_t burstBytes = 0;
    double bytesPerSecond = 0;
};

class LoopbackServer {
  public:
    enum class Transport { plain, tls };

    // Listens on 127.0.0.1 at `port`, or at a port of the kernel's choice
    // when it is 0. With TLS, a fresh self-signed certificate for 127.0.0.1
    // (and for `hostNames`, to stand in for those hosts) is made (see caFile).
    // Throws std::runtime_error when it cannot listen.
    explicit LoopbackServer(Transport transport = Transport::plain, std::uint16_t port = 0,
                            const std::vector<std::string>& hostNames = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // The script for requests whose path (the target without its query) is
    // `path`; "*" is used for paths without a script of their own. Without
    // either, the answer is Script::notFound().
    void setScript(const std::string& path, Script script);

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port><path>" (https with TLS).
    std::string url(const std::string& path) const;
    // TLS: a PEM file holding the server's certificate, to trust it. Empty
    // without TLS. Removed by the destructor.
    const std::string& caFile() const { return caFile_; }

    // Body bytes the server's sockets accepted (for TLS: plaintext bytes).
    std::uint64_t bodyBytesWritten() const { return bodyBytes_.load(); }
    std::uint64_t connectionsAccepted() const { return accepted_.load(); }
    std::uint64_t connectionsOpen() const { return open_.load(); }
    // The request heads received so far (request line and header lines, as
    // sent, up to the blank line), in order.
    std::vector<std::string> requests() const;
    // The paced bodies started so far, in order.
    std::vector<PacedBody> pacedBodies() const;
    // Waits until `condition` holds or `timeout` passes, looking again each
    // time the server accepts, reads a request, writes or ends a connection;
    // returns the condition's last value.
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  private:
    struct Tls;
    struct Connection;

    void acceptLoop();
    void serve(int fd);
    Script scriptFor(const std::string& target) const;
    void reapFinished();
    void noteChange() const;

    const Transport transport_;
    std::unique_ptr<Tls> tls_;
    std::string caFile_;
    int listenFd_ = -1;
    int stopFd_ = -1;  // eventfd: readable once the server stops
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    std::map<std::string, Script> scripts_;
    std::vector<std::string> requests_;
    std::vector<PacedBody> pacedBodies_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;

    std::atomic<std::uint64_t> bodyBytes_{0};
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> open_{0};
    mutable std::mutex changeMutex_;
    mutable std::condition_variable changed_;  // with changeMutex_: see waitUntil
    std::thread acceptThread_;
};

// A port on 127.0.0.1 whose listen queue is full: a connect to it neither
// succeeds nor fails, it hangs until the client gives up.
class UnansweredPort {
  public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;
    std::string url(const std::string& path) const;

  private:
    int listenFd_ = -1;
    int fillerFd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace orvento::loopback
