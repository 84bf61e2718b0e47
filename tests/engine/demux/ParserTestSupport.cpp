#include "tests/engine/demux/ParserTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace orvento::test {

std::string fixturePath(const std::string& name) {
    const char* root = std::getenv("ORVENTO_SOURCE_DIR");
    return std::string(root != nullptr ? root : ".") + "/tests/data/" + name;
}

const ParseRecord& RecordingParser::record() {
    static_cast<probe::ProbeResult&>(record_) = probe_.result();
    return record_;
}

void RecordingParser::onReady(const probe::ProbeResult& /*result*/) {
    ++record_.readyCount;
}

void RecordingParser::onPackets(std::span<const std::byte> data,
                                std::span<const PacketDescription> descriptions) {
    ParseRecord& r = record_;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const auto numberBytes = static_cast<std::int64_t>(data.size());
    if (descriptions.empty()) {
        const std::uint32_t frame = probe_.result().format.bytesPerFrame;
        r.pcmRunsWholeFrames = r.pcmRunsWholeFrames && frame != 0 && numberBytes > 0 &&
                               numberBytes % frame == 0 && numberBytes <= 32768;
        r.audio.insert(r.audio.end(), bytes, bytes + numberBytes);
        return;
    }
    for (const PacketDescription& d : descriptions) {
        if (d.startOffset < 0 || d.startOffset + d.byteSize > numberBytes) {
            r.descriptionsInBounds = false;
            continue;
        }
        r.audio.insert(r.audio.end(), bytes + d.startOffset, bytes + d.startOffset + d.byteSize);
    }
}

const char* splitName(Split split) {
    static constexpr const char* kNames[] = {"Whole", "Engine32k", "OneByte", "Random", "Primes"};
    return kNames[static_cast<int>(split)];
}

ParseRecord parseBytes(const std::vector<std::uint8_t>& bytes, AudioFileType hint, Split split,
                       unsigned seed) {
    RecordingParser parser(hint);
    std::mt19937 random(seed);
    static constexpr size_t kPrimes[] = {7, 13, 1021, 3, 4099, 1, 509};
    size_t pos = 0;
    for (size_t call = 0; pos < bytes.size(); ++call) {
        const size_t left = bytes.size() - pos;
        size_t piece = left;
        switch (split) {
            case Split::Whole:
                break;
            case Split::Engine32k:
                piece = 32768;
                break;
            case Split::OneByte:
                piece = 1;
                break;
            case Split::Random:
                piece = std::uniform_int_distribution<size_t>(1, call % 3 ? 64 : 9000)(random);
                break;
            case Split::Primes:
                piece = kPrimes[call % std::size(kPrimes)];
                break;
        }
        piece = std::min(piece, left);
        if (parser.feed(bytes.data() + pos, piece) != ParserError::None) {
            break;
        }
        pos += piece;
    }
    return parser.record();
}

std::vector<std::uint8_t> readFixture(const std::string& name) {
    std::ifstream in(fixturePath(name), std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint32_t> expectedPacketSizes(const std::string& fixture) {
    std::ifstream in(fixturePath("expected/" + fixture + ".packets"));
    EXPECT_TRUE(in.good()) << "no packet record for " << fixture;
    std::vector<std::uint32_t> sizes;
    std::uint32_t size = 0;
    while (in >> size) {
        sizes.push_back(size);
    }
    return sizes;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

}  // namespace orvento::test
