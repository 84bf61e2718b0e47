#include "engine/net/HttpDownload.h"

#include <memory>
#include <utility>

#include "engine/net/CurlTransfer.h"

namespace orvento {
namespace {

struct Receiver {
    CurlTransfer* transfer = nullptr;
    std::string body;
    std::size_t maxBytes = 0;
    bool overCap = false;
    const HttpDownloadOptions::Wanted* wanted = nullptr;  // null once asked
    bool declined = false;
};

std::string contentTypeOf(CURL* easy) {
    const char* type = nullptr;
    return curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr
               ? std::string(type)
               : std::string();
}

// Asks `wanted` once; false when it declines.
bool ask(Receiver& receiver) {
    const HttpDownloadOptions::Wanted* wanted = std::exchange(receiver.wanted, nullptr);
    if (wanted == nullptr || (*wanted)(contentTypeOf(receiver.transfer->easy()), receiver.body)) {
        return true;
    }
    receiver.declined = true;
    return false;
}

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
    if (receiver->wanted != nullptr && receiver->body.size() >= kHttpDownloadFirstBytes &&
        !ask(*receiver)) {
        return 0;
    }
    return bytes;
}

HttpDownloadResult failure(std::string error) {
    return HttpDownloadResult{std::nullopt, std::move(error)};
}

struct MultiHandleDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

// curl_easy_perform that also ends, with CURLE_ABORTED_BY_CALLBACK, once
// `cancelFd` is readable.
CURLcode performCancellable(CURL* easy, int cancelFd) {
    const std::unique_ptr<CURLM, MultiHandleDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    for (int running = 1; running != 0;) {
        curl_waitfd cancel{cancelFd, CURL_WAIT_POLLIN, 0};
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK ||
            (running != 0 && (curl_multi_poll(multi.get(), &cancel, 1, 1000, nullptr) != CURLM_OK ||
                              cancel.revents != 0))) {
            break;
        }
    }
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE) {
            result = message->data.result;
        }
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
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
    receiver.wanted = options.wanted ? &options.wanted : nullptr;

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
    if (!options.userAgent.empty()) {
        option(CURLOPT_USERAGENT, options.userAgent.c_str());
    }
    if (set != CURLE_OK) {
        return failure(std::string("The network library refused a setting: ") +
                       curl_easy_strerror(set));
    }

    const CURLcode result = options.cancelFd >= 0
                                ? performCancellable(transfer.easy(), options.cancelFd)
                                : curl_easy_perform(transfer.easy());
    if (receiver.declined) {
        HttpDownloadResult declined{std::move(receiver.body), {}};
        declined.declined = true;
        declined.contentType = contentTypeOf(transfer.easy());
        return declined;
    }
    if (receiver.overCap || result == CURLE_FILESIZE_EXCEEDED) {
        // An error page announced as too long is an error page first.
        if (std::string refused = transfer.failureText(CURLE_OK); !refused.empty()) {
            return failure(std::move(refused));
        }
        HttpDownloadResult tooLarge =
            failure("The response is larger than " + std::to_string(options.maxBytes) + " bytes.");
        tooLarge.tooLarge = true;
        return tooLarge;
    }
    if (std::string error = transfer.failureText(result); !error.empty()) {
        return failure(std::move(error));
    }
    // A body shorter than the first bytes is looked at whole.
    const bool declined = !ask(receiver);
    HttpDownloadResult done{std::move(receiver.body), {}};
    done.declined = declined;
    done.contentType = contentTypeOf(transfer.easy());
    return done;
}

}  // namespace orvento
