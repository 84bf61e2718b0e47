// Backpressure and the stall rule (also through a long batching delay).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/net/HttpStream.h"
#include "tests/engine/net/StreamHarness.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using testsupport::ClientLog;
using namespace std::chrono_literals;

// Runs the loop until the server has written nothing more for a while;
// returns what it wrote.
std::uint64_t runUntilServerIsHeldBack(const LoopbackServer& server) {
    std::uint64_t last = 0;
    int quietSlices = 0;
    const bool held = testsupport::runLoopUntil([&] {
        const std::uint64_t written = server.bodyBytesWritten();
        quietSlices = written == last && written > 0 ? quietSlices + 1 : 0;
        last = written;
        return quietSlices >= 15;
    });
    EXPECT_TRUE(held) << "the server kept writing: " << last << " bytes";
    return last;
}

// Reads `bytes` more through the client's events, starting with one read
// outside an event (a reader that was not reading is not told again until
// it reads).
void readOn(HttpStream& stream, ClientLog& log, std::size_t bytes) {
    log.readSize = 32768;
    std::vector<std::uint8_t> chunk(32768);
    const std::optional<std::size_t> got = testsupport::readBytes(stream, chunk.data(), 32768);
    ASSERT_TRUE(got.has_value());
    ASSERT_GT(*got, 0U);
    log.body.insert(log.body.end(), chunk.begin(),
                    chunk.begin() + static_cast<std::ptrdiff_t>(*got));
    const std::size_t target = log.body.size() + bytes;
    ASSERT_TRUE(testsupport::runLoopUntil(
        [&] { return log.body.size() >= target || log.terminals() > 0; }, 30));
    EXPECT_EQ(log.terminals(), 0);
}

class HttpStreamBackpressure : public testing::TestWithParam<LoopbackServer::Transport> {};

TEST_P(HttpStreamBackpressure, AReaderThatStopsHoldsTheServerBackWithoutSpinning) {
    LoopbackServer server(GetParam());
    // A small send buffer keeps the server's share of the bound small.
    server.setScript("/",
                     Script::endless().withSendBuffer(32 * 1024).writesOf(std::size_t{16} * 1024));
    HttpStreamOptions options;
    options.caFile = server.caFile();
    options.stallTimeout = 300ms;  // must not fire while the reader holds the stream
    ClientLog log;
    log.readSize = 0;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log, options);
    ASSERT_TRUE(stream);

    const std::uint64_t held = runUntilServerIsHeldBack(server);
    // The stream's 96 KiB, a piece waiting inside libcurl, and the two
    // sockets' buffers. Without flow control the loopback would carry
    // hundreds of megabytes meanwhile.
    const std::uint64_t bound = std::uint64_t{1024} * 1024;
    EXPECT_LT(held, bound);

    const std::uint64_t passes = RunLoop::current().passCount();
    testsupport::runLoopFor(1.0);
    EXPECT_LE(RunLoop::current().passCount() - passes, 10U) << "the paused stream spins";
    EXPECT_LT(server.bodyBytesWritten(), bound);
    EXPECT_EQ(log.terminals(), 0) << stream->errorText();

    // Reading again resumes the transfer, without a byte lost or repeated.
    readOn(*stream, log, std::size_t{4} * 1024 * 1024);
    EXPECT_GT(server.bodyBytesWritten(), held);
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpStreamBackpressure,
                         testing::Values(LoopbackServer::Transport::plain,
                                         LoopbackServer::Transport::tls),
                         [](const testing::TestParamInfo<LoopbackServer::Transport>& info) {
                             return info.param == LoopbackServer::Transport::tls ? "Tls" : "Plain";
                         });

// A batching interval far longer than the stall time: the watchdog must look
// at what waits in the kernel, and still catch a server that stops.
constexpr double kBatchPastTheStallTime = 10;

struct StallRow {
    const char* name;
    Script script;
    bool fails;
    std::size_t bytes;  // received before the error; a minimum otherwise
    double batchSeconds = kReadBatchSeconds;
};

void PrintTo(const StallRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpStreamStall : public testing::TestWithParam<StallRow> {};

TEST_P(HttpStreamStall, NoBodyByteForTheStallTimeIsAnError) {
    const StallRow& row = GetParam();
    LoopbackServer server;
    server.setScript("/", row.script);
    HttpStreamOptions options;
    // A drip must not pass for a stall however busy the machine: twelve of
    // its pieces fit in the stall time of the rows that must not fail.
    options.stallTimeout = row.fails ? 300ms : 600ms;
    options.readBatchInterval = HttpStreamOptions::Seconds(row.batchSeconds);
    ClientLog log;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log, options);
    testsupport::runLoopUntil([&] { return log.terminals() > 0; }, row.fails ? 10 : 2);
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
    if (row.fails) {
        EXPECT_EQ(log.errors, 1);
        EXPECT_EQ(log.body.size(), row.bytes);
        EXPECT_NE(stream->errorText().find("no data"), std::string::npos) << stream->errorText();
    } else {
        EXPECT_EQ(log.terminals(), 0) << stream->errorText();
        // Read at every stall check at the latest, however long a batching
        // delay.
        EXPECT_GE(log.hasBytes, 3);
        EXPECT_GE(log.body.size(), row.bytes);
        if (row.batchSeconds == kBatchPastTheStallTime) {
            EXPECT_GT(stream->batchingDelays(), 0U) << "a drip in tiny pieces is read in batches";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpStreamStall,
    testing::Values(StallRow{"NeverAnswers", Script::silent(), true, 0},
                    StallRow{"StallsMidBody", Script::endless().stallAfter(5000), true, 5000},
                    StallRow{"DripsSlowlyButSteadily", Script::endless().paced(2000), false, 1001},
                    StallRow{"DripsThroughALongBatchingDelay",
                             Script::endless().paced(4000).writesOf(20), false, 2000,
                             kBatchPastTheStallTime},
                    StallRow{"StopsAfterADripInALongBatchingDelay",
                             Script::endless().paced(4000).writesOf(20).stallAfter(1000), true,
                             1000, kBatchPastTheStallTime}),
    [](const testing::TestParamInfo<StallRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
