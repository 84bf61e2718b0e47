// AAC through libavcodec: raw access units, configured by the
// AudioSpecificConfig (the magic cookie, or one derived from the format).
#pragma once

#include <memory>
#include <vector>

#include "engine/audio/Decoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace orvento {

class AacDecoder final : public Decoder {
  public:
    // nullptr (with `error`) when `format` is not usable AAC or libavcodec
    // cannot be set up.
    static std::unique_ptr<AacDecoder> create(const AudioFormat& format, std::string& error);
    ~AacDecoder() override;

    bool decode(std::span<const std::byte> data, bool wholePacket, PcmBuffer& out) override;
    // The AAC decoder returns each access unit's audio at once.
    void flush(PcmBuffer& /*out*/) override {}
    void reset() override;
    bool setCookie(std::span<const std::byte> cookie) override;

    // The AudioSpecificConfig the format itself implies: the object type from
    // formatFlags (Main, LC, SSR or LTP; anything else as LC, which also
    // finds SBR by itself), the sample rate and the channel count.
    static std::vector<std::byte> configFor(const AudioFormat& format);

    struct ContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;
    // An open decoder context for `format` configured by `config`; nullptr
    // (with `error`) when libavcodec refuses it.
    static ContextPtr open(const AudioFormat& format, std::span<const std::byte> config,
                           std::string& error);

  private:
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    AacDecoder(const AudioFormat& format, ContextPtr context);
    bool receive(PcmBuffer& out);
    void appendFrame(PcmBuffer& out);
    void skip(PcmBuffer& out, int error);

    const AudioFormat format_;
    ContextPtr context_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    std::vector<std::byte>
        padded_;  // the packet with the zero padding libavcodec reads past its end
    PcmFormat lastFormat_;
    std::size_t lastFrameSamples_ = 0;
};

}  // namespace orvento
