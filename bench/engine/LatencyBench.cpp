// orvento_bench_engine_latency [MINUTES]: in-process figures of the stream
// player against a loopback station sending a 16 kbit/s MP3 in real time,
// into the null output in real time:
//   - with a 64 KiB burst first: start() to the first audio handed to the
//     output queue (the first enqueued buffer) and to the queue reporting
//     that it runs; stop() while playing to the false notification;
//   - without a burst: start() to the queue reporting that it runs;
//   - underruns, counted at the output, over MINUTES (10 by default) of the
//     stream without a burst and with up to 0.5 s of network jitter, three
//     players at once, each with its own pattern of delays.
// Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/engine/BenchStream.h"
#include "bench/engine/BenchWatch.h"
#include "engine/player/Pelorin.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

// The real queue, noting when the first buffer reaches it and, as it is
// disposed of, how often its output ran dry.
class TimingQueue final : public OutputQueue {
  public:
    TimingQueue(std::unique_ptr<OutputQueue> queue, std::atomic<Clock::time_point>& firstEnqueue,
                std::atomic<std::uint64_t>& underruns)
        : queue_(std::move(queue)), firstEnqueue_(firstEnqueue), underruns_(underruns) {}

    Allocation allocateBuffer(std::size_t capacity) override {
        return queue_->allocateBuffer(capacity);
    }
    QueueError setMagicCookie(std::span<const std::uint8_t> cookie) override {
        return queue_->setMagicCookie(cookie);
    }
    QueueError enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) override {
        Clock::time_point none{};
        firstEnqueue_.compare_exchange_strong(none, Clock::now());
        return queue_->enqueue(buffer, descriptions);
    }
    QueueError start() override { return queue_->start(); }
    QueueError flush() override { return queue_->flush(); }
    QueueError stop(bool immediate) override { return queue_->stop(immediate); }
    QueueError dispose(bool immediate) override {
        underruns_.store(queue_->underrunCount());
        return queue_->dispose(immediate);
    }
    void setStage(std::shared_ptr<PcmStage> stage) override { queue_->setStage(std::move(stage)); }
    bool isRunning() const override { return queue_->isRunning(); }
    PlayPosition currentTime() const override { return queue_->currentTime(); }
    double starvedSeconds() const override { return queue_->starvedSeconds(); }
    std::uint64_t underrunCount() const override { return queue_->underrunCount(); }
    std::string errorText() const override { return queue_->errorText(); }

  private:
    const std::unique_ptr<OutputQueue> queue_;
    std::atomic<Clock::time_point>& firstEnqueue_;
    std::atomic<std::uint64_t>& underruns_;
};

class TimingServices : public EngineServices {
  public:
    using EngineServices::EngineServices;
    std::atomic<Clock::time_point> firstEnqueue{};
    std::atomic<std::uint64_t> underruns{0};

    OutputQueueCreation makeOutputQueue(const AudioFormat& format,
                                        OutputQueue::Listener& listener) override {
        OutputQueueCreation created = EngineServices::makeOutputQueue(format, listener);
        if (created.queue) {
            created.queue =
                std::make_unique<TimingQueue>(std::move(created.queue), firstEnqueue, underruns);
        }
        return created;
    }
};

struct Played {
    double toPlayingMs = 0;
    std::uint64_t underruns = 0;
};

// Plays `url` for `duration` into the null output in real time.
Played play(const std::optional<Url>& url, std::chrono::seconds duration) {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    auto platform = std::make_shared<TimingServices>(output);
    Watcher watcher;
    PelorinServices services;
    services.platform = platform;
    auto player = Pelorin::initWithURL(url, services);
    player->addObserver(&watcher);
    const auto started = Clock::now();
    player->start();
    Played p;
    p.toPlayingMs = ms(watcher.waitPlaying() - started);
    std::this_thread::sleep_until(started + duration);
    player->stop();
    player->waitUntilEnded(std::chrono::seconds(10));
    player->removeObserver(&watcher);
    p.underruns = platform->underruns.load();
    return p;
}

int run(int minutes) {
    const auto mp3 = lowRateMp3();
    LoopbackServer server;
    Script live = Script::fromFile(mp3.string());
    live.repeated().paced(kBytesPerSecond, kBurstBytes);
    server.setScript("/live.mp3", live);
    const std::optional<Url> url = Url::parse(server.url("/live.mp3"));
    Script steady = Script::fromFile(mp3.string());
    steady.repeated().paced(kBytesPerSecond);
    server.setScript("/steady.mp3", steady);
    constexpr int kJitteryPlayers = 3;
    constexpr double kJitterSeconds = 0.5;
    for (int i = 0; i < kJitteryPlayers; ++i) {
        Script jittery = steady;
        jittery.jittered(kJitterSeconds, static_cast<std::uint32_t>(i + 1));
        server.setScript("/jitter" + std::to_string(i) + ".mp3", jittery);
    }

    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;

    constexpr int kRuns = 20;
    std::vector<double> toFirstAudio;
    std::vector<double> toPlaying;
    std::vector<double> stopToFalse;
    for (int i = 0; i < kRuns; ++i) {
        auto platform = std::make_shared<TimingServices>(output);
        Watcher watcher;
        PelorinServices services;
        services.platform = platform;
        auto player = Pelorin::initWithURL(url, services);
        player->addObserver(&watcher);
        const auto started = Clock::now();
        player->start();
        const auto playing = watcher.waitPlaying();
        toFirstAudio.push_back(ms(platform->firstEnqueue.load() - started));
        toPlaying.push_back(ms(playing - started));
        const auto stopping = Clock::now();
        player->stop();
        stopToFalse.push_back(ms(watcher.waitStopped() - stopping));
        player->waitUntilEnded(std::chrono::seconds(10));
        player->removeObserver(&watcher);
    }

    std::printf("stream: 16 kbit/s MP3, 64 KiB burst then real time; output: null, real time\n");
    report("start() -> first audio handed to the queue", toFirstAudio);
    report("start() -> queue running (isPlaying true)", toPlaying);
    report("stop() while playing -> false notification", stopToFalse);
    std::fflush(stdout);

    std::vector<double> steadyToPlaying;
    for (int i = 0; i < 5; ++i) {
        steadyToPlaying.push_back(
            play(Url::parse(server.url("/steady.mp3")), std::chrono::seconds(3)).toPlayingMs);
    }
    std::printf(
        "\nstream: the same without a burst (hand-over every %.2f s of audio, start at a "
        "lead of %.2f s)\n",
        kHandOverSeconds, kStartLeadSeconds);
    report("start() -> queue running (isPlaying true)", steadyToPlaying);
    std::fflush(stdout);

    std::printf("\n%d min without a burst, network delays of up to %.1f s, %d players at once:\n",
                minutes, kJitterSeconds, kJitteryPlayers);
    std::fflush(stdout);
    std::vector<std::thread> players;
    std::vector<Played> results(kJitteryPlayers);
    for (int i = 0; i < kJitteryPlayers; ++i) {
        players.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] =
                play(Url::parse(server.url("/jitter" + std::to_string(i) + ".mp3")),
                     std::chrono::minutes(minutes));
        });
    }
    std::uint64_t total = 0;
    for (int i = 0; i < kJitteryPlayers; ++i) {
        players[static_cast<std::size_t>(i)].join();
        const Played& p = results[static_cast<std::size_t>(i)];
        total += p.underruns;
        std::printf("  player %d (delays seeded %d): first audio after %7.1f ms, underruns %llu\n",
                    i + 1, i + 1, p.toPlayingMs, static_cast<unsigned long long>(p.underruns));
    }
    std::printf("  underruns in all: %llu (target: none)\n",
                static_cast<unsigned long long>(total));
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
    if (minutes < 1 || minutes > 600) {
        std::fprintf(stderr, "usage: orvento_bench_engine_latency [MINUTES (1 to 600)]\n");
        return 2;
    }
    return orvento::bench::run(minutes);
}
