// What a running process costs, read from /proc while it runs: its private
// memory and each thread's wake-ups; and the figures the window benchmark
// program prints as it ends.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace orvento::bench {

// Pages no other process maps (smaps_rollup's Private_Clean + Private_Dirty):
// what the process itself costs, beside the shared library pages its
// resident size also counts. `anonymousMiB` is the part no file backs (the
// heap, stacks, and library pages written at load).
struct PrivateMemory {
    double privateMiB = 0;
    double anonymousMiB = 0;
};

// Nothing once the process is gone.
std::optional<PrivateMemory> privateMemory(pid_t pid);

// Each live thread's name and voluntary context switches so far.
struct ThreadWakeups {
    std::string name;
    long wakeups = 0;
};
std::vector<ThreadWakeups> threadWakeups(pid_t pid);

// The line orvento_sound_window prints as it ends: its CPU and wall seconds
// from the end of its warm-up, resident and peak KiB, streams playing.
struct WindowFigures {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double residentKiB = 0;
    double peakKiB = 0;
    int playing = 0;
};
std::optional<WindowFigures> readWindowFigures(const std::string& log);

}  // namespace orvento::bench
