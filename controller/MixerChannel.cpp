#include "controller/MixerChannel.h"

#include <algorithm>
#include <cmath>

#include "engine/mix/MixLaw.h"

namespace orvento {
namespace {

constexpr double kSilentDb = -120;
// A fade to nothing: from the loudest gain down to the quietest.
constexpr double kFadedOutDb = kMinFeedGainDb - kMaxFeedGainDb;

}  // namespace

AudioOutputChoice ownFeedOutput(Mixer& mixer) {
    const std::shared_ptr<MixerFeed> feed = mixer.addFeed();
    return feed ? feed->outputChoice() : AudioOutputChoice{};
}

MixerChannel::MixerChannel(Mixer& mixer, ChannelControls controls, LogSink log,
                           std::shared_ptr<std::atomic<bool>> liveMute)
    : mixer_(mixer), log_(std::move(log)), liveMute_(std::move(liveMute)), controls_(controls) {}

MixerChannel::~MixerChannel() {
    giveUp();
}

std::shared_ptr<EngineServices> MixerChannel::nextPlatform() {
    std::shared_ptr<MixerFeed> feed = mixer_.addFeed();
    if (feed == nullptr) {
        return nullptr;
    }
    apply(*feed);
    giveUp();
    feed_ = std::move(feed);
    AudioOutputChoice output = feed_->outputChoice();
    output.muted = liveMute_;
    return std::make_shared<EngineServices>(std::move(output), log_);
}

void MixerChannel::giveUp() {
    if (feed_ != nullptr) {
        feed_->setSolo(false);
        feed_->setPriority(false);
        feed_.reset();
    }
}

double MixerChannel::feedGainDb() const {
    return controls_.gainDb + fadeDb_;
}

void MixerChannel::apply(MixerFeed& feed) const {
    feed.setGainDb(feedGainDb());
    feed.setPan(controls_.pan);
    feed.setMute(controls_.muted);
    feed.setSolo(controls_.soloed);
    feed.setPriority(controls_.priority);
    feed.setJudged(judged_);
}

void MixerChannel::setJudged(bool judged) {
    judged_ = judged;
    if (feed_ != nullptr) {
        feed_->setJudged(judged);
    }
}

void MixerChannel::setGainDb(double db) {
    controls_.gainDb = std::clamp(db, kMinFeedGainDb, kMaxFeedGainDb);
    if (feed_ != nullptr) {
        feed_->setGainDb(feedGainDb());
    }
}

void MixerChannel::setFade(float level) {
    fade_ = std::clamp(level, 0.0F, 1.0F);
    fadeDb_ = fade_ > 0 ? std::max(20 * std::log10(double{fade_}), kFadedOutDb) : kFadedOutDb;
    if (feed_ != nullptr) {
        feed_->setGainDb(feedGainDb());
    }
}

void MixerChannel::setPan(double pan) {
    controls_.pan = std::clamp(pan, -1.0, 1.0);
    if (feed_ != nullptr) {
        feed_->setPan(controls_.pan);
    }
}

void MixerChannel::setMute(bool muted) {
    controls_.muted = muted;
    if (feed_ != nullptr) {
        feed_->setMute(muted);
    }
}

void MixerChannel::setSolo(bool soloed) {
    controls_.soloed = soloed;
    if (feed_ != nullptr) {
        feed_->setSolo(soloed);
    }
}

void MixerChannel::setPriority(bool priority) {
    controls_.priority = priority;
    if (feed_ != nullptr) {
        feed_->setPriority(priority);
    }
}

double MixerChannel::levelDb() const {
    return feed_ != nullptr ? feed_->levelDb() : kSilentDb;
}

bool MixerChannel::transmitting() const {
    return feed_ != nullptr && feed_->transmitting();
}

}  // namespace orvento
