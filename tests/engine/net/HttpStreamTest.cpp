// What a stream delivers for each kind of response, what it asks for, and
// when its events arrive.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>

#include "engine/net/HttpStream.h"
#include "tests/engine/net/StreamHarness.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using testsupport::ClientLog;

enum class Outcome { end, error };

struct ResponseRow {
    const char* name;
    // Sets up the server's scripts; returns the body the reader must see (in
    // full for an end, as a prefix for an error).
    std::function<std::string(LoopbackServer&)> setUp;
    Outcome outcome;
    // For errors: the exact number of body bytes that arrive first, or -1
    // when that is not fixed.
    long bytesBeforeError = -1;
    // Connections the server must see; -1: not checked.
    int connections = -1;
    // Words the error text must hold; null: not checked.
    const char* errorWords = nullptr;
    LoopbackServer::Transport transport = LoopbackServer::Transport::plain;
    bool trusted = true;  // TLS: the server's certificate is trusted
    // The address asked for, when not the server's "/".
    std::function<std::string(const LoopbackServer&)> url = nullptr;
};

std::string patternText(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(loopback::patternByte(i));
    }
    return text;
}

// Serves `script` at "/"; the reader must see `body`.
std::function<std::string(LoopbackServer&)> serving(Script script, std::string body = {}) {
    return [script = std::move(script), body = std::move(body)](LoopbackServer& s) {
        s.setScript("/", script);
        return body;
    };
}

// `count` redirects, 302 and 301 by turns, from "/" to a page that says
// "arrived".
std::function<std::string(LoopbackServer&)> redirects(int count) {
    return [count](LoopbackServer& s) {
        for (int i = 0; i < count; ++i) {
            s.setScript("/" + (i == 0 ? std::string() : "r" + std::to_string(i)),
                        Script::redirect("/r" + std::to_string(i + 1), i % 2 == 0 ? 302 : 301));
        }
        s.setScript("/r" + std::to_string(count), Script::fixed("arrived"));
        return std::string(count <= 5 ? "arrived" : "");
    };
}

const std::vector<ResponseRow> kResponses = {
    {"FixedLength", serving(Script::pattern(300'000), patternText(300'000)), Outcome::end},
    {"Chunked", serving(Script::pattern(200'000).chunked().writesOf(777), patternText(200'000)),
     Outcome::end},
    {"IcyStatusLineUntilClose",
     serving(Script::pattern(150'000).withStatusLine("ICY 200 OK").untilClose(),
             patternText(150'000)),
     Outcome::end},
    {"EmptyBody", serving(Script::fixed("")), Outcome::end},
    // An answer that is no success: none of its body, its status line the error.
    {"NotFoundPage", serving(Script::notFound()), Outcome::error, 0, -1,
     "the server answered \"HTTP/1.1 404 Not Found\""},
    {"ServerErrorWithoutBody",
     serving(Script::fixed("").withStatusLine("HTTP/1.1 500 Internal Server Error")),
     Outcome::error, 0, -1, "the server answered \"HTTP/1.1 500 Internal Server Error\""},
    {"IcyErrorStatusLine",
     serving(Script::fixed("<html>no</html>").withStatusLine("ICY 404 Not Found")), Outcome::error,
     0},
    {"FiveRedirects", redirects(5), Outcome::end},
    // After redirects the error names the failure, not a redirect.
    {"TenRedirects", redirects(10), Outcome::error, 0, 6, "too many redirects"},
    {"RedirectLoop",
     [](LoopbackServer& s) {
         s.setScript("/", Script::redirect("/b"));
         s.setScript("/b", Script::redirect("/"));
         return std::string();
     },
     Outcome::error, 0},
    {"RedirectToALocalFile", serving(Script::redirect("file:///etc/passwd")), Outcome::error, 0},
    {"RedirectToFtp",
     [](LoopbackServer& s) {
         s.setScript("/", Script::redirect("ftp://127.0.0.1:" + std::to_string(s.port()) + "/"));
         return std::string();
     },
     Outcome::error, 0, 1},
    {"CloseMidBody", serving(Script::pattern(100'000).closeAfter(40'000), patternText(40'000)),
     Outcome::error, 40'000},
    {"HeaderLineOf200KB",
     serving(Script::fixed("never").withHeader("X-Big: " + std::string(200'000, 'a'))),
     Outcome::error, 0, -1, "header is too long"},
    {"HttpsWhenTheServerIsTrusted",
     serving(Script::pattern(500'000).chunked(), patternText(500'000)), Outcome::end, -1, -1,
     nullptr, LoopbackServer::Transport::tls},
    {"HttpsWhenTheCertificateIsNotTrusted", serving(Script::fixed("secret")), Outcome::error, 0, -1,
     "certificate", LoopbackServer::Transport::tls, false},
    {"RedirectToAnUntrustedServer", serving(Script::fixed("secret")), Outcome::error, 0, -1,
     "certificate", LoopbackServer::Transport::tls, false,
     [](const LoopbackServer& tls) {
         static LoopbackServer plain;  // outlives the stream; a 301 to the TLS server
         plain.setScript("/", Script::redirect(tls.url("/"), 301));
         return plain.url("/");
     }},
    {"ConnectionRefused", [](LoopbackServer&) { return std::string(); }, Outcome::error, 0, -1,
     nullptr, LoopbackServer::Transport::plain, true,
     [](const LoopbackServer&) {
         const LoopbackServer gone;
         return "http://127.0.0.1:" + std::to_string(gone.port()) + "/";
     }},
};

struct ResponseCase {
    const ResponseRow* row;
    std::size_t readSize;
};

void PrintTo(const ResponseCase& c, std::ostream* out) {
    *out << c.row->name << " read " << c.readSize;
}

class HttpStreamResponses : public testing::TestWithParam<ResponseCase> {};

TEST_P(HttpStreamResponses, DeliverTheBodyAloneThenOneEndOrOneError) {
    const ResponseRow& row = *GetParam().row;
    LoopbackServer server(row.transport);
    const std::string expected = row.setUp(server);
    HttpStreamOptions options;
    options.caFile = row.trusted ? server.caFile() : std::string();
    ClientLog log;
    log.readSize = GetParam().readSize;
    const testsupport::StreamPtr stream =
        testsupport::startStream(row.url ? row.url(server) : server.url("/"), log, options);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.terminals() > 0; }));
    testsupport::runLoopFor(0.1);  // nothing may follow

    const std::string body(log.body.begin(), log.body.end());
    EXPECT_EQ(log.terminals(), 1);
    EXPECT_EQ(log.eventsAfterTerminal, 0);
    EXPECT_FALSE(log.offThread);
    EXPECT_FALSE(log.outsideRun);
    EXPECT_EQ(log.readsReturningZero, 0) << "has-bytes-available with nothing to read";
    std::uint8_t byte = 0;
    if (row.outcome == Outcome::end) {
        EXPECT_EQ(log.ends, 1);
        EXPECT_TRUE(body == expected)
            << "got " << body.size() << " bytes, expected " << expected.size();
        EXPECT_EQ(testsupport::readBytes(*stream, &byte, 1), std::optional<std::size_t>(0));
        EXPECT_EQ(stream->errorText(), "");
    } else {
        EXPECT_EQ(log.errors, 1);
        if (row.bytesBeforeError >= 0) {
            EXPECT_EQ(body.size(), static_cast<std::size_t>(row.bytesBeforeError));
        }
        EXPECT_EQ(body, expected.substr(0, body.size()));
        EXPECT_FALSE(testsupport::readBytes(*stream, &byte, 1).has_value());
        EXPECT_NE(stream->errorText(), "");
        if (row.errorWords != nullptr) {
            EXPECT_NE(stream->errorText().find(row.errorWords), std::string::npos)
                << stream->errorText();
        }
    }
    if (row.connections >= 0) {
        EXPECT_EQ(server.connectionsAccepted(), static_cast<std::uint64_t>(row.connections));
    }
}

std::vector<ResponseCase> responseCases() {
    std::vector<ResponseCase> cases;
    for (const ResponseRow& row : kResponses) {
        cases.push_back({&row, 32768});
        cases.push_back({&row, 1000});  // several passes per arrival
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Rows, HttpStreamResponses, testing::ValuesIn(responseCases()),
                         [](const testing::TestParamInfo<ResponseCase>& info) {
                             return std::string(info.param.row->name) + "_Read" +
                                    std::to_string(info.param.readSize);
                         });

TEST(HttpStream, AsksWithAPlainHttp11GetAndNoAddedHeaderFields) {
    LoopbackServer server;
    server.setScript("/live", Script::fixed("x"));
    ClientLog log;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/live?id=7"), log);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.terminals() > 0; }));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 1U);
    std::istringstream head(requests[0]);
    std::string line;
    std::getline(head, line);
    EXPECT_EQ(line, "GET /live?id=7 HTTP/1.1\r");
    std::set<std::string> fields;
    while (std::getline(head, line) && line != "\r") {
        fields.insert(line.substr(0, line.find(':')));
    }
    EXPECT_EQ(fields, (std::set<std::string>{"Host", "Accept"})) << requests[0];
}

TEST(HttpStream, BytesAvailableIsReportedAgainOnlyWhileTheClientReads) {
    LoopbackServer server;
    server.setScript("/", Script::pattern(3000));
    ClientLog log;
    log.readSize = 0;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.hasBytes > 0; }));
    ASSERT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    // All 3000 bytes are buffered and the client does not read: after the
    // arrivals nothing more is reported, and the loop sleeps.
    testsupport::runLoopFor(0.1);
    const int offered = log.hasBytes;
    const std::uint64_t passes = RunLoop::current().passCount();
    testsupport::runLoopFor(0.5);
    EXPECT_EQ(log.hasBytes, offered);
    EXPECT_LE(RunLoop::current().passCount() - passes, 5U);
    EXPECT_EQ(log.terminals(), 0) << "the end comes only after every byte was read";

    // A client that reads a little at each event is told again on each pass.
    log.readSize = 100;
    std::uint8_t byte = 0;
    // Outside an event: resumes offers.
    ASSERT_EQ(testsupport::readBytes(*stream, &byte, 1), std::optional<std::size_t>(1));
    log.body.push_back(byte);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.terminals() > 0; }));
    EXPECT_EQ(log.ends, 1);
    EXPECT_GE(log.hasBytes - offered, 29);
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
    EXPECT_EQ(log.body.size(), 3000U);
}

struct OptionsRow {
    const char* name;
    std::function<void(HttpStreamOptions&)> change;
    bool valid;
};

void PrintTo(const OptionsRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpStreamOptionsCheck : public testing::TestWithParam<OptionsRow> {};

TEST_P(HttpStreamOptionsCheck, OnlySensibleTimesMakeAStream) {
    HttpStreamOptions options;
    GetParam().change(options);
    const std::unique_ptr<HttpStream> stream =
        HttpStream::create(*Url::parse("http://127.0.0.1:9/"), options);
    EXPECT_EQ(stream != nullptr, GetParam().valid);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpStreamOptionsCheck,
    testing::Values(
        OptionsRow{"Defaults", [](HttpStreamOptions&) {}, true},
        OptionsRow{"NoBatching", [](HttpStreamOptions& o) { o.readBatchInterval = {}; }, true},
        OptionsRow{"ZeroConnectTimeout", [](HttpStreamOptions& o) { o.connectTimeout = {}; },
                   false},
        OptionsRow{"NegativeStallTimeout",
                   [](HttpStreamOptions& o) { o.stallTimeout = HttpStreamOptions::Seconds(-1); },
                   false},
        OptionsRow{"NaNStallTimeout",
                   [](HttpStreamOptions& o) { o.stallTimeout = HttpStreamOptions::Seconds(kNaN); },
                   false},
        OptionsRow{
            "NegativeBatching",
            [](HttpStreamOptions& o) { o.readBatchInterval = HttpStreamOptions::Seconds(-0.1); },
            false},
        OptionsRow{"InfiniteBatching",
                   [](HttpStreamOptions& o) {
                       o.readBatchInterval =
                           HttpStreamOptions::Seconds(std::numeric_limits<double>::infinity());
                   },
                   false}),
    [](const testing::TestParamInfo<OptionsRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
