// Decoded audio inside the queue: interleaved 32-bit float samples, in pieces
// that each have one sample rate and channel count.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace orvento {

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    bool operator==(const PcmFormat&) const = default;
    bool valid() const { return sampleRate > 0 && channels > 0; }
};

// Reused from packet to packet: clear() keeps the memory, so decoding settles
// into no allocation once the largest packet has been seen.
class PcmBuffer {
  public:
    struct Piece {
        PcmFormat format;
        std::size_t offset = 0;  // in samples, into the buffer
        std::size_t frames = 0;
    };

    // Room for `frames` frames in `format`, appended after what the buffer
    // holds; a piece in the same format as the last one extends it. The
    // pointer is valid until the next append.
    float* append(const PcmFormat& format, std::size_t frames) {
        const std::size_t offset = samples_.size();
        samples_.resize(offset + frames * static_cast<std::size_t>(format.channels));
        if (!pieces_.empty() && pieces_.back().format == format) {
            pieces_.back().frames += frames;
        } else {
            pieces_.push_back({format, offset, frames});
        }
        return samples_.data() + offset;
    }

    void appendSilence(const PcmFormat& format, std::size_t frames) {
        float* at = append(format, frames);
        std::fill(at, at + frames * static_cast<std::size_t>(format.channels), 0.0F);
    }

    const std::vector<Piece>& pieces() const { return pieces_; }
    const float* samples(const Piece& piece) const { return samples_.data() + piece.offset; }
    bool empty() const { return pieces_.empty(); }
    void clear() {
        samples_.clear();
        pieces_.clear();
    }

  private:
    std::vector<float> samples_;
    std::vector<Piece> pieces_;
};

}  // namespace orvento
