// A player under test: real services behind the fault-injecting platform, a
// loopback station, recorded notifications and alerts, and a worker registry
// of its own so that a test can see every worker end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/player/Pelorin.h"
#include "tests/engine/player/EngineTestSupport.h"
#include "tests/engine/player/FaultInjectingServices.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {

using loopback::LoopbackServer;
using loopback::Script;

inline Script fixtureScript(const std::string& name) {
    return Script::fromFile(fixture(name).string());
}

class PlayerHarness {
  public:
    explicit PlayerHarness(bool realTimeOutput = false)
        : platform(std::make_shared<FaultInjectingServices>(realTimeOutput)) {}

    ~PlayerHarness() {
        // A test that failed half-way still leaves nothing running.
        platform->holdRunningReports(false);
        workers.shutdown(std::chrono::seconds(20));
    }

    // Creates the player for `url` (text; none when it is not a URL) and
    // observes it.
    Pelorin& create(const std::string& url,
                    std::shared_ptr<const LocalizedStrings> strings = nullptr) {
        player =
            Pelorin::initWithURL(Url::parse(url), {platform, alerts, std::move(strings), &workers});
        weak = player;
        observer.observe(*player);
        return *player;
    }

    // Serves `script` at `path` and creates a player for it.
    Pelorin& createFor(const std::string& path, Script script) {
        server.setScript(path, std::move(script));
        return create(server.url(path));
    }

    // Waits until the worker has ended and its thread has been joined.
    ::testing::AssertionResult waitEnded(std::chrono::milliseconds timeout = 20s) {
        auto p = weak.lock();
        if (p && !p->waitUntilEnded(timeout)) {
            return ::testing::AssertionFailure() << "the player did not end; " << diagnostics();
        }
        p.reset();
        if (!workers.waitForAll(timeout)) {
            return ::testing::AssertionFailure() << "the worker thread did not end";
        }
        return ::testing::AssertionSuccess();
    }

    // The Playing state: the player has handled the queue's report that it runs.
    bool waitPlaying() {
        return platform->waitFor([&] { return platform->runningReportsHandled() >= 1; }) &&
               player->isPlaying();
    }

    // The worker's thread, as seen by the first platform call it made.
    std::thread::id workerThread() const {
        const auto calls = platform->calls();
        return calls.empty() ? std::thread::id{} : calls.front().thread;
    }

    // What happened, for a failure message.
    std::string diagnostics() const {
        return "alerts: " + std::to_string(alerts->alerts().size()) +
               ", notifications: " + ::testing::PrintToString(observer.values()) +
               ", hand-overs: " + std::to_string(platform->count(Op::AudioQueueEnqueueBuffer)) +
               ", failure: \"" + (player ? player->failureReason() : std::string()) + "\"";
    }

    std::shared_ptr<FaultInjectingServices> platform;
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    RecordingObserver observer;
    LoopbackServer server;
    WorkerRegistry workers;
    std::shared_ptr<Pelorin> player;
    std::weak_ptr<Pelorin> weak;
};

}  // namespace orvento::test
