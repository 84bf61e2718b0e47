// Flow control: with every buffer of the ring queued the worker waits, and
// while it waits it reads nothing, so the server's writes stall. A stop ends
// the wait at once.
#include <gtest/gtest.h>

#include "tests/engine/PlayerHarness.h"

namespace orvento::test {
namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr auto kWakeBound = 250ms;  // instrumented builds run several times slower
#else
constexpr auto kWakeBound = 50ms;
#endif

TEST(FlowControl, AFullRingStopsTheReadingAndAStopWakesTheWorker) {
    // A 16 kbit/s stream, as fast as the server can send it, into a real-time
    // output: the ring holds six buffers of a quarter of a second, and one
    // full read holds 16 s of audio. Once the ring is full the worker waits,
    // inside the parse of such a read, for a buffer to come back, copies a
    // quarter of a second and waits again: it reads nothing for many seconds.
    PlayerHarness h(/*realTimeOutput=*/true);
    Script s = Script::fromFile(fixture("mpeg25_l3.mp3").string());
    s.repeated();
    Pelorin& player = h.createFor("/live", s);
    player.start();

    // The worker marks a buffer in use just before it hands it over: both counts.
    const auto lastRead = [&] {
        const auto reads = h.platform->callsOf(Op::CFReadStreamRead);
        return reads.empty() ? 0 : reads.back().status;
    };
    ASSERT_TRUE(waitUntil([&] {
        return h.access->buffersInUse() == static_cast<int>(kBufferCount) &&
               h.platform->buffersHeldByQueue() == static_cast<int>(kBufferCount) &&
               lastRead() == kReadChunkSize;
    })) << h.platform->enqueues().size()
        << " handed over, " << h.platform->buffersHeldByQueue() << " held by the queue, "
        << h.platform->bytesRead() << " bytes read, " << h.server.bodyBytesWritten()
        << " written, given back: " << testing::PrintToString(h.platform->completions());

    // The server's writes come to rest once the read stream's buffer and the
    // sockets are full.
    std::uint64_t written = h.server.bodyBytesWritten();
    ASSERT_TRUE(waitUntil([&] {
        std::this_thread::sleep_for(200ms);
        const std::uint64_t now = h.server.bodyBytesWritten();
        const bool resting = now == written;
        written = now;
        return resting;
    }));
    const std::size_t read = h.platform->bytesRead();
    const int reads = h.count(Op::CFReadStreamRead);
    std::this_thread::sleep_for(500ms);  // an observation window, not a wait
    EXPECT_EQ(h.server.bodyBytesWritten(), written);
    EXPECT_EQ(h.platform->bytesRead(), read);
    EXPECT_EQ(h.count(Op::CFReadStreamRead), reads);
    // Six buffers of 1.5 s of audio (3 KB) ahead of playback: the worker has
    // read little more than the full chunk it is parsing.
    EXPECT_LE(read, 3 * static_cast<std::size_t>(kReadChunkSize));
    EXPECT_GE(read, static_cast<std::size_t>(kReadChunkSize));

    const auto stopAt = std::chrono::steady_clock::now();
    player.stop();
    ASSERT_TRUE(waitUntil([&] { return h.platform->lastParseReturn() > stopAt; }, 5s));
    EXPECT_LT(h.platform->lastParseReturn() - stopAt, kWakeBound);
    ASSERT_TRUE(h.waitEnded(5s));
    // The delivery that was waiting copied nothing after the wake.
    EXPECT_EQ(h.access->bytesFilled(), 0U);
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(h.platform->buffersHeldByQueue(), 0);
}

}  // namespace
}  // namespace orvento::test
