#include "engine/HookedQueue.h"

#include "engine/EnginePlatform.h"

namespace orvento {

HookedQueue::HookedQueue(EnginePlatform& platform, std::unique_ptr<OutputQueue> queue)
    : platform_(platform), queue_(std::move(queue)) {}

template <typename Operation>
QueueError HookedQueue::hooked(PlatformCall& call, Operation&& operation) {
    call.queue = queue_.get();
    const std::optional<OSStatus> faked = platform_.before(call);
    const QueueError result = faked ? static_cast<QueueError>(*faked) : operation();
    platform_.after(call, static_cast<OSStatus>(result));
    return result;
}

OutputQueue::Allocation HookedQueue::allocateBuffer(std::size_t capacity) {
    PlatformCall call{PlatformOp::AudioQueueAllocateBuffer, static_cast<std::uint32_t>(capacity)};
    Buffer* buffer = nullptr;
    const QueueError error = hooked(call, [&] {
        const Allocation allocation = queue_->allocateBuffer(capacity);
        buffer = allocation.buffer;
        call.buffer = buffer;
        return allocation.error;
    });
    return {error == QueueError::None ? buffer : nullptr, error};
}

QueueError HookedQueue::setMagicCookie(std::span<const std::uint8_t> cookie) {
    PlatformCall call{PlatformOp::AudioQueueSetProperty, static_cast<std::uint32_t>(cookie.size())};
    return hooked(call, [&] { return queue_->setMagicCookie(cookie); });
}

QueueError HookedQueue::enqueue(Buffer& buffer,
                                std::span<const AudioStreamPacketDescription> descriptions) {
    PlatformCall call{PlatformOp::AudioQueueEnqueueBuffer,
                      static_cast<std::uint32_t>(descriptions.size())};
    call.buffer = &buffer;
    call.descriptions = descriptions.empty() ? nullptr : descriptions.data();
    return hooked(call, [&] { return queue_->enqueue(buffer, descriptions); });
}

QueueError HookedQueue::start() {
    PlatformCall call{PlatformOp::AudioQueueStart};
    return hooked(call, [&] { return queue_->start(); });
}

QueueError HookedQueue::flush() {
    PlatformCall call{PlatformOp::AudioQueueFlush};
    return hooked(call, [&] { return queue_->flush(); });
}

QueueError HookedQueue::stop(bool immediate) {
    PlatformCall call{PlatformOp::AudioQueueStop, immediate ? 1U : 0U};
    return hooked(call, [&] { return queue_->stop(immediate); });
}

QueueError HookedQueue::dispose(bool immediate) {
    PlatformCall call{PlatformOp::AudioQueueDispose, immediate ? 1U : 0U};
    return hooked(call, [&] { return queue_->dispose(immediate); });
}

}  // namespace orvento
