// Closing and releasing a stream, from its own thread and from others.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <ostream>
#include <thread>

#include "engine/platform/http/HttpReadStream.h"
#include "tests/engine/platform/http/StreamHarness.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using testsupport::ClientLog;

// Starts `url` on a new thread that runs its loop until told to stop.
class StreamThread {
  public:
    StreamThread(const std::string& url, CFReadStreamClientCallBack callback, void* info) {
        thread_ = std::thread([=, this] {
            testsupport::StreamPtr stream = testsupport::createStream(url);
            CFStreamClientContext context{0, info, nullptr, nullptr, nullptr};
            CFReadStreamSetClient(stream.get(), testsupport::kEngineEvents, callback, &context);
            CFReadStreamScheduleWithRunLoop(stream.get(), CFRunLoopGetCurrent(),
                                            kCFRunLoopCommonModes);
            started_.set_value(stream.release());  // the test thread closes and releases it
            testsupport::runLoopUntil([this] { return stop_.load(); }, 60);
        });
        stream_ = started_.get_future().get();
    }
    ~StreamThread() { finish(); }
    StreamThread(const StreamThread&) = delete;
    StreamThread& operator=(const StreamThread&) = delete;

    CFReadStreamRef stream() const { return stream_; }
    void finish() {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    std::promise<CFReadStreamRef> started_;
    CFReadStreamRef stream_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The engine's stop: the owning thread is blocked inside the callback,
// waiting for the very thread that closes.
struct BlockingClient {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool closeReturned = false;
    bool gaveUpWaiting = false;
    CFIndex readAfterClose = 99;
    int laterEvents = 0;

    static void callback(CFReadStreamRef stream, CFStreamEventType, void* info) {
        auto& client = *static_cast<BlockingClient*>(info);
        std::unique_lock lock(client.mutex);
        if (client.entered) {
            ++client.laterEvents;
            return;
        }
        client.entered = true;
        client.changed.notify_all();
        client.gaveUpWaiting = !client.changed.wait_for(lock, std::chrono::seconds(10),
                                                        [&] { return client.closeReturned; });
        UInt8 chunk[4096];
        client.readAfterClose = CFReadStreamRead(stream, chunk, sizeof chunk);
    }
};

TEST(HttpReadStreamClose, DoesNotWaitForACallbackBlockedOnTheClosingThread) {
    LoopbackServer server;
    server.setScript("/", Script::endless().paced(500'000));
    BlockingClient client;
    StreamThread owner(server.url("/"), &BlockingClient::callback, &client);
    {
        std::unique_lock lock(client.mutex);
        ASSERT_TRUE(client.changed.wait_for(lock, std::chrono::seconds(10),
                                            [&] { return client.entered; }));
    }
    // The callback still runs with the stream: released here, freed later.
    CFReadStreamClose(owner.stream());
    CFRelease(owner.stream());
    {
        std::lock_guard lock(client.mutex);
        client.closeReturned = true;
    }
    client.changed.notify_all();
    ASSERT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    owner.finish();
    EXPECT_FALSE(client.gaveUpWaiting) << "close waited for the callback";
    EXPECT_EQ(client.readAfterClose, 0) << "a stop must not turn into a read failure";
    EXPECT_EQ(client.laterEvents, 0);
}

struct CloseInsideRow {
    const char* name;
    Script script;
    CFStreamEventType closeOn;
};

void PrintTo(const CloseInsideRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpReadStreamCloseInside : public testing::TestWithParam<CloseInsideRow> {};

TEST_P(HttpReadStreamCloseInside, TheCallbackItselfClosesAndReleases) {
    LoopbackServer server;
    server.setScript("/", GetParam().script);
    ClientLog log;
    // The callback owns the stream from here.
    CFReadStreamRef raw = testsupport::startStream(server.url("/"), log).release();
    bool closed = false;
    log.hook = [&](CFReadStreamRef s, CFStreamEventType type) {
        EXPECT_EQ(s, raw);
        if (type == GetParam().closeOn && !closed) {
            closed = true;
            CFReadStreamClose(s);
            CFRelease(s);
        }
    };
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return closed; }));
    const int eventsAtClose = log.events.load();
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return server.connectionsOpen() == 0; }));
    testsupport::runLoopFor(0.1);
    EXPECT_EQ(log.events.load(), eventsAtClose);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpReadStreamCloseInside,
    testing::Values(CloseInsideRow{"OnBytes", Script::endless().paced(200'000),
                                   kCFStreamEventHasBytesAvailable},
                    CloseInsideRow{"OnEnd", Script::pattern(100'000), kCFStreamEventEndEncountered},
                    CloseInsideRow{"OnError", Script::pattern(100'000).closeAfter(10),
                                   kCFStreamEventErrorOccurred}),
    [](const testing::TestParamInfo<CloseInsideRow>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace orvento
