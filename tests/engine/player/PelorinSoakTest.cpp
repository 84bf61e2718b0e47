// Players started and stopped at random moments against a live loopback
// station, several ending while new ones start: no deadlock, no thread,
// socket or descriptor left behind, every player destroyed.
#include <dirent.h>
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "tests/engine/player/PlayerHarness.h"

namespace orvento::test {
namespace {

std::size_t entries(const char* dir) {
    std::size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

// Threads and descriptors end on their own time, with no event to wait for.
bool settlesAtOrBelow(const char* dir, std::size_t most) {
    for (int i = 0; i < 500 && entries(dir) > most; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    return entries(dir) <= most;
}

TEST(Soak, StartStopCyclesAtRandomMomentsLeaveNothingBehind) {
    constexpr int kCycles = 200;
    constexpr std::size_t kInFlight = 8;

    LoopbackServer server;
    // A live station: a burst of a few buffers, then real time.
    server.setScript("/live",
                     fixtureScript("mpeg2_l3.mp3").repeated().paced(4000, 3 * kBufferSize));
    const std::optional<Url> url = Url::parse(server.url("/live"));
    auto platform = std::make_shared<EngineServices>(FaultInjectingServices::nullOutput(true));
    auto alerts = std::make_shared<RecordingAlerts>();
    WorkerRegistry workers;
    const PelorinServices services{platform, alerts, nullptr, &workers};

    const auto finish = [&](std::shared_ptr<Pelorin>& player) {
        player->stop();
        const bool ended = player->waitUntilEnded(20s);
        player.reset();
        return ended;
    };

    // Warm up the process-wide parts (libcurl, the session) before counting.
    {
        auto player = Pelorin::initWithURL(url, services);
        player->start();
        ASSERT_TRUE(finish(player));
        ASSERT_TRUE(workers.waitForAll(20s));
        ASSERT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    }
    const std::size_t fdsBefore = entries("/proc/self/fd");
    const std::size_t threadsBefore = entries("/proc/self/task");

    std::mt19937 random(12345);
    // Connecting, format known, started or playing: the burst is read within
    // a few milliseconds, the lead comes with it.
    std::uniform_int_distribution<int> delayUs(0, 25000);
    std::deque<std::shared_ptr<Pelorin>> inFlight;
    std::vector<std::weak_ptr<Pelorin>> all;
    for (int i = 0; i < kCycles; ++i) {
        auto player = Pelorin::initWithURL(url, services);
        all.push_back(player);
        player->start();
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        player->stop();
        inFlight.push_back(std::move(player));
        if (inFlight.size() > kInFlight) {
            ASSERT_TRUE(finish(inFlight.front())) << "cycle " << i << " did not end";
            inFlight.pop_front();
        }
    }
    for (auto& player : inFlight) {
        ASSERT_TRUE(finish(player));
    }

    ASSERT_TRUE(workers.waitForAll(20s));
    EXPECT_EQ(workers.running(), 0U);
    for (const auto& w : all) {
        EXPECT_TRUE(w.expired());
    }
    EXPECT_TRUE(server.waitUntil([&] { return server.connectionsOpen() == 0; }));
    EXPECT_TRUE(settlesAtOrBelow("/proc/self/task", threadsBefore));
    EXPECT_TRUE(settlesAtOrBelow("/proc/self/fd", fdsBefore));
    EXPECT_TRUE(alerts->alerts().empty());
}

}  // namespace
}  // namespace orvento::test
