#include "engine/session/PelorinPlayer.h"

namespace orvento {

PelorinPlayer::~PelorinPlayer() {
    detach();
}

void PelorinPlayer::start(Listener& listener) {
    listener_ = &listener;
    // Observed before it starts, so that no report is missed.
    player_->addObserver(this);
    observing_.store(true);
    player_->start();
}

void PelorinPlayer::detach() {
    if (observing_.exchange(false)) {
        player_->removeObserver(this);
    }
}

std::optional<std::chrono::duration<double>> PelorinPlayer::behindLive() const {
    if (const std::optional<double> lag = player_->behindLiveSeconds()) {
        return std::chrono::duration<double>(*lag);
    }
    return std::nullopt;
}

void PelorinPlayer::isPlayingChanged(Pelorin& object) {
    if (object.isPlaying()) {
        listener_->plays(*this);
    } else {
        listener_->ended(*this);
    }
}

void PelorinPlayer::playerEnded(Pelorin& /*object*/) {
    listener_->ended(*this);
}

void PelorinPlayer::playingOut(Pelorin& /*object*/) {
    listener_->playingOut(*this);
}

}  // namespace orvento
