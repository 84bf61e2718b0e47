// Packet buffering: parsed packets are copied straight into the queue buffer
// being filled; full buffers go to the queue, and the worker waits while the
// next buffer of the ring is still queued.
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
        // No queue, or it lacks this buffer: the set-up failed (or the parser
        // delivered packets before announcing the format).
        failed_.store(true);
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
            failed_.store(true);
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
        if (packetsFilled_ == kPacketDescCapacity) {
            enqueueFillBuffer();
        }
    }
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
        failed_.store(true);
        return;
    }
    if (!started_.load()) {
        if (OSStatus status = platform_->AudioQueueStart(queue, nullptr); status != noErr) {
            logStatusError("AudioQueueStart", status);
            failed_.store(true);
            return;
        }
        started_.store(true);
    }
    fillBufferIndex_ = (fillBufferIndex_ + 1) % kBufferCount;
    bytesFilled_ = 0;
    packetsFilled_ = 0;

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
