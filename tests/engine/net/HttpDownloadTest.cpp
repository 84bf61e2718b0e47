// Whole-body downloads: what a server sends and how, and what the caller gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "engine/net/HttpDownload.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using namespace std::chrono_literals;

constexpr std::size_t kCap = 4096;
const std::string kCapBody(kCap, 'x');

struct DownloadRow {
    const char* name;
    // Scripts the server and answers the URL to fetch.
    std::function<std::string(LoopbackServer&)> serve;
    std::optional<std::string> body;  // the expected body; none: the download fails
    const char* error = "";           // a part of the failure's words, in lower case
    LoopbackServer::Transport transport = LoopbackServer::Transport::plain;
};

void PrintTo(const DownloadRow& row, std::ostream* out) {
    *out << row.name;
}

// The server answers /a with `script`.
std::function<std::string(LoopbackServer&)> at(const Script& script) {
    return [script](LoopbackServer& server) {
        server.setScript("/a", script);
        return server.url("/a");
    };
}

class HttpDownload : public testing::TestWithParam<DownloadRow> {};

TEST_P(HttpDownload, DeliversTheWholeBodyOrNothing) {
    const DownloadRow& row = GetParam();
    LoopbackServer server(row.transport);
    HttpDownloadOptions options;
    options.maxBytes = kCap;
    options.connectTimeout = 500ms;
    options.totalTimeout = 1500ms;
    options.caFile = server.caFile();
    const std::string url = row.serve(server);

    const auto start = std::chrono::steady_clock::now();
    const HttpDownloadResult result = downloadWholeBody(url, options);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result.body, row.body);
    if (row.body) {
        EXPECT_EQ(result.error, "");
    } else {
        std::string words = result.error;
        std::transform(words.begin(), words.end(), words.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_NE(words.find(row.error), std::string::npos) << result.error;
    }
    // Whatever the server does, the limits bound the wait.
    EXPECT_LT(took, options.connectTimeout + options.totalTimeout + 1s);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpDownload,
    testing::Values(
        DownloadRow{"a_body", at(Script::fixed("METAR")), "METAR"},
        DownloadRow{"an_error_page_is_no_body",
                    at(Script::fixed("<h1>Gone</h1>").withStatusLine("HTTP/1.1 404 Not Found")),
                    std::nullopt, "the server answered \"http/1.1 404 not found\""},
        DownloadRow{"a_server_error_with_json",
                    at(Script::fixed("[{\"a\":\"x\",\"d\":\"http://h/\"}]")
                           .withStatusLine("HTTP/1.1 500 Internal Server Error")),
                    std::nullopt, "the server answered \"http/1.1 500 internal server error\""},
        DownloadRow{"a_body_of_exactly_the_cap", at(Script::fixed(kCapBody)), kCapBody},
        DownloadRow{"over_the_cap_its_length_announced", at(Script::fixed(kCapBody + "y")),
                    std::nullopt, "larger than 4096 bytes"},
        DownloadRow{"over_the_cap_without_a_length", at(Script::fixed(kCapBody + "y").untilClose()),
                    std::nullopt, "larger than 4096 bytes"},
        DownloadRow{"a_body_without_end_chunked", at(Script::endless().chunked()), std::nullopt,
                    "larger than 4096 bytes"},
        DownloadRow{"a_connection_closed_mid_body", at(Script::pattern(3000).closeAfter(1000)),
                    std::nullopt},
        DownloadRow{"a_body_that_stalls", at(Script::pattern(3000).stallAfter(1000)), std::nullopt,
                    "timed out"},
        DownloadRow{"a_server_that_never_answers", at(Script::silent()), std::nullopt, "timed out"},
        // Whether the kernel drops the connection attempt, or takes it and
        // nobody answers, and whichever of libcurl's timers notices first:
        // no body, and words that say it timed out.
        DownloadRow{"a_connection_nobody_answers",
                    [](LoopbackServer&) {
                        static const loopback::UnansweredPort port;
                        return port.url("/a");
                    },
                    std::nullopt, "time"},
        DownloadRow{"a_port_that_refuses",
                    [](LoopbackServer&) {
                        const LoopbackServer gone;  // its port is closed once it is gone
                        return "http://127.0.0.1:" + std::to_string(gone.port()) + "/a";
                    },
                    std::nullopt, "connect"},
        DownloadRow{"https", at(Script::fixed("TAF")), "TAF", "", LoopbackServer::Transport::tls}),
    [](const testing::TestParamInfo<DownloadRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
