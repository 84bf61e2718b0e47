// Decoding inside the queue (every PCM layout is the quality test's): a
// frame cut short completed at a flush, the cookie copied during the call,
// damaged packets replaced by silence, and a stream that changes rate and
// channels mid-way converted to the output's format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

#include "tests/engine/audio/QueueTestSupport.h"
#include "tests/support/AudioCompare.h"
#include "tools/probe/Decode.h"

namespace orvento {
namespace {

std::vector<std::byte> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::byte> out(bytes.size());
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

// Plays `bytes` in buffers of `bufferBytes` through a queue for `format` into a
// WAV file, flushing at the end, and returns what the file holds.
AudioClip playToWav(const AudioFormat& format, const std::vector<std::byte>& bytes,
                    std::size_t bufferBytes) {
    const std::string path = scratchPath("out.wav");
    {
        RecordingQueue queue(format, wavOutput(path));
        EXPECT_EQ(queue.status(), QueueError::None);
        if (queue.status() != QueueError::None) {
            return {};
        }
        std::vector<OutputQueue::Buffer*> buffers;
        for (std::size_t at = 0; at < bytes.size(); at += bufferBytes) {
            const std::size_t size = std::min(bufferBytes, bytes.size() - at);
            buffers.push_back(queue.allocate(static_cast<std::uint32_t>(size)));
            EXPECT_EQ(
                queue.enqueue(buffers.back(),
                              std::vector<std::byte>(bytes.begin() + static_cast<long>(at),
                                                     bytes.begin() + static_cast<long>(at + size))),
                QueueError::None);
        }
        EXPECT_EQ(queue.get().flush(), QueueError::None);
        EXPECT_EQ(queue.get().start(), QueueError::None);
        EXPECT_EQ(queue.get().stop(false), QueueError::None);
        EXPECT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Stopped) == 1; }));
        for (OutputQueue::Buffer* buffer : buffers) {
            EXPECT_EQ(queue.timesBack(buffer), 1U);
        }
    }
    std::string error;
    std::optional<AudioClip> clip = readWav(path, &error);
    EXPECT_TRUE(clip.has_value()) << error;
    return clip.value_or(AudioClip{});
}

TEST(PcmFlush, CompletesAFrameCutShortWithZeros) {
    // Two 16-bit stereo frames and then only the left sample of a third.
    const std::vector<std::byte> bytes = {
        std::byte{0x00}, std::byte{0x40}, std::byte{0x00}, std::byte{0xC0}, std::byte{0x00},
        std::byte{0x20}, std::byte{0x00}, std::byte{0xE0}, std::byte{0x00}, std::byte{0x10}};
    const AudioClip clip = playToWav(pcm16(8000, 2), bytes, bytes.size());
    ASSERT_EQ(clip.frames(), 3U);
    EXPECT_EQ(clip.samples, (std::vector<float>{0.5F, -0.5F, 0.25F, -0.25F, 0.125F, 0.0F}));
}

// ---- Compressed formats through the real parser ---------------------------------

// Passes deliveries on to the feeder; once ready, hands it a copy of the format
// and cookie, changed by `edit`, and scribbles over that copy as soon as the
// feeder has given it to the queue.
class EditingObserver final : public probe::PacketObserver {
  public:
    EditingObserver(probe::QueueFeeder& feeder, std::function<void(probe::ProbeResult&)> edit)
        : feeder_(feeder), edit_(std::move(edit)) {}
    void onReady(const probe::ProbeResult& result) override {
        probe::ProbeResult copy = result;
        edit_(copy);
        feeder_.onReady(copy);
        std::fill(copy.cookie.begin(), copy.cookie.end(), std::uint8_t{0xFF});
        copy.cookie.clear();
        copy.cookie.shrink_to_fit();
    }
    void onPackets(std::span<const std::byte> bytes,
                   std::span<const PacketDescription> descriptions) override {
        feeder_.onPackets(bytes, descriptions);
    }

  private:
    probe::QueueFeeder& feeder_;
    std::function<void(probe::ProbeResult&)> edit_;
};

TEST(MagicCookie, IsCopiedDuringTheCallAndConfiguresTheDecoder) {
    const std::string path = scratchPath("out.wav");
    probe::DecodeOptions options;
    options.output = wavOutput(path);
    probe::QueueFeeder feeder(options);
    {
        // The format record claims mono: only the cookie tells the decoder
        // that the stream is stereo.
        EditingObserver observer(feeder, [](probe::ProbeResult& r) {
            ASSERT_TRUE(r.hasCookie);
            r.format.channelsPerFrame = 1;
        });
        probe::Probe probe(AudioFileType::AAC_ADTS, &observer);
        std::string error;
        ASSERT_TRUE(probe::probeFile(fixture("adts_stereo.aac"), probe, error)) << error;
    }
    const probe::DecodeReport report = feeder.finish();
    ASSERT_TRUE(report.ok) << report.error;
    const std::optional<AudioClip> clip = readWav(path);
    const std::optional<AudioClip> reference = readWav(fixture("reference/adts_stereo.aac.wav"));
    ASSERT_TRUE(clip.has_value() && reference.has_value());
    const AudioComparison c = compareAudio(*clip, *reference, 4096);
    EXPECT_TRUE(c.sameChannels);
    EXPECT_GE(c.snrDb, 40);
}

struct DamageRow {
    const char* name;
    const char* fixture;
    std::byte fill;   // what the damaged packet's bytes become
    long frame;       // frames per packet
    double minSnrDb;  // of the audio a few packets later against the undamaged decode
};

class DamagedPacket : public ::testing::TestWithParam<DamageRow> {};

TEST_P(DamagedPacket, IsReplacedBySilenceOfItsDurationAndDecodingGoesOn) {
    const DamageRow& row = GetParam();
    const std::string file = fixture(row.fixture);
    const AudioFileType hint = probe::hintFor(file);
    probe::DecodeOptions clean;
    clean.output = wavOutput(scratchPath("clean.wav"));
    ASSERT_TRUE(probe::decodeFile(file, hint, clean).ok);

    constexpr std::uint64_t kDamaged = 6;
    probe::DecodeOptions damaged;
    damaged.output = wavOutput(scratchPath("damaged.wav"));
    damaged.onPacket = [&](std::span<std::byte> packet, std::uint64_t index) {
        if (index == kDamaged) {
            std::fill(packet.begin(), packet.end(), row.fill);
        }
    };
    const probe::DecodeReport report = probe::decodeFile(file, hint, damaged);
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_NE(report.queueErrorText, "");

    const std::optional<AudioClip> a = readWav(clean.output.wavPath);
    const std::optional<AudioClip> b = readWav(damaged.output.wavPath);
    ASSERT_TRUE(a.has_value() && b.has_value());
    ASSERT_EQ(b->frames(), a->frames());
    const auto channels = static_cast<std::size_t>(a->channels);
    // Before the damaged packet: the same audio.
    const std::size_t before = (kDamaged - 1) * static_cast<std::size_t>(row.frame) * channels;
    EXPECT_TRUE(std::equal(a->samples.begin(), a->samples.begin() + static_cast<long>(before),
                           b->samples.begin()));
    // Where it was: silence.
    const std::size_t from = kDamaged * static_cast<std::size_t>(row.frame) * channels;
    const std::size_t to = from + static_cast<std::size_t>(row.frame) / 2 * channels;
    if (row.fill == std::byte{0x00}) {
        for (std::size_t i = from; i < to; ++i) {
            ASSERT_EQ(b->samples[i], 0.0F) << "sample " << i;
        }
    }
    // A few packets later: the same audio again.
    AudioClip tailA;
    AudioClip tailB;
    tailA.sampleRate = tailB.sampleRate = a->sampleRate;
    tailA.channels = tailB.channels = a->channels;
    const std::size_t later = (kDamaged + 4) * static_cast<std::size_t>(row.frame) * channels;
    tailA.samples.assign(a->samples.begin() + static_cast<long>(later), a->samples.end());
    tailB.samples.assign(b->samples.begin() + static_cast<long>(later), b->samples.end());
    EXPECT_GE(snrDb(tailB, tailA, 0), row.minSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, DamagedPacket,
    ::testing::Values(DamageRow{"Mp3Zeroed", "mpeg2_l3.mp3", std::byte{0x00}, 576, 60},
                      DamageRow{"Mp2Garbage", "mpeg1_l2.mp2", std::byte{0x5A}, 1152, 60},
                      DamageRow{"AacZeroed", "adts_lc.aac", std::byte{0x00}, 1024, 40},
                      DamageRow{"AacGarbage", "adts_stereo.aac", std::byte{0xFF}, 1024, 40}),
    [](const auto& info) { return std::string(info.param.name); });

// Energy of `clip`'s first channel at `hz` relative to its total energy.
double toneShare(const AudioClip& clip, std::size_t from, std::size_t to, double hz) {
    const double w = 2 * std::numbers::pi * hz / clip.sampleRate;
    double re = 0;
    double im = 0;
    double total = 0;
    const auto channels = static_cast<std::size_t>(clip.channels);
    for (std::size_t i = from; i < to; ++i) {
        const double x = clip.samples[i * channels];
        re += x * std::cos(w * static_cast<double>(i));
        im += x * std::sin(w * static_cast<double>(i));
        total += x * x;
    }
    const double n = static_cast<double>(to - from);
    return (re * re + im * im) * 2 / n / total;
}

TEST(FormatChange, MidStreamIsConvertedToTheOutputsFormat) {
    // Layer II at 32 kHz mono, then Layer III at 11.025 kHz stereo whose right
    // channel is a 440 Hz tone, as one run of bytes without descriptions.
    std::vector<std::byte> bytes = readFile(fixture("mpeg1_l2.mp2"));
    const std::vector<std::byte> second = readFile(fixture("mpeg25_l3_stereo.mp3"));
    bytes.insert(bytes.end(), second.begin(), second.end());
    AudioFormat format{};
    format.formatId = kFormatMpegLayer2;
    format.sampleRate = 32000;
    format.channelsPerFrame = 1;
    format.framesPerPacket = 1152;
    const AudioClip clip = playToWav(format, bytes, 32768);
    ASSERT_EQ(clip.sampleRate, 32000);
    ASSERT_EQ(clip.channels, 1);

    const std::optional<AudioClip> first = readWav(fixture("reference/mpeg1_l2.mp2.wav"));
    const std::optional<AudioClip> later = readWav(fixture("reference/mpeg25_l3_stereo.mp3.wav"));
    ASSERT_TRUE(first.has_value() && later.has_value());
    // The second part lasts as long as it did at its own rate (give or take
    // the encoder's delay and padding, under two of its frames).
    const double secondPart = static_cast<double>(clip.frames() - first->frames()) / 32000;
    const double expected = static_cast<double>(later->frames()) / 11025;
    EXPECT_NEAR(secondPart, expected, 2 * 576.0 / 11025);
    // And sounds at its own pitch: the tone is at 440 Hz, not where a wrong
    // rate would move it.
    const std::size_t from = first->frames() + 4000;
    const std::size_t to = clip.frames() - 2000;
    EXPECT_GT(toneShare(clip, from, to, 440),
              10 * toneShare(clip, from, to, 440 * 32000 / 11025.0));
    EXPECT_GT(toneShare(clip, from, to, 440), 0.2);
}

}  // namespace
}  // namespace orvento
