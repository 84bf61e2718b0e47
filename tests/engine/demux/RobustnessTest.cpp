// Real-world damage: junk, error pages, endless tags, noise, corruption and
// malformed containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tests/engine/demux/ParserTestSupport.h"

namespace orvento::test {
namespace {

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::vector<std::uint8_t> textBytes(const std::string& text) {
    return {text.begin(), text.end()};
}

const std::string kErrorPage =
    "<!DOCTYPE html>\r\n<html><head><title>404 Not Found</title></head>\r\n<body>"
    "<h1>Not Found</h1><p>The requested URL /live/tower.mp3 was not found on this server.</p>"
    "<hr><address>Apache Server at stream.example Port 80</address></body></html>\r\n";

// Junk of several kinds before real streams: the packets are unchanged.
struct JunkRow {
    const char* name;
    std::vector<std::uint8_t> junk;
};

class JunkPrefix : public ::testing::TestWithParam<std::tuple<JunkRow, const char*>> {};

TEST_P(JunkPrefix, IsSkippedAndThePacketsAreUnchanged) {
    const auto& [junk, fixture] = GetParam();
    std::vector<std::uint8_t> clean = readFixture(fixture);
    ParseRecord expected = parseBytes(clean, AudioFileType::MP3, Split::Whole);
    std::vector<std::uint8_t> dirty = concat(junk.junk, clean);
    for (Split split : {Split::Whole, Split::Random, Split::OneByte}) {
        ParseRecord r = parseBytes(dirty, AudioFileType::MP3, split);
        EXPECT_EQ(r.status, ParserError::None) << splitName(split);
        EXPECT_EQ(r.packetSizes, expected.packetSizes) << splitName(split);
        EXPECT_TRUE(r.audio == expected.audio) << splitName(split);
    }
}

JunkRow junkRows[] = {
    {"random_3k", randomBytes(3000, 3)},
    {"sync_like",
     [] {
         // Bytes that look like frame headers but never chain.
         std::vector<std::uint8_t> v;
         for (int i = 0; i < 400; ++i) {
             v.insert(v.end(), {0xFF, 0xFB, 0x90, 0x64, 0x00, 0xFF, 0xF1, 0x50, 0x80});
         }
         return v;
     }()},
    {"html", textBytes(kErrorPage)},
};

INSTANTIATE_TEST_SUITE_P(Streams, JunkPrefix,
                         ::testing::Combine(::testing::ValuesIn(junkRows),
                                            ::testing::Values("mpeg2_l3.mp3", "adts_lc.aac",
                                                              "mpeg1_l2.mp2")),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param).name) + "_" +
                                                std::get<1>(info.param);
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// An ID3v2.3 tag of `bytes` in all (`declared` overrides its size field).
std::vector<std::uint8_t> id3Tag(size_t bytes, std::uint32_t declared = 0) {
    const std::uint32_t size = declared != 0 ? declared : static_cast<std::uint32_t>(bytes - 10);
    std::vector<std::uint8_t> tag(bytes, 0);
    std::copy_n("ID3\3\0\0", 6, tag.begin());
    for (int i = 0; i < 4; ++i) {
        tag[6 + static_cast<size_t>(i)] = static_cast<std::uint8_t>(size >> (21 - 7 * i) & 0x7F);
    }
    return tag;
}

std::vector<std::uint8_t> repeat(const std::vector<std::uint8_t>& piece, size_t total) {
    std::vector<std::uint8_t> out;
    out.reserve(total + piece.size());
    while (out.size() < total) {
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

// Tags and skipped chunks before the first audio are capped (16 MiB): an
// endless run of them fails instead of loading for ever; large cover art, or
// tags once audio has played, do not.
constexpr size_t kPastTheCap = 17u << 20;

// Bytes that begin like a tag ("A" of an APE tag, "I" of ID3) and are none,
// near the end of what has come, then a tag too large to skip: fed a byte at
// a time, the stream is judged as when it is fed whole.
TEST(TagLookalikes, AreJudgedAsWhenFedWhole) {
    for (const char* junk : {"not a tag: WAVE", "not a tag: APE", "not a tag: IDX"}) {
        const std::vector<std::uint8_t> bytes = concat(textBytes(junk), id3Tag(10, 20u << 20));
        for (const AudioFileType hint : {AudioFileType::None, AudioFileType::MPEG4}) {
            const ParseRecord whole = parseBytes(bytes, hint, Split::Whole);
            EXPECT_EQ(whole.status, ParserError::UnsupportedFileType) << junk;
            EXPECT_EQ(parseBytes(bytes, hint, Split::OneByte).status, whole.status) << junk;
        }
    }
}

std::vector<std::uint8_t> wavHeadWithoutData() {
    std::vector<std::uint8_t> head = textBytes("RIFF\xff\xff\xff\xffWAVEfmt \x10");
    const std::uint8_t fmt[] = {0, 0,    0,    1, 0, 1, 0, 0x40, 0x1F, 0,
                                0, 0x80, 0x3E, 0, 0, 2, 0, 16,   0};
    head.insert(head.end(), std::begin(fmt), std::end(fmt));
    return head;
}

struct SkippedRow {
    const char* name;
    AudioFileType hint;
    std::vector<std::uint8_t> (*bytes)();  // made when the row runs: megabytes each
    ParserError status;                    // after every byte, or once the cap is passed
    bool plays;                            // audio was delivered
};

class SkippedBeforeAudio : public ::testing::TestWithParam<SkippedRow> {};

TEST_P(SkippedBeforeAudio, IsCappedOnlyBeforeTheFirstAudio) {
    const SkippedRow& row = GetParam();
    const std::vector<std::uint8_t> bytes = row.bytes();
    RecordingParser parser(row.hint);
    size_t fed = 0;
    while (fed < bytes.size() &&
           parser.feed(bytes.data() + fed, std::min<size_t>(32768, bytes.size() - fed)) ==
               ParserError::None) {
        fed += 32768;
    }
    const ParseRecord& r = parser.record();
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(!r.packetSizes.empty(), row.plays);
    if (row.status != ParserError::None) {
        EXPECT_LE(fed, (16u << 20) + 65536u) << "read long past the cap";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SkippedBeforeAudio,
    ::testing::Values(
        SkippedRow{"EndlessId3Tags", AudioFileType::MP3,
                   [] { return repeat(id3Tag(4096), kPastTheCap); },
                   ParserError::UnsupportedFileType, false},
        SkippedRow{"OneTagLargerThanTheCap", AudioFileType::MP3,
                   [] { return concat(id3Tag(1024, 20u << 20), readFixture("mpeg2_l3.mp3")); },
                   ParserError::UnsupportedFileType, false},
        SkippedRow{"EndlessWavChunksBeforeTheData", AudioFileType::WAVE,
                   [] {
                       const std::vector<std::uint8_t> chunk =
                           concat({'L', 'I', 'S', 'T', 0xF8, 0x0F, 0, 0},
                                  std::vector<std::uint8_t>(4088, 0));
                       return concat(wavHeadWithoutData(), repeat(chunk, kPastTheCap));
                   },
                   ParserError::UnsupportedFileType, false},
        SkippedRow{"CoverArtOf15MiB", AudioFileType::MP3,
                   [] { return concat(id3Tag(15u << 20), readFixture("mpeg2_l3.mp3")); },
                   ParserError::None, true},
        SkippedRow{"TagsAfterAudio", AudioFileType::MP3,
                   [] {
                       const std::vector<std::uint8_t> mp3 = readFixture("mpeg2_l3.mp3");
                       return concat(concat(mp3, repeat(id3Tag(4096), kPastTheCap)), mp3);
                   },
                   ParserError::None, true}),
    [](const auto& info) { return std::string(info.param.name); });

class RandomStream : public ::testing::TestWithParam<AudioFileType> {};

TEST_P(RandomStream, FailsWithinTheBudgetUnderEveryHint) {
    std::vector<std::uint8_t> noise = randomBytes(200000, 11);
    RecordingParser parser(GetParam());
    size_t fed = 0;
    while (fed < noise.size() && parser.feed(noise.data() + fed, 4096) == ParserError::None) {
        fed += 4096;
    }
    const ParseRecord& r = parser.record();
    EXPECT_NE(r.status, ParserError::None);
    EXPECT_LE(fed, 65536u + 4096u) << "kept loading long after 64 KiB of noise";
    EXPECT_EQ(r.readyCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Hints, RandomStream,
                         ::testing::Values(AudioFileType::MP3, AudioFileType::AAC_ADTS,
                                           AudioFileType::WAVE, AudioFileType::M4A,
                                           AudioFileType::CAF, AudioFileType::None));

// Damage in the middle of a frame stream: the frames before it are intact,
// sync is regained, and every frame after the damage is delivered.
struct CorruptionRow {
    const char* fixture;
    size_t damagedFrame;  // index of the first frame hit
    size_t damageBytes;
};

class Corruption : public ::testing::TestWithParam<CorruptionRow> {};

TEST_P(Corruption, SyncIsRegainedAfterTheDamage) {
    const CorruptionRow& row = GetParam();
    std::vector<std::uint8_t> bytes = readFixture(row.fixture);
    ParseRecord clean = parseBytes(bytes, AudioFileType::MP3, Split::Whole);
    ASSERT_GT(clean.packetSizes.size(), row.damagedFrame + 6);
    ASSERT_GE(clean.diagnostics.dataOffset, 0);
    size_t frameBytes = row.fixture[0] == 'a' ? 7 : 0;  // ADTS header stripped per frame
    size_t start = static_cast<size_t>(clean.diagnostics.dataOffset);
    for (size_t i = 0; i < row.damagedFrame; ++i) {
        start += clean.packetSizes[i] + frameBytes;
    }
    std::vector<std::uint8_t> noise = randomBytes(row.damageBytes, 5);
    for (std::uint8_t& b : noise) {
        b &= 0x7F;  // no sync bytes in the damage itself
    }
    std::copy(noise.begin(), noise.end(), bytes.begin() + static_cast<long>(start) + 1);

    for (Split split : {Split::Whole, Split::Random}) {
        ParseRecord r = parseBytes(bytes, AudioFileType::MP3, split);
        EXPECT_EQ(r.status, ParserError::None);
        EXPECT_GE(r.diagnostics.resyncs, 1u);
        std::vector<std::uint32_t> before(
            clean.packetSizes.begin(),
            clean.packetSizes.begin() + static_cast<long>(row.damagedFrame));
        ASSERT_GE(r.packetSizes.size(), before.size() + 3);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), r.packetSizes.begin()))
            << "frames before the damage";
        // After regaining sync the rest of the stream is delivered in full.
        std::vector<std::uint32_t> tail(r.packetSizes.end() - 3, r.packetSizes.end());
        std::vector<std::uint32_t> cleanTail(clean.packetSizes.end() - 3, clean.packetSizes.end());
        EXPECT_EQ(tail, cleanTail);
        EXPECT_LT(r.packetSizes.size(), clean.packetSizes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, Corruption,
                         ::testing::Values(CorruptionRow{"mpeg1_l3_vbr_xing.mp3", 10, 600},
                                           CorruptionRow{"mpeg1_l2.mp2", 5, 300},
                                           CorruptionRow{"adts_lc.aac", 6, 400}));

// Malformed containers: each is refused with a status, never a crash.
struct MalformedRow {
    const char* name;
    const char* fixture;
    size_t offset;  // where to write
    std::vector<std::uint8_t> patch;
    ParserError status;
};

class Malformed : public ::testing::TestWithParam<MalformedRow> {};

TEST_P(Malformed, IsRefusedWithAStatus) {
    const MalformedRow& row = GetParam();
    std::vector<std::uint8_t> bytes = readFixture(row.fixture);
    std::copy(row.patch.begin(), row.patch.end(), bytes.begin() + static_cast<long>(row.offset));
    ParseRecord r = parseBytes(bytes, AudioFileType::MP3, Split::Random);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.bytes, 0u);
}

const ParserError kUnsupported = ParserError::UnsupportedDataFormat;
const ParserError kInvalid = ParserError::InvalidFile;

INSTANTIATE_TEST_SUITE_P(
    Containers, Malformed,
    ::testing::Values(
        // fmt tag 2 (MS ADPCM) at offset 20; 0 channels; a 'fmt ' chunk of 4 GiB.
        MalformedRow{"wav_adpcm", "wav_u8.wav", 20, {0x02, 0x00}, kUnsupported},
        MalformedRow{"wav_no_channels", "wav_s16.wav", 22, {0x00, 0x00}, kUnsupported},
        MalformedRow{"wav_huge_fmt", "wav_s16.wav", 16, {0xFF, 0xFF, 0xFF, 0xFF}, kInvalid},
        // AIFC compression 'ulaw'; a CAF 'desc' naming a format the parser
        // does not read ('alac').
        MalformedRow{"aifc_ulaw", "aifc_fl32.aifc", 0x32, {'u', 'l', 'a', 'w'}, kUnsupported},
        MalformedRow{"caf_alac", "caf_s16le.caf", 28, {'a', 'l', 'a', 'c'}, kUnsupported}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento::test
