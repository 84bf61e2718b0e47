#include "tests/engine/player/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace orvento::test {

std::filesystem::path fixture(const std::string& name) {
    const char* dir = std::getenv("ORVENTO_SOURCE_DIR");
    return std::filesystem::path(dir != nullptr ? dir : ".") / "tests" / "data" / name;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RecordingObserver::isPlayingChanged(Pelorin& object) {
    std::shared_ptr<Pelorin>* drop = nullptr;
    std::function<void()> action;
    {
        std::lock_guard lock(mutex_);
        notifications_.push_back({false, object.isPlaying(), std::this_thread::get_id()});
        if (!object.isPlaying() && holder_ != nullptr) {
            drop = std::exchange(holder_, nullptr);
        }
        if (object.isPlaying()) {
            action = std::exchange(onFirstTrue_, nullptr);
        }
    }
    if (action) {
        action();
    }
    if (drop != nullptr) {
        object.removeObserver(this);
        drop->reset();
    }
}

void RecordingObserver::playerEnded(Pelorin& object) {
    std::lock_guard lock(mutex_);
    notifications_.push_back({true, object.isPlaying(), std::this_thread::get_id()});
}

void RecordingObserver::observe(Pelorin& player) {
    player.addObserver(this);
}

void RecordingObserver::onFirstTrue(std::function<void()> action) {
    std::lock_guard lock(mutex_);
    onFirstTrue_ = std::move(action);
}

void RecordingObserver::dropOnFalse(std::shared_ptr<Pelorin>* holder) {
    std::lock_guard lock(mutex_);
    holder_ = holder;
}

std::vector<Notification> RecordingObserver::notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

std::vector<bool> RecordingObserver::values() const {
    std::vector<bool> out;
    for (const Notification& n : notifications()) {
        if (!n.ended) {
            out.push_back(n.isPlaying);
        }
    }
    return out;
}

std::vector<std::thread::id> RecordingObserver::threads() const {
    std::vector<std::thread::id> out;
    for (const Notification& n : notifications()) {
        if (!n.ended) {
            out.push_back(n.thread);
        }
    }
    return out;
}

bool RecordingObserver::ended() const {
    const auto all = notifications();
    return std::any_of(all.begin(), all.end(), [](const Notification& n) { return n.ended; });
}

void RecordingAlerts::showAlert(const std::string& title, const std::string& message,
                                const std::string& button) {
    {
        std::lock_guard lock(mutex_);
        alerts_.push_back({title, message, button, std::this_thread::get_id()});
    }
    shown_.notify_all();
}

std::vector<ShownAlert> RecordingAlerts::alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}

bool RecordingAlerts::waitForAlert(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return shown_.wait_for(lock, timeout, [&] { return !alerts_.empty(); });
}

}  // namespace orvento::test
