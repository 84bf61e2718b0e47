#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "engine/player/WorkerRegistry.h"

namespace orvento {
namespace {

using namespace std::chrono_literals;

TEST(WorkerRegistry, ShutdownAsksEveryWorkerOnceAlsoOneSpawnedMeanwhile) {
    WorkerRegistry registry;
    std::atomic<int> requests{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> innerStop{false};
    const auto waitFor = [](std::atomic<bool>& flag) { flag.wait(false); };
    const auto set = [](std::atomic<bool>& flag) {
        flag.store(true);
        flag.notify_all();
    };
    registry.spawn([&] { waitFor(stop); },
                   [&] {
                       ++requests;
                       // A worker spawned while the shutdown waits is asked too.
                       registry.spawn([&] { waitFor(innerStop); },
                                      [&] {
                                          ++requests;
                                          set(innerStop);
                                      });
                       set(stop);
                   });
    EXPECT_TRUE(registry.shutdown(10s));
    EXPECT_EQ(requests.load(), 2);
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
