// A blocking download of a whole HTTP response body, for small documents
// fetched once (a station catalogue, weather reports), not for streams.
//
// downloadWholeBody performs one GET over http or https and returns when the
// body has arrived or the download has failed. It blocks the calling thread
// for at most the connect limit plus the whole-download limit; run it on a
// thread that may block (the caller decides how the rest of the program waits
// meanwhile). Any thread; calls on several threads at once are independent.
//
// What counts:
//   - Only http and https are spoken, also across redirects; at most
//     kHttpDownloadMaxRedirects redirects are followed.
//   - Connecting (name lookup, TCP, TLS) must finish within connectTimeout,
//     the whole download within totalTimeout.
//   - The body may hold at most maxBytes bytes. A longer body fails the
//     download as soon as it is known to be longer (from its Content-Length,
//     or once the bytes received pass the cap), so a server that sends without
//     end cannot fill the memory.
//   - Only a success counts: a response whose status is not 2xx (a 404
//     page, a 500 with a JSON body) fails the download, its status line the
//     error ("the server answered "HTTP/1.1 404 Not Found""). After
//     redirects the error names the real failure (CurlTransfer.h).
//   - A download given a `wanted` check asks it once, on the download's
//     thread, with the response's Content-Type and the body's first
//     kHttpDownloadFirstBytes bytes (all of them, when the body is shorter):
//     false ends the download there, declined, so a look at an address that
//     turns out to be an endless stream takes no more than its first bytes.
//   - A download given a cancelFd ends, failed, as soon as that descriptor
//     becomes readable (e.g. an eventfd written by another thread): an owner
//     that goes away need not wait out the limits.
// A failed download yields no body at all, never a part of one.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvento {

inline constexpr long kHttpDownloadMaxRedirects = 5;
inline constexpr std::size_t kHttpDownloadFirstBytes = 512;

struct HttpDownloadOptions {
    std::size_t maxBytes = 0;  // the largest body accepted
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds totalTimeout{10000};
    std::string caFile;     // a PEM file of certificates to trust for https; empty: the system's
    int cancelFd = -1;      // readable: abandon the download (see above); -1: none
    std::string userAgent;  // the User-Agent header; empty: none
    // Whether to go on past the first bytes (see above); empty: always.
    using Wanted = std::function<bool(std::string_view contentType, std::string_view firstBytes)>;
    Wanted wanted;
};

struct HttpDownloadResult {
    std::optional<std::string> body;  // the whole body; none when the download failed
    std::string error;                // why it failed, in words for a log line; empty on success
    bool tooLarge = false;            // it failed because the body was over maxBytes
    bool declined = false;            // `wanted` said no; the body is then what it saw
    std::string contentType = {};     // of the final response; empty when it had none
};

// Downloads `url` (text, as typed) whole. Blocking; see above.
HttpDownloadResult downloadWholeBody(const std::string& url, const HttpDownloadOptions& options);

}  // namespace orvento
