// Lining up a burst with the frames heard, on packets made up here: where a
// quiet stretch repeats one frame, and what an outage longer than the burst
// is said to have cost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/player/ResumeTrail.h"

namespace orvento {
namespace {

using std::chrono::steady_clock;

// 8 kHz, 576 frames a packet: 72 ms each.
const AudioFormat kFormat{8000, kFormatMpegLayer3, 0, 0, 576, 0, 1, 0};
constexpr double kPacketSeconds = 0.072;

// Packets named by letters: the same letter, the same bytes.
struct Packets {
    std::string bytes;
    std::vector<PacketDescription> descriptions;
    explicit Packets(const std::string& names) {
        for (const char name : names) {
            descriptions.push_back({static_cast<std::int64_t>(bytes.size()), 0, 3});
            bytes += std::string(3, name);
        }
    }
    std::span<const std::byte> span() const { return std::as_bytes(std::span(bytes)); }
};

std::string namesOf(const ResumeMatcher& matcher) {
    std::string names;
    for (const PacketDescription& d : matcher.descriptions()) {
        names += static_cast<char>(matcher.bytes()[static_cast<std::size_t>(d.startOffset)]);
    }
    return names;
}

TEST(ResumeTrail, AQuietStretchIsLinedUpBySpeechBeforeIt) {
    std::vector<Resumption> told;
    ResumeTrail trail([&](const Resumption& r) { told.push_back(r); });
    // Speech (distinct frames), then quiet: the same frame over and over.
    const Packets heard("abcdefghijSSSSS");
    trail.heard(kFormat, heard.span(), heard.descriptions);
    std::unique_ptr<ResumeMatcher> matcher = trail.resumeIn(kFormat);
    ASSERT_NE(matcher, nullptr);
    // The burst holds an earlier quiet, then the same speech and a longer quiet.
    const Packets burst("xySSSSSSSbcdefghijSSSSSSSSz");
    ASSERT_TRUE(matcher->take(burst.span(), burst.descriptions, steady_clock::now()));
    EXPECT_EQ(namesOf(*matcher), "SSSz");
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].kind, Resumption::Kind::Resumed);
    EXPECT_NEAR(told[0].skippedSeconds, 23 * kPacketSeconds, 1e-9);
}

TEST(ResumeTrail, AGapIsTheOutageLessTheBurst) {
    std::vector<Resumption> told;
    ResumeTrail trail([&](const Resumption& r) { told.push_back(r); });
    const Packets heard("abcdefghij");
    trail.heard(kFormat, heard.span(), heard.descriptions);
    const steady_clock::time_point dropped = steady_clock::now();
    std::unique_ptr<ResumeMatcher> matcher = trail.resumeIn(kFormat);
    ASSERT_NE(matcher, nullptr);
    // 10 s later a burst of 50 packets (3.6 s) that does not hold them...
    const Packets burst(std::string(50, 'q'));
    const steady_clock::time_point connected = dropped + std::chrono::seconds(10);
    EXPECT_FALSE(matcher->take(burst.span(), burst.descriptions, connected));
    // ...and a second and more later, audio at the station's own pace.
    const Packets live("r");
    EXPECT_FALSE(
        matcher->take(live.span(), live.descriptions, connected + std::chrono::milliseconds(500)));
    ASSERT_TRUE(
        matcher->take(live.span(), live.descriptions, connected + std::chrono::milliseconds(1100)));
    EXPECT_EQ(namesOf(*matcher), std::string(50, 'q') + "rr");
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].kind, Resumption::Kind::Gap);
    // The burst reaches 52 packets back from 1.1 s after the connection.
    EXPECT_NEAR(told[0].missedSeconds, 10 - (52 * kPacketSeconds - 1.1), 0.05);
}

TEST(ResumeTrail, AStreamThatEndsWhileHeldBackPlaysWhatCame) {
    std::vector<Resumption> told;
    ResumeTrail trail([&](const Resumption& r) { told.push_back(r); });
    const Packets heard("abcdefghij");
    trail.heard(kFormat, heard.span(), heard.descriptions);
    // Nothing came: nothing is said.
    trail.resumeIn(kFormat)->finish(steady_clock::now());
    EXPECT_TRUE(told.empty());
    std::unique_ptr<ResumeMatcher> matcher = trail.resumeIn(kFormat);
    const Packets burst("ghijklm");
    EXPECT_FALSE(matcher->take(burst.span(), burst.descriptions, steady_clock::now()));
    matcher->finish(steady_clock::now());
    EXPECT_EQ(namesOf(*matcher), "klm");
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].kind, Resumption::Kind::Resumed);
}

TEST(ResumeTrail, NothingHeardOrAnotherFormatStartsAfresh) {
    std::vector<Resumption> told;
    ResumeTrail trail([&](const Resumption& r) { told.push_back(r); });
    EXPECT_EQ(trail.resumeIn(kFormat), nullptr);
    EXPECT_TRUE(told.empty());
    const Packets heard("abcd");
    trail.heard(kFormat, heard.span(), heard.descriptions);
    AudioFormat other = kFormat;
    other.sampleRate = 16000;
    EXPECT_EQ(trail.resumeIn(other), nullptr);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].kind, Resumption::Kind::FormatChanged);
    // The trail starts afresh with the new stream.
    EXPECT_EQ(trail.resumeIn(kFormat), nullptr);
}

}  // namespace
}  // namespace orvento
