// Converts decoded audio whose rate or channel count differs from the
// output's (a stream that changes format mid-way, a device that wants another
// rate), through SDL's audio stream converter, which needs no SDL subsystem.
#pragma once

#include <vector>

#include "engine/platform/queue/PcmBuffer.h"

struct _SDL_AudioStream;

namespace orvento {

class FormatConverter {
  public:
    FormatConverter() = default;
    FormatConverter(const FormatConverter&) = delete;
    FormatConverter& operator=(const FormatConverter&) = delete;
    ~FormatConverter() { reset(); }

    // Converts `frames` frames from `from` to `to`, appending the result to
    // `out` (interleaved in `to`). A change of either format first flushes
    // what the previous conversion still holds. False when SDL cannot convert.
    bool convert(const PcmFormat& from, const PcmFormat& to, const float* samples,
                 std::size_t frames, std::vector<float>& out);
    // Appends what the converter still holds (the resampler's tail) to `out`.
    void flush(std::vector<float>& out);
    // Forgets the conversion and whatever it holds.
    void reset();
    // Whether a conversion is set up (and may hold audio).
    bool active() const { return stream_ != nullptr; }

  private:
    void take(std::vector<float>& out);

    _SDL_AudioStream* stream_ = nullptr;
    PcmFormat from_;
    PcmFormat to_;
};

}  // namespace orvento
