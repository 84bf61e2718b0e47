#include "engine/platform/http/HttpDownload.h"

#include <curl/curl.h>

#include <memory>

namespace orvento {
namespace {

constexpr const char* kAllowedProtocols = "http,https";

bool initialiseCurl() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

struct EasyHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct Receiver {
    std::string body;
    std::size_t maxBytes = 0;
    bool overCap = false;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* receiver = static_cast<Receiver*>(user);
    const std::size_t bytes = size * count;
    if (bytes > receiver->maxBytes - receiver->body.size()) {
        // Returning less than was given aborts the transfer.
        receiver->overCap = true;
        return 0;
    }
    receiver->body.append(data, bytes);
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
    if (!initialiseCurl()) {
        return failure("The network library could not be initialised.");
    }
    const std::unique_ptr<CURL, EasyHandleDeleter> easy(curl_easy_init());
    if (!easy) {
        return failure("The network library could not start a transfer.");
    }
    Receiver receiver;
    receiver.maxBytes = options.maxBytes;
    char errorText[CURL_ERROR_SIZE] = {};

    CURLcode set = CURLE_OK;
    const auto option = [&](CURLoption key, auto value) {
        if (set == CURLE_OK) {
            set = curl_easy_setopt(easy.get(), key, value);
        }
    };
    option(CURLOPT_URL, url.c_str());
    option(CURLOPT_ERRORBUFFER, errorText);
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    option(CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    option(CURLOPT_FOLLOWLOCATION, 1L);
    option(CURLOPT_MAXREDIRS, kHttpDownloadMaxRedirects);
    option(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    option(CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    // Refuses at once a body whose announced length is over the cap; bodies
    // without a Content-Length are capped by receive().
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    option(CURLOPT_WRITEFUNCTION, &receive);
    option(CURLOPT_WRITEDATA, &receiver);
    if (!options.caFile.empty()) {
        option(CURLOPT_CAINFO, options.caFile.c_str());
    }
    if (set != CURLE_OK) {
        return failure(std::string("The network library refused a setting: ") +
                       curl_easy_strerror(set));
    }

    const CURLcode result = options.cancelFd >= 0 ? performCancellable(easy.get(), options.cancelFd)
                                                  : curl_easy_perform(easy.get());
    if (receiver.overCap || result == CURLE_FILESIZE_EXCEEDED) {
        HttpDownloadResult tooLarge =
            failure("The response is larger than " + std::to_string(options.maxBytes) + " bytes.");
        tooLarge.tooLarge = true;
        return tooLarge;
    }
    if (result != CURLE_OK) {
        return failure(errorText[0] != '\0' ? std::string(errorText)
                                            : std::string(curl_easy_strerror(result)));
    }
    return HttpDownloadResult{std::move(receiver.body), {}};
}

}  // namespace orvento
