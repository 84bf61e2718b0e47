// orvento_bench_live [PLAYER [PHASE]]: live without losing a word, side by
// side.
//
// A station on 127.0.0.1 says words (make-live-recording: each word a tone,
// so that every word heard is known) at its own pace as a live source: its
// live point moves with the clock whether anyone listens, and every
// connection gets a 32 s burst. Each player listens to a station of its own,
// all at once, with a PulseAudio daemon and null sink of its own whose
// monitor is recorded:
//   1. a steady network, 90 s;
//   2. a network with stalls of 1 to 4 s every 20 to 30 s and three drops
//      (every connection closed; back after 3, 6 and 12 s), 320 s.
// Players: orvento-play --live-edge auto --reconnect, orvento-play with the
// fixed edge (--live-edge 1.5 --reconnect) and mpg123 in a shell loop that
// starts it again after a drop; PLAYER runs only those whose name contains
// it, PHASE only the phase so named. For each: the transmissions said after
// the press heard whole (every word, in order) and the words lost; the lag
// to live (a word's arrival at the sink less the moment it went out live)
// from 3 s after the press, its median and worst, and after each stall and
// drop how far it rose and how long it took to settle; pauses heard inside
// transmissions; for Orvento, what catching up cost (quiet left out, speech
// played faster, the fastest speed) and its CPU. Then the CPU of the
// catch-up alone over the station's decoded audio, as a share of a core.
// Prints figures; asserts nothing. With ORVENTO_BENCH_KEEP set, each
// player's folder is kept, with heard.txt: every word heard and the word
// said it was taken for.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/ChildProcess.h"
#include "bench/common/SoundServer.h"
#include "bench/live/LiveSource.h"
#include "bench/live/Words.h"
#include "engine/player/CatchUp.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kBytesPerSecond = 2000;    // 16 kbit/s
constexpr std::size_t kFrameBytes = 72;     // 576 samples at 16 kHz
constexpr std::size_t kBurstBytes = 64000;  // 32 s
// The station has been on the air this long at the press.
constexpr double kOnAirSeconds = 40;
// Lags from this long after the press count: a player has started by then.
constexpr double kSettleSeconds = 3;
constexpr double kMedianTarget = 5;
constexpr double kWorstTarget = 20;
constexpr double kCpuTargetPercent = 0.2;
// The catch-up's target when its CPU is measured alone.
constexpr double kTargetSeconds = 1.5;
constexpr const char* kUrl = "URL";

struct Player {
    std::string name;
    std::vector<std::string> args;
    bool orvento = false;
};

struct Phase {
    std::string name;
    double seconds = 0;
    LiveSchedule schedule;
};

struct Outcome {
    Hearing hearing;
    std::vector<TimedWord> heard;
    Usage usage;
    int connections = 0;
    std::string log;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Plays `phase` with every player at once; an outcome per player (none for
// one that could not be started).
std::vector<std::optional<Outcome>> play(const Phase& phase, const std::vector<Player>& players,
                                         const std::string& stream, const LiveWords& words,
                                         const fs::path& dir) {
    std::vector<std::unique_ptr<SoundServer>> servers;
    std::vector<std::unique_ptr<Recording>> recordings;
    std::vector<std::unique_ptr<LiveSource>> sources;
    std::vector<std::unique_ptr<Child>> children;
    for (std::size_t i = 0; i < players.size(); ++i) {
        const fs::path own = dir / (phase.name + "-" + std::to_string(i));
        fs::create_directories(own);
        servers.push_back(std::make_unique<SoundServer>(own));
        if (!servers.back()->ready()) {
            std::printf("no PulseAudio daemon could be started for %s\n%s\n",
                        players[i].name.c_str(), readFile(own / "pulseaudio.log").c_str());
            return {};
        }
        recordings.push_back(std::make_unique<Recording>(*servers.back(), own / "parec.log"));
    }
    // The sound servers and recordings take seconds to start: the station's
    // clock starts once they have.
    const Clock::time_point press = Clock::now() + std::chrono::milliseconds(200);
    const Clock::time_point origin = press - std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(kOnAirSeconds));
    for (std::size_t i = 0; i < players.size(); ++i) {
        sources.push_back(std::make_unique<LiveSource>(
            LiveSource::Station{stream, kBytesPerSecond, kFrameBytes, kBurstBytes}, origin, press,
            phase.schedule));
    }
    std::this_thread::sleep_until(press);
    for (std::size_t i = 0; i < players.size(); ++i) {
        std::vector<std::string> args = players[i].args;
        for (std::string& a : args) {
            if (a == kUrl) {
                a = sources[i]->url();
            }
        }
        const Env pulse = servers[i]->env({{"SDL_AUDIODRIVER", std::nullopt}});
        children.push_back(std::make_unique<Child>(
            args, pulse, dir / (phase.name + "-" + std::to_string(i)) / "player.log"));
    }
    std::this_thread::sleep_until(press + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(phase.seconds)));
    std::vector<std::optional<Outcome>> outcomes;
    std::vector<double> saidAt;
    for (const SaidWord& w : words.words) {
        saidAt.push_back(w.start - kOnAirSeconds);
    }
    for (std::size_t i = 0; i < players.size(); ++i) {
        if (!children[i]->running()) {
            outcomes.emplace_back();
            continue;
        }
        Outcome outcome;
        outcome.usage = children[i]->reap(SIGTERM);
        outcome.connections = sources[i]->connections();
        outcome.log = readFile(dir / (phase.name + "-" + std::to_string(i)) / "player.log");
        for (const HeardWord& w : findWords(recordings[i]->samples(), words.tonesHz)) {
            outcome.heard.push_back({w.tone,
                                     seconds(recordings[i]->arrivalOf(w.firstFrame) - press),
                                     seconds(recordings[i]->arrivalOf(w.lastFrame) - press)});
        }
        outcome.hearing = hear(words.words, saidAt, outcome.heard);
        if (std::getenv("ORVENTO_BENCH_KEEP") != nullptr) {
            // What was heard and what it was taken for, to look into.
            std::ofstream out(dir / (phase.name + "-" + std::to_string(i)) / "heard.txt");
            std::vector<std::optional<std::size_t>> as(outcome.heard.size());
            for (const Hearing::Pair& p : outcome.hearing.pairs) {
                as[p.heard] = p.said;
            }
            for (std::size_t h = 0; h < outcome.heard.size(); ++h) {
                out << outcome.heard[h].at << ' ' << outcome.heard[h].end << ' '
                    << outcome.heard[h].tone;
                if (as[h]) {
                    out << " said " << *as[h] << " (transmission "
                        << words.words[*as[h]].transmission << ") at " << saidAt[*as[h]];
                }
                out << '\n';
            }
        }
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

struct Lags {
    double median = 0;
    double worst = 0;
};

// (heard at, lag) of each word paired, from kSettleSeconds on.
std::vector<std::pair<double, double>> lagsOf(const Outcome& o) {
    std::vector<std::pair<double, double>> lags;
    for (const Hearing::Pair& p : o.hearing.pairs) {
        if (o.heard[p.heard].at >= kSettleSeconds) {
            lags.emplace_back(o.heard[p.heard].at, p.lag);
        }
    }
    return lags;
}

std::optional<Lags> summarize(const Outcome& o) {
    const auto lags = lagsOf(o);
    if (lags.empty()) {
        return std::nullopt;
    }
    std::vector<double> values;
    for (const auto& [at, lag] : lags) {
        values.push_back(lag);
    }
    return Lags{median(values), *std::max_element(values.begin(), values.end())};
}

// Around each stall and drop: the lag before, the most after, and how long
// after the network came back it settled (within 0.5 s of the least lag of
// the 40 s after).
void printEvents(const Phase& phase, const Outcome& o) {
    const auto lags = lagsOf(o);
    struct Event {
        const char* kind;
        Outage outage;
    };
    std::vector<Event> events;
    for (const Outage& s : phase.schedule.stalls) {
        events.push_back({"stall", s});
    }
    for (const Outage& d : phase.schedule.drops) {
        events.push_back({"drop", d});
    }
    std::sort(events.begin(), events.end(),
              [](const Event& a, const Event& b) { return a.outage.at < b.outage.at; });
    if (events.empty()) {
        return;
    }
    std::printf("    %-6s %6s %6s   %10s %10s %14s\n", "", "at", "for", "lag before", "most after",
                "settled after");
    for (const Event& e : events) {
        const double back = e.outage.at + e.outage.seconds;
        std::vector<double> before;
        double most = -1;
        double least = 1e9;
        for (const auto& [at, lag] : lags) {
            if (at >= e.outage.at - 10 && at < e.outage.at) {
                before.push_back(lag);
            }
            if (at >= back && at < back + 40) {
                most = std::max(most, lag);
                least = std::min(least, lag);
            }
        }
        std::optional<double> settled;
        for (const auto& [at, lag] : lags) {
            if (at >= back && at < back + 40 && lag <= least + 0.5) {
                settled = at - back;
                break;
            }
        }
        std::printf("    %-6s %5.0fs %5.1fs   ", e.kind, e.outage.at, e.outage.seconds);
        if (before.empty()) {
            std::printf("%10s ", "-");
        } else {
            std::printf("%9.1fs ", median(before));
        }
        if (most < 0) {
            std::printf("%10s %14s\n", "-", "-");
        } else {
            std::printf("%9.1fs %13.1fs\n", most, settled.value_or(-1));
        }
    }
}

// orvento-play's last words on catching up, when it said them.
std::string caughtUpLine(const std::string& log) {
    const std::size_t at = log.find("caught up: ");
    if (at == std::string::npos) {
        return {};
    }
    return log.substr(at, log.find('\n', at) - at);
}

void report(const Phase& phase, const std::vector<Player>& players,
            const std::vector<std::optional<Outcome>>& outcomes) {
    std::printf("\n%s (%.0f s)\n", phase.name.c_str(), phase.seconds);
    for (std::size_t i = 0; i < players.size(); ++i) {
        std::printf("  %s\n", players[i].name.c_str());
        if (i >= outcomes.size() || !outcomes[i]) {
            std::printf("    not measured\n");
            continue;
        }
        const Outcome& o = *outcomes[i];
        const Hearing& h = o.hearing;
        std::printf(
            "    connections %d; words heard %zu, paired %zu; transmissions said after the "
            "press and reached: %zu, heard whole %zu; words lost %zu of %zu; heard again %zu; "
            "pauses inside transmissions %zu\n",
            o.connections, o.heard.size(), h.pairs.size(), h.transmissions, h.whole, h.wordsLost,
            h.words, h.heardAgain, h.pauses);
        if (const auto lags = summarize(o)) {
            std::printf(
                "    lag to live from %.0f s after the press: median %.1f s, worst %.1f s\n",
                kSettleSeconds, lags->median, lags->worst);
        }
        printEvents(phase, o);
        if (players[i].orvento) {
            const std::string line = caughtUpLine(o.log);
            if (!line.empty()) {
                std::printf("    %s\n", line.c_str());
            }
            std::printf("    CPU %.2f s: %.3f %% of a core\n", o.usage.cpuSeconds,
                        100 * o.usage.cpuSeconds / phase.seconds);
        }
    }
}

// The catch-up alone, over the station's decoded audio: passing it through
// (not behind) and shedding all the while (far behind). CPU per second of
// audio, as a percentage of a core.
void measureCatchUpCpu(const fs::path& mp3) {
    recordings::Pcm pcm;
    std::string error;
    if (!recordings::decode(mp3.string(), pcm, error)) {
        std::printf("\ncatch-up CPU: cannot decode %s: %s\n", mp3.c_str(), error.c_str());
        return;
    }
    const PcmFormat format{pcm.sampleRate, pcm.channels};
    std::printf(
        "\nCPU of the catch-up alone (detector, policy, time scaling), %.0f s of the "
        "station at %d Hz\n",
        pcm.seconds(), pcm.sampleRate);
    for (const auto& [what, backlog] :
         {std::pair{"in step (nothing to shed)", 0.0}, std::pair{"far behind (shedding)", 60.0}}) {
        CatchUpStage stage(kTargetSeconds);
        std::vector<float> out;
        timespec begin{};
        timespec end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
        constexpr std::size_t kBlock = 1152;
        const auto channels = static_cast<std::size_t>(pcm.channels);
        for (std::size_t at = 0; at < pcm.samples.size(); at += kBlock * channels) {
            const std::size_t n = std::min(kBlock * channels, pcm.samples.size() - at);
            out.clear();
            stage.process(format, std::span(pcm.samples).subspan(at, n), out, backlog);
        }
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        const double cpu = static_cast<double>(end.tv_sec - begin.tv_sec) +
                           static_cast<double>(end.tv_nsec - begin.tv_nsec) * 1e-9;
        std::printf("  %-26s %.3f %% of a core (target at most %.1f %%): %s\n", what,
                    100 * cpu / pcm.seconds(), kCpuTargetPercent,
                    100 * cpu / pcm.seconds() <= kCpuTargetPercent ? "met" : "NOT met");
    }
}

void printSummary(const std::vector<Phase>& phases, const std::vector<Player>& players,
                  const std::vector<std::vector<std::optional<Outcome>>>& results) {
    std::printf(
        "\nside by side (lag from %.0f s after the press; targets for Orvento: 0 words "
        "lost, median lag at most %.0f s, worst at most %.0f s)\n",
        kSettleSeconds, kMedianTarget, kWorstTarget);
    std::printf("  %-8s %-40s %9s %11s %8s %7s %7s %s\n", "", "", "whole", "words lost", "median",
                "worst", "pauses", "caught up");
    for (std::size_t p = 0; p < phases.size(); ++p) {
        for (std::size_t i = 0; i < players.size(); ++i) {
            std::printf("  %-8s %-40s", phases[p].name.c_str(), players[i].name.c_str());
            if (i >= results[p].size() || !results[p][i]) {
                std::printf(" not measured\n");
                continue;
            }
            const Outcome& o = *results[p][i];
            const auto lags = summarize(o);
            std::printf(" %4zu/%-4zu %5zu/%-5zu %7.1fs %6.1fs %7zu", o.hearing.whole,
                        o.hearing.transmissions, o.hearing.wordsLost, o.hearing.words,
                        lags ? lags->median : -1, lags ? lags->worst : -1, o.hearing.pauses);
            const std::string line = caughtUpLine(o.log);
            std::printf(" %s\n", line.empty() ? "" : line.c_str() + 11);
        }
    }
}

int run(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const std::string onlyPhase = argc > 2 ? argv[2] : "";
    const char* dataDir = std::getenv("ORVENTO_BENCH_DATA");
    const fs::path data = dataDir != nullptr ? dataDir : ORVENTO_BENCH_DATA_DIR;
    if (!fs::exists(data / "live.words")) {
        const std::string command =
            std::string(ORVENTO_LIVE_RECORDING_SCRIPT) + " '" + data.string() + "'";
        if (std::system(command.c_str()) != 0) {
            std::printf("cannot make the station (needs python3, lame): %s\n", command.c_str());
            return 1;
        }
    }
    std::string error;
    const std::optional<LiveWords> words = loadWords((data / "live.words").string(), error);
    if (!words) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    const std::string stream = readBytes(data / "live.mp3");

    const std::string tool = ORVENTO_PLAY_PATH;
    std::vector<Player> players{
        {"orvento-play --live-edge auto --reconnect",
         {tool, kUrl, "--live-edge", "auto", "--reconnect"},
         true},
        {"orvento-play --live-edge 1.5 --reconnect",
         {tool, kUrl, "--live-edge", "1.5", "--reconnect"},
         true},
        // mpg123 ends when its stream does: the loop is its reconnection.
        {"mpg123 -o pulse, started again after a drop",
         {"sh", "-c",
          "trap 'kill $p 2>/dev/null; exit 0' TERM; "
          "while :; do mpg123 -q -o pulse \"$0\" & p=$!; wait $p; sleep 1; done",
          kUrl}},
    };
    std::erase_if(players, [&](const Player& p) { return p.name.find(only) == std::string::npos; });

    const std::vector<Phase> phases{
        {"steady", 90, {}},
        {"stalls",
         320,
         {{{22, 1.5}, {47, 3}, {72, 2}, {124, 4}, {150, 1}, {201, 2.5}, {228, 3.5}, {282, 2}},
          {{97, 3}, {174, 6}, {252, 12}}}},
    };
    std::printf(
        "live without losing a word: a 16 kbit/s station of tone words (%zu words in %d "
        "transmissions) relayed live from 127.0.0.1, a %zu KiB burst (%.0f s) on every "
        "connection; each player on a sound server of its own, all at once\n",
        words->words.size(), words->words.back().transmission + 1, kBurstBytes / 1024,
        static_cast<double>(kBurstBytes) / kBytesPerSecond);
    const fs::path dir = fs::temp_directory_path() / ("orvento-live-" + std::to_string(getpid()));
    std::vector<std::vector<std::optional<Outcome>>> results;
    std::vector<Phase> phasesRun;
    for (const Phase& phase : phases) {
        if (phase.name.find(onlyPhase) == std::string::npos) {
            continue;
        }
        phasesRun.push_back(phase);
        results.push_back(play(phase, players, stream, *words, dir));
        report(phase, players, results.back());
        std::fflush(stdout);
    }
    printSummary(phasesRun, players, results);
    measureCatchUpCpu(data / "live.mp3");
    if (std::getenv("ORVENTO_BENCH_KEEP") == nullptr) {
        fs::remove_all(dir);
    } else {
        std::printf("\nkept in %s\n", dir.c_str());
    }
    return 0;
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    return orvento::bench::run(argc, argv);
}
