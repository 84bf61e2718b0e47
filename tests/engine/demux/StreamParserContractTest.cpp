// What StreamParser.h promises a caller, through the interface itself: the
// order of the announcements and the getters' answers around them, re-entry
// refused, a failure that stays, and what a discontinuity does to framed
// formats and to containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/demux/StreamParser.h"
#include "tests/engine/demux/ParserTestSupport.h"

namespace orvento::test {
namespace {

using P = StreamProperty;

// Records what a parser tells, and checks the getters as it is told.
class Recorder final : public StreamParser::Listener {
  public:
    explicit Recorder(AudioFileType hint = AudioFileType::None)
        : parser_(makeStreamParser(*this, hint)) {}

    StreamParser& parser() { return *parser_; }
    ParserError feed(std::span<const std::uint8_t> bytes,
                     Continuity continuity = Continuity::Continuous) {
        return parser_->feed(std::as_bytes(bytes), continuity);
    }

    std::vector<P> properties;
    // The events in order: a property, or 0 for a delivery of packets.
    std::vector<std::uint32_t> events;
    std::vector<std::vector<std::uint8_t>> packets;  // each described packet
    std::vector<std::uint8_t> audio;                 // every delivered byte of audio
    bool gettersAnsweredThroughout = true;           // during every announcement
    ParserError reentry = ParserError::None;         // feed() from inside, when asked for
    bool feedFromInside = false;

    void handleStreamProperty(StreamProperty property) override {
        properties.push_back(property);
        events.push_back(static_cast<std::uint32_t>(property));
        gettersAnsweredThroughout = gettersAnsweredThroughout && parser_->readyToProducePackets() &&
                                    static_cast<bool>(parser_->dataFormat()) &&
                                    static_cast<bool>(parser_->fileFormat());
        if (property == P::ReadyToProducePackets && feedFromInside) {
            static const std::uint8_t kByte = 0;
            reentry = parser_->feed(std::as_bytes(std::span(&kByte, 1)));
        }
    }

    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descriptions) override {
        events.push_back(0);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        if (descriptions.empty()) {
            audio.insert(audio.end(), data, data + bytes.size());
        }
        for (const PacketDescription& d : descriptions) {
            packets.emplace_back(data + d.startOffset, data + d.startOffset + d.byteSize);
            audio.insert(audio.end(), packets.back().begin(), packets.back().end());
        }
    }

  private:
    std::unique_ptr<StreamParser> parser_;
};

struct AnnouncementRow {
    const char* fixture;
    AudioFileType fileType;
    bool cookie;
};

void PrintTo(const AnnouncementRow& row, std::ostream* out) {
    *out << row.fixture;
}

class Announcements : public ::testing::TestWithParam<AnnouncementRow> {};

TEST_P(Announcements, ComeOnceInOrderBeforeThePacketsAndTheGettersFollowThem) {
    const AnnouncementRow& row = GetParam();
    const std::vector<std::uint8_t> bytes = readFixture(row.fixture);
    Recorder r;
    // Nothing is known before the announcements.
    EXPECT_EQ(r.parser().dataFormat().error(), ParserError::ValueUnknown);
    EXPECT_EQ(r.parser().fileFormat().error(), ParserError::ValueUnknown);
    EXPECT_EQ(r.parser().magicCookie().error(), ParserError::ValueUnknown);
    EXPECT_FALSE(r.parser().readyToProducePackets());

    // Fed in small pieces: the announcements still come once each.
    for (std::size_t at = 0; at < bytes.size(); at += 100) {
        ASSERT_EQ(
            r.feed(std::span(bytes).subspan(at, std::min<std::size_t>(100, bytes.size() - at))),
            ParserError::None);
    }

    const std::vector<P> expected =
        row.cookie
            ? std::vector<P>{P::FileFormat, P::DataFormat, P::MagicCookie, P::ReadyToProducePackets}
            : std::vector<P>{P::FileFormat, P::DataFormat, P::ReadyToProducePackets};
    EXPECT_EQ(r.properties, expected);
    ASSERT_GE(r.events.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NE(r.events[i], 0U) << "packets before announcement " << i;
    }
    EXPECT_TRUE(r.gettersAnsweredThroughout);

    EXPECT_TRUE(r.parser().readyToProducePackets());
    ASSERT_TRUE(r.parser().fileFormat());
    EXPECT_EQ(*r.parser().fileFormat(), row.fileType);
    const ParserResult<std::span<const std::uint8_t>> cookie = r.parser().magicCookie();
    EXPECT_EQ(static_cast<bool>(cookie), row.cookie);
    if (cookie) {
        EXPECT_FALSE(cookie->empty());
    } else {
        EXPECT_EQ(cookie.error(), ParserError::ValueUnknown) << "no cookie is said as unknown";
    }
    EXPECT_EQ(r.parser().diagnostics().detectedType, row.fileType);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Announcements,
    ::testing::Values(AnnouncementRow{"mpeg2_l3.mp3", AudioFileType::MP3, false},
                      AnnouncementRow{"adts_lc.aac", AudioFileType::AAC_ADTS, true},
                      AnnouncementRow{"wav_s16.wav", AudioFileType::WAVE, false},
                      AnnouncementRow{"m4a_faststart.m4a", AudioFileType::M4A, true}),
    [](const auto& info) {
        std::string name = info.param.fixture;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

TEST(Reentry, FromInsideTheListenerIsRefusedAndChangesNothing) {
    const std::vector<std::uint8_t> bytes = readFixture("mpeg2_l3.mp3");
    Recorder plain;
    ASSERT_EQ(plain.feed(bytes), ParserError::None);

    Recorder reentering;
    reentering.feedFromInside = true;
    ASSERT_EQ(reentering.feed(bytes), ParserError::None);
    EXPECT_EQ(reentering.reentry, ParserError::IllegalOperation);
    EXPECT_EQ(reentering.packets, plain.packets);
    EXPECT_EQ(reentering.audio, plain.audio);
    EXPECT_EQ(reentering.parser().diagnostics().bytesParsed, bytes.size());
}

TEST(Failure, StaysAndNothingIsDeliveredAfterIt) {
    const std::string page(70000, '<');
    Recorder r;
    const ParserError error =
        r.feed(std::span(reinterpret_cast<const std::uint8_t*>(page.data()), page.size()));
    EXPECT_EQ(error, ParserError::UnsupportedFileType);
    // Real audio afterwards changes nothing.
    EXPECT_EQ(r.feed(readFixture("mpeg2_l3.mp3")), error);
    EXPECT_EQ(r.feed({}), error);
    EXPECT_TRUE(r.events.empty());
    EXPECT_FALSE(r.parser().readyToProducePackets());
}

struct Delivered {
    std::vector<std::vector<std::uint8_t>> packets;  // described packets
    std::vector<std::uint8_t> audio;                 // all audio bytes (runs of PCM split anyhow)
    bool operator==(const Delivered&) const = default;
};

// What `bytes` deliver fed in pieces of `piece` bytes, each marked by
// `mark(parser, offset)` just before it is fed.
Delivered fedWith(const std::vector<std::uint8_t>& bytes, std::size_t piece,
                  const std::function<Continuity(const StreamParser&, std::size_t at)>& mark) {
    Recorder r;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const auto part = std::span(bytes).subspan(at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(r.feed(part, mark(r.parser(), at)), ParserError::None);
    }
    return {r.packets, r.audio};
}

const auto kContinuous = [](const StreamParser&, std::size_t) { return Continuity::Continuous; };

TEST(Discontinuity, BeforeTheFormatIsKnownIsIgnored) {
    for (const char* fixture : {"mpeg2_l3.mp3", "adts_lc.aac", "wav_s16.wav"}) {
        SCOPED_TRACE(fixture);
        const std::vector<std::uint8_t> bytes = readFixture(fixture);
        const Delivered whole = fedWith(bytes, bytes.size(), kContinuous);
        ASSERT_FALSE(whole.audio.empty());
        const Delivered marked = fedWith(bytes, 5, [](const StreamParser& p, std::size_t) {
            return p.readyToProducePackets() ? Continuity::Continuous : Continuity::Discontinuous;
        });
        EXPECT_TRUE(marked == whole);
    }
}

TEST(Discontinuity, ContainersTakeTheBytesAsTheirContinuation) {
    for (const char* fixture : {"wav_s16.wav", "aifc_sowt.aifc", "m4a_faststart.m4a"}) {
        SCOPED_TRACE(fixture);
        const std::vector<std::uint8_t> bytes = readFixture(fixture);
        const Delivered whole = fedWith(bytes, 1001, kContinuous);
        const Delivered marked = fedWith(bytes, 1001, [](const StreamParser&, std::size_t) {
            return Continuity::Discontinuous;
        });
        ASSERT_FALSE(whole.audio.empty());
        EXPECT_TRUE(marked == whole);
    }
}

// A framed stream cut in the middle of a frame and continued from elsewhere:
// the partly received frame is dropped, sync is found again, and the frames
// after the cut are delivered whole.
TEST(Discontinuity, FramedFormatsDropThePartFrameAndSyncAgain) {
    for (const char* fixture : {"mpeg2_l3.mp3", "adts_lc.aac"}) {
        SCOPED_TRACE(fixture);
        const std::vector<std::uint8_t> bytes = readFixture(fixture);
        const auto whole = fedWith(bytes, bytes.size(), kContinuous).packets;
        ASSERT_GE(whole.size(), 20U);
        // Half the stream, then 100 bytes skipped: the second half begins
        // inside a frame.
        const std::size_t cut = bytes.size() / 2;
        std::vector<std::uint8_t> spliced(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        spliced.insert(spliced.end(), bytes.begin() + static_cast<long>(cut) + 100, bytes.end());

        const auto marked =
            fedWith(spliced, cut, [cut](const StreamParser&, std::size_t at) {
                return at == cut ? Continuity::Discontinuous : Continuity::Continuous;
            }).packets;
        // Every packet delivered is one of the stream's, and the last ones
        // are its last ones: the frames after the cut came through.
        ASSERT_GE(marked.size(), 4U);
        EXPECT_LT(marked.size(), whole.size());
        EXPECT_TRUE(std::equal(marked.end() - 3, marked.end(), whole.end() - 3));
        for (const auto& packet : marked) {
            EXPECT_NE(std::find(whole.begin(), whole.end(), packet), whole.end())
                << "a packet made of two frames' pieces";
        }
    }
}

TEST(ErrorText, NamesEachErrorTheParserReturns) {
    for (const ParserError error :
         {ParserError::UnsupportedFileType, ParserError::UnsupportedDataFormat,
          ParserError::NotOptimized, ParserError::InvalidFile, ParserError::ValueUnknown,
          ParserError::IllegalOperation, ParserError::UnspecifiedError}) {
        EXPECT_FALSE(parserErrorText(error).empty()) << static_cast<std::int32_t>(error);
    }
    EXPECT_TRUE(parserErrorText(ParserError::None).empty());
    EXPECT_EQ(static_cast<std::int32_t>(ParserError::InvalidFile), fourCharStatus("dta?"));
}

}  // namespace
}  // namespace orvento::test
