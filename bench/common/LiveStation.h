// A live station for the benchmarks that run whole players: an MP3 file sent
// round and round at 16 kbit/s in real time, after a burst at once, as a
// station's server sends it to a new listener.
#pragma once

#include <cstdint>
#include <filesystem>

#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {

inline constexpr double kStationBytesPerSecond = 16000.0 / 8;  // 16 kbit/s
inline constexpr std::uint64_t kStationBurst = 16384;

inline loopback::Script liveStation(const std::filesystem::path& file,
                                    std::uint64_t burst = kStationBurst) {
    loopback::Script script = loopback::Script::fromFile(file.string(), "audio/mpeg");
    script.repeated().paced(kStationBytesPerSecond, burst);
    return script;
}

}  // namespace orvento::bench
