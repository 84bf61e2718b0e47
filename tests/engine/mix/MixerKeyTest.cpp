// The priority key through the mixer: a priority feed lowers the others while
// it transmits, as the transmission detector judges it, and its keyed light
// says the same. Generated audio goes into two feeds, the mix into a
// recording: the other feed's tone is measured there, the light is read while
// the mix runs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "engine/mix/MixLaw.h"
#include "engine/mix/Mixer.h"
#include "tests/engine/audio/QueueTestSupport.h"
#include "tests/support/AudioCompare.h"

namespace orvento {
namespace {

constexpr int kRate = 16000;
constexpr double kSeconds = 3.6;
// The priority feed speaks from kSpeechStart to kSpeechEnd, if at all, or is
// cut off at kCut, inside a syllable.
constexpr double kSpeechStart = 0.8;
constexpr double kSpeechEnd = 1.8;
constexpr double kCut = 1.6;
// The other feed's tone, above the speech's harmonics that matter.
constexpr double kToneHz = 2500;
constexpr double kToneAmplitude = 0.3;

std::size_t frameAt(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * kRate));
}

// Receiver hiss: white noise of RMS `db` dBFS over the whole time, and
// (`speech`) a voice over it: a pitched buzz of harmonics falling off as a
// voice's do, its pitch gliding, cut into syllables of 0.18 s 0.07 s apart.
std::vector<float> priorityAudio(double hissDb, bool speech) {
    std::vector<float> audio(frameAt(kSeconds));
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0F, static_cast<float>(std::pow(10.0, hissDb / 20)));
    for (float& s : audio) {
        s = noise(random);
    }
    if (!speech) {
        return audio;
    }
    double phase = 0;
    for (std::size_t i = frameAt(kSpeechStart); i < frameAt(kSpeechEnd); ++i) {
        const double t = static_cast<double>(i) / kRate - kSpeechStart;
        const double pitch = 120 + 8 * std::sin(2 * std::numbers::pi * 2 * t);
        phase += 2 * std::numbers::pi * pitch / kRate;
        const double inSyllable = std::fmod(t, 0.25);
        if (inSyllable >= 0.18) {
            continue;
        }
        const double envelope = std::sin(std::numbers::pi * inSyllable / 0.18);
        double buzz = 0;
        for (int k = 1; k <= 15; ++k) {
            buzz += std::sin(k * phase) / k;
        }
        audio[i] += static_cast<float>(0.12 * envelope * buzz);
    }
    return audio;
}

std::vector<float> tone() {
    std::vector<float> audio(frameAt(kSeconds));
    for (std::size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<float>(kToneAmplitude * std::sin(2 * std::numbers::pi * kToneHz *
                                                                static_cast<double>(i) / kRate));
    }
    return audio;
}

// The level in dB of `hz` on the left between two times.
double toneDb(const AudioClip& clip, double from, double to, double hz) {
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / clip.sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = frameAt(from); i < frameAt(to); ++i) {
        const double s = clip.samples[i * 2] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 1e-30);
    return 20 * std::log10(2 * std::sqrt(power) / static_cast<double>(frameAt(to) - frameAt(from)));
}

// How the priority feed's voice ends.
enum class Cut {
    None,     // it speaks to its end, the hiss goes on
    RunsDry,  // its audio stops at kCut (a stall, a dropped stream)
    Paused,   // its player pauses at kCut (a stop)
};

struct Row {
    const char* what;
    bool speech;
    bool priority;
    Cut cut;
    bool ducks;  // the other feed is lowered while the voice speaks
    // Whether the speaker's light is wanted (a priority feed is judged anyway).
    bool judged = true;
};

// One row's mixer, with a priority feed (the speaker) and the other feed's
// tone, mixed into a recording.
class RowMix {
  public:
    RowMix(const Row& row, const std::vector<float>& tone, const std::string& path)
        : row_(row), audio_{priorityAudio(-30, row.speech), tone}, mixer_(wavOutput(path)) {
        if (row.cut == Cut::RunsDry) {
            audio_[0].resize(frameAt(kCut));
        }
        speaker_ = mixer_.addFeed();
        speaker_->setPriority(row.priority);
        speaker_->setJudged(row.judged);
        const std::shared_ptr<MixerFeed> listener = mixer_.addFeed();
        for (const auto& feed : {speaker_, listener}) {
            outputs_.push_back(feed->makeOutput());
            std::string error;
            EXPECT_TRUE(outputs_.back()->open({kRate, 1}, error)) << error;
        }
    }

    // A ring's worth each, then both play. The speaker resumes first, so that
    // its time is the recording's; the other may start a few blocks later
    // (its tone is measured from 0.3 s).
    void start() {
        fill();
        for (const auto& output : outputs_) {
            output->resume();
        }
    }

    // Writes what the rings take and reads the light; true once all is mixed.
    bool pump() {
        const double at = static_cast<double>(outputs_[0]->framesPlayed()) / kRate;
        if (row_.cut == Cut::Paused && !paused_ && at >= kCut) {
            outputs_[0]->pause();
            paused_ = true;
        }
        const bool all = fill();
        if (speaker_->transmitting() != on_) {
            on_ = !on_;
            if (on_ && lit_ < 0) {
                lit_ = at;
            } else if (!on_) {
                unlit_ = at;
            }
        }
        return all && (paused_ || drained(0)) && drained(1);
    }

    // Ends the mix; whether a feed ran dry on the way, which would move its
    // audio in the recording.
    bool close() {
        const bool dry = outputs_[0]->underruns() + outputs_[1]->underruns() > 0;
        for (const auto& output : outputs_) {
            output->close();
        }
        return dry;
    }

    // Where the light came on first and went off last, in seconds of the
    // speaker's audio mixed (-1: never).
    double lit() const { return lit_; }
    double unlit() const { return unlit_; }

  private:
    bool fill() {
        for (std::size_t i = paused_ ? 1 : 0; i < 2; ++i) {
            written_[i] +=
                outputs_[i]->write(audio_[i].data() + written_[i], audio_[i].size() - written_[i]);
        }
        return written_[1] == audio_[1].size() && (paused_ || written_[0] == audio_[0].size());
    }
    bool drained(std::size_t i) const {
        return outputs_[i]->untilDrained() == AudioOutput::Duration::zero();
    }

    const Row& row_;
    std::array<std::vector<float>, 2> audio_;
    std::array<std::size_t, 2> written_{};
    Mixer mixer_;
    std::shared_ptr<MixerFeed> speaker_;
    std::vector<std::unique_ptr<AudioOutput>> outputs_;
    bool paused_ = false;
    bool on_ = false;
    double lit_ = -1;
    double unlit_ = -1;
};

TEST(MixerKeyTest, APriorityFeedDucksTheOthersWhileItTransmits) {
    const std::vector<Row> rows{
        {"steady hiss at -30 dBFS", false, true, Cut::None, false},
        {"a voice over the hiss", true, true, Cut::None, true},
        {"a voice without priority", true, false, Cut::None, false},
        {"a voice whose feed runs dry", true, true, Cut::RunsDry, true},
        {"a voice whose player pauses", true, true, Cut::Paused, true},
        {"a voice whose light nobody wants", true, false, Cut::None, false, false},
        {"a priority voice whose light nobody wants", true, true, Cut::None, true, false},
    };
    // The rows mix side by side, each in a mixer of its own.
    const std::vector<float> other = tone();
    std::vector<std::string> paths;
    std::vector<std::unique_ptr<RowMix>> runs;
    for (const Row& row : rows) {
        paths.push_back(scratchPath("key-" + std::to_string(paths.size()) + ".wav"));
        runs.push_back(std::make_unique<RowMix>(row, other, paths.back()));
    }
    // All made before any plays: none runs dry while the next is made.
    for (const auto& run : runs) {
        run->start();
    }
    EXPECT_TRUE(eventually(
        [&] {
            bool all = true;
            for (const auto& run : runs) {
                all = run->pump() && all;
            }
            return all;
        },
        std::chrono::seconds(20)));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(runs[i]->close()) << "a feed ran dry: the times below do not hold";
        const double lit = runs[i]->lit();
        const double unlit = runs[i]->unlit();
        runs[i].reset();  // the recording is complete once its mixer is gone
        const std::optional<AudioClip> clip = readWav(paths[i]);
        ASSERT_TRUE(clip.has_value());
        ASSERT_GE(clip->frames(), frameAt(kSeconds));
        // Before the voice, while it speaks (once keyed), and once released
        // (the hang after its last syllable and the release have passed).
        const double end = row.cut == Cut::None ? kSpeechEnd : kCut;
        const double before = toneDb(*clip, 0.3, kSpeechStart - 0.05, kToneHz);
        const double during = toneDb(*clip, kSpeechStart + 0.55, end, kToneHz);
        const double after = toneDb(*clip, kSpeechEnd + 1.25, kSeconds - 0.05, kToneHz);
        // The tone, mono in the centre (-3 dB a side), is heard as it is
        // until the voice.
        EXPECT_NEAR(before, 20 * std::log10(kToneAmplitude * std::numbers::sqrt2 / 2), 0.5);
        EXPECT_NEAR(during - before, row.ducks ? -kDuckDepthDb : 0, 0.5);
        EXPECT_NEAR(after - before, 0, 0.5);
        if (!row.speech || !(row.judged || row.priority)) {
            EXPECT_EQ(lit, -1) << "the light came on";
            continue;
        }
        // Keyed once the voice has lasted 0.3 s; off 0.6 s after its last
        // syllable, or as soon as its audio stops; read a mixing run (0.1 s)
        // late at most.
        EXPECT_GE(lit, kSpeechStart + 0.25);
        EXPECT_LE(lit, kSpeechStart + 0.6);
        if (row.cut == Cut::None) {
            EXPECT_GE(unlit, kSpeechEnd + 0.4);
            EXPECT_LE(unlit, kSpeechEnd + 1.0);
        } else {
            EXPECT_GE(unlit, kCut);
            EXPECT_LE(unlit, kCut + 0.25);
        }
    }
}

}  // namespace
}  // namespace orvento
