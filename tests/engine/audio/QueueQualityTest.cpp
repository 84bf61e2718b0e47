// Real fixtures of every supported format, parsed by the real parser and fed
// through the queue as the stream player feeds it, into the WAV writer; the
// result is compared with ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/engine/audio/QueueTestSupport.h"
#include "tests/support/AudioCompare.h"
#include "tools/probe/Decode.h"

namespace orvento {
namespace {

struct QualityRow {
    const char* fixture;
    long frame;  // frames per packet: the length tolerance
    double minSnrDb;
};

// MPEG audio and linear PCM must match to 60 dB, AAC to 40 dB.
const QualityRow kRows[] = {
    {"mpeg1_l1.mp1", 384, 60},
    {"mpeg1_l2.mp2", 1152, 60},
    {"mpeg2_l2.mp2", 1152, 60},
    {"mpeg1_l3_cbr_id3.mp3", 1152, 60},
    {"mpeg1_l3_vbr_xing.mp3", 1152, 60},
    {"mpeg2_l3.mp3", 576, 60},
    {"mpeg25_l3.mp3", 576, 60},
    {"mpeg25_l3_stereo.mp3", 576, 60},
    {"id3_huge.mp3", 576, 60},
    {"id3v24_footer_unsync.mp3", 576, 60},
    {"wav_mp3.wav", 576, 60},
    {"adts_lc.aac", 1024, 40},
    {"adts_crc.aac", 1024, 40},
    {"adts_stereo.aac", 1024, 40},
    {"m4a_faststart.m4a", 1024, 40},
    {"mp4_faststart.mp4", 1024, 40},
    {"caf_aac.caf", 1024, 40},
    {"wav_u8.wav", 1, 60},
    {"wav_s16.wav", 1, 60},
    {"wav_s24_plain.wav", 1, 60},
    {"wav_s24_extensible.wav", 1, 60},
    {"wav_s32.wav", 1, 60},
    {"wav_f32.wav", 1, 60},
    {"wav_f64.wav", 1, 60},
    {"wav_live_ffffffff.wav", 1, 60},
    {"wav_live_zero.wav", 1, 60},
    {"aiff_s8.aiff", 1, 60},
    {"aiff_s16.aiff", 1, 60},
    {"aiff_s24.aiff", 1, 60},
    {"aifc_none.aifc", 1, 60},
    {"aifc_sowt.aifc", 1, 60},
    {"aifc_fl32.aifc", 1, 60},
    {"aifc_fl64.aifc", 1, 60},
    {"caf_s16le.caf", 1, 60},
    {"caf_f32be.caf", 1, 60},
};

class FixtureThroughQueue : public ::testing::TestWithParam<QualityRow> {};

TEST_P(FixtureThroughQueue, MatchesTheReferenceDecode) {
    const QualityRow& row = GetParam();
    const std::string file = fixture(row.fixture);
    const std::string out = scratchPath("decoded.wav");
    probe::DecodeOptions options;
    options.output = wavOutput(out);
    const probe::DecodeReport report = probe::decodeFile(file, probe::hintFor(file), options);
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_EQ(report.queueErrorText, "");

    std::string error;
    const std::optional<AudioClip> test = readWav(out, &error);
    ASSERT_TRUE(test.has_value()) << error;
    const std::optional<AudioClip> reference =
        readWav(fixture("reference/") + row.fixture + ".wav", &error);
    ASSERT_TRUE(reference.has_value()) << error;

    const AudioComparison c = compareAudio(*test, *reference, 4096);
    std::printf("%-26s %6.1f dB, delay %5ld, length %+6ld frames\n", row.fixture, c.snrDb, c.lag,
                c.lengthDifference);
    EXPECT_TRUE(c.sameRate) << test->sampleRate << " vs " << reference->sampleRate;
    EXPECT_TRUE(c.sameChannels) << test->channels << " vs " << reference->channels;
    // The reference drops the encoder's delay where the file records it (the
    // MP3 encoder's summary frame, MP4 edit lists), which the stream does not
    // carry to the queue: the alignment finds that delay at the start, no
    // more than two frames, and after it the lengths agree within one frame.
    EXPECT_GE(c.lag, 0);
    EXPECT_LE(c.lag, 2 * row.frame);
    EXPECT_LE(std::labs(c.lengthDifference - c.lag), row.frame)
        << test->frames() << " frames decoded, " << reference->frames()
        << " in the reference, aligned at " << c.lag;
    EXPECT_GE(c.snrDb, row.minSnrDb) << "aligned at " << c.lag;
    EXPECT_EQ(report.framesPlayed, test->frames());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureThroughQueue, ::testing::ValuesIn(kRows),
                         [](const auto& info) {
                             std::string name = info.param.fixture;
                             for (char& c : name) {
                                 if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
}  // namespace orvento
