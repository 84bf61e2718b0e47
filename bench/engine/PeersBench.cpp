// orvento_bench_engine_peers: orvento-play beside mpg123, ffmpeg and mpv on
// the same loopback station (a 16 kbit/s MP3 in real time), in the same run:
//   - time to first audio, process start included, after a 64 KiB burst;
//   - the same without a burst, where the player's start-up lead (the audio
//     it holds before its queue starts) is the cost;
//   - CPU seconds and peak memory for 60 s of playback into a null output.
// "First audio" is, for orvento-play, its "playing" line (printed once its
// queue runs); for the peers, the first decoded byte they write to a pipe.
// Prints figures; asserts nothing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/PeakMemory.h"
#include "bench/engine/BenchStream.h"
#include "tools/loopback/LoopbackServer.h"

extern char** environ;

namespace orvento::bench {
namespace {

using Clock = std::chrono::steady_clock;
using loopback::LoopbackServer;
using loopback::Script;

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

std::optional<Child> spawn(const std::vector<std::string>& args) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    Child c;
    const int rc = posix_spawnp(&c.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return std::nullopt;
    }
    c.out = outPipe[0];
    c.err = errPipe[0];
    return c;
}

// Median, min and max of the runs' times in ms, printed; the median, or
// nothing when no run had audio within `limit`.
std::optional<double> printTimes(const std::string& name, std::vector<double> v,
                                 std::chrono::seconds limit) {
    if (v.empty()) {
        std::printf("  %-13s no audio within %lld s\n", name.c_str(),
                    static_cast<long long>(limit.count()));
        return std::nullopt;
    }
    std::sort(v.begin(), v.end());
    std::printf("  %-13s median %8.1f ms   min %8.1f ms   max %8.1f ms\n", name.c_str(),
                v[v.size() / 2], v.front(), v.back());
    return v[v.size() / 2];
}

struct Usage {
    double cpuSeconds = 0;
    long peakKiB = 0;
};

Usage reap(Child& c, int signal) {
    const long peak = peakKiB(c.pid);
    if (signal != 0) {
        kill(c.pid, signal);
    }
    // Drain so that a child blocked on a full pipe can exit.
    std::vector<char> sink(65536);
    for (int fd : {c.out, c.err}) {
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    int status = 0;
    rusage ru{};
    for (;;) {
        for (int fd : {c.out, c.err}) {
            while (read(fd, sink.data(), sink.size()) > 0) {
            }
        }
        const pid_t r = wait4(c.pid, &status, WNOHANG, &ru);
        if (r == c.pid) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(c.out);
    close(c.err);
    Usage u;
    u.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    u.peakKiB = peak;
    return u;
}

struct Peer {
    std::string name;
    // Arguments for the first-audio runs and for the 60-second runs.
    std::function<std::vector<std::string>(const std::string& url)> firstAudio;
    std::function<std::vector<std::string>(const std::string& url)> playNull;
    bool watchStderrForPlaying = false;  // orvento-play: its "playing" line
};

std::vector<Peer> peers() {
    const std::string play = ORVENTO_PLAY_PATH;
    return {
        {"orvento-play",
         [play](const std::string& u) {
             return std::vector<std::string>{play, u, "--null"};
         },
         [play](const std::string& u) {
             return std::vector<std::string>{play, u, "--null"};
         },
         true},
        {"mpg123",
         [](const std::string& u) {
             return std::vector<std::string>{"mpg123", "-q", "-s", u};
         },
         [](const std::string& u) {
             return std::vector<std::string>{"mpg123", "-q", "-o", "dummy", u};
         }},
        {"ffmpeg",
         [](const std::string& u) {
             return std::vector<std::string>{"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                             u,        "-f",       "s16le",     "-"};
         },
         [](const std::string& u) {
             return std::vector<std::string>{"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                             u,        "-f",       "null",      "-"};
         }},
        {"mpv",
         [](const std::string& u) {
             return std::vector<std::string>{"mpv",
                                             "--no-config",
                                             "--really-quiet",
                                             "--no-video",
                                             "--ao=pcm",
                                             "--ao-pcm-waveheader=no",
                                             "--ao-pcm-file=/dev/stdout",
                                             u};
         },
         [](const std::string& u) {
             return std::vector<std::string>{"mpv",        "--no-config", "--really-quiet",
                                             "--no-video", "--ao=null",   u};
         }},
    };
}

bool available(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return access(program.c_str(), X_OK) == 0;
    }
    const std::string probe = "command -v " + program + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

// Seconds from spawning to the first audio, or nullopt after `limit`.
std::optional<double> timeToFirstAudio(const Peer& peer, const std::string& url,
                                       std::chrono::seconds limit) {
    const auto started = Clock::now();
    auto child = spawn(peer.firstAudio(url));
    if (!child) {
        return std::nullopt;
    }
    std::optional<double> result;
    std::string err;
    char buf[4096];
    while (Clock::now() - started < limit) {
        pollfd fds[2] = {{child->out, POLLIN, 0}, {child->err, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(child->out, buf, sizeof buf);
            if (n > 0 && !peer.watchStderrForPlaying) {
                result = std::chrono::duration<double>(Clock::now() - started).count();
                break;
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(child->err, buf, sizeof buf);
            if (n > 0) {
                err.append(buf, static_cast<std::size_t>(n));
                if (peer.watchStderrForPlaying &&
                    err.find("orvento-play: playing") != std::string::npos) {
                    result = std::chrono::duration<double>(Clock::now() - started).count();
                    break;
                }
            }
        }
        if ((fds[0].revents | fds[1].revents) & POLLHUP) {
            break;
        }
    }
    reap(*child, SIGTERM);
    return result;
}

int run() {
    const auto mp3 = lowRateMp3();
    LoopbackServer server;
    Script burst = Script::fromFile(mp3.string());
    burst.repeated().paced(kBytesPerSecond, kBurstBytes);
    server.setScript("/burst.mp3", burst);
    Script steady = Script::fromFile(mp3.string());
    steady.repeated().paced(kBytesPerSecond);
    server.setScript("/steady.mp3", steady);

    std::vector<Peer> all;
    for (Peer& p : peers()) {
        if (available(p.firstAudio("x")[0])) {
            all.push_back(std::move(p));
        } else {
            std::printf("(%s not found: left out)\n", p.name.c_str());
        }
    }

    std::printf("stream: 16 kbit/s MP3 in real time from a loopback station\n\n");
    std::printf("time to first audio after a 64 KiB burst, process start included (5 runs)\n");
    std::optional<double> orventoFirst;
    std::optional<double> mpg123First;
    for (const Peer& p : all) {
        std::vector<double> v;
        for (int i = 0; i < 5; ++i) {
            if (auto t = timeToFirstAudio(p, server.url("/burst.mp3"), std::chrono::seconds(30))) {
                v.push_back(*t * 1000);
            }
        }
        const std::optional<double> median = printTimes(p.name, v, std::chrono::seconds(30));
        if (p.name == "orvento-play") {
            orventoFirst = median;
        } else if (p.name == "mpg123") {
            mpg123First = median;
        }
    }
    if (orventoFirst && mpg123First) {
        std::printf("  orvento-play %.1f ms = %.1fx mpg123 (target: under 20 ms)\n", *orventoFirst,
                    *orventoFirst / *mpg123First);
    }
    std::fflush(stdout);

    std::printf("\ntime to first audio without a burst, process start included (5 runs)\n");
    std::optional<double> orventoSteady;
    std::optional<double> fastestPeer;
    for (const Peer& p : all) {
        std::vector<double> v;
        for (int i = 0; i < 5; ++i) {
            if (auto t = timeToFirstAudio(p, server.url("/steady.mp3"), std::chrono::seconds(40))) {
                v.push_back(*t * 1000);
            }
        }
        const std::optional<double> median = printTimes(p.name, v, std::chrono::seconds(40));
        if (p.name == "orvento-play") {
            orventoSteady = median;
        } else if (median && (!fastestPeer || *median < *fastestPeer)) {
            fastestPeer = median;
        }
    }
    if (orventoSteady && fastestPeer) {
        std::printf(
            "  orvento-play %.1f ms, fastest peer %.1f ms (target: under 1600 ms and "
            "below every peer)\n",
            *orventoSteady, *fastestPeer);
    }
    std::fflush(stdout);

    std::printf("\n60 s of playback into a null output, all players at once on the same stream\n");
    std::vector<std::optional<Child>> children;
    for (const Peer& p : all) {
        children.push_back(spawn(p.playNull(server.url("/burst.mp3"))));
    }
    const auto until = Clock::now() + std::chrono::seconds(60);
    // Keep the pipes drained while they play.
    char buf[65536];
    while (Clock::now() < until) {
        std::vector<pollfd> fds;
        for (auto& c : children) {
            if (c) {
                fds.push_back({c->out, POLLIN, 0});
                fds.push_back({c->err, POLLIN, 0});
            }
        }
        poll(fds.data(), fds.size(), 200);
        for (const pollfd& f : fds) {
            if (f.revents & POLLIN) {
                [[maybe_unused]] ssize_t n = read(f.fd, buf, sizeof buf);
            }
        }
    }
    std::vector<Usage> usage;
    for (auto& c : children) {
        usage.push_back(c ? reap(*c, SIGTERM) : Usage{});
    }
    const Usage* mpg123 = nullptr;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].name == "mpg123") {
            mpg123 = &usage[i];
        }
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::printf("  %-13s CPU %6.3f s   peak memory %7.1f MiB", all[i].name.c_str(),
                    usage[i].cpuSeconds, static_cast<double>(usage[i].peakKiB) / 1024);
        if (mpg123 != nullptr && mpg123->cpuSeconds > 0 && mpg123->peakKiB > 0) {
            std::printf(
                "   CPU x%.2f, memory x%.2f of mpg123", usage[i].cpuSeconds / mpg123->cpuSeconds,
                static_cast<double>(usage[i].peakKiB) / static_cast<double>(mpg123->peakKiB));
        }
        std::printf("\n");
    }
    std::printf(
        "  (targets for orvento-play: at most 2x mpg123's CPU, under 16 MiB peak memory)\n");
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main() {
    return orvento::bench::run();
}
