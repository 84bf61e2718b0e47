// What keeping a station's history costs, and how soon a replay starts.
//
//  1. CPU: each recording of the detector's test set (16 kbit/s MP3 and AAC,
//     8 and 16 kHz) parsed and fed packet by packet through a HistoryTap (the
//     history, the decoding for the detector and the detector), the tap's
//     thread CPU time per second of audio as a share of one core. Target:
//     under 0.2 % per 16 kbit/s station.
//  2. Memory: a history fed 120 minutes of packets at 16, 128 and 1411 kbit/s
//     (its longest window), the bytes it holds against its 64 MiB bound.
//  3. Replay start: from play() to the first audio the output takes, over
//     20 replays of one transmission, into a real-time null output and into
//     the sound device (whatever SDL_AUDIODRIVER or the desktop provides).
//     Target: within 100 ms.
// Prints figures; asserts nothing.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "engine/demux/StreamParser.h"
#include "engine/history/HistoryTap.h"
#include "engine/history/ReplayPlayer.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace {

using namespace orvento;
using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Parses a file and hands its packets to a tap, timing only the tap.
struct Feeder final : StreamParser::Listener {
    explicit Feeder(std::shared_ptr<PacketTap> t)
        : tap(std::move(t)), parser(makeStreamParser(*this, AudioFileType::None)) {}

    void feed(const std::vector<char>& file, std::size_t at, std::size_t n) {
        parser->feed(std::as_bytes(std::span(file).subspan(at, n)));
    }

    void handleStreamProperty(StreamProperty property) override {
        if (property != StreamProperty::ReadyToProducePackets) {
            return;
        }
        const AudioFormat format = parser->dataFormat() ? *parser->dataFormat() : AudioFormat{};
        std::vector<std::uint8_t> cookie;
        if (const auto got = parser->magicCookie()) {
            cookie.assign(got->begin(), got->end());
        }
        const double before = threadCpuSeconds();
        tap->formatKnown(format, cookie);
        tapCpu += threadCpuSeconds() - before;
    }
    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descriptions) override {
        const double before = threadCpuSeconds();
        tap->packets(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                     descriptions, Clock::now());
        tapCpu += threadCpuSeconds() - before;
    }

    std::shared_ptr<PacketTap> tap;
    double tapCpu = 0;
    std::unique_ptr<StreamParser> parser;
};

void cpuPerStation(const std::vector<recordings::Recording>& set) {
    std::printf("1. history + decoding + detector, CPU per 16 kbit/s station\n");
    double totalCpu = 0;
    double totalAudio = 0;
    for (const auto& recording : set) {
        std::ifstream in(recording.path, std::ios::binary);
        const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
        auto history = std::make_shared<StationHistory>();
        double audio = 0;
        auto tap = std::make_shared<HistoryTap>(
            history, [&](const TransmissionDetector::Event& /*event*/, double now,
                         const std::string& /*station*/) { audio = now; });
        Feeder feeder(tap->forPlayer());
        for (std::size_t at = 0; at < file.size(); at += 4096) {
            feeder.feed(file, at, std::min<std::size_t>(4096, file.size() - at));
        }
        const double before = threadCpuSeconds();
        feeder.tap->streamEnded();
        feeder.tapCpu += threadCpuSeconds() - before;
        feeder.parser.reset();
        const auto whole = history->since(Clock::time_point{});
        audio = whole.empty() ? audio : whole.back().toSeconds;
        std::printf("   %-24s %6.1f s of audio  %5.3f %% of one core  %zu packets, %zu bytes\n",
                    recording.name.c_str(), audio, 100 * feeder.tapCpu / audio,
                    history->packetCount(), history->packetBytes());
        totalCpu += feeder.tapCpu;
        totalAudio += audio;
    }
    std::printf("   all: %.3f %% of one core (target < 0.2 %%)\n\n", 100 * totalCpu / totalAudio);
}

void memoryBound() {
    std::printf("2. memory after 120 minutes (bound %zu MiB)\n", StationHistory::kMaxBytes >> 20);
    for (const int kbps : {16, 128, 1411}) {
        StationHistory history(std::chrono::minutes(120));
        AudioFormat format{};
        format.formatId = kFormatMpegLayer3;
        format.sampleRate = 16000;
        history.beginStream(format, {});
        // 72 ms packets.
        const std::size_t packetBytes = static_cast<std::size_t>(kbps) * 1000 / 8 * 72 / 1000;
        const std::vector<std::uint8_t> packet(packetBytes, 0x55);
        const auto start = Clock::now();
        const int packets = 120 * 60 * 1000 / 72;
        for (int i = 0; i < packets; ++i) {
            history.append(packet, 1152, start + std::chrono::milliseconds(72 * i), i * 0.072);
        }
        std::printf("   %5d kbit/s: %6.1f MiB held (%.1f MiB of packets, %.1f min kept)\n", kbps,
                    static_cast<double>(history.memoryBytes()) / (1 << 20),
                    static_cast<double>(history.packetBytes()) / (1 << 20),
                    static_cast<double>(history.packetCount()) * 0.072 / 60);
    }
    std::printf("\n");
}

void replayStart(const recordings::Recording& recording, AudioOutputChoice output,
                 const char* name) {
    auto history = std::make_shared<StationHistory>();
    std::vector<Transmission> found;
    auto tap =
        std::make_shared<HistoryTap>(history, [&](const TransmissionDetector::Event& event,
                                                  double /*now*/, const std::string& /*station*/) {
            if (event.kind == TransmissionDetector::Event::Kind::Ended) {
                found.push_back(event.transmission);
            }
        });
    std::ifstream in(recording.path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
    Feeder feeder(tap->forPlayer());
    feeder.feed(file, 0, file.size());
    feeder.tap->streamEnded();
    feeder.parser.reset();
    if (found.empty()) {
        return;
    }
    const auto excerpt =
        history->between(found[0].startSeconds, found[0].startSeconds + found[0].durationSeconds)
            .front();

    std::mutex mutex;
    std::condition_variable heard;
    Clock::time_point firstAudio{};
    output.onAudio = [&](const float*, std::size_t, int, int) {
        std::lock_guard lock(mutex);
        if (firstAudio == Clock::time_point{}) {
            firstAudio = Clock::now();
            heard.notify_all();
        }
    };
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        ReplayPlayer player(output, [] {});
        {
            std::lock_guard lock(mutex);
            firstAudio = {};
        }
        const auto asked = Clock::now();
        std::string error;
        if (!player.play(excerpt, error)) {
            std::printf("   %s: cannot play (%s)\n", name, error.c_str());
            return;
        }
        std::unique_lock lock(mutex);
        if (heard.wait_for(lock, std::chrono::seconds(5),
                           [&] { return firstAudio != Clock::time_point{}; })) {
            ms.push_back(std::chrono::duration<double, std::milli>(firstAudio - asked).count());
        }
    }
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("   %s: no audio came\n", name);
        return;
    }
    std::printf("   %-28s median %6.1f ms  worst %6.1f ms  (%zu of 20)\n", name, ms[ms.size() / 2],
                ms.back(), ms.size());
}

}  // namespace

int main() {
    std::vector<recordings::Recording> set;
    std::string error;
    if (!recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    cpuPerStation(set);
    memoryBound();
    std::printf("3. replay start, from the key to the first audio (target < 100 ms)\n");
    AudioOutputChoice null;
    null.kind = AudioOutputChoice::Kind::Null;
    null.realTime = true;
    replayStart(set.front(), null, "null output, real time");
    replayStart(set.front(), AudioOutputChoice{}, "sound device");
    return 0;
}
