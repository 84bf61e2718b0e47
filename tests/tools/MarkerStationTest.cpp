// The station site's marker station: its tones lie where MarkerStation.h
// says (which tone, at what frequency, when in the decoded stream), also
// after the file starts over, as the lag benchmark assumes. Decoded as the
// player decodes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include "tools/station-server/MarkerStation.h"
#include "tools/station-server/StationSite.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento {
namespace {

namespace fs = std::filesystem;

// Level in dB of `hz` in the first channel over `seconds` from `from`
// (a full-scale sine reads about 0 dB).
double toneDb(const recordings::Pcm& pcm, double from, double seconds, double hz) {
    const auto first = static_cast<std::size_t>(from * pcm.sampleRate);
    const auto count = static_cast<std::size_t>(seconds * pcm.sampleRate);
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / pcm.sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        const double s = pcm.samples[i * static_cast<std::size_t>(pcm.channels)] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double amplitude =
        2 * std::sqrt(std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 0.0)) / static_cast<double>(count);
    return 20 * std::log10(std::max(amplitude, 1e-9));
}

TEST(MarkerStation, EachToneWhereTheLayoutSaysAlsoWhenTheFileStartsOver) {
    const fs::path file = fs::path(ORVENTO_STATION_SITE_DIR) / site::kMarkerFile;
    const std::string bytes = site::readWholeFile(file);
    const std::optional<double> rate = site::audioByteRate(file, bytes);
    ASSERT_TRUE(rate);
    const double fileSeconds = static_cast<double>(bytes.size()) / *rate;
    // The station sends the file over and over: twice, as one file.
    const fs::path twice =
        fs::temp_directory_path() / ("orvento-markers-" + std::to_string(getpid()) + ".mp3");
    std::ofstream(twice, std::ios::binary) << bytes << bytes;
    recordings::Pcm pcm;
    std::string error;
    const bool decoded = recordings::decode(twice.string(), pcm, error);
    fs::remove(twice);
    ASSERT_TRUE(decoded) << error;

    const double tone = site::kMarkerToneSeconds;
    for (std::size_t n = 0; n < 2 * site::kMarkerHz.size(); ++n) {
        const double at = site::markerStreamSeconds(n, fileSeconds);
        const double hz = site::kMarkerHz[n % site::kMarkerHz.size()];
        ASSERT_LT(at + tone, pcm.seconds());
        // The tone (about -12 dB: sox halves both parts it mixes) sounds in
        // its span, and nothing of it 5 ms or more outside: a tone 20 ms off
        // puts a fifth of the 100 ms before or after it within 14 dB of it.
        EXPECT_GT(toneDb(pcm, at + 0.005, tone - 0.01, hz), -16) << "tone " << n;
        EXPECT_LT(toneDb(pcm, at - 0.1, 0.095, hz), -30) << "before tone " << n;
        EXPECT_LT(toneDb(pcm, at + tone + 0.005, 0.1, hz), -30) << "after tone " << n;
        const double other = site::kMarkerHz[(n + 1) % site::kMarkerHz.size()];
        EXPECT_LT(toneDb(pcm, at + 0.005, tone - 0.01, other), -30) << "tone " << n;
    }
}

}  // namespace
}  // namespace orvento
