// MPEG audio (Layers I to III) and AAC in ADTS: streams of self-describing
// frames. The reader locks on frame sync, strips ADTS headers and delivers
// each frame's payload as one packet. An MPEG audio stream may change its
// sample rate, channel mode or version on the way (a station switching
// encoders): the reader locks on to the new frames of the same layer, and
// the decoder downstream follows the frames' own headers.
#include "engine/demux/FrameHeaders.h"
#include "engine/demux/StreamSession.h"

namespace orvento::demux {

namespace {

// Consistent headers needed in a row: to lock the first time, and to lock
// again on a stream whose format is already known.
constexpr int kHeadersToLock = 3;
constexpr int kHeadersToRelock = 2;

size_t headerBytes(FrameKind kind) {
    return kind == FrameKind::Mpeg ? kMpegHeaderBytes : kAdtsHeaderBytes;
}

bool parseHeader(FrameKind kind, const std::uint8_t* p, FrameHeader& out) {
    return kind == FrameKind::Mpeg ? parseMpegHeader(p, out) : parseAdtsHeader(p, out);
}

class FramedReader final : public Reader {
  public:
    explicit FramedReader(StreamSession& session) : session_(session) {
        bool adtsFirst = session.hint() == AudioFileType::AAC_ADTS;
        order_[0] = adtsFirst ? FrameKind::Adts : FrameKind::Mpeg;
        order_[1] = adtsFirst ? FrameKind::Mpeg : FrameKind::Adts;
    }

    size_t process(const std::uint8_t* p, size_t n) override {
        size_t pos = 0;
        while (pos < n) {
            if (skip_ > 0) {
                size_t k = skip_ < n - pos ? static_cast<size_t>(skip_) : n - pos;
                pos += k;
                skip_ -= k;
                continue;
            }
            if (inSync_) {
                size_t used = 0;
                if (!readFrames(p + pos, n - pos, used)) {
                    return pos + used;  // need_ is set
                }
                pos += used;
                continue;
            }
            size_t used = 0;
            if (!scan(p + pos, n - pos, used)) {
                return pos + used;
            }
            pos += used;
        }
        return pos;
    }

    bool discontinuity() override {
        inSync_ = false;
        skip_ = 0;
        return true;
    }

  private:
    // Reads frames while the stream stays in sync. Returns false when it
    // needs more bytes (need_ set) or the session failed; true when it
    // consumed `used` bytes and the caller should go on (sync lost, or a
    // tag to skip).
    bool readFrames(const std::uint8_t* q, size_t left, size_t& used) {
        size_t pos = 0;
        if (key_.kind == FrameKind::Mpeg && !firstFrame_) {
            // The steady state: one table lookup per frame.
            while (left - pos >= kMpegHeaderBytes) {
                std::uint32_t word = be32(q + pos);
                std::uint32_t bytes = mpegKeyOf(word) == key_.streamKey ? mpegFrameBytes(word) : 0;
                if (bytes == 0) {
                    break;
                }
                if (left - pos < bytes) {
                    need_ = bytes;
                    used = pos;
                    return false;
                }
                session_.packet(q + pos, bytes, variableFrames_);
                pos += bytes;
            }
        }
        while (true) {
            const std::uint8_t* f = q + pos;
            size_t rest = left - pos;
            size_t header = headerBytes(key_.kind);
            if (rest < header) {
                need_ = header;
                used = pos;
                return false;
            }
            FrameHeader h;
            if (parseHeader(key_.kind, f, h) && h.streamKey == key_.streamKey) {
                if (rest < h.frameBytes) {
                    need_ = h.frameBytes;
                    used = pos;
                    return false;
                }
                if (firstFrame_ && isVbrInfoFrame(f, h)) {
                    session_.noteSkippedTag(h.frameBytes);
                } else {
                    session_.packet(f + h.headerBytes, h.frameBytes - h.headerBytes,
                                    variableFrames_);
                }
                firstFrame_ = false;
                pos += h.frameBytes;
                continue;
            }
            std::uint64_t tag = 0;
            switch (checkTag(f, rest, true, tag, need_)) {
                case TagCheck::NeedMore:
                    used = pos;
                    return false;
                case TagCheck::Tag:
                    session_.noteSkippedTag(tag);
                    skip_ = tag;
                    used = pos;
                    return true;
                case TagCheck::None:
                    break;
            }
            inSync_ = false;
            session_.noteResync();
            used = pos;
            return true;
        }
    }

    // Searches for a run of consistent frame headers, skipping tags. Returns
    // as readFrames does; sets inSync_ when it locked.
    bool scan(const std::uint8_t* q, size_t left, size_t& used) {
        size_t pos = 0;
        const ParserError failure =
            locked_ ? ParserError::InvalidFile : ParserError::UnsupportedFileType;
        while (pos < left) {
            const std::uint8_t* f = q + pos;
            size_t rest = left - pos;
            if (f[0] == 0xFF) {
                FrameHeader h;
                switch (tryLock(f, rest, h)) {
                    case Lock::NeedMore:
                        used = pos;
                        return false;
                    case Lock::Locked:
                        lockOn(h);
                        used = pos;
                        return true;
                    case Lock::No:
                        break;
                }
            } else if (f[0] == 'I' || f[0] == 'A' || (locked_ && f[0] == 'T')) {
                std::uint64_t tag = 0;
                switch (checkTag(f, rest, locked_, tag, need_)) {
                    case TagCheck::NeedMore:
                        used = pos;
                        return false;
                    case TagCheck::Tag:
                        session_.noteSkippedTag(tag);
                        skip_ = tag;
                        used = pos;
                        return true;
                    case TagCheck::None:
                        break;
                }
            }
            ++pos;
            session_.noteJunk(1);
            if (!session_.examineUnlocked(1, failure)) {
                used = pos;
                return false;
            }
        }
        used = pos;
        return true;
    }

    enum class Lock { No, Locked, NeedMore };

    Lock tryLock(const std::uint8_t* f, size_t rest, FrameHeader& first) {
        for (FrameKind kind : order_) {
            if (locked_ && kind != key_.kind) {
                continue;
            }
            size_t header = headerBytes(kind);
            if (rest < header) {
                // Not enough to judge this kind yet; the ADTS sync pattern is
                // decided by the second byte already.
                if (kind == FrameKind::Adts && rest >= 2 && (f[1] & 0xF6) != 0xF0) {
                    continue;
                }
                need_ = header;
                return Lock::NeedMore;
            }
            if (!parseHeader(kind, f, first)) {
                continue;
            }
            // Once locked: the locked format again, or (MPEG audio only) a new
            // rate, mode or version of the same layer, on the evidence a
            // first lock needs.
            const bool sameFormat = locked_ && first.streamKey == key_.streamKey;
            const bool newFormat =
                locked_ && !sameFormat && kind == FrameKind::Mpeg && first.layer == key_.layer;
            if (locked_ && !sameFormat && !newFormat) {
                continue;
            }
            int wanted = sameFormat ? kHeadersToRelock : kHeadersToLock;
            size_t offset = 0;
            FrameHeader current = first;
            bool consistent = true;
            for (int i = 1; i < wanted && consistent; ++i) {
                offset += current.frameBytes;
                if (rest < offset + header) {
                    need_ = offset + header;
                    return Lock::NeedMore;
                }
                FrameHeader next;
                consistent =
                    parseHeader(kind, f + offset, next) && next.streamKey == first.streamKey;
                current = next;
            }
            if (consistent) {
                return Lock::Locked;
            }
        }
        return Lock::No;
    }

    void lockOn(const FrameHeader& h) {
        inSync_ = true;
        session_.resetUnlocked();
        if (locked_) {
            // The format record stays as announced; a frame whose sample count
            // differs from it (another MPEG version) says so in its description.
            key_ = h;
            variableFrames_ = h.samplesPerFrame != announcedFrames_ ? h.samplesPerFrame : 0;
            return;
        }
        locked_ = true;
        key_ = h;
        announcedFrames_ = h.samplesPerFrame;
        StreamFormat format;
        AudioFormat& d = format.asbd;
        d.sampleRate = h.sampleRate;
        d.channelsPerFrame = h.channels;
        d.framesPerPacket = h.samplesPerFrame;
        if (h.kind == FrameKind::Mpeg) {
            static constexpr std::uint32_t kIds[] = {kFormatMpegLayer1, kFormatMpegLayer2,
                                                     kFormatMpegLayer3};
            static constexpr AudioFileType kTypes[] = {AudioFileType::MP1, AudioFileType::MP2,
                                                       AudioFileType::MP3};
            d.formatId = kIds[h.layer - 1];
            format.fileType = kTypes[h.layer - 1];
        } else {
            d.formatId = kFormatAac;
            d.formatFlags = h.objectType;
            format.fileType = AudioFileType::AAC_ADTS;
            // AudioSpecificConfig: object type, rate index, channel configuration.
            format.cookie = {
                static_cast<std::uint8_t>((h.objectType << 3) | (h.rateIndex >> 1)),
                static_cast<std::uint8_t>(((h.rateIndex & 1) << 7) | (h.channelConfig << 3))};
        }
        session_.announce(format, Detection::FrameSync);
    }

    StreamSession& session_;
    FrameKind order_[2];
    FrameHeader key_;                    // the frame locked on last: the format being read
    std::uint32_t announcedFrames_ = 0;  // frames per packet in the announced format
    std::uint32_t variableFrames_ = 0;   // frames per packet when they differ from that, else 0
    bool locked_ = false;                // a format has been announced
    bool inSync_ = false;                // the next byte starts a frame
    bool firstFrame_ = true;
    std::uint64_t skip_ = 0;  // tag bytes still to pass over
};

}  // namespace

std::unique_ptr<Reader> makeFramedReader(StreamSession& session) {
    return std::make_unique<FramedReader>(session);
}

}  // namespace orvento::demux
