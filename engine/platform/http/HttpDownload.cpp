#include "engine/platform/http/HttpDownload.h"

#include "engine/platform/http/CurlTransfer.h"

namespace orvento {
namespace {

struct Receiver {
    CurlTransfer* transfer = nullptr;
    std::string body;
    std::size_t maxBytes = 0;
    bool overCap = false;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* receiver = static_cast<Receiver*>(user);
    const std::size_t bytes = size * count;
    // Returning less than was given aborts the transfer.
    if (!receiver->transfer->acceptsBody()) {
        return 0;
    }
    if (bytes > receiver->maxBytes - receiver->body.size()) {
        receiver->overCap = true;
        return 0;
    }
    receiver->body.append(data, bytes);
    return bytes;
}

HttpDownloadResult failure(std::string error) {
    return HttpDownloadResult{std::nullopt, std::move(error)};
}

}  // namespace

HttpDownloadResult downloadWholeBody(const std::string& url, const HttpDownloadOptions& options) {
    CurlTransfer transfer;
    CurlTransfer::Settings settings;
    settings.url = url;
    settings.maxRedirects = kHttpDownloadMaxRedirects;
    settings.connectTimeout = options.connectTimeout;
    settings.caFile = options.caFile;
    if (std::string error = transfer.setUp(settings); !error.empty()) {
        return failure(std::move(error));
    }
    Receiver receiver;
    receiver.transfer = &transfer;
    receiver.maxBytes = options.maxBytes;

    CURLcode set = CURLE_OK;
    const auto option = [&](CURLoption key, auto value) {
        if (set == CURLE_OK) {
            set = curl_easy_setopt(transfer.easy(), key, value);
        }
    };
    option(CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    // Refuses at once a body whose announced length is over the cap; bodies
    // without a Content-Length are capped by receive().
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    option(CURLOPT_WRITEFUNCTION, &receive);
    option(CURLOPT_WRITEDATA, &receiver);
    if (set != CURLE_OK) {
        return failure(std::string("The network library refused a setting: ") +
                       curl_easy_strerror(set));
    }

    const CURLcode result = curl_easy_perform(transfer.easy());
    if (receiver.overCap || result == CURLE_FILESIZE_EXCEEDED) {
        // An error page announced as too long is an error page first.
        if (std::string refused = transfer.failureText(CURLE_OK); !refused.empty()) {
            return failure(std::move(refused));
        }
        return failure("The response is larger than " + std::to_string(options.maxBytes) +
                       " bytes.");
    }
    if (std::string error = transfer.failureText(result); !error.empty()) {
        return failure(std::move(error));
    }
    return HttpDownloadResult{std::move(receiver.body), {}};
}

}  // namespace orvento
