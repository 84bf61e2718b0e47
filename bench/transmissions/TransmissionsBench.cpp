// How well the transmission detector finds the transmissions of recordings
// whose transmissions are known, and what it costs, beside a reference: the
// level of each 10 ms frame against a fixed threshold (-35 dBFS), with the
// same 0.3 s least length and 0.6 s hang.
//
// For each it prints the transmissions found (target: at least 95 %), the
// false detections (at most 5 % of the detections), the boundary errors
// (target: within 0.25 s) and, for the detector, the CPU it takes per
// 16 kbit/s station as a share of one core: alone over decoded audio, and
// together with the decoding a player does anyway.
//
// The recordings (make-transmission-recordings bench: ten of two minutes at
// 8 to 16 kHz, MP3 and AAC at 16 kbit/s) are made on first use in the build
// folder, or in the folder ORVENTO_BENCH_DATA names. Prints figures; asserts
// nothing.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/transmissions/TransmissionDetector.h"
#include "tools/probe/Decode.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace {

using namespace orvento;
using recordings::Pcm;
using recordings::Recording;
using recordings::Span;
namespace fs = std::filesystem;

constexpr double kTolerance = 0.25;
constexpr double kReferenceThresholdDbfs = -35;

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<Span> detect(const Pcm& pcm) {
    std::vector<Span> found;
    TransmissionDetector detector([&found](const TransmissionDetector::Event& event) {
        if (event.kind == TransmissionDetector::Event::Kind::Ended) {
            const Transmission& t = event.transmission;
            found.push_back({t.startSeconds, t.startSeconds + t.durationSeconds});
        }
    });
    // In pieces of a queue buffer's size, as a player's decode path would.
    constexpr std::size_t kBlock = 1152;
    const auto channels = static_cast<std::size_t>(pcm.channels);
    for (std::size_t at = 0; at < pcm.samples.size(); at += kBlock * channels) {
        const std::size_t frames = std::min(kBlock, (pcm.samples.size() - at) / channels);
        detector.feed(pcm.samples.data() + at, frames, pcm.sampleRate, pcm.channels);
    }
    detector.finish();
    return found;
}

// The reference: 10 ms frames at or above the threshold are active; three in a
// row start a transmission, 0.6 s without one ends it at the last, and one
// shorter than 0.3 s is dropped.
std::vector<Span> detectWithFixedThreshold(const Pcm& pcm) {
    std::vector<Span> found;
    const auto frame = static_cast<std::size_t>(pcm.sampleRate / 100);
    const auto channels = static_cast<std::size_t>(pcm.channels);
    const double seconds = static_cast<double>(frame) / pcm.sampleRate;
    int run = 0;
    bool open = false;
    Span current;
    for (std::size_t i = 0; (i + 1) * frame * channels <= pcm.samples.size(); ++i) {
        double sum = 0;
        for (std::size_t s = i * frame * channels; s < (i + 1) * frame * channels; ++s) {
            sum += static_cast<double>(pcm.samples[s]) * pcm.samples[s];
        }
        const double t = static_cast<double>(i) * seconds;
        const bool active =
            10 * std::log10(sum / (frame * channels) + 1e-12) >= kReferenceThresholdDbfs;
        run = active ? run + 1 : 0;
        if (!open && run >= 3) {
            open = true;
            current = {t - 2 * seconds, t + seconds};
        } else if (open && active) {
            current.end = t + seconds;
        } else if (open && t + seconds - current.end >= 0.6) {
            open = false;
            if (current.end - current.start >= 0.3) {
                found.push_back(current);
            }
        }
    }
    if (open && current.end - current.start >= 0.3) {
        found.push_back(current);
    }
    return found;
}

struct Score {
    std::size_t known = 0;
    std::size_t detections = 0;
    std::size_t matched = 0;
    std::vector<double> errors;  // |start| and |end| differences of matched ones

    void add(const std::vector<Span>& truth, const std::vector<Span>& found) {
        known += truth.size();
        detections += found.size();
        for (const auto& m : recordings::match(truth, found)) {
            ++matched;
            errors.push_back(std::fabs(found[m.detection].start - truth[m.truth].start));
            errors.push_back(std::fabs(found[m.detection].end - truth[m.truth].end));
        }
    }
    double foundPercent() const { return known ? 100.0 * matched / known : 0; }
    double falsePercent() const {
        return detections ? 100.0 * (detections - matched) / detections : 0;
    }
    double withinPercent() const {
        const auto n =
            std::count_if(errors.begin(), errors.end(), [](double e) { return e <= kTolerance; });
        return errors.empty() ? 0 : 100.0 * static_cast<double>(n) / errors.size();
    }
};

void printScore(const char* who, Score score) {
    std::sort(score.errors.begin(), score.errors.end());
    double mean = 0;
    for (double e : score.errors) {
        mean += e / score.errors.size();
    }
    const auto quantile = [&](double q) {
        return score.errors.empty()
                   ? 0.0
                   : score.errors[static_cast<std::size_t>(q * (score.errors.size() - 1))];
    };
    std::printf(
        "%-22s found %3zu of %3zu (%5.1f %%), false %3zu of %3zu (%5.1f %%); boundaries within "
        "%.2f s: %5.1f %% (mean %.3f s, 95th percentile %.3f s, largest %.3f s)\n",
        who, score.matched, score.known, score.foundPercent(), score.detections - score.matched,
        score.detections, score.falsePercent(), kTolerance, score.withinPercent(), mean,
        quantile(0.95), quantile(1.0));
}

// CPU seconds of `work` on the clock given, the best of `rounds`.
double bestCpu(clockid_t clock, int rounds, const std::function<void()>& work) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const double begin = cpuSeconds(clock);
        work();
        best = std::min(best, cpuSeconds(clock) - begin);
    }
    return best;
}

}  // namespace

int main() {
    const char* dir = std::getenv("ORVENTO_BENCH_DATA");
    const std::string data = dir != nullptr ? dir : ORVENTO_BENCH_DATA_DIR;
    if (!fs::exists(fs::path(data) / "recordings.list")) {
        std::printf("making the recordings in %s ...\n", data.c_str());
        std::fflush(stdout);
        const std::string command =
            std::string(ORVENTO_TRANSMISSION_RECORDINGS_SCRIPT) + " '" + data + "' bench";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr,
                         "cannot make the recordings (needs espeak-ng, sox, lame, ffmpeg)\n");
            return 1;
        }
    }
    std::vector<Recording> set;
    std::string error;
    if (!recordings::loadSet(data, set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<Pcm> decoded(set.size());
    double audioSeconds = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (!recordings::decode(set[i].path, decoded[i], error)) {
            std::fprintf(stderr, "cannot decode %s: %s\n", set[i].name.c_str(), error.c_str());
            return 1;
        }
        audioSeconds += decoded[i].seconds();
    }

    std::printf("%zu recordings, %.0f s of audio\n\n", set.size(), audioSeconds);
    std::printf("%-22s %5s %5s %5s %7s   %s\n", "recording", "known", "found", "false", "within",
                "reference: found, false, within");
    Score detector;
    Score reference;
    for (std::size_t i = 0; i < set.size(); ++i) {
        const std::vector<Span> found = detect(decoded[i]);
        const std::vector<Span> fixed = detectWithFixedThreshold(decoded[i]);
        Score mine;
        Score theirs;
        mine.add(set[i].truth, found);
        theirs.add(set[i].truth, fixed);
        detector.add(set[i].truth, found);
        reference.add(set[i].truth, fixed);
        std::printf("%-22s %5zu %5zu %5zu %6.1f%%   %zu, %zu, %.1f%%\n", set[i].name.c_str(),
                    mine.known, mine.matched, mine.detections - mine.matched, mine.withinPercent(),
                    theirs.matched, theirs.detections - theirs.matched, theirs.withinPercent());
    }
    std::printf("\n");
    printScore("detector", detector);
    std::printf("%-22s (fixed threshold at %.0f dBFS)\n", "reference", kReferenceThresholdDbfs);
    printScore("", reference);

    // Cost: the detector alone over the decoded audio (this thread's CPU),
    // then decoding through the queue with and without it (the whole
    // process: the queue decodes on a thread of its own).
    const double alone = bestCpu(CLOCK_THREAD_CPUTIME_ID, 3, [&] {
        for (const Pcm& pcm : decoded) {
            detect(pcm);
        }
    });
    const auto decodeAll = [&](bool withDetector) {
        for (const Recording& recording : set) {
            TransmissionDetector detector(nullptr);
            probe::DecodeOptions options;
            options.output.kind = AudioOutputChoice::Kind::Null;
            options.output.realTime = false;
            if (withDetector) {
                options.output.onAudio = [&detector](const float* samples, std::size_t frames,
                                                     int rate, int channels) {
                    detector.feed(samples, frames, rate, channels);
                };
            }
            probe::decodeFile(recording.path, probe::hintFor(recording.path), options);
        }
    };
    const double decoding = bestCpu(CLOCK_PROCESS_CPUTIME_ID, 3, [&] { decodeAll(false); });
    const double both = bestCpu(CLOCK_PROCESS_CPUTIME_ID, 3, [&] { decodeAll(true); });
    const auto share = [&](double cpu) { return 100 * cpu / audioSeconds; };
    std::printf(
        "\nCPU per 16 kbit/s station, share of one core (target for the detector and "
        "the history together: under 0.2 %%):\n");
    std::printf("  detector alone (decoding excluded)   %.4f %%\n", share(alone));
    std::printf("  decoding alone                       %.4f %%\n", share(decoding));
    std::printf("  decoding and detector                %.4f %%\n", share(both));
    std::printf("  reference alone                      %.4f %%\n",
                share(bestCpu(CLOCK_THREAD_CPUTIME_ID, 3, [&] {
                    for (const Pcm& pcm : decoded) {
                        detectWithFixedThreshold(pcm);
                    }
                })));
    return 0;
}
