// Every supported format, from real fixtures: the format record, the cookie
// and the packets must match what an independent reader (ffprobe) found, and
// every way of cutting the bytes into parse calls must give the same result.
#include <gtest/gtest.h>

#include <numeric>

#include "tests/engine/demux/ParserTestSupport.h"

namespace orvento::test {
namespace {

enum class Packets {
    Same,      // packet sizes equal the record
    Adts7,     // the record's sizes include a 7-byte ADTS header
    Adts9,     // ... a 9-byte header (with CRC)
    PcmTotal,  // linear PCM: the record's sizes add up to the data size
};

struct FixtureRow {
    const char* file;
    AudioFileType fileType;
    std::uint32_t formatId;
    double sampleRate;
    std::uint32_t channels;
    std::uint32_t flags;
    std::uint32_t bits;
    std::uint32_t bytesPerFrame;
    std::uint32_t framesPerPacket;
    const char* cookie;  // hex; "" = no cookie
    Packets packets;
};

void PrintTo(const FixtureRow& row, std::ostream* out) {
    *out << row.file;
}

constexpr std::uint32_t kPacked = kPcmPacked;
constexpr std::uint32_t kSigned = kPcmSignedInteger;
constexpr std::uint32_t kFloat = kPcmFloat;
constexpr std::uint32_t kBig = kPcmBigEndian;

const FixtureRow kFixtures[] = {
    {"mpeg1_l1.mp1", AudioFileType::MP1, kFormatMpegLayer1, 32000, 1, 0, 0, 0, 384, "",
     Packets::Same},
    {"mpeg1_l2.mp2", AudioFileType::MP2, kFormatMpegLayer2, 32000, 1, 0, 0, 0, 1152, "",
     Packets::Same},
    {"mpeg2_l2.mp2", AudioFileType::MP2, kFormatMpegLayer2, 16000, 1, 0, 0, 0, 1152, "",
     Packets::Same},
    {"mpeg1_l3_cbr_id3.mp3", AudioFileType::MP3, kFormatMpegLayer3, 32000, 1, 0, 0, 0, 1152, "",
     Packets::Same},
    {"mpeg1_l3_vbr_xing.mp3", AudioFileType::MP3, kFormatMpegLayer3, 44100, 1, 0, 0, 0, 1152, "",
     Packets::Same},
    {"mpeg2_l3.mp3", AudioFileType::MP3, kFormatMpegLayer3, 22050, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"mpeg25_l3.mp3", AudioFileType::MP3, kFormatMpegLayer3, 8000, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"mpeg25_l3_stereo.mp3", AudioFileType::MP3, kFormatMpegLayer3, 11025, 2, 0, 0, 0, 576, "",
     Packets::Same},
    // Announced as its first part; the later parts (24 kHz stereo, then
    // 32 kHz stereo MPEG-1) are delivered all the same.
    {"mpeg_format_change.mp3", AudioFileType::MP3, kFormatMpegLayer3, 22050, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"id3_huge.mp3", AudioFileType::MP3, kFormatMpegLayer3, 22050, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"id3v24_footer_unsync.mp3", AudioFileType::MP3, kFormatMpegLayer3, 8000, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"adts_lc.aac", AudioFileType::AAC_ADTS, kFormatAac, 16000, 1, 2, 0, 0, 1024, "1408",
     Packets::Adts7},
    {"adts_crc.aac", AudioFileType::AAC_ADTS, kFormatAac, 16000, 1, 2, 0, 0, 1024, "1408",
     Packets::Adts9},
    {"adts_stereo.aac", AudioFileType::AAC_ADTS, kFormatAac, 22050, 2, 2, 0, 0, 1024, "1390",
     Packets::Adts7},
    {"m4a_faststart.m4a", AudioFileType::M4A, kFormatAac, 16000, 1, 2, 0, 0, 1024, "140856e500",
     Packets::Same},
    {"mp4_faststart.mp4", AudioFileType::MPEG4, kFormatAac, 22050, 2, 2, 0, 0, 1024, "139056e500",
     Packets::Same},
    {"caf_aac.caf", AudioFileType::CAF, kFormatAac, 16000, 1, 2, 0, 0, 1024, "1408", Packets::Same},
    {"caf_s16le.caf", AudioFileType::CAF, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 16, 2, 1,
     "", Packets::PcmTotal},
    {"caf_f32be.caf", AudioFileType::CAF, kFormatLinearPcm, 8000, 2, kPacked | kFloat | kBig, 32, 8,
     1, "", Packets::PcmTotal},
    {"wav_u8.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked, 8, 1, 1, "",
     Packets::PcmTotal},
    {"wav_s16.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 2, kPacked | kSigned, 16, 4, 1, "",
     Packets::PcmTotal},
    {"wav_s24_plain.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 24, 3,
     1, "", Packets::PcmTotal},
    {"wav_s24_extensible.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kSigned,
     24, 3, 1, "", Packets::PcmTotal},
    {"wav_s32.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 32, 4, 1, "",
     Packets::PcmTotal},
    {"wav_f32.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 2, kPacked | kFloat, 32, 8, 1, "",
     Packets::PcmTotal},
    {"wav_f64.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kFloat, 64, 8, 1, "",
     Packets::PcmTotal},
    {"wav_mp3.wav", AudioFileType::MP3, kFormatMpegLayer3, 22050, 1, 0, 0, 0, 576, "",
     Packets::Same},
    {"wav_live_ffffffff.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 16,
     2, 1, "", Packets::PcmTotal},
    {"wav_live_zero.wav", AudioFileType::WAVE, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 16, 2,
     1, "", Packets::PcmTotal},
    {"aiff_s8.aiff", AudioFileType::AIFF, kFormatLinearPcm, 8000, 1, kPacked | kSigned, 8, 1, 1, "",
     Packets::PcmTotal},
    {"aiff_s16.aiff", AudioFileType::AIFF, kFormatLinearPcm, 8000, 1, kPacked | kSigned | kBig, 16,
     2, 1, "", Packets::PcmTotal},
    {"aiff_s24.aiff", AudioFileType::AIFF, kFormatLinearPcm, 8000, 2, kPacked | kSigned | kBig, 24,
     6, 1, "", Packets::PcmTotal},
    {"aifc_none.aifc", AudioFileType::AIFC, kFormatLinearPcm, 8000, 1, kPacked | kSigned | kBig, 16,
     2, 1, "", Packets::PcmTotal},
    {"aifc_sowt.aifc", AudioFileType::AIFC, kFormatLinearPcm, 8000, 2, kPacked | kSigned, 16, 4, 1,
     "", Packets::PcmTotal},
    {"aifc_fl32.aifc", AudioFileType::AIFC, kFormatLinearPcm, 8000, 1, kPacked | kFloat | kBig, 32,
     4, 1, "", Packets::PcmTotal},
    {"aifc_fl64.aifc", AudioFileType::AIFC, kFormatLinearPcm, 8000, 1, kPacked | kFloat | kBig, 64,
     8, 1, "", Packets::PcmTotal},
};

class FixtureParse : public ::testing::TestWithParam<FixtureRow> {};

TEST_P(FixtureParse, FormatCookieAndPacketsMatchTheIndependentReader) {
    const FixtureRow& row = GetParam();
    ParseRecord r = parseBytes(readFixture(row.file), AudioFileType::MP3, Split::Engine32k);

    ASSERT_EQ(r.status, ParserError::None);
    ASSERT_EQ(r.readyCount, 1);
    EXPECT_EQ(r.fileType, row.fileType);
    const AudioFormat& f = r.format;
    EXPECT_EQ(f.formatId, row.formatId);
    EXPECT_EQ(f.sampleRate, row.sampleRate);
    EXPECT_EQ(f.channelsPerFrame, row.channels);
    EXPECT_EQ(f.formatFlags, row.flags);
    EXPECT_EQ(f.bitsPerChannel, row.bits);
    EXPECT_EQ(f.bytesPerFrame, row.bytesPerFrame);
    EXPECT_EQ(f.bytesPerPacket, row.bytesPerFrame);
    EXPECT_EQ(f.framesPerPacket, row.framesPerPacket);
    EXPECT_EQ(hex(r.cookie), row.cookie);
    EXPECT_EQ(r.hasCookie, row.cookie[0] != '\0') << "a format without a cookie must say so";

    std::vector<std::uint32_t> expected = expectedPacketSizes(row.file);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(r.descriptionsInBounds);
    switch (row.packets) {
        case Packets::PcmTotal:
            EXPECT_TRUE(r.packetSizes.empty());
            EXPECT_TRUE(r.pcmRunsWholeFrames);
            EXPECT_EQ(r.bytes, std::accumulate(expected.begin(), expected.end(), std::uint64_t{0}));
            break;
        case Packets::Adts7:
        case Packets::Adts9:
            for (std::uint32_t& size : expected) {
                size -= row.packets == Packets::Adts7 ? 7 : 9;
            }
            [[fallthrough]];
        case Packets::Same:
            EXPECT_EQ(r.packetSizes, expected);
            break;
    }
}

TEST_P(FixtureParse, EverySplitYieldsTheSameFormatCookieAndPackets) {
    const FixtureRow& row = GetParam();
    std::vector<std::uint8_t> bytes = readFixture(row.file);
    ParseRecord whole = parseBytes(bytes, AudioFileType::MP3, Split::Whole);
    ASSERT_EQ(whole.readyCount, 1);
    for (Split split : {Split::OneByte, Split::Random, Split::Primes, Split::Engine32k}) {
        SCOPED_TRACE(splitName(split));
        ParseRecord r = parseBytes(bytes, AudioFileType::MP3, split, 7);
        EXPECT_EQ(r.status, whole.status);
        EXPECT_EQ(r.readyCount, 1);
        EXPECT_EQ(r.format, whole.format);
        EXPECT_EQ(r.cookie, whole.cookie);
        EXPECT_EQ(r.packetSizes, whole.packetSizes);
        EXPECT_TRUE(r.audio == whole.audio) << "packet bytes differ";
        EXPECT_TRUE(r.pcmRunsWholeFrames);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureParse, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<FixtureRow>& info) {
                             std::string name = info.param.file;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
}  // namespace orvento::test
