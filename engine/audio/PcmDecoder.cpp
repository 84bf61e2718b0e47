#include "engine/audio/PcmDecoder.h"

#include <cmath>
#include <cstring>

namespace orvento {

std::unique_ptr<PcmDecoder> PcmDecoder::create(const AudioFormat& format) {
    const std::uint32_t flags = format.formatFlags;
    const std::uint32_t bits = format.bitsPerChannel;
    const std::uint32_t channels = format.channelsPerFrame;
    if ((flags & kPcmNonInterleaved) != 0 || channels == 0 || channels > kMaxChannels ||
        !(format.sampleRate >= 1.0 && format.sampleRate <= 1e6)) {
        return nullptr;
    }
    Kind kind = Kind::Unsigned;
    if ((flags & kPcmFloat) != 0) {
        if (bits != 32 && bits != 64) {
            return nullptr;
        }
        kind = Kind::Float;
    } else {
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            return nullptr;
        }
        kind = (flags & kPcmSignedInteger) != 0 ? Kind::Signed : Kind::Unsigned;
    }
    const int bytesPerSample = static_cast<int>(bits / 8);
    if (format.bytesPerFrame != channels * static_cast<std::uint32_t>(bytesPerSample) ||
        (format.framesPerPacket != 0 && format.framesPerPacket != 1)) {
        return nullptr;
    }
    const PcmFormat pcm{static_cast<int>(std::lround(format.sampleRate)),
                        static_cast<int>(channels)};
    return std::unique_ptr<PcmDecoder>(
        new PcmDecoder(pcm, kind, bytesPerSample, (flags & kPcmBigEndian) != 0));
}

PcmDecoder::PcmDecoder(PcmFormat format, Kind kind, int bytesPerSample, bool bigEndian)
    : format_(format),
      kind_(kind),
      bytesPerSample_(bytesPerSample),
      bigEndian_(bigEndian),
      bytesPerFrame_(static_cast<std::size_t>(bytesPerSample) *
                     static_cast<std::size_t>(format.channels)) {}

bool PcmDecoder::decode(std::span<const std::byte> data, bool /*wholePacket*/, PcmBuffer& out) {
    if (carried_ > 0) {
        const std::size_t take = std::min(bytesPerFrame_ - carried_, data.size());
        std::memcpy(carry_.data() + carried_, data.data(), take);
        carried_ += take;
        data = data.subspan(take);
        if (carried_ < bytesPerFrame_) {
            return true;
        }
        convert(carry_.data(), 1, out.append(format_, 1));
        carried_ = 0;
    }
    const std::size_t frames = data.size() / bytesPerFrame_;
    if (frames > 0) {
        convert(data.data(), frames, out.append(format_, frames));
    }
    carried_ = data.size() - frames * bytesPerFrame_;
    std::memcpy(carry_.data(), data.data() + frames * bytesPerFrame_, carried_);
    return true;
}

void PcmDecoder::flush(PcmBuffer& out) {
    if (carried_ == 0) {
        return;
    }
    std::memset(carry_.data() + carried_, 0, bytesPerFrame_ - carried_);
    convert(carry_.data(), 1, out.append(format_, 1));
    carried_ = 0;
}

void PcmDecoder::convert(const std::byte* frames, std::size_t count, float* to) const {
    const std::size_t samples = count * static_cast<std::size_t>(format_.channels);
    const auto* in = reinterpret_cast<const unsigned char*>(frames);
    const int width = bytesPerSample_;
    const int bits = width * 8;
    const double scale = std::ldexp(1.0, -(bits - 1));
    const double unsignedZero = std::ldexp(1.0, bits - 1);
    for (std::size_t i = 0; i < samples; ++i, in += width) {
        // Assemble the sample most significant byte first, whatever the order.
        std::uint64_t raw = 0;
        for (int b = 0; b < width; ++b) {
            raw = (raw << 8) | in[bigEndian_ ? b : width - 1 - b];
        }
        switch (kind_) {
            case Kind::Float:
                if (width == 4) {
                    float f = 0;
                    const auto raw32 = static_cast<std::uint32_t>(raw);
                    std::memcpy(&f, &raw32, sizeof f);
                    to[i] = f;
                } else {
                    double d = 0;
                    std::memcpy(&d, &raw, sizeof d);
                    to[i] = static_cast<float>(d);
                }
                break;
            case Kind::Signed: {
                // Sign-extend from `bits` to 64 bits.
                const std::int64_t value =
                    static_cast<std::int64_t>(raw << (64 - bits)) >> (64 - bits);
                to[i] = static_cast<float>(static_cast<double>(value) * scale);
                break;
            }
            case Kind::Unsigned: {
                to[i] = static_cast<float>((static_cast<double>(raw) - unsignedZero) * scale);
                break;
            }
        }
    }
}

}  // namespace orvento
