// Catching up on recordings whose transmissions are known (real encoded
// audio, decoded as a player decodes it): the quiet between transmissions
// goes, never a transmission, and never more than the excess told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/player/CatchUp.h"
#include "engine/transmissions/TransmissionDetector.h"
#include "tools/probe/Decode.h"
#include "tools/probe/Probe.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::test {
namespace {

using recordings::Span;

struct Played {
    std::vector<float> out;
    CatchUp::Stats stats;
    std::vector<Span> dropped;
    std::vector<Span> faster;
};

recordings::Pcm decoded(const std::string& name, std::vector<Span>& truth) {
    std::vector<recordings::Recording> set;
    std::string error;
    EXPECT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) << error;
    const auto r =
        std::find_if(set.begin(), set.end(), [&](const auto& x) { return x.name == name; });
    recordings::Pcm pcm;
    if (r != set.end()) {
        EXPECT_TRUE(recordings::decode(r->path, pcm, error)) << error;
        truth = r->truth;
    }
    return pcm;
}

// Feeds the audio in decoder-sized blocks, telling `excess` seconds behind
// minus what has been shed so far (as a queue whose backlog shrinks).
Played play(const recordings::Pcm& pcm, double excess) {
    Played p;
    CatchUp stage(pcm.sampleRate, pcm.channels, [&](double start, double end, CatchUp::Shed how) {
        (how == CatchUp::Shed::Dropped ? p.dropped : p.faster).push_back({start, end});
    });
    const std::size_t block = 1152 * static_cast<std::size_t>(pcm.channels);
    for (std::size_t at = 0; at < pcm.samples.size(); at += block) {
        const std::size_t n = std::min(block, pcm.samples.size() - at);
        const double shed =
            static_cast<double>(stage.stats().framesIn - stage.stats().framesOut) / pcm.sampleRate -
            stage.heldSeconds();
        stage.process({pcm.samples.data() + at, n}, p.out, excess - shed);
    }
    stage.flush(p.out);
    p.stats = stage.stats();
    return p;
}

std::vector<Span> transmissionsIn(const std::vector<float>& samples, int rate, int channels) {
    std::vector<Span> found;
    TransmissionDetector detector([&](const TransmissionDetector::Event& e) {
        if (e.kind == TransmissionDetector::Event::Kind::Ended) {
            found.push_back({e.transmission.startSeconds,
                             e.transmission.startSeconds + e.transmission.durationSeconds});
        }
    });
    detector.feed(samples.data(), samples.size() / static_cast<std::size_t>(channels), rate,
                  channels);
    detector.finish();
    return found;
}

class CatchUpOnRecordings : public ::testing::TestWithParam<const char*> {};

TEST_P(CatchUpOnRecordings, NotBehindEverythingPassesUnchangedAndAtOnce) {
    std::vector<Span> truth;
    const recordings::Pcm pcm = decoded(GetParam(), truth);
    ASSERT_FALSE(pcm.samples.empty());
    CatchUp stage(pcm.sampleRate, pcm.channels);
    std::vector<float> out;
    stage.process(pcm.samples, out, 0);
    EXPECT_EQ(stage.heldSeconds(), 0);
    EXPECT_EQ(out, pcm.samples);
}

TEST_P(CatchUpOnRecordings, FarBehindOnlyTheQuietBetweenTransmissionsGoes) {
    std::vector<Span> truth;
    const recordings::Pcm pcm = decoded(GetParam(), truth);
    ASSERT_FALSE(pcm.samples.empty());
    const Played p = play(pcm, 1000);
    const double rate = pcm.sampleRate;

    // Everything taken in is accounted for, and the quiet went.
    const double outSeconds = static_cast<double>(p.out.size()) / pcm.channels / rate;
    EXPECT_EQ(p.stats.framesOut, p.out.size() / static_cast<std::size_t>(pcm.channels));
    EXPECT_GT(p.stats.framesDropped, 0U);
    EXPECT_LT(outSeconds, pcm.seconds() - 1);
    EXPECT_LE(p.stats.fastestSpeed, kMaxSpeed);

    // Nothing dropped within the quiet kept beside a known transmission
    // (from its first and last syllables), and only speech played faster.
    for (const Span& t : truth) {
        for (const Span& d : p.dropped) {
            EXPECT_FALSE(d.end > t.start - kQuietKeptSeconds && d.start < t.end + kQuietKeptSeconds)
                << "dropped " << d.start << " to " << d.end << " beside " << t.start << " to "
                << t.end;
        }
    }
    for (const Span& f : p.faster) {
        EXPECT_TRUE(std::any_of(truth.begin(), truth.end(),
                                [&](const Span& t) {
                                    return f.start >= t.start + kSpeechRunsOnSeconds - 0.3 &&
                                           f.end <= t.end + 0.6;
                                }))
            << "faster " << f.start << " to " << f.end;
    }

    // Every transmission is still there, whole (played at most kMaxSpeed
    // faster). Transmissions left 2 x kQuietKeptSeconds apart may be heard as
    // one, their quiet with them.
    const std::vector<Span> heard = transmissionsIn(p.out, pcm.sampleRate, pcm.channels);
    double said = 0;
    for (const Span& t : truth) {
        said += t.end - t.start;
    }
    double kept = 0;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        kept += heard[i].end - heard[i].start;
        if (i > 0) {
            EXPECT_GE(heard[i].start - heard[i - 1].end, 2 * kQuietKeptSeconds) << i;
        }
    }
    EXPECT_GE(kept, said / kMaxSpeed - 0.1 * static_cast<double>(truth.size()));
    EXPECT_GE(heard.size(), 1U);
}

TEST_P(CatchUpOnRecordings, ShedsNoMoreThanTheExcessTold) {
    std::vector<Span> truth;
    const recordings::Pcm pcm = decoded(GetParam(), truth);
    ASSERT_FALSE(pcm.samples.empty());
    for (const double excess : {0.5, 2.0}) {
        const Played p = play(pcm, excess);
        const double shed =
            pcm.seconds() - static_cast<double>(p.out.size()) / pcm.channels / pcm.sampleRate;
        EXPECT_GT(shed, excess / 2) << excess;
        EXPECT_LE(shed, excess + 0.02) << excess;
    }
}

// The power of `samples` (mono) at `hz`.
double powerAt(const std::vector<float>& samples, int rate, double hz) {
    const double w = 2 * M_PI * hz / rate;
    double s1 = 0;
    double s2 = 0;
    for (const float x : samples) {
        const double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
}

TEST(CatchUp, SpeechPlayedFasterKeepsItsPitch) {
    // A tone above the voice under a recording's speech: where the speech is
    // played faster the tone must stay where it was, not rise with it.
    std::vector<Span> truth;
    recordings::Pcm pcm = decoded("ground-mp3-16k.mp3", truth);
    ASSERT_EQ(pcm.channels, 1);
    const double hz = 6000;
    for (std::size_t i = 0; i < pcm.samples.size(); ++i) {
        pcm.samples[i] += 0.03F * static_cast<float>(std::sin(2 * M_PI * hz * i / pcm.sampleRate));
    }
    const Played p = play(pcm, 1000);
    ASSERT_GT(p.stats.framesSped, static_cast<std::uint64_t>(pcm.sampleRate));
    EXPECT_GT(powerAt(p.out, pcm.sampleRate, hz),
              1000 * powerAt(p.out, pcm.sampleRate, hz * kMaxSpeed));
    EXPECT_GT(powerAt(p.out, pcm.sampleRate, hz), 1000 * powerAt(p.out, pcm.sampleRate, hz * 1.1));
}

// Through the real parser and output queue: a recording enqueued at once is a
// backlog of all of it, which the queue's stage sheds down to the target.
TEST(CatchUpStage, AQueueWithABacklogShedsItsQuietAndKeepsEveryWord) {
    std::vector<Span> truth;
    const recordings::Pcm whole = decoded("tower-mp3-8k.mp3", truth);
    ASSERT_FALSE(whole.samples.empty());
    std::vector<recordings::Recording> set;
    std::string error;
    ASSERT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error));
    const std::string path =
        std::string(ORVENTO_TRANSMISSION_TEST_RECORDINGS) + "/tower-mp3-8k.mp3";

    for (const double target : {1000.0, 1.5}) {
        std::vector<Span> dropped;
        auto stage =
            std::make_shared<CatchUpStage>(target, [&](double a, double b, CatchUp::Shed how) {
                if (how == CatchUp::Shed::Dropped) {
                    dropped.push_back({a, b});
                }
            });
        probe::DecodeOptions options;
        options.output.kind = AudioOutputChoice::Kind::Null;
        options.output.realTime = false;
        std::size_t frames = 0;
        options.output.onAudio = [&](const float*, std::size_t n, int, int) { frames += n; };
        options.stage = stage;
        const probe::DecodeReport report = probe::decodeFile(path, probe::hintFor(path), options);
        ASSERT_TRUE(report.ok) << report.error;
        const double played = static_cast<double>(frames) / whole.sampleRate;
        if (target > whole.seconds()) {
            EXPECT_NEAR(played, whole.seconds(), 0.05) << "nothing behind the target goes";
            EXPECT_TRUE(dropped.empty());
            continue;
        }
        EXPECT_LT(played, whole.seconds() - 5);
        for (const Span& t : truth) {
            for (const Span& d : dropped) {
                EXPECT_FALSE(d.end > t.start - kQuietKeptSeconds &&
                             d.start < t.end + kQuietKeptSeconds)
                    << "dropped " << d.start << " beside " << t.start << " to " << t.end;
            }
        }
    }
}

TEST(LagTarget, GrowsToCoverAStallAndShrinksBackWhileSteady) {
    using std::chrono::seconds;
    const LagTarget::TimePoint t0{};
    LagTarget lag;
    EXPECT_EQ(lag.seconds(t0), LagTarget::kStartSeconds);
    lag.underrun(2, t0 + seconds(10));
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + seconds(10)), 1.5 + 2 + LagTarget::kMarginSeconds);
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + seconds(70)), 3.75 - LagTarget::kShrinkPerMinute);
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + seconds(3600)), LagTarget::kStartSeconds);
    lag.underrun(30, t0 + seconds(3600));
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + seconds(3600)), LagTarget::kMaxSeconds);
    lag.underrun(-1, t0 + seconds(3601));  // no underrun
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + seconds(3601)),
                     LagTarget::kMaxSeconds - LagTarget::kShrinkPerMinute / 60);
}

TEST(CatchUpStage, AnUnderrunGrowsTheTargetItFollows) {
    // Calls 0.1 s apart with 1.5 s left to play, then one 4 s later: the
    // output went 2.5 s without audio, minus the slack for its own buffer.
    CatchUpStage::Clock::time_point now{};
    CatchUpStage stage(std::nullopt, {}, [&] { return now; });
    const PcmFormat format{8000, 1};
    std::vector<float> in(800, 0.0F);
    std::vector<float> out;
    for (int i = 0; i < 20; ++i) {
        stage.process(format, in, out, 1.5);
        now += std::chrono::milliseconds(100);
    }
    EXPECT_EQ(stage.targetSeconds(), LagTarget::kStartSeconds);
    now += std::chrono::seconds(4);
    stage.process(format, in, out, 30);
    EXPECT_NEAR(stage.targetSeconds(), 1.5 + (4.1 - 1.5 - 0.3) + LagTarget::kMarginSeconds, 0.01);
    EXPECT_EQ(stage.behindLiveSeconds(), 30);

    // The next connection starts from what was learned, and what waits
    // upstream counts in its lag.
    CatchUpStage next(std::nullopt, {}, [&] { return now; });
    next.carryTargetFrom(stage);
    EXPECT_EQ(next.targetSeconds(), stage.targetSeconds());
    next.setUpstreamSeconds(6);
    next.process(format, in, out, 2);
    EXPECT_EQ(next.behindLiveSeconds(), 8);

    // A fixed target does not move.
    CatchUpStage fixed(2.0, {}, [&] { return now; });
    fixed.process(format, in, out, 1.5);
    now += std::chrono::seconds(10);
    fixed.process(format, in, out, 1.5);
    EXPECT_EQ(fixed.targetSeconds(), 2.0);
}

INSTANTIATE_TEST_SUITE_P(Recordings, CatchUpOnRecordings,
                         ::testing::Values("tower-mp3-8k.mp3", "approach-aac-16k.aac",
                                           "ground-mp3-16k.mp3"));

}  // namespace
}  // namespace orvento::test
