// What decoding through the output queue costs, beside the raw decoder.
//
// 1. Untimed: a 60-minute 16 kbps and a 60-minute 128 kbps MP3, parsed and fed
//    through the queue the way the stream player feeds it into the untimed
//    null output, against `mpg123 -t` decoding the same file in the same run:
//    CPU seconds of each and their ratio.
// 2. Real time: CPU time per minute of playback of the 16 kbps stream through
//    the real-time null output and through SDL's dummy driver.
// Prints figures; asserts nothing.
//
// The inputs are made on first use in the build folder: lame encodes a
// 30-second source (sox) without a summary frame, and the 60-minute stream is
// that encoding repeated. ORVENTO_BENCH_REALTIME_SECONDS sets how much audio
// each real-time run plays (default 30).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/probe/Decode.h"

namespace {

using namespace orvento;
namespace fs = std::filesystem;

struct Input {
    const char* name;
    const char* lameArgs;
    int sampleRate;
    int channels;
    int kbps;
};

constexpr double kMinutes = 60;

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double selfCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

fs::path makeInput(const fs::path& dir, const Input& input) {
    const fs::path out = dir / (std::string(input.name) + ".mp3");
    if (fs::exists(out)) {
        return out;
    }
    fs::create_directories(dir);
    const fs::path seed = dir / (std::string(input.name) + "-seed.mp3");
    const std::string command =
        "sox -D -R -n -r " + std::to_string(input.sampleRate) + " -c " +
        std::to_string(input.channels) +
        " -b 16 -t wav - synth 30 pinknoise sine 440 gain -12 2>/dev/null | lame --quiet -t " +
        input.lameArgs + " - '" + seed.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make %s (needs sox and lame)\n", seed.c_str());
        return {};
    }
    std::ifstream in(seed, std::ios::binary);
    const std::vector<char> frames((std::istreambuf_iterator<char>(in)), {});
    const fs::path partial = out.string() + ".part";
    {
        std::ofstream stream(partial, std::ios::binary);
        for (double s = 0; s < kMinutes * 60; s += 30) {
            stream.write(frames.data(), static_cast<std::streamsize>(frames.size()));
        }
    }
    fs::rename(partial, out);
    return out;
}

// CPU seconds `mpg123 -t` takes to decode `path`, or a negative value.
double mpg123Cpu(const fs::path& path) {
    const pid_t child = fork();
    if (child == 0) {
        execlp("mpg123", "mpg123", "-q", "-t", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct QueueRun {
    double cpu = -1;
    double wall = 0;
    double audioSeconds = 0;
};

QueueRun queueRun(const fs::path& path, const AudioOutputChoice& output, int sampleRate) {
    probe::DecodeOptions options;
    options.output = output;
    const double cpu = selfCpu();
    const auto start = std::chrono::steady_clock::now();
    const probe::DecodeReport report =
        probe::decodeFile(path.string(), AudioFileType::MP3, options);
    QueueRun run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!report.ok) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), report.error.c_str());
        return run;
    }
    run.cpu = selfCpu() - cpu;
    run.audioSeconds = static_cast<double>(report.framesPlayed) / sampleRate;
    return run;
}

// The first `secondsOfAudio` of a CBR stream (whole frames: cut at a frame
// boundary found by trimming to the byte count and letting the parser skip
// the partial last frame).
fs::path excerpt(const fs::path& path, const Input& input, double secondsOfAudio) {
    const fs::path out = path.parent_path() / (std::string(input.name) + "-excerpt.mp3");
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(static_cast<std::size_t>(secondsOfAudio * input.kbps * 1000 / 8));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(out, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(in.gcount()));
    return out;
}

}  // namespace

int main() {
    const char* dir = std::getenv("ORVENTO_BENCH_DATA");
    const fs::path data = dir != nullptr ? fs::path(dir) : fs::path(ORVENTO_BENCH_DATA_DIR);
    const char* realTimeEnv = std::getenv("ORVENTO_BENCH_REALTIME_SECONDS");
    const double realTimeSeconds = realTimeEnv != nullptr ? std::atof(realTimeEnv) : 30;

    static constexpr Input kInputs[] = {
        {"mp3-16k-60min", "-m m --cbr -b 16 --resample 11.025", 11025, 1, 16},
        {"mp3-128k-60min", "--cbr -b 128", 44100, 2, 128},
    };
    AudioOutputChoice untimed;
    untimed.kind = AudioOutputChoice::Kind::Null;
    untimed.realTime = false;

    std::printf(
        "untimed decode of 60-minute MP3s: parser + queue into the null output, "
        "beside mpg123 -t\n");
    fs::path lowRate;
    for (const Input& input : kInputs) {
        const fs::path path = makeInput(data, input);
        if (path.empty()) {
            continue;
        }
        if (lowRate.empty()) {
            lowRate = path;
        }
        const double raw = mpg123Cpu(path);
        const QueueRun queue = queueRun(path, untimed, input.sampleRate);
        if (raw <= 0 || queue.cpu < 0) {
            std::printf("%-15s could not be measured (is mpg123 installed?)\n", input.name);
            continue;
        }
        std::printf(
            "%-15s mpg123 -t %6.2f s CPU | queue %6.2f s CPU (%5.1f min of audio, "
            "%6.2f s wall) | ratio %.3f\n",
            input.name, raw, queue.cpu, queue.audioSeconds / 60, queue.wall, queue.cpu / raw);
        if (&input == &kInputs[0]) {
            std::printf("%-15s mpg123 -t alone: %.3f%% of one core per minute of audio\n", "",
                        raw / (kMinutes * 60) * 100);
        }
    }

    if (lowRate.empty()) {
        return 0;
    }
    std::printf("\nreal-time playback of the 16 kbps stream, %.0f s per output\n", realTimeSeconds);
    const fs::path clip = excerpt(lowRate, kInputs[0], realTimeSeconds);
    AudioOutputChoice realTime;
    realTime.kind = AudioOutputChoice::Kind::Null;
    realTime.realTime = true;
    AudioOutputChoice device;  // SDL, driver from SDL_AUDIODRIVER (scripts/bench: dummy)
    const std::pair<const char*, AudioOutputChoice> outputs[] = {
        {"null output", realTime},
        {"SDL device", device},
    };
    for (const auto& [label, output] : outputs) {
        const QueueRun run = queueRun(clip, output, kInputs[0].sampleRate);
        if (run.cpu < 0 || run.audioSeconds <= 0) {
            std::printf("%-12s could not be measured\n", label);
            continue;
        }
        const double perMinute = run.cpu / run.audioSeconds * 60;
        std::printf(
            "%-12s %6.1f s of audio in %6.1f s wall: %7.2f ms CPU per minute = %.4f%% of "
            "one core\n",
            label, run.audioSeconds, run.wall, perMinute * 1000, run.cpu / run.audioSeconds * 100);
    }
    return 0;
}
