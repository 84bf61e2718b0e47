// A reconnection's player waits behind it until the player before it has
// played out what it held: the next attempt connects at the drop, while the
// last audio of the old connection still plays, and the two never sound at
// once.
//
// Threads: any thread opens it or wakes its waiters; a player's worker waits.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace orvento {

class PlayOutGate {
  public:
    // The player before has played out (or is gone): waiters go on.
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    bool isOpen() const {
        std::lock_guard lock(mutex_);
        return open_;
    }
    // Waits until the gate opens or `givenUp` holds; `givenUp` is looked at
    // again after each wake().
    void waitOpen(const std::function<bool()>& givenUp) {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return open_ || givenUp(); });
    }
    // A waiter looks at its `givenUp` again (a stop of the waiting player).
    void wake() {
        { std::lock_guard lock(mutex_); }
        opened_.notify_all();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

}  // namespace orvento
