// Closing and destroying a stream from another thread while its listener is
// blocked waiting for that thread, as the player's stop does. (A close inside
// the listener is the player's at every end of a stream.)
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/net/HttpStream.h"
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
    StreamThread(const std::string& url, HttpStream::Listener& listener) {
        thread_ = std::thread([=, this, &listener] {
            testsupport::StreamPtr stream = testsupport::createStream(url);
            stream->setListener(&listener);
            stream->schedule(RunLoop::current());
            started_.set_value(std::move(stream));  // the test thread closes and destroys it
            testsupport::runLoopUntil([this] { return stop_.load(); }, 60);
        });
        stream_ = started_.get_future().get();
    }
    ~StreamThread() { finish(); }
    StreamThread(const StreamThread&) = delete;
    StreamThread& operator=(const StreamThread&) = delete;

    // Takes the stream, as its new owner.
    testsupport::StreamPtr take() { return std::move(stream_); }
    void finish() {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    std::promise<testsupport::StreamPtr> started_;
    testsupport::StreamPtr stream_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The engine's stop: the owning thread is blocked inside the callback,
// waiting for the very thread that closes.
struct BlockingClient : HttpStream::Listener {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool closeReturned = false;
    bool gaveUpWaiting = false;
    std::optional<std::size_t> readAfterClose = 99;
    int laterEvents = 0;

    void onStreamEvent(HttpStream& stream, HttpStream::Event) override {
        BlockingClient& client = *this;
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
        client.readAfterClose = testsupport::readBytes(stream, chunk, sizeof chunk);
    }
};

TEST(HttpStreamClose, DoesNotWaitForAListenerBlockedOnTheClosingThread) {
    LoopbackServer server;
    server.setScript("/", Script::endless().paced(500'000));
    BlockingClient client;
    StreamThread owner(server.url("/"), client);
    {
        std::unique_lock lock(client.mutex);
        ASSERT_TRUE(client.changed.wait_for(lock, std::chrono::seconds(10),
                                            [&] { return client.entered; }));
    }
    // The listener still runs with the stream: destroyed here (which closes
    // it), freed later.
    owner.take().reset();
    {
        std::lock_guard lock(client.mutex);
        client.closeReturned = true;
    }
    client.changed.notify_all();
    ASSERT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    owner.finish();
    EXPECT_FALSE(client.gaveUpWaiting) << "close waited for the callback";
    EXPECT_EQ(client.readAfterClose, std::optional<std::size_t>(0))
        << "a stop must not turn into a read failure";
    EXPECT_EQ(client.laterEvents, 0);
}

}  // namespace
}  // namespace orvento
