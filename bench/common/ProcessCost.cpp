#include "bench/common/ProcessCost.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace orvento::bench {

namespace {

// The value in KiB of a "Name:   123 kB" line, or -1.
long fieldKiB(const std::string& line, const std::string& name) {
    if (line.rfind(name, 0) != 0) {
        return -1;
    }
    return std::stol(line.substr(name.size()));
}

}  // namespace

std::optional<PrivateMemory> privateMemory(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    long privateKiB = 0;
    long anonymousKiB = 0;
    bool read = false;
    for (std::string line; std::getline(rollup, line);) {
        for (const char* name : {"Private_Clean:", "Private_Dirty:"}) {
            if (const long kib = fieldKiB(line, name); kib >= 0) {
                privateKiB += kib;
                read = true;
            }
        }
        if (const long kib = fieldKiB(line, "Anonymous:"); kib >= 0) {
            anonymousKiB = kib;
        }
    }
    if (!read) {
        return std::nullopt;
    }
    return PrivateMemory{static_cast<double>(privateKiB) / 1024,
                         static_cast<double>(anonymousKiB) / 1024};
}

std::vector<ThreadWakeups> threadWakeups(pid_t pid) {
    std::vector<ThreadWakeups> threads;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        ThreadWakeups thread;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Name:", 0) == 0) {
                thread.name = line.substr(line.find_first_not_of(" \t", 5));
            } else if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                thread.wakeups = std::stol(line.substr(24));
            }
        }
        threads.push_back(std::move(thread));
    }
    return threads;
}

std::optional<WindowFigures> readWindowFigures(const std::string& log) {
    const std::size_t at = log.find("window cpu ");
    WindowFigures f;
    if (at == std::string::npos ||
        std::sscanf(log.c_str() + at, "window cpu %lf wall %lf rss %lf peak %lf playing %d",
                    &f.cpuSeconds, &f.wallSeconds, &f.residentKiB, &f.peakKiB, &f.playing) != 5) {
        return std::nullopt;
    }
    return f;
}

}  // namespace orvento::bench
