// Closing and releasing a stream from another thread while its callback is
// blocked waiting for that thread, as the player's stop does. (A close inside
// the callback is the player's at every end of a stream.)
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "engine/net/HttpReadStream.h"
#include "tests/engine/net/StreamHarness.h"
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
        std::uint8_t chunk[4096];
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

}  // namespace
}  // namespace orvento
