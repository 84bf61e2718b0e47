// orvento_bench_cost [PART]: what one station costs to play, beside mpg123
// on the same kind of station in the same run. Each player listens to a
// station of its own (the site's ground station, 16 kbit/s MP3 in real time,
// from a loopback server) on a PulseAudio daemon the benchmark starts with a
// null sink. For each process it prints:
//   - CPU seconds (user + system) over its whole run, and the ratio to mpg123;
//   - wake-ups a second: voluntary context switches summed over its threads,
//     over its whole run, and each thread's share at the end;
//   - private memory: the most Private_Clean + Private_Dirty seen, read from
//     smaps_rollup every second, and the anonymous part of it.
// Parts (a PART argument runs those whose names contain it):
//   null    orvento-play --null beside mpg123 -o dummy, 90 s;
//   sink    orvento-play beside mpg123 -o pulse into the sink, 60 s;
//   window  the window (offscreen) playing one station into the sink, and
//           its monitor with one feed and with six: CPU from the end of a 5 s
//           warm-up, private memory, and what each further feed costs.
// Prints figures; asserts nothing.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/ChildProcess.h"
#include "bench/common/LiveStation.h"
#include "bench/common/ProcessCost.h"
#include "bench/common/SoundServer.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using loopback::LoopbackServer;

constexpr std::chrono::seconds kWarmUp{5};  // the window's own, before its figures start

struct Run {
    std::string name;
    std::vector<std::string> args;
    Env env;
};

// What one process of a run cost.
struct Cost {
    std::string name;  // the run's
    Usage usage;
    PrivateMemory most;                  // the most private memory seen
    std::vector<ThreadWakeups> threads;  // at the end
    std::string log;
};

// Runs the commands together for `seconds`, reading each one's private
// memory every second, and returns what each cost.
std::vector<Cost> runTogether(const std::vector<Run>& runs, const fs::path& dir, double seconds) {
    const auto logOf = [&dir](std::size_t i) {
        return dir / ("cost-" + std::to_string(i) + ".log");
    };
    std::vector<std::unique_ptr<Child>> children;
    std::vector<Cost> costs(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        fs::remove(logOf(i));
        children.push_back(std::make_unique<Child>(runs[i].args, runs[i].env, logOf(i)));
        costs[i].name = runs[i].name;
    }
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        std::this_thread::sleep_for(std::min<Clock::duration>(
            std::chrono::seconds(1),
            std::chrono::duration_cast<Clock::duration>(until - Clock::now())));
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (const auto now = privateMemory(children[i]->pid())) {
                costs[i].most.privateMiB = std::max(costs[i].most.privateMiB, now->privateMiB);
                costs[i].most.anonymousMiB =
                    std::max(costs[i].most.anonymousMiB, now->anonymousMiB);
            }
        }
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        costs[i].threads = threadWakeups(children[i]->pid());
        costs[i].usage = children[i]->reap(SIGTERM);
        costs[i].log = readFile(logOf(i));
    }
    return costs;
}

void printHeader() {
    std::printf("  %-36s %8s %9s %11s %18s\n", "", "CPU s", "x mpg123", "wake-ups/s",
                "private MiB (anon)");
}

void printCost(const Cost& c, const Cost* mpg123, double seconds) {
    std::printf("  %-36s %8.3f", c.name.c_str(), c.usage.cpuSeconds);
    if (mpg123 != nullptr && mpg123->usage.cpuSeconds > 0) {
        std::printf(" %9.2f", c.usage.cpuSeconds / mpg123->usage.cpuSeconds);
    } else {
        std::printf(" %9s", "");
    }
    std::printf(" %11.1f %11.2f (%.2f)\n", static_cast<double>(c.usage.wakeups) / seconds,
                c.most.privateMiB, c.most.anonymousMiB);
    // Threads of one name are summed (pulse's and mpg123's have their own).
    std::map<std::string, long> byName;
    for (const ThreadWakeups& t : c.threads) {
        byName[t.name] += t.wakeups;
    }
    std::printf("  %-36s", "");
    for (const auto& [thread, wakeups] : byName) {
        std::printf("  %s %.1f/s", thread.c_str(), static_cast<double>(wakeups) / seconds);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// One stream of orvento-play beside mpg123's, together for `seconds`.
void besideMpg123(const char* what, double seconds, const Run& mpg123, const Run& play,
                  const fs::path& dir) {
    std::printf("\none stream %s for %.0f s, together\n", what, seconds);
    const std::vector<Cost> c = runTogether({mpg123, play}, dir, seconds);
    printHeader();
    printCost(c[0], nullptr, seconds);
    printCost(c[1], &c[0], seconds);
    std::printf("  (targets for orvento-play: at most 1.0x mpg123's CPU, under 2 MiB private)\n");
}

int run(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&only](const std::string& part) {
        return part.find(only) != std::string::npos;
    };
    if (!wanted("null") && !wanted("sink") && !wanted("window")) {
        std::printf(
            "usage: orvento_bench_cost [PART]: no part is named \"%s\" (null, sink, "
            "window)\n",
            only.c_str());
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("orvento-cost-" + std::to_string(getpid()));
    fs::create_directories(dir / "config");
    SoundServer server(dir);
    if (!server.ready()) {
        std::printf("no PulseAudio daemon could be started (pulseaudio, pulseaudio-utils)\n%s\n",
                    readFile(dir / "pulseaudio.log").c_str());
        return 1;
    }
    const fs::path ground = fs::path(ORVENTO_STATION_SITE_DIR) / "ground.mp3";
    LoopbackServer stations;
    // A station for each player, so that none shares a connection.
    int made = 0;
    const auto newStation = [&] {
        const std::string path = "/station-" + std::to_string(made++) + ".mp3";
        stations.setScript(path, liveStation(ground));
        return stations.url(path);
    };
    const std::string play = ORVENTO_PLAY_PATH;
    const std::string window = ORVENTO_WINDOW_PATH;
    const Env pulse = server.env({{"SDL_AUDIODRIVER", std::nullopt}});
    std::printf(
        "one station each: the site's ground station, 16 kbit/s MP3 in real time from a\n"
        "loopback server; PulseAudio null sink %s\n",
        kSink);

    if (wanted("null")) {
        besideMpg123("into nothing", 90,
                     {"mpg123 -o dummy", {"mpg123", "-q", "-o", "dummy", newStation()}, pulse},
                     {"orvento-play --null", {play, newStation(), "--null"}, pulse}, dir);
    }
    if (wanted("sink")) {
        besideMpg123("into the sink", 60,
                     {"mpg123 -o pulse", {"mpg123", "-q", "-o", "pulse", newStation()}, pulse},
                     {"orvento-play (PulseAudio output)", {play, newStation()}, pulse}, dir);
    }

    if (wanted("window")) {
        constexpr double kSeconds = 60;
        const Env windowEnv = server.env({{"SDL_AUDIODRIVER", std::nullopt},
                                          {"QT_QPA_PLATFORM", "offscreen"},
                                          {"XDG_CONFIG_HOME", (dir / "config").string()},
                                          {"XDG_CACHE_HOME", (dir / "cache").string()},
                                          {"XDG_DATA_HOME", (dir / "data").string()},
                                          {"ORVENTO_CATALOGUE_URL", stations.url("")},
                                          {"ORVENTO_WEATHER_URL", stations.url("")},
                                          {"ORVENTO_DIRECTORY_URL", stations.url("")}});
        const double whole = kSeconds + static_cast<double>(kWarmUp.count());
        std::printf(
            "\nthe window (offscreen) into the sink, %.0f s after a %lld s warm-up: one station,\n"
            "then its monitor with one feed and with six, beside mpg123 -o pulse\n",
            kSeconds, static_cast<long long>(kWarmUp.count()));
        std::vector<Run> runs{
            {"mpg123 -o pulse", {"mpg123", "-q", "-o", "pulse", newStation()}, pulse},
            {"the window, one station", {window, newStation()}, windowEnv}};
        const std::vector<Cost> one = runTogether(runs, dir, whole);
        std::vector<std::string> six{window, "--monitor"};
        for (int i = 0; i < 6; ++i) {
            six.push_back(newStation());
        }
        const std::vector<Cost> monitor = runTogether(
            {{"the window, one monitor feed", {window, "--monitor", newStation()}, windowEnv},
             {"the window, six monitor feeds", six, windowEnv}},
            dir, whole);
        printHeader();
        printCost(one[0], nullptr, whole);
        const auto printWindow = [&](const Cost& c, double target) {
            printCost(c, &one[0], whole);
            const std::optional<WindowFigures> f = readWindowFigures(c.log);
            if (!f) {
                std::printf("  the window gave no figures:\n%s\n", c.log.c_str());
                return;
            }
            std::printf(
                "  %-36s after its warm-up: %.2f %% of a core (target: under %.1f %%), %d "
                "playing at the end\n",
                "", 100 * f->cpuSeconds / f->wallSeconds, target, f->playing);
        };
        printWindow(one[1], 0.5);
        printWindow(monitor[0], 0.5);
        printWindow(monitor[1], 2);
        std::printf(
            "  each monitor feed beyond the first: %.2f MiB private (target: under 1 MiB)\n",
            (monitor[1].most.privateMiB - monitor[0].most.privateMiB) / 5);
    }
    fs::remove_all(dir);
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    return orvento::bench::run(argc, argv);
}
