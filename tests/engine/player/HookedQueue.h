// An output queue behind HookedServices's hooks: each operation passes
// HookedServices::before() and after() with a ServiceCall that names it by
// the operation it stood for (ServiceOp::AudioQueueStart for start(), ...),
// so a test can fake its result, count it or act at it. A faked result is a
// status, handed back as the QueueError of the same value; the queue itself
// is then not called. The getters are not hooked.
//
// Made only by HookedServices::makeOutputQueue, which hooks the creation
// itself (ServiceOp::AudioQueueNewOutput). The services must outlive it.
#pragma once

#include <memory>
#include <utility>

#include "engine/audio/OutputQueue.h"

namespace orvento {

class HookedServices;
struct ServiceCall;

class HookedQueue final : public OutputQueue {
  public:
    HookedQueue(HookedServices& platform, std::unique_ptr<OutputQueue> queue);

    Allocation allocateBuffer(std::size_t capacity) override;
    QueueError setMagicCookie(std::span<const std::uint8_t> cookie) override;
    QueueError enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) override;
    QueueError start() override;
    QueueError flush() override;
    QueueError stop(bool immediate) override;
    QueueError dispose(bool immediate) override;
    void setStage(std::shared_ptr<PcmStage> stage) override { queue_->setStage(std::move(stage)); }
    bool isRunning() const override { return queue_->isRunning(); }
    PlayPosition currentTime() const override { return queue_->currentTime(); }
    double starvedSeconds() const override { return queue_->starvedSeconds(); }
    std::uint64_t underrunCount() const override { return queue_->underrunCount(); }
    std::string errorText() const override { return queue_->errorText(); }

  private:
    template <typename Operation>
    QueueError hooked(ServiceCall& call, Operation&& operation);

    HookedServices& platform_;
    const std::unique_ptr<OutputQueue> queue_;
};

}  // namespace orvento
