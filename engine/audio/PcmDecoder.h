// Linear PCM: integer samples of 8 to 32 bits, signed or unsigned, float
// samples of 32 or 64 bits, either byte order, converted to float.
#pragma once

#include <array>
#include <memory>

#include "engine/audio/Decoder.h"

namespace orvento {

class PcmDecoder final : public Decoder {
  public:
    // nullptr when the queue cannot play `format` as linear PCM.
    static std::unique_ptr<PcmDecoder> create(const AudioFormat& format);

    bool decode(std::span<const std::byte> data, bool wholePacket, PcmBuffer& out) override;
    void flush(PcmBuffer& out) override;
    void reset() override { carried_ = 0; }

  private:
    enum class Kind { Unsigned, Signed, Float };
    PcmDecoder(PcmFormat format, Kind kind, int bytesPerSample, bool bigEndian);
    void convert(const std::byte* frames, std::size_t count, float* to) const;

    static constexpr int kMaxChannels = 32;
    static constexpr int kMaxFrameBytes = kMaxChannels * 8;

    const PcmFormat format_;
    const Kind kind_;
    const int bytesPerSample_;
    const bool bigEndian_;
    const std::size_t bytesPerFrame_;
    // The start of a frame that a run ended inside, completed by the next run.
    std::array<std::byte, kMaxFrameBytes> carry_{};
    std::size_t carried_ = 0;
};

}  // namespace orvento
