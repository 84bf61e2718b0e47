// The comparison the quality tests rely on must itself find a known delay,
// measure a known noise level and read every WAV sample layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>

#include "tests/engine/platform/queue/QueueTestSupport.h"
#include "tests/support/AudioCompare.h"

namespace orvento {
namespace {

AudioClip noiseClip(std::size_t frames, int channels, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0, 0.1F);
    AudioClip clip;
    clip.sampleRate = 16000;
    clip.channels = channels;
    clip.samples.resize(frames * static_cast<std::size_t>(channels));
    for (float& s : clip.samples) {
        s = noise(random);
    }
    return clip;
}

AudioClip delayed(const AudioClip& clip, long by) {
    AudioClip out = clip;
    const auto channels = static_cast<std::size_t>(clip.channels);
    out.samples.assign(static_cast<std::size_t>(by) * channels, 0.0F);
    out.samples.insert(out.samples.end(), clip.samples.begin(), clip.samples.end());
    return out;
}

TEST(AudioCompare, FindsTheDelayInEitherDirection) {
    const AudioClip reference = noiseClip(20000, 2, 1);
    for (const long delay : {0L, 1L, 1105L, 4000L}) {
        EXPECT_EQ(bestLag(delayed(reference, delay), reference, 4096), delay);
        EXPECT_EQ(bestLag(reference, delayed(reference, delay), 4096), -delay);
    }
}

TEST(AudioCompare, MeasuresTheNoiseAddedToASignal) {
    const AudioClip reference = noiseClip(50000, 1, 2);
    for (const double wantDb : {20.0, 40.0, 60.0}) {
        AudioClip noisy = reference;
        const AudioClip noise = noiseClip(50000, 1, 3);
        const auto gain = static_cast<float>(std::pow(10.0, -wantDb / 20));
        for (std::size_t i = 0; i < noisy.samples.size(); ++i) {
            noisy.samples[i] += gain * noise.samples[i];
        }
        EXPECT_NEAR(snrDb(noisy, reference, 0), wantDb, 0.2);
    }
    // Misaligned by one frame, noise is no longer small: alignment matters.
    EXPECT_LT(snrDb(delayed(reference, 1), reference, 0), 3);
    EXPECT_GT(snrDb(delayed(reference, 1), reference, 1), 200);
}

TEST(AudioCompare, ReportsRateChannelsAndLength) {
    const AudioClip reference = noiseClip(1000, 1, 4);
    AudioClip other = delayed(reference, 10);
    other.sampleRate = 8000;
    const AudioComparison c = compareAudio(other, reference, 100);
    EXPECT_FALSE(c.sameRate);
    EXPECT_TRUE(c.sameChannels);
    EXPECT_EQ(c.lengthDifference, 10);
    EXPECT_EQ(c.lag, 10);
}

struct WavRow {
    const char* encoding;  // sox's -e and -b
    int bits;
    double lsb;  // one step of the format
};

class WavLayout : public ::testing::TestWithParam<WavRow> {};

TEST_P(WavLayout, ReadsSamplesWrittenBySox) {
    const WavRow& row = GetParam();
    // One source signal, converted by sox (without dither) to each layout.
    const std::string source = scratchPath("source.wav");
    const std::string path = scratchPath("layout.wav");
    const std::string make = "sox -n -r 8000 -c 2 -e floating-point -b 64 '" + source +
                             "' synth 0.1 sine 1000 sine 250 gain -6 2>/dev/null";
    const std::string convert = "sox '" + source + "' -D -e " + row.encoding + " -b " +
                                std::to_string(row.bits) + " '" + path + "' 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    ASSERT_EQ(std::system(convert.c_str()), 0) << convert;
    std::string error;
    const std::optional<AudioClip> original = readWav(source, &error);
    ASSERT_TRUE(original.has_value()) << error;
    const std::optional<AudioClip> clip = readWav(path, &error);
    ASSERT_TRUE(clip.has_value()) << error;
    EXPECT_EQ(clip->sampleRate, 8000);
    ASSERT_EQ(clip->channels, 2);
    ASSERT_EQ(clip->frames(), 800U);
    double peak = 0;
    for (std::size_t i = 0; i < clip->samples.size(); ++i) {
        ASSERT_NEAR(clip->samples[i], original->samples[i], row.lsb + 1e-7) << "sample " << i;
        peak = std::max(peak, std::abs(static_cast<double>(original->samples[i])));
    }
    EXPECT_NEAR(peak, std::pow(10.0, -6.0 / 20), 0.01);  // the source itself read right
}

INSTANTIATE_TEST_SUITE_P(Layouts, WavLayout,
                         ::testing::Values(WavRow{"unsigned-integer", 8, 1.0 / 128},
                                           WavRow{"signed-integer", 16, 1.0 / 32768},
                                           WavRow{"signed-integer", 24, 0},
                                           WavRow{"signed-integer", 32, 0},
                                           WavRow{"floating-point", 32, 0},
                                           WavRow{"floating-point", 64, 0}),
                         [](const auto& info) {
                             return std::string(info.param.encoding[0] == 'f'   ? "Float"
                                                : info.param.encoding[0] == 'u' ? "Unsigned"
                                                                                : "Signed") +
                                    std::to_string(info.param.bits);
                         });

TEST(AudioCompare, RefusesWhatIsNotAWavFile) {
    std::string error;
    EXPECT_FALSE(readWav("/nonexistent/file.wav", &error).has_value());
    EXPECT_NE(error, "");
    const char* source = std::getenv("ORVENTO_SOURCE_DIR");
    EXPECT_FALSE(
        readWav(std::string(source != nullptr ? source : ".") + "/tests/data/adts_lc.aac", &error)
            .has_value());
}

}  // namespace
}  // namespace orvento
