// orvento_bench_sound [SECONDS [PART]]: the sound path through a real sound server.
// Starts a PulseAudio daemon of its own with a null sink (a private runtime
// folder; nothing of the desktop's is touched), serves 16 kbit/s stations
// from a loopback server, and prints, beside mpg123 on the same stations in
// the same run:
//   - one stream for SECONDS (60 by default) into the sink: orvento-play
//     through its PulseAudio output and through SDL's PulseAudio driver,
//     mpg123 -o pulse; CPU seconds (user + system) and peak memory;
//   - the same into nothing: orvento-play --null, mpg123 -o dummy;
//   - how long after an immediate stop (Ctrl-C) the sink still plays;
//   - six feeds for SECONDS: one process mixing them (the monitor's way),
//     one process with a device stream per feed, six mpg123; and one feed
//     alone, for what each further feed costs in memory;
//   - a feed that stalls and one that fails beside a steady one: gaps in the
//     steady feed's audio at the sink;
//   - a tone under a priority feed of speech: how far the tone is ducked;
//   - the window playing one station, and its monitor playing six feeds
//     (and one), beside as many mpg123: the whole process's CPU after a
//     warm-up, resident and peak memory, what each further feed costs;
//   - three tones (400, 800, 1600 Hz) panned left, centre and right: each
//     tone's level in the sink's left and right channels, then with the
//     centre feed muted, then with the right one soloed.
// Prints figures; asserts nothing.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
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
using loopback::Script;

// Makes (once) a 16 kbit/s MP3 of a tone, 90 s long, with sox and lame.
fs::path toneMp3(const fs::path& dir, int frequency) {
    const fs::path mp3 = dir / ("tone-" + std::to_string(frequency) + ".mp3");
    if (fs::exists(mp3)) {
        return mp3;
    }
    fs::create_directories(dir);
    const std::string wav = (dir / "tone.wav").string();
    const std::string make = "sox -q -n -r 16000 -c 1 '" + wav + "' synth 90 sine " +
                             std::to_string(frequency) + " vol 0.3 && lame --quiet -b 16 -m m '" +
                             wav + "' '" + mp3.string() + "'";
    if (std::system(make.c_str()) != 0) {
        throw std::runtime_error("cannot make the tone MP3 with sox and lame");
    }
    fs::remove(wav);
    return mp3;
}

void printUsage(const std::string& name, const Usage& u, const Usage* peer, double seconds) {
    std::printf("  %-34s CPU %6.3f s (%5.2f%% of a core)   peak memory %6.1f MiB", name.c_str(),
                u.cpuSeconds, 100 * u.cpuSeconds / seconds, u.peakMiB);
    if (peer != nullptr && peer->cpuSeconds > 0) {
        std::printf("   CPU x%.2f, memory x%.2f of mpg123", u.cpuSeconds / peer->cpuSeconds,
                    u.peakMiB / peer->peakMiB);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Runs the commands together for `seconds` and returns each one's usage.
std::vector<Usage> runTogether(const std::vector<std::pair<std::vector<std::string>, Env>>& runs,
                               const fs::path& dir, double seconds) {
    std::vector<std::unique_ptr<Child>> children;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        children.push_back(std::make_unique<Child>(runs[i].first, runs[i].second,
                                                   dir / ("run-" + std::to_string(i) + ".log")));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::vector<Usage> usage;
    for (auto& child : children) {
        usage.push_back(child->reap(SIGTERM));
    }
    return usage;
}

Usage sum(const std::vector<Usage>& all, std::size_t from, std::size_t count) {
    Usage total;
    for (std::size_t i = from; i < from + count; ++i) {
        total.cpuSeconds += all[i].cpuSeconds;
        total.peakMiB += all[i].peakMiB;
    }
    return total;
}

// Milliseconds from a stop (`signal` to `player`, which plays a tone) to
// silence at the sink.
std::optional<double> stopToSilence(const SoundServer& server,
                                    const std::vector<std::string>& player, const Env& env,
                                    int signal, const fs::path& dir) {
    const fs::path log = dir / "stop.log";
    fs::remove(log);
    Recording recording(server, dir / "parec.log");
    Child play(player, env, log);
    // Playing for three seconds by then.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const auto stopAt = Clock::now();
    play.signal(signal);
    play.reap(0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::vector<float> samples = recording.samples();
    const std::size_t stopFrame = recording.frameAt(stopAt);
    // Windows of 5 ms: the last one still holding the tone.
    const std::size_t window = kSinkRate / 200;
    const double steady = toneDb(samples, 0, stopFrame - kSinkRate / 2, kSinkRate / 4, 400);
    std::size_t last = stopFrame;
    for (std::size_t f = stopFrame - window; 2 * (f + window) <= samples.size(); f += window) {
        double power = 0;
        for (std::size_t i = f; i < f + window; ++i) {
            power += samples[2 * i] * samples[2 * i];
        }
        const double rmsDb = 10 * std::log10(std::max(power / window, 1e-18)) + 3.01;
        if (rmsDb > steady - 30) {
            last = f + window;
        }
    }
    return 1000.0 * (static_cast<double>(last) - static_cast<double>(stopFrame)) / kSinkRate;
}

int run(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    // A second argument runs only the parts whose names contain it: sink,
    // null, stop, six, window, gaps, duck, tones.
    const std::string only = argc > 2 ? argv[2] : "";
    const auto wanted = [&only](const std::string& part) {
        return part.find(only) != std::string::npos;
    };
    const fs::path dir = fs::temp_directory_path() / ("orvento-sound-" + std::to_string(getpid()));
    fs::create_directories(dir);
    SoundServer server(dir);
    if (!server.ready()) {
        std::printf("no PulseAudio daemon could be started (pulseaudio, pulseaudio-utils)\n%s\n",
                    readFile(dir / "pulseaudio.log").c_str());
        return 1;
    }
    const fs::path data = ORVENTO_BENCH_DATA_DIR;
    const fs::path site = ORVENTO_STATION_SITE_DIR;
    LoopbackServer stations;
    stations.setScript("/ground.mp3", liveStation(site / "ground.mp3"));
    stations.setScript("/atis.mp3", liveStation(site / "atis.mp3"));
    for (int tone : {400, 800, 1600}) {
        stations.setScript("/tone-" + std::to_string(tone) + ".mp3",
                           liveStation(toneMp3(data, tone)));
    }
    // These two send no burst, so their audio ends 4 and 6 s in.
    Script stalls = liveStation(toneMp3(data, 800), 0);
    stalls.stallAfter(8000);
    stations.setScript("/stalls.mp3", stalls);
    Script fails = liveStation(toneMp3(data, 1600), 0);
    fails.closeAfter(12000);
    stations.setScript("/fails.mp3", fails);
    const std::string ground = stations.url("/ground.mp3");
    const std::string play = ORVENTO_PLAY_PATH;
    const std::string feeds = ORVENTO_FEEDS_PATH;
    // The PulseAudio output is taken when SDL_AUDIODRIVER is not set; SDL's
    // own PulseAudio driver when it names it.
    const Env pulse = server.env({{"SDL_AUDIODRIVER", std::nullopt}});
    const Env sdlPulse = server.env({{"SDL_AUDIODRIVER", "pulseaudio"}});

    std::printf("PulseAudio null sink %s (%d Hz stereo), stations of 16 kbit/s MP3 in real time\n",
                kSink, kSinkRate);
    if (wanted("sink")) {
        std::printf(
            "\none stream into the sink for %.0f s, all at once on the site's ground station\n",
            seconds);
        std::vector<Usage> one = runTogether({{{play, ground}, pulse},
                                              {{play, ground}, sdlPulse},
                                              {{"mpg123", "-q", "-o", "pulse", ground}, pulse}},
                                             dir, seconds);
        printUsage("mpg123 -o pulse", one[2], nullptr, seconds);
        printUsage("orvento-play (PulseAudio output)", one[0], &one[2], seconds);
        printUsage("orvento-play (SDL's pulseaudio)", one[1], &one[2], seconds);
        std::printf("  (target for orvento-play: at most 1.5x mpg123's CPU)\n");
    }

    if (wanted("null")) {
        std::printf("\none stream into nothing for %.0f s\n", seconds);
        std::vector<Usage> none = runTogether(
            {{{play, ground, "--null"}, pulse}, {{"mpg123", "-q", "-o", "dummy", ground}, pulse}},
            dir, seconds);
        printUsage("mpg123 -o dummy", none[1], nullptr, seconds);
        printUsage("orvento-play --null", none[0], &none[1], seconds);
        std::printf(
            "  (targets for orvento-play: at most mpg123's CPU, at most 8 MiB peak memory)\n");
    }

    if (wanted("stop")) {
        std::printf(
            "\nan immediate stop while a tone plays: how long the sink still sounds\n"
            "(read at the sink's monitor, to within about 10 ms; a killed mpg123, whose\n"
            "stream the server drops at once, is the reference; target: within 50 ms)\n");
        const std::string tone = stations.url("/tone-400.mp3");
        const std::vector<std::string> mpg123{"mpg123", "-q", "-o", "pulse", tone};
        for (const auto& [name, args, env, signal] :
             {std::tuple{"mpg123 killed", mpg123, pulse, SIGKILL},
              std::tuple{"orvento-play, PulseAudio output", std::vector<std::string>{play, tone},
                         pulse, SIGINT},
              std::tuple{"orvento-play, SDL's pulseaudio", std::vector<std::string>{play, tone},
                         sdlPulse, SIGINT}}) {
            std::vector<double> ms;
            for (int i = 0; i < 3; ++i) {
                if (auto t = stopToSilence(server, args, env, signal, dir)) {
                    ms.push_back(*t);
                }
            }
            std::sort(ms.begin(), ms.end());
            std::printf("  %-32s median %5.0f ms (min %.0f, max %.0f)\n", name, ms[1], ms[0],
                        ms[2]);
        }
        std::fflush(stdout);
    }

    if (wanted("six")) {
        std::printf("\nsix feeds into the sink for %.0f s (ground and ATIS, three each), at once\n",
                    seconds);
        std::vector<std::string> mix{feeds};
        std::vector<std::string> perFeed{feeds, "--streams"};
        std::vector<std::pair<std::vector<std::string>, Env>> runs;
        for (int i = 0; i < 6; ++i) {
            const std::string url = stations.url(i % 2 == 0 ? "/ground.mp3" : "/atis.mp3");
            mix.push_back(url);
            perFeed.push_back(url);
            runs.push_back({{"mpg123", "-q", "-o", "pulse", url}, pulse});
        }
        runs.push_back({mix, pulse});
        runs.push_back({perFeed, pulse});
        runs.push_back({{feeds, ground}, pulse});
        std::vector<Usage> six = runTogether(runs, dir, seconds);
        const Usage mpg123Six = sum(six, 0, 6);
        printUsage("6 x mpg123 -o pulse (summed)", mpg123Six, nullptr, seconds);
        printUsage("one process, one mix (the monitor)", six[6], &mpg123Six, seconds);
        printUsage("one process, a stream per feed", six[7], &mpg123Six, seconds);
        printUsage("one process, one feed", six[8], nullptr, seconds);
        std::printf("  each feed beyond the first: %.2f MiB (target: at most 2 MiB)\n",
                    (six[6].peakMiB - six[8].peakMiB) / 5);
    }

    if (wanted("window")) {
        std::printf(
            "\nthe window (offscreen) into the sink, %.0f s after a 5 s warm-up, beside mpg123 on\n"
            "as many streams (whole processes; mpg123 over its whole run of %.0f s)\n",
            seconds, seconds + 5);
        const std::string window = ORVENTO_WINDOW_PATH;
        fs::create_directories(dir / "config");
        const Env windowEnv = server.env({{"SDL_AUDIODRIVER", std::nullopt},
                                          {"QT_QPA_PLATFORM", "offscreen"},
                                          {"XDG_CONFIG_HOME", (dir / "config").string()},
                                          {"ORVENTO_CATALOGUE_URL", stations.url("")},
                                          {"ORVENTO_WEATHER_URL", stations.url("")},
                                          {"ORVENTO_DIRECTORY_URL", stations.url("")},
                                          {"XDG_CACHE_HOME", (dir / "cache").string()}});
        // The window's own figures, from its warm-up's end: CPU and wall
        // seconds, resident and peak KiB, streams playing; the logs go for
        // the next run.
        const auto windowFigures = [&dir](std::size_t run, std::size_t runs) {
            const std::string log = readFile(dir / ("run-" + std::to_string(run) + ".log"));
            const std::optional<WindowFigures> f = readWindowFigures(log);
            if (!f) {
                std::printf("  the window gave no figures:\n%s\n", log.c_str());
            }
            for (std::size_t i = 0; i < runs; ++i) {
                fs::remove(dir / ("run-" + std::to_string(i) + ".log"));
            }
            return f;
        };
        const auto printWindow = [&](const char* name, const WindowFigures& f, const Usage& mpg123,
                                     const char* target) {
            const double share = f.cpuSeconds / f.wallSeconds;
            std::printf(
                "  %-30s %5.2f%% of a core (target: under %s)   resident %5.1f MiB, peak %5.1f "
                "MiB   CPU x%.2f of mpg123   (%d playing at the end)\n",
                name, 100 * share, target, f.residentKiB / 1024, f.peakKiB / 1024,
                share / std::max(mpg123.cpuSeconds / (seconds + 5), 1e-9), f.playing);
        };
        const std::vector<Usage> one = runTogether(
            {{{window, ground}, windowEnv}, {{"mpg123", "-q", "-o", "pulse", ground}, pulse}}, dir,
            seconds + 5);
        const auto oneStation = windowFigures(0, 2);
        printUsage("mpg123 -o pulse", one[1], nullptr, seconds + 5);
        if (oneStation) {
            printWindow("the window, one station", *oneStation, one[1], "1 %");
        }
        std::vector<std::pair<std::vector<std::string>, Env>> runs;
        std::vector<std::string> six{window, "--monitor"};
        // A station each (the monitor takes a station once): ground and ATIS, three each.
        for (int i = 0; i < 6; ++i) {
            const std::string path = "/feed-" + std::to_string(i) + ".mp3";
            stations.setScript(path, liveStation(site / (i % 2 == 0 ? "ground.mp3" : "atis.mp3")));
            six.push_back(stations.url(path));
            runs.push_back({{"mpg123", "-q", "-o", "pulse", six.back()}, pulse});
        }
        runs.push_back({six, windowEnv});
        runs.push_back({{window, "--monitor", six[2]}, windowEnv});
        const std::vector<Usage> many = runTogether(runs, dir, seconds + 5);
        const auto sixFeeds = windowFigures(6, 0);
        const auto oneFeed = windowFigures(7, runs.size());
        const Usage mpg123Six = sum(many, 0, 6);
        printUsage("6 x mpg123 -o pulse (summed)", mpg123Six, nullptr, seconds + 5);
        if (sixFeeds) {
            printWindow("the window, six monitor feeds", *sixFeeds, mpg123Six, "2 %");
        }
        if (oneFeed) {
            printWindow("the window, one monitor feed", *oneFeed, many[0], "1 %");
        }
        if (sixFeeds && oneFeed) {
            std::printf(
                "  resident memory under 120 MiB with six feeds: %s; each feed beyond the first: "
                "%.2f MiB resident (target: at most 2 MiB)\n",
                sixFeeds->residentKiB / 1024 < 120 ? "yes" : "NO",
                (sixFeeds->residentKiB - oneFeed->residentKiB) / 1024 / 5);
        }
    }

    if (wanted("gaps")) {
        std::printf(
            "\na steady 400 Hz feed (left) beside one that stalls after 4 s (800 Hz, right)\n"
            "and one whose station hangs up after 6 s (1600 Hz, centre), 14 s at the sink\n");
        Recording recording(server, dir / "parec.log");
        Child mixer({feeds, stations.url("/tone-400.mp3") + ",0,-1",
                     stations.url("/stalls.mp3") + ",0,1", stations.url("/fails.mp3") + ",0,0"},
                    pulse, dir / "gaps.log");
        std::this_thread::sleep_for(std::chrono::seconds(14));
        mixer.reap(SIGTERM);
        const std::vector<float> samples = recording.samples();
        const std::size_t window = kSinkRate / 50;  // 20 ms: whole cycles of all three tones
        std::vector<double> levels;
        for (std::size_t f = 0; 2 * (f + window) <= samples.size(); f += window) {
            levels.push_back(toneDb(samples, 0, f, window, 400));
        }
        std::vector<double> sorted = levels;
        std::sort(sorted.begin(), sorted.end());
        const double steady = sorted.empty() ? -200 : sorted[sorted.size() * 3 / 4];
        const auto first =
            std::find_if(levels.begin(), levels.end(), [&](double l) { return l > steady - 3; });
        const auto lastLoud =
            std::find_if(levels.rbegin(), levels.rend(), [&](double l) { return l > steady - 3; });
        int gaps = 0;
        int longest = 0;
        int run = 0;
        for (auto it = first; it != levels.end() && it < lastLoud.base(); ++it) {
            run = *it < steady - 3 ? run + 1 : 0;
            gaps += run == 1 ? 1 : 0;
            longest = std::max(longest, run);
        }
        const double heard = static_cast<double>(lastLoud.base() - first) * 0.02;
        std::printf(
            "  the steady feed: %.1f s heard, %d gaps (longest %d ms; a gap is a 20 ms "
            "window 3 dB below its level)\n",
            heard, gaps, longest * 20);
        const std::size_t lastSeconds = samples.size() / 2 - 3 * kSinkRate;
        std::printf("  in the last 3 s: 800 Hz at %.1f dB (right), 1600 Hz at %.1f dB (left)\n",
                    toneDb(samples, 1, lastSeconds, 2 * kSinkRate, 800),
                    toneDb(samples, 0, lastSeconds, 2 * kSinkRate, 1600));
        std::istringstream said(readFile(dir / "gaps.log"));
        for (std::string line; std::getline(said, line);) {
            if (line.starts_with("feed ")) {
                std::printf("  %s\n", line.c_str());
            }
        }
    }

    if (wanted("duck")) {
        std::printf(
            "\npriority ducking: a steady 400 Hz feed (left) under the site's ground station\n"
            "(right, priority), 20 s at the sink; the tone's level while ground speaks\n"
            "and once it has been quiet for a second\n");
        Recording recording(server, dir / "parec.log");
        Child mixer({feeds, stations.url("/tone-400.mp3") + ",0,-1", ground + ",0,1"}, pulse,
                    dir / "duck.log", true);
        mixer.say("priority 1 1");
        std::this_thread::sleep_for(std::chrono::seconds(20));
        mixer.reap(SIGTERM);
        const std::vector<float> samples = recording.samples();
        const std::size_t window = kSinkRate / 50;
        std::vector<double> speaking;
        std::vector<double> quiet;
        double quietFor = 0;
        for (std::size_t f = 3 * kSinkRate; 2 * (f + window) <= samples.size(); f += window) {
            double power = 0;
            for (std::size_t i = f; i < f + window; ++i) {
                power += samples[2 * i + 1] * samples[2 * i + 1];
            }
            const bool loud = 10 * std::log10(std::max(power / window, 1e-18)) > -40;
            quietFor = loud ? 0 : quietFor + 0.02;
            const double tone = toneDb(samples, 0, f, window, 400);
            if (loud) {
                speaking.push_back(tone);
            } else if (quietFor > 1) {
                quiet.push_back(tone);
            }
        }
        const auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v.empty() ? 0.0 : v[v.size() / 2];
        };
        std::printf(
            "  tone while ground speaks %.1f dB (%zu windows), after a quiet second %.1f dB "
            "(%zu windows): ducked by %.1f dB (target 15)\n",
            median(speaking), speaking.size(), median(quiet), quiet.size(),
            median(quiet) - median(speaking));
    }

    if (wanted("tones")) {
        std::printf(
            "\nthree tone feeds: 400 Hz left, 800 Hz centre, 1600 Hz right (dB at the sink)\n");
        Recording recording(server, dir / "parec.log");
        Child mixer(
            {feeds, stations.url("/tone-400.mp3") + ",0,-1", stations.url("/tone-800.mp3") + ",0,0",
             stations.url("/tone-1600.mp3") + ",0,1"},
            pulse, dir / "tones.log", true);
        waitFor(
            [&] { return readFile(dir / "tones.log").find("feed 2 playing") != std::string::npos; },
            std::chrono::seconds(20));
        std::vector<std::pair<std::string, Clock::time_point>> phases;
        for (const auto& [name, commands] :
             {std::pair<std::string, std::vector<std::string>>{"all three", {}},
              {"centre muted", {"mute 1 1"}},
              {"right soloed", {"mute 1 0", "solo 2 1"}}}) {
            for (const std::string& c : commands) {
                mixer.say(c);
            }
            phases.emplace_back(name, Clock::now());
            std::this_thread::sleep_for(std::chrono::seconds(5));
        }
        mixer.reap(SIGTERM);
        const std::vector<float> samples = recording.samples();
        std::printf("  %-13s %23s %23s %23s\n", "", "400 Hz L / R (L-R)", "800 Hz L / R (L-R)",
                    "1600 Hz L / R (L-R)");
        std::vector<std::array<double, 6>> table;
        for (const auto& [name, at] : phases) {
            const std::size_t from = recording.frameAt(at + std::chrono::milliseconds(2500));
            std::array<double, 6> row{};
            std::printf("  %-13s", name.c_str());
            int column = 0;
            for (double tone : {400.0, 800.0, 1600.0}) {
                const double l = toneDb(samples, 0, from, 2 * kSinkRate, tone);
                const double r = toneDb(samples, 1, from, 2 * kSinkRate, tone);
                row[static_cast<std::size_t>(column++)] = l;
                row[static_cast<std::size_t>(column++)] = r;
                std::printf("   %6.1f / %6.1f (%+5.1f)", l, r, l - r);
            }
            std::printf("\n");
            table.push_back(row);
        }
        if (table.size() == 3) {
            std::printf(
                "  expected: 400 Hz only left, 800 Hz equal (L-R within 1 dB) and 3 dB "
                "below the others, 1600 Hz only right\n");
            std::printf("  muting the centre: 400 Hz %+.2f dB, 1600 Hz %+.2f dB, 800 Hz %+.1f dB\n",
                        table[1][0] - table[0][0], table[1][5] - table[0][5],
                        table[1][2] - table[0][2]);
            std::printf("  soloing the right: 1600 Hz %+.2f dB, 400 Hz %+.1f dB, 800 Hz %+.1f dB\n",
                        table[2][5] - table[0][5], table[2][0] - table[0][0],
                        table[2][2] - table[0][2]);
        }
    }
    fs::remove_all(dir);
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    return orvento::bench::run(argc, argv);
}
