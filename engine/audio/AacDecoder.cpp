#include "engine/audio/AacDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <cstring>
#include <mutex>

namespace orvento {
namespace {

std::string describe(const char* what, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return std::string("AAC: ") + what + ": " + text;
}

class BitWriter {
  public:
    void put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) {
                bytes_.push_back(std::byte{0});
            }
            if (((value >> i) & 1U) != 0) {
                bytes_.back() |= std::byte{static_cast<unsigned char>(0x80U >> (used_ % 8))};
            }
            ++used_;
        }
    }
    std::vector<std::byte> take() { return std::move(bytes_); }

  private:
    std::vector<std::byte> bytes_;
    int used_ = 0;
};

}  // namespace

void AacDecoder::ContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void AacDecoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void AacDecoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

std::vector<std::byte> AacDecoder::configFor(const AudioFormat& format) {
    static constexpr unsigned kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};
    const unsigned objectType =
        format.formatFlags >= 1 && format.formatFlags <= 4 ? format.formatFlags : 2;
    const auto rate = static_cast<unsigned>(std::lround(format.sampleRate));
    BitWriter w;
    w.put(objectType, 5);
    unsigned index = 15;
    for (unsigned i = 0; i < std::size(kRates); ++i) {
        if (kRates[i] == rate) {
            index = i;
        }
    }
    w.put(index, 4);
    if (index == 15) {
        w.put(rate, 24);
    }
    // Channel configurations 1 to 6 are that many channels, 7 is eight.
    const std::uint32_t channels = format.channelsPerFrame;
    w.put(channels == 8 ? 7 : channels, 4);
    w.put(format.framesPerPacket == 960 ? 1 : 0, 1);  // frame length flag
    w.put(0, 1);                                      // depends on core coder
    w.put(0, 1);                                      // extension flag
    return w.take();
}

AacDecoder::ContextPtr AacDecoder::open(const AudioFormat& format,
                                        std::span<const std::byte> config, std::string& error) {
    // The queue reports decoding failures itself, with the library's words.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        error = "AAC: libavcodec has no AAC decoder";
        return nullptr;
    }
    ContextPtr context(avcodec_alloc_context3(codec));
    if (context == nullptr) {
        error = "AAC: out of memory";
        return nullptr;
    }
    if (!config.empty()) {
        // libavcodec owns extradata and frees it with the context.
        auto* extradata =
            static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (extradata == nullptr) {
            error = "AAC: out of memory";
            return nullptr;
        }
        std::memcpy(extradata, config.data(), config.size());
        context->extradata = extradata;
        context->extradata_size = static_cast<int>(config.size());
    }
    context->sample_rate = static_cast<int>(std::lround(format.sampleRate));
    av_channel_layout_default(&context->ch_layout, static_cast<int>(format.channelsPerFrame));
    const int status = avcodec_open2(context.get(), codec, nullptr);
    if (status < 0) {
        error = describe("the decoder refuses the configuration", status);
        return nullptr;
    }
    return context;
}

std::unique_ptr<AacDecoder> AacDecoder::create(const AudioFormat& format, std::string& error) {
    ContextPtr context = open(format, configFor(format), error);
    if (context == nullptr) {
        return nullptr;
    }
    auto decoder = std::unique_ptr<AacDecoder>(new AacDecoder(format, std::move(context)));
    if (decoder->frame_ == nullptr || decoder->packet_ == nullptr) {
        error = "AAC: out of memory";
        return nullptr;
    }
    return decoder;
}

AacDecoder::AacDecoder(const AudioFormat& format, ContextPtr context)
    : format_(format),
      context_(std::move(context)),
      frame_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

AacDecoder::~AacDecoder() = default;

bool AacDecoder::setCookie(std::span<const std::byte> cookie) {
    const std::vector<std::byte> derived = configFor(format_);
    ContextPtr context =
        open(format_, cookie.empty() ? std::span<const std::byte>(derived) : cookie, errorText_);
    if (context == nullptr) {
        return false;
    }
    context_ = std::move(context);
    return true;
}

void AacDecoder::reset() {
    avcodec_flush_buffers(context_.get());
}

bool AacDecoder::decode(std::span<const std::byte> data, bool /*wholePacket*/, PcmBuffer& out) {
    if (data.empty()) {
        return true;
    }
    padded_.assign(data.begin(), data.end());
    padded_.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, std::byte{0});
    packet_->data = reinterpret_cast<uint8_t*>(padded_.data());
    packet_->size = static_cast<int>(data.size());
    const int status = avcodec_send_packet(context_.get(), packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    if (status < 0) {
        skip(out, status);
        return false;
    }
    return receive(out);
}

bool AacDecoder::receive(PcmBuffer& out) {
    bool produced = false;
    for (;;) {
        const int status = avcodec_receive_frame(context_.get(), frame_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return true;
        }
        if (status < 0) {
            if (!produced) {
                skip(out, status);
            }
            return false;
        }
        produced = true;
        appendFrame(out);
        av_frame_unref(frame_.get());
    }
}

void AacDecoder::skip(PcmBuffer& out, int error) {
    errorText_ = describe("a packet could not be decoded", error);
    PcmFormat format = lastFormat_;
    std::size_t frames = lastFrameSamples_;
    if (!format.valid()) {
        format = {static_cast<int>(std::lround(format_.sampleRate)),
                  static_cast<int>(format_.channelsPerFrame)};
        frames = format_.framesPerPacket != 0 ? format_.framesPerPacket : 1024;
    }
    out.appendSilence(format, frames);
}

void AacDecoder::appendFrame(PcmBuffer& out) {
    const AVFrame& f = *frame_;
    const int channels = f.ch_layout.nb_channels;
    const std::size_t frames = f.nb_samples > 0 ? static_cast<std::size_t>(f.nb_samples) : 0;
    if (channels <= 0 || f.sample_rate <= 0 || frames == 0) {
        return;
    }
    const PcmFormat format{f.sample_rate, channels};
    const auto sampleFormat = static_cast<AVSampleFormat>(f.format);
    const bool planar = av_sample_fmt_is_planar(sampleFormat) != 0;
    // One sample of channel c, frame i, whatever the layout.
    auto sample = [&](int c, std::size_t i) -> float {
        const std::size_t index =
            planar ? i : i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c);
        const uint8_t* plane = f.extended_data[planar ? c : 0];
        switch (av_get_packed_sample_fmt(sampleFormat)) {
            case AV_SAMPLE_FMT_FLT:
                return reinterpret_cast<const float*>(plane)[index];
            case AV_SAMPLE_FMT_DBL:
                return static_cast<float>(reinterpret_cast<const double*>(plane)[index]);
            case AV_SAMPLE_FMT_S16:
                return static_cast<float>(reinterpret_cast<const int16_t*>(plane)[index]) /
                       32768.0F;
            case AV_SAMPLE_FMT_S32:
                return static_cast<float>(reinterpret_cast<const int32_t*>(plane)[index] /
                                          2147483648.0);
            default:
                return 0.0F;
        }
    };
    float* to = out.append(format, frames);
    if (sampleFormat == AV_SAMPLE_FMT_FLTP) {
        // The AAC decoder's own format: interleave without a per-sample switch.
        for (int c = 0; c < channels; ++c) {
            const auto* from = reinterpret_cast<const float*>(f.extended_data[c]);
            for (std::size_t i = 0; i < frames; ++i) {
                to[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = from[i];
            }
        }
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            for (int c = 0; c < channels; ++c) {
                *to++ = sample(c, i);
            }
        }
    }
    lastFormat_ = format;
    lastFrameSamples_ = frames;
}

}  // namespace orvento
