// orvento-play: plays one stream URL with the stream player, the way the
// player screen does, to the sound device, a WAV file or nothing.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/AlertService.h"
#include "engine/EnginePlatform.h"
#include "engine/Pelorin.h"
#include "engine/UrlEscaping.h"
#include "engine/WorkerRegistry.h"
#include "engine/platform/url/Url.h"

namespace orvento {
namespace {

constexpr const char* kUsage =
    "usage: orvento-play URL [--wav FILE | --null]\n"
    "\n"
    "Plays the audio stream at URL (MP3, AAC, WAV, AIFF, CAF or MP4 over HTTP)\n"
    "until it ends or you press Ctrl-C.\n"
    "\n"
    "  --wav FILE  write the decoded audio to FILE (a WAV file), as fast as it\n"
    "              arrives, instead of playing it; the file's header is kept\n"
    "              up to date about once a second, so a recording cut short\n"
    "              still opens. FILE may be a FIFO: the audio waits for its\n"
    "              reader. A write that fails stops playback (exit status 1)\n"
    "  --null      play into nothing, in real time (for machines without sound)\n"
    "  -h, --help  show this text\n"
    "\n"
    "The URL text is percent-escaped as the player screen does it: characters\n"
    "that may not stand in a URL (spaces, non-ASCII letters, \"#\", a \"%\" not\n"
    "followed by two hex digits) are escaped; what is already escaped is kept.\n"
    "\n"
    "Output: state changes (connecting, playing once audio reaches the output,\n"
    "stopped, ended) and the failure alert go to standard error; the player's\n"
    "error lines (\"<operation> err <code> <status>\") go to standard output.\n"
    "\n"
    "Ctrl-C (or SIGTERM, or SIGHUP) stops playback cleanly at any moment, also\n"
    "while connecting and while the last audio plays out. A closed standard\n"
    "output or error does not end the player. The password of a\n"
    "user:password@ URL is not shown.\n"
    "\n"
    "Exit status: 0 after the stream played to its end or was stopped; 1 when\n"
    "playback failed or the stream could not be opened; 2 for a usage error.\n";

void say(const std::string& text) {
    const std::string line = "orvento-play: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// Wakes the main thread from any thread; async-signal-safe and lock-free.
class Wakeup {
  public:
    Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Wakeup() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;
    int fd() const { return fd_; }
    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
    }
    void drain() const {
        std::uint64_t value = 0;
        [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
    }

  private:
    int fd_;
};

class ToolAlerts : public AlertService {
  public:
    void showAlert(const std::string& title, const std::string& message,
                   const std::string& /*button*/) override {
        shown_.store(true);
        const std::string line = title + ": " + message + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        // The player has kept why by now: it comes with the alert.
        if (auto player = player_.lock(); player && !player->failureReason().empty()) {
            say(player->failureReason());
            reasonSaid_.store(true);
        }
    }
    void watch(const std::shared_ptr<Pelorin>& player) { player_ = player; }
    bool shown() const { return shown_.load(); }
    bool reasonSaid() const { return reasonSaid_.load(); }

  private:
    std::weak_ptr<Pelorin> player_;
    std::atomic<bool> shown_{false};
    std::atomic<bool> reasonSaid_{false};
};

class StateReporter : public PelorinObserver {
  public:
    explicit StateReporter(const Wakeup& wakeup) : wakeup_(wakeup) {}

    void observeValueForKeyPath(std::string_view keyPath, Pelorin& object) override {
        if (keyPath == kIsPlayingKeyPath) {
            // A stop or a failure before the queue ran is told true and at
            // once false, and is no play.
            if (object.isPlaying()) {
                running_.store(!stopRequested_.load() && object.failureReason().empty());
                sayPlayingOnceAudioFlows();
            } else if (played_.load() && !stoppedSaid_.exchange(true)) {
                say("stopped playing");
            }
        } else if (keyPath == kHasEndedKeyPath) {
            say("ended");
            ended_.store(true);
            wakeup_.signal();
        }
    }
    // The output has taken its first audio (the queue's thread).
    void noteFirstAudio() {
        audioFlows_.store(true);
        sayPlayingOnceAudioFlows();
    }
    bool played() const { return played_.load(); }
    bool ended() const { return ended_.load(); }
    void noteStopRequested() { stopRequested_.store(true); }

  private:
    // "playing" once the queue runs and audio has reached the output: a FIFO
    // that nobody reads takes none.
    void sayPlayingOnceAudioFlows() {
        if (running_.load() && audioFlows_.load() && !played_.exchange(true)) {
            say("playing");
        }
    }

    const Wakeup& wakeup_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> stoppedSaid_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> audioFlows_{false};
    std::atomic<bool> played_{false};
    std::atomic<bool> ended_{false};
};

// The first failure of the output (a WAV file that cannot be written), from
// the queue's thread or the disposing thread.
class OutputFailure {
  public:
    explicit OutputFailure(const Wakeup& wakeup) : wakeup_(wakeup) {}
    void report(const std::string& text) {
        {
            std::lock_guard lock(mutex_);
            if (!text_.empty()) {
                return;
            }
            text_ = text;
        }
        wakeup_.signal();
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    const Wakeup& wakeup_;
    mutable std::mutex mutex_;
    std::string text_;
};

struct Options {
    std::string url;
    AudioOutputChoice output;
    bool help = false;
};

// Returns an error text, empty on success.
std::string parseArguments(int argc, char** argv, Options& options) {
    bool haveUrl = false;
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return {};
        }
        if (arg == "--null" || arg == "--wav" || arg.starts_with("--wav=")) {
            if (haveOutput) {
                return "give at most one of --wav and --null";
            }
            haveOutput = true;
            if (arg == "--null") {
                options.output.kind = AudioOutputChoice::Kind::Null;
                options.output.realTime = true;
                continue;
            }
            options.output.kind = AudioOutputChoice::Kind::WavFile;
            if (arg == "--wav") {
                if (i + 1 == argc) {
                    return "--wav needs a file name";
                }
                options.output.wavPath = argv[++i];
            } else {
                options.output.wavPath = std::string(arg.substr(6));
            }
            if (options.output.wavPath.empty()) {
                return "--wav needs a file name";
            }
            continue;
        }
        if (arg.starts_with("-") && arg.size() > 1) {
            return "unknown option " + std::string(arg);
        }
        if (haveUrl) {
            return "give exactly one URL";
        }
        options.url = std::string(arg);
        haveUrl = true;
    }
    if (!haveUrl || options.url.empty()) {
        return "no URL given";
    }
    if (!Url::fromString(percentEscapeUrlText(options.url))) {
        return "\"" + withoutPassword(options.url) + "\" is not a URL";
    }
    return {};
}

int run(int argc, char** argv) {
    Options options;
    if (const std::string error = parseArguments(argc, argv, options); !error.empty()) {
        say(error);
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // A reader of stdout or stderr that went away, and a WAV file at the
    // file-size limit, are failed writes, not reasons to die.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Ctrl-C, SIGTERM and SIGHUP are taken as data on a signalfd: blocked
    // before any thread starts, so every thread inherits the mask and no
    // handler runs.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        say(std::string("cannot watch for Ctrl-C: ") + std::strerror(errno));
        return 1;
    }

    const std::string escaped = percentEscapeUrlText(options.url);
    CFURLRef url = Url::fromString(escaped);

    Wakeup wakeup;
    auto outputFailure = std::make_shared<OutputFailure>(wakeup);
    options.output.onFailure = [outputFailure](const std::string& text) {
        outputFailure->report(text);
    };
    StateReporter reporter(wakeup);
    options.output.onFirstAudio = [&reporter] { reporter.noteFirstAudio(); };
    auto platform = std::make_shared<EnginePlatform>(options.output);
    auto alerts = std::make_shared<ToolAlerts>();
    bool stopRequested = false;
    std::string reason;
    {
        PelorinServices services;
        services.platform = platform;
        services.alerts = alerts;
        std::shared_ptr<Pelorin> player = Pelorin::initWithURL(url, services);
        alerts->watch(player);
        player->addObserver(&reporter, kIsPlayingKeyPath);
        player->addObserver(&reporter, kHasEndedKeyPath);
        say("connecting to " + withoutPassword(escaped));
        player->start();

        while (!reporter.ended()) {
            pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeup.fd(), POLLIN, 0}};
            const int ready = poll(fds, 2, -1);
            if (ready < 0 && errno != EINTR) {
                break;
            }
            bool stopNow = false;
            if (fds[0].revents & POLLIN) {
                signalfd_siginfo info;
                while (read(signalFd, &info, sizeof info) == sizeof info) {
                }
                if (!stopRequested) {
                    say("stopping");
                    reporter.noteStopRequested();
                    stopNow = true;
                }
            }
            if (fds[1].revents & POLLIN) {
                wakeup.drain();
                // A recording that cannot be written any more ends playback.
                stopNow = stopNow || (!stopRequested && !outputFailure->text().empty());
            }
            if (stopNow) {
                stopRequested = true;
                player->stop();
            }
        }
        player->waitUntilEnded(std::chrono::seconds(10));
        reason = player->failureReason();
        player->removeObserver(&reporter, kIsPlayingKeyPath);
        player->removeObserver(&reporter, kHasEndedKeyPath);
    }
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));
    close(signalFd);

    if (const std::string failure = outputFailure->text(); !failure.empty()) {
        say(failure);
        return 1;
    }

    if (alerts->shown() || (!reporter.played() && !stopRequested)) {
        if (!alerts->shown()) {
            say("the stream could not be opened");
        }
        if (!reason.empty() && !alerts->reasonSaid()) {
            say(reason);
        }
        if (reason == kNoSoundOutputReason) {
            say("on a machine without sound, use --null to play into nothing or "
                "--wav FILE to record the audio");
        }
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace orvento

int main(int argc, char** argv) {
    return orvento::run(argc, argv);
}
