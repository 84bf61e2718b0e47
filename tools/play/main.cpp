// orvento-play: plays one stream URL with the stream player, the way the
// player screen does, to the sound device, a WAV file or nothing.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/LogSink.h"
#include "engine/history/StreamRecorder.h"
#include "engine/mix/Mixer.h"
#include "engine/net/Url.h"
#include "engine/net/UrlEscaping.h"
#include "engine/player/AlertService.h"
#include "engine/player/EngineServices.h"
#include "engine/player/Pelorin.h"
#include "engine/player/WorkerRegistry.h"
#include "engine/session/PelorinPlayer.h"
#include "engine/session/SleepSchedule.h"
#include "engine/session/StationSession.h"
#include "tools/common/NumberOption.h"

namespace orvento {
namespace {

constexpr const char* kUsage =
    "usage: orvento-play URL [--wav FILE | --null] [--record FILE] [--live-edge SECONDS|auto]\n"
    "                    [--reconnect] [--sleep MINUTES] [--verbose]\n"
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
    "  --record FILE  also write the stream's own audio to FILE as it arrives:\n"
    "              MPEG audio frames as they came (.mp3), AAC frames with ADTS\n"
    "              headers (.aac), no re-encoding. A write that fails ends the\n"
    "              recording (the file keeps its whole frames) but not playback.\n"
    "              With --reconnect each connection is written on at the end\n"
    "              of FILE while the format stays; a stream of another format\n"
    "              goes to a new file named for it (rec.mp3, then rec.aac, then\n"
    "              rec (2).mp3; never one that is there already). The files\n"
    "              written are listed at the end\n"
    "  --live-edge SECONDS  play at most SECONDS (0.1 to 60, e.g. 1.5) behind\n"
    "              live: of the burst a server sends on connecting, and of any\n"
    "              heap that comes after a stall, whole packets older than that\n"
    "              are not played (--record still writes them). A recording\n"
    "              (its length declared) is not live and plays whole. Off by\n"
    "              default: everything the server sends is played\n"
    "  --live-edge auto  live without losing a word: playing starts 1.5 s\n"
    "              behind live (of the burst a server sends on connecting,\n"
    "              what was said before you started is left out); from then\n"
    "              on nothing is skipped: the quiet between transmissions\n"
    "              goes (0.3 s kept beside each) and speech that runs on\n"
    "              plays up to 1.25x faster, pitch kept, until the playing is\n"
    "              back at its target, which starts at 1.5 s and grows after\n"
    "              a stall (to 8 s at most); at the end it says how much\n"
    "              quiet went and how much speech was played faster\n"
    "  --reconnect  once audio has played, a stream that drops (the server\n"
    "              closes, an error, a stall, 10 s without audio) is opened\n"
    "              again, at once and then\n"
    "              after 1, 2, 4, 8, 15 and 30 s (each +/- 20 %), until it plays\n"
    "              again or you press Ctrl-C; the waits start over once audio\n"
    "              plays. A recording served whole (its length declared and\n"
    "              all of it received) has not dropped: it ends. A stream that\n"
    "              plays nothing within 20 s of connecting has failed. Not with\n"
    "              --wav. The next connection's opening burst is lined up with\n"
    "              the last frames heard, by their bytes, and plays on after\n"
    "              them; what it does not hold is told (\"14 s missed at\n"
    "              14:22:07Z\")\n"
    "  --verbose   also write the player's diagnostic lines to standard error\n"
    "  --sleep MINUTES  stop after MINUTES (1 to 1440), fading out over the\n"
    "              last 10 seconds, as the window's sleep timer does. Not with\n"
    "              --wav\n"
    "  -h, --help  show this text\n"
    "\n"
    "The URL text is percent-escaped as the player screen does it: characters\n"
    "that may not stand in a URL (spaces, non-ASCII letters, \"#\", a \"%\" not\n"
    "followed by two hex digits) are escaped; what is already escaped is kept.\n"
    "\n"
    "Output: state changes (connecting, playing once audio reaches the output,\n"
    "stopped, ended, reconnecting), the failure alert and why go to standard\n"
    "error; a drop that is reconnected is said once, with its cause. With\n"
    "--verbose the player's diagnostic lines (\"<operation> err <code>\n"
    "<status>\", an output that cannot start) go to standard error too.\n"
    "\n"
    "Ctrl-C (or SIGTERM, or SIGHUP) stops playback cleanly at any moment, also\n"
    "while connecting and while the last audio plays out. A closed standard\n"
    "output or error does not end the player. The password of a\n"
    "user:password@ URL is not shown.\n"
    "\n"
    "Exit status: 0 after the stream played to its end or was stopped; 1 when\n"
    "playback failed or the stream could not be opened; 2 for a usage error.\n";

// How often a sleep timer looks at the time; the fade's steps.
constexpr std::chrono::milliseconds kSleepTick{100};
constexpr float kSleepQuietestGain = 0.001F;  // -60 dB, the quietest a feed plays

void say(const std::string& text) {
    const std::string line = "orvento-play: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// What the catch-up stages of a run did, each player's in turn.
struct CatchUpTotals {
    double dropped = 0;
    double faster = 0;
    double fastest = 1;
    double seen = 0;

    void add(const CatchUpStage& stage) {
        dropped += stage.droppedSeconds();
        faster += stage.fasterSeconds();
        fastest = std::max(fastest, stage.fastestSpeed());
        seen += stage.seenSeconds();
    }
};

// What catching up cost, said at the end: nothing is lost, but the listener
// may want to know how much quiet went and how much speech was hurried.
void sayCaughtUp(const CatchUpTotals& totals) {
    if (totals.seen <= 0) {
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line,
                  "caught up: %.1f s of quiet left out and %.1f s of speech played faster "
                  "(at most %.2fx) in %.1f s of audio",
                  totals.dropped, totals.faster, totals.fastest, totals.seen);
    say(line);
}

// What came of a reconnection's start, on the player's worker.
void sayResumption(const Resumption& resumption) {
    const std::time_t at = std::chrono::system_clock::to_time_t(resumption.droppedAt);
    std::tm utc{};
    gmtime_r(&at, &utc);
    char when[16];
    std::strftime(when, sizeof when, "%H:%M:%SZ", &utc);
    char line[128];
    switch (resumption.kind) {
        case Resumption::Kind::Resumed:
            std::snprintf(line, sizeof line,
                          "resumed after the last frame heard (%.1f s of the burst heard before)",
                          resumption.skippedSeconds);
            break;
        case Resumption::Kind::Gap:
            if (resumption.missedSeconds < kGapToldSeconds) {
                return;
            }
            std::snprintf(line, sizeof line, "%.0f s missed at %s", resumption.missedSeconds, when);
            break;
        case Resumption::Kind::FormatChanged:
            std::snprintf(line, sizeof line, "new stream format at %s: played afresh", when);
            break;
    }
    say(line);
}

// The file for a recording's stream of another format than the file asked
// for: its name with the format's extension ("rec.mp3", "rec.aac"), and a
// number before it while that file is there ("rec (2).aac").
std::string fileForFormat(const std::string& asked, const std::string& extension) {
    std::filesystem::path stem(asked);
    const std::string old = stem.extension().string();
    if (old == ".mp3" || old == ".mp2" || old == ".mp1" || old == ".aac") {
        stem.replace_extension();
    }
    std::string path = stem.string() + "." + extension;
    for (int n = 2; std::filesystem::exists(path); ++n) {
        path = stem.string() + " (" + std::to_string(n) + ")." + extension;
    }
    return path;
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

// The alerts the session lets through: a drop that is brought back shows
// none ("reconnecting" says why).
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
    void isPlayingChanged(Pelorin& object) override {
        // A stop or a failure before the queue ran is told true and at once
        // false, and is no play.
        if (object.isPlaying()) {
            running_.store(!stopRequested_.load() && object.failureReason().empty());
            sayPlayingOnceAudioFlows();
        } else if (played_.load() && !stoppedSaid_.exchange(true)) {
            say("stopped playing");
        }
    }
    void playerEnded(Pelorin& /*object*/) override {
        say("ended");
        std::lock_guard lock(endMutex_);
        ended_ = true;
        endChanged_.notify_all();
    }
    // The output has taken its first audio (the queue's thread).
    void noteFirstAudio() {
        audioFlows_.store(true);
        sayPlayingOnceAudioFlows();
    }
    bool played() const { return played_.load(); }
    bool audioFlowed() const { return audioFlows_.load(); }
    bool ended() const {
        std::lock_guard lock(endMutex_);
        return ended_;
    }
    // Waits until the player has said that it ended, at most `timeout`.
    void waitForTheEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(endMutex_);
        endChanged_.wait_for(lock, timeout, [this] { return ended_; });
    }
    // A new player of the same stream follows: its states start afresh.
    void newPlayer() {
        stoppedSaid_.store(false);
        running_.store(false);
        audioFlows_.store(false);
        played_.store(false);
        std::lock_guard lock(endMutex_);
        ended_ = false;
    }
    void noteStopRequested() { stopRequested_.store(true); }

  private:
    // "playing" once the queue runs and audio has reached the output: a FIFO
    // that nobody reads takes none.
    void sayPlayingOnceAudioFlows() {
        if (running_.load() && audioFlows_.load() && !played_.exchange(true)) {
            say("playing");
        }
    }

    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> stoppedSaid_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> audioFlows_{false};
    std::atomic<bool> played_{false};
    mutable std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool ended_ = false;  // guarded by endMutex_
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

// The station's session, as the command line tells it. Every call but
// sessionHasNews and noteFirstAudio comes on the main thread.
class PlaySession : public StationSession::Listener {
  public:
    using MakePlayer = std::function<std::shared_ptr<Pelorin>(std::shared_ptr<AlertService>)>;
    PlaySession(const Wakeup& wakeup, MakePlayer makePlayer)
        : wakeup_(wakeup), makePlayer_(std::move(makePlayer)) {}
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    void sessionHasNews() override { wakeup_.signal(); }

    std::shared_ptr<SessionPlayer> createPlayer(std::shared_ptr<AlertService> alerts) override {
        // The last player may still play out what it held (its drop came at
        // the server's close): it goes on beside the new one, whose output
        // waits for it. The one before it has played out by now.
        finish(outgoing_);
        auto reporter = std::make_unique<StateReporter>();
        if (stopRequested_) {
            reporter->noteStopRequested();
        }
        std::shared_ptr<Pelorin> player = makePlayer_(std::move(alerts));
        player->addObserver(reporter.get());
        {
            // The last player's queue may be taking its first audio this
            // moment (its server closed right after the burst): it reads
            // current_ under the lock.
            std::lock_guard lock(reporterMutex_);
            outgoing_ = std::move(current_);
            current_.player = player;
            current_.reporter = std::move(reporter);
        }
        return std::make_shared<PelorinPlayer>(std::move(player));
    }

    void reconnectionStep(const StationSession::Countdown& countdown) override {
        if (countdown.step != StationSession::Countdown::Step::Dropped) {
            return;
        }
        const std::string cause =
            countdown.cause.empty() ? "the server closed the connection" : countdown.cause;
        const auto ms = countdown.wait.count();
        const std::string attempt = "(attempt " + std::to_string(countdown.attempt) + "): ";
        say(ms > 0
                ? "reconnecting in " + std::to_string((ms + 999) / 1000) + " s " + attempt + cause
                : "reconnecting " + attempt + cause);
    }

    void ended(const StationSession::Ending& ending) override { reason_ = ending.cause; }

    // The output has taken its first audio (a queue's thread). Outputs start
    // in turn, a new player's once the last one has played out: it is the
    // audio of the older player that has had none and plays on. (The last
    // player's queue may start only after the next player was made, when its
    // server closed right after the burst.)
    void noteFirstAudio() {
        std::lock_guard lock(reporterMutex_);
        for (Played* played : {&outgoing_, &current_}) {
            if (played->reporter && !played->reporter->audioFlowed() &&
                !played->reporter->ended()) {
                played->reporter->noteFirstAudio();
                return;
            }
        }
    }
    void noteStopRequested() {
        stopRequested_ = true;
        for (const Played* played : {&outgoing_, &current_}) {
            if (played->reporter) {
                played->reporter->noteStopRequested();
            }
        }
    }
    // Waits for the players' workers to end (each says so); whether any
    // player played.
    bool finishPlayer() {
        finish(outgoing_);
        finish(current_);
        return everPlayed_;
    }
    // Why the session ended, empty when it did not fail.
    const std::string& reason() const { return reason_; }

  private:
    struct Played {
        std::shared_ptr<Pelorin> player;
        std::unique_ptr<StateReporter> reporter;
    };

    void finish(Played& played) {
        if (!played.player) {
            return;
        }
        played.reporter->waitForTheEnd(std::chrono::seconds(10));
        played.player->removeObserver(played.reporter.get());
        played.player.reset();
        everPlayed_ = everPlayed_ || played.reporter->played();
        std::lock_guard lock(reporterMutex_);
        played.reporter.reset();
    }

    const Wakeup& wakeup_;
    const MakePlayer makePlayer_;
    std::mutex reporterMutex_;  // the reporters: noteFirstAudio reads them
    Played current_;
    Played outgoing_;  // the last player, playing out beside current_
    bool stopRequested_ = false;
    bool everPlayed_ = false;
    std::string reason_;
};

struct Options {
    std::string url;
    AudioOutputChoice output;
    std::string recordPath;
    std::optional<double> liveEdgeSeconds;
    bool catchUp = false;  // --live-edge auto
    bool reconnect = false;
    bool verbose = false;
    // --reconnect-waits: the benchmarks' short waits in place of the
    // shipped ones; not in the usage text.
    std::optional<std::vector<std::chrono::milliseconds>> reconnectWaits;
    std::optional<int> sleepMinutes;
    // --sleep-minute: a shorter minute for the tests; not in the usage text.
    std::chrono::milliseconds sleepMinute{std::chrono::minutes(1)};
    bool help = false;
};

// "0,50,100": the waits of reconnection attempts 0, 1, 2, ..., the last
// one repeating; nullopt for an empty list or a bad number.
std::optional<std::vector<std::chrono::milliseconds>> reconnectWaitsIn(std::string_view text) {
    std::vector<std::chrono::milliseconds> waits;
    for (;;) {
        const std::size_t comma = text.find(',');
        const auto ms = tools::wholeNumberIn(text.substr(0, comma), 0, 60000);
        if (!ms) {
            return std::nullopt;
        }
        waits.emplace_back(static_cast<std::chrono::milliseconds::rep>(*ms));
        if (comma == std::string_view::npos) {
            return waits;
        }
        text.remove_prefix(comma + 1);
    }
}

// The value of option `name` if argv[i] is it, given as "NAME VALUE" (the
// next argument, taken; empty when there is none) or as "NAME=VALUE";
// nullopt when argv[i] is something else.
std::optional<std::string_view> optionValue(std::string_view name, int& i, int argc, char** argv) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

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
        const bool null = arg == "--null";
        const auto wav = null ? std::nullopt : optionValue("--wav", i, argc, argv);
        if (null || wav) {
            if (haveOutput) {
                return "give at most one of --wav and --null";
            }
            haveOutput = true;
            if (!wav) {
                options.output.kind = AudioOutputChoice::Kind::Null;
                options.output.realTime = true;
                continue;
            }
            options.output.kind = AudioOutputChoice::Kind::WavFile;
            options.output.wavPath = std::string(*wav);
            if (options.output.wavPath.empty()) {
                return "--wav needs a file name";
            }
            continue;
        }
        if (const auto path = optionValue("--record", i, argc, argv)) {
            options.recordPath = std::string(*path);
            if (options.recordPath.empty()) {
                return "--record needs a file name";
            }
            continue;
        }
        if (const auto text = optionValue("--live-edge", i, argc, argv)) {
            // The last --live-edge given holds.
            options.catchUp = *text == "auto";
            if (options.catchUp) {
                options.liveEdgeSeconds.reset();
                continue;
            }
            options.liveEdgeSeconds = tools::numberIn(*text, 0.1, 60);
            if (!options.liveEdgeSeconds) {
                return "--live-edge needs auto or a number of seconds from 0.1 to 60";
            }
            continue;
        }
        if (arg == "--reconnect") {
            options.reconnect = true;
            continue;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (const auto text = optionValue("--reconnect-waits", i, argc, argv)) {
            options.reconnectWaits = reconnectWaitsIn(*text);
            if (!options.reconnectWaits) {
                return "--reconnect-waits needs milliseconds from 0 to 60000, "
                       "separated by commas (e.g. 0,50)";
            }
            continue;
        }
        if (const auto text = optionValue("--sleep", i, argc, argv)) {
            const auto minutes = tools::wholeNumberIn(*text, 1, 1440);
            if (!minutes) {
                return "--sleep needs whole minutes from 1 to 1440";
            }
            options.sleepMinutes = static_cast<int>(*minutes);
            continue;
        }
        if (const auto text = optionValue("--sleep-minute", i, argc, argv)) {
            const auto ms = tools::wholeNumberIn(*text, 100, 60000);
            if (!ms) {
                return "--sleep-minute needs milliseconds from 100 to 60000";
            }
            options.sleepMinute = std::chrono::milliseconds(*ms);
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
    if (options.reconnect && options.output.kind == AudioOutputChoice::Kind::WavFile) {
        return "--reconnect plays to the sound device or --null, not --wav";
    }
    if (options.sleepMinutes && options.output.kind == AudioOutputChoice::Kind::WavFile) {
        return "--sleep plays to the sound device or --null, not --wav";
    }
    if (!haveUrl || options.url.empty()) {
        return "no URL given";
    }
    if (!Url::parse(percentEscapeUrlText(options.url))) {
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
    std::optional<Url> url = Url::parse(escaped);

    Wakeup wakeup;
    auto outputFailure = std::make_shared<OutputFailure>(wakeup);
    options.output.onFailure = [outputFailure](const std::string& text) {
        outputFailure->report(text);
    };
    // Made before the players, whose outputs tell it their first audio.
    std::unique_ptr<PlaySession> listener;
    options.output.onFirstAudio = [&listener] {
        if (listener) {
            listener->noteFirstAudio();
        }
    };
    // With a sleep timer the player plays through a mix of one feed, whose
    // gain makes the fade.
    std::unique_ptr<Mixer> mixer;
    std::shared_ptr<MixerFeed> feed;
    AudioOutputChoice playerOutput = options.output;
    std::optional<SleepSchedule> sleep;
    if (options.sleepMinutes) {
        MixerOptions oneFeed;
        oneFeed.feeds = 1;
        mixer = std::make_unique<Mixer>(options.output, oneFeed);
        feed = mixer->addFeed();
        playerOutput = feed->outputChoice();
        playerOutput.onFirstAudio = options.output.onFirstAudio;
        const auto minute = options.sleepMinute;
        sleep.emplace(std::chrono::steady_clock::now(), *options.sleepMinutes * minute, false,
                      minute * SleepSchedule::kFade.count() / 60);
    }
    // True once the sleep timer's time is up; sets the fade's gain meanwhile.
    bool fadeSaid = false;
    const auto sleepIsOver = [&] {
        if (!sleep) {
            return false;
        }
        const SleepSchedule::State state = sleep->advance(std::chrono::steady_clock::now(), false);
        feed->setGainDb(20 * std::log10(std::max(state.gain, kSleepQuietestGain)));
        if (state.phase == SleepSchedule::Phase::fading && !fadeSaid) {
            fadeSaid = true;
            say("sleep timer: fading out");
        }
        return state.phase == SleepSchedule::Phase::done;
    };
    // How long a wait may last before the sleep timer looks again; -1: no limit.
    const auto sleepTick = [&](int timeout) {
        const int tick = static_cast<int>(kSleepTick.count());
        return !sleep ? timeout : timeout < 0 ? tick : std::min(timeout, tick);
    };
    // The player's own lines are for diagnosis: only asked for.
    LogSink diagnostics = [verbose = options.verbose](std::string_view line) {
        if (verbose) {
            std::string text(line);
            text += '\n';
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        }
    };
    auto platform = std::make_shared<EngineServices>(playerOutput, std::move(diagnostics));
    auto alerts = std::make_shared<ToolAlerts>();
    bool stopRequested = false;
    std::shared_ptr<StreamRecorder> recorder;
    if (!options.recordPath.empty()) {
        recorder = std::make_shared<StreamRecorder>(
            [path = options.recordPath, first = true](const std::string& extension,
                                                      std::string&) mutable {
                return std::exchange(first, false) ? path : fileForFormat(path, extension);
            },
            true, [](const std::string& why) { say(why); },
            StreamRecorder::NextStream::appendWhileSameFormat);
    }
    // Ctrl-C (true) or a wake-up; waits at most `timeout` (-1: no limit).
    const auto waitForEvent = [&](int timeout) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeup.fd(), POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            return true;
        }
        if (fds[1].revents & POLLIN) {
            wakeup.drain();
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            while (read(signalFd, &info, sizeof info) == sizeof info) {
            }
            return true;
        }
        return false;
    };
    // One for each player: a reconnection's player decodes while the last
    // one plays out, and a stage serves one queue. The target it learned
    // carries over to the next. Two at most are in use: one playing out,
    // the next; what the ones before did is added up.
    std::deque<std::shared_ptr<CatchUpStage>> catchUps;
    CatchUpTotals caughtUp;
    // A reconnection plays on after the last frame heard.
    const std::shared_ptr<ResumeTrail> resume =
        options.reconnect ? std::make_shared<ResumeTrail>(sayResumption) : nullptr;
    listener = std::make_unique<PlaySession>(wakeup, [&](std::shared_ptr<AlertService> gate) {
        PelorinServices services;
        services.platform = platform;
        services.alerts = std::move(gate);
        services.tap = recorder;
        // auto: the press starts at the live edge, the catch-up does the rest.
        services.liveEdgeSeconds = options.catchUp ? std::optional<double>(kDefaultLiveEdgeSeconds)
                                                   : options.liveEdgeSeconds;
        if (options.catchUp) {
            auto stage = std::make_shared<CatchUpStage>(std::nullopt);
            if (!catchUps.empty()) {
                stage->carryTargetFrom(*catchUps.back());
            }
            catchUps.push_back(stage);
            if (catchUps.size() > 2) {
                caughtUp.add(*catchUps.front());
                catchUps.pop_front();
            }
            services.catchUp = std::move(stage);
        }
        services.resume = resume;
        std::shared_ptr<Pelorin> player = Pelorin::initWithURL(url, services);
        alerts->watch(player);
        say("connecting to " + withoutPassword(escaped));
        return player;
    });
    StationSession::Options sessionOptions;
    sessionOptions.alerts = alerts;
    sessionOptions.reconnect = options.reconnect;
    // Once it played, a station that goes silent is a drop, as in the window.
    sessionOptions.silence = options.reconnect
                                 ? std::optional<StationSession::SilenceLimits>(std::in_place)
                                 : std::nullopt;
    // The given waits are exact (no spread): a benchmark counts on them.
    if (options.reconnectWaits) {
        sessionOptions.backoff = StationSession::Backoff(*options.reconnectWaits, 0);
    }
    StationSession session(*listener, std::move(sessionOptions));
    session.start(std::chrono::steady_clock::now());
    while (session.state() != StationSession::State::Idle) {
        int timeout = -1;
        if (const auto next = session.nextDeadline()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *next - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        bool stopNow = false;
        if (waitForEvent(sleepTick(timeout)) && !stopRequested) {
            say("stopping");
            listener->noteStopRequested();
            stopNow = true;
        }
        if (!stopRequested && !stopNow && sleepIsOver()) {
            say("sleep timer: stopping");
            listener->noteStopRequested();
            stopNow = true;
        }
        // A recording that cannot be written any more ends playback.
        stopNow = stopNow || (!stopRequested && !outputFailure->text().empty());
        if (stopNow) {
            stopRequested = true;
            session.stop();
        }
        session.update(std::chrono::steady_clock::now());
    }
    const bool everPlayed = listener->finishPlayer();
    const std::string reason = listener->reason();
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));
    close(signalFd);
    for (const std::shared_ptr<CatchUpStage>& stage : catchUps) {
        caughtUp.add(*stage);
    }
    sayCaughtUp(caughtUp);
    if (recorder) {
        for (const std::string& file : recorder->files()) {
            say("recorded " + file);
        }
    }

    if (const std::string failure = outputFailure->text(); !failure.empty()) {
        say(failure);
        return 1;
    }

    if (alerts->shown() || (!everPlayed && !stopRequested)) {
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
