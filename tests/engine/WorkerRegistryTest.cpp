#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "engine/WorkerRegistry.h"

namespace orvento {
namespace {

using namespace std::chrono_literals;

TEST(WorkerRegistry, JoinsFinishedWorkersAndReportsRunningOnes) {
    WorkerRegistry registry;
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> ran{0};
    registry.spawn([&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
        ++ran;
    });
    registry.spawn([&] { ++ran; });
    EXPECT_FALSE(registry.waitForAll(50ms));
    EXPECT_EQ(registry.running(), 1U);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(registry.waitForAll(10s));
    EXPECT_EQ(registry.running(), 0U);
    EXPECT_EQ(ran.load(), 2);
}

TEST(WorkerRegistry, ShutdownRepeatsStopRequestsUntilTheWorkerEnds) {
    WorkerRegistry registry;
    std::atomic<int> requests{0};
    std::atomic<bool> stop{false};
    registry.spawn(
        [&] {
            while (!stop.load()) {
                std::this_thread::sleep_for(1ms);
            }
        },
        [&] {
            // The first two requests come too early and are ignored, as a
            // player ignores a stop before its stream is open.
            if (++requests >= 3) {
                stop.store(true);
            }
        });
    EXPECT_TRUE(registry.shutdown(10s));
    EXPECT_GE(requests.load(), 3);
    EXPECT_EQ(registry.running(), 0U);
}

TEST(WorkerRegistry, ABodyMaySpawnAnotherWorker) {
    WorkerRegistry registry;
    std::atomic<bool> innerRan{false};
    registry.spawn([&] { registry.spawn([&] { innerRan.store(true); }); });
    // The inner worker is registered before the outer one counts as finished.
    ASSERT_TRUE(registry.waitForAll(10s));
    EXPECT_TRUE(innerRan.load());
}

}  // namespace
}  // namespace orvento
