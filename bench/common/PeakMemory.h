// The peak memory of a running child, read from /proc before it is ended.
// Not ru_maxrss from wait4(): a child started by posix_spawn (vfork) or fork
// carries its parent's peak across the exec into ru_maxrss, so a small
// program started by a benchmark would show the benchmark's own memory.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <string>

namespace orvento::bench {

// VmHWM of `pid` in KiB (the peak resident memory of its current program),
// or 0 when it cannot be read.
inline long peakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

}  // namespace orvento::bench
