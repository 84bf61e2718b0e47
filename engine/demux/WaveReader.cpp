// WAV (RIFF and RF64): linear PCM, integer or IEEE float, plain or
// WAVE_FORMAT_EXTENSIBLE.
#include "engine/demux/ChunkWalker.h"

namespace orvento::demux {

namespace {

constexpr std::uint16_t kWavePcm = 0x0001;
constexpr std::uint16_t kWaveFloat = 0x0003;
constexpr std::uint16_t kWaveMpeg = 0x0050;
constexpr std::uint16_t kWaveMpegLayer3 = 0x0055;
constexpr std::uint16_t kWaveExtensible = 0xFFFE;
constexpr size_t kMaxFormatChunk = 1024;

class WaveReader final : public IffChunkWalker {
  public:
    explicit WaveReader(StreamSession& session) : IffChunkWalker(session, false) {}

  private:
    size_t onIffChunk(const std::uint8_t* q, size_t left, std::uint32_t size) override {
        if (tagIs(q, "data")) {
            startData(size);
            return mpeg_ ? handOver(8) : 8;  // MPEG: the frame reader takes over from here
        }
        if (tagIs(q, "fmt ")) {
            return readWhole(q, left, size, 16, kMaxFormatChunk,
                             [this](const std::uint8_t* body, size_t n) { readFormat(body, n); });
        }
        // Any other chunk (LIST, fact, ds64, ...) is skipped by its size.
        return skipPadded(size);
    }

    size_t deliver(const std::uint8_t* q, size_t left, std::uint64_t /*at*/) override {
        return pcm_.process(session(), q, left, need_);
    }

    void readFormat(const std::uint8_t* f, size_t size) {
        ByteCursor c(f, size);
        std::uint16_t tag = c.u16le();
        channels_ = c.u16le();
        rate_ = c.u32le();
        c.skip(4);  // byte rate
        blockAlign_ = c.u16le();
        bits_ = c.u16le();
        if (tag == kWaveExtensible) {
            if (size < 40) {
                session().fail(ParserError::InvalidFile);
                return;
            }
            c.skip(2 + 2 + 4);  // cbSize, valid bits (the container width decodes), mask
            tag = c.u16le();    // the sub-format GUID begins with the format tag
            static constexpr std::uint8_t kGuidTail[14] = {
                0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
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

    void startData(std::uint32_t size) {
        if (!haveFormat_) {
            session().fail(ParserError::NotOptimized);
            return;
        }
        if (mpeg_) {
            // MPEG audio wrapped in WAV: the frames carry their own format.
            session().switchTo(makeFramedReader(session()));
            return;
        }
        if (!supported_) {
            session().fail(ParserError::UnsupportedDataFormat);
            return;
        }
        std::uint32_t frameBytes = channels_ * (bits_ / 8);
        if (channels_ == 0 || channels_ > kMaxPcmChannels || blockAlign_ != frameBytes ||
            !plausibleSampleRate(rate_)) {
            session().fail(ParserError::UnsupportedDataFormat);
            return;
        }
        StreamFormat format;
        format.fileType = AudioFileType::WAVE;
        format.asbd = pcmFormat(rate_, channels_, bits_, isFloat_, false, bits_ > 8);
        session().announce(format, Detection::ContainerSignature);
        // Live encoders cannot know the length: 0 and 0xFFFFFFFF mean "until
        // the end", and so does RF64's placeholder.
        bool unbounded = size == 0 || size == 0xFFFFFFFFu;
        pcm_.start(frameBytes, unbounded ? UINT64_MAX : size);
        enterData();
    }

    bool haveFormat_ = false;
    bool supported_ = false;
    bool isFloat_ = false;
    bool mpeg_ = false;
    std::uint32_t channels_ = 0;
    std::uint32_t rate_ = 0;
    std::uint32_t blockAlign_ = 0;
    std::uint32_t bits_ = 0;
    PcmPump pcm_;
};

}  // namespace

std::unique_ptr<Reader> makeWaveReader(StreamSession& session) {
    return std::make_unique<WaveReader>(session);
}

}  // namespace orvento::demux
