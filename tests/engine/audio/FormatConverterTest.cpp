// The queue's own format converter: exact lengths and clean tones through
// every kind of rate change, the audio cut into pieces of every size.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/audio/FormatConverter.h"

namespace orvento {
namespace {

// `frames` frames of a sine at `hz`, amplitude 0.5, on every channel (each
// channel shifted in phase, so that swapped channels would show).
std::vector<float> sine(std::size_t frames, double rate, int channels, double hz) {
    std::vector<float> out;
    out.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            out.push_back(static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate + c)));
        }
    }
    return out;
}

// Feeds `in` to the converter in pieces of the given sizes (repeated), then
// flushes.
std::vector<float> convertInPieces(const PcmFormat& from, const PcmFormat& to,
                                   const std::vector<float>& in,
                                   const std::vector<std::size_t>& pieces) {
    FormatConverter converter;
    std::vector<float> out;
    const auto channels = static_cast<std::size_t>(from.channels);
    const std::size_t frames = in.size() / channels;
    std::size_t at = 0;
    for (std::size_t p = 0; at < frames; ++p) {
        const std::size_t count = std::min(pieces[p % pieces.size()], frames - at);
        EXPECT_TRUE(converter.convert(from, to, in.data() + at * channels, count, out));
        at += count;
    }
    converter.flush(out);
    EXPECT_FALSE(converter.active());
    return out;
}

struct RateRow {
    const char* name;
    int from;
    int to;
    int channels;
    double hz;  // within the pass band of both rates
};

class RateChange : public ::testing::TestWithParam<RateRow> {};

TEST_P(RateChange, KeepsTheLengthExactAndTheToneClean) {
    const RateRow& row = GetParam();
    constexpr std::size_t kFrames = 20000;
    const std::vector<float> in = sine(kFrames, row.from, row.channels, row.hz);
    const PcmFormat from{row.from, row.channels};
    const PcmFormat to{row.to, row.channels};
    const std::vector<float> out = convertInPieces(from, to, in, {4096, 1, 333, 10000});

    const auto channels = static_cast<std::size_t>(row.channels);
    const std::size_t expectedFrames =
        (kFrames * static_cast<std::size_t>(row.to) + static_cast<std::size_t>(row.from) - 1) /
        static_cast<std::size_t>(row.from);
    ASSERT_EQ(out.size(), expectedFrames * channels);

    // Away from the two ends (where the filter meets the silence around the
    // signal) the output is the same sine sampled at the new rate.
    const std::vector<float> ideal = sine(expectedFrames, row.to, row.channels, row.hz);
    const std::size_t margin = static_cast<std::size_t>(row.to) / 50;  // 20 ms
    double signal = 0;
    double noise = 0;
    for (std::size_t i = margin * channels; i < (expectedFrames - margin) * channels; ++i) {
        signal += static_cast<double>(ideal[i]) * ideal[i];
        const double e = static_cast<double>(out[i]) - ideal[i];
        noise += e * e;
    }
    EXPECT_GT(10 * std::log10(signal / noise), 70.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateChange,
                         ::testing::Values(RateRow{"Up8kTo44k1", 8000, 44100, 1, 1000},
                                           RateRow{"Down44k1To8k", 44100, 8000, 2, 1000},
                                           RateRow{"Up11025To32k", 11025, 32000, 2, 440},
                                           RateRow{"Down48kTo44k1", 48000, 44100, 1, 5000},
                                           RateRow{"Up44k1To48k", 44100, 48000, 2, 15000},
                                           RateRow{"Down22050To16k", 22050, 16000, 1, 3000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
