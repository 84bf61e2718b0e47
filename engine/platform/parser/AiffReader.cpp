// AIFF and AIFC: big-endian chunks; linear PCM as NONE/twos, sowt, in24,
// in32, fl32 and fl64 (and 8-bit 'raw ').
#include <cmath>

#include "engine/platform/parser/StreamSession.h"

namespace orvento::parser {

namespace {

constexpr size_t kMaxCommChunk = 1024;

// An 80-bit IEEE extended float (sign, 15-bit exponent, 64-bit mantissa with
// an explicit integer bit), as AIFF stores the sample rate.
Float64 extendedToDouble(const UInt8* p) {
    int exponent = ((p[0] & 0x7F) << 8) | p[1];
    UInt64 mantissa = be64(p + 2);
    if (mantissa == 0 || exponent == 0x7FFF) {
        return 0;
    }
    Float64 value = std::ldexp(static_cast<Float64>(mantissa), exponent - 16383 - 63);
    return (p[0] & 0x80) != 0 ? -value : value;
}

class AiffReader final : public Reader {
  public:
    explicit AiffReader(StreamSession& session) : session_(session) {}

    size_t process(const UInt8* p, size_t n) override {
        size_t pos = 0;
        while (pos < n && !session_.failed()) {
            if (skip_ > 0) {
                size_t k = skip_ < n - pos ? static_cast<size_t>(skip_) : n - pos;
                pos += k;
                skip_ -= k;
                continue;
            }
            const UInt8* q = p + pos;
            size_t left = n - pos;
            if (inData_) {
                return pos + pcm_.process(session_, q, left, need_);
            }
            if (!sawHeader_) {
                if (left < 12) {
                    need_ = 12;
                    return pos;
                }
                aifc_ = tagIs(q + 8, "AIFC");
                sawHeader_ = true;
                pos += 12;
                continue;
            }
            if (left < 8) {
                need_ = 8;
                return pos;
            }
            UInt32 size = be32(q + 4);
            if (!session_.examineUnlocked(8, kAudioFileStreamError_UnsupportedFileType)) {
                return pos;
            }
            if (tagIs(q, "SSND")) {
                if (left < 16) {
                    need_ = 16;
                    return pos;
                }
                startData(size, be32(q + 8));
                pos += 16;
                continue;
            }
            if (tagIs(q, "COMM")) {
                if (size < 18 || size > kMaxCommChunk) {
                    session_.fail(kAudioFileStreamError_InvalidFile);
                    return pos;
                }
                size_t whole = 8 + size + (size & 1);
                if (left < whole) {
                    need_ = whole;
                    return pos;
                }
                readCommon(q + 8, size);
                pos += whole;
                continue;
            }
            skip_ = static_cast<UInt64>(size) + (size & 1);
            session_.noteSkippedTag(8 + skip_);
            pos += 8;
        }
        return pos;
    }

  private:
    void readCommon(const UInt8* f, size_t size) {
        ByteCursor c(f, size);
        channels_ = c.u16be();
        c.skip(4);  // sample frames
        UInt32 sampleSize = c.u16be();
        rate_ = extendedToDouble(c.here());
        c.skip(10);
        UInt32 compression = aifc_ && c.remaining() >= 4 ? c.u32be() : fourCharCode("NONE");
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

    void startData(UInt32 size, UInt32 offset) {
        if (!haveCommon_) {
            session_.fail(kAudioFileStreamError_NotOptimized);
            return;
        }
        if (!supported_ || channels_ == 0 || channels_ > kMaxPcmChannels ||
            !plausibleSampleRate(rate_)) {
            session_.fail(kAudioFileStreamError_UnsupportedDataFormat);
            return;
        }
        bool unbounded = size == 0 || size == 0xFFFFFFFFu;
        if (!unbounded && size < 8 + static_cast<UInt64>(offset)) {
            session_.fail(kAudioFileStreamError_InvalidFile);
            return;
        }
        StreamFormat format;
        format.fileType = aifc_ ? kAudioFileAIFCType : kAudioFileAIFFType;
        format.asbd = pcmFormat(rate_, channels_, bits_, isFloat_, bigEndian_, signed_);
        session_.announce(format, Detection::ContainerSignature);
        // The data starts `offset` bytes into the sound data (block alignment).
        skip_ = offset;
        pcm_.start(channels_ * (bits_ / 8), unbounded ? UINT64_MAX : size - 8 - offset);
        inData_ = true;
    }

    StreamSession& session_;
    bool sawHeader_ = false;
    bool aifc_ = false;
    bool haveCommon_ = false;
    bool supported_ = false;
    bool isFloat_ = false;
    bool bigEndian_ = true;
    bool signed_ = true;
    bool inData_ = false;
    UInt32 channels_ = 0;
    UInt32 bits_ = 0;
    Float64 rate_ = 0;
    UInt64 skip_ = 0;
    PcmPump pcm_;
};

}  // namespace

std::unique_ptr<Reader> makeAiffReader(StreamSession& session) {
    return std::make_unique<AiffReader>(session);
}

}  // namespace orvento::parser
