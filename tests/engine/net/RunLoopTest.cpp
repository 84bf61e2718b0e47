#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/RunLoop.h"

namespace orvento {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A thread that owns a run loop and runs it for `seconds` once started.
class LoopThread {
  public:
    explicit LoopThread(double seconds) {
        thread_ = std::thread([this, seconds] {
            loopPromise_.set_value(&RunLoop::current());
            const Clock::time_point start = Clock::now();
            const RunLoop::RunResult result =
                RunLoop::current().run(RunLoop::Seconds(seconds), false);
            resultPromise_.set_value({result, secondsSince(start)});
        });
        loop_ = loopPromise_.get_future().get();
    }
    ~LoopThread() { thread_.join(); }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    RunLoop& loop() const { return *loop_; }
    std::pair<RunLoop::RunResult, double> result() { return resultPromise_.get_future().get(); }

  private:
    std::promise<RunLoop*> loopPromise_;
    std::promise<std::pair<RunLoop::RunResult, double>> resultPromise_;
    RunLoop* loop_ = nullptr;
    std::thread thread_;
};

TEST(RunLoop, WaitsTheWholeTimeWithNoSourceAndSleepsInTheKernel) {
    RunLoop& loop = RunLoop::current();
    const std::uint64_t passes = loop.passCount();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(loop.run(RunLoop::Seconds(0.3), false), RunLoop::RunResult::timedOut);
    EXPECT_GE(secondsSince(start), 0.3);
    EXPECT_LE(loop.passCount() - passes, 3U) << "the loop woke up without a reason";
}

TEST(RunLoop, WorkPostedFromAnotherThreadRunsOnTheLoopThreadAndCanStopIt) {
    LoopThread owner(30);
    std::promise<std::thread::id> ranOn;
    ASSERT_TRUE(owner.loop().post([&] {
        ranOn.set_value(std::this_thread::get_id());
        RunLoop::current().stop();
    }));
    const std::thread::id workThread = ranOn.get_future().get();
    const auto [result, seconds] = owner.result();
    EXPECT_EQ(result, RunLoop::RunResult::stopped);
    EXPECT_LT(seconds, 10.0);
    EXPECT_NE(workThread, std::this_thread::get_id());
}

TEST(RunLoop, TimersFireInDueOrderAndNeverEarly) {
    RunLoop& loop = RunLoop::current();
    // Also when the loop comes late and finds them all due at once.
    for (const bool late : {false, true}) {
        std::vector<int> order;
        std::vector<double> lateness;
        const Clock::time_point start = Clock::now();
        std::vector<RunLoop::SourceId> timers;
        const double delays[] = {0.09, 0.03, 0.06};
        for (int i = 0; i < 3; ++i) {
            timers.push_back(loop.addTimer([&, i] {
                order.push_back(i);
                lateness.push_back(secondsSince(start) - delays[i]);
            }));
            loop.armTimer(timers.back(), RunLoop::Seconds(delays[i]));
        }
        if (late) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the loop is busy
        }
        loop.run(RunLoop::Seconds(0.2), false);
        EXPECT_EQ(order, (std::vector<int>{1, 2, 0})) << (late ? "late" : "on time");
        for (const double l : lateness) {
            EXPECT_GE(l, 0.0);
        }
        for (const RunLoop::SourceId timer : timers) {
            loop.removeSource(timer);
        }
    }
}

TEST(RunLoop, ADisarmedRemovedOrPostponedTimerDoesNotFire) {
    RunLoop& loop = RunLoop::current();
    int fired = 0;
    const RunLoop::SourceId disarmed = loop.addTimer([&] { ++fired; });
    // All due on the same pass; the first (older) removes the second and
    // arms the third again for later.
    RunLoop::SourceId removed = 0;
    RunLoop::SourceId postponed = 0;
    const RunLoop::SourceId changer = loop.addTimer([&] {
        loop.removeSource(removed);
        loop.armTimer(postponed, RunLoop::Seconds(60));
    });
    removed = loop.addTimer([&] { ++fired; });
    postponed = loop.addTimer([&] { ++fired; });
    loop.armTimer(disarmed, RunLoop::Seconds(0));
    loop.disarmTimer(disarmed);
    for (const RunLoop::SourceId timer : {changer, removed, postponed}) {
        loop.armTimer(timer, RunLoop::Seconds(0));
    }
    loop.run(RunLoop::Seconds(0.05), false);
    EXPECT_EQ(fired, 0);
    for (const RunLoop::SourceId timer : {disarmed, changer, postponed}) {
        loop.removeSource(timer);
    }
}

struct ServedRow {
    const char* name;
    // Makes one source due now; returns the ids to remove afterwards.
    std::function<std::vector<RunLoop::SourceId>(RunLoop&, int& served)> arm;
};

void PrintTo(const ServedRow& row, std::ostream* out) {
    *out << row.name;
}

class RunLoopServing : public testing::TestWithParam<ServedRow> {};

TEST_P(RunLoopServing, ARunAskedToReturnAfterASourceReturnsAfterThePassThatServedIt) {
    RunLoop& loop = RunLoop::current();
    int served = 0;
    const std::vector<RunLoop::SourceId> sources = GetParam().arm(loop, served);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(loop.run(RunLoop::Seconds(10), true), RunLoop::RunResult::handledSource);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_EQ(served, 1);
    for (const RunLoop::SourceId source : sources) {
        loop.removeSource(source);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RunLoopServing,
    testing::Values(ServedRow{"PostedWork",
                              [](RunLoop& loop, int& served) {
                                  loop.post([&served] { ++served; });
                                  return std::vector<RunLoop::SourceId>{};
                              }},
                    ServedRow{"SignalledSource",
                              [](RunLoop& loop, int& served) {
                                  const RunLoop::SourceId id =
                                      loop.addSignalledSource([&served] { ++served; });
                                  loop.signal(id);
                                  return std::vector<RunLoop::SourceId>{id};
                              }},
                    ServedRow{"Timer",
                              [](RunLoop& loop, int& served) {
                                  const RunLoop::SourceId id =
                                      loop.addTimer([&served] { ++served; });
                                  loop.armTimer(id, RunLoop::Seconds(0.01));
                                  return std::vector<RunLoop::SourceId>{id};
                              }},
                    ServedRow{"ReadyDescriptor",
                              [](RunLoop& loop, int& served) {
                                  static std::array<int, 2> fds{-1, -1};
                                  if (fds[0] < 0) {
                                      EXPECT_EQ(::pipe(fds.data()), 0);
                                  }
                                  const char byte = 'x';
                                  EXPECT_EQ(::write(fds[1], &byte, 1), 1);
                                  const RunLoop::SourceId id =
                                      loop.addFdWatch(fds[0], POLLIN, [&served](short) {
                                          char got = 0;
                                          EXPECT_EQ(::read(fds[0], &got, 1), 1);
                                          ++served;
                                      });
                                  return std::vector<RunLoop::SourceId>{id};
                              }}),
    [](const testing::TestParamInfo<ServedRow>& info) { return std::string(info.param.name); });

TEST(RunLoop, ASourceIsNeverReEnteredByANestedRun) {
    RunLoop& loop = RunLoop::current();
    int performed = 0;
    int depth = 0;
    int deepest = 0;
    RunLoop::SourceId source = 0;
    source = loop.addSignalledSource([&] {
        ++performed;
        deepest = std::max(deepest, ++depth);
        loop.signal(source);                      // due again on a later pass...
        loop.run(RunLoop::Seconds(0.05), false);  // ...but not inside its own callback
        --depth;
    });
    loop.signal(source);
    loop.run(RunLoop::Seconds(0), false);  // exactly one pass
    EXPECT_EQ(performed, 1);
    EXPECT_EQ(deepest, 1);
    loop.run(RunLoop::Seconds(0), false);  // the signal from inside is served now
    EXPECT_EQ(performed, 2);
    loop.removeSource(source);
}

TEST(RunLoop, AnExitingThreadCancelsItsSourcesThereAndRefusesLaterWork) {
    std::shared_ptr<RunLoop> kept;
    std::thread::id cancelledOn;
    std::thread::id ownerThread;
    bool droppedWorkRan = false;
    std::thread([&] {
        ownerThread = std::this_thread::get_id();
        RunLoop& loop = RunLoop::current();
        kept = loop.shared_from_this();
        loop.addSignalledSource([] {}, [&] { cancelledOn = std::this_thread::get_id(); });
        loop.post([&] { droppedWorkRan = true; });  // never run: the thread exits first
    }).join();
    EXPECT_EQ(cancelledOn, ownerThread);
    EXPECT_FALSE(droppedWorkRan);
    EXPECT_TRUE(kept->isShutDown());
    EXPECT_FALSE(kept->post([] {}));
    kept->wakeUp();  // harmless
    kept->stop();
}

}  // namespace
}  // namespace orvento
