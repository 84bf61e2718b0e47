// What the HTTP read stream and the whole-body download share of libcurl:
// the process-wide initialisation, one easy handle set up the same way, the
// check of the response's status and the words for a failure.
//
// Set-up (setUp): the URL with an internationalised host name in its ASCII
// form (IDNA 2008, as libidn2 makes it, whatever the process's locale), the
// error buffer, no signals, http and https only (also across redirects),
// redirects followed up to a limit, the connect timeout, the trust anchors
// for https, and a header callback that keeps the latest status line.
//
// Status. Only a success is delivered: a final response whose status is not
// 2xx ("ICY 200 OK" counts as 200) is a failure named by its status line,
// before any of its body reaches the reader, and also when it has no body.
// The transfer's write callback asks acceptsBody() before it takes bytes;
// failureText() then names the status line. A redirect that is followed is
// not a response of its own: a failure after it (a certificate problem at the
// new address, one redirect too many) is named for what it is.
//
// Tests only: kTestConnectToVariable, when set, sends the connections of
// named hosts to 127.0.0.1 instead ("tgftp.nws.noaa.gov:443:127.0.0.1:40123",
// several separated by commas; entries that lead elsewhere are ignored), so a
// loopback server can stand in for a public one at its real address; then
// kTestCaFileVariable names the PEM file that server's certificate is in.
// Unset, every host is reached where the name service says.
//
// Threads: one transfer is used on one thread at a time.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace orvento {

inline constexpr const char* kTestConnectToVariable = "ORVENTO_TEST_CONNECT_TO";
inline constexpr const char* kTestCaFileVariable = "ORVENTO_TEST_CA_FILE";

// Initialises libcurl for the process on the first call; false when it
// cannot. Any thread.
bool initialiseCurl();

class CurlTransfer {
  public:
    struct Settings {
        std::string url;  // as typed: the host is converted here
        long maxRedirects = 5;
        std::chrono::milliseconds connectTimeout{15000};
        std::string caFile;  // PEM trust anchors instead of the system's; empty: the system's
    };

    CurlTransfer() = default;
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Makes the easy handle and sets the options above. Empty on success;
    // otherwise why not, in words for a user (the handle is then released).
    std::string setUp(const Settings& settings);
    // The easy handle for the caller's own options; null before setUp and
    // after release.
    CURL* easy() const { return easy_; }
    // Cleans the easy handle up (a multi handle must have let it go first).
    void release();

    // For the write callback, before it takes body bytes: false when the
    // response is no success. The callback then takes nothing (returns 0),
    // which ends the transfer with an error.
    bool acceptsBody();
    // Empty when the transfer that ended with `result` succeeded; otherwise
    // what went wrong: the server's answer when it was no success, libcurl's
    // own words, or its code's description.
    std::string failureText(CURLcode result);
    // The body length the final response declared (its Content-Length), once
    // its head has come; none without one, for a chunked body, and for a
    // station's "ICY 200 OK" answer, whose length says nothing of its end.
    std::optional<std::uint64_t> declaredLength() const;

  private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    bool responseIsSuccess() const;

    CURL* easy_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
    curl_slist* connectTo_ = nullptr;  // the tests' stand-ins; outlives the easy handle
    long maxRedirects_ = 0;
    std::string statusLine_;       // of the latest response head
    bool inResponseHead_ = false;  // between a status line and the blank line ending its head
    bool refused_ = false;         // the response was no success
};

}  // namespace orvento
