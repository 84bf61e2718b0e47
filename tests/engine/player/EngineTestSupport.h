// Shared pieces of the engine's tests: observers and alerts that record what
// they are told and can be waited for, fixture paths.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/player/AlertService.h"
#include "engine/player/Pelorin.h"

namespace orvento::test {

using namespace std::chrono_literals;

std::filesystem::path fixture(const std::string& name);
std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

struct Notification {
    bool ended;  // the player's end, else its play state
    bool isPlaying;
    std::thread::id thread;
};

// Records every notification. When `holder` is set, the observer behaves like
// the player screen: on the first false isPlaying it removes itself and drops
// the reference in `holder`.
class RecordingObserver : public PelorinObserver {
  public:
    void isPlayingChanged(Pelorin& object) override;
    void playerEnded(Pelorin& object) override;

    // Registers with the player.
    void observe(Pelorin& player);
    // Behaves like the screen: drops *holder on the first false.
    void dropOnFalse(std::shared_ptr<Pelorin>* holder);
    // Runs `action` inside the first true isPlaying notification, on its thread.
    void onFirstTrue(std::function<void()> action);

    std::vector<Notification> notifications() const;
    // The isPlaying values seen, in order, and the threads they came on.
    std::vector<bool> values() const;
    std::vector<std::thread::id> threads() const;
    bool ended() const;

  private:
    mutable std::mutex mutex_;
    std::vector<Notification> notifications_;
    std::shared_ptr<Pelorin>* holder_ = nullptr;
    std::function<void()> onFirstTrue_;
};

struct ShownAlert {
    std::string title;
    std::string message;
    std::string button;
    std::thread::id thread;
};

class RecordingAlerts : public AlertService {
  public:
    void showAlert(const std::string& title, const std::string& message,
                   const std::string& button) override;
    std::vector<ShownAlert> alerts() const;
    bool waitForAlert(std::chrono::milliseconds timeout = 20s);

  private:
    mutable std::mutex mutex_;
    std::condition_variable shown_;
    std::vector<ShownAlert> alerts_;
};

}  // namespace orvento::test
