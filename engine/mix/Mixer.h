// The monitor's mixer: several streams (kMaxFeeds unless the options say
// otherwise) played together through one output (the sound device, or a
// null or WAV output), each with its own gain, pan, mute and solo, and
// priority ducking, and a limiter on the sum so that the mix never clips
// (MixLaw.h).
//
// Why one mix in the process rather than a stream per feed at the sound
// server: it works where the device can be opened only once (SDL's dummy
// driver, plain ALSA), it costs one device stream's wake-ups whatever the
// number of feeds, and gain, pan, mute, solo and ducking are ours to apply
// the same way on every output (bench/sound prints both ways' costs).
//
// Use
//   Mixer mixer(AudioOutputChoice{});           // to the sound device
//   std::shared_ptr<MixerFeed> feed = mixer.addFeed();
//   auto platform = std::make_shared<EngineServices>(feed->outputChoice());
//   ... a player given that platform (PelorinServices::platform) plays into
//   the feed; so does the next player of the same feed once the previous
//   one's queue is gone (a reconnection). A player with any other platform
//   plays as before, on its own output.
//   feed->setGainDb(-6); feed->setPan(-1); feed->setMute(false); ...
//
// How audio moves. A player's queue writes its decoded audio, converted to
// the mix's rate, into its feed's ring (about kFeedRingSeconds); the mixer's
// own thread takes a block (kBlockSeconds) from every playing feed, applies
// the controls, limits the sum and writes it to the output whenever the
// output takes more. The mix never waits for a feed: a feed with nothing ready (a stall, a
// failure, a stream that ended) contributes silence, and its queue is paced
// by the ring alone, so no feed can hold up another. The output is opened
// when the first feed starts, at that feed's rate (later feeds are
// converted to it by their queues), paused while no feed plays and closed
// with the mixer; the sound device is closed as well once no player's queue
// is attached, and opened again by the next. An immediate stop of a feed drops what its ring holds;
// when it leaves no feed playing, the output is silenced at once as well. A feed's frames count as
// played once the mixer has taken them (the queue's play position); its queue's drained stop
// waits, beyond that, for what the output held at that moment.
//
// Threads
//   - Mixer and addFeed(): the owner's thread (the main thread).
//   - A MixerFeed's controls and readings: any thread, at any time; they are
//     atomics the mixer's thread reads once per block (a lock-free hand-over:
//     nothing on the mixing path locks, allocates or waits). A change is heard
//     from the next block on, behind what the output already holds, and is
//     ramped over one block so that it does not click.
//   - The feed outputs are the queues' (AudioOutput's rules).
//   - Destroy the mixer after the players of its feeds have ended: a feed
//     whose mixer is gone takes no more audio, and its player stalls.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "engine/audio/AudioOutput.h"
#include "engine/audio/OutputQueue.h"

namespace orvento {

inline constexpr int kMaxFeeds = 6;
inline constexpr double kFeedRingSeconds = 0.5;
inline constexpr double kBlockSeconds = 0.01;

class MixCore;

struct MixerOptions {
    // How many feeds may exist at once (at least one). An owner whose players
    // each take a feed of their own needs room for a player whose queue is
    // still going while its successor's comes.
    int feeds = kMaxFeeds;
};

// One feed of a mixer: shared by the mixer's owner and the queues writing
// into it; it keeps its place in the mixer until the last reference goes.
class MixerFeed : public AudioFeed, public std::enable_shared_from_this<MixerFeed> {
  public:
    MixerFeed(std::shared_ptr<MixCore> core, int index);
    ~MixerFeed() override;
    MixerFeed(const MixerFeed&) = delete;
    MixerFeed& operator=(const MixerFeed&) = delete;

    // The output choice for a player of this feed (EngineServices's).
    AudioOutputChoice outputChoice();
    std::unique_ptr<AudioOutput> makeOutput() override;

    // The controls, any thread. Gain in dB (clamped, MixLaw.h); pan from -1
    // (left) to 1 (right); a muted feed is not heard; while any feed is
    // soloed only soloed feeds are heard; while a priority feed transmits the
    // feeds without priority are ducked.
    void setGainDb(double db);
    void setPan(double pan);
    void setMute(bool muted);
    void setSolo(bool soloed);
    void setPriority(bool priority);
    // Whether transmitting() is wanted (true for a new feed). A feed not
    // judged, and not a priority one, reads as never transmitting and costs
    // the mixer no transmission detector: a station played beside the
    // monitor, whose light nobody shows.
    void setJudged(bool judged);

    // Readings, any thread: the level of the feed's last block (RMS, dBFS,
    // -120 when silent or starved); whether it transmits, as the
    // transmission detector judges the audio it mixes (from 0.3 s into a
    // transmission to 0.6 s after its last syllable; hiss, however loud, is
    // not a transmission, and a feed that runs dry or stops ends one); and
    // whether a player's queue plays into it now.
    double levelDb() const;
    bool transmitting() const;
    bool playing() const;
    int index() const { return index_; }

  private:
    const std::shared_ptr<MixCore> core_;
    const int index_;
};

class Mixer {
  public:
    explicit Mixer(AudioOutputChoice output, MixerOptions options = {});
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // A new feed, or nullptr when the options' number of feeds exist.
    std::shared_ptr<MixerFeed> addFeed();

    // The output's last failure in its own words (it could not be opened, or
    // it failed while playing), or empty. Any thread.
    std::string outputFailure() const;

  private:
    std::shared_ptr<MixCore> core_;
};

}  // namespace orvento
