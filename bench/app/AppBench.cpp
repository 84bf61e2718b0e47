// orvento_bench_app: the application as a user starts and runs it.
//   - Start-up: from spawning the process to an interactive window (shown,
//     set up, the event loop running), on Qt's offscreen platform and, when
//     Xvfb is installed, on a real X11 server: set up from the local station
//     site (catalogue, METAR and TAF downloaded), and with the catalogue's
//     server unreachable (the port refuses; the port never answers).
//   - CPU of the whole process while it plays a 16 kbit/s MP3 from a loopback
//     station to the sound device (SDL; scripts/bench picks SDL's dummy
//     driver) with the listening time ticking, after a few seconds' warm-up.
// The measured process is this program started again as a child, which runs
// the same start-up as `orvento` (orventoMain) and reports from its launch
// hook: the parent's own threads (the station) are not counted. Prints
// figures; asserts nothing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/OrventoApplication.h"
#include "bench/engine/BenchStream.h"
#include "controller/StationCatalogue.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/station-server/StationSite.h"

extern char** environ;

namespace orvento::bench {
namespace {

constexpr int kStartupRuns = 10;
// Each of these waits out the download's connect limit.
constexpr int kUnansweredRuns = 3;
constexpr int kWarmUpMs = 5000;
constexpr int kMeasureMs = 40000;

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void report(const char* format, double a, double b = 0, double c = 0) {
    std::printf(format, a, b, c);
    std::fflush(stdout);
}

// ---- Child side: runs the application and reports on standard output.

int childStartup() {
    int argc = 1;
    char name[] = "orvento";
    char* argv[] = {name, nullptr};
    LaunchHooks hooks;
    hooks.besideOthers = true;
    hooks.launched = [](OrventoAppDelegate& /*delegate*/) {
        report("shown %.6f\n", monotonicSeconds());
        QCoreApplication::quit();
    };
    return orventoMain(argc, argv, hooks);
}

int childPlay() {
    int argc = 1;
    char name[] = "orvento";
    char* argv[] = {name, nullptr};
    LaunchHooks hooks;
    hooks.besideOthers = true;
    hooks.launched = [](OrventoAppDelegate& delegate) {
        OrventoViewController* screen = delegate.viewController();
        PlaybackController* controller = &delegate.controller();
        screen->button->click();
        const double pressed = monotonicSeconds();
        // Poll until the stop image shows, then warm up, then measure.
        auto* poll = new QTimer(screen);
        poll->setInterval(100);
        QObject::connect(poll, &QTimer::timeout, screen, [screen, controller, poll, pressed] {
            if (screen->button->imageName() != QLatin1String("stopbutton.png")) {
                if (monotonicSeconds() - pressed > 30) {
                    std::puts("never played");
                    QCoreApplication::exit(1);
                }
                return;
            }
            poll->deleteLater();
            QTimer::singleShot(kWarmUpMs, screen, [screen, controller] {
                rusage before{};
                getrusage(RUSAGE_SELF, &before);
                const double start = monotonicSeconds();
                const double shownBefore = controller->listenedSeconds();
                QTimer::singleShot(
                    kMeasureMs, screen, [screen, controller, before, start, shownBefore] {
                        rusage after{};
                        getrusage(RUSAGE_SELF, &after);
                        const double wall = monotonicSeconds() - start;
                        report("cpu %.6f wall %.6f", cpuSeconds(after) - cpuSeconds(before), wall);
                        report(
                            " listened %.3f playing %.0f",
                            controller->listenedSeconds() - shownBefore,
                            screen->button->imageName() == QLatin1String("stopbutton.png") ? 1 : 0);
                        report(" maxrss %.0f\n", static_cast<double>(after.ru_maxrss));
                        QCoreApplication::quit();
                    });
            });
        });
        poll->start();
    };
    return orventoMain(argc, argv, hooks);
}

// ---- Parent side.

struct Child {
    pid_t pid = -1;
    int out = -1;
};

std::optional<Child> spawnSelf(const char* mode, const std::vector<std::string>& environment) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    // Named like the program it stands for, which the log lines show.
    std::string name = "orvento";
    std::string modeArg = mode;
    char* argv[] = {name.data(), modeArg.data(), nullptr};
    std::vector<std::string> env = environment;
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    Child child;
    const int rc = posix_spawn(&child.pid, "/proc/self/exe", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return std::nullopt;
    }
    child.out = pipeFds[0];
    return child;
}

// The child's output until it exits (its standard error goes to ours), from
// the line that starts with `key` on (the player's error lines may come first).
std::string finish(Child& child, int timeoutSeconds, const std::string& key) {
    std::string out;
    char buffer[4096];
    const double deadline = monotonicSeconds() + timeoutSeconds;
    for (;;) {
        pollfd fd{child.out, POLLIN, 0};
        const int wait = static_cast<int>(std::max(0.0, (deadline - monotonicSeconds()) * 1000));
        if (poll(&fd, 1, wait) <= 0) {
            kill(child.pid, SIGKILL);
            break;
        }
        const ssize_t n = read(child.out, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    const std::size_t at = out.find(key);
    return at == std::string::npos ? out : out.substr(at);
}

// The environment with `set` applied ("NAME=value" replaces NAME; "NAME="
// removes it).
std::vector<std::string> environmentWith(const std::vector<std::string>& set) {
    std::vector<std::string> result;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(set.begin(), set.end(), [&](const std::string& s) {
            return s.substr(0, s.find('=')) == name;
        });
        if (!replaced) {
            result.push_back(entry);
        }
    }
    for (const std::string& s : set) {
        if (s.back() != '=') {
            result.push_back(s);
        }
    }
    return result;
}

// An Xvfb server on a free display; stopped by the destructor.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args{"Xvfb", "-displayfd",   fd,          "-screen",
                                      "0",    "1920x1080x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            close(fds[0]);
            return;
        }
        char number[32] = {};
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 10000) > 0) {
            const ssize_t n = read(fds[0], number, sizeof number - 1);
            for (ssize_t i = 0; i < n && number[i] != '\n'; ++i) {
                display_.push_back(number[i]);
            }
            if (!display_.empty()) {
                display_.insert(display_.begin(), ':');
            }
        }
        close(fds[0]);
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// `servers`: where the catalogue and the weather come from.
void startup(const char* platform, std::vector<std::string> environment, const std::string& servers,
             const std::string& catalogue, int runs) {
    environment.push_back(std::string(kCatalogueUrlVariable) + "=" + catalogue);
    environment.push_back(std::string(kWeatherUrlVariable) + "=" + servers);
    environment.push_back(std::string(kDirectoryUrlVariable) + "=" + servers);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double spawned = monotonicSeconds();
        auto child = spawnSelf("--child-startup", environment);
        if (!child) {
            break;
        }
        const std::string out = finish(*child, 30, "shown ");
        double shown = 0;
        if (std::sscanf(out.c_str(), "shown %lf", &shown) == 1) {
            times.push_back((shown - spawned) * 1000);
        }
    }
    if (times.empty()) {
        std::printf("  %-10s the window never became interactive\n", platform);
        return;
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-10s median %7.1f ms   min %7.1f ms   max %7.1f ms   (%zu runs)\n", platform,
                times[times.size() / 2], times.front(), times.back(), times.size());
}

// `site`: the base URL of a catalogue whose first station is the one played.
void playing(const char* platform, std::vector<std::string> environment, const std::string& site) {
    environment.push_back(std::string(kCatalogueUrlVariable) + "=" + site);
    environment.push_back(std::string(kWeatherUrlVariable) + "=" + site);
    environment.push_back(std::string(kDirectoryUrlVariable) + "=" + site);
    auto child = spawnSelf("--child-play", environment);
    if (!child) {
        return;
    }
    const std::string out = finish(*child, (kWarmUpMs + kMeasureMs) / 1000 + 60, "cpu ");
    double cpu = 0;
    double wall = 0;
    double listened = 0;
    double stillPlaying = 0;
    double maxrss = 0;
    if (std::sscanf(out.c_str(), "cpu %lf wall %lf listened %lf playing %lf maxrss %lf", &cpu,
                    &wall, &listened, &stillPlaying, &maxrss) != 5) {
        std::printf("  %-10s no figures: %s\n", platform, out.c_str());
        return;
    }
    std::printf(
        "  %-10s %.3f s CPU in %.1f s = %.2f %% of one core (target: under 1 %%); "
        "listening time advanced %.1f s%s; peak memory %.1f MiB\n",
        platform, cpu, wall, 100 * cpu / wall, listened, stillPlaying > 0 ? "" : " (stopped!)",
        maxrss / 1024);
}

int run() {
    const auto mp3 = lowRateMp3();
    loopback::LoopbackServer server;
    loopback::Script station = loopback::Script::fromFile(mp3.string(), "audio/mpeg");
    station.repeated().untilClose().paced(kBytesPerSecond, kBurstBytes);
    server.setScript("/live.mp3", station);
    server.setScript(kCataloguePath, loopback::Script::fixed(R"([{"a": "Bench", "d": ")" +
                                                             server.url("/live.mp3") + R"("}])"));
    const std::string url = server.url("");

    // Settings of the runs' own, never the user's.
    char config[] = "/tmp/orvento-bench-config-XXXXXX";
    if (mkdtemp(config) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string settings = std::string("XDG_CONFIG_HOME=") + config;
    const std::vector<std::string> offscreen =
        environmentWith({"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=", settings});
    VirtualDisplay xvfb;
    std::vector<std::string> x11;
    if (!xvfb.display().empty()) {
        x11 = environmentWith(
            {"QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=", "DISPLAY=" + xvfb.display(), settings});
    } else {
        std::printf("(Xvfb not found: the X11 runs are left out)\n");
    }

    site::SiteOptions siteOptions;
    siteOptions.folder = ORVENTO_STATION_SITE_DIR;
    const site::StationSite site(siteOptions);
    const std::string refusing = loopback::LoopbackServer().url("");  // closed as it goes
    const loopback::UnansweredPort unanswered;
    struct Case {
        const char* what;
        std::string catalogue;
        int runs;
    };
    const Case cases[] = {
        {"set up from the local station site (three downloads)", site.baseUrl(), kStartupRuns},
        {"the catalogue's server refuses the connection", refusing, kStartupRuns},
        {"the catalogue's server never answers", unanswered.url(""), kUnansweredRuns},
    };
    for (const Case& c : cases) {
        std::printf("start of the application to an interactive window: %s\n", c.what);
        startup("offscreen", offscreen, site.baseUrl(), c.catalogue, c.runs);
        if (!x11.empty()) {
            startup("X11/Xvfb", x11, site.baseUrl(), c.catalogue, c.runs);
        }
    }
    std::printf(
        "\nwhole process while playing a 16 kbit/s MP3 with the listening time ticking "
        "(%d s after %d s warm-up)\n",
        kMeasureMs / 1000, kWarmUpMs / 1000);
    playing("offscreen", offscreen, url);
    if (!x11.empty()) {
        playing("X11/Xvfb", x11, url);
    }
    std::filesystem::remove_all(config);
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child-startup") == 0) {
        return orvento::bench::childStartup();
    }
    if (argc > 1 && std::strcmp(argv[1], "--child-play") == 0) {
        return orvento::bench::childPlay();
    }
    return orvento::bench::run();
}
