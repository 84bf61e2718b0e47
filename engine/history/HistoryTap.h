// HistoryTap: what a station's players are tapped with. It keeps every
// packet in the station's history and decodes it for the transmission
// detector, so that the history's audio clock and the detector's are one: a
// transmission's start and end find its packets again.
//
// Each player gets a tap of its own from forPlayer(), in the order they are
// started. Only the latest player's stream is heard: a player that is still
// ending while the next one has begun (a new press, a reconnection) is not
// let into the new stream, and its end does not end it.
//
// Threads: the taps' calls come on their players' worker threads; they take
// the HistoryTap's lock, so one stream is handled at a time, and the
// detector's events are handed to `onEvent` under it. The detector's level
// and keyed state may be read from any thread. Decoding costs a worker a
// fraction of the output's own decoding (one pass, no output), and nothing
// in here waits for anything but that lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/audio/Decoder.h"
#include "engine/history/StationHistory.h"
#include "engine/player/PacketTap.h"
#include "engine/transmissions/TransmissionDetector.h"

namespace orvento {

class HistoryTap : public std::enable_shared_from_this<HistoryTap> {
  public:
    // A detector's event, with where the audio clock stands at that moment,
    // taking the newest audio received as live: the end of the audio fed so
    // far, plus the time since it came when the event waited for the end of
    // a burst (see packets()); and the station of the stream it was found in
    // (an event held to a stream's end may come after the next player began).
    using EventHandler = std::function<void(const TransmissionDetector::Event&, double now,
                                            const std::string& station)>;

    HistoryTap(std::shared_ptr<StationHistory> history, EventHandler onEvent);
    HistoryTap(const HistoryTap&) = delete;
    HistoryTap& operator=(const HistoryTap&) = delete;

    // The tap for the next player (PelorinServices::tap), whose streams the
    // history keeps as `station`'s.
    std::shared_ptr<PacketTap> forPlayer(std::string station = {});

    // Also hands the stream heard to `recorder` (none: stops), from now on:
    // one under way begins with its format at once; the previous recorder's
    // stream ends. Any thread.
    void setRecorder(std::shared_ptr<PacketTap> recorder);

    const std::shared_ptr<StationHistory>& history() const { return history_; }
    // Any thread: the detector's level and keyed state.
    double levelDbfs() const { return detector_.levelDbfs(); }
    bool keyed() const { return detector_.keyed(); }
    // Why the latest stream's audio cannot be decoded for the detector (it is
    // kept all the same), or empty.
    std::string decoderProblem() const;

  private:
    class PlayerTap;
    void formatKnown(std::uint64_t player, const std::string& station, const AudioFormat& format,
                     std::span<const std::uint8_t> magicCookie);
    void packets(std::uint64_t player, std::span<const std::uint8_t> data,
                 std::span<const PacketDescription> descriptions,
                 std::chrono::steady_clock::time_point arrival);
    void streamEnded(std::uint64_t player);
    void feed(std::span<const std::uint8_t> packet, bool wholePacket);
    void feedDecoded();
    // Hands the events held back to `onEvent_`, the audio clock `ranOn`
    // seconds past the audio fed.
    void releaseHeld(double ranOn);

    const std::shared_ptr<StationHistory> history_;
    const EventHandler onEvent_;
    mutable std::mutex mutex_;  // guards everything below
    TransmissionDetector detector_;
    // The detector's events while reads come faster than the audio plays (a
    // burst); when the latest read came and how much audio it held.
    std::vector<TransmissionDetector::Event> held_;
    bool holding_ = false;
    std::chrono::steady_clock::time_point lastArrival_{};
    double lastReadSeconds_ = 0;
    std::uint64_t players_ = 0;  // taps handed out
    std::uint64_t newest_ = 0;   // the newest player that began a stream
    bool streaming_ = false;     // its stream has not ended
    AudioFormat format_{};
    std::vector<std::uint8_t> cookie_;
    std::string station_;  // the newest stream's
    std::shared_ptr<PacketTap> recorder_;
    std::unique_ptr<Decoder> decoder_;
    PcmBuffer decoded_;
    std::string problem_;
};

}  // namespace orvento
