#include "engine/audio/MpegDecoder.h"

#include <mpg123.h>

#include <cstring>
#include <mutex>

namespace orvento {
namespace {

std::string describe(int error) {
    return std::string("MPEG audio: ") + mpg123_plain_strerror(error);
}

}  // namespace

void MpegDecoder::HandleDeleter::operator()(mpg123_handle_struct* handle) const {
    mpg123_delete(handle);
}

std::unique_ptr<MpegDecoder> MpegDecoder::create(std::string& error) {
    // Needed by libmpg123 before 1.27, harmless after; not thread-safe there.
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    int status = MPG123_OK;
    std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle(mpg123_new(nullptr, &status));
    if (handle == nullptr) {
        error = describe(status);
        return nullptr;
    }
    // Decode to float at the stream's own rate and channel count: the queue
    // converts when it must, libmpg123 never resamples.
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    status = mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    if (status == MPG123_OK) {
        status = mpg123_format_none(handle.get());
    }
    for (std::size_t i = 0; status == MPG123_OK && i < rateCount; ++i) {
        status =
            mpg123_format(handle.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    if (status == MPG123_OK) {
        status = mpg123_open_feed(handle.get());
    }
    if (status != MPG123_OK) {
        error = std::string("MPEG audio: ") + mpg123_strerror(handle.get());
        return nullptr;
    }
    return std::unique_ptr<MpegDecoder>(new MpegDecoder(std::move(handle)));
}

MpegDecoder::MpegDecoder(std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle)
    : handle_(std::move(handle)) {}

MpegDecoder::~MpegDecoder() = default;

bool MpegDecoder::parseHeader(std::span<const std::byte> data, std::size_t& length,
                              std::size_t& samples) {
    if (data.size() < 4) {
        return false;
    }
    const auto b1 = static_cast<unsigned>(data[1]);
    const auto b2 = static_cast<unsigned>(data[2]);
    if (static_cast<unsigned>(data[0]) != 0xFF || (b1 & 0xE0) != 0xE0) {
        return false;
    }
    const unsigned version = (b1 >> 3) & 3;      // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const unsigned layer = 4 - ((b1 >> 1) & 3);  // 4 means the reserved value
    const unsigned bitrateIndex = b2 >> 4;
    const unsigned rateIndex = (b2 >> 2) & 3;
    const unsigned padding = (b2 >> 1) & 1;
    if (version == 1 || layer == 4 || bitrateIndex == 15 || rateIndex == 3) {
        return false;
    }
    static constexpr unsigned kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr unsigned kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const unsigned rate = kRates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    const unsigned kbps = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex];
    if (layer == 1) {
        samples = 384;
        length = kbps == 0 ? 0 : (12000 * kbps / rate + padding) * 4;
    } else {
        samples = (layer == 3 && !mpeg1) ? 576 : 1152;
        length = kbps == 0 ? 0 : (samples / 8) * 1000 * kbps / rate + padding;
    }
    return true;
}

bool MpegDecoder::decode(std::span<const std::byte> data, bool wholePacket, PcmBuffer& out) {
    if (wholePacket) {
        // A described packet is one frame. One that is not a frame, or shorter
        // than its header says, would desynchronise libmpg123: skip it.
        std::size_t length = 0;
        std::size_t samples = 0;
        const bool header = parseHeader(data, length, samples);
        if (!header || data.size() < length) {
            errorText_ = "MPEG audio: a packet is not a whole MPEG audio frame";
            const std::size_t silence = header ? samples : lastFrameSamples_;
            if (format_.valid() && silence > 0) {
                out.appendSilence(format_, silence);
            }
            return false;
        }
        if (length > 0) {
            data = data.first(length);
        }
        lastFrameSamples_ = samples;
    }
    const int status = mpg123_feed(
        handle_.get(), reinterpret_cast<const unsigned char*>(data.data()), data.size());
    if (status != MPG123_OK) {
        errorText_ = std::string("MPEG audio: ") + mpg123_strerror(handle_.get());
        return false;
    }
    return drain(out);
}

bool MpegDecoder::drain(PcmBuffer& out) {
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int status = mpg123_decode_frame(handle_.get(), &frameNumber, &audio, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(handle_.get(), &rate, &channels, &encoding);
            format_ = {static_cast<int>(rate), channels};
            continue;
        }
        if (status == MPG123_OK) {
            if (bytes > 0 && format_.valid()) {
                const std::size_t frames =
                    bytes / (sizeof(float) * static_cast<std::size_t>(format_.channels));
                std::memcpy(out.append(format_, frames), audio,
                            frames * sizeof(float) * static_cast<std::size_t>(format_.channels));
            }
            continue;
        }
        if (status == MPG123_NEED_MORE || status == MPG123_DONE) {
            return true;
        }
        // A hard error leaves the handle in an unknown state: start afresh.
        errorText_ = std::string("MPEG audio: ") + mpg123_strerror(handle_.get());
        reset();
        return false;
    }
}

void MpegDecoder::reset() {
    // Reopening the feed drops all buffered data and decoder state.
    mpg123_open_feed(handle_.get());
    lastFrameSamples_ = 0;
}

}  // namespace orvento
