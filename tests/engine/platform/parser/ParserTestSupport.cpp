#include "tests/engine/platform/parser/ParserTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace orvento::test {

RecordingParser::RecordingParser(AudioFileTypeID hint) {
    EXPECT_EQ(AudioFileStreamOpen(this, &RecordingParser::onProperty, &RecordingParser::onPackets,
                                  hint, &stream_),
              noErr);
}

RecordingParser::~RecordingParser() {
    if (stream_ != nullptr) {
        EXPECT_EQ(AudioFileStreamClose(stream_), noErr);
    }
}

OSStatus RecordingParser::feed(const UInt8* data, size_t size, AudioFileStreamParseFlags flags) {
    OSStatus status = AudioFileStreamParseBytes(stream_, static_cast<UInt32>(size), data, flags);
    if (status != noErr && record_.status == noErr) {
        record_.status = status;
    }
    return status;
}

const ParseRecord& RecordingParser::record() {
    AudioFileStreamGetDiagnostics(stream_, &record_.diagnostics);
    return record_;
}

void RecordingParser::onProperty(void* self, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                                 AudioFileStreamPropertyFlags*) {
    auto& p = *static_cast<RecordingParser*>(self);
    ParseRecord& r = p.record_;
    if (id == kAudioFileStreamProperty_DataFormat) {
        p.sawFormat_ = true;
    }
    if (id != kAudioFileStreamProperty_ReadyToProducePackets) {
        return;
    }
    ++r.readyCount;
    r.formatBeforeReady = p.sawFormat_;
    UInt32 size = sizeof r.format;
    EXPECT_EQ(
        AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_DataFormat, &size, &r.format),
        noErr);
    size = sizeof r.fileType;
    EXPECT_EQ(
        AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_FileFormat, &size, &r.fileType),
        noErr);
    UInt32 cookieSize = 0;
    r.cookieInfoStatus = AudioFileStreamGetPropertyInfo(
        stream, kAudioFileStreamProperty_MagicCookieData, &cookieSize, nullptr);
    if (r.cookieInfoStatus == noErr) {
        r.cookie.assign(cookieSize, 0);
        EXPECT_EQ(AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_MagicCookieData,
                                             &cookieSize, r.cookie.data()),
                  noErr);
    }
}

void RecordingParser::onPackets(void* self, UInt32 numberBytes, UInt32 numberPackets,
                                const void* data, AudioStreamPacketDescription* descriptions) {
    auto& r = static_cast<RecordingParser*>(self)->record_;
    const auto* bytes = static_cast<const UInt8*>(data);
    ++r.runs;
    r.largestRunPackets = std::max(r.largestRunPackets, numberPackets);
    if (descriptions == nullptr) {
        UInt32 frame = r.format.mBytesPerFrame;
        if (frame == 0 || numberBytes % frame != 0 || numberBytes / frame != numberPackets ||
            numberBytes > 32768) {
            r.pcmRunsWholeFrames = false;
        }
        r.pcmBytes += numberBytes;
        r.audio.insert(r.audio.end(), bytes, bytes + numberBytes);
        return;
    }
    for (UInt32 i = 0; i < numberPackets; ++i) {
        const AudioStreamPacketDescription& d = descriptions[i];
        if (d.mStartOffset < 0 || d.mStartOffset + d.mDataByteSize > numberBytes) {
            r.descriptionsInBounds = false;
            continue;
        }
        r.packetSizes.push_back(d.mDataByteSize);
        r.packetFrames.push_back(d.mVariableFramesInPacket);
        r.audio.insert(r.audio.end(), bytes + d.mStartOffset,
                       bytes + d.mStartOffset + d.mDataByteSize);
    }
}

const char* splitName(Split split) {
    switch (split) {
        case Split::Whole:
            return "Whole";
        case Split::Engine32k:
            return "Engine32k";
        case Split::OneByte:
            return "OneByte";
        case Split::Random:
            return "Random";
        case Split::Primes:
            return "Primes";
    }
    return "?";
}

ParseRecord parseBytes(const std::vector<UInt8>& bytes, AudioFileTypeID hint, Split split,
                       unsigned seed) {
    RecordingParser parser(hint);
    std::mt19937 random(seed);
    static constexpr size_t kPrimes[] = {7, 13, 1021, 3, 4099, 1, 509};
    size_t pos = 0;
    size_t call = 0;
    while (pos < bytes.size()) {
        size_t piece = bytes.size() - pos;
        switch (split) {
            case Split::Whole:
                break;
            case Split::Engine32k:
                piece = std::min<size_t>(piece, 32768);
                break;
            case Split::OneByte:
                piece = 1;
                break;
            case Split::Random:
                piece = std::min<size_t>(
                    piece, std::uniform_int_distribution<size_t>(1, call % 3 ? 64 : 9000)(random));
                break;
            case Split::Primes:
                piece = std::min(piece, kPrimes[call % std::size(kPrimes)]);
                break;
        }
        if (parser.feed(bytes.data() + pos, piece) != noErr) {
            break;
        }
        pos += piece;
        ++call;
    }
    return parser.record();
}

std::string fixturePath(const std::string& name) {
    const char* root = std::getenv("ORVENTO_SOURCE_DIR");
    return std::string(root != nullptr ? root : ".") + "/tests/data/" + name;
}

std::vector<UInt8> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<UInt8> readFixture(const std::string& name) {
    return readFile(fixturePath(name));
}

std::vector<UInt32> expectedPacketSizes(const std::string& fixture) {
    std::ifstream in(fixturePath("expected/" + fixture + ".packets"));
    EXPECT_TRUE(in.good()) << "no packet record for " << fixture;
    std::vector<UInt32> sizes;
    UInt32 size = 0;
    while (in >> size) {
        sizes.push_back(size);
    }
    return sizes;
}

std::string hex(const std::vector<UInt8>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (UInt8 b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

}  // namespace orvento::test
