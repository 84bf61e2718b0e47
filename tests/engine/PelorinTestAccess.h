// Reaches into a Pelorin for tests: reads its fields, and drives its handlers
// on the test's own thread (standing in for the worker) against the real
// parser and queue.
#pragma once

#include <vector>

#include "engine/Pelorin.h"

namespace orvento {

class PelorinTestAccess {
  public:
    explicit PelorinTestAccess(Pelorin& p) : p_(p) {}

    bool failed() const { return p_.failed_.load(); }
    bool finished() const { return p_.finished_.load(); }
    bool started() const { return p_.started_.load(); }
    bool discontinuous() const { return p_.discontinuous_; }
    bool streamOpen() const { return p_.stream_.load() != nullptr; }
    AudioQueueRef audioQueue() const { return p_.audioQueue_.load(); }
    AudioQueueBufferRef buffer(std::size_t i) const { return p_.audioQueueBuffer_[i]; }
    bool inuse(std::size_t i) const { return p_.inuse_[i].load(); }
    int buffersInUse() const {
        int n = 0;
        for (const auto& f : p_.inuse_) {
            n += f.load() ? 1 : 0;
        }
        return n;
    }
    std::size_t bytesFilled() const { return p_.bytesFilled_; }
    std::size_t packetsFilled() const { return p_.packetsFilled_; }
    UInt32 fillBufferIndex() const { return p_.fillBufferIndex_; }
    const AudioStreamPacketDescription& packetDesc(std::size_t i) const {
        return p_.packetDescs_[i];
    }

    // Worker steps, run on the calling thread.
    OSStatus openParser(AudioFileTypeID hint) {
        return p_.platform_->AudioFileStreamOpen(&p_, &Pelorin::handleStreamProperty,
                                                 &Pelorin::handleStreamPackets, hint,
                                                 &p_.audioFileStream_);
    }
    OSStatus parse(const std::vector<UInt8>& bytes, UInt32 flags = 0) {
        return p_.platform_->AudioFileStreamParseBytes(
            p_.audioFileStream_, static_cast<UInt32>(bytes.size()), bytes.data(), flags);
    }
    void property(AudioFileStreamPropertyID id) {
        Pelorin::handleStreamProperty(&p_, p_.audioFileStream_, id, nullptr);
    }
    void deliver(const std::vector<UInt8>& bytes, std::vector<AudioStreamPacketDescription> descs,
                 bool withDescs) {
        Pelorin::handleStreamPackets(&p_, static_cast<UInt32>(bytes.size()),
                                     static_cast<UInt32>(descs.size()), bytes.data(),
                                     withDescs ? descs.data() : nullptr);
    }
    void endEncountered() { p_.handleEndEncountered(); }
    // A stream event for a stream that is not there (only for events that
    // must not read).
    void event(CFStreamEventType type) { Pelorin::handleReadStreamEvent(nullptr, type, &p_); }
    void enqueueFillBuffer() { p_.enqueueFillBuffer(); }
    void bufferComplete(AudioQueueBufferRef buffer) {
        Pelorin::handleBufferComplete(&p_, p_.audioQueue_.load(), buffer);
    }
    void teardown() { p_.teardown(); }
    void setFinished() { p_.finished_.store(true); }
    void setIsPlaying(bool value) { p_.setIsPlaying(value); }

  private:
    Pelorin& p_;
};

}  // namespace orvento
