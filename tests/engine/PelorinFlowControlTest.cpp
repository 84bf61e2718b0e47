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
    // A 16 kbit/s stream into a real-time output: one buffer holds about
    // 16 s of audio, so the ring stays full for the whole test.
    PlayerHarness h(/*realTimeOutput=*/true);
    Script s = Script::fromFile(fixture("mpeg25_l3.mp3").string());
    s.repeated();
    Pelorin& player = h.createFor("/live", s);
    player.start();

    // The worker marks a buffer in use just before it hands it over: both counts.
    ASSERT_TRUE(waitUntil([&] {
        return h.access->buffersInUse() == static_cast<int>(kBufferCount) &&
               h.platform->buffersHeldByQueue() == static_cast<int>(kBufferCount);
    })) << h.platform->enqueues().size()
        << " handed over, " << h.platform->buffersHeldByQueue() << " held by the queue, "
        << h.platform->bytesRead() << " bytes read, " << h.server.bodyBytesWritten()
        << " written, given back: " << testing::PrintToString(h.platform->completions());
    EXPECT_EQ(h.platform->enqueues().size(), kBufferCount);

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
    // Six buffers of audio ahead of playback; beyond them at most the chunk
    // being parsed and what the parser carries over.
    EXPECT_LE(read, kBufferCount * kBufferSize + 2 * static_cast<std::size_t>(kReadChunkSize));
    EXPECT_GE(read, (kBufferCount - 1) * kBufferSize);

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
