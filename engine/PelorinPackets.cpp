// Packet buffering: the parser's packets go into the ring, whose owner the
// player is: it hands buffers to its queue, starts it, and keeps each copy
// apart from a stop.
#include "engine/Pelorin.h"

namespace orvento {

void Pelorin::handleStreamPackets(void* clientData, std::uint32_t byteCount,
                                  std::uint32_t packetCount, const void* data,
                                  AudioStreamPacketDescription* descs) {
    auto* self = static_cast<Pelorin*>(clientData);
    if (self->tap_ && self->tapFormatTold_) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        self->tap_->packets(std::span(bytes, data != nullptr ? byteCount : 0),
                            std::span<const AudioStreamPacketDescription>(
                                descs, descs != nullptr ? packetCount : 0),
                            self->arrival_);
    }
    self->discontinuous_ = false;
    // A recording (its length declared) is not live: all of it plays.
    if (self->liveEdge_ && !self->declaredLength_ && data != nullptr) {
        // What is too old to play is left out here, after the tap has seen
        // it: whole packets at the start of the delivery.
        if (descs != nullptr) {
            const auto skip = static_cast<std::uint32_t>(self->liveEdge_->packetsToSkip(
                std::span<const AudioStreamPacketDescription>(descs, packetCount), self->arrival_));
            if (skip == packetCount) {
                return;
            }
            descs += skip;
            packetCount -= skip;
        } else {
            const auto skip =
                static_cast<std::uint32_t>(self->liveEdge_->bytesToSkip(byteCount, self->arrival_));
            if (skip == byteCount) {
                return;
            }
            data = static_cast<const std::uint8_t*>(data) + skip;
            byteCount -= skip;
        }
    }
    self->ring_.deliver(byteCount, packetCount, data, descs);
}

std::optional<double> Pelorin::behindLiveSeconds() const {
    if (!liveEdge_) {
        return std::nullopt;
    }
    return liveEdge_->behindLiveSeconds(std::chrono::steady_clock::now());
}

void Pelorin::bufferComplete(OutputQueue::Buffer& buffer) {
    handleBufferComplete(buffer);
}

void Pelorin::handleBufferComplete(OutputQueue::Buffer& buffer) {
    ring_.bufferCompleted(buffer);
}

QueueError Pelorin::enqueueBuffer(OutputQueue::Buffer& buffer,
                                  std::span<const AudioStreamPacketDescription> descs) {
    OutputQueue* queue = audioQueue_.load();
    const QueueError error = queue->enqueue(buffer, descs);
    if (error != QueueError::None) {
        logStatusError("AudioQueueEnqueueBuffer", static_cast<OSStatus>(error));
        failStep("AudioQueueEnqueueBuffer", queue->errorText());
    }
    return error;
}

bool Pelorin::startQueue() {
    std::lock_guard lock(mutex2_);
    if (finished_.load()) {
        // A stop came first: it has told its observers that nothing plays.
        return false;
    }
    OutputQueue* queue = audioQueue_.load();
    if (QueueError error = queue->start(); error != QueueError::None) {
        logStatusError("AudioQueueStart", static_cast<OSStatus>(error));
        // Said in words: the code is in the error line, for diagnosis.
        if (error == QueueError::InvalidDevice) {
            fail(std::string(kNoSoundOutputReason));
        } else {
            const std::string why = queue->errorText();
            fail(std::string(kOutputCannotStartReason) + (why.empty() ? "" : ": " + why));
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
