// CAF: linear PCM, and AAC or MPEG audio described by a 'pakt' packet table
// (with the AAC configuration in 'kuki').
#include "engine/demux/ChunkWalker.h"

namespace orvento::demux {

namespace {

constexpr std::uint32_t kCafFloat = 1;         // desc format flags: IEEE float
constexpr std::uint32_t kCafLittleEndian = 2;  // desc format flags: little-endian

class CafReader final : public ChunkWalker {
  public:
    explicit CafReader(StreamSession& session) : ChunkWalker(session, 8) {}

  private:
    // Chunks: a 12-byte header (tag, big-endian signed 64-bit size; -1 for
    // an audio chunk that runs to the end), the body unpadded.
    size_t onChunk(const std::uint8_t* q, size_t left, std::uint64_t /*at*/) override {
        if (left < 12) {
            return needBytes(12);
        }
        auto size = static_cast<std::int64_t>(be64(q + 4));
        if (!session().examineUnlocked(12, ParserError::UnsupportedFileType)) {
            return 0;
        }
        if (tagIs(q, "data")) {
            if (left < 16) {
                return needBytes(16);  // the edit count precedes the audio
            }
            startData(size);
            return 16;
        }
        if (size < 0) {
            return failWith(ParserError::InvalidFile);
        }
        if (tagIs(q, "desc")) {
            if (size != 32) {
                return failWith(ParserError::InvalidFile);
            }
            if (left < 44) {
                return needBytes(44);
            }
            readDescription(q + 12);
            return 44;
        }
        if (tagIs(q, "kuki") || tagIs(q, "pakt")) {
            if (static_cast<std::uint64_t>(size) > kMaxBufferedBoxBytes) {
                return failWith(ParserError::InvalidFile);
            }
            // The body is gathered before the next chunk is read, so the
            // audio chunk finds the table complete.
            const bool pakt = tagIs(q, "pakt");
            havePakt_ = havePakt_ || pakt;
            return collectBody(12, pakt ? table_ : cookie_, static_cast<std::uint64_t>(size));
        }
        return skipChunk(12, static_cast<std::uint64_t>(size));
    }

    void readDescription(const std::uint8_t* d) {
        std::uint64_t rateBits = be64(d);
        std::memcpy(&desc_.sampleRate, &rateBits, sizeof rateBits);
        desc_.formatId = be32(d + 8);
        desc_.formatFlags = be32(d + 12);
        desc_.bytesPerPacket = be32(d + 16);
        desc_.framesPerPacket = be32(d + 20);
        desc_.channelsPerFrame = be32(d + 24);
        desc_.bitsPerChannel = be32(d + 28);
        haveDesc_ = true;
    }

    // Decodes the packet table once the description says what it holds.
    bool readPacketTable() {
        ByteCursor c(table_.data(), table_.size());
        std::uint64_t count = c.u64be();
        c.skip(8 + 4 + 4);  // valid frames, priming and remainder frames
        if (!c.ok() || count > c.remaining()) {
            return false;  // every entry takes at least one byte
        }
        bool sizesGiven = desc_.bytesPerPacket == 0;
        bool framesGiven = desc_.framesPerPacket == 0;
        sizes_.clear();
        frames_.clear();
        sizes_.reserve(static_cast<size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t size = sizesGiven ? readVarint(c) : desc_.bytesPerPacket;
            if (framesGiven) {
                frames_.push_back(
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(readVarint(c), UINT32_MAX)));
            }
            if (!c.ok() || size > kMaxPacketBytes) {
                return false;
            }
            sizes_.push_back(static_cast<std::uint32_t>(size));
        }
        return true;
    }

    static std::uint64_t readVarint(ByteCursor& c) {
        std::uint64_t value = 0;
        for (int i = 0; i < 10; ++i) {
            std::uint8_t b = c.u8();
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) {
                return value;
            }
        }
        c.skip(c.remaining() + 1);  // too long: mark the cursor bad
        return 0;
    }

    void startData(std::int64_t size) {
        if (!haveDesc_) {
            session().fail(ParserError::NotOptimized);
            return;
        }
        const AudioFormat& d = desc_;
        StreamFormat format;
        format.fileType = AudioFileType::CAF;
        if (!plausibleSampleRate(d.sampleRate) || d.channelsPerFrame == 0 ||
            d.channelsPerFrame > kMaxPcmChannels) {
            session().fail(ParserError::UnsupportedDataFormat);
            return;
        }
        std::uint64_t dataBytes = size < 0 ? UINT64_MAX : static_cast<std::uint64_t>(size) - 4;
        if (size >= 0 && size < 4) {
            session().fail(ParserError::InvalidFile);
            return;
        }
        if (d.formatId == kFormatLinearPcm) {
            std::uint32_t bits = d.bitsPerChannel;
            bool isFloat = (d.formatFlags & kCafFloat) != 0;
            bool valid = isFloat ? (bits == 32 || bits == 64)
                                 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            if (!valid || d.bytesPerPacket != d.channelsPerFrame * bits / 8 ||
                d.framesPerPacket != 1) {
                session().fail(ParserError::UnsupportedDataFormat);
                return;
            }
            format.asbd = pcmFormat(d.sampleRate, d.channelsPerFrame, bits, isFloat,
                                    (d.formatFlags & kCafLittleEndian) == 0, true);
            session().announce(format, Detection::ContainerSignature);
            pcm_.start(d.bytesPerPacket, dataBytes);
            pcmData_ = true;
            enterData();
            return;
        }
        bool isAac = d.formatId == kFormatAac;
        bool isMpeg = d.formatId == kFormatMpegLayer1 || d.formatId == kFormatMpegLayer2 ||
                      d.formatId == kFormatMpegLayer3;
        if (!isAac && !isMpeg) {
            session().fail(ParserError::UnsupportedDataFormat);
            return;
        }
        if (!havePakt_) {
            // Packet boundaries of variable-size packets come only from the
            // table; a table after the audio cannot be streamed.
            session().fail(ParserError::NotOptimized);
            return;
        }
        if (!readPacketTable()) {
            session().fail(ParserError::InvalidFile);
            return;
        }
        table_.clear();
        table_.shrink_to_fit();
        format.asbd = d;
        format.asbd.bytesPerFrame = 0;
        format.asbd.bitsPerChannel = 0;
        if (isAac) {
            std::vector<std::uint8_t> asc;
            bool esds = !cookie_.empty() && cookie_[0] == 0x03 &&
                        findAudioSpecificConfigInEsds(cookie_.data(), cookie_.size(), asc, nullptr);
            if (!esds) {
                asc = cookie_;  // a bare AudioSpecificConfig
            }
            AudioSpecificConfig config;
            if (asc.empty() || !parseAudioSpecificConfig(asc.data(), asc.size(), config)) {
                session().fail(ParserError::UnsupportedDataFormat);
                return;
            }
            format.asbd = aacFormat(config, d.sampleRate, d.channelsPerFrame);
            format.cookie = std::move(asc);
        } else {
            format.asbd.formatFlags = 0;
        }
        cookie_.clear();
        session().announce(format, Detection::ContainerSignature);
        packets_.start(&sizes_, framesGivenOrNull());
        dataRemaining_ = dataBytes;
        enterData();
    }

    const std::vector<std::uint32_t>* framesGivenOrNull() const {
        return frames_.empty() ? nullptr : &frames_;
    }

    size_t deliver(const std::uint8_t* q, size_t left, std::uint64_t /*at*/) override {
        if (pcmData_) {
            return pcm_.process(session(), q, left, need_);
        }
        if (packets_.finished() || dataRemaining_ == 0) {
            return left;  // past the audio
        }
        size_t span = dataRemaining_ < left ? static_cast<size_t>(dataRemaining_) : left;
        size_t used = packets_.process(session(), q, span, need_);
        if (dataRemaining_ != UINT64_MAX) {
            dataRemaining_ -= used;
            if (!packets_.finished() && packets_.nextSize() > dataRemaining_) {
                // The chunk ends inside a packet: the table overstates the data.
                dataRemaining_ = 0;
                return left;
            }
        }
        return used;
    }

    bool haveDesc_ = false;
    bool havePakt_ = false;
    bool pcmData_ = false;
    AudioFormat desc_{};
    std::vector<std::uint8_t> cookie_;
    std::vector<std::uint8_t> table_;
    std::vector<std::uint32_t> sizes_;
    std::vector<std::uint32_t> frames_;
    std::uint64_t dataRemaining_ = 0;
    PcmPump pcm_;
    PacketTablePump packets_;
};

}  // namespace

std::unique_ptr<Reader> makeCafReader(StreamSession& session) {
    return std::make_unique<CafReader>(session);
}

}  // namespace orvento::demux
