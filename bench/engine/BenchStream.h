// The benchmarks' stream: a 16 kbit/s MP3 made at benchmark time into the
// build folder (never committed), served by the loopback station.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace orvento::bench {

// Makes (once) about 70 s of 16 kbit/s mono MPEG-2 Layer III from pink noise
// and a tone with sox and lame, and returns its path.
inline std::filesystem::path lowRateMp3() {
    const std::filesystem::path dir = std::filesystem::path(ORVENTO_BENCH_DATA_DIR);
    const std::filesystem::path mp3 = dir / "bench-16kbps.mp3";
    if (std::filesystem::exists(mp3) && std::filesystem::file_size(mp3) > 100000) {
        return mp3;
    }
    std::filesystem::create_directories(dir);
    const std::string wav = (dir / "bench-16kbps-source.wav").string();
    const std::string make =
        "sox -q -n -r 16000 -c 1 '" + wav +
        "' synth 70 pinknoise vol 0.2 : synth 70 sine 600 vol 0.2 2>/dev/null && "
        "lame --quiet -b 16 -m m '" +
        wav + "' '" + mp3.string() + "'";
    if (std::system(make.c_str()) != 0 || !std::filesystem::exists(mp3)) {
        throw std::runtime_error("cannot make the benchmark MP3 with sox and lame");
    }
    std::filesystem::remove(wav);
    return mp3;
}

inline constexpr double kBytesPerSecond = 16000.0 / 8;  // 16 kbit/s
inline constexpr std::uint64_t kBurstBytes = 64 * 1024;

}  // namespace orvento::bench
