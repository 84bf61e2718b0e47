// The station history's bounds (window, bytes, records) and ring wrap as
// rows; its segments; and the tap on a real player over loopback: every
// packet kept, the detector's transmissions found again in the history, and
// one of them replayed from memory into a WAV file of its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "engine/history/HistoryTap.h"
#include "engine/history/ReplayPlayer.h"
#include "tests/engine/player/PlayerHarness.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::test {
namespace {

using Clock = StationHistory::Clock;

AudioFormat mp3Format() {
    AudioFormat format{};
    format.sampleRate = 8000;
    format.formatId = kFormatMpegLayer3;
    format.framesPerPacket = 576;
    format.channelsPerFrame = 1;
    return format;
}

struct BoundsRow {
    const char* name;
    std::chrono::seconds window;
    std::size_t maxBytes;
    std::size_t packetBytes;
    int packets;  // 100 ms apart, each `growth` bytes larger than the one before
    std::size_t minKept, maxKept;
    std::size_t growth = 0;
};

void PrintTo(const BoundsRow& row, std::ostream* out) {
    *out << row.name;
}

class HistoryBounds : public ::testing::TestWithParam<BoundsRow> {};

TEST_P(HistoryBounds, KeepsTheNewestPacketsIntactWithinItsBounds) {
    const BoundsRow& row = GetParam();
    StationHistory history(row.window, row.maxBytes);
    history.beginStream(mp3Format(), {});
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < row.packets; ++i) {
        std::vector<std::uint8_t> packet(row.packetBytes + i % 3 + i * row.growth,
                                         static_cast<std::uint8_t>(i));
        history.append(packet, 576, start + std::chrono::milliseconds(100 * i), i * 0.072);
        ASSERT_LE(history.memoryBytes(), row.maxBytes) << "after packet " << i;
    }
    const std::size_t kept = history.packetCount();
    EXPECT_GE(kept, row.minKept);
    EXPECT_LE(kept, row.maxKept);
    const auto excerpts = history.since(start);
    if (kept == 0) {
        EXPECT_TRUE(excerpts.empty());
        return;
    }
    ASSERT_EQ(excerpts.size(), 1U);
    const auto& excerpt = excerpts.front();
    ASSERT_EQ(excerpt.descriptions.size(), kept);
    // The newest, in order, each byte as written.
    for (std::size_t k = 0; k < kept; ++k) {
        const int i = row.packets - static_cast<int>(kept) + static_cast<int>(k);
        const auto& d = excerpt.descriptions[k];
        ASSERT_EQ(d.byteSize, row.packetBytes + i % 3 + i * row.growth) << "packet " << i;
        const auto* bytes = excerpt.bytes.data() + d.startOffset;
        ASSERT_TRUE(std::all_of(bytes, bytes + d.byteSize,
                                [&](std::uint8_t b) { return b == static_cast<std::uint8_t>(i); }))
            << "packet " << i << " damaged";
    }
    EXPECT_NEAR(excerpt.fromSeconds, (row.packets - static_cast<int>(kept)) * 0.072, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HistoryBounds,
    ::testing::Values(
        // name                 window  maxBytes   packet  count  kept
        BoundsRow{"all_kept", std::chrono::seconds(60), 1 << 20, 100, 300, 300, 300},
        BoundsRow{"window_drops_old", std::chrono::seconds(5), 1 << 20, 100, 300, 51, 51},
        BoundsRow{"bytes_wrap_ring", std::chrono::seconds(3600), 1 << 16, 1000, 400, 40, 50},
        BoundsRow{"records_bound_tiny", std::chrono::seconds(3600), 1 << 16, 4, 3000, 300, 420},
        BoundsRow{"growth_keeps_bytes", std::chrono::seconds(3600), 1 << 22, 3000, 900, 900, 900},
        BoundsRow{"growth_after_drops", std::chrono::seconds(2), 1 << 22, 100, 330, 21, 21, 40},
        BoundsRow{"too_large_packet", std::chrono::seconds(60), 1 << 16, 60000, 5, 0, 0}));

TEST(HistorySegments, EachStreamIsASegmentAndTheNextComesAfterAGap) {
    StationHistory history;
    const Clock::time_point start = Clock::now();
    const std::vector<std::uint8_t> packet(50, 1);
    const std::vector<std::uint8_t> cookie{0x12, 0x10};
    history.append(packet, 576, start, 0);  // before any stream: not kept
    history.beginStream(mp3Format(), {});
    history.append(packet, 576, start, 0);
    history.append(packet, 576, start, 0.072);
    history.endStream();
    history.append(packet, 576, start, 0.144);  // between streams: not kept
    history.beginStream(mp3Format(), cookie);
    history.append(packet, 576, start + std::chrono::seconds(5), 10);
    const auto all = history.since(start);
    ASSERT_EQ(all.size(), 2U);
    EXPECT_EQ(all[0].descriptions.size(), 2U);
    EXPECT_FALSE(all[0].afterGap);
    EXPECT_TRUE(all[1].afterGap);
    EXPECT_EQ(all[1].cookie, cookie);
    const auto second = history.between(10, 10.1);
    ASSERT_EQ(second.size(), 1U);
    EXPECT_TRUE(second[0].afterGap);
}

struct TapRow {
    const char* recording;
};

void PrintTo(const TapRow& row, std::ostream* out) {
    *out << row.recording;
}

class HistoryTapOnAPlayer : public ::testing::TestWithParam<TapRow> {};

TEST_P(HistoryTapOnAPlayer, KeepsEveryPacketAndFindsEachTransmissionInIt) {
    std::vector<recordings::Recording> set;
    std::string error;
    ASSERT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) << error;
    const auto recording = std::find_if(
        set.begin(), set.end(), [&](const auto& r) { return r.name == GetParam().recording; });
    ASSERT_NE(recording, set.end());

    std::mutex mutex;
    std::vector<recordings::Span> found;
    auto history = std::make_shared<StationHistory>();
    auto tap = std::make_shared<HistoryTap>(
        history,
        [&](const TransmissionDetector::Event& e, double /*now*/, const std::string& /*station*/) {
            if (e.kind == TransmissionDetector::Event::Kind::Ended) {
                std::lock_guard lock(mutex);
                found.push_back({e.transmission.startSeconds,
                                 e.transmission.startSeconds + e.transmission.durationSeconds});
            }
        });
    PlayerHarness h;
    h.server.setScript("/station", fixtureScript(recording->path));
    h.player = Pelorin::initWithURL(Url::parse(h.server.url("/station")),
                                    {h.platform, h.alerts, nullptr, &h.workers, tap->forPlayer()});
    h.weak = h.player;
    h.player->start();
    ASSERT_TRUE(h.waitEnded());
    ASSERT_TRUE(tap->decoderProblem().empty()) << tap->decoderProblem();

    const auto whole = history->since(Clock::time_point{});
    ASSERT_EQ(whole.size(), 1U);
    const std::vector<std::uint8_t> file = readFile(recording->path);
    const std::vector<std::uint8_t>& kept = whole[0].bytes;
    if (whole[0].format.formatId == kFormatMpegLayer3) {
        // The frames as they were in the file, none left out.
        EXPECT_NE(std::search(file.begin(), file.end(), kept.begin(), kept.end()), file.end());
        EXPECT_GT(kept.size(), file.size() * 95 / 100);
    }

    ASSERT_EQ(recordings::match(recording->truth, found).size(), recording->truth.size());
    for (const auto& span : found) {
        const auto excerpts = history->between(span.start, span.end);
        ASSERT_EQ(excerpts.size(), 1U);
        EXPECT_NEAR(excerpts[0].fromSeconds, span.start, 0.3);
        EXPECT_GE(excerpts[0].toSeconds, span.end);
        if (whole[0].format.formatId == kFormatMpegLayer3) {
            // Where the transmission is in the file (16 kbit/s: 2000 bytes a second).
            const auto& bytes = excerpts[0].bytes;
            const auto at = std::search(file.begin(), file.end(), bytes.begin(), bytes.end());
            EXPECT_NEAR(static_cast<double>(at - file.begin()) / 2000, span.start, 0.4);
        }
    }

    // The last transmission again, from memory, into a WAV file.
    const auto path = std::filesystem::temp_directory_path() /
                      ("orvento-replay-" + std::to_string(::getpid()) + ".wav");
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::WavFile;
    output.wavPath = path.string();
    const auto excerpt = history->between(found.back().start, found.back().end).front();
    // Heard, then again with the output muted: as long, and silent.
    const auto mute = std::make_shared<std::atomic<bool>>(false);
    output.muted = mute;
    for (const bool muted : {false, true}) {
        mute->store(muted);
        std::mutex endMutex;
        std::condition_variable ended;
        int endings = 0;
        {
            ReplayPlayer replay(output, [&] {
                std::lock_guard lock(endMutex);
                ++endings;
                ended.notify_all();
            });
            ASSERT_TRUE(replay.play(excerpt, error)) << error;
            std::unique_lock lock(endMutex);
            ASSERT_TRUE(ended.wait_for(lock, 20s, [&] { return endings > 0; }));
        }
        EXPECT_EQ(endings, 1);
        const std::vector<std::uint8_t> wav = readFile(path);
        const std::string data = "data";
        const auto samples = std::search(wav.begin(), wav.end(), data.begin(), data.end()) + 8;
        ASSERT_LT(samples, wav.end());
        const double seconds = static_cast<double>(wav.end() - samples) / 4 /
                               excerpt.format.sampleRate / excerpt.format.channelsPerFrame;
        EXPECT_NEAR(seconds, excerpt.toSeconds - excerpt.fromSeconds, 0.15);
        const bool silent = std::all_of(samples, wav.end(), [](std::uint8_t b) { return b == 0; });
        EXPECT_EQ(silent, muted);
    }
    std::filesystem::remove(path);
}

// A server's opening burst: 64 KiB at once (33 s of a 16 kbit/s station),
// then the station's own pace. Only the burst's end is live, so every
// transmission found lies that far behind the wall clock, also those found
// while the burst was still coming in.
TEST(HistoryTapOnABurst, PlacesItsTransmissionsBehindTheLiveEnd) {
    std::vector<recordings::Recording> set;
    std::string error;
    ASSERT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) << error;
    const auto recording = std::find_if(set.begin(), set.end(),
                                        [](const auto& r) { return r.name == "tower-mp3-8k.mp3"; });
    ASSERT_NE(recording, set.end());
    constexpr double kBytesPerSecond = 2000;
    constexpr std::uint64_t kBurst = 65536;

    std::mutex mutex;
    std::condition_variable heard;
    std::vector<double> behind;  // wall clock since the start, less the audio clock
    const Clock::time_point started = Clock::now();
    auto tap = std::make_shared<HistoryTap>(
        std::make_shared<StationHistory>(),
        [&](const TransmissionDetector::Event& e, double now, const std::string& /*station*/) {
            if (e.kind == TransmissionDetector::Event::Kind::Ended) {
                std::lock_guard lock(mutex);
                behind.push_back(std::chrono::duration<double>(Clock::now() - started).count() -
                                 now);
                heard.notify_all();
            }
        });
    PlayerHarness h;
    h.server.setScript("/station", fixtureScript(recording->path).paced(kBytesPerSecond, kBurst));
    h.player = Pelorin::initWithURL(Url::parse(h.server.url("/station")),
                                    {h.platform, h.alerts, nullptr, &h.workers, tap->forPlayer()});
    h.weak = h.player;
    h.player->start();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(heard.wait_for(lock, 20s, [&] { return behind.size() >= 3; }));
    }
    h.player->stop();
    ASSERT_TRUE(h.waitEnded());
    std::lock_guard lock(mutex);
    for (const double each : behind) {
        EXPECT_NEAR(each, -static_cast<double>(kBurst) / kBytesPerSecond, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HistoryTapOnAPlayer,
                         ::testing::Values(TapRow{"tower-mp3-8k.mp3"},
                                           TapRow{"approach-aac-16k.aac"}));

}  // namespace
}  // namespace orvento::test
