// Parse throughput on 60-minute MP3 streams held in memory, fed in the
// engine's 32768-byte reads, and the heap allocations the parse makes once
// the format is known (there should be none). Prints MB/s, packets/s and the
// allocation count; asserts nothing.
//
// The inputs are made on first use in the build folder: lame encodes a
// 30-second source (sox), and the 60-minute stream is that encoding's audio
// frames repeated, which keeps set-up to seconds instead of a full-length
// encode. The parser sees exactly what a 60-minute encode presents: one
// ID3v2 tag and summary frame, then frames back to back.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "engine/demux/StreamParser.h"

namespace {

std::atomic<long> gAllocations{0};

void* countedAlloc(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

// Every allocation of the program is counted.
void* operator new(std::size_t size) {
    return countedAlloc(size);
}
void* operator new[](std::size_t size) {
    return countedAlloc(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace orvento;
namespace fs = std::filesystem;

struct Input {
    const char* name;
    const char* lameArgs;
    int sampleRate;
};

constexpr double kMinutes = 60;
constexpr size_t kChunk = 32768;

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Counter final : StreamParser::Listener {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    void handleStreamProperty(StreamProperty /*property*/) override {}
    void handleStreamPackets(std::span<const std::byte> /*bytes*/,
                             std::span<const PacketDescription> descriptions) override {
        packets += descriptions.size();
        for (const PacketDescription& d : descriptions) {
            bytes += d.byteSize;
        }
    }
};

std::span<const std::byte> asBytes(const std::vector<std::uint8_t>& bytes, size_t pos, size_t n) {
    return std::as_bytes(std::span(bytes).subspan(pos, n));
}

// Where the frames of an MP3 file begin and end, found by the parser itself.
bool frameSpan(const std::vector<std::uint8_t>& file, size_t& begin, size_t& end) {
    Counter counter;
    const std::unique_ptr<StreamParser> parser = makeStreamParser(counter, AudioFileType::MP3);
    const ParserError error = parser->feed(asBytes(file, 0, file.size()));
    const ParserDiagnostics d = parser->diagnostics();
    if (error != ParserError::None || d.dataOffset < 0) {
        return false;
    }
    begin = static_cast<size_t>(d.dataOffset);
    end = begin + counter.bytes;  // CBR frames, back to back
    return true;
}

fs::path makeInput(const fs::path& dir, const Input& input) {
    fs::path out = dir / (std::string(input.name) + ".mp3");
    if (fs::exists(out)) {
        return out;
    }
    fs::create_directories(dir);
    fs::path seed = dir / (std::string(input.name) + "-seed.mp3");
    std::string command = "sox -D -R -n -r " + std::to_string(input.sampleRate) +
                          " -c 2 -b 16 -t wav - synth 30 pinknoise sine 440 gain -12 2>/dev/null"
                          " | lame --quiet " +
                          input.lameArgs + " --add-id3v2 --tt bench - '" + seed.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make %s (needs sox and lame)\n", seed.c_str());
        return {};
    }
    std::vector<std::uint8_t> file = readAll(seed);
    size_t begin = 0;
    size_t end = 0;
    if (!frameSpan(file, begin, end)) {
        std::fprintf(stderr, "the seed %s does not parse\n", seed.c_str());
        return {};
    }
    // The header (tag and summary frame) once, then the frames until 60 minutes.
    std::ofstream stream(out, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(begin));
    for (int copy = 0; copy < static_cast<int>(kMinutes * 60 / 30); ++copy) {
        stream.write(reinterpret_cast<const char*>(file.data() + begin),
                     static_cast<std::streamsize>(end - begin));
    }
    return out;
}

void run(const fs::path& path, const char* label) {
    std::vector<std::uint8_t> bytes = readAll(path);
    double best = 1e9;
    Counter last;
    long steadyAllocations = 0;
    for (int pass = 0; pass < 7; ++pass) {
        Counter counter;
        std::unique_ptr<StreamParser> parser = makeStreamParser(counter, AudioFileType::MP3);
        auto start = std::chrono::steady_clock::now();
        long atSteadyState = 0;
        for (size_t pos = 0; pos < bytes.size(); pos += kChunk) {
            if (pos == 4 * kChunk) {
                atSteadyState = gAllocations.load();  // the format is known by now
            }
            const size_t n = std::min(kChunk, bytes.size() - pos);
            if (parser->feed(asBytes(bytes, pos, n)) != ParserError::None) {
                std::fprintf(stderr, "%s: parse failed\n", label);
                break;
            }
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        steadyAllocations = gAllocations.load() - atSteadyState;
        parser.reset();
        best = std::min(best, seconds);
        last = counter;
    }
    std::printf(
        "%-12s %7.1f MB in %6.2f ms: %8.0f MB/s, %6.2f M packets/s (%llu packets), "
        "%ld heap allocations once the format was known\n",
        label, bytes.size() / 1e6, best * 1e3, bytes.size() / 1e6 / best, last.packets / 1e6 / best,
        static_cast<unsigned long long>(last.packets), steadyAllocations);
}

}  // namespace

int main() {
    const char* dir = std::getenv("ORVENTO_BENCH_DATA");
    fs::path data = dir != nullptr ? fs::path(dir) : fs::path(ORVENTO_BENCH_DATA_DIR);
    static constexpr Input kInputs[] = {
        {"mp3-128k-60min", "--cbr -b 128", 44100},
        {"mp3-16k-60min", "--cbr -b 16 --resample 11.025", 11025},
    };
    std::printf("parse throughput, 60-minute MP3s in memory, %zu-byte chunks (best of 7)\n",
                kChunk);
    for (const Input& input : kInputs) {
        fs::path path = makeInput(data, input);
        if (!path.empty()) {
            run(path, input.name);
        }
    }
    return 0;
}
