// WAV (RIFF and RF64): linear PCM, integer or IEEE float, plain or
// WAVE_FORMAT_EXTENSIBLE.
#include "engine/platform/parser/StreamSession.h"

namespace orvento::parser {

namespace {

constexpr UInt16 kWavePcm = 0x0001;
constexpr UInt16 kWaveFloat = 0x0003;
constexpr UInt16 kWaveMpeg = 0x0050;
constexpr UInt16 kWaveMpegLayer3 = 0x0055;
constexpr UInt16 kWaveExtensible = 0xFFFE;
constexpr size_t kMaxFormatChunk = 1024;

class WaveReader final : public Reader {
  public:
    explicit WaveReader(StreamSession& session) : session_(session) {}

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
                sawHeader_ = true;
                pos += 12;
                continue;
            }
            if (left < 8) {
                need_ = 8;
                return pos;
            }
            UInt32 size = le32(q + 4);
            if (!session_.examineUnlocked(8, kAudioFileStreamError_UnsupportedFileType)) {
                return pos;
            }
            if (tagIs(q, "data")) {
                startData(size);
                pos += 8;
                if (mpeg_) {
                    return pos;  // the frame reader takes over from here
                }
                continue;
            }
            if (tagIs(q, "fmt ")) {
                if (size < 16 || size > kMaxFormatChunk) {
                    session_.fail(kAudioFileStreamError_InvalidFile);
                    return pos;
                }
                size_t whole = 8 + size + (size & 1);
                if (left < whole) {
                    need_ = whole;
                    return pos;
                }
                readFormat(q + 8, size);
                pos += whole;
                continue;
            }
            // Any other chunk (LIST, fact, ds64, ...) is skipped by its size.
            skip_ = static_cast<UInt64>(size) + (size & 1);
            session_.noteSkippedTag(8 + skip_);
            pos += 8;
        }
        return pos;
    }

  private:
    void readFormat(const UInt8* f, size_t size) {
        ByteCursor c(f, size);
        UInt16 tag = c.u16le();
        channels_ = c.u16le();
        rate_ = c.u32le();
        c.skip(4);  // byte rate
        blockAlign_ = c.u16le();
        bits_ = c.u16le();
        if (tag == kWaveExtensible) {
            if (size < 40) {
                session_.fail(kAudioFileStreamError_InvalidFile);
                return;
            }
            c.skip(2 + 2 + 4);  // cbSize, valid bits (the container width decodes), mask
            tag = c.u16le();    // the sub-format GUID begins with the format tag
            static constexpr UInt8 kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            if (std::memcmp(c.here(), kGuidTail, sizeof kGuidTail) != 0) {
                tag = 0;
            }
        }
        isFloat_ = tag == kWaveFloat;
        mpeg_ = tag == kWaveMpeg || tag == kWaveMpegLayer3;
        supported_ =
            (tag == kWavePcm && (bits_ == 8 || bits_ == 16 || bits_ == 24 || bits_ == 32)) ||
            (tag == kWaveFloat && (bits_ == 32 || bits_ == 64));
        haveFormat_ = true;
    }

    void startData(UInt32 size) {
        if (!haveFormat_) {
            session_.fail(kAudioFileStreamError_NotOptimized);
            return;
        }
        if (mpeg_) {
            // MPEG audio wrapped in WAV: the frames carry their own format.
            session_.switchTo(makeFramedReader(session_));
            return;
        }
        if (!supported_) {
            session_.fail(kAudioFileStreamError_UnsupportedDataFormat);
            return;
        }
        UInt32 frameBytes = channels_ * (bits_ / 8);
        if (channels_ == 0 || channels_ > kMaxPcmChannels || blockAlign_ != frameBytes ||
            !plausibleSampleRate(rate_)) {
            session_.fail(kAudioFileStreamError_UnsupportedDataFormat);
            return;
        }
        StreamFormat format;
        format.fileType = kAudioFileWAVEType;
        format.asbd = pcmFormat(rate_, channels_, bits_, isFloat_, false, bits_ > 8);
        session_.announce(format, Detection::ContainerSignature);
        // Live encoders cannot know the length: 0 and 0xFFFFFFFF mean "until
        // the end", and so does RF64's placeholder.
        bool unbounded = size == 0 || size == 0xFFFFFFFFu;
        pcm_.start(frameBytes, unbounded ? UINT64_MAX : size);
        inData_ = true;
    }

    StreamSession& session_;
    bool sawHeader_ = false;
    bool haveFormat_ = false;
    bool supported_ = false;
    bool isFloat_ = false;
    bool mpeg_ = false;
    bool inData_ = false;
    UInt32 channels_ = 0;
    UInt32 rate_ = 0;
    UInt32 blockAlign_ = 0;
    UInt32 bits_ = 0;
    UInt64 skip_ = 0;
    PcmPump pcm_;
};

}  // namespace

std::unique_ptr<Reader> makeWaveReader(StreamSession& session) {
    return std::make_unique<WaveReader>(session);
}

}  // namespace orvento::parser
