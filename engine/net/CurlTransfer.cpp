#include "engine/net/CurlTransfer.h"

#include <idn2.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "engine/net/Url.h"

namespace orvento {
namespace {

constexpr const char* kAllowedProtocols = "http,https";

// The tests' stand-ins for public hosts (kTestConnectToVariable): the entries
// of a comma-separated list whose connection goes to 127.0.0.1, as a curl
// "HOST:PORT:127.0.0.1:PORT" list; any other entry is ignored.
curl_slist* testConnectTo() {
    const char* value = std::getenv(kTestConnectToVariable);
    curl_slist* list = nullptr;
    std::string_view rest = value != nullptr ? value : "";
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string entry(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (entry.find(":127.0.0.1:") != std::string::npos) {
            list = curl_slist_append(list, entry.c_str());
        }
    }
    return list;
}
// libcurl reports a response header line longer than it buffers (100 KB) as
// "Out of memory", with no words of its own.
constexpr const char* kHeaderTooLongText =
    "The server's response header is too long (a header line over 100 KB).";

// `text` with an internationalised host name in its ASCII form. libcurl would
// convert it too, but from the process's locale, which need not be UTF-8.
// Nullopt, with `error`, for a name that has no ASCII form.
std::optional<std::string> withAsciiHost(const std::string& text, std::string& error) {
    const std::optional<TextRange> host = hostRangeOf(text);
    if (!host) {
        return text;
    }
    const std::string name = text.substr(host->begin, host->end - host->begin);
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return text;
    }
    const auto* input = reinterpret_cast<const std::uint8_t*>(name.c_str());
    char* ascii = nullptr;
    int status = idn2_lookup_u8(input, reinterpret_cast<std::uint8_t**>(&ascii),
                                IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (status == IDN2_DISALLOWED) {
        // Names valid only under the older rules (IDNA 2003), as browsers allow.
        status = idn2_lookup_u8(input, reinterpret_cast<std::uint8_t**>(&ascii),
                                IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
    }
    if (status != IDN2_OK) {
        error = "The host name " + name + " cannot be looked up: " + idn2_strerror(status);
        return std::nullopt;
    }
    std::string converted = text.substr(0, host->begin) + ascii + text.substr(host->end);
    idn2_free(ascii);
    return converted;
}

}  // namespace

bool initialiseCurl() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

CurlTransfer::~CurlTransfer() {
    release();
}

void CurlTransfer::release() {
    if (easy_ != nullptr) {
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    curl_slist_free_all(connectTo_);
    connectTo_ = nullptr;
}

std::string CurlTransfer::setUp(const Settings& settings) {
    if (!initialiseCurl()) {
        return "The network library could not be initialised.";
    }
    std::string hostError;
    const std::optional<std::string> url = withAsciiHost(settings.url, hostError);
    if (!url) {
        return hostError;
    }
    easy_ = curl_easy_init();
    if (easy_ == nullptr) {
        return "The network library could not start a transfer.";
    }
    maxRedirects_ = settings.maxRedirects;
    CURLcode set = CURLE_OK;
    const auto option = [&](CURLoption key, auto value) {
        if (set == CURLE_OK) {
            set = curl_easy_setopt(easy_, key, value);
        }
    };
    option(CURLOPT_URL, url->c_str());
    option(CURLOPT_ERRORBUFFER, error_);
    option(CURLOPT_NOSIGNAL, 1L);
    // Also what a redirect may lead to.
    option(CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    option(CURLOPT_FOLLOWLOCATION, 1L);
    option(CURLOPT_MAXREDIRS, settings.maxRedirects);
    option(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count()));
    option(CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    option(CURLOPT_HEADERDATA, this);
    if (!settings.caFile.empty()) {
        option(CURLOPT_CAINFO, settings.caFile.c_str());
    }
    if (connectTo_ = testConnectTo(); connectTo_ != nullptr) {
        option(CURLOPT_CONNECT_TO, connectTo_);
        if (const char* ca = std::getenv(kTestCaFileVariable); ca != nullptr && *ca != '\0') {
            option(CURLOPT_CAINFO, ca);
        }
    }
    if (set != CURLE_OK) {
        release();
        return std::string("The network library refused a setting: ") + curl_easy_strerror(set);
    }
    return {};
}

bool CurlTransfer::responseIsSuccess() const {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    return code >= 200 && code <= 299;
}

bool CurlTransfer::acceptsBody() {
    if (!refused_ && !responseIsSuccess()) {
        refused_ = true;
    }
    return !refused_;
}

std::string CurlTransfer::failureText(CURLcode result) {
    if (result == CURLE_OK && easy_ != nullptr && !responseIsSuccess()) {
        refused_ = true;  // a response without a body
    }
    if (refused_) {
        return "the server answered \"" + statusLine_ + "\"";
    }
    if (result == CURLE_OK) {
        return {};
    }
    if (result == CURLE_TOO_MANY_REDIRECTS) {
        return "too many redirects (more than " + std::to_string(maxRedirects_) + ")";
    }
    if (error_[0] != '\0') {
        return error_;
    }
    if (result == CURLE_OUT_OF_MEMORY && inResponseHead_) {
        return kHeaderTooLongText;
    }
    return curl_easy_strerror(result);
}

std::optional<std::uint64_t> CurlTransfer::declaredLength() const {
    curl_off_t length = -1;
    if (easy_ == nullptr || inResponseHead_ || statusLine_.starts_with("ICY ") ||
        curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(length);
}

// Called with each whole line of every response head, redirects included.
std::size_t CurlTransfer::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/") || line.starts_with("ICY ")) {
        transfer->inResponseHead_ = true;
        transfer->statusLine_ = std::string(line);
    } else if (line.empty()) {
        transfer->inResponseHead_ = false;
    }
    return size * count;
}

}  // namespace orvento
