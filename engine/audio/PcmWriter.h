// Takes a queue's decoded audio to its output: writes what the output takes
// now, converting pieces whose rate or channel count differ from the
// output's (FormatConverter). An output that can take any format takes the
// first piece's before anything is written. It never blocks: when the output
// is full it says how long to wait before offering the rest, the output's
// time being the only clock it knows. The queue's thread only.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/audio/AudioOutput.h"
#include "engine/audio/FormatConverter.h"
#include "engine/audio/PcmBuffer.h"

namespace orvento {

class PcmWriter {
  public:
    // Where the decoder appends what is to be written.
    PcmBuffer& decoded() { return decoded_; }
    // Audio waits to be written (or, after endOfData(), the converter's tail).
    bool pending() const;
    // Seconds of decoded audio not yet offered to the output.
    double pendingSeconds() const;
    // The audio decoded so far ends a run (a flush): once it is written, what
    // the converter still holds follows.
    void endOfData() { flushConverter_ = true; }
    // Writes to `output` what it takes now. Nothing once everything pending
    // has been written; otherwise how long to wait before offering the rest
    // (never zero when the output took nothing, so that a full output cannot
    // make the queue spin).
    std::optional<AudioOutput::Duration> writeTo(AudioOutput& output);
    // Audio that could not be converted, in words, since the last call.
    std::string takeFailure() { return std::exchange(failure_, {}); }
    // Drops everything pending.
    void reset();

  private:
    PcmBuffer decoded_;          // decoded audio not yet fully written
    std::size_t piece_ = 0;      // the piece of decoded_ being written
    std::size_t pieceDone_ = 0;  // frames of it written
    FormatConverter converter_;
    std::vector<float> converted_;   // converted audio not yet fully written
    std::size_t convertedDone_ = 0;  // samples of it written
    bool flushConverter_ = false;    // write the converter's tail once decoded_ is out
    std::string failure_;
};

}  // namespace orvento
