// A live station for the live benchmark: a recording relayed from 127.0.0.1
// as a live source, whose live point moves with the clock whether anyone
// listens, on a network with a schedule of stalls and drops. Every
// connection gets the burst a station's server sends (up to burstBytes of
// what went out live before it), then what goes out live as it does.
//
// Threads: one thread of its own serves every connection; the members may be
// called from any thread. The destructor closes everything and joins it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace orvento::bench {

// Seconds after the press: from `at`, for `seconds`.
struct Outage {
    double at = 0;
    double seconds = 0;
};

struct LiveSchedule {
    // The network holds everything back; then what fell due comes at once.
    std::vector<Outage> stalls;
    // Every connection is closed; new ones are closed as soon as they come.
    std::vector<Outage> drops;
};

class LiveSource {
  public:
    using Clock = std::chrono::steady_clock;

    struct Station {
        std::string bytes;  // constant bit rate, whole frames
        double bytesPerSecond = 0;
        std::size_t frameBytes = 0;
        std::size_t burstBytes = 0;
    };

    // Byte 0 of the station went out live at `origin`; the schedule counts
    // from `press`. Throws std::runtime_error when it cannot listen.
    LiveSource(Station station, Clock::time_point origin, Clock::time_point press,
               LiveSchedule schedule);
    ~LiveSource();
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    std::string url() const;
    // Connections served (those closed at once during a drop not counted).
    int connections() const { return connections_.load(); }

  private:
    struct Client;

    void serve();
    double sincePress(Clock::time_point now) const;
    bool within(const std::vector<Outage>& outages, double at) const;

    const Station station_;
    const Clock::time_point origin_;
    const Clock::time_point press_;
    const LiveSchedule schedule_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace orvento::bench
