// A player that catches up: a live station's burst is shed down to the
// target through the queue's stage, and a recording plays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/player/CatchUp.h"
#include "tests/engine/player/PlayerHarness.h"

namespace orvento::test {
namespace {

using std::chrono::steady_clock;

Script tower() {
    // 16 kbit/s: 2000 bytes a second.
    return Script::fromFile(std::string(ORVENTO_TRANSMISSION_TEST_RECORDINGS) + "/tower-mp3-8k.mp3",
                            "audio/mpeg");
}

Pelorin& createCatchingUp(PlayerHarness& h, const std::string& path, Script script,
                          std::shared_ptr<CatchUpStage> stage) {
    h.server.setScript(path, std::move(script));
    PelorinServices services{h.platform, h.alerts, nullptr, &h.workers};
    services.catchUp = std::move(stage);
    h.player = Pelorin::initWithURL(Url::parse(h.server.url(path)), services);
    h.weak = h.player;
    h.observer.observe(*h.player);
    return *h.player;
}

TEST(PlayerCatchUp, ALiveStationsBurstIsShedDownToTheTarget) {
    PlayerHarness h(true);
    auto stage = std::make_shared<CatchUpStage>(std::nullopt);
    // 20 s of burst, then the station's own pace.
    Pelorin& p = createCatchingUp(h, "/live.mp3", tower().repeated().paced(2000, 40000), stage);
    p.start();
    const auto deadline = steady_clock::now() + std::chrono::seconds(30);
    // Most of the burst waits in the network, not in the queue: the lag
    // counts it all the same, and it is shed until the lag is at the target.
    double mostBehind = 0;
    std::optional<double> behind;
    while (steady_clock::now() < deadline) {
        behind = p.behindLiveSeconds();
        mostBehind = std::max(mostBehind, behind.value_or(0));
        if (mostBehind > 12 && behind && *behind < stage->targetSeconds() + 1.5) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(mostBehind, 12) << "the burst was not counted in the lag";
    ASSERT_TRUE(behind.has_value());
    EXPECT_LT(*behind, stage->targetSeconds() + 1.5) << "the burst was not shed in 30 s";
    EXPECT_GE(stage->droppedSeconds(), 10);
    p.stop();
    EXPECT_TRUE(h.waitEnded());
}

TEST(PlayerCatchUp, ARecordingPlaysWhole) {
    PlayerHarness h(true);
    auto stage = std::make_shared<CatchUpStage>(std::nullopt);
    Pelorin& p = createCatchingUp(h, "/recording.mp3", tower(), stage);
    p.start();
    ASSERT_TRUE(h.platform->waitFor([&] { return p.isPlaying(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(stage->seenSeconds(), 0) << "a recording's audio went through the catch-up";
    EXPECT_FALSE(p.behindLiveSeconds().has_value());
    p.stop();
    EXPECT_TRUE(h.waitEnded());
}

}  // namespace
}  // namespace orvento::test
