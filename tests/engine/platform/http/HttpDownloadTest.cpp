// Whole-body downloads: what a server sends and how, and what the caller gets.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "engine/platform/http/HttpDownload.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using namespace std::chrono_literals;

constexpr std::size_t kCap = 4096;

struct DownloadRow {
    const char* name;
    // Scripts the server and answers the URL to fetch.
    std::function<std::string(LoopbackServer&)> serve;
    std::optional<std::string> body;  // the expected body; none: the download fails
    const char* error = "";           // a part of the failure's words
    LoopbackServer::Transport transport = LoopbackServer::Transport::plain;
};

void PrintTo(const DownloadRow& row, std::ostream* out) {
    *out << row.name;
}

std::string served(LoopbackServer& server, const std::string& path, Script script) {
    server.setScript(path, std::move(script));
    return server.url(path);
}

// /r1 redirects to /r2 ... /r<n> to /body, which holds "arrived".
std::string redirectChain(LoopbackServer& server, int redirects) {
    for (int i = 1; i <= redirects; ++i) {
        const std::string next = i == redirects ? "/body" : "/r" + std::to_string(i + 1);
        server.setScript("/r" + std::to_string(i), Script::redirect(next));
    }
    server.setScript("/body", Script::fixed("arrived"));
    return server.url(redirects > 0 ? "/r1" : "/body");
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
        EXPECT_NE(result.error.find(row.error), std::string::npos) << result.error;
    }
    // Whatever the server does, the limits bound the wait.
    EXPECT_LT(took, options.connectTimeout + options.totalTimeout + 1s);
}

const std::string kCapBody(kCap, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpDownload,
    testing::Values(
        DownloadRow{"a body", [](auto& s) { return served(s, "/a", Script::fixed("METAR")); },
                    "METAR"},
        DownloadRow{"an empty body", [](auto& s) { return served(s, "/a", Script::fixed("")); },
                    ""},
        DownloadRow{
            "an error page is a body",
            [](auto& s) {
                return served(
                    s, "/a",
                    Script::fixed("<h1>Gone</h1>").withStatusLine("HTTP/1.1 404 Not Found"));
            },
            "<h1>Gone</h1>"},
        DownloadRow{"a body of exactly the cap",
                    [](auto& s) { return served(s, "/a", Script::fixed(kCapBody)); }, kCapBody},
        DownloadRow{"a body over the cap, its length announced",
                    [](auto& s) { return served(s, "/a", Script::fixed(kCapBody + "y")); },
                    std::nullopt, "larger than 4096 bytes"},
        DownloadRow{
            "a body over the cap, without a length",
            [](auto& s) { return served(s, "/a", Script::fixed(kCapBody + "y").untilClose()); },
            std::nullopt, "larger than 4096 bytes"},
        DownloadRow{"a body without end, chunked",
                    [](auto& s) { return served(s, "/a", Script::endless().chunked()); },
                    std::nullopt, "larger than 4096 bytes"},
        DownloadRow{"five redirects", [](auto& s) { return redirectChain(s, 5); }, "arrived"},
        DownloadRow{"six redirects", [](auto& s) { return redirectChain(s, 6); }, std::nullopt,
                    "redirects"},
        DownloadRow{"a redirect to a file",
                    [](auto& s) { return served(s, "/a", Script::redirect("file:///etc/hosts")); },
                    std::nullopt, "file"},
        DownloadRow{"a scheme other than http",
                    [](auto&) { return std::string("file:///etc/hosts"); }, std::nullopt, "file"},
        DownloadRow{"a connection closed mid-body",
                    [](auto& s) { return served(s, "/a", Script::pattern(3000).closeAfter(1000)); },
                    std::nullopt},
        DownloadRow{"a body that stalls",
                    [](auto& s) { return served(s, "/a", Script::pattern(3000).stallAfter(1000)); },
                    std::nullopt, "timed out"},
        DownloadRow{"a server that never answers",
                    [](auto& s) { return served(s, "/a", Script::silent()); }, std::nullopt,
                    "timed out"},
        DownloadRow{"a refused connection",
                    [](auto&) {
                        // Nothing listens on the port of a server that is gone.
                        return LoopbackServer().url("/a");
                    },
                    std::nullopt},
        DownloadRow{"a connection nobody accepts",
                    [](auto&) {
                        static const loopback::UnansweredPort port;
                        return port.url("/a");
                    },
                    std::nullopt, "Failed to connect"},
        DownloadRow{"https", [](auto& s) { return served(s, "/a", Script::fixed("TAF")); }, "TAF",
                    "", LoopbackServer::Transport::tls}),
    [](const testing::TestParamInfo<DownloadRow>& info) {
        std::string name;
        for (const char c : std::string(info.param.name)) {
            name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
        }
        return name;
    });

TEST(HttpDownloadRequest, SendsThePathAsGivenWithItsDoubleSlash) {
    LoopbackServer server;
    const std::string path = "//pub/data/observations/metar/stations/LTBA.TXT";
    server.setScript(path, Script::fixed("LTBA"));
    HttpDownloadOptions options;
    options.maxBytes = kCap;
    EXPECT_EQ(downloadWholeBody(server.url(path), options).body, "LTBA");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].rfind("GET " + path + " HTTP/1.1\r\n", 0), 0u)
        << server.requests()[0];
}

}  // namespace
}  // namespace orvento
