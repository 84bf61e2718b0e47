// A player that catches up: a live station's burst is shed down to the
// target through the queue's stage, and a recording plays whole.
#include <gtest/gtest.h>

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
    // 8 s of burst, then the station's own pace.
    Pelorin& p = createCatchingUp(h, "/live.mp3", tower().repeated().paced(2000, 16000), stage);
    p.start();
    const auto deadline = steady_clock::now() + std::chrono::seconds(20);
    // The ring keeps at most six hand-overs in the queue; the rest of the
    // burst waits in the network and comes as the queue sheds.
    while (steady_clock::now() < deadline && stage->droppedSeconds() < 4) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(stage->droppedSeconds(), 4) << "less than 4 s of the burst shed in 20 s";
    const std::optional<double> behind = p.behindLiveSeconds();
    ASSERT_TRUE(behind.has_value());
    EXPECT_LT(*behind, stage->targetSeconds() + 1.5);
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
