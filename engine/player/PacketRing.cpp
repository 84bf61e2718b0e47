#include "engine/player/PacketRing.h"

#include <algorithm>
#include <cstring>

namespace orvento {
namespace {

// Holds a copy permit of the owner for one copy.
class CopyPermit {
  public:
    explicit CopyPermit(PacketRing::Owner& owner) : owner_(owner), granted_(owner.beginCopy()) {}
    ~CopyPermit() {
        if (granted_) {
            owner_.endCopy();
        }
    }
    CopyPermit(const CopyPermit&) = delete;
    CopyPermit& operator=(const CopyPermit&) = delete;
    explicit operator bool() const { return granted_; }

  private:
    PacketRing::Owner& owner_;
    const bool granted_;
};

}  // namespace

void PacketRing::setFormat(const AudioFormat& format) {
    sampleRate_ = format.sampleRate;
    bytesPerPacket_ =
        format.bytesPerPacket > 0 && format.framesPerPacket > 0 ? format.bytesPerPacket : 0;
    framesPerPacket_ = format.framesPerPacket;
}

void PacketRing::deliver(std::span<const std::byte> bytes,
                         std::span<const PacketDescription> descriptions) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto byteCount = static_cast<std::uint32_t>(bytes.size());
    if (descriptions.empty()) {
        copyPlainBytes(byteCount, data);
    } else {
        copyDescribedPackets(static_cast<std::uint32_t>(descriptions.size()), data, byteCount,
                             descriptions.data());
    }
}

OutputQueue::Buffer* PacketRing::fillBufferOrFail() {
    OutputQueue::Buffer* buffer = buffers_[fill_];
    if (buffer == nullptr || buffer->capacity() < kBufferSize) {
        // No queue, or it lacks this buffer: the set-up failed (and said so
        // first), or the parser delivered packets before announcing the format.
        owner_.fail("audio came before the stream's format was known");
        return nullptr;
    }
    return buffer;
}

bool PacketRing::copyIntoFillBuffer(const std::uint8_t* from, std::size_t size) {
    const CopyPermit permit(owner_);
    if (!permit) {
        return false;
    }
    OutputQueue::Buffer* buffer = fillBufferOrFail();
    if (buffer == nullptr) {
        return false;
    }
    std::memcpy(buffer->bytes().data() + bytesFilled_, from, size);
    return true;
}

void PacketRing::copyPlainBytes(std::uint32_t byteCount, const std::uint8_t* data) {
    std::size_t remaining = byteCount;
    std::size_t offset = 0;
    while (remaining > 0) {
        // Once a failure is known the rest of the delivery is dropped: the
        // ring may be unusable and the owner stops next.
        if (owner_.failed()) {
            return;
        }
        if (bytesFilled_ > 0 && kBufferSize - bytesFilled_ < remaining) {
            enqueueFillBuffer();
            if (owner_.failed()) {
                return;
            }
        }
        const std::size_t n = std::min<std::size_t>(kBufferSize - bytesFilled_, remaining);
        if (!copyIntoFillBuffer(data + offset, n)) {
            return;
        }
        bytesFilled_ += n;
        packetsFilled_ = 0;
        remaining -= n;
        offset += n;
        if (holdsHandOverDuration()) {
            enqueueFillBuffer();
        }
    }
}

void PacketRing::copyDescribedPackets(std::uint32_t packetCount, const std::uint8_t* data,
                                      std::uint32_t byteCount,
                                      const PacketDescription* descriptions) {
    for (std::uint32_t i = 0; i < packetCount; ++i) {
        if (owner_.finished() || owner_.failed()) {
            return;
        }
        const PacketDescription& desc = descriptions[i];
        const std::size_t size = desc.byteSize;
        if (size > kBufferSize || desc.startOffset < 0 ||
            static_cast<std::uint64_t>(desc.startOffset) + size > byteCount) {
            owner_.fail(size > kBufferSize ? "a packet larger than a queue buffer"
                                           : "a packet outside the parser's delivery");
            return;
        }
        if (kBufferSize - bytesFilled_ < size) {
            enqueueFillBuffer();
            if (owner_.failed()) {
                return;
            }
        }
        if (!copyIntoFillBuffer(data + desc.startOffset, size)) {
            return;
        }
        PacketDescription& stored = descriptions_[packetsFilled_];
        stored = desc;
        stored.startOffset = static_cast<std::int64_t>(bytesFilled_);
        bytesFilled_ += size;
        ++packetsFilled_;
        framesFilled_ += desc.framesInPacket != 0 ? desc.framesInPacket : framesPerPacket_;
        if (packetsFilled_ == kPacketDescCapacity || holdsHandOverDuration()) {
            enqueueFillBuffer();
        }
    }
}

std::uint64_t PacketRing::framesInFillBuffer() const {
    if (bytesPerPacket_ > 0) {
        return bytesFilled_ / bytesPerPacket_ * framesPerPacket_;
    }
    return framesFilled_;
}

double PacketRing::secondsWaiting(std::size_t bytesUpstream) const {
    const auto frames = static_cast<double>(framesHandedOver_ + framesInFillBuffer());
    const auto bytes = static_cast<double>(bytesTaken());
    if (sampleRate_ <= 0 || frames <= 0 || bytes <= 0) {
        return 0;
    }
    return (static_cast<double>(framesInFillBuffer()) +
            static_cast<double>(bytesUpstream) * frames / bytes) /
           sampleRate_;
}

bool PacketRing::holdsHandOverDuration() const {
    return sampleRate_ > 0 &&
           static_cast<double>(framesInFillBuffer()) >= kHandOverSeconds * sampleRate_;
}

bool PacketRing::startQueue() {
    if (!started_) {
        started_ = owner_.startQueue();
    }
    return started_;
}

void PacketRing::enqueueFillBuffer() {
    OutputQueue::Buffer* buffer = fillBufferOrFail();
    if (buffer == nullptr) {
        return;
    }
    inUse_[fill_].store(true);
    buffer->setByteSize(bytesFilled_);
    if (owner_.enqueueBuffer(*buffer, std::span(descriptions_.data(), packetsFilled_)) !=
        QueueError::None) {
        return;
    }
    ++buffersHandedOver_;
    framesHandedOver_ += framesInFillBuffer();
    bytesHandedOver_ += bytesFilled_;
    const std::size_t next = (fill_ + 1) % kBufferCount;
    // The queue starts with the lead in hand; when the ring is full before
    // that, now, since no buffer comes back from a queue that does not run;
    // with no duration known, with the first buffer.
    if (!started_ && (inUse_[next].load() || sampleRate_ <= 0 ||
                      static_cast<double>(framesHandedOver_) >= kStartLeadSeconds * sampleRate_)) {
        if (!startQueue() && owner_.failed()) {
            return;  // a failed start: nothing advances
        }
    }
    fill_ = next;
    bytesFilled_ = 0;
    packetsFilled_ = 0;
    framesFilled_ = 0;
    owner_.handedOver();

    std::unique_lock lock(mutex_);
    while (inUse_[fill_].load()) {
        if (owner_.finished()) {
            break;
        }
        cond_.wait(lock);
    }
}

void PacketRing::bufferCompleted(const OutputQueue::Buffer& buffer) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < kBufferCount; ++i) {
        if (buffers_[i] == &buffer) {
            inUse_[i].store(false);
            break;
        }
    }
    cond_.notify_one();
}

void PacketRing::wake() {
    std::lock_guard lock(mutex_);
    cond_.notify_one();
}

}  // namespace orvento
