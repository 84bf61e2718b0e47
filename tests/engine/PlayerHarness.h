// A player under test: real services behind the fault-injecting platform, a
// loopback station, recorded notifications and alerts, and a worker registry
// of its own so that a test can see every worker end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/Pelorin.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/FaultInjectingPlatform.h"
#include "tests/engine/PelorinTestAccess.h"
#include "tests/support/LoopbackServer.h"

namespace orvento::test {

using testsupport::LoopbackServer;
using testsupport::Script;

class PlayerHarness {
  public:
    explicit PlayerHarness(bool realTimeOutput = false)
        : platform(std::make_shared<FaultInjectingPlatform>(
              FaultInjectingPlatform::nullOutput(realTimeOutput))) {}

    ~PlayerHarness() {
        // A test that failed half-way still leaves nothing running.
        platform->holdRunningReports(false);
        workers.shutdown(std::chrono::seconds(20));
    }

    // Creates the player for `url` (text; null when it is not a URL) and
    // observes it.
    Pelorin& create(const std::string& url) {
        PelorinServices services;
        services.platform = platform;
        services.alerts = alerts;
        services.workers = &workers;
        player = Pelorin::initWithURL(Url::fromString(url), services);
        weak = player;
        observer.observe(*player);
        access = std::make_unique<PelorinTestAccess>(*player);
        return *player;
    }

    // Serves `script` at `path` and creates a player for it.
    Pelorin& createFor(const std::string& path, Script script) {
        server.setScript(path, std::move(script));
        return create(server.url(path));
    }

    // Waits until the worker has ended and its thread has been joined.
    ::testing::AssertionResult waitEnded(
        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        auto p = weak.lock();
        if (p && !p->waitUntilEnded(timeout)) {
            return ::testing::AssertionFailure() << "the player did not end";
        }
        p.reset();
        if (!workers.waitForAll(timeout)) {
            return ::testing::AssertionFailure() << "the worker thread did not end";
        }
        return ::testing::AssertionSuccess();
    }

    // The Playing state: the worker has seen the queue's start succeed and the
    // player has handled the queue's report that it runs. A stop before
    // either has finished meets a start still in progress.
    bool playing() const {
        return player && player->isPlaying() && access->started() &&
               platform->runningReportsHandled() >= 1;
    }

    // The worker's thread, as seen by the first platform call it made.
    std::thread::id workerThread() const {
        const auto calls = platform->calls();
        return calls.empty() ? std::thread::id{} : calls.front().thread;
    }

    // What happened, for a failure message.
    std::string diagnostics() const {
        std::string d =
            "alerts: " + std::to_string(alerts->alerts().size()) +
            ", notifications: " + ::testing::PrintToString(observer.values()) +
            ", reads: " + std::to_string(count(Op::CFReadStreamRead)) +
            ", stream events: " + std::to_string(platform->callsOf(Op::StreamEvent).size()) +
            ", hand-overs: " + std::to_string(count(Op::AudioQueueEnqueueBuffer)) +
            ", failure: \"" + (player ? player->failureReason() : std::string()) + "\"";
        for (const CallRecord& c : platform->callsOf(Op::StreamEvent)) {
            if (c.detail != kCFStreamEventHasBytesAvailable) {
                d += ", stream event " + std::to_string(c.detail);
            }
        }
        return d;
    }

    int count(Op op) const { return platform->count(op); }
    int countWith(Op op, UInt32 detail) const {
        int n = 0;
        for (const CallRecord& c : platform->callsOf(op)) {
            n += c.detail == detail ? 1 : 0;
        }
        return n;
    }

    std::shared_ptr<FaultInjectingPlatform> platform;
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    RecordingObserver observer;
    LoopbackServer server;
    WorkerRegistry workers;
    std::shared_ptr<Pelorin> player;
    std::weak_ptr<Pelorin> weak;
    std::unique_ptr<PelorinTestAccess> access;
};

}  // namespace orvento::test
