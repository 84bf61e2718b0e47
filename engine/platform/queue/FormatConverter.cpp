#include "engine/platform/queue/FormatConverter.h"

#include <SDL2/SDL_audio.h>

#include <algorithm>

namespace orvento {

bool FormatConverter::convert(const PcmFormat& from, const PcmFormat& to, const float* samples,
                              std::size_t frames, std::vector<float>& out) {
    if (stream_ == nullptr || !(from == from_) || !(to == to_)) {
        flush(out);
        reset();
        stream_ =
            SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(from.channels), from.sampleRate,
                               AUDIO_F32SYS, static_cast<Uint8>(to.channels), to.sampleRate);
        if (stream_ == nullptr) {
            return false;
        }
        from_ = from;
        to_ = to;
    }
    const std::size_t bytes = frames * static_cast<std::size_t>(from.channels) * sizeof(float);
    if (SDL_AudioStreamPut(stream_, samples, static_cast<int>(bytes)) != 0) {
        return false;
    }
    take(out);
    return true;
}

void FormatConverter::flush(std::vector<float>& out) {
    if (stream_ != nullptr) {
        SDL_AudioStreamFlush(stream_);
        take(out);
    }
}

void FormatConverter::reset() {
    if (stream_ != nullptr) {
        SDL_FreeAudioStream(stream_);
        stream_ = nullptr;
    }
}

void FormatConverter::take(std::vector<float>& out) {
    const int available = SDL_AudioStreamAvailable(stream_);
    if (available <= 0) {
        return;
    }
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(available) / sizeof(float));
    const int got = SDL_AudioStreamGet(stream_, out.data() + old, available);
    out.resize(old + static_cast<std::size_t>(std::max(got, 0)) / sizeof(float));
}

}  // namespace orvento
