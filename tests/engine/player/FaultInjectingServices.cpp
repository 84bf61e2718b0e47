#include "tests/engine/player/FaultInjectingServices.h"

#include <algorithm>

namespace orvento::test {

FaultInjectingServices::FaultInjectingServices(bool realTime)
    : HookedServices(nullOutput(realTime), [this](std::string_view line) {
          std::lock_guard lock(mutex_);
          logLines_.emplace_back(line);
      }) {}

FaultInjectingServices::~FaultInjectingServices() = default;

AudioOutputChoice FaultInjectingServices::nullOutput(bool realTime) {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::Null;
    choice.realTime = realTime;
    return choice;
}

void FaultInjectingServices::fake(Op op, StatusCode result, int nth, int count,
                                  std::uint32_t detail) {
    std::lock_guard lock(mutex_);
    faults_[op].push_back(Fault{result, nth, nth + count - 1, detail});
}

void FaultInjectingServices::onCall(Op op, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    callHooks_[op] = std::move(action);
}

void FaultInjectingServices::onReturn(Op op, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    returnHooks_[op] = std::move(action);
}

void FaultInjectingServices::replaceBytesEventWithError(int nth) {
    std::lock_guard lock(mutex_);
    bytesEventToError_ = nth;
}

void FaultInjectingServices::errorAfterBytesEvent(int nth) {
    std::lock_guard lock(mutex_);
    errorAfterBytesEvent_ = nth;
}

void FaultInjectingServices::onBytesEvent(int nth, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    bytesEventHookAt_ = nth;
    bytesEventHook_ = std::move(action);
}

void FaultInjectingServices::holdRunningReports(bool hold) {
    {
        std::lock_guard lock(mutex_);
        holdRunning_ = hold;
    }
    changed_.notify_all();
}

int FaultInjectingServices::runningReportsHandled() const {
    std::lock_guard lock(mutex_);
    return runningReportsHandled_;
}

int FaultInjectingServices::count(Op op) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [op](const CallRecord& c) { return c.op == op; }));
}

int FaultInjectingServices::count(Op op, std::uint32_t detail) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const CallRecord& c) {
        return c.op == op && c.detail == detail;
    }));
}

std::vector<CallRecord> FaultInjectingServices::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FaultInjectingServices::logLines() const {
    std::lock_guard lock(mutex_);
    return logLines_;
}

std::vector<CallRecord> FaultInjectingServices::callsOf(Op op) const {
    std::lock_guard lock(mutex_);
    std::vector<CallRecord> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [op](const CallRecord& c) { return c.op == op; });
    return out;
}

int FaultInjectingServices::buffersHeldByQueue() const {
    std::lock_guard lock(mutex_);
    return buffersHeld_;
}

bool FaultInjectingServices::waitFor(const std::function<bool()>& done,
                                     std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    // `done` may ask this platform: it is called without the lock.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        lock.unlock();
        if (done()) {
            return true;
        }
        lock.lock();
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return done();
        }
    }
}

std::function<void()> FaultInjectingServices::takeHook(std::map<Op, std::function<void()>>& hooks,
                                                       Op op) {
    std::lock_guard lock(mutex_);
    auto it = hooks.find(op);
    if (it == hooks.end()) {
        return {};
    }
    std::function<void()> hook = std::move(it->second);
    hooks.erase(it);
    return hook;
}

std::optional<StatusCode> FaultInjectingServices::before(const ServiceCall& call) {
    if (const std::function<void()> hook = takeHook(callHooks_, call.op)) {
        hook();
    }
    std::lock_guard lock(mutex_);
    if (call.op == Op::AudioQueueEnqueueBuffer) {
        ++buffersHeld_;  // before the call: the queue may give the buffer back at once
    }
    auto it = faults_.find(call.op);
    if (it == faults_.end()) {
        return std::nullopt;
    }
    for (Fault& f : it->second) {
        if (f.detail != 0 && f.detail != call.detail) {
            continue;
        }
        ++f.seen;
        if (f.seen >= f.first && f.seen <= f.last) {
            return f.result;
        }
    }
    return std::nullopt;
}

void FaultInjectingServices::after(const ServiceCall& call, StatusCode result) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(CallRecord{call.op, std::this_thread::get_id(), result, call.detail,
                                    std::chrono::steady_clock::now(),
                                    call.op == Op::AudioQueueEnqueueBuffer
                                        ? static_cast<std::uint32_t>(call.buffer->byteSize())
                                        : 0});
        if (call.op == Op::AudioQueueEnqueueBuffer && result != kSuccess) {
            --buffersHeld_;
        }
    }
    changed_.notify_all();
    if (const std::function<void()> hook = takeHook(returnHooks_, call.op)) {
        hook();
    }
}

void FaultInjectingServices::interpose(OutputQueue::Listener*& listener) {
    std::lock_guard lock(mutex_);
    listener = &queueListeners_.emplace_back(*this, *listener);
}

void FaultInjectingServices::interpose(HttpStream::Listener*& listener) {
    std::lock_guard lock(mutex_);
    listener = &streamListeners_.emplace_back(*this, listener);
}

void FaultInjectingServices::QueueListener::bufferComplete(OutputQueue::Buffer& buffer) {
    {
        std::lock_guard lock(platform_.mutex_);
        --platform_.buffersHeld_;
    }
    engine_.bufferComplete(buffer);
}

void FaultInjectingServices::QueueListener::runningChanged(bool running) {
    FaultInjectingServices& self = platform_;
    {
        std::unique_lock lock(self.mutex_);
        self.changed_.wait(lock, [&] { return !self.holdRunning_; });
    }
    engine_.runningChanged(running);
    {
        std::lock_guard lock(self.mutex_);
        ++self.runningReportsHandled_;
    }
    self.changed_.notify_all();
}

void FaultInjectingServices::StreamListener::onStreamEvent(HttpStream& stream,
                                                           HttpStream::Event event) {
    FaultInjectingServices& self = platform_;
    std::function<void()> action;
    bool errorAfter = false;
    if (event == HttpStream::Event::bytesAvailable) {
        std::lock_guard lock(self.mutex_);
        ++self.bytesEventsSeen_;
        if (self.bytesEventsSeen_ == self.bytesEventToError_) {
            event = HttpStream::Event::error;
        }
        errorAfter = self.bytesEventsSeen_ == self.errorAfterBytesEvent_;
        if (self.bytesEventsSeen_ == self.bytesEventHookAt_) {
            action = std::move(self.bytesEventHook_);
        }
    }
    if (action) {
        action();
    }
    engine_->onStreamEvent(stream, event);
    if (errorAfter) {
        engine_->onStreamEvent(stream, HttpStream::Event::error);
    }
}

}  // namespace orvento::test
