// The mix's limiter, through the mixer's feeds into a recording: one feed at
// its default gain passes as it is; up to six loud feeds at any gain never
// reach full scale, at a steady level and without the distortion of clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/mix/MixLaw.h"
#include "engine/mix/Mixer.h"
#include "tests/engine/audio/QueueTestSupport.h"
#include "tests/support/AudioCompare.h"

namespace orvento {
namespace {

constexpr int kRate = 16000;
// Whole cycles in a mixer's block: feeds that start a block apart stay in phase.
constexpr double kHz = 400;
// As much as a feed's ring holds: all of it goes in before any feed plays.
constexpr double kToneSeconds = kFeedRingSeconds;

// The level in dB of `hz` in the left channel over [from, from + count) frames.
double toneDb(const AudioClip& clip, std::size_t from, std::size_t count, double hz) {
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / clip.sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        const double s = clip.samples[i * 2] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 1e-30);
    return 20 * std::log10(2 * std::sqrt(power) / static_cast<double>(count));
}

double rmsDb(const AudioClip& clip, std::size_t from, std::size_t count) {
    double power = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        power += static_cast<double>(clip.samples[i * 2]) * clip.samples[i * 2];
    }
    return 10 * std::log10(std::max(power / static_cast<double>(count), 1e-30));
}

// `feeds` feeds at `gainDb`, each playing the same tone of `amplitude` (from
// its peak, so that it starts with the recording) in `channels` channels,
// mixed into a WAV file; what it holds. `lateFrames`: how much of the first
// feed had been mixed by the time the last was resumed (the mix runs ahead
// of the clock, so on a loaded machine the last may join that much later).
std::optional<AudioClip> mixTones(int feeds, double gainDb, int channels, double amplitude,
                                  std::size_t& lateFrames) {
    const auto frames = static_cast<std::size_t>(kToneSeconds * kRate);
    std::vector<float> tone(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        const double s =
            amplitude * std::cos(2 * std::numbers::pi * kHz * static_cast<double>(f) / kRate);
        std::fill_n(tone.begin() + static_cast<std::ptrdiff_t>(f * channels), channels,
                    static_cast<float>(s));
    }
    const std::string path = scratchPath("limiter.wav");
    {
        Mixer mixer(wavOutput(path));
        std::vector<std::shared_ptr<MixerFeed>> handles;
        std::vector<std::unique_ptr<AudioOutput>> outputs;
        for (int i = 0; i < feeds; ++i) {
            handles.push_back(mixer.addFeed());
            handles.back()->setGainDb(gainDb);
            outputs.push_back(handles.back()->makeOutput());
            std::string error;
            EXPECT_TRUE(outputs.back()->open({kRate, channels}, error)) << error;
        }
        // Each feed's tone goes in whole before any plays, so that none can run dry.
        for (const auto& output : outputs) {
            EXPECT_EQ(output->write(tone.data(), frames), frames);
        }
        for (const auto& output : outputs) {
            output->resume();
        }
        lateFrames = static_cast<std::size_t>(outputs.front()->framesPlayed());
        EXPECT_TRUE(eventually([&] {
            return std::all_of(outputs.begin(), outputs.end(), [](const auto& output) {
                return output->untilDrained() == AudioOutput::Duration::zero();
            });
        }));
        for (const auto& output : outputs) {
            output->close();
        }
    }
    return readWav(path);
}

TEST(MixerLimiterTest, TheMixNeverReachesFullScale) {
    struct Row {
        int feeds;
        double gainDb;
        int channels;
        double amplitude;
        double expectedDb;  // the tone's level on the left, or NAN: limited
    };
    const double centre = 20 * std::log10(std::numbers::sqrt2 / 2);  // a mono feed's pan
    const std::vector<Row> rows{
        {1, 0, 1, 0.9, 20 * std::log10(0.9) + centre},  // one loud station
        {1, 0, 2, 0.98, 20 * std::log10(0.98)},         // a stereo feed near full scale
        {5, 0, 1, 0.9, NAN},                            // five of it at their default gain
        {2, kMaxFeedGainDb, 1, 0.9, NAN},
        {3, kMaxFeedGainDb, 1, 0.9, NAN},
        {4, kMaxFeedGainDb, 1, 0.9, NAN},
        {5, kMaxFeedGainDb, 2, 0.9, NAN},
        {6, kMaxFeedGainDb, 1, 0.9, NAN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.feeds << " feeds at " << row.gainDb << " dB, "
                                        << row.channels << " channels");
        std::size_t lateFrames = 0;
        const std::optional<AudioClip> clip =
            mixTones(row.feeds, row.gainDb, row.channels, row.amplitude, lateFrames);
        ASSERT_TRUE(clip.has_value());
        ASSERT_EQ(clip->channels, 2);
        float peak = 0;
        for (const float s : clip->samples) {
            peak = std::max(peak, std::abs(s));
        }
        EXPECT_LT(peak, 1.0F);
        // The tone's steady part (the recording starts with it): from 0.1 s
        // after the last feed joined to 0.1 s before the first one ends.
        const std::size_t tenth = kRate / 10;
        ASSERT_GE(clip->frames(), static_cast<std::size_t>(kToneSeconds * kRate));
        if (lateFrames > tenth) {
            // Too loaded a machine to see a steady part; the peak held.
            std::fprintf(stderr, "the last feed joined %zu frames late: level not judged\n",
                         lateFrames);
            continue;
        }
        const std::size_t from = tenth + lateFrames;
        const std::size_t count =
            static_cast<std::size_t>(kToneSeconds * kRate) - 2 * tenth - lateFrames;
        const double level = toneDb(*clip, from, count, kHz);
        if (!std::isnan(row.expectedDb)) {
            EXPECT_NEAR(level, row.expectedDb, 0.1);
        } else {
            // As loud as the ceiling lets it be, not muted.
            EXPECT_NEAR(level, kLimiterCeilingDb, 0.5);
        }
        // Clipping's distortion: the third harmonic of a sine cut flat.
        EXPECT_LT(toneDb(*clip, from, count, 3 * kHz), level - 40);
        // A steady level, 20 ms at a time.
        double lowest = 200;
        double highest = -200;
        for (std::size_t at = from; at + kRate / 50 <= from + count; at += kRate / 50) {
            const double window = rmsDb(*clip, at, kRate / 50);
            lowest = std::min(lowest, window);
            highest = std::max(highest, window);
        }
        EXPECT_LT(highest - lowest, 0.5);
    }
}

}  // namespace
}  // namespace orvento
