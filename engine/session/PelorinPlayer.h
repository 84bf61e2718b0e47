// PelorinPlayer: the stream player (Pelorin) as a session's attempt. Its
// isPlaying reports become plays() and ended(), and its hasEnded report
// ended() too, so that a player that ends without ever playing (no URL, a
// stream that could not be opened) is heard to end.
#pragma once

#include <atomic>
#include <memory>

#include "engine/player/Pelorin.h"
#include "engine/session/SessionPlayer.h"

namespace orvento {

class PelorinPlayer : public SessionPlayer, private PelorinObserver {
  public:
    explicit PelorinPlayer(std::shared_ptr<Pelorin> player) : player_(std::move(player)) {}
    ~PelorinPlayer() override;
    PelorinPlayer(const PelorinPlayer&) = delete;
    PelorinPlayer& operator=(const PelorinPlayer&) = delete;

    void playAfter(std::shared_ptr<PlayOutGate> gate) override {
        player_->playAfter(std::move(gate));
    }
    void start(Listener& listener) override;
    void stop() override { player_->stop(); }
    void detach() override;

    std::string failureReason() const override { return player_->failureReason(); }
    bool endedComplete() const override { return player_->endedComplete(); }
    std::chrono::duration<double> outputStarved() override {
        return std::chrono::duration<double>(player_->outputStarvedSeconds());
    }
    std::uint64_t bytesReceived() const override { return player_->bytesReceived(); }
    std::optional<std::chrono::duration<double>> behindLive() const override;

    Pelorin& pelorin() const { return *player_; }

  private:
    void isPlayingChanged(Pelorin& object) override;
    void playerEnded(Pelorin& object) override;
    void playingOut(Pelorin& object) override;

    const std::shared_ptr<Pelorin> player_;
    Listener* listener_ = nullptr;        // set before the player starts, never changed
    std::atomic<bool> observing_{false};  // detach() may run on a reporting thread
};

}  // namespace orvento
