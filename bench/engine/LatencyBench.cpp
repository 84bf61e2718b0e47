// orvento_bench_engine_latency: in-process timings of the stream player
// against a loopback station sending a 64 KiB burst and then a 16 kbit/s MP3
// in real time:
//   - start() to the first audio handed to the output queue (the first
//     enqueued buffer), and to the queue reporting that it runs;
//   - stop() while playing to the false notification.
// Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "bench/engine/BenchStream.h"
#include "engine/Pelorin.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

using Clock = std::chrono::steady_clock;
using loopback::LoopbackServer;
using loopback::Script;

// The real services, noting when the first buffer reaches the queue.
class TimingPlatform : public ProductionPlatform {
  public:
    using ProductionPlatform::ProductionPlatform;
    OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer, UInt32 count,
                                     const AudioStreamPacketDescription* descs) override {
        Clock::time_point none{};
        firstEnqueue.compare_exchange_strong(none, Clock::now());
        return ProductionPlatform::AudioQueueEnqueueBuffer(queue, buffer, count, descs);
    }
    std::atomic<Clock::time_point> firstEnqueue{};
};

class Watcher : public PelorinObserver {
  public:
    void observeValueForKeyPath(std::string_view keyPath, Pelorin& p) override {
        if (keyPath != kIsPlayingKeyPath) {
            return;
        }
        std::lock_guard lock(mutex_);
        (p.isPlaying() ? playingAt_ : stoppedAt_) = Clock::now();
        changed_.notify_all();
    }
    Clock::time_point waitPlaying() { return wait(playingAt_); }
    Clock::time_point waitStopped() { return wait(stoppedAt_); }

  private:
    Clock::time_point wait(Clock::time_point& at) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30),
                          [&] { return at != Clock::time_point{}; });
        return at;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point playingAt_{};
    Clock::time_point stoppedAt_{};
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-44s median %7.2f ms   p90 %7.2f ms   max %7.2f ms   (%zu runs)\n", what,
                v[v.size() / 2], v[v.size() * 9 / 10], v.back(), v.size());
}

int run() {
    const auto mp3 = lowRateMp3();
    LoopbackServer server;
    Script live = Script::fromFile(mp3.string());
    live.repeated().paced(kBytesPerSecond, kBurstBytes);
    server.setScript("/live.mp3", live);
    CFURLRef url = Url::fromString(server.url("/live.mp3"));

    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;

    constexpr int kRuns = 20;
    std::vector<double> toFirstAudio;
    std::vector<double> toPlaying;
    std::vector<double> stopToFalse;
    for (int i = 0; i < kRuns; ++i) {
        auto platform = std::make_shared<TimingPlatform>(output);
        Watcher watcher;
        PelorinServices services;
        services.platform = platform;
        auto player = Pelorin::initWithURL(url, services);
        player->addObserver(&watcher, kIsPlayingKeyPath);
        const auto started = Clock::now();
        player->start();
        const auto playing = watcher.waitPlaying();
        toFirstAudio.push_back(ms(platform->firstEnqueue.load() - started));
        toPlaying.push_back(ms(playing - started));
        const auto stopping = Clock::now();
        player->stop();
        stopToFalse.push_back(ms(watcher.waitStopped() - stopping));
        player->waitUntilEnded(std::chrono::seconds(10));
        player->removeObserver(&watcher, kIsPlayingKeyPath);
    }
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));

    std::printf("stream: 16 kbit/s MP3, 64 KiB burst then real time; output: null, real time\n");
    report("start() -> first audio handed to the queue", toFirstAudio);
    report("start() -> queue running (isPlaying true)", toPlaying);
    report("stop() while playing -> false notification", stopToFalse);
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main() {
    return orvento::bench::run();
}
