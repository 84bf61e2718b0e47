// Slow streams are read in batches: fewer wakes, and still every byte in
// order, every event, a working stall rule, flow control and close.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/http/HttpReadStream.h"
#include "tests/engine/platform/http/StreamHarness.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using testsupport::ClientLog;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// 200 pieces of 20 bytes a second: without batching, about 200 wakes and
// has-bytes-available events a second.
Script drip() {
    return Script::endless().paced(4000).writesOf(20);
}

enum class Outcome { none, end, error };

struct DripRow {
    const char* name;
    Script script;
    LoopbackServer::Transport transport;
    Outcome outcome;
    std::size_t bytes;  // the whole body for an end or an error; a minimum otherwise
};

void PrintTo(const DripRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpReadStreamSlowDrip : public testing::TestWithParam<DripRow> {};

TEST_P(HttpReadStreamSlowDrip, DeliversEveryByteInOrderWithFewWakes) {
    const DripRow& row = GetParam();
    LoopbackServer server(row.transport);
    server.setScript("/", row.script);
    HttpReadStreamOptions options;
    options.caFile = server.caFile();
    ClientLog log;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log, options);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.hasBytes > 0; }));

    // Slices as long as the engine's, so the loop's own returns add few passes.
    const Clock::time_point start = Clock::now();
    const int eventsBefore = log.hasBytes;
    const std::uint64_t passesBefore = CFRunLoopGetCurrent()->passCount();
    constexpr double kWindow = 1.5;
    while (secondsSince(start) < (row.outcome == Outcome::none ? kWindow : 10) &&
           log.terminals() == 0) {
        testsupport::runLoopFor(0.25);
    }
    const double window = secondsSince(start);
    const int events = log.hasBytes - eventsBefore;
    const std::uint64_t passes = CFRunLoopGetCurrent()->passCount() - passesBefore;
    std::printf("%.2f s: %d has-bytes events, %llu loop passes, %zu bytes\n", window, events,
                static_cast<unsigned long long>(passes), log.body.size());

    // One read per batching interval, and a few around the start and the end.
    EXPECT_LE(events, static_cast<int>(window / kReadBatchSeconds) + 4);
    // Two passes per interval (the timer's, then the event's) and one per slice.
    EXPECT_LE(passes, static_cast<std::uint64_t>(window * (2 / kReadBatchSeconds + 4)) + 8);

    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
    EXPECT_EQ(log.eventsAfterTerminal, 0);
    EXPECT_EQ(log.readsReturningZero, 0);
    switch (row.outcome) {
        case Outcome::none:
            EXPECT_EQ(log.terminals(), 0) << HttpReadStreamErrorText(stream.get());
            EXPECT_GE(log.body.size(), row.bytes);
            break;
        case Outcome::end:
            EXPECT_EQ(log.ends, 1) << HttpReadStreamErrorText(stream.get());
            EXPECT_EQ(log.errors, 0);
            EXPECT_EQ(log.body.size(), row.bytes);
            break;
        case Outcome::error:
            EXPECT_EQ(log.errors, 1);
            EXPECT_EQ(log.ends, 0);
            EXPECT_EQ(log.body.size(), row.bytes) << "bytes received before the error were lost";
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpReadStreamSlowDrip,
    testing::Values(
        DripRow{"Endless", drip(), LoopbackServer::Transport::plain, Outcome::none, 3000},
        DripRow{"EndlessOverTls", drip(), LoopbackServer::Transport::tls, Outcome::none, 3000},
        DripRow{"EndlessChunked", drip().chunked(), LoopbackServer::Transport::plain, Outcome::none,
                3000},
        DripRow{"EndsAfterItsLastByte", Script::pattern(4000).paced(4000).writesOf(20),
                LoopbackServer::Transport::plain, Outcome::end, 4000},
        DripRow{"FailsAfterItsLastByte",
                Script::pattern(100'000).paced(4000).writesOf(20).closeAfter(4000),
                LoopbackServer::Transport::plain, Outcome::error, 4000}),
    [](const testing::TestParamInfo<DripRow>& info) { return std::string(info.param.name); });

// A stream inside a batching delay of this length shows it as a long silence
// (used where a test must catch a stream in a delay).
constexpr double kLongBatch = 10;

struct PromptRow {
    const char* name;
    Script script;
    LoopbackServer::Transport transport;
    std::size_t bytes;  // must arrive promptly
    // Batching delays allowed before they have: none for a burst; for a fast
    // stream one per moment its server falls silent for a whole interval
    // (a loaded test machine), where a stream judged slow would make one
    // every few reads.
    std::uint64_t delays;
};

void PrintTo(const PromptRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpReadStreamPrompt : public testing::TestWithParam<PromptRow> {};

TEST_P(HttpReadStreamPrompt, BatchingNeverDelaysALargeOrDenseDelivery) {
    const PromptRow& row = GetParam();
    LoopbackServer server(row.transport);
    server.setScript("/", row.script);
    HttpReadStreamOptions options;
    options.caFile = server.caFile();
    ClientLog log;
    std::uint64_t delaysBefore = std::numeric_limits<std::uint64_t>::max();
    log.hook = [&](CFReadStreamRef stream, CFStreamEventType) {
        if (log.body.size() >= row.bytes &&
            delaysBefore == std::numeric_limits<std::uint64_t>::max()) {
            delaysBefore = HttpReadStreamBatchingDelays(stream);
        }
    };
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log, options);
    ASSERT_TRUE(stream);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(testsupport::runLoopUntil(
        [&] { return log.body.size() >= row.bytes || log.terminals() > 0; }, 10))
        << log.body.size() << " bytes after " << secondsSince(start) << " s";
    EXPECT_GE(log.body.size(), row.bytes) << HttpReadStreamErrorText(stream.get());
    EXPECT_LE(delaysBefore, row.delays) << "in " << secondsSince(start) << " s";
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpReadStreamPrompt,
    testing::Values(
        PromptRow{"LargeWrites", Script::pattern(4'000'000).writesOf(65536),
                  LoopbackServer::Transport::plain, 4'000'000, 0},
        PromptRow{"LargeWritesOverTls", Script::pattern(2'000'000).writesOf(65536),
                  LoopbackServer::Transport::tls, 2'000'000, 0},
        // A fast stream as a distant server's small segments bring it: each
        // read takes little, but they come close together.
        PromptRow{"FastInSmallPieces", Script::endless().paced(400'000).writesOf(500),
                  LoopbackServer::Transport::plain, 800'000, 2},
        PromptRow{"FastInSmallChunks", Script::endless().chunked().paced(400'000).writesOf(500),
                  LoopbackServer::Transport::plain, 800'000, 2},
        // A station's start: the burst is read at once, only the drip after it waits.
        PromptRow{"BurstBeforeADrip", Script::endless().paced(2000, std::size_t{64} * 1024),
                  LoopbackServer::Transport::plain, std::size_t{64} * 1024, 0},
        PromptRow{"BurstBeforeADripOverTls", Script::endless().paced(2000, std::size_t{64} * 1024),
                  LoopbackServer::Transport::tls, std::size_t{64} * 1024, 0}),
    [](const testing::TestParamInfo<PromptRow>& info) { return std::string(info.param.name); });

// A fast stream whose reads alternate between large and small: 20 000 bytes,
// 10 ms later 100 bytes, 10 ms later the next 20 000, up to `total` bytes of
// the pattern, then the connection closes (the body ends there). The small
// reads, taken alone, look like a slow stream.
class AlternatingServer {
  public:
    explicit AlternatingServer(std::size_t total) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 1) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, total] { serve(total); });
    }
    ~AlternatingServer() {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listenFd_);
    }
    AlternatingServer(const AlternatingServer&) = delete;
    AlternatingServer& operator=(const AlternatingServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    void serve(std::size_t total) {
        pollfd waiting{listenFd_, POLLIN, 0};
        while (!stop_.load() && ::poll(&waiting, 1, 50) <= 0) {
        }
        if (stop_.load()) {
            return;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::string request;
        char piece[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(fd, piece, sizeof piece, 0);
            if (got <= 0) {
                ::close(fd);
                return;
            }
            request.append(piece, static_cast<std::size_t>(got));
        }
        const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        std::vector<char> body(20'000);
        std::size_t sent = 0;
        for (int round = 0; open && sent < total && !stop_.load(); ++round) {
            const std::size_t size = std::min(round % 2 == 0 ? body.size() : 100, total - sent);
            for (std::size_t i = 0; i < size; ++i) {
                body[i] = static_cast<char>(loopback::patternByte(sent + i));
            }
            open = ::send(fd, body.data(), size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
            sent += size;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(fd);
    }

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(HttpReadStreamBatching, SmallReadsBetweenLargeOnesAreNotDelayed) {
    constexpr std::size_t kTotal = 2'000'000;
    AlternatingServer server(kTotal);
    ClientLog log;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url(), log);
    ASSERT_TRUE(stream);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(testsupport::runLoopUntil([&] { return log.terminals() > 0; }, 10))
        << log.body.size() << " bytes after " << secondsSince(start) << " s";
    EXPECT_EQ(log.ends, 1) << HttpReadStreamErrorText(stream.get());
    EXPECT_EQ(log.body.size(), kTotal);
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
    // Judged read by read, each of the 100 small reads would be delayed.
    EXPECT_LE(HttpReadStreamBatchingDelays(stream.get()), 2U);
}

// Runs the owning thread's loop until the stream is inside a batching delay:
// a while passes in which the server goes on sending and nothing is reported.
void runIntoABatchingDelay(const LoopbackServer& server, ClientLog& log) {
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.hasBytes > 0; }));
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int offered = log.hasBytes;
        const std::uint64_t written = server.bodyBytesWritten();
        testsupport::runLoopFor(0.3);
        if (log.hasBytes == offered && server.bodyBytesWritten() > written) {
            return;
        }
    }
    FAIL() << "no batching delay";
}

HttpReadStreamOptions longBatch() {
    HttpReadStreamOptions options;
    options.readBatchSeconds = kLongBatch;
    return options;
}

enum class Closer { owningThread, otherThread, releaseOnly, threadExit };

void PrintTo(Closer closer, std::ostream* out) {
    static const char* const names[] = {"owningThread", "otherThread", "releaseOnly", "threadExit"};
    *out << names[static_cast<int>(closer)];
}

class HttpReadStreamCloseDuringDelay : public testing::TestWithParam<Closer> {};

TEST_P(HttpReadStreamCloseDuringDelay, LeavesNothingBehind) {
    LoopbackServer server;
    server.setScript("/", drip());
    ClientLog log;
    std::atomic<int> eventsAfterClose{0};
    std::atomic<bool> closed{false};
    log.hook = [&](CFReadStreamRef, CFStreamEventType) {
        if (closed.load()) {
            eventsAfterClose.fetch_add(1);
        }
    };

    switch (GetParam()) {
        case Closer::owningThread:
        case Closer::releaseOnly: {
            testsupport::StreamPtr stream =
                testsupport::startStream(server.url("/"), log, longBatch());
            runIntoABatchingDelay(server, log);
            closed.store(true);
            if (GetParam() == Closer::owningThread) {
                stream.reset();  // close, then release
            } else {
                CFRelease(stream.release());
            }
            EXPECT_TRUE(testsupport::runLoopUntil([&] { return server.connectionsOpen() == 0; }));
            testsupport::runLoopFor(0.2);
            break;
        }
        case Closer::otherThread: {
            std::promise<CFReadStreamRef> delayed;
            std::atomic<bool> stop{false};
            std::thread owner([&] {
                log.owner = std::this_thread::get_id();
                testsupport::StreamPtr stream =
                    testsupport::startStream(server.url("/"), log, longBatch());
                runIntoABatchingDelay(server, log);
                delayed.set_value(stream.release());  // this thread closes and releases it
                testsupport::runLoopUntil([&] { return stop.load(); }, 30);
            });
            CFReadStreamRef stream = delayed.get_future().get();
            closed.store(true);
            CFReadStreamClose(stream);
            CFRelease(stream);
            EXPECT_TRUE(testsupport::waitUntil([&] { return server.connectionsOpen() == 0; }));
            stop.store(true);
            owner.join();
            break;
        }
        case Closer::threadExit: {
            CFReadStreamRef orphan = nullptr;
            std::thread([&] {
                log.owner = std::this_thread::get_id();
                testsupport::StreamPtr stream =
                    testsupport::startStream(server.url("/"), log, longBatch());
                runIntoABatchingDelay(server, log);
                orphan = stream.release();  // scheduled and delayed when the thread ends
            }).join();
            closed.store(true);
            EXPECT_TRUE(testsupport::waitUntil([&] { return server.connectionsOpen() == 0; }));
            CFReadStreamClose(orphan);
            CFRelease(orphan);
            break;
        }
    }
    EXPECT_EQ(eventsAfterClose.load(), 0);
    EXPECT_FALSE(log.offThread);
}

INSTANTIATE_TEST_SUITE_P(Closers, HttpReadStreamCloseDuringDelay,
                         testing::Values(Closer::owningThread, Closer::otherThread,
                                         Closer::releaseOnly, Closer::threadExit),
                         [](const testing::TestParamInfo<Closer>& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

class HttpReadStreamPauseDuringBatching : public testing::TestWithParam<LoopbackServer::Transport> {
};

// A burst fills the stream's buffer almost to the brim while the reader does
// not read; the batched drip after it fills it up and the transfer pauses.
// Once the reader reads again the transfer resumes and keeps up with the
// server, batching again.
TEST_P(HttpReadStreamPauseDuringBatching, TheResumeIsNotLost) {
    LoopbackServer server(GetParam());
    server.setScript("/", Script::endless().paced(30'000, std::uint64_t{80} * 1024).writesOf(150));
    HttpReadStreamOptions options;
    options.caFile = server.caFile();
    ClientLog log;
    log.readSize = 0;
    const testsupport::StreamPtr stream = testsupport::startStream(server.url("/"), log, options);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return log.hasBytes > 0; }));
    // 96 KiB of buffer: full within a few batching intervals.
    testsupport::runLoopFor(1.0);
    ASSERT_EQ(log.terminals(), 0) << HttpReadStreamErrorText(stream.get());
    ASSERT_GT(HttpReadStreamBatchingDelays(stream.get()), 0U) << "filled without batching";

    log.readSize = 32768;
    std::vector<UInt8> chunk(32768);
    const CFIndex got = CFReadStreamRead(stream.get(), chunk.data(), 32768);
    ASSERT_GT(got, 0);
    log.body.insert(log.body.end(), chunk.begin(), chunk.begin() + got);
    // The backlog's large read makes the next interval look fast; batching
    // resumes after it.
    testsupport::runLoopFor(0.5);
    const int offered = log.hasBytes;
    testsupport::runLoopFor(1.0);
    EXPECT_EQ(log.terminals(), 0) << HttpReadStreamErrorText(stream.get());
    EXPECT_TRUE(loopback::matchesPattern(log.body.data(), log.body.size(), 0));
    // Caught up: what the server wrote, less what a batching interval and the
    // loop's last slice may still hold.
    const auto behind =
        static_cast<double>(server.bodyBytesWritten()) - static_cast<double>(log.body.size());
    EXPECT_LT(behind, 30'000 * (kReadBatchSeconds + 0.25) + 2000)
        << log.body.size() << " bytes read of " << server.bodyBytesWritten();
    EXPECT_LE(log.hasBytes - offered, static_cast<int>(1.0 / kReadBatchSeconds) + 4);
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpReadStreamPauseDuringBatching,
                         testing::Values(LoopbackServer::Transport::plain,
                                         LoopbackServer::Transport::tls),
                         [](const testing::TestParamInfo<LoopbackServer::Transport>& info) {
                             return info.param == LoopbackServer::Transport::tls ? "Tls" : "Plain";
                         });

TEST(HttpReadStreamBatching, TheIntervalMustBeFiniteAndNotNegative) {
    CFHTTPMessageRef request = CFHTTPMessageCreateRequest(
        kCFAllocatorDefault, "GET", Url::fromString("http://127.0.0.1:9/"), kCFHTTPVersion1_1);
    const testsupport::StreamPtr stream(
        CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request));
    CFRelease(request);
    HttpReadStreamOptions options;
    for (const double seconds : {-0.1, std::nan(""), std::numeric_limits<double>::infinity()}) {
        options.readBatchSeconds = seconds;
        EXPECT_FALSE(HttpReadStreamSetOptions(stream.get(), options)) << seconds;
    }
    options.readBatchSeconds = 0;  // reads every piece as it arrives
    EXPECT_TRUE(HttpReadStreamSetOptions(stream.get(), options));
}

}  // namespace
}  // namespace orvento
