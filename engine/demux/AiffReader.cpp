// AIFF and AIFC: big-endian chunks; linear PCM as NONE/twos, sowt, in24,
// in32, fl32 and fl64 (and 8-bit 'raw ').
#include <cmath>

#include "engine/demux/ChunkWalker.h"

namespace orvento::demux {

namespace {

constexpr size_t kMaxCommChunk = 1024;

// An 80-bit IEEE extended float (sign, 15-bit exponent, 64-bit mantissa with
// an explicit integer bit), as AIFF stores the sample rate.
double extendedToDouble(const std::uint8_t* p) {
    int exponent = ((p[0] & 0x7F) << 8) | p[1];
    std::uint64_t mantissa = be64(p + 2);
    if (mantissa == 0 || exponent == 0x7FFF) {
        return 0;
    }
    double value = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
    return (p[0] & 0x80) != 0 ? -value : value;
}

class AiffReader final : public IffChunkWalker {
  public:
    explicit AiffReader(StreamSession& session) : IffChunkWalker(session, true) {}

  private:
    void readFileHeader(const std::uint8_t* header) override { aifc_ = tagIs(header + 8, "AIFC"); }

    size_t onIffChunk(const std::uint8_t* q, size_t left, std::uint32_t size) override {
        if (tagIs(q, "SSND")) {
            if (left < 16) {
                return needBytes(16);  // the data offset and block size precede the audio
            }
            startData(size, be32(q + 8));
            return 16;
        }
        if (tagIs(q, "COMM")) {
            return readWhole(q, left, size, 18, kMaxCommChunk,
                             [this](const std::uint8_t* body, size_t n) { readCommon(body, n); });
        }
        return skipPadded(size);
    }

    size_t deliver(const std::uint8_t* q, size_t left, std::uint64_t /*at*/) override {
        return pcm_.process(session(), q, left, need_);
    }

    void readCommon(const std::uint8_t* f, size_t size) {
        ByteCursor c(f, size);
        channels_ = c.u16be();
        c.skip(4);  // sample frames
        std::uint32_t sampleSize = c.u16be();
        rate_ = extendedToDouble(c.here());
        c.skip(10);
        std::uint32_t compression = aifc_ && c.remaining() >= 4 ? c.u32be() : fourCharCode("NONE");
        bits_ = (sampleSize + 7) / 8 * 8;  // samples sit left-justified in whole bytes
        supported_ = true;
        isFloat_ = false;
        bigEndian_ = true;
        signed_ = true;
        switch (compression) {
            case fourCharCode("NONE"):
            case fourCharCode("twos"):
                supported_ = sampleSize >= 1 && sampleSize <= 32;
                break;
            case fourCharCode("raw "):
                supported_ = bits_ == 8;
                signed_ = false;
                break;
            case fourCharCode("sowt"):
                supported_ = sampleSize >= 1 && sampleSize <= 32;
                bigEndian_ = false;
                break;
            case fourCharCode("in24"):
                bits_ = 24;
                break;
            case fourCharCode("in32"):
                bits_ = 32;
                break;
            case fourCharCode("fl32"):
            case fourCharCode("FL32"):
                bits_ = 32;
                isFloat_ = true;
                break;
            case fourCharCode("fl64"):
            case fourCharCode("FL64"):
                bits_ = 64;
                isFloat_ = true;
                break;
            default:
                supported_ = false;
                break;
        }
        haveCommon_ = true;
    }

    void startData(std::uint32_t size, std::uint32_t offset) {
        if (!haveCommon_) {
            session().fail(ParserError::NotOptimized);
            return;
        }
        if (!supported_ || channels_ == 0 || channels_ > kMaxPcmChannels ||
            !plausibleSampleRate(rate_)) {
            session().fail(ParserError::UnsupportedDataFormat);
            return;
        }
        bool unbounded = size == 0 || size == 0xFFFFFFFFu;
        if (!unbounded && size < 8 + static_cast<std::uint64_t>(offset)) {
            session().fail(ParserError::InvalidFile);
            return;
        }
        StreamFormat format;
        format.fileType = aifc_ ? AudioFileType::AIFC : AudioFileType::AIFF;
        format.asbd = pcmFormat(rate_, channels_, bits_, isFloat_, bigEndian_, signed_);
        session().announce(format, Detection::ContainerSignature);
        // The data starts `offset` bytes into the sound data (block alignment).
        skip(offset);
        pcm_.start(channels_ * (bits_ / 8), unbounded ? UINT64_MAX : size - 8 - offset);
        enterData();
    }

    bool aifc_ = false;
    bool haveCommon_ = false;
    bool supported_ = false;
    bool isFloat_ = false;
    bool bigEndian_ = true;
    bool signed_ = true;
    std::uint32_t channels_ = 0;
    std::uint32_t bits_ = 0;
    double rate_ = 0;
    PcmPump pcm_;
};

}  // namespace

std::unique_ptr<Reader> makeAiffReader(StreamSession& session) {
    return std::make_unique<AiffReader>(session);
}

}  // namespace orvento::demux
