// Flow control: with every buffer of the ring queued the worker waits, and
// while it waits it reads nothing. A stop ends the wait.
#include <gtest/gtest.h>

#include "tests/engine/player/PlayerHarness.h"

namespace orvento::test {
namespace {

TEST(FlowControl, AFullRingStopsTheReadingAndAStopWakesTheWorker) {
    // A 16 kbit/s stream, as fast as the server can send it, into a real-time
    // output: the ring holds six buffers of a quarter of a second, and one
    // full read holds 16 s of audio. Once the ring is full the worker waits,
    // inside the parse of such a read, for a buffer to come back, copies a
    // quarter of a second and waits again: it reads nothing for many seconds.
    PlayerHarness h(/*realTimeOutput=*/true);
    Pelorin& player = h.createFor("/live", fixtureScript("mpeg25_l3.mp3").repeated());
    player.start();
    FaultInjectingServices& p = *h.platform;
    const auto reads = [&] { return p.callsOf(Op::HttpStreamRead); };
    ASSERT_TRUE(p.waitFor([&] {
        return p.buffersHeldByQueue() == static_cast<int>(kBufferCount) && !reads().empty() &&
               reads().back().result == kReadChunkSize;
    })) << h.diagnostics();

    const std::size_t readsBefore = reads().size();
    std::this_thread::sleep_for(500ms);  // an observation window, not a wait
    const auto after = reads();
    EXPECT_EQ(after.size(), readsBefore);
    long bytes = 0;
    for (const CallRecord& r : after) {
        bytes += r.result > 0 ? r.result : 0;
    }
    // Six buffers of 1.5 s of audio (3 KB) ahead of playback: the worker has
    // read little more than the full chunk it is parsing.
    EXPECT_LE(bytes, 3 * kReadChunkSize);

    player.stop();
    ASSERT_TRUE(h.waitEnded(5s));
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.alerts->alerts().empty());
    EXPECT_EQ(p.buffersHeldByQueue(), 0);
}

}  // namespace
}  // namespace orvento::test
