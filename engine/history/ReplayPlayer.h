// ReplayPlayer: plays a stretch of a station's history again, decoded from
// memory through an output audio queue of its own, so that it starts as soon
// as the output opens (no network, no parser).
//
// Use: play() an excerpt; a later play() ends the one before at once and
// starts the new one; stop() ends it at once. `onEnded` is told once per
// play() that started, when that replay has played to its end or was ended,
// on the queue's thread (or on the caller's, for the replay a new play() or
// the destructor ends): it must not call the player back.
//
// Threads: play(), stop() and the destructor on the owner's thread;
// playing() from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/audio/OutputQueue.h"
#include "engine/history/StationHistory.h"

namespace orvento {

class ReplayPlayer : private OutputQueue::Listener {
  public:
    ReplayPlayer(AudioOutputChoice output, std::function<void()> onEnded);
    ~ReplayPlayer() override;
    ReplayPlayer(const ReplayPlayer&) = delete;
    ReplayPlayer& operator=(const ReplayPlayer&) = delete;

    // False, with the queue's words in `error`, when it cannot be played; an
    // empty excerpt plays nothing and returns false with an empty error.
    bool play(const StationHistory::Excerpt& excerpt, std::string& error);
    void stop();
    bool playing() const { return playing_.load(); }

  private:
    void bufferComplete(OutputQueue::Buffer& buffer) override;
    void runningChanged(bool running) override;
    bool enqueue(const StationHistory::Excerpt& excerpt, std::string& error);
    // Disposes of the queue, telling onEnded when a replay was still on.
    void close();

    const AudioOutputChoice output_;
    const std::function<void()> onEnded_;
    std::unique_ptr<OutputQueue> queue_;  // the owner's thread
    // Running reports of the current queue (they alternate, starting with
    // "running"), and whether its replay has been reported ended.
    std::atomic<unsigned> reports_{0};
    std::atomic<bool> playing_{false};
};

}  // namespace orvento
