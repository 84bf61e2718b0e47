// Helpers for the output-queue tests: a queue with its callbacks recorded,
// PCM made to order, conditions awaited with a deadline.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio/OutputQueue.h"

namespace orvento {

using namespace std::chrono_literals;

// Everything a queue's callbacks did, in order.
struct QueueEvent {
    enum class Kind { BufferBack, Running, Stopped } kind;
    const OutputQueue::Buffer* buffer = nullptr;
};

class RecordingQueue : private OutputQueue::Listener {
  public:
    // A queue for `format` playing to `output`, this object its listener;
    // check status() before using it.
    RecordingQueue(const AudioFormat& format, const AudioOutputChoice& output);
    ~RecordingQueue() override;
    RecordingQueue(const RecordingQueue&) = delete;
    RecordingQueue& operator=(const RecordingQueue&) = delete;

    QueueError status() const { return status_; }
    OutputQueue& get() const { return *queue_; }

    OutputQueue::Buffer* allocate(std::size_t capacity);
    // Copies `bytes` into `buffer` and enqueues it with `descriptions`.
    QueueError enqueue(OutputQueue::Buffer* buffer, const std::vector<std::byte>& bytes,
                       const std::vector<PacketDescription>& descriptions = {});
    QueueError dispose(bool immediate = true);
    // Destroys the queue (its destructor does the disposal).
    void destroy() { queue_.reset(); }

    // Waits up to `deadline` for `condition`, checked after every callback.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s);
    // Holds the lock while reading: copies of what was recorded.
    std::vector<QueueEvent> events() const;
    std::size_t timesBack(const OutputQueue::Buffer* buffer) const;
    std::size_t countOf(QueueEvent::Kind kind) const;
    bool sawCallbackOffQueueThread() const { return offQueueThread_.load(); }
    std::vector<std::thread::id> callbackThreads() const;
    // The running state the listener read through isRunning(), per call.
    std::vector<std::uint32_t> listenedStates() const;
    std::uint64_t framesPlayed() const;

  private:
    void bufferComplete(OutputQueue::Buffer& buffer) override;
    void runningChanged(bool running) override;
    void record(QueueEvent event);

    QueueError status_ = QueueError::None;
    std::unique_ptr<OutputQueue> queue_;
    // The queue while it exists, also while its destructor runs (queue_ is
    // null by then): for the listener.
    OutputQueue* live_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<QueueEvent> events_;
    std::vector<std::thread::id> threads_;
    std::vector<std::uint32_t> states_;
    std::atomic<bool> offQueueThread_{false};
};

// Formats.
AudioFormat pcm16(double rate, std::uint32_t channels);

// `frames` frames of a sine at `hz`, amplitude 0.5, 16-bit little-endian.
std::vector<std::byte> sine16(std::size_t frames, double rate, std::uint32_t channels,
                              double hz = 440);

// The path of a file under tests/data.
std::string fixture(const std::string& name);
// A path for a scratch file, unique to this test case.
std::string scratchPath(const std::string& name);

// Polls `condition` until it holds or `deadline` passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s);
// Checks that `condition` holds throughout `span` (a negative check: that
// something does not happen needs time to pass).
bool holdsThroughout(const std::function<bool()>& condition, std::chrono::milliseconds span);

AudioOutputChoice nullOutput(bool realTime);
AudioOutputChoice wavOutput(const std::string& path);
AudioOutputChoice deviceOutput(const std::string& name = {});

}  // namespace orvento
