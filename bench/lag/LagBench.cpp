// orvento_bench_lag [SECONDS [PLAYER]]: how far behind live players play a
// station whose server sends a burst on connecting, as Icecast and SHOUTcast
// servers do (64 KiB: 32 s of a 16 kbit/s station).
//
// Starts a PulseAudio daemon of its own with a null sink, serves the local
// station site's marker station (a tone every 10 s, each tone telling which
// it is; tools/station-server/MarkerStation.h) from 127.0.0.1 with a 64 KiB
// burst, and plays it with each player in turn, recording the sink's monitor
// for SECONDS (40 by default) from the press (the player's start). A tone
// goes out live when the server's paced sender reaches its bytes (the end of
// the burst is live); it is heard when it reaches the sink. For each tone
// heard the lag is the difference; per player the figures are the first
// tone's lag and, for tones heard from 3 s after the press on, the median
// and the largest, then all players' figures beside the target for Orvento's
// live edge. Players: orvento-play with and without its live edge,
// mpg123, mpv, ffmpeg and the Orvento window (live edge on by default);
// PLAYER runs only those whose name contains it. A peer that is not
// installed is reported and skipped. Prints figures; asserts nothing.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/ChildProcess.h"
#include "bench/common/SoundServer.h"
#include "bench/lag/MarkerFinder.h"
#include "tools/station-server/MarkerStation.h"
#include "tools/station-server/StationSite.h"

namespace orvento::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Tones heard this long after the press count for the median and maximum:
// by then a player has had time to reach its steady lag.
constexpr double kSettleSeconds = 3;
constexpr double kTargetSeconds = 2.0;
// A tone cannot be heard before it goes out; this much earlier is taken as
// measuring error (the paced writes' quantum, the codec delay's estimate).
constexpr double kEarlySeconds = 0.3;

// Stands for the station's URL in a player's arguments.
constexpr const char* kUrl = "URL";

struct Player {
    std::string name;
    std::vector<std::string> args;
    Env env;
    bool liveEdge = false;  // held to the target
};

// A player's figures, in seconds behind live.
struct Lags {
    double first = 0;
    std::optional<double> median;  // of the tones from kSettleSeconds on
    std::optional<double> max;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool installed(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return access(program.c_str(), X_OK) == 0;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t from = 0; from <= dirs.size();) {
        const std::size_t to = std::min(dirs.find(':', from), dirs.size());
        if (access((dirs.substr(from, to - from) + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        from = to + 1;
    }
    return false;
}

// When the `n`th tone of a connection went out live.
Clock::time_point emission(const loopback::PacedBody& body, std::size_t n, double fileSeconds) {
    const double stream = site::markerStreamSeconds(n, fileSeconds);
    const double fromStart = stream - static_cast<double>(body.burstBytes) / body.bytesPerSecond;
    return body.start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(fromStart));
}

// Plays the marker station with `player` for `length` seconds, prints each
// tone's lag and returns the player's figures (none when no tone could be
// timed).
std::optional<Lags> measure(const Player& player, site::StationSite& site,
                            const SoundServer& server, const fs::path& dir, double length) {
    std::printf("\n%s\n", player.name.c_str());
    if (!installed(player.args.front())) {
        std::printf("  not installed: %s; skipped\n", player.args.front().c_str());
        return std::nullopt;
    }
    const site::SiteStation& station = site.markerStation();
    const std::size_t before = site.server().pacedBodies().size();
    Recording recording(server, dir / "parec.log");
    std::vector<std::string> args = player.args;
    std::replace(args.begin(), args.end(), std::string(kUrl), station.url);
    const fs::path log = dir / "player.log";
    fs::remove(log);
    const Clock::time_point press = Clock::now();
    Child child(args, player.env, log);
    if (!child.running()) {
        std::printf("  could not be started\n");
        return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(length));
    child.reap(SIGTERM);
    const std::vector<HeardMarker> heard = findMarkers(recording.samples());

    std::vector<loopback::PacedBody> bodies = site.server().pacedBodies();
    bodies.erase(bodies.begin(), bodies.begin() + static_cast<std::ptrdiff_t>(before));
    std::erase_if(bodies, [](const auto& b) { return b.target != site::kMarkerRoute; });
    if (bodies.empty() || heard.empty()) {
        std::printf("  %s; its messages:\n%s\n",
                    bodies.empty() ? "never took the stream" : "no tone was heard",
                    readFile(log).c_str());
        return std::nullopt;
    }
    if (bodies.size() > 1) {
        std::printf(
            "  connected %zu times; timed against the last connection before the first "
            "tone\n",
            bodies.size());
    }
    // The stream the player played: the last one opened before the first tone was heard.
    const Clock::time_point firstHeard = recording.arrivalOf(heard.front().frame);
    const auto opened = std::find_if(bodies.rbegin(), bodies.rend(),
                                     [&](const auto& b) { return b.start <= firstHeard; });
    const loopback::PacedBody body = opened != bodies.rend() ? *opened : bodies.back();

    std::vector<double> settled;
    std::optional<double> first;
    std::printf("  tone    heard after the press    lag\n");
    for (const HeardMarker& marker : heard) {
        const Clock::time_point arrival = recording.arrivalOf(marker.frame);
        // Of the tones that sound like this one, the last to go out by then.
        std::optional<double> lag;
        for (std::size_t n = marker.tone;; n += site::kMarkerHz.size()) {
            const double l = seconds(arrival - emission(body, n, station.fileSeconds));
            if (l < -kEarlySeconds) {
                break;
            }
            lag = l;
        }
        if (!lag) {
            std::printf("  %4.0f Hz %10.2f s               heard before it went out\n",
                        site::kMarkerHz[marker.tone], seconds(arrival - press));
            continue;
        }
        std::printf("  %4.0f Hz %10.2f s %16.2f s\n", site::kMarkerHz[marker.tone],
                    seconds(arrival - press), *lag);
        first = first.value_or(*lag);
        if (seconds(arrival - press) >= kSettleSeconds) {
            settled.push_back(*lag);
        }
    }
    if (!first) {
        std::printf("  no tone could be timed\n");
        return std::nullopt;
    }
    std::sort(settled.begin(), settled.end());
    Lags lags;
    lags.first = *first;
    std::printf("  first tone %.2f s behind live", *first);
    if (!settled.empty()) {
        lags.median = settled[settled.size() / 2];
        lags.max = settled.back();
        std::printf("; from %.0f s after the press: median %.2f s, max %.2f s (%zu tones)",
                    kSettleSeconds, *lags.median, *lags.max, settled.size());
    }
    std::printf("\n");
    std::fflush(stdout);
    return lags;
}

void printSummary(const std::vector<std::pair<const Player*, std::optional<Lags>>>& results) {
    std::printf("\nseconds behind live (the target for Orvento's live edge: at most %.1f s)\n",
                kTargetSeconds);
    std::printf("  %-46s %10s %8s %6s  (max and median: from %.0f s after the press)\n", "",
                "first tone", "median", "max", kSettleSeconds);
    for (const auto& [player, lags] : results) {
        std::printf("  %-46s", player->name.c_str());
        if (!lags) {
            std::printf(" not measured\n");
            continue;
        }
        std::printf(" %10.2f", lags->first);
        if (lags->median) {
            std::printf(" %8.2f %6.2f", *lags->median, *lags->max);
        } else {
            std::printf("  (no tone %.0f s after the press)", kSettleSeconds);
        }
        if (player->liveEdge && lags->max) {
            std::printf("  target %s", *lags->max <= kTargetSeconds ? "met" : "NOT met");
        }
        std::printf("\n");
    }
}

int run(int argc, char** argv) {
    const double length = argc > 1 ? std::atof(argv[1]) : 40;
    const std::string only = argc > 2 ? argv[2] : "";
    const fs::path dir = fs::temp_directory_path() / ("orvento-lag-" + std::to_string(getpid()));
    fs::create_directories(dir);
    SoundServer server(dir);
    if (!server.ready()) {
        std::printf("no PulseAudio daemon could be started (pulseaudio, pulseaudio-utils)\n%s\n",
                    readFile(dir / "pulseaudio.log").c_str());
        return 1;
    }
    site::SiteOptions options;
    options.folder = ORVENTO_STATION_SITE_DIR;
    options.burstBytes = site::kDefaultBurstBytes;
    site::StationSite site(options);

    // orvento-play takes its PulseAudio output when SDL_AUDIODRIVER is not set.
    const Env pulse = server.env({{"SDL_AUDIODRIVER", std::nullopt}});
    fs::create_directories(dir / "config");
    const Env window = server.env({{"SDL_AUDIODRIVER", std::nullopt},
                                   {"QT_QPA_PLATFORM", "offscreen"},
                                   {"XDG_CONFIG_HOME", (dir / "config").string()},
                                   {"ORVENTO_CATALOGUE_URL", site.baseUrl()},
                                   {"ORVENTO_WEATHER_URL", site.baseUrl()},
                                   {"ORVENTO_DIRECTORY_URL", site.baseUrl()},
                                   {"XDG_CACHE_HOME", (dir / "cache").string()}});
    const std::string play = ORVENTO_PLAY_PATH;
    const std::vector<Player> players{
        {"orvento-play --live-edge 1.5", {play, kUrl, "--live-edge", "1.5"}, pulse, true},
        {"orvento-play --live-edge auto", {play, kUrl, "--live-edge", "auto"}, pulse, true},
        {"orvento-play (no live edge)", {play, kUrl}, pulse},
        {"the Orvento window (live edge on by default)", {ORVENTO_WINDOW_PATH, kUrl}, window, true},
        {"mpg123 -o pulse", {"mpg123", "-q", "-o", "pulse", kUrl}, pulse},
        {"mpv --no-video --ao=pulse",
         {"mpv", "--no-video", "--ao=pulse", "--really-quiet", kUrl},
         pulse},
        {"ffmpeg -f pulse",
         {"ffmpeg", "-nostdin", "-loglevel", "error", "-i", kUrl, "-f", "pulse", "orvento-lag"},
         pulse},
    };

    std::printf(
        "how far behind live each player plays: the marker station (16 kbit/s MP3, a tone\n"
        "every 10 s) from a server that sends a %llu KiB burst (%.1f s of audio) on\n"
        "connecting, then paces in real time; heard at a PulseAudio null sink (%d Hz), %.0f s "
        "each\n"
        "target: Orvento with live edge at most %.1f s behind live from %.0f s after the press "
        "(peers: about %.0f s)\n",
        static_cast<unsigned long long>(options.burstBytes / 1024),
        static_cast<double>(options.burstBytes) / site.markerStation().bytesPerSecond, kSinkRate,
        length, kTargetSeconds, kSettleSeconds,
        static_cast<double>(options.burstBytes) / site.markerStation().bytesPerSecond);
    std::vector<std::pair<const Player*, std::optional<Lags>>> results;
    for (const Player& player : players) {
        if (player.name.find(only) != std::string::npos) {
            results.emplace_back(&player, measure(player, site, server, dir, length));
        }
    }
    printSummary(results);
    fs::remove_all(dir);
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    return orvento::bench::run(argc, argv);
}
