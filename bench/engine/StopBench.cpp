// orvento_bench_engine_stop [RUNS]: how fast a stop takes, in-process, at the
// moments a user presses stop: while a 16 kbit/s MP3 plays (into the null
// output in real time), while connecting to a server that accepts and never
// answers, and while connecting to a port that never answers the connection
// (its listen queue is full). For each: stop() to the false notification, and
// stop() to the worker's end. Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/engine/BenchStream.h"
#include "bench/engine/BenchWatch.h"
#include "engine/player/Pelorin.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

// Plays `url` `runs` times; each time `ready` says when to stop.
void measure(const char* title, const std::string& url, int runs,
             const std::function<void(Watcher&)>& ready) {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    PelorinServices services;
    // The stream's one error line (an MP3 has no cookie) would only clutter
    // the figures.
    services.platform = std::make_shared<EngineServices>(output, [](std::string_view) {});
    std::vector<double> toFalse;
    std::vector<double> toEnd;
    for (int i = 0; i < runs; ++i) {
        Watcher watcher;
        auto player = Pelorin::initWithURL(Url::parse(url), services);
        player->addObserver(&watcher);
        player->start();
        ready(watcher);
        const auto stopping = Clock::now();
        player->stop();
        toFalse.push_back(ms(watcher.waitStopped() - stopping));
        player->waitUntilEnded(std::chrono::seconds(30));
        toEnd.push_back(ms(Clock::now() - stopping));
        player->removeObserver(&watcher);
    }
    std::printf("%s (%d runs)\n", title, runs);
    report("  stop() -> false notification", toFalse);
    report("  stop() -> worker ended", toEnd);
    std::fflush(stdout);
}

int run(int runs) {
    LoopbackServer server;
    Script live = Script::fromFile(lowRateMp3().string());
    live.repeated().paced(kBytesPerSecond, kBurstBytes);
    server.setScript("/live.mp3", live);
    server.setScript("/silent", Script::silent());
    const loopback::UnansweredPort unanswered;

    measure("playing: 16 kbit/s MP3, null output in real time", server.url("/live.mp3"), runs,
            [](Watcher& w) { w.waitPlaying(); });
    measure("connecting: the server accepts and never answers", server.url("/silent"), runs,
            [&](Watcher&) {
                const std::size_t asked = server.requests().size();
                server.waitUntil([&] { return server.requests().size() > asked; });
            });
    // Nothing to wait for: the connection attempt is under way at once.
    measure("connecting: the port never answers the connection", unanswered.url("/a"), runs,
            [](Watcher&) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    if (runs < 1 || runs > 10000) {
        std::fprintf(stderr, "usage: orvento_bench_engine_stop [RUNS (1 to 10000)]\n");
        return 2;
    }
    return orvento::bench::run(runs);
}
