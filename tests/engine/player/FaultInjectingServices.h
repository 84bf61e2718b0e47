// The real platform services, with a way to fake any single operation's
// result, to hold or act at chosen operations, and a record of what the
// engine called (which operation, on which thread, when, with what result)
// and of the lines it logged. Everything not told otherwise runs for real.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/player/HookedServices.h"

namespace orvento::test {

using Op = ServiceOp;

struct CallRecord {
    Op op;
    std::thread::id thread;
    StatusCode result;                         // as after() heard it
    std::uint32_t detail;                      // ServiceCall::detail
    std::chrono::steady_clock::time_point at;  // when the call returned
    std::uint32_t bytes = 0;                   // the audio bytes of an enqueue
};

class FaultInjectingServices : public HookedServices {
  public:
    // Plays into the null output, as fast as the audio comes unless
    // `realTime`.
    explicit FaultInjectingServices(bool realTime = false);
    ~FaultInjectingServices() override;

    static AudioOutputChoice nullOutput(bool realTime);

    // Calls number `nth` (1-based) to `nth + count - 1` of `op` give `result`
    // without reaching the service (see HookedServices::before). When
    // `detail` is not 0, only calls with that detail (a property id, say)
    // are counted.
    void fake(Op op, StatusCode result, int nth = 1, int count = 1, std::uint32_t detail = 0);
    // Runs `action` on the calling thread when `op` is next called, before
    // the call goes on; or when it returns, before the engine sees the result.
    void onCall(Op op, std::function<void()> action);
    void onReturn(Op op, std::function<void()> action);
    // The `nth` bytes-available event (1-based) reaches the engine as an
    // error event; `action` runs on the worker inside the `nth` such event,
    // before the engine sees it.
    void replaceBytesEventWithError(int nth);
    // The `nth` bytes-available event is followed, in the same dispatch, by
    // an error event.
    void errorAfterBytesEvent(int nth);
    void onBytesEvent(int nth, std::function<void()> action);
    // While held, the queue's running-state reports wait (on the queue's
    // thread) before they reach the engine.
    void holdRunningReports(bool hold);

    // Running-state reports the engine has finished handling.
    int runningReportsHandled() const;
    // Calls so far of `op` (with `detail`, when given).
    int count(Op op) const;
    int count(Op op, std::uint32_t detail) const;
    std::vector<CallRecord> calls() const;
    std::vector<CallRecord> callsOf(Op op) const;
    // The engine's log so far: its error lines and the queue's lines.
    std::vector<std::string> logLines() const;
    // Buffers the engine has handed over and the queue has not given back.
    int buffersHeldByQueue() const;
    // Blocks until `done` holds, checked after every call, or `timeout` passes.
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));

  protected:
    std::optional<StatusCode> before(const ServiceCall& call) override;
    void after(const ServiceCall& call, StatusCode result) override;
    void interpose(OutputQueue::Listener*& listener) override;
    void interpose(HttpStream::Listener*& listener) override;

  private:
    struct Fault {
        StatusCode result;
        int first;
        int last;
        std::uint32_t detail;
        int seen = 0;
    };
    // Stands between a queue and the engine's listener: counts the buffers
    // given back, holds and counts the running reports.
    class QueueListener : public OutputQueue::Listener {
      public:
        QueueListener(FaultInjectingServices& platform, OutputQueue::Listener& engine)
            : platform_(platform), engine_(engine) {}
        void bufferComplete(OutputQueue::Buffer& buffer) override;
        void runningChanged(bool running) override;

      private:
        FaultInjectingServices& platform_;
        OutputQueue::Listener& engine_;
    };
    // Stands between a stream and the engine's listener: turns the chosen
    // bytes-available events into errors and acts at them.
    class StreamListener final : public HttpStream::Listener {
      public:
        StreamListener(FaultInjectingServices& platform, HttpStream::Listener* engine)
            : platform_(platform), engine_(engine) {}
        void onStreamEvent(HttpStream& stream, HttpStream::Event event) override;

      private:
        FaultInjectingServices& platform_;
        HttpStream::Listener* const engine_;
    };
    std::function<void()> takeHook(std::map<Op, std::function<void()>>& hooks, Op op);

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a call was recorded, or a hold was lifted
    std::map<Op, std::vector<Fault>> faults_;
    std::map<Op, std::function<void()>> callHooks_;
    std::map<Op, std::function<void()>> returnHooks_;
    std::vector<CallRecord> calls_;
    std::vector<std::string> logLines_;
    int bytesEventsSeen_ = 0;
    int bytesEventToError_ = 0;
    int errorAfterBytesEvent_ = 0;
    int bytesEventHookAt_ = 0;
    std::function<void()> bytesEventHook_;
    bool holdRunning_ = false;
    int runningReportsHandled_ = 0;
    int buffersHeld_ = 0;
    std::list<QueueListener> queueListeners_;    // never shrinks: queues may call them to the end
    std::list<StreamListener> streamListeners_;  // never shrinks: streams may call them to the end
};

}  // namespace orvento::test
