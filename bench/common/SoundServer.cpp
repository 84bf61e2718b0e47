#include "bench/common/SoundServer.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

namespace orvento::bench {

namespace fs = std::filesystem;

SoundServer::SoundServer(const fs::path& dir) {
    fs::create_directories(dir / "run");
    fs::create_directories(dir / "home");
    fs::permissions(dir / "run", fs::perms::owner_all);
    socket_ = (dir / "native").string();
    std::ofstream(dir / "server.pa")
        << "load-module module-null-sink sink_name=" << kSink << " rate=" << kSinkRate
        << " channels=2\n"
        << "load-module module-native-protocol-unix socket=" << socket_ << " auth-anonymous=1\n"
        << "set-default-sink " << kSink << "\n";
    env_ = {{"PULSE_SERVER", "unix:" + socket_},
            {"XDG_RUNTIME_DIR", (dir / "run").string()},
            {"HOME", (dir / "home").string()}};
    Env daemonEnv = env_;
    daemonEnv["PULSE_SERVER"] = std::nullopt;
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"pulseaudio", "-n", "-F", (dir / "server.pa").string(),
                                 "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr"},
        daemonEnv, dir / "pulseaudio.log");
    ready_ = waitFor(
        [&] {
            Child info({"pactl", "info"}, env_, dir / "pactl.log");
            return info.reap(0).cpuSeconds >= 0 &&
                   readFile(dir / "pactl.log").find("Server Name") != std::string::npos;
        },
        std::chrono::seconds(15));
}

SoundServer::~SoundServer() {
    daemon_->reap(SIGTERM);
}

Env SoundServer::env(Env more) const {
    Env all = env_;
    all.merge(more);
    return all;
}

Recording::Recording(const SoundServer& server, const fs::path& log)
    : parec_({"parec", "-d", std::string(kSink) + ".monitor", "--format=float32le",
              "--rate=" + std::to_string(kSinkRate), "--channels=2", "--raw", "--latency-msec=10"},
             server.env(), log, false, true),
      reader_([this] { read(); }) {
    // Until parec takes the monitor, the sink runs at its default latency
    // of seconds and a player that starts meanwhile gets a buffer that deep.
    waitFor(
        [this] {
            std::lock_guard lock(mutex_);
            return !marks_.empty();
        },
        std::chrono::seconds(5));
}

Recording::~Recording() {
    parec_.signal(SIGTERM);
    reader_.join();
    parec_.reap(0);
}

std::size_t Recording::frameAt(Clock::time_point when) const {
    std::lock_guard lock(mutex_);
    std::size_t frame = 0;
    for (const auto& [at, frames] : marks_) {
        if (at > when) {
            break;
        }
        frame = frames;
    }
    return frame;
}

Recording::Clock::time_point Recording::arrivalOf(std::size_t frame) const {
    const auto framesTime = [](std::size_t frames) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(frames) / kSinkRate));
    };
    std::lock_guard lock(mutex_);
    if (marks_.empty()) {
        return Clock::now();
    }
    Clock::time_point first = marks_.front().first - framesTime(marks_.front().second);
    for (const auto& [at, frames] : marks_) {
        first = std::min(first, at - framesTime(frames));
    }
    return first + framesTime(frame);
}

std::vector<float> Recording::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

void Recording::read() {
    std::vector<char> buffer(65536);
    std::string carry;
    for (;;) {
        const ssize_t n = ::read(parec_.output(), buffer.data(), buffer.size());
        if (n <= 0) {
            return;
        }
        carry.append(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t whole = carry.size() / (2 * sizeof(float)) * (2 * sizeof(float));
        std::lock_guard lock(mutex_);
        const std::size_t old = samples_.size();
        samples_.resize(old + whole / sizeof(float));
        std::memcpy(samples_.data() + old, carry.data(), whole);
        carry.erase(0, whole);
        marks_.emplace_back(Clock::now(), samples_.size() / 2);
    }
}

double toneDb(const std::vector<float>& stereo, int channel, std::size_t from, std::size_t count,
              double frequency) {
    const double w = 2 * std::numbers::pi * frequency / kSinkRate;
    const double c = 2 * std::cos(w);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = 0; i < count && 2 * (from + i) + 1 < stereo.size(); ++i) {
        const double s = stereo[2 * (from + i) + static_cast<std::size_t>(channel)] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    const double amplitude = 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
    return 20 * std::log10(std::max(amplitude, 1e-9));
}

}  // namespace orvento::bench
