// Internal to the parser: the StreamParser behind makeStreamParser, the reader
// interface each file format implements, and the byte helpers they share.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/demux/StreamParser.h"

namespace orvento::demux {

class StreamSession;

// Largest packet delivered with a description: one output-queue buffer.
inline constexpr std::uint32_t kMaxPacketBytes = 32768;
// Bytes a reader may ask to see at once; carried across parse calls.
inline constexpr size_t kCarryCapacity = 65536;
// Descriptions gathered before a run is handed to the listener.
inline constexpr size_t kMaxRunPackets = 4096;
// Bytes examined outside declared tags and chunks before a lock is given up.
inline constexpr std::uint64_t kUnlockedByteBudget = 65536;
// Tags, skipped chunks and boxes, and junk passed over before the first
// audio is delivered: generous for cover art, yet an end to a stream of tags.
inline constexpr std::uint64_t kMaxSkippedBeforeAudio = std::uint64_t{16} << 20;
// Whole-box buffering limit (MP4 'moov', CAF 'pakt' and 'kuki').
inline constexpr size_t kMaxBufferedBoxBytes = 8u << 20;
// Most channels a linear-PCM stream may have.
inline constexpr std::uint32_t kMaxPcmChannels = 32;

// Reads one file format. The session hands it the stream's bytes in order,
// each exactly once: a reader either consumes bytes (skipping them, storing
// them, or delivering packets that lie wholly inside the span it was given)
// or stops and says, through need(), how many bytes from its position it
// must see at once. The session then carries the unconsumed bytes over to the
// next parse call (at most kCarryCapacity).
class Reader {
  public:
    virtual ~Reader() = default;
    // Consumes a prefix of [p, p + n) and returns its length. Returning less
    // than n means need() > n - returned, unless the reader has failed the
    // session or asked it to switch readers.
    virtual size_t process(const std::uint8_t* p, size_t n) = 0;
    // The next bytes do not follow the previous ones. Returns true when the
    // session must drop the bytes it carries (the reader re-locks).
    virtual bool discontinuity() { return false; }
    size_t need() const { return need_; }

  protected:
    size_t need_ = 1;
};

// What the stream is, as announced once before the first packets.
struct StreamFormat {
    AudioFileType fileType = AudioFileType::None;
    AudioFormat asbd{};
    std::vector<std::uint8_t> cookie;
};

using Detection = FormatDetection;

std::unique_ptr<Reader> makeDetector(StreamSession& session);
std::unique_ptr<Reader> makeFramedReader(StreamSession& session);
std::unique_ptr<Reader> makeWaveReader(StreamSession& session);
std::unique_ptr<Reader> makeAiffReader(StreamSession& session);
std::unique_ptr<Reader> makeCafReader(StreamSession& session);
std::unique_ptr<Reader> makeMp4Reader(StreamSession& session, FormatDetection how);

// Tags that may stand between frames or before the first one: ID3v2 (with
// its footer), APEv2 and, once a stream is locked, ID3v1.
enum class TagCheck { None, Tag, NeedMore };
TagCheck checkTag(const std::uint8_t* p, size_t n, bool allowId3v1, std::uint64_t& tagBytes,
                  size_t& need);

// Big- and little-endian loads from a span the caller has bounds-checked.
inline std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}
inline std::uint64_t be64(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(be32(p)) << 32) | be32(p + 4);
}
inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline bool tagIs(const std::uint8_t* p, const char (&tag)[5]) {
    return std::memcmp(p, tag, 4) == 0;
}

// A bounds-checked cursor over a buffered structure (chunk or box body).
// Reading past the end yields zeros and marks the cursor bad.
class ByteCursor {
  public:
    ByteCursor(const std::uint8_t* p, size_t n) : p_(p), n_(n) {}
    size_t remaining() const { return n_ - pos_; }
    size_t position() const { return pos_; }
    bool ok() const { return ok_; }
    const std::uint8_t* here() const { return p_ + pos_; }
    bool skip(size_t count) { return take(count); }
    std::uint8_t u8() { return take(1) ? p_[pos_ - 1] : 0; }
    std::uint16_t u16be() { return take(2) ? be16(p_ + pos_ - 2) : 0; }
    std::uint32_t u32be() { return take(4) ? be32(p_ + pos_ - 4) : 0; }
    std::uint64_t u64be() { return take(8) ? be64(p_ + pos_ - 8) : 0; }
    std::uint16_t u16le() { return take(2) ? le16(p_ + pos_ - 2) : 0; }
    std::uint32_t u32le() { return take(4) ? le32(p_ + pos_ - 4) : 0; }

  private:
    bool take(size_t count) {
        if (count > remaining()) {
            ok_ = false;
            pos_ = n_;
            return false;
        }
        pos_ += count;
        return true;
    }
    const std::uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Delivers linear PCM in runs of whole frames, each at most one output
// buffer (32768 bytes) long, from a data chunk of known or unknown length.
class PcmPump {
  public:
    // frameBytes > 0; dataBytes UINT64_MAX for "until the end".
    void start(std::uint32_t frameBytes, std::uint64_t dataBytes) {
        frameBytes_ = frameBytes;
        remaining_ = dataBytes;
    }
    // Delivers what it can of [p, p + n); returns the bytes consumed. Sets
    // need to one frame when a partial frame is left over.
    size_t process(StreamSession& session, const std::uint8_t* p, size_t n, size_t& need);
    bool finished() const { return remaining_ == 0; }

  private:
    std::uint32_t frameBytes_ = 1;
    std::uint64_t remaining_ = 0;
};

// Delivers packets whose sizes a packet table gives, laid out back to back.
class PacketTablePump {
  public:
    void start(const std::vector<std::uint32_t>* sizes, const std::vector<std::uint32_t>* frames) {
        sizes_ = sizes;
        frames_ = frames;
        next_ = 0;
    }
    size_t process(StreamSession& session, const std::uint8_t* p, size_t n, size_t& need);
    bool finished() const { return sizes_ == nullptr || next_ >= sizes_->size(); }
    std::uint32_t nextSize() const { return finished() ? 0 : (*sizes_)[next_]; }
    size_t nextIndex() const { return next_; }
    void advanceTo(size_t index) { next_ = index; }

  private:
    const std::vector<std::uint32_t>* sizes_ = nullptr;
    const std::vector<std::uint32_t>* frames_ = nullptr;
    size_t next_ = 0;
};

// Format records shared by the readers.
AudioFormat pcmFormat(double sampleRate, std::uint32_t channels, std::uint32_t bits, bool isFloat,
                      bool bigEndian, bool isSigned);
bool plausibleSampleRate(double rate);

// An MPEG-4 AudioSpecificConfig, the fields the format record needs.
struct AudioSpecificConfig {
    std::uint32_t objectType = 0;
    std::uint32_t sampleRate = 0;  // output rate (the SBR rate when signalled)
    std::uint32_t channels = 0;    // 0 when a program config element defines them
    std::uint32_t framesPerPacket = 1024;
};
bool parseAudioSpecificConfig(const std::uint8_t* p, size_t n, AudioSpecificConfig& out);
// Finds the AudioSpecificConfig (DecoderSpecificInfo) inside an MPEG-4
// ES_Descriptor, as MP4 'esds' boxes and CAF 'kuki' chunks carry it.
bool findAudioSpecificConfigInEsds(const std::uint8_t* p, size_t n, std::vector<std::uint8_t>& asc,
                                   std::uint8_t* objectTypeIndication);
AudioFormat aacFormat(const AudioSpecificConfig& asc, double fallbackRate,
                      std::uint32_t fallbackChannels);

// The parser: the byte carrier, the run builder and the property store.
// Readers talk to it through the methods under "for readers".
class StreamSession final : public StreamParser {
  public:
    StreamSession(StreamParser::Listener& listener, AudioFileType hint);
    ~StreamSession() override;
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    ParserError feed(std::span<const std::byte> bytes, Continuity continuity) override;
    ParserResult<AudioFileType> fileFormat() const override;
    ParserResult<AudioFormat> dataFormat() const override;
    ParserResult<std::span<const std::uint8_t>> magicCookie() const override;
    bool readyToProducePackets() const override { return ready_; }
    ParserDiagnostics diagnostics() const override { return diag_; }

    // --- for readers ---
    AudioFileType hint() const { return hint_; }
    bool ready() const { return ready_; }
    bool failed() const { return status_ != ParserError::None; }
    // Absolute stream offset of the first byte of the span being processed.
    std::uint64_t spanOffset() const { return spanOffset_; }
    void announce(const StreamFormat& format, Detection how);
    // One packet of a run; p lies in the span being processed.
    void packet(const std::uint8_t* p, std::uint32_t size, std::uint32_t variableFrames = 0);
    // A run of linear-PCM frames (no descriptions).
    void pcm(const std::uint8_t* p, size_t bytes, std::uint32_t frames);
    void flushRun();
    void fail(ParserError status);
    // Counts bytes examined outside declared structures before a lock; fails
    // the session with `status` once the budget is spent. Returns false then.
    bool examineUnlocked(size_t count, ParserError status);
    void resetUnlocked() { unlocked_ = 0; }
    void noteSkippedTag(std::uint64_t count) { diag_.skippedTagBytes += count; }
    void noteJunk(std::uint64_t count) { diag_.skippedJunkBytes += count; }
    void noteResync() { ++diag_.resyncs; }
    void switchTo(std::unique_ptr<Reader> next) { pending_ = std::move(next); }

  private:
    size_t pump(const std::uint8_t* p, size_t n);
    void appendCarry(const std::uint8_t* p, size_t n);

    // Set at creation, never changed.
    StreamParser::Listener& listener_;
    const AudioFileType hint_;

    // Parsing state, touched only inside feed() on the caller's thread.
    std::unique_ptr<Reader> reader_;
    std::unique_ptr<Reader> pending_;
    std::unique_ptr<std::uint8_t[]> carry_;  // kCarryCapacity bytes
    size_t carryStart_ = 0;
    size_t carryEnd_ = 0;
    std::unique_ptr<PacketDescription[]> descs_;  // kMaxRunPackets
    const std::uint8_t* runBase_ = nullptr;
    size_t runCount_ = 0;
    std::uint64_t runBytes_ = 0;
    std::uint64_t spanOffset_ = 0;            // stream offset of spanBase_
    const std::uint8_t* spanBase_ = nullptr;  // the span the reader is processing
    std::uint64_t unlocked_ = 0;
    ParserError status_ = ParserError::None;
    bool inParse_ = false;

    // Properties, final once ready_ is set.
    bool ready_ = false;
    StreamFormat format_;
    ParserDiagnostics diag_;
};

}  // namespace orvento::demux
