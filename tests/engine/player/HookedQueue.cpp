#include "tests/engine/player/HookedQueue.h"

#include <utility>

#include "tests/engine/player/HookedServices.h"

namespace orvento {

HookedQueue::HookedQueue(HookedServices& platform, std::unique_ptr<OutputQueue> queue)
    : platform_(platform), queue_(std::move(queue)) {}

template <typename Operation>
QueueError HookedQueue::hooked(ServiceCall& call, Operation&& operation) {
    call.queue = queue_.get();
    return platform_.hooked<QueueError>(call, std::forward<Operation>(operation));
}

OutputQueue::Allocation HookedQueue::allocateBuffer(std::size_t capacity) {
    ServiceCall call{ServiceOp::AudioQueueAllocateBuffer, static_cast<std::uint32_t>(capacity)};
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
    ServiceCall call{ServiceOp::AudioQueueSetProperty, static_cast<std::uint32_t>(cookie.size())};
    return hooked(call, [&] { return queue_->setMagicCookie(cookie); });
}

QueueError HookedQueue::enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) {
    ServiceCall call{ServiceOp::AudioQueueEnqueueBuffer,
                     static_cast<std::uint32_t>(descriptions.size())};
    call.buffer = &buffer;
    call.descriptions = descriptions.empty() ? nullptr : descriptions.data();
    return hooked(call, [&] { return queue_->enqueue(buffer, descriptions); });
}

QueueError HookedQueue::start() {
    ServiceCall call{ServiceOp::AudioQueueStart};
    return hooked(call, [&] { return queue_->start(); });
}

QueueError HookedQueue::flush() {
    ServiceCall call{ServiceOp::AudioQueueFlush};
    return hooked(call, [&] { return queue_->flush(); });
}

QueueError HookedQueue::stop(bool immediate) {
    ServiceCall call{ServiceOp::AudioQueueStop, immediate ? 1U : 0U};
    return hooked(call, [&] { return queue_->stop(immediate); });
}

QueueError HookedQueue::dispose(bool immediate) {
    ServiceCall call{ServiceOp::AudioQueueDispose, immediate ? 1U : 0U};
    return hooked(call, [&] { return queue_->dispose(immediate); });
}

}  // namespace orvento
