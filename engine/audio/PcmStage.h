// A stage a queue's decoded audio passes through on its way to the output:
// it may hold audio back, drop some or change its pace, knowing how much
// audio the queue holds that has not played yet (OutputQueue::setStage).
//
// Called on the queue's thread only, one call at a time.
#pragma once

#include <span>
#include <vector>

#include "engine/audio/PcmBuffer.h"

namespace orvento {

class PcmStage {
  public:
    virtual ~PcmStage() = default;
    // Takes interleaved frames in `format` and appends to `out` what is to be
    // played, in the same format. `backlogSeconds`: the audio the queue holds
    // that has not been written to its output yet, `in` and what the stage
    // holds included.
    virtual void process(const PcmFormat& format, std::span<const float> in,
                         std::vector<float>& out, double backlogSeconds) = 0;
    // The end of what was enqueued (a flush or a stop that plays out):
    // everything held comes out.
    virtual void flush(std::vector<float>& out) = 0;
    // Drops everything held (an immediate stop).
    virtual void reset() = 0;
    virtual double heldSeconds() const = 0;
};

}  // namespace orvento
