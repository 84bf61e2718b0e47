// Pieces shared by the container readers: linear-PCM runs, packet-table
// delivery, format records and the MPEG-4 audio configuration.
#include <algorithm>

#include "engine/demux/StreamSession.h"

namespace orvento::demux {

size_t PcmPump::process(StreamSession& session, const std::uint8_t* p, size_t n, size_t& need) {
    if (remaining_ == 0) {
        return n;  // past the data: trailing chunks are not audio
    }
    // Whole frames only, and never more than one output buffer per run, so
    // that a consumer filling 32768-byte buffers never splits a frame.
    const size_t maxRun = static_cast<size_t>(kMaxPacketBytes / frameBytes_) * frameBytes_;
    size_t pos = 0;
    while (pos < n && remaining_ > 0) {
        std::uint64_t available = std::min<std::uint64_t>(n - pos, remaining_);
        if (available < frameBytes_) {
            if (remaining_ < frameBytes_) {
                // A partial frame ends the data: it is not audio.
                auto k = static_cast<size_t>(available);
                remaining_ -= k;
                pos += k;
                continue;
            }
            need = frameBytes_;
            return pos;
        }
        auto run = static_cast<size_t>(std::min<std::uint64_t>(available, maxRun));
        run -= run % frameBytes_;
        session.pcm(p + pos, run, static_cast<std::uint32_t>(run / frameBytes_));
        pos += run;
        if (remaining_ != UINT64_MAX) {
            remaining_ -= run;
        }
    }
    return remaining_ == 0 ? n : pos;
}

size_t PacketTablePump::process(StreamSession& session, const std::uint8_t* p, size_t n,
                                size_t& need) {
    size_t pos = 0;
    while (sizes_ != nullptr && next_ < sizes_->size()) {
        std::uint32_t size = (*sizes_)[next_];
        if (n - pos < size) {
            need = size;
            return pos;
        }
        std::uint32_t frames =
            frames_ != nullptr && next_ < frames_->size() ? (*frames_)[next_] : 0;
        if (size > 0) {
            session.packet(p + pos, size, frames);
        }
        pos += size;
        ++next_;
    }
    return pos;
}

AudioFormat pcmFormat(double sampleRate, std::uint32_t channels, std::uint32_t bits, bool isFloat,
                      bool bigEndian, bool isSigned) {
    AudioFormat d{};
    d.sampleRate = sampleRate;
    d.formatId = kFormatLinearPcm;
    d.formatFlags = kPcmPacked | (isFloat ? kPcmFloat : 0) |
                    (bigEndian && bits > 8 ? kPcmBigEndian : 0) |
                    (!isFloat && isSigned ? kPcmSignedInteger : 0);
    d.framesPerPacket = 1;
    d.channelsPerFrame = channels;
    d.bitsPerChannel = bits;
    d.bytesPerFrame = channels * (bits / 8);
    d.bytesPerPacket = d.bytesPerFrame;
    return d;
}

bool plausibleSampleRate(double rate) {
    return rate >= 1000.0 && rate <= 768000.0;
}

namespace {

constexpr std::uint32_t kAscRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                         16000, 12000, 11025, 8000,  7350,  0,     0,     0};

class BitReader {
  public:
    BitReader(const std::uint8_t* p, size_t n) : p_(p), bits_(n * 8) {}
    std::uint32_t read(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (pos_ >= bits_) {
                ok_ = false;
                return 0;
            }
            value = (value << 1) | ((p_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
            ++pos_;
        }
        return value;
    }
    bool ok() const { return ok_; }

  private:
    const std::uint8_t* p_;
    size_t bits_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::uint32_t readObjectType(BitReader& bits) {
    std::uint32_t type = bits.read(5);
    return type == 31 ? 32 + bits.read(6) : type;
}

std::uint32_t readRate(BitReader& bits) {
    std::uint32_t index = bits.read(4);
    return index == 15 ? bits.read(24) : kAscRates[index];
}

}  // namespace

bool parseAudioSpecificConfig(const std::uint8_t* p, size_t n, AudioSpecificConfig& out) {
    BitReader bits(p, n);
    out = AudioSpecificConfig{};
    out.objectType = readObjectType(bits);
    out.sampleRate = readRate(bits);
    out.channels = bits.read(4);
    if (out.objectType == 5 || out.objectType == 29) {
        // Explicit SBR (and PS): the output runs at the extension rate with
        // twice the frames per packet.
        std::uint32_t extensionRate = readRate(bits);
        if (extensionRate != 0) {
            out.sampleRate = extensionRate;
        }
        out.framesPerPacket = 2048;
        if (out.objectType == 29 && out.channels == 1) {
            out.channels = 2;
        }
    }
    if (out.channels == 7) {
        out.channels = 8;
    } else if (out.channels > 7) {
        out.channels = 0;
    }
    return bits.ok() && out.objectType != 0 && out.sampleRate != 0;
}

AudioFormat aacFormat(const AudioSpecificConfig& asc, double fallbackRate,
                      std::uint32_t fallbackChannels) {
    AudioFormat d{};
    d.sampleRate = asc.sampleRate != 0 ? asc.sampleRate : fallbackRate;
    d.formatId = kFormatAac;
    d.formatFlags = asc.objectType;
    d.framesPerPacket = asc.framesPerPacket;
    d.channelsPerFrame = asc.channels != 0 ? asc.channels : fallbackChannels;
    return d;
}

namespace {

// An MPEG-4 descriptor: tag, then a length in up to four 7-bit groups.
bool readDescriptor(ByteCursor& c, std::uint8_t& tag, size_t& length) {
    tag = c.u8();
    length = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = c.u8();
        length = (length << 7) | (b & 0x7F);
        if ((b & 0x80) == 0) {
            break;
        }
    }
    return c.ok() && length <= c.remaining();
}

}  // namespace

bool findAudioSpecificConfigInEsds(const std::uint8_t* p, size_t n, std::vector<std::uint8_t>& asc,
                                   std::uint8_t* objectTypeIndication) {
    ByteCursor c(p, n);
    std::uint8_t tag = 0;
    size_t length = 0;
    if (!readDescriptor(c, tag, length) || tag != 0x03) {
        return false;
    }
    ByteCursor es(c.here(), length);
    es.skip(2);  // ES_ID
    std::uint8_t flags = es.u8();
    if ((flags & 0x80) != 0) {
        es.skip(2);  // dependsOn_ES_ID
    }
    if ((flags & 0x40) != 0) {
        es.skip(es.u8());  // URL
    }
    if ((flags & 0x20) != 0) {
        es.skip(2);  // OCR_ES_Id
    }
    while (es.ok() && es.remaining() > 0) {
        if (!readDescriptor(es, tag, length)) {
            return false;
        }
        if (tag != 0x04) {
            es.skip(length);
            continue;
        }
        ByteCursor config(es.here(), length);
        std::uint8_t oti = config.u8();
        config.skip(12);  // stream type, buffer size, bitrates
        if (objectTypeIndication != nullptr) {
            *objectTypeIndication = oti;
        }
        while (config.ok() && config.remaining() > 0) {
            if (!readDescriptor(config, tag, length)) {
                return false;
            }
            if (tag == 0x05) {
                asc.assign(config.here(), config.here() + length);
                return !asc.empty();
            }
            config.skip(length);
        }
        return false;
    }
    return false;
}

}  // namespace orvento::demux
