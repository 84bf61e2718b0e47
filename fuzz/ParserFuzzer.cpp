// Feeds arbitrary bytes to the streaming parser under every hint, in
// arbitrary splits with occasional discontinuities, and checks the contract
// on every delivery. Without discontinuities, the packets of the split feed
// must equal those of the same bytes fed at once.
//
// Input layout: byte 0 picks the hint, byte 1 the split pattern's seed,
// byte 2 the discontinuity pattern; the rest is the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "engine/demux/StreamParser.h"

namespace {

using namespace orvento;

constexpr AudioFileType kHints[] = {
    AudioFileType::None,  AudioFileType::MP3,  AudioFileType::MP2,      AudioFileType::MP1,
    AudioFileType::WAVE,  AudioFileType::AIFC, AudioFileType::AIFF,     AudioFileType::M4A,
    AudioFileType::MPEG4, AudioFileType::CAF,  AudioFileType::AAC_ADTS,
};

// Reports the broken expectation's line before aborting, so a finding says
// which rule it broke.
#define check(condition) checkAt((condition), __LINE__)
void checkAt(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "parser_fuzzer: check failed at line %d\n", line);
        std::abort();
    }
}

struct Recorder final : StreamParser::Listener {
    std::unique_ptr<StreamParser> parser;
    std::vector<StreamProperty> properties;  // as announced
    int readyCount = 0;
    AudioFormat format{};
    std::vector<std::uint8_t> cookie;
    // Every packet's bytes, with a separator carrying its size.
    std::vector<std::uint8_t> packets;
    std::uint64_t pcmBytes = 0;

    void handleStreamProperty(StreamProperty property) override {
        check(packets.empty() && pcmBytes == 0);
        properties.push_back(property);
        // The format is final from the first announcement on.
        const ParserResult<AudioFormat> dataFormat = parser->dataFormat();
        check(parser->readyToProducePackets() && static_cast<bool>(dataFormat) &&
              static_cast<bool>(parser->fileFormat()));
        if (property != StreamProperty::ReadyToProducePackets) {
            return;
        }
        ++readyCount;
        check(readyCount == 1);
        format = *dataFormat;
        check(format.channelsPerFrame > 0 && format.sampleRate > 0);
        if (const ParserResult<std::span<const std::uint8_t>> got = parser->magicCookie()) {
            check(!got->empty());
            cookie.assign(got->begin(), got->end());
        } else {
            check(got.error() == ParserError::ValueUnknown);
        }
        // Once each, in order, the cookie only when there is one.
        using P = StreamProperty;
        const std::vector<P> expected =
            cookie.empty() ? std::vector<P>{P::FileFormat, P::DataFormat, P::ReadyToProducePackets}
                           : std::vector<P>{P::FileFormat, P::DataFormat, P::MagicCookie,
                                            P::ReadyToProducePackets};
        check(properties == expected);
        // Re-entering the parser from its listener is refused.
        check(parser->feed({}) == ParserError::IllegalOperation);
    }

    void handleStreamPackets(std::span<const std::byte> data,
                             std::span<const PacketDescription> descriptions) override {
        check(readyCount == 1 && !data.empty());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        const size_t numberBytes = data.size();
        if (descriptions.empty()) {
            check(format.formatId == kFormatLinearPcm);
            check(numberBytes <= 32768);
            check(numberBytes % format.bytesPerFrame == 0);
            packets.insert(packets.end(), bytes, bytes + numberBytes);
            pcmBytes += numberBytes;
            return;
        }
        check(format.formatId != kFormatLinearPcm && descriptions.size() <= 4096);
        std::int64_t end = 0;
        for (const PacketDescription& d : descriptions) {
            check(d.startOffset >= end && d.byteSize > 0 && d.byteSize <= 32768);
            end = d.startOffset + d.byteSize;
            check(end <= static_cast<std::int64_t>(numberBytes));
            std::uint8_t size[4];
            std::memcpy(size, &d.byteSize, 4);
            packets.insert(packets.end(), size, size + 4);
            packets.insert(packets.end(), bytes + d.startOffset, bytes + end);
        }
        check(end == static_cast<std::int64_t>(numberBytes));
    }
};

struct Outcome {
    ParserError status = ParserError::None;
    Recorder recorder;
};

void run(AudioFileType hint, const std::uint8_t* data, size_t size, std::uint32_t splitSeed,
         std::uint8_t discontinuities, Outcome& out) {
    Recorder& r = out.recorder;
    r.parser = makeStreamParser(r, hint);
    check(!r.parser->dataFormat() && r.parser->dataFormat().error() == ParserError::ValueUnknown);
    const auto bytes = std::as_bytes(std::span(data, size));
    std::uint32_t state = splitSeed * 2654435761u + 1;
    size_t pos = 0;
    int call = 0;
    while (pos < size && out.status == ParserError::None) {
        size_t piece = size - pos;
        if (splitSeed != 0) {
            state = state * 1103515245u + 12345u;
            std::uint32_t pick = (state >> 16) & 0x7FFF;
            // Mostly tiny pieces (headers split everywhere), sometimes large.
            piece = std::min<size_t>(piece, (pick & 3) == 0 ? 1 + pick % 4096 : 1 + pick % 17);
        }
        const Continuity continuity = (discontinuities >> (call % 8)) & 1
                                          ? Continuity::Discontinuous
                                          : Continuity::Continuous;
        out.status = r.parser->feed(bytes.subspan(pos, piece), continuity);
        pos += piece;
        ++call;
    }
    if (out.status != ParserError::None) {
        // A spent parser repeats its error.
        check(r.parser->feed(bytes.first(size == 0 ? 0 : 1)) == out.status);
    }
    r.parser.reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    AudioFileType hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    std::uint32_t seed = data[1];
    std::uint8_t discontinuities = data[2];
    data += 3;
    size -= 3;

    Outcome split;
    run(hint, data, size, seed == 0 ? 1 : seed, discontinuities, split);
    if (discontinuities == 0) {
        Outcome whole;
        run(hint, data, size, 0, 0, whole);
        check(whole.status == split.status);
        check(whole.recorder.readyCount == split.recorder.readyCount);
        if (whole.status == ParserError::None) {
            check(whole.recorder.format == split.recorder.format);
            check(whole.recorder.cookie == split.recorder.cookie);
            check(whole.recorder.packets == split.recorder.packets);
        }
    }
    return 0;
}
