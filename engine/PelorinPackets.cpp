// Packet buffering: the parser's packets go into the ring, whose owner the
// player is: it hands buffers to its queue, starts it, and keeps each copy
// apart from a stop.
#include "engine/Pelorin.h"

namespace orvento {

void Pelorin::handleStreamPackets(void* clientData, UInt32 byteCount, UInt32 packetCount,
                                  const void* data, AudioStreamPacketDescription* descs) {
    auto* self = static_cast<Pelorin*>(clientData);
    self->discontinuous_ = false;
    self->ring_.deliver(byteCount, packetCount, data, descs);
}

void Pelorin::handleBufferComplete(void* userData, AudioQueueRef /*queue*/,
                                   AudioQueueBufferRef buffer) {
    static_cast<Pelorin*>(userData)->ring_.bufferCompleted(buffer);
}

OSStatus Pelorin::enqueueBuffer(AudioQueueBufferRef buffer, UInt32 count,
                                const AudioStreamPacketDescription* descs) {
    AudioQueueRef queue = audioQueue_.load();
    const OSStatus status = platform_->AudioQueueEnqueueBuffer(queue, buffer, count, descs);
    if (status != noErr) {
        logStatusError("AudioQueueEnqueueBuffer", status);
        failWithStatus("AudioQueueEnqueueBuffer", status, platform_->AudioQueueErrorText(queue));
    }
    return status;
}

bool Pelorin::startQueue() {
    std::lock_guard lock(mutex2_);
    if (finished_.load()) {
        // A stop came first: it has told its observers that nothing plays.
        return false;
    }
    AudioQueueRef queue = audioQueue_.load();
    if (OSStatus status = platform_->AudioQueueStart(queue, nullptr); status != noErr) {
        logStatusError("AudioQueueStart", status);
        if (status == kAudioQueueErr_InvalidDevice) {
            fail(std::string(kNoSoundOutputReason));
        } else {
            failWithStatus("AudioQueueStart", status, platform_->AudioQueueErrorText(queue));
        }
        return false;
    }
    started_.store(true);
    return true;
}

// Each copy holds mutex2 and finds `finished` false: once a stop has set it
// under mutex2, no copy begins.
bool Pelorin::beginCopy() {
    mutex2_.lock();
    if (finished_.load()) {
        mutex2_.unlock();
        return false;
    }
    return true;
}

void Pelorin::endCopy() {
    mutex2_.unlock();
}

}  // namespace orvento
