// The streams the hooked services make: each operation passes the hooks under
// the name of the operation it stands for, the listener's stream reads
// through them too, and a stream destroyed on another thread while its
// listener runs leaves that listener a stream it can still use.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <thread>

#include "engine/net/HttpStream.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"
#include "tests/engine/player/FaultInjectingServices.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

// Blocks inside its first event until the test has destroyed the stream,
// then reads from the stream the event carries.
struct BlockingListener : HttpStream::Listener {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool destroyed = false;
    bool gaveUpWaiting = false;
    std::optional<std::size_t> readAfterDestruction = 99;
    int laterEvents = 0;

    void onStreamEvent(HttpStream& stream, HttpStream::Event) override {
        std::unique_lock lock(mutex);
        if (entered) {
            ++laterEvents;
            return;
        }
        entered = true;
        changed.notify_all();
        gaveUpWaiting =
            !changed.wait_for(lock, std::chrono::seconds(10), [&] { return destroyed; });
        std::byte chunk[4096];
        readAfterDestruction = stream.read(chunk);
    }
};

TEST(HookedHttpStream, DestroyedDuringAnEventItLeavesTheListenerAStreamThatReadsThroughTheHooks) {
    LoopbackServer server;
    server.setScript("/", Script::endless().paced(500'000));
    FaultInjectingServices platform;
    BlockingListener listener;
    std::promise<std::unique_ptr<HttpStream>> made;
    std::atomic<bool> finish{false};
    std::thread owner([&] {
        std::unique_ptr<HttpStream> stream = platform.makeHttpStream(*Url::parse(server.url("/")));
        if (stream && stream->open()) {
            stream->setListener(&listener);
            stream->schedule(RunLoop::current());
        }
        made.set_value(std::move(stream));
        while (!finish.load()) {
            RunLoop::current().run(RunLoop::Seconds(0.02), false);
        }
    });
    std::unique_ptr<HttpStream> stream = made.get_future().get();
    ASSERT_NE(stream, nullptr);
    {
        std::unique_lock lock(listener.mutex);
        EXPECT_TRUE(listener.changed.wait_for(lock, std::chrono::seconds(10),
                                              [&] { return listener.entered; }));
    }
    const int readsBefore = platform.count(Op::HttpStreamRead);
    stream.reset();  // closes it; the owning thread is inside the listener
    {
        std::lock_guard lock(listener.mutex);
        listener.destroyed = true;
    }
    listener.changed.notify_all();
    EXPECT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    finish.store(true);
    owner.join();

    EXPECT_FALSE(listener.gaveUpWaiting) << "the destruction waited for the listener";
    EXPECT_EQ(listener.readAfterDestruction, std::optional<std::size_t>(0));
    EXPECT_EQ(listener.laterEvents, 0);
    // The read went through the hooks, and each operation once.
    const auto reads = platform.callsOf(Op::HttpStreamRead);
    ASSERT_EQ(static_cast<int>(reads.size()), readsBefore + 1);
    EXPECT_EQ(reads.back().result, 0);
    for (const Op op : {Op::HttpStreamCreate, Op::HttpStreamOpen, Op::HttpStreamSetListener,
                        Op::HttpStreamSchedule, Op::HttpStreamDestroy}) {
        EXPECT_EQ(platform.count(op), 1) << static_cast<int>(op);
    }
    EXPECT_EQ(platform.count(Op::HttpStreamClose), 0);
}

struct FakedReadRow {
    const char* name;
    StatusCode faked;
    std::optional<std::size_t> read;
};

void PrintTo(const FakedReadRow& row, std::ostream* out) {
    *out << row.name;
}

class HookedHttpStreamRead : public testing::TestWithParam<FakedReadRow> {};

TEST_P(HookedHttpStreamRead, AFakedResultIsTheReadsCount) {
    FaultInjectingServices platform;
    platform.fake(Op::HttpStreamRead, GetParam().faked);
    std::unique_ptr<HttpStream> stream =
        platform.makeHttpStream(*Url::parse("http://127.0.0.1:9/"));
    ASSERT_NE(stream, nullptr);
    std::byte chunk[16];
    EXPECT_EQ(stream->read(chunk), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(Rows, HookedHttpStreamRead,
                         testing::Values(FakedReadRow{"Failure", -1, std::nullopt},
                                         FakedReadRow{"Nothing", 0, std::optional<std::size_t>(0)},
                                         FakedReadRow{"Bytes", 7, std::optional<std::size_t>(7)}),
                         [](const testing::TestParamInfo<FakedReadRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace orvento::test
