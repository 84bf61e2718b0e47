#include "bench/live/Words.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <sstream>

#include "bench/common/SoundServer.h"

namespace orvento::bench {

namespace {

// The analysis: 40 ms Hann windows every 10 ms, at a third of the sink's rate.
constexpr int kDecimation = 3;
constexpr std::size_t kWindow = 640;
constexpr std::size_t kHop = 160;
// A window holds a word when one tone carries this share of its energy, at
// this level or more.
constexpr double kPurity = 0.5;
constexpr double kLeastRms = 0.03;  // -30 dBFS
// A word: this many windows of its tone, allowing a short blur inside.
constexpr std::size_t kLeastWindows = 8;
constexpr std::size_t kBlurWindows = 3;

// Heard words further apart than this belong to different utterances: a
// pause inside a transmission is shorter, and at least 0.6 s of quiet stays
// between two.
constexpr double kUtteranceGap = 0.55;
// A heard word cannot come before it went out live (less this much of
// measuring error), nor after the longest a player here falls behind.
constexpr double kEarliest = -0.5;
constexpr double kLatest = 300;
// Fewer heard words in a row than this are not told apart from chance,
// unless they carry on where the last match left off.
constexpr std::size_t kLeastRun = 4;
// A pause heard between two words longer than the station's by this much.
constexpr double kPauseHeard = 0.3;

}  // namespace

std::optional<LiveWords> loadWords(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    LiveWords words;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (line.rfind("# tones (Hz):", 0) == 0) {
            fields.ignore(13);
            for (double hz; fields >> hz;) {
                words.tonesHz.push_back(hz);
            }
            continue;
        }
        SaidWord w;
        if (fields >> w.transmission >> w.start >> w.end >> w.tone) {
            words.words.push_back(w);
        }
    }
    if (words.tonesHz.empty() || words.words.empty()) {
        error = path + " holds no tones or no words";
        return std::nullopt;
    }
    return words;
}

std::vector<HeardWord> findWords(const std::vector<float>& stereo,
                                 const std::vector<double>& tonesHz) {
    std::vector<float> mono(stereo.size() / 2 / kDecimation);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        float sum = 0;
        for (int k = 0; k < 2 * kDecimation; ++k) {
            sum += stereo[2 * kDecimation * i + static_cast<std::size_t>(k)];
        }
        mono[i] = sum / (2 * kDecimation);
    }
    const double rate = static_cast<double>(kSinkRate) / kDecimation;
    std::array<double, kWindow> hann{};
    for (std::size_t n = 0; n < kWindow; ++n) {
        hann[n] = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(n) / kWindow);
    }
    // The tone of each window, or -1.
    std::vector<int> labels;
    for (std::size_t from = 0; from + kWindow <= mono.size(); from += kHop) {
        double energy = 0;
        double plain = 0;
        for (std::size_t n = 0; n < kWindow; ++n) {
            const double x = mono[from + n];
            energy += (hann[n] * x) * (hann[n] * x);
            plain += x * x;
        }
        int label = -1;
        if (std::sqrt(plain / kWindow) >= kLeastRms) {
            double best = 0;
            for (std::size_t t = 0; t < tonesHz.size(); ++t) {
                // Goertzel: a pure tone's power is a third of energy * N with
                // this window.
                const double c = 2 * std::cos(2 * M_PI * tonesHz[t] / rate);
                double s1 = 0;
                double s2 = 0;
                for (std::size_t n = 0; n < kWindow; ++n) {
                    const double s = hann[n] * mono[from + n] + c * s1 - s2;
                    s2 = s1;
                    s1 = s;
                }
                const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
                const double purity = 3 * power / (energy * kWindow);
                if (purity > best) {
                    best = purity;
                    label = best >= kPurity ? static_cast<int>(t) : -1;
                }
            }
        }
        labels.push_back(label);
    }
    std::vector<HeardWord> words;
    const auto frameOf = [](std::size_t window) {
        return (window * kHop + kWindow / 2) * kDecimation;
    };
    for (std::size_t i = 0; i < labels.size();) {
        if (labels[i] < 0) {
            ++i;
            continue;
        }
        const int tone = labels[i];
        std::size_t last = i;
        std::size_t count = 0;
        for (std::size_t j = i; j < labels.size() && j <= last + kBlurWindows; ++j) {
            if (labels[j] == tone) {
                last = j;
                ++count;
            } else if (labels[j] >= 0) {
                break;
            }
        }
        if (count >= kLeastWindows) {
            words.push_back({static_cast<std::size_t>(tone), frameOf(i), frameOf(last)});
        }
        i = last + 1;
    }
    return words;
}

Hearing hear(const std::vector<SaidWord>& said, const std::vector<double>& saidAt,
             const std::vector<TimedWord>& heard) {
    // The end of each said word's transmission.
    std::vector<std::size_t> transmissionEnd(said.size());
    for (std::size_t s = said.size(); s-- > 0;) {
        transmissionEnd[s] = s + 1 < said.size() && said[s + 1].transmission == said[s].transmission
                                 ? transmissionEnd[s + 1]
                                 : s + 1;
    }
    const auto lagOf = [&](std::size_t h, std::size_t s) { return heard[h].at - saidAt[s]; };
    // How many words from heard h and said s on match, within one utterance
    // and one transmission.
    const auto runLength = [&](std::size_t h, std::size_t utteranceEnd, std::size_t s) {
        std::size_t k = 0;
        while (h + k < utteranceEnd && s + k < transmissionEnd[s] &&
               heard[h + k].tone == said[s + k].tone) {
            ++k;
        }
        return k;
    };

    std::vector<std::optional<std::size_t>> heardAs(heard.size());
    struct Piece {
        std::size_t said;
        std::size_t end;  // said
        double lag;
    };
    std::optional<Piece> last;
    for (std::size_t u = 0; u < heard.size();) {
        std::size_t utteranceEnd = u + 1;
        while (utteranceEnd < heard.size() &&
               heard[utteranceEnd].at - heard[utteranceEnd - 1].end <= kUtteranceGap) {
            ++utteranceEnd;
        }
        for (std::size_t h = u; h < utteranceEnd;) {
            // Where the last match left off, and the longest runs elsewhere.
            std::size_t continued = 0;
            if (last && last->end < said.size() && last->end < transmissionEnd[last->said] &&
                lagOf(h, last->end) >= last->lag - 0.5) {
                continued = runLength(h, utteranceEnd, last->end);
            }
            std::size_t longest = 0;
            std::optional<std::size_t> best;
            for (std::size_t s = 0; s < said.size(); ++s) {
                const double lag = lagOf(h, s);
                if (lag < kEarliest || lag > kLatest) {
                    continue;
                }
                const std::size_t k = runLength(h, utteranceEnd, s);
                const bool closer =
                    best && last &&
                    std::fabs(lag - last->lag) < std::fabs(lagOf(h, *best) - last->lag);
                if (k > longest || (k == longest && k > 0 && closer)) {
                    longest = k;
                    best = s;
                }
            }
            std::size_t from = 0;
            std::size_t length = 0;
            if (continued > 0 && continued >= std::min<std::size_t>(longest, 2)) {
                from = last->end;
                length = continued;
            } else if (best && longest >= kLeastRun) {
                from = *best;
                length = longest;
            } else {
                ++h;
                continue;
            }
            for (std::size_t k = 0; k < length; ++k) {
                heardAs[h + k] = from + k;
            }
            last = Piece{from, from + length, lagOf(h, from)};
            h += length;
        }
        u = utteranceEnd;
    }

    Hearing hearing;
    std::vector<int> times(said.size(), 0);
    std::vector<std::optional<std::size_t>> firstHeard(said.size());
    double lastOut = -1e9;
    for (std::size_t h = 0; h < heard.size(); ++h) {
        if (!heardAs[h]) {
            continue;
        }
        const std::size_t s = *heardAs[h];
        hearing.pairs.push_back({h, s, lagOf(h, s)});
        if (times[s]++ == 0) {
            firstHeard[s] = h;
        }
        lastOut = std::max(lastOut, saidAt[s]);
    }
    hearing.heardAgain = static_cast<std::size_t>(
        std::count_if(times.begin(), times.end(), [](int n) { return n > 1; }));
    for (std::size_t s = 0; s < said.size(); s = transmissionEnd[s]) {
        const std::size_t end = transmissionEnd[s];
        if (saidAt[s] < 0 || saidAt[end - 1] > lastOut) {
            continue;
        }
        ++hearing.transmissions;
        std::size_t heardHere = 0;
        bool inOrder = true;
        for (std::size_t w = s; w < end; ++w) {
            if (!firstHeard[w]) {
                continue;
            }
            ++heardHere;
            if (w > s && firstHeard[w - 1]) {
                const std::size_t a = *firstHeard[w - 1];
                const std::size_t b = *firstHeard[w];
                inOrder = inOrder && b > a;
                const double heardGap = heard[b].at - heard[a].end;
                const double saidGap = said[w].start - said[w - 1].end;
                hearing.pauses += heardGap > saidGap + kPauseHeard ? 1 : 0;
            }
        }
        hearing.words += end - s;
        hearing.wordsLost += end - s - heardHere;
        hearing.whole += heardHere == end - s && inOrder ? 1 : 0;
    }
    return hearing;
}

}  // namespace orvento::bench
