// Many players started and stopped at random moments against a live
// loopback station: no deadlock, no thread, socket or descriptor left behind,
// every player destroyed.
#include <dirent.h>
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "tests/engine/PlayerHarness.h"

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

std::size_t openDescriptors() {
    return entries("/proc/self/fd");
}
std::size_t threads() {
    return entries("/proc/self/task");
}

struct Cycle {
    std::shared_ptr<Pelorin> player;
    std::weak_ptr<Pelorin> weak;
};

TEST(Soak, FiveHundredStartStopCyclesLeaveNothingBehind) {
    constexpr int kCycles = 500;
    constexpr std::size_t kInFlight = 8;  // players still ending while new ones start

    LoopbackServer server;
    Script live = Script::fromFile(fixture("mpeg2_l3.mp3").string());
    // A live station: a burst of a few buffers, then real time.
    live.repeated().paced(4000, 3 * kBufferSize);
    server.setScript("/live", live);
    CFURLRef url = Url::fromString(server.url("/live"));
    auto platform = std::make_shared<ProductionPlatform>(FaultInjectingPlatform::nullOutput(true));
    auto alerts = std::make_shared<RecordingAlerts>();
    WorkerRegistry workers;
    PelorinServices services{platform, alerts, nullptr, &workers};

    // Ends a player: its stop is repeated because one that comes before the
    // stream is open does nothing.
    auto finish = [&](Cycle& c) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!c.player->waitUntilEnded(5ms)) {
            c.player->stop();
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        c.player.reset();
        return true;
    };

    // Warm up the process-wide parts (libcurl, the session) before counting.
    {
        Cycle c{Pelorin::initWithURL(url, services), {}};
        c.player->start();
        ASSERT_TRUE(finish(c));
        ASSERT_TRUE(workers.waitForAll(20s));
        ASSERT_TRUE(waitUntil([&] { return server.connectionsOpen() == 0; }));
    }
    const std::size_t fdsBefore = openDescriptors();
    const std::size_t threadsBefore = threads();

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 40000);
    std::deque<Cycle> inFlight;
    std::vector<std::weak_ptr<Pelorin>> all;
    for (int i = 0; i < kCycles; ++i) {
        Cycle c{Pelorin::initWithURL(url, services), {}};
        c.weak = c.player;
        all.push_back(c.weak);
        c.player->start();
        // A random moment: connecting, format known, started or playing.
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        c.player->stop();
        inFlight.push_back(std::move(c));
        if (inFlight.size() > kInFlight) {
            ASSERT_TRUE(finish(inFlight.front())) << "cycle " << i << " did not end";
            inFlight.pop_front();
        }
    }
    for (Cycle& c : inFlight) {
        ASSERT_TRUE(finish(c));
    }
    inFlight.clear();

    ASSERT_TRUE(workers.waitForAll(20s));
    EXPECT_EQ(workers.running(), 0U);
    for (const auto& w : all) {
        EXPECT_TRUE(w.expired());
    }
    EXPECT_TRUE(waitUntil([&] { return server.connectionsOpen() == 0; }));
    EXPECT_TRUE(waitUntil([&] { return threads() <= threadsBefore; }))
        << threads() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= fdsBefore; }))
        << openDescriptors() << " descriptors, " << fdsBefore << " before";
    EXPECT_TRUE(alerts->alerts().empty());
}

}  // namespace
}  // namespace orvento::test
