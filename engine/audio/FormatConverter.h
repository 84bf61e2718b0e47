// Converts decoded audio whose rate or channel count differs from the
// output's (a stream that changes format mid-way, a device that wants another
// rate). Our own code, so that no audio library is needed for it:
//   - channels are mixed by a fixed matrix (channel order as in WAV files:
//     front left, front right, centre, LFE, back left, back right, side left,
//     side right): to mono, the mean of all channels; from mono, the same
//     signal on front left and right; to stereo from more, the usual downmix
//     (centre, back and side at -3 dB, LFE dropped, scaled so that it cannot
//     clip); otherwise the channels both formats have are copied and the
//     others are silent;
//   - the rate is changed by a windowed-sinc (Kaiser) filter that passes up
//     to 42% of the lower of the two rates and stops everything above 50% of
//     it by at least 75 dB, so neither images nor aliases are heard. Output
//     frame n lies at input time n * from / to exactly (no drift, no delay),
//     and after flush() a conversion has produced ceil(frames * to / from)
//     frames in all.
// One instance per queue, used by the queue's thread only.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/audio/PcmBuffer.h"
#include "engine/base/StatusCode.h"

namespace orvento {

class FormatConverter {
  public:
    // Converts `frames` frames from `from` to `to`, appending the result to
    // `out` (interleaved in `to`). A change of either format first flushes
    // what the previous conversion still holds. False, with nothing appended,
    // when either format is not valid.
    bool convert(const PcmFormat& from, const PcmFormat& to, const float* samples,
                 std::size_t frames, std::vector<float>& out);
    // Appends what the converter still holds (the resampler's tail) to `out`
    // and ends the conversion.
    void flush(std::vector<float>& out);
    // Forgets the conversion and whatever it holds.
    void reset();
    // Whether a conversion is set up (and may hold audio).
    bool active() const { return active_; }

  private:
    void mix(const float* samples, std::size_t frames, std::vector<float>& out) const;
    // Appends every output frame whose inputs have all arrived; at the end,
    // the rest up to the conversion's full length (inputs past the end are
    // silence).
    void resample(bool atEnd, std::vector<float>& out);

    bool active_ = false;
    PcmFormat from_;
    PcmFormat to_;
    std::vector<float> matrix_;  // to_.channels rows of from_.channels weights

    // The resampler, working on mixed frames (to_.channels each).
    std::vector<float> input_;  // mixed frames kept, the first being input frame inputBase_
    std::uint64_t inputBase_ = 0;
    std::uint64_t inputEnd_ = 0;  // input frames received so far
    std::uint64_t produced_ = 0;  // output frames made so far
    // Where the next output frame lies in the input: position_ + phase_ / to_.sampleRate.
    std::uint64_t position_ = 0;
    std::uint64_t phase_ = 0;
    double scale_ = 1;       // the filter's cutoff relative to the input's Nyquist frequency
    std::size_t reach_ = 0;  // input frames the filter reaches on either side
    std::vector<float> weights_;
};

}  // namespace orvento
