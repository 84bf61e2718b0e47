// MonitorController: the monitor, up to kMaxFeeds stations played together
// through the window's mixer, each placed and balanced by the listener.
//
// Each feed is a PlaybackController of its own (its state, status line,
// failure cause and reconnection are that controller's) whose players play
// into the feed's MixerChannel (gain, pan, mute, solo, priority). Feeds are
// added (the station selected in the window: add), removed and reordered;
// a station is there at most once.
//
// One play/stop for the whole monitor: play() starts every feed that is
// idle, stop() stops every feed that is on; playing() is true from play()
// until stop() or until every feed has ended by itself (a feed that fails
// shows its cause on its own row, the others play on). A feed that goes on
// to play after the monitor was stopped (its player took no stop while it
// connected) is stopped again. A feed added while
// the monitor plays starts at once.
//
// Persistence: the feeds, their volumes, pans and priorities are written to
// the Settings at every change and read back when the controller is made,
// without playing. Mute and solo are for the moment and are not kept.
//
// Silencing: setSilenced(true) makes every feed unheard (a replay of some
// station plays meanwhile) without touching the listener's mute, which is
// what is heard again after setSilenced(false).
//
// Fading: setFade(level) lowers every feed, and the feeds added meanwhile,
// below its volume (the sleep timer's last seconds: 1 none, 0 silent); the
// volumes shown and kept stay the listener's.
//
// The rows, for views: model() (MonitorModel). While the monitor plays the
// feeds' level and keyed light are read every kMeterInterval and the rows
// whose reading changed are announced.
//
// Main thread only. The mixer outlives the controller; the controller stops
// the feeds' players as it goes.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "controller/DiagnosticLog.h"
#include "controller/MixerChannel.h"
#include "controller/PlaybackController.h"
#include "controller/Settings.h"

namespace orvento {

class MonitorModel;

class MonitorController : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds kMeterInterval{100};

    // `engine`: given to every feed's players (their platform comes from the
    // feed's channel); `settings`: where the monitor is kept.
    MonitorController(Mixer& mixer, PelorinServices engine, LogSink log,
                      std::shared_ptr<Settings> settings, QObject* parent = nullptr);
    ~MonitorController() override;
    MonitorController(const MonitorController&) = delete;
    MonitorController& operator=(const MonitorController&) = delete;

    int count() const { return static_cast<int>(feeds_.size()); }
    bool isFull() const { return count() >= kMaxFeeds; }
    // Whether `station` may be added: it has a URL, is not there yet, and
    // the monitor is not full.
    bool canAdd(const Station& station) const;
    // Adds `station` as the last feed; false when it may not be added.
    bool add(const Station& station);
    // Removes feed `row` (stopping it). Rows outside the feeds: nothing.
    void remove(int row);
    // Moves feed `from` to position `to`; false when either is outside.
    bool move(int from, int to);

    // Feed `row`, which must exist.
    Station station(int row) const { return feed(row).player->selectedStation(); }
    PlaybackController& player(int row) const { return *feed(row).player; }
    const ChannelControls& controls(int row) const { return feed(row).channel->controls(); }
    double levelDb(int row) const { return feed(row).channel->levelDb(); }
    bool transmitting(int row) const { return feed(row).channel->transmitting(); }
    void setGainDb(int row, double db);
    void setPan(int row, double pan);
    void setMute(int row, bool muted);
    void setSolo(int row, bool soloed);
    void setPriority(int row, bool priority);

    // The monitor's play/stop (see above).
    bool playing() const { return playing_; }
    void play();
    void stop();
    void toggle();

    MonitorModel& model() const { return *model_; }

    void setFade(float level);
    float fade() const { return fade_; }

    void setSilenced(bool silenced) { silenced_->store(silenced); }
    bool silenced() const { return silenced_->load(); }

  signals:
    void playingChanged(bool playing);
    // Feeds were added, removed or moved.
    void feedsChanged();
    // The feeds' levels and lights were read (every kMeterInterval while the
    // monitor plays): what else follows the lights looks then, and wakes
    // the window no more often.
    void metersRead();

  private:
    struct Feed {
        std::unique_ptr<MixerChannel> channel;
        std::unique_ptr<PlaybackController> player;
        int shownLevel = 0;  // the reading last announced, whole dB
        bool shownKeyed = false;
    };

    const Feed& feed(int row) const { return *feeds_.at(static_cast<std::size_t>(row)); }
    bool has(int row) const { return row >= 0 && row < count(); }
    void insertFeed(const Station& station, const ChannelControls& controls);
    void followPlayerSettings(PlaybackController& player) const;
    int rowOf(const PlaybackController* player) const;
    void playerChanged(const PlaybackController* player);
    // The monitor has stopped once every feed has ended by itself.
    void endIfAllEnded();
    void setPlaying(bool playing);
    void readMeters();
    void save() const;
    void restore();

    Mixer& mixer_;
    const PelorinServices engine_;
    const LogSink log_;
    const std::shared_ptr<Settings> settings_;
    // Given to every feed's channel, so it covers feeds added meanwhile.
    const std::shared_ptr<std::atomic<bool>> silenced_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::unique_ptr<Feed>> feeds_;
    bool playing_ = false;
    float fade_ = 1;
    QTimer meters_;
    std::unique_ptr<MonitorModel> model_;
};

}  // namespace orvento
