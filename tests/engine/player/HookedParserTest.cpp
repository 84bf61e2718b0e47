// The parser EngineServices makes passes the platform's hooks: each operation
// under the name of the platform function it was, with its detail, a faked
// status turned into the parser's error, and the listener open to
// interposition.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <span>
#include <vector>

#include "engine/player/EngineServices.h"
#include "tests/engine/player/EngineTestSupport.h"

namespace orvento::test {
namespace {

using Op = ServiceOp;

struct Seen {
    Op op;
    std::uint32_t detail;
    const StreamParser* parser;
    StatusCode result;
};

// Records every hooked call and fakes the results it is told to.
class RecordingPlatform final : public EngineServices {
  public:
    std::vector<Seen> seen;
    std::map<Op, StatusCode> fakes;
    StreamParser::Listener* substitute = nullptr;  // put in place of the engine's listener

  protected:
    std::optional<StatusCode> before(const ServiceCall& call) override {
        const auto it = fakes.find(call.op);
        return it == fakes.end() ? std::nullopt : std::optional<StatusCode>(it->second);
    }
    void after(const ServiceCall& call, StatusCode result) override {
        seen.push_back(Seen{call.op, call.detail, call.parser, result});
    }
    void interpose(StreamParser::Listener*& listener) override {
        if (substitute != nullptr) {
            forwardTo = listener;
            listener = substitute;
        }
    }

  public:
    StreamParser::Listener* forwardTo = nullptr;
};

class CountingListener final : public StreamParser::Listener {
  public:
    StreamParser::Listener* forward = nullptr;
    int properties = 0;
    int deliveries = 0;

    void handleStreamProperty(StreamProperty property) override {
        ++properties;
        if (forward != nullptr) {
            forward->handleStreamProperty(property);
        }
    }
    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descriptions) override {
        ++deliveries;
        if (forward != nullptr) {
            forward->handleStreamPackets(bytes, descriptions);
        }
    }
};

std::span<const std::byte> bytesOf(const std::vector<std::uint8_t>& data) {
    return std::as_bytes(std::span(data));
}

constexpr std::uint32_t detailOf(auto value) {
    return static_cast<std::uint32_t>(value);
}

TEST(HookedParser, EachOperationPassesTheHooksUnderItsPlatformName) {
    const std::vector<std::uint8_t> adts = readFile(fixture("adts_lc.aac"));
    RecordingPlatform platform;
    CountingListener engine;
    StreamParserCreation opening = platform.makeStreamParser(engine, AudioFileType::AAC_ADTS);
    ASSERT_TRUE(opening.parser);
    EXPECT_EQ(opening.error, ParserError::None);
    const StreamParser* parser = opening.parser.get();

    EXPECT_EQ(opening.parser->feed(bytesOf(adts), Continuity::Discontinuous), ParserError::None);
    EXPECT_GT(engine.properties, 0);
    EXPECT_GT(engine.deliveries, 0);
    EXPECT_TRUE(opening.parser->dataFormat());
    EXPECT_TRUE(opening.parser->magicCookie());
    EXPECT_EQ(*opening.parser->fileFormat(), AudioFileType::AAC_ADTS);
    // Not hooked: nothing fails there that the engine would log.
    EXPECT_TRUE(opening.parser->readyToProducePackets());
    EXPECT_EQ(opening.parser->diagnostics().bytesParsed, adts.size());
    opening.parser.reset();

    const std::vector<Seen> expected = {
        {Op::AudioFileStreamOpen, detailOf(AudioFileType::AAC_ADTS), parser, kSuccess},
        {Op::AudioFileStreamParseBytes, detailOf(Continuity::Discontinuous), parser, kSuccess},
        {Op::AudioFileStreamGetProperty, detailOf(StreamProperty::DataFormat), parser, kSuccess},
        {Op::AudioFileStreamGetProperty, detailOf(StreamProperty::MagicCookie), parser, kSuccess},
        {Op::AudioFileStreamGetProperty, detailOf(StreamProperty::FileFormat), parser, kSuccess},
        {Op::AudioFileStreamClose, 0, parser, kSuccess},
    };
    ASSERT_EQ(platform.seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(platform.seen[i].op, expected[i].op);
        EXPECT_EQ(platform.seen[i].detail, expected[i].detail);
        EXPECT_EQ(platform.seen[i].parser, expected[i].parser);
        EXPECT_EQ(platform.seen[i].result, expected[i].result);
    }
}

TEST(HookedParser, AGetterWithoutAValueIsHeardWithItsError) {
    const std::vector<std::uint8_t> mp3 = readFile(fixture("mpeg2_l3.mp3"));
    RecordingPlatform platform;
    CountingListener engine;
    StreamParserCreation opening = platform.makeStreamParser(engine, AudioFileType::MP3);
    ASSERT_TRUE(opening.parser);
    EXPECT_EQ(opening.parser->dataFormat().error(), ParserError::ValueUnknown);
    ASSERT_EQ(opening.parser->feed(bytesOf(mp3)), ParserError::None);
    EXPECT_EQ(opening.parser->magicCookie().error(), ParserError::ValueUnknown);
    ASSERT_EQ(platform.seen.size(), 4U);
    EXPECT_EQ(platform.seen[1].result, static_cast<StatusCode>(ParserError::ValueUnknown));
    EXPECT_EQ(platform.seen[3].result, static_cast<StatusCode>(ParserError::ValueUnknown));
}

struct FakeRow {
    const char* name;
    Op op;
};

class FakedStatus : public ::testing::TestWithParam<FakeRow> {};

TEST_P(FakedStatus, BecomesTheParsersErrorWithoutReachingIt) {
    const StatusCode oops = fourCharStatus("oops");
    const std::vector<std::uint8_t> adts = readFile(fixture("adts_lc.aac"));
    RecordingPlatform platform;
    platform.fakes[GetParam().op] = oops;
    CountingListener engine;
    StreamParserCreation opening = platform.makeStreamParser(engine, AudioFileType::AAC_ADTS);
    if (GetParam().op == Op::AudioFileStreamOpen) {
        EXPECT_FALSE(opening.parser);
        EXPECT_EQ(static_cast<StatusCode>(opening.error), oops);
        ASSERT_EQ(platform.seen.size(), 1U);
        EXPECT_EQ(platform.seen[0].result, oops);
        return;
    }
    ASSERT_TRUE(opening.parser);
    const ParserError fed = opening.parser->feed(bytesOf(adts));
    const ParserResult<AudioFormat> format = opening.parser->dataFormat();
    const ParserResult<std::span<const std::uint8_t>> cookie = opening.parser->magicCookie();
    if (GetParam().op == Op::AudioFileStreamParseBytes) {
        EXPECT_EQ(static_cast<StatusCode>(fed), oops);
        EXPECT_EQ(engine.properties + engine.deliveries, 0) << "the bytes reached the parser";
        EXPECT_EQ(opening.parser->diagnostics().bytesParsed, 0U);
    } else {
        EXPECT_EQ(fed, ParserError::None);
        EXPECT_EQ(static_cast<StatusCode>(format.error()), oops);
        EXPECT_EQ(static_cast<StatusCode>(cookie.error()), oops);
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, FakedStatus,
                         ::testing::Values(FakeRow{"Open", Op::AudioFileStreamOpen},
                                           FakeRow{"Parse", Op::AudioFileStreamParseBytes},
                                           FakeRow{"Getter", Op::AudioFileStreamGetProperty}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HookedParser, AFakedCloseStillDestroysTheParser) {
    RecordingPlatform platform;
    platform.fakes[Op::AudioFileStreamClose] = fourCharStatus("oops");
    CountingListener engine;
    StreamParserCreation opening = platform.makeStreamParser(engine, AudioFileType::MP3);
    ASSERT_TRUE(opening.parser);
    opening.parser.reset();
    ASSERT_EQ(platform.seen.size(), 2U);
    EXPECT_EQ(platform.seen[1].op, Op::AudioFileStreamClose);
    EXPECT_EQ(platform.seen[1].result, kSuccess);
}

TEST(HookedParser, AnInterposedListenerHearsFirstAndForwards) {
    const std::vector<std::uint8_t> mp3 = readFile(fixture("mpeg2_l3.mp3"));
    RecordingPlatform platform;
    CountingListener substitute;
    platform.substitute = &substitute;
    CountingListener engine;
    StreamParserCreation opening = platform.makeStreamParser(engine, AudioFileType::MP3);
    ASSERT_TRUE(opening.parser);
    EXPECT_EQ(platform.forwardTo, &engine);
    substitute.forward = platform.forwardTo;
    ASSERT_EQ(opening.parser->feed(bytesOf(mp3)), ParserError::None);
    EXPECT_GT(substitute.deliveries, 0);
    EXPECT_EQ(substitute.properties, engine.properties);
    EXPECT_EQ(substitute.deliveries, engine.deliveries);
}

}  // namespace
}  // namespace orvento::test
