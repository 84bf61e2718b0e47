// The transmission detector on recordings whose transmissions are known: each
// row decodes one (real encoded audio, through the output queue) and feeds it
// in blocks of a size, as mono, as the same audio in both channels, or
// switching from the one to the other halfway (a format change).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/transmissions/TransmissionDetector.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::test {
namespace {

using recordings::Span;

enum class Layout { Mono, Stereo, MonoThenStereo };

struct Row {
    const char* recording;
    std::size_t block;  // frames per feed() call
    Layout layout;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.recording;
}

// The loudest sample of the mono audio between two times, in dBFS.
double peakDbfs(const recordings::Pcm& pcm, const Span& span) {
    const auto at = [&](double t) {
        return std::min(pcm.samples.size(),
                        static_cast<std::size_t>(std::lround(t * pcm.sampleRate)));
    };
    float peak = 0;
    for (std::size_t i = at(span.start); i < at(span.end); ++i) {
        peak = std::max(peak, std::fabs(pcm.samples[i]));
    }
    return 20 * std::log10(peak);
}

class Detector : public ::testing::TestWithParam<Row> {};

TEST_P(Detector, FindsTheKnownTransmissionsWithinAQuarterSecond) {
    const Row& row = GetParam();
    std::vector<recordings::Recording> set;
    std::string error;
    ASSERT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) << error;
    const auto recording = std::find_if(set.begin(), set.end(),
                                        [&](const auto& r) { return r.name == row.recording; });
    ASSERT_NE(recording, set.end());
    recordings::Pcm pcm;
    ASSERT_TRUE(recordings::decode(recording->path, pcm, error)) << error;
    ASSERT_EQ(pcm.channels, 1);

    std::vector<Span> found;
    std::vector<double> peaks;
    double started = -1;
    TransmissionDetector* self = nullptr;
    TransmissionDetector detector([&](const TransmissionDetector::Event& event) {
        const Transmission& t = event.transmission;
        const bool start = event.kind == TransmissionDetector::Event::Kind::Started;
        EXPECT_EQ(self->keyed(), start);
        if (start) {
            started = t.startSeconds;
            return;
        }
        EXPECT_EQ(started, t.startSeconds) << "an end without its start";
        found.push_back({t.startSeconds, t.startSeconds + t.durationSeconds});
        peaks.push_back(t.peakDbfs);
    });
    self = &detector;
    const std::size_t total = pcm.samples.size();
    std::vector<float> block;
    for (std::size_t at = 0; at < total; at += row.block) {
        const bool stereo = row.layout == Layout::Stereo ||
                            (row.layout == Layout::MonoThenStereo && at >= total / 2);
        block.clear();
        for (std::size_t i = at; i < std::min(total, at + row.block); ++i) {
            block.insert(block.end(), stereo ? 2 : 1, pcm.samples[i]);
        }
        detector.feed(block.data(), block.size() / (stereo ? 2 : 1), pcm.sampleRate,
                      stereo ? 2 : 1);
    }
    detector.finish();

    EXPECT_NEAR(detector.seconds(), pcm.seconds(), 1e-6);
    const auto matches = recordings::match(recording->truth, found);
    EXPECT_EQ(matches.size(), recording->truth.size()) << "missed transmissions";
    EXPECT_EQ(found.size(), matches.size()) << "false transmissions";
    for (const auto& [t, d] : matches) {
        EXPECT_NEAR(found[d].start, recording->truth[t].start, 0.25) << "transmission " << t;
        EXPECT_NEAR(found[d].end, recording->truth[t].end, 0.25) << "transmission " << t;
        EXPECT_NEAR(peaks[d], peakDbfs(pcm, found[d]), 0.01) << "transmission " << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, Detector,
                         ::testing::Values(Row{"tower-mp3-8k.mp3", 4096, Layout::Mono},
                                           Row{"approach-aac-16k.aac", 1, Layout::Stereo},
                                           Row{"ground-mp3-16k.mp3", 333, Layout::MonoThenStereo},
                                           Row{"static-mp3-8k.mp3", 1152, Layout::Mono}));

}  // namespace
}  // namespace orvento::test
