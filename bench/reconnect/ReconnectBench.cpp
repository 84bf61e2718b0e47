// orvento_bench_reconnect: how orvento-play --reconnect --null comes back
// after a drop, against loopback stations on 127.0.0.1 playing a 16 kbit/s
// MP3 in real time:
//   1. a drop from a server that stays up: drop to audio again;
//   2. a server down for D seconds: its return to audio again, beside the
//      wait then in force;
//   3. many drops in a row: recoveries, threads, descriptors and memory
//      before and after;
//   4. a server that is down (refusing, or accepting and never answering):
//      CPU while the player tries, and threads and descriptors after many
//      attempts (made quickly with the tool's --reconnect-waits, which only
//      shortens the waits between attempts).
// "Audio again" is the tool's "playing" line, printed once audio has
// reached its output. Prints figures; asserts nothing.
//
// Usage: orvento_bench_reconnect [--drop-period SECONDS] [--idle-seconds SECONDS]
//                                [--attempts N] [--hang-seconds SECONDS]
//                                [--drops N] [--part 1|2|3|4]
//   --part         only that part (default: all)
//   --drops        drops in 3 (default 10)
//   --drop-period  seconds from one drop to the next in 3 (default 30)
//   --idle-seconds how long CPU is measured in 4 (default 60)
//   --attempts     attempts against a refusing server in 4 (default 500)
//   --hang-seconds how long attempts go to a server that never answers in 4
//                  (default 150: each ends by the player's 30 s stall rule)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/engine/BenchStream.h"
#include "tools/loopback/LoopbackServer.h"

extern char** environ;

namespace orvento::bench {
namespace {

using Clock = std::chrono::steady_clock;
using loopback::LoopbackServer;
using loopback::Script;
using std::chrono::seconds;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// What /proc tells of a running process.
struct ProcessFigures {
    std::size_t threads = 0;
    std::size_t descriptors = 0;
    long rssKiB = 0;
    double cpuSeconds = 0;  // user and system, all threads

    static ProcessFigures of(pid_t pid) {
        namespace fs = std::filesystem;
        const fs::path proc = fs::path("/proc") / std::to_string(pid);
        ProcessFigures f;
        std::error_code ec;
        for (auto it = fs::directory_iterator(proc / "task", ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            ++f.threads;
        }
        for (auto it = fs::directory_iterator(proc / "fd", ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            ++f.descriptors;
        }
        std::ifstream status(proc / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                f.rssKiB = std::stol(line.substr(6));
            }
        }
        // utime and stime are fields 14 and 15, counted after the ")" that
        // ends the command name.
        std::ifstream statFile(proc / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        if (const std::size_t close = stat.rfind(')'); close != std::string::npos) {
            std::istringstream fields(stat.substr(close + 2));
            std::string skip;
            for (int i = 3; i < 14; ++i) {
                fields >> skip;
            }
            long utime = 0;
            long stime = 0;
            fields >> utime >> stime;
            f.cpuSeconds = static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
        }
        return f;
    }

    std::string text() const {
        char line[128];
        std::snprintf(line, sizeof line, "%zu threads, %zu descriptors, RSS %.2f MiB", threads,
                      descriptors, static_cast<double>(rssKiB) / 1024);
        return line;
    }
};

// orvento-play running, its standard error kept line by line with the time
// each line came; standard output is drained.
class Player {
  public:
    explicit Player(std::vector<std::string> args) {
        int outPipe[2];
        int errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("cannot make pipes");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        args.insert(args.begin(), ORVENTO_PLAY_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        if (rc != 0) {
            close(outPipe[0]);
            close(errPipe[0]);
            throw std::runtime_error("cannot start orvento-play");
        }
        reader_ = std::thread([this, out = outPipe[0], err = errPipe[0]] { read(out, err); });
    }
    ~Player() {
        kill(pid_, SIGTERM);
        reader_.join();
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    pid_t pid() const { return pid_; }

    struct Line {
        Clock::time_point at;
        std::string text;
    };
    // The index of the first line from `from` on that contains `text`,
    // waiting until `deadline` for it.
    std::optional<std::size_t> waitFor(std::string_view text, std::size_t from,
                                       Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        std::optional<std::size_t> found;
        changed_.wait_until(lock, deadline, [&] {
            for (std::size_t i = from; i < lines_.size(); ++i) {
                if (lines_[i].text.find(text) != std::string::npos) {
                    found = i;
                    return true;
                }
            }
            from = lines_.size();
            return ended_;
        });
        return found;
    }
    Line line(std::size_t index) const {
        std::lock_guard lock(mutex_);
        return lines_.at(index);
    }
    std::size_t lineCount() const {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    // Lines from `from` on that contain `text`.
    std::size_t count(std::string_view text, std::size_t from = 0) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end(),
                          [&](const Line& l) { return l.text.find(text) != std::string::npos; }));
    }

  private:
    void read(int out, int err) {
        std::string partial;
        char buf[4096];
        bool outOpen = true;
        bool errOpen = true;
        while (errOpen) {
            pollfd fds[2] = {{err, POLLIN, 0}, {outOpen ? out : -1, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                continue;
            }
            if (fds[1].revents != 0) {
                outOpen = ::read(out, buf, sizeof buf) > 0;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(err, buf, sizeof buf);
            const auto now = Clock::now();
            if (n <= 0) {
                errOpen = false;
                break;
            }
            partial.append(buf, static_cast<std::size_t>(n));
            std::lock_guard lock(mutex_);
            for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
                lines_.push_back({now, partial.substr(0, end)});
                partial.erase(0, end + 1);
            }
            changed_.notify_all();
        }
        close(out);
        close(err);
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    pid_t pid_ = -1;
    mutable std::mutex mutex_;  // guards lines_ and ended_
    std::condition_variable changed_;
    std::vector<Line> lines_;
    bool ended_ = false;
    std::thread reader_;
};

constexpr const char* kPlaying = "orvento-play: playing";
constexpr const char* kReconnecting = "orvento-play: reconnecting";
constexpr const char* kConnecting = "orvento-play: connecting";
constexpr const char* kStopped = "orvento-play: stopped playing";

// The station: the benchmark MP3 for ever at 16 kbit/s, after a burst of
// `burstBytes` sent at once, closing after `closeAfterSeconds` of real time
// when given.
Script station(std::uint64_t burstBytes, std::optional<double> closeAfterSeconds = {}) {
    Script s = Script::fromFile(lowRateMp3().string());
    s.repeated().paced(kBytesPerSecond, burstBytes);
    if (closeAfterSeconds) {
        s.closeAfter(burstBytes + static_cast<std::uint64_t>(*closeAfterSeconds * kBytesPerSecond));
    }
    return s;
}

// A server on a fixed port, which a new server can take again at once
// after it went away (a server on port 0 does not mark its connections
// reusable, and those that linger would keep the port).
std::unique_ptr<LoopbackServer> restartableServer() {
    const std::uint16_t port = LoopbackServer().port();
    return std::make_unique<LoopbackServer>(LoopbackServer::Transport::plain, port);
}

void printRow(const char* what, const std::vector<double>& values, const char* target) {
    if (values.empty()) {
        std::printf("  %-44s no recovery\n", what);
        return;
    }
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    std::printf("  %-44s median %6.2f s  min %6.2f s  max %6.2f s  (%zu runs)  %s\n", what,
                v[v.size() / 2], v.front(), v.back(), v.size(), target);
}

// 1. The server closes the connection and stays up: from its close to the
// next "playing" line, for stations with no burst, a 4 s and a 32 s (64 KiB)
// burst. Also from the close to the old player's end (the audio it still
// held, played out) and from there to audio again.
void dropWhileUp() {
    std::printf(
        "1. drop by a server that stays up (closes after 6 s of real time), measured at "
        "orvento-play's \"playing\" line\n");
    for (const std::uint64_t burst : {std::uint64_t{0}, std::uint64_t{8000}, kBurstBytes}) {
        std::vector<double> toAudio;
        std::vector<double> toEnd;
        std::vector<double> gap;
        for (int run = 0; run < 3; ++run) {
            LoopbackServer server;
            server.setScript("/live.mp3", station(burst, 6.0));
            Player player({server.url("/live.mp3"), "--null", "--reconnect"});
            const auto deadline = Clock::now() + seconds(60);
            if (!player.waitFor(kPlaying, 0, deadline)) {
                continue;
            }
            // The next connection stays.
            server.setScript("/live.mp3", station(burst));
            server.waitUntil([&] { return server.connectionsOpen() == 0; }, seconds(60));
            const auto dropAt = Clock::now();
            const auto stopped = player.waitFor(kStopped, 0, deadline);
            const auto again =
                stopped ? player.waitFor(kPlaying, *stopped, deadline + seconds(30)) : std::nullopt;
            if (!again) {
                continue;
            }
            toAudio.push_back(secondsBetween(dropAt, player.line(*again).at));
            toEnd.push_back(secondsBetween(dropAt, player.line(*stopped).at));
            gap.push_back(secondsBetween(player.line(*stopped).at, player.line(*again).at));
        }
        std::printf(" station with a %.0f s burst:\n",
                    static_cast<double>(burst) / kBytesPerSecond);
        printRow("drop -> audio again", toAudio, "(target 1.5 s)");
        printRow("  drop -> old audio played out (\"stopped\")", toEnd, "");
        printRow("  \"stopped\" -> \"playing\" (silence heard)", gap, "");
        std::fflush(stdout);
    }
    std::printf(
        "  (the next attempt connects at the drop, while the old player plays out the audio it "
        "held; its own audio follows that at once)\n");
}

// 2. The server goes away (connections closed, port refusing) for D seconds,
// then listens again on the same port.
void downFor(const std::vector<int>& downSeconds) {
    std::printf(
        "\n2. server down for D s then back (station with a 4 s burst): its return -> "
        "\"playing\"\n");
    for (const int d : downSeconds) {
        auto server = restartableServer();
        const std::uint16_t port = server->port();
        server->setScript("/live.mp3", station(8000));
        Player player({server->url("/live.mp3"), "--null", "--reconnect"});
        if (!player.waitFor(kPlaying, 0, Clock::now() + seconds(30))) {
            std::printf("  D = %2d s: did not play\n", d);
            continue;
        }
        server.reset();
        std::this_thread::sleep_for(seconds(d));
        const std::size_t before = player.lineCount();
        server = std::make_unique<LoopbackServer>(LoopbackServer::Transport::plain, port);
        const auto backAt = Clock::now();
        server->setScript("/live.mp3", station(8000));
        // The wait in force: the last one announced before the return.
        std::string waitText = "none announced";
        double waitSeconds = 0;
        for (std::size_t i = before; i-- > 0;) {
            const Player::Line l = player.line(i);
            if (l.text.find(kReconnecting) != std::string::npos) {
                const std::size_t in = l.text.find(" in ");
                waitSeconds = in == std::string::npos ? 0 : std::atof(l.text.c_str() + in + 4);
                waitText = l.text.substr(l.text.find("reconnecting"));
                waitText = waitText.substr(0, waitText.find(':'));
                break;
            }
        }
        const auto connecting = player.waitFor(kConnecting, before, backAt + seconds(60));
        const auto again =
            connecting ? player.waitFor(kPlaying, *connecting, backAt + seconds(60)) : std::nullopt;
        if (!again) {
            std::printf("  D = %2d s: no audio within 60 s of the return\n", d);
            continue;
        }
        const double total = secondsBetween(backAt, player.line(*again).at);
        std::printf(
            "  D = %2d s: return -> audio %6.2f s  (the attempt started %5.2f s after the "
            "return, played %4.2f s later; wait in force: %s, target %.1f s)\n",
            d, total, secondsBetween(backAt, player.line(*connecting).at),
            secondsBetween(player.line(*connecting).at, player.line(*again).at), waitText.c_str(),
            waitSeconds + 1.5);
        std::fflush(stdout);
    }
}

// 3. `drops` drops, one every `period` seconds of real time.
void manyDrops(int drops, double period) {
    std::printf("\n3. %d drops, one every %.0f s (16 kbit/s, 4 s burst)\n", drops, period);
    LoopbackServer server;
    // Each connection lasts the period less the 4 s the player holds and
    // plays out after the drop.
    server.setScript("/live.mp3", station(8000, period - 4));
    Player player({server.url("/live.mp3"), "--null", "--reconnect"});
    const auto first = player.waitFor(kPlaying, 0, Clock::now() + seconds(30));
    if (!first) {
        std::printf("  did not play\n");
        return;
    }
    std::this_thread::sleep_for(seconds(2));
    const ProcessFigures before = ProcessFigures::of(player.pid());
    const auto started = Clock::now();
    std::size_t at = *first + 1;
    int recovered = 0;
    std::vector<long> rssAfterEach;  // as each new player starts to play
    for (int i = 0; i < drops; ++i) {
        const auto drop = player.waitFor(kReconnecting, at,
                                         Clock::now() + seconds(static_cast<long>(period) + 60));
        const auto again =
            drop ? player.waitFor(kPlaying, *drop, Clock::now() + seconds(60)) : std::nullopt;
        if (!again) {
            break;
        }
        ++recovered;
        at = *again + 1;
        rssAfterEach.push_back(ProcessFigures::of(player.pid()).rssKiB);
    }
    // The last drop's replacement settles as the first one did.
    std::this_thread::sleep_for(seconds(2));
    const ProcessFigures after = ProcessFigures::of(player.pid());
    std::printf("  recovered %d of %d in %.0f s (target all of them)\n", recovered, drops,
                secondsBetween(started, Clock::now()));
    std::printf("  before: %s\n  after:  %s\n", before.text().c_str(), after.text().c_str());
    std::printf(
        "  growth: %+ld threads, %+ld descriptors, RSS %+.2f MiB (target: none, RSS within 1 "
        "MiB)\n",
        static_cast<long>(after.threads) - static_cast<long>(before.threads),
        static_cast<long>(after.descriptors) - static_cast<long>(before.descriptors),
        static_cast<double>(after.rssKiB - before.rssKiB) / 1024);
    std::printf("  RSS as each recovery plays (MiB):");
    for (const long kib : rssAfterEach) {
        std::printf(" %.2f", static_cast<double>(kib) / 1024);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// 4. The server becomes unreachable after the player played: refusing (the
// port closed), or accepting and never answering.
//   - With the shipped waits: CPU over `idleSeconds`.
//   - With waits of 10 ms (--reconnect-waits 0,10): `attempts` attempts
//     (refusing), or as many as the 30 s stall rule lets through in
//     `hangSeconds` (never answering); then the server answers again, and
//     threads, descriptors and memory while playing again are set beside
//     those while playing before the outage, so that both are taken in the
//     same phase.
void whileDown(double idleSeconds, int attempts, double hangSeconds) {
    std::printf("\n4. attempts while the server is down (station with a 4 s burst)\n");
    for (const bool refusing : {true, false}) {
        for (const bool shortWaits : {false, true}) {
            auto server = restartableServer();
            const std::uint16_t port = server->port();
            server->setScript("/live.mp3", station(8000, 4.0));
            std::vector<std::string> args{server->url("/live.mp3"), "--null", "--reconnect"};
            if (shortWaits) {
                args.insert(args.end(), {"--reconnect-waits", "0,10"});
            }
            Player player(args);
            const auto played = player.waitFor(kPlaying, 0, Clock::now() + seconds(30));
            if (!played) {
                std::printf("  did not play\n");
                continue;
            }
            std::this_thread::sleep_for(seconds(1));
            const ProcessFigures playing = ProcessFigures::of(player.pid());
            // Refusing: the server goes away now. Never answering: the
            // connection that plays closes after its 4 s, later ones hang.
            if (refusing) {
                server.reset();
            } else {
                server->setScript("/live.mp3", Script::silent());
            }
            const auto firstAttempt =
                player.waitFor(kReconnecting, *played, Clock::now() + seconds(30));
            if (!firstAttempt) {
                std::printf("  the drop was not noticed\n");
                continue;
            }
            const std::size_t from = *firstAttempt;
            const char* kind = refusing ? "refusing" : "never answering";
            const auto begun = Clock::now();
            const ProcessFigures early = ProcessFigures::of(player.pid());
            if (!shortWaits) {
                std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
                const ProcessFigures late = ProcessFigures::of(player.pid());
                const double cpu = late.cpuSeconds - early.cpuSeconds;
                const double wall = secondsBetween(begun, Clock::now());
                std::printf(
                    "  %-16s shipped waits: CPU %.2f s in %.0f s = %.3f %% of a core, %zu "
                    "attempts (target under 0.1 %%; CPU read in 0.01 s steps)\n",
                    kind, cpu, wall, 100 * cpu / wall, player.count(kConnecting, from));
                std::fflush(stdout);
                continue;
            }
            const auto limit = begun + std::chrono::duration<double>(refusing ? 300 : hangSeconds);
            while (Clock::now() < limit &&
                   player.count(kConnecting, from) < static_cast<std::size_t>(attempts)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            const ProcessFigures late = ProcessFigures::of(player.pid());
            const std::size_t made = player.count(kConnecting, from);
            const double wall = secondsBetween(begun, Clock::now());
            const std::size_t before = player.lineCount();
            if (refusing) {
                server = std::make_unique<LoopbackServer>(LoopbackServer::Transport::plain, port);
            }
            server->setScript("/live.mp3", station(8000));
            const auto again = player.waitFor(kPlaying, before, Clock::now() + seconds(60));
            std::printf(
                "  %-16s waits of 10 ms: %zu attempts in %.0f s, CPU %.2f s; %s\n", kind, made,
                wall, late.cpuSeconds - early.cpuSeconds,
                again ? "played again once the server answered" : "NO audio within 60 s after");
            if (again) {
                std::this_thread::sleep_for(seconds(1));
                const ProcessFigures after = ProcessFigures::of(player.pid());
                std::printf("    playing before the outage: %s\n", playing.text().c_str());
                std::printf("    playing after it:          %s\n", after.text().c_str());
                std::printf(
                    "    (between attempts, at the first and the last: %zu and %zu threads, "
                    "%zu and %zu descriptors)\n",
                    early.threads, late.threads, early.descriptors, late.descriptors);
            }
            std::fflush(stdout);
        }
    }
}

int run(int argc, char** argv) {
    double period = 30;
    double idleSeconds = 60;
    int attempts = 500;
    double hangSeconds = 150;
    int drops = 10;
    int part = 0;  // all
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view arg = argv[i];
        if (arg == "--drop-period") {
            period = std::max(8.0, std::atof(argv[i + 1]));
        } else if (arg == "--idle-seconds") {
            idleSeconds = std::max(5.0, std::atof(argv[i + 1]));
        } else if (arg == "--hang-seconds") {
            hangSeconds = std::max(5.0, std::atof(argv[i + 1]));
        } else if (arg == "--drops") {
            drops = std::max(1, std::atoi(argv[i + 1]));
        } else if (arg == "--part") {
            part = std::atoi(argv[i + 1]);
        } else if (arg == "--attempts") {
            attempts = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    lowRateMp3();
    const auto want = [part](int n) { return part == 0 || part == n; };
    if (want(1)) {
        dropWhileUp();
    }
    if (want(2)) {
        downFor({5, 20});
    }
    if (want(3)) {
        manyDrops(drops, period);
    }
    if (want(4)) {
        whileDown(idleSeconds, attempts, hangSeconds);
    }
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    return orvento::bench::run(argc, argv);
}
