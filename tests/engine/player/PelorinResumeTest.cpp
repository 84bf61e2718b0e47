// A drop that resumes where the listener left off: two players of one
// station in turn share a trail; the second's opening burst is lined up with
// what the first handed to its queue by the frames' bytes, so that what both
// kept is the station's frames in order, each once.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/player/ResumeTrail.h"
#include "tests/engine/player/PlayerHarness.h"

namespace orvento::test {
namespace {

std::string recording(const std::string& name) {
    std::ifstream in(std::string(ORVENTO_TRANSMISSION_TEST_RECORDINGS) + "/" + name,
                     std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::uint64_t> digestsOf(std::span<const std::byte> bytes,
                                     std::span<const PacketDescription> descriptions) {
    std::vector<std::uint64_t> out;
    for (const PacketDescription& d : descriptions) {
        out.push_back(ResumeTrail::digest(
            bytes.subspan(static_cast<std::size_t>(d.startOffset), d.byteSize)));
    }
    return out;
}

// The frames of a whole recording, as the engine's parser finds them.
std::vector<std::uint64_t> framesOf(EngineServices& services, const std::string& body) {
    struct Collect : StreamParser::Listener {
        std::vector<std::uint64_t> digests;
        void handleStreamProperty(StreamProperty) override {}
        void handleStreamPackets(std::span<const std::byte> bytes,
                                 std::span<const PacketDescription> descriptions) override {
            const std::vector<std::uint64_t> more = digestsOf(bytes, descriptions);
            digests.insert(digests.end(), more.begin(), more.end());
        }
    } collect;
    StreamParserCreation parser = services.makeStreamParser(collect, AudioFileType::MP3);
    EXPECT_EQ(parser.error, ParserError::None);
    parser.parser->feed(std::as_bytes(std::span(body.data(), body.size())), Continuity::Continuous);
    return collect.digests;
}

// What a station's history keeps: every packet tapped, over both players.
class KeptFrames final : public PacketTap {
  public:
    void formatKnown(const AudioFormat&, std::span<const std::uint8_t>) override {}
    void packets(std::span<const std::uint8_t> data,
                 std::span<const PacketDescription> descriptions,
                 std::chrono::steady_clock::time_point) override {
        std::lock_guard lock(mutex_);
        const std::vector<std::uint64_t> more = digestsOf(std::as_bytes(data), descriptions);
        kept_.insert(kept_.end(), more.begin(), more.end());
    }
    void streamEnded() override {}
    std::vector<std::uint64_t> kept() const {
        std::lock_guard lock(mutex_);
        return kept_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::uint64_t> kept_;
};

struct ResumeRow {
    const char* name;
    // The first connection sends the recording up to `dropAt`; the second
    // from `resumeAt` on, the first `burst` bytes at once, then at the
    // station's pace. 16 kbit/s: 2000 bytes a second.
    std::size_t dropAt;
    std::size_t resumeAt;
    std::size_t burst;
    const char* secondRecording;  // another stream for the second connection
    Resumption::Kind told;
};

void PrintTo(const ResumeRow& row, std::ostream* os) {
    *os << row.name;
}

class ResumeAfterADrop : public testing::TestWithParam<ResumeRow> {};

TEST_P(ResumeAfterADrop, KeepsEachFrameOnceAndTellsWhatWasMissed) {
    const ResumeRow& row = GetParam();
    PlayerHarness h;
    const std::string tower = recording("tower-mp3-8k.mp3");
    const std::string second =
        row.secondRecording != nullptr ? recording(row.secondRecording) : tower;
    std::vector<Resumption> told;
    std::mutex toldMutex;
    auto trail = std::make_shared<ResumeTrail>([&](const Resumption& r) {
        std::lock_guard lock(toldMutex);
        told.push_back(r);
    });
    auto kept = std::make_shared<KeptFrames>();
    const auto play = [&](const std::string& path, Script script) {
        h.server.setScript(path, std::move(script));
        PelorinServices services{h.platform, h.alerts, nullptr, &h.workers};
        services.tap = kept;
        services.resume = trail;
        h.player = Pelorin::initWithURL(Url::parse(h.server.url(path)), services);
        h.weak = h.player;
        h.player->start();
    };

    // The station drops: its server closes.
    play("/first", Script::fixed(tower.substr(0, row.dropAt), "audio/mpeg").untilClose());
    ASSERT_TRUE(h.waitEnded());
    const std::size_t heard = kept->kept().size();
    ASSERT_GT(heard, 20U);

    play("/second", Script::fixed(second.substr(row.resumeAt), "audio/mpeg")
                        .untilClose()
                        .paced(2000, row.burst));
    ASSERT_TRUE(h.platform->waitFor(
        [&] {
            std::lock_guard lock(toldMutex);
            return !told.empty();
        },
        std::chrono::seconds(15)));
    ASSERT_TRUE(h.platform->waitFor([&] { return kept->kept().size() > heard + 10; }));
    h.player->stop();
    ASSERT_TRUE(h.waitEnded());

    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told.front().kind, row.told);
    const std::vector<std::uint64_t> all = kept->kept();
    const std::vector<std::uint64_t> first(all.begin(), all.begin() + heard);
    const std::vector<std::uint64_t> next(all.begin() + heard, all.end());
    const std::vector<std::uint64_t> station = framesOf(*h.platform, tower);
    ASSERT_TRUE(std::equal(first.begin(), first.end(), station.begin()));
    switch (row.told) {
        case Resumption::Kind::Resumed: {
            // On from just after the last frame heard: nothing twice, nothing lost.
            EXPECT_TRUE(std::equal(next.begin(), next.end(), station.begin() + heard));
            EXPECT_NEAR(told.front().skippedSeconds,
                        static_cast<double>(row.dropAt - row.resumeAt) / 2000, 0.3);
            break;
        }
        case Resumption::Kind::Gap: {
            // The burst played whole, from where it began.
            const auto at =
                std::search(station.begin() + heard, station.end(), next.begin(), next.begin() + 5);
            ASSERT_NE(at, station.end());
            EXPECT_TRUE(std::equal(next.begin(), next.end(), at));
            EXPECT_GE(told.front().missedSeconds, 0);
            break;
        }
        case Resumption::Kind::FormatChanged: {
            const std::vector<std::uint64_t> other = framesOf(*h.platform, second);
            EXPECT_TRUE(std::equal(next.begin(), next.end(), other.begin()));
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResumeAfterADrop,
    testing::Values(
        // The burst reaches back 4 s past the drop.
        ResumeRow{"TheBurstCoversTheOutage", 30000, 22000, 12000, nullptr,
                  Resumption::Kind::Resumed},
        // The burst begins a few frames before the drop.
        ResumeRow{"TheBurstBeginsJustBeforeTheDrop", 30000, 29000, 4000, nullptr,
                  Resumption::Kind::Resumed},
        // 3 s the burst does not hold.
        ResumeRow{"AnOutageLongerThanTheBurst", 30000, 36000, 2000, nullptr, Resumption::Kind::Gap},
        // A short connection, all at once: it ends while still held back.
        ResumeRow{"AConnectionThatEndsWhileHeldBack", 30000, 80000, 100000, nullptr,
                  Resumption::Kind::Gap},
        ResumeRow{"AnotherFormatStartsAfresh", 30000, 0, 4000, "ground-mp3-16k.mp3",
                  Resumption::Kind::FormatChanged}),
    [](const testing::TestParamInfo<ResumeRow>& info) { return std::string(info.param.name); });

// A reconnection's player connects while the one before plays out: its
// queue starts only once the gate opens, and a stop while it waits ends it.
TEST(PlayAfter, TheQueueStartsOnceTheGateOpensAndAStopEndsTheWait) {
    for (const bool stopWaiting : {false, true}) {
        PlayerHarness h;
        auto gate = std::make_shared<PlayOutGate>();
        Pelorin& p = h.createFor(
            "/live.mp3", Script::fromFile(std::string(ORVENTO_TRANSMISSION_TEST_RECORDINGS) +
                                          "/tower-mp3-8k.mp3")
                             .repeated()
                             .untilClose()
                             .paced(2000, 8000));
        p.playAfter(gate);
        p.start();
        // Its lead is in hand at once (the burst); still it waits.
        ASSERT_TRUE(h.platform->waitFor(
            [&] { return h.platform->count(Op::AudioQueueEnqueueBuffer) >= 4; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(h.platform->count(Op::AudioQueueStart), 0U);
        EXPECT_FALSE(p.isPlaying());
        if (stopWaiting) {
            p.stop();
            EXPECT_TRUE(h.waitEnded());
            EXPECT_EQ(h.platform->count(Op::AudioQueueStart), 0U);
            continue;
        }
        gate->open();
        EXPECT_TRUE(h.waitPlaying());
        p.stop();
        EXPECT_TRUE(h.waitEnded());
    }
}

// A live stream whose server closes tells that it plays out before it ends;
// a recording served whole does not.
TEST(PlayAfter, AClosedLiveStreamSaysItPlaysOut) {
    struct PlaysOut : PelorinObserver {
        std::atomic<int> told{0};
        void isPlayingChanged(Pelorin&) override {}
        void playingOut(Pelorin&) override { ++told; }
    };
    const std::string tower = recording("tower-mp3-8k.mp3");
    for (const bool live : {true, false}) {
        PlayerHarness h;
        Script script = Script::fixed(tower.substr(0, 8000), "audio/mpeg");
        if (live) {
            script.untilClose();
        }
        Pelorin& p = h.createFor("/s.mp3", script);
        PlaysOut observer;
        p.addObserver(&observer);
        p.start();
        ASSERT_TRUE(h.waitEnded());
        EXPECT_EQ(observer.told.load(), live ? 1 : 0);
        p.removeObserver(&observer);
    }
}

}  // namespace
}  // namespace orvento::test
