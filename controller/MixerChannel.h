// MixerChannel: where one controller's players play in a mixer, with the
// controls its owner sets (gain, pan, mute, solo, priority).
//
// Each player gets a feed of its own (nextPlatform, a PlaybackController's
// platform source): the feed of a player that has ended stays taken until
// its queue is gone, which may be after the next player's queue has come.
// The controls are kept here and given to every new feed, and so is the
// fade, which lowers the gain further for a while (the sleep timer's last
// seconds) without being one of the controls; the readings
// (level, keyed light) are those of the newest feed. A feed given up keeps
// no solo or priority, so that it silences or ducks nothing while it goes.
//
// Main thread only (the feeds' own controls may be read from any thread).
// The mixer outlives the channel.
#pragma once

#include <atomic>
#include <memory>

#include "engine/LogSink.h"
#include "engine/mix/Mixer.h"
#include "engine/player/EngineServices.h"

namespace orvento {

struct ChannelControls {
    double gainDb = 0;
    double pan = 0;  // -1 left, 0 centre, 1 right
    bool muted = false;
    bool soloed = false;
    bool priority = false;
};

// An output for one stream on a feed of its own in `mixer` (a replay beside
// the live stations); the sound device when every feed is taken.
AudioOutputChoice ownFeedOutput(Mixer& mixer);

class MixerChannel {
  public:
    // `log`: the engine's lines of the channel's players (EngineServices's).
    // liveMute, when given, silences every player of the channel while set
    // (a replay of the station plays meanwhile).
    explicit MixerChannel(Mixer& mixer, ChannelControls controls = {}, LogSink log = {},
                          std::shared_ptr<std::atomic<bool>> liveMute = {});
    ~MixerChannel();
    MixerChannel(const MixerChannel&) = delete;
    MixerChannel& operator=(const MixerChannel&) = delete;

    // A platform for the next player, on a new feed with the controls; null
    // when the mixer has no feed to spare.
    std::shared_ptr<EngineServices> nextPlatform();

    const ChannelControls& controls() const { return controls_; }
    void setGainDb(double db);
    void setPan(double pan);
    void setMute(bool muted);
    void setSolo(bool soloed);
    void setPriority(bool priority);
    // The fade's level over the gain: 1 none, 0 silent whatever the gain.
    void setFade(float level);
    float fade() const { return fade_; }
    // Whether transmitting() is wanted (MixerFeed::setJudged); by default it is.
    void setJudged(bool judged);

    // The newest feed's readings: its level in dBFS (silent when there is no
    // feed) and whether it transmits.
    double levelDb() const;
    bool transmitting() const;

  private:
    void apply(MixerFeed& feed) const;
    double feedGainDb() const;
    void giveUp();

    Mixer& mixer_;
    const LogSink log_;
    const std::shared_ptr<std::atomic<bool>> liveMute_;
    ChannelControls controls_;
    float fade_ = 1;
    double fadeDb_ = 0;
    bool judged_ = true;
    std::shared_ptr<MixerFeed> feed_;
};

}  // namespace orvento
