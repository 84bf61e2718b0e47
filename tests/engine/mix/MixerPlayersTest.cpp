// Players of loopback stations mixed into one recording: each feed's tone
// where its gain, pan and mute put it, and a stalling feed holding nobody up.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/mix/Mixer.h"
#include "engine/player/Pelorin.h"
#include "tests/engine/audio/QueueTestSupport.h"
#include "tests/engine/player/EngineTestSupport.h"
#include "tests/engine/player/TestStreams.h"
#include "tests/support/AudioCompare.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

constexpr std::uint32_t kRate = 16000;
constexpr double kSilent = -200;  // stands for "not there": below -60 dB

// A WAV station: a sine of amplitude 0.5 at `hz`, `seconds` long, sent in
// real time after half a second at once.
Script toneStation(double hz, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<std::uint8_t> body =
        test::wavHeader(kRate, 1, 16, static_cast<std::uint32_t>(frames * 2));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto s = static_cast<int16_t>(std::lround(
            16383.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate)));
        body.push_back(static_cast<std::uint8_t>(s & 0xff));
        body.push_back(static_cast<std::uint8_t>((s >> 8) & 0xff));
    }
    Script script = Script::fixed(std::string(body.begin(), body.end()), "audio/wav");
    script.paced(2.0 * kRate, kRate);
    return script;
}

// The level in dB of `hz` in one channel over [from, from + count) frames.
double toneDb(const AudioClip& clip, int channel, std::size_t from, std::size_t count, double hz) {
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / clip.sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        const double s = clip.samples[i * 2 + static_cast<std::size_t>(channel)] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 1e-30);
    return 20 * std::log10(2 * std::sqrt(power) / static_cast<double>(count));
}

TEST(MixerPlayersTest, EachFeedIsHeardWhereItsControlsPutIt) {
    struct Row {
        double hz, gainDb, pan;
        bool muted, stalls;
        double leftDb, rightDb;  // expected level of the tone in the mix
    };
    const std::vector<Row> rows{
        {400, 0, -1, false, false, -6.02, kSilent},       // hard left
        {800, 0, 0, false, false, -9.03, -9.03},          // centre: -3 dB each side
        {1600, -6.02, 1, false, false, kSilent, -12.04},  // hard right, 6 dB down
        {1000, 0, 0, true, false, kSilent, kSilent},      // muted
        {2000, 0, 0, false, true, kSilent, kSilent},      // stalls after its first 0.6 s
    };
    const std::string path = scratchPath("mix.wav");
    LoopbackServer server;
    std::vector<std::shared_ptr<Pelorin>> players;
    {
        Mixer mixer(wavOutput(path));
        std::vector<std::shared_ptr<MixerFeed>> feeds;
        for (const Row& row : rows) {
            Script station = toneStation(row.hz, 4);
            if (row.stalls) {
                station.stallAfter(44 + static_cast<std::uint64_t>(1.2 * kRate));
            }
            const std::string name = "/" + std::to_string(static_cast<int>(row.hz)) + ".wav";
            server.setScript(name, station);
            feeds.push_back(mixer.addFeed());
            feeds.back()->setGainDb(row.gainDb);
            feeds.back()->setPan(row.pan);
            feeds.back()->setMute(row.muted);
            PelorinServices services;
            services.platform = std::make_shared<EngineServices>(feeds.back()->outputChoice());
            players.push_back(Pelorin::initWithURL(Url::parse(server.url(name)), services));
            players.back()->start();
        }
        const std::shared_ptr<MixerFeed> sixth = mixer.addFeed();
        EXPECT_NE(sixth, nullptr);
        EXPECT_EQ(mixer.addFeed(), nullptr) << "a seventh feed";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!rows[i].stalls) {
                EXPECT_TRUE(players[i]->waitUntilEnded(30s)) << rows[i].hz << " Hz";
            }
        }
        for (const auto& player : players) {
            player->stop();
            EXPECT_TRUE(player->waitUntilEnded(10s));
        }
        EXPECT_EQ(mixer.outputFailure(), "");
    }
    const std::optional<AudioClip> clip = readWav(path);
    ASSERT_TRUE(clip.has_value());
    ASSERT_EQ(clip->channels, 2);
    ASSERT_GE(clip->frames(), 3u * static_cast<std::size_t>(clip->sampleRate));
    // From 1.5 to 2.5 s every steady station plays, and the stalling one has
    // long run dry.
    const auto second = static_cast<std::size_t>(clip->sampleRate);
    for (const Row& row : rows) {
        const double left = toneDb(*clip, 0, second * 3 / 2, second, row.hz);
        const double right = toneDb(*clip, 1, second * 3 / 2, second, row.hz);
        const auto expect = [](double level, double expected) {
            return expected == kSilent ? level < -60 : std::abs(level - expected) < 0.5;
        };
        EXPECT_TRUE(expect(left, row.leftDb)) << row.hz << " Hz left: " << left << " dB";
        EXPECT_TRUE(expect(right, row.rightDb)) << row.hz << " Hz right: " << right << " dB";
    }
}

}  // namespace
}  // namespace orvento
