// The comparison the quality tests rely on must itself find a known delay
// and measure a known noise level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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

TEST(AudioCompare, FindsAKnownDelayAndMeasuresAKnownNoise) {
    const AudioClip reference = noiseClip(20000, 2, 1);
    EXPECT_EQ(bestLag(delayed(reference, 1105), reference, 4096), 1105);
    EXPECT_EQ(bestLag(reference, delayed(reference, 1105), 4096), -1105);
    AudioClip noisy = reference;
    const AudioClip noise = noiseClip(20000, 2, 3);
    for (std::size_t i = 0; i < noisy.samples.size(); ++i) {
        noisy.samples[i] += 0.01F * noise.samples[i];  // -40 dB
    }
    EXPECT_NEAR(snrDb(noisy, reference, 0), 40, 0.3);
    // Misaligned by one frame, noise is no longer small: alignment matters.
    EXPECT_LT(snrDb(delayed(reference, 1), reference, 0), 3);
    const AudioComparison c = compareAudio(delayed(reference, 10), reference, 100);
    EXPECT_TRUE(c.sameRate && c.sameChannels);
    EXPECT_EQ(c.lengthDifference, 10);
    EXPECT_GT(c.snrDb, 200);
}

}  // namespace
}  // namespace orvento
