// Packet buffering: parsed packets are copied straight into the queue buffer
// being filled; a buffer goes to the queue when it is full or holds
// kHandOverSeconds of audio, the queue starts once it holds kStartLeadSeconds,
// and the worker waits while the next buffer of the ring is still queued.
#include <algorithm>
#include <cstring>

#include "engine/Pelorin.h"
#include "engine/StatusErrorLog.h"

namespace orvento {

void Pelorin::handleStreamPackets(void* clientData, UInt32 byteCount, UInt32 packetCount,
                                  const void* data, AudioStreamPacketDescription* descs) {
    auto* self = static_cast<Pelorin*>(clientData);
    self->discontinuous_ = false;
    const auto* bytes = static_cast<const UInt8*>(data);
    if (descs == nullptr) {
        self->copyPlainBytes(byteCount, bytes);
    } else {
        self->copyDescribedPackets(packetCount, bytes, byteCount, descs);
    }
}

AudioQueueBufferRef Pelorin::fillBufferOrFail() {
    AudioQueueBufferRef buffer = audioQueueBuffer_[fillBufferIndex_];
    if (buffer == nullptr || buffer->mAudioDataBytesCapacity < kBufferSize) {
        // No queue, or it lacks this buffer: the set-up failed (and said so
        // first), or the parser delivered packets before announcing the format.
        fail("audio came before the stream's format was known");
        return nullptr;
    }
    return buffer;
}

void Pelorin::copyPlainBytes(UInt32 byteCount, const UInt8* data) {
    std::size_t remaining = byteCount;
    std::size_t offset = 0;
    while (remaining > 0) {
        // Once a failure is known the rest of the delivery is dropped: the
        // ring may be unusable and the worker stops the player next.
        if (failed_.load()) {
            return;
        }
        // A delivery that does not fit is not divided: the fill buffer goes
        // first. An empty fill buffer is never handed over; it takes the first
        // kBufferSize bytes of a delivery larger than a buffer.
        if (bytesFilled_ > 0 && kBufferSize - bytesFilled_ < remaining) {
            enqueueFillBuffer();
            if (failed_.load()) {
                return;
            }
        }
        std::unique_lock lock(mutex2_);
        if (finished_.load()) {
            return;
        }
        AudioQueueBufferRef buffer = fillBufferOrFail();
        if (buffer == nullptr) {
            return;
        }
        const std::size_t n = std::min<std::size_t>(kBufferSize - bytesFilled_, remaining);
        std::memcpy(static_cast<UInt8*>(buffer->mAudioData) + bytesFilled_, data + offset, n);
        lock.unlock();
        bytesFilled_ += n;
        packetsFilled_ = 0;
        remaining -= n;
        offset += n;
        if (fillBufferHoldsHandOverDuration()) {
            enqueueFillBuffer();
        }
    }
}

void Pelorin::copyDescribedPackets(UInt32 packetCount, const UInt8* data, UInt32 byteCount,
                                   const AudioStreamPacketDescription* descs) {
    for (UInt32 i = 0; i < packetCount; ++i) {
        if (finished_.load() || failed_.load()) {
            return;
        }
        const AudioStreamPacketDescription& desc = descs[i];
        const std::size_t size = desc.mDataByteSize;
        if (size > kBufferSize || desc.mStartOffset < 0 ||
            static_cast<UInt64>(desc.mStartOffset) + size > byteCount) {
            // No buffer can hold it, or it lies outside the delivery.
            fail(size > kBufferSize ? "a packet larger than a queue buffer"
                                    : "a packet outside the parser's delivery");
            return;
        }
        if (kBufferSize - bytesFilled_ < size) {
            enqueueFillBuffer();
            if (failed_.load()) {
                return;
            }
        }
        std::unique_lock lock(mutex2_);
        if (finished_.load()) {
            return;
        }
        AudioQueueBufferRef buffer = fillBufferOrFail();
        if (buffer == nullptr) {
            return;
        }
        std::memcpy(static_cast<UInt8*>(buffer->mAudioData) + bytesFilled_,
                    data + desc.mStartOffset, size);
        lock.unlock();
        AudioStreamPacketDescription& stored = packetDescs_[packetsFilled_];
        stored = desc;
        stored.mStartOffset = static_cast<SInt64>(bytesFilled_);
        bytesFilled_ += size;
        ++packetsFilled_;
        framesFilled_ +=
            desc.mVariableFramesInPacket != 0 ? desc.mVariableFramesInPacket : framesPerPacket_;
        if (packetsFilled_ == kPacketDescCapacity || fillBufferHoldsHandOverDuration()) {
            enqueueFillBuffer();
        }
    }
}

UInt64 Pelorin::framesInFillBuffer() const {
    if (bytesPerPacket_ > 0) {
        return bytesFilled_ / bytesPerPacket_ * framesPerPacket_;
    }
    return framesFilled_;
}

bool Pelorin::fillBufferHoldsHandOverDuration() const {
    return sampleRate_ > 0 &&
           static_cast<double>(framesInFillBuffer()) >= kHandOverSeconds * sampleRate_;
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
        failWithStatus("AudioQueueStart", status, platform_->AudioQueueErrorText(queue));
        return false;
    }
    started_.store(true);
    return true;
}

void Pelorin::enqueueFillBuffer() {
    AudioQueueBufferRef buffer = fillBufferOrFail();
    if (buffer == nullptr) {
        return;
    }
    inuse_[fillBufferIndex_].store(true);
    buffer->mAudioDataByteSize = static_cast<UInt32>(bytesFilled_);
    AudioQueueRef queue = audioQueue_.load();
    if (OSStatus status =
            platform_->AudioQueueEnqueueBuffer(queue, buffer, static_cast<UInt32>(packetsFilled_),
                                               packetsFilled_ > 0 ? packetDescs_.data() : nullptr);
        status != noErr) {
        logStatusError("AudioQueueEnqueueBuffer", status);
        failWithStatus("AudioQueueEnqueueBuffer", status, platform_->AudioQueueErrorText(queue));
        return;
    }
    ++buffersHandedOver_;
    framesHandedOver_ += framesInFillBuffer();
    const UInt32 next = (fillBufferIndex_ + 1) % kBufferCount;
    // The queue starts with the lead in hand; when the ring is full before
    // that, now, since no buffer comes back from a queue that does not run;
    // with no duration known, with the first buffer.
    if (!started_.load() &&
        (inuse_[next].load() || sampleRate_ <= 0 ||
         static_cast<double>(framesHandedOver_) >= kStartLeadSeconds * sampleRate_)) {
        if (!startQueue() && failed_.load()) {
            return;  // a failed start: nothing advances
        }
    }
    fillBufferIndex_ = next;
    bytesFilled_ = 0;
    packetsFilled_ = 0;
    framesFilled_ = 0;

    std::unique_lock lock(mutex_);
    while (inuse_[fillBufferIndex_].load()) {
        if (finished_.load()) {
            break;
        }
        cond_.wait(lock);
    }
}

void Pelorin::handleBufferComplete(void* userData, AudioQueueRef /*queue*/,
                                   AudioQueueBufferRef buffer) {
    auto* self = static_cast<Pelorin*>(userData);
    std::lock_guard lock(self->mutex_);
    for (std::size_t i = 0; i < kBufferCount; ++i) {
        if (self->audioQueueBuffer_[i] == buffer) {
            self->inuse_[i].store(false);
            break;
        }
    }
    self->cond_.notify_one();
}

}  // namespace orvento
