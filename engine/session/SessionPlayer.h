// SessionPlayer: one attempt's player as a StationSession drives it. The
// real one is PelorinPlayer (the stream player); tests stand in a player
// whose reports and figures they script.
//
// Lifecycle: the session starts it once, may stop it, and detaches from it
// once it has ended (or when the session goes). A player is never restarted.
//
// Reports. From start() until detach() returns, the player tells its
// listener, on any thread and in the order they happen: plays() each time it
// says its output runs (also one that is taken back at once: a failure or a
// stop before the output ran is told plays and then ended), and ended() when
// it is over. ended() may come more than once (the output's stop, then the
// worker's last step): only the first means anything. A report may come on
// the thread that calls stop(), inside it. Once detach() returns no report
// is under way or comes; detach() may be called inside a report.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/player/PlayOutGate.h"

namespace orvento {

class SessionPlayer {
  public:
    class Listener {
      public:
        virtual ~Listener() = default;
        virtual void plays(SessionPlayer& player) = 0;
        virtual void ended(SessionPlayer& player) = 0;
        // A live stream's server closed; what the player holds plays out
        // and ended() follows.
        virtual void playingOut(SessionPlayer& /*player*/) {}
    };

    virtual ~SessionPlayer() = default;

    // Its output starts only once `gate` is open (PlayOutGate.h). Before start().
    virtual void playAfter(std::shared_ptr<PlayOutGate> gate) = 0;
    // Reports go to `listener` from now on; the player starts and returns at once.
    virtual void start(Listener& listener) = 0;
    // Ends playback at once, at any moment; only the first call counts. Any thread.
    virtual void stop() = 0;
    virtual void detach() = 0;

    // The following may be read on any thread.
    // Why the player failed, in a few words; empty while nothing failed.
    // Known before the reports of the failure.
    virtual std::string failureReason() const = 0;
    // The whole stream came and played out (a recording, not a live station).
    virtual bool endedComplete() const = 0;
    // How long the running output has had nothing to play; zero before it ran.
    virtual std::chrono::duration<double> outputStarved() = 0;
    // Bytes of the stream received so far.
    virtual std::uint64_t bytesReceived() const = 0;
    // How far behind live it plays; none without a live edge.
    virtual std::optional<std::chrono::duration<double>> behindLive() const = 0;
};

}  // namespace orvento
