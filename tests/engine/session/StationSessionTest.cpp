// The station session on its own, with time given by the test and players
// whose reports the test scripts: what it makes of each end, its waits, its
// silence watch and its stops.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/session/StationSession.h"

namespace orvento {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A player that reports when the test says so; a stop ends it at once,
// inside stop(), as a player stopped before its output ran does.
class ScriptedPlayer : public SessionPlayer {
  public:
    explicit ScriptedPlayer(std::shared_ptr<AlertService> alerts) : alerts_(std::move(alerts)) {}

    void playAfter(std::shared_ptr<PlayOutGate> gate) override { gate_ = std::move(gate); }
    void start(Listener& listener) override { listener_ = &listener; }
    void stop() override {
        if (!stopped_) {
            stopped_ = true;
            if (endsOnStop) {
                end();
            }
        }
    }
    void detach() override { listener_ = nullptr; }
    std::string failureReason() const override { return failure_; }
    bool endedComplete() const override { return complete_; }
    std::chrono::duration<double> outputStarved() override { return starved_; }
    std::uint64_t bytesReceived() const override { return bytes_; }
    std::optional<std::chrono::duration<double>> behindLive() const override {
        return std::nullopt;
    }

    void plays() {
        if (listener_) {
            listener_->plays(*this);
        }
    }
    void end() {
        if (listener_) {
            listener_->ended(*this);
        }
    }
    // The server closed: what it holds plays out, its end follows.
    void playsOut() {
        if (listener_) {
            listener_->playingOut(*this);
        }
    }
    // What it waits behind before it sounds: "none", "shut" or "open".
    std::string gate() const { return !gate_ ? "none" : gate_->isOpen() ? "open" : "shut"; }
    // As the stream player fails: its reason, its alert, then its end.
    void fail(const std::string& why) {
        failure_ = why;
        alerts_->showAlert("Audio Error", "failed", "OK");
        end();
    }
    void endWhole() {
        complete_ = true;
        end();
    }
    void starve(double seconds) { starved_ = std::chrono::duration<double>(seconds); }
    void receive(std::uint64_t bytes) { bytes_ = bytes; }
    // False once its output runs: the end of a stop comes later.
    bool endsOnStop = true;

  private:
    const std::shared_ptr<AlertService> alerts_;
    Listener* listener_ = nullptr;
    bool stopped_ = false;
    bool complete_ = false;
    std::string failure_;
    std::chrono::duration<double> starved_{0};
    std::uint64_t bytes_ = 0;
    std::shared_ptr<PlayOutGate> gate_;
};

// What the session tells, in a few words a line.
class Recorder : public StationSession::Listener, public AlertService {
  public:
    void sessionHasNews() override { ++news; }
    std::shared_ptr<SessionPlayer> createPlayer(std::shared_ptr<AlertService> alerts) override {
        players.push_back(std::make_shared<ScriptedPlayer>(std::move(alerts)));
        said.emplace_back("new");
        return players.back();
    }
    void playing() override { said.emplace_back("playing"); }
    void audioFlowing(bool flowing) override { flows = flowing; }
    void reconnectionStep(const StationSession::Countdown& c) override {
        using Step = StationSession::Countdown::Step;
        std::ostringstream line;
        line << (c.step == Step::Dropped ? "drop"
                 : c.step == Step::Tick  ? "tick"
                                         : "retry")
             << c.attempt;
        if (c.step != Step::Starting) {
            line << " " << c.wait.count();
        }
        if (c.step == Step::Dropped && !c.cause.empty()) {
            line << ": " << c.cause;
        }
        said.push_back(line.str());
    }
    void reconnectionChanged(bool on) override { said.emplace_back(on ? "on" : "off"); }
    void ended(const StationSession::Ending& e) override {
        std::string line = "end";
        line += e.heard ? " heard" : "";
        line += e.stopped ? " stopped" : "";
        line += e.complete ? " whole" : "";
        said.push_back(e.cause.empty() ? line : line + ": " + e.cause);
    }
    void starved(seconds s) override { said.push_back("starved " + std::to_string(s.count())); }
    void showAlert(const std::string&, const std::string&, const std::string&) override {
        said.emplace_back("alert");
    }

    std::vector<std::shared_ptr<ScriptedPlayer>> players;
    std::vector<std::string> said;
    int news = 0;
    bool flows = false;
};

struct Row {
    const char* name;
    // Steps, one a line: "start", "stop", "restart", "running", "plays+stop", "retry", "plays",
    // "flicker", "ends", "whole", "fails WHY", "starve SECONDS", "bytes N" (of the newest player),
    // "off" (reconnect), "at MS" (time passes to MS, the owner updating at each deadline). The
    // owner updates after each other step.
    const char* steps;
    const char* said;  // " / " between the lines
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class SessionRuns : public testing::TestWithParam<Row> {};

TEST_P(SessionRuns, AsScripted) {
    Recorder recorder;
    StationSession::Options options;
    options.alerts = std::shared_ptr<AlertService>(&recorder, [](AlertService*) {});
    options.backoff =
        StationSession::Backoff({milliseconds(0), milliseconds(1000), milliseconds(2500)}, 0);
    options.silence = StationSession::SilenceLimits{seconds(2), seconds(10), seconds(20)};
    StationSession session(recorder, options);
    const StationSession::TimePoint start{std::chrono::hours(1)};
    StationSession::TimePoint now = start;

    // As an owner does: an update for news (a stop reports inside itself).
    int answered = 0;
    const auto answerNews = [&] {
        while (answered < recorder.news) {
            answered = recorder.news;
            session.update(now);
        }
    };

    std::istringstream steps(GetParam().steps);
    std::string step;
    while (std::getline(steps, step)) {
        std::istringstream words(step);
        std::string verb;
        words >> verb;
        std::string rest;
        std::getline(words >> std::ws, rest);
        ScriptedPlayer* player = recorder.players.empty() ? nullptr : recorder.players.back().get();
        if (verb == "at") {
            const auto until = start + milliseconds(std::stoll(rest));
            for (auto next = session.nextDeadline(); next && *next <= until;
                 next = session.nextDeadline()) {
                now = std::max(now, *next);
                session.update(now);
                answerNews();
            }
            now = std::max(now, until);
            continue;
        }
        if (verb == "start") {
            session.start(now);
        } else if (verb == "stop") {
            EXPECT_TRUE(session.stop());
        } else if (verb == "running") {
            player->endsOnStop = false;
        } else if (verb == "plays+stop") {  // stopped before the owner took the report
            player->plays();
            EXPECT_TRUE(session.stop());
        } else if (verb == "restart") {  // a stop, and a start before the end is taken
            EXPECT_TRUE(session.stop());
            session.start(now);
        } else if (verb == "retry") {
            session.retryNow(now);
        } else if (verb == "plays") {
            player->plays();
        } else if (verb == "flicker") {  // plays and ends before the owner looks
            player->plays();
            player->end();
        } else if (verb == "ends") {
            player->end();
        } else if (verb == "whole") {
            player->endWhole();
        } else if (verb == "fails") {
            player->fail(rest);
        } else if (verb == "starve") {
            player->starve(std::stod(rest));
        } else if (verb == "bytes") {
            player->receive(std::stoull(rest));
        } else if (verb == "off") {
            session.setReconnect(false);
        } else if (verb == "playsOut") {
            player->playsOut();
        } else if (verb == "earlierEnds") {  // the player before the newest
            recorder.players.at(recorder.players.size() - 2)->end();
        } else if (verb == "gate") {
            recorder.said.push_back("gate " + player->gate());
        } else {
            FAIL() << "unknown step " << step;
        }
        session.update(now);
        answerNews();
    }
    std::string said;
    for (const std::string& line : recorder.said) {
        said += said.empty() ? line : " / " + line;
    }
    EXPECT_EQ(said, GetParam().said);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionRuns,
    testing::Values(
        // A drop: at once, then the waits grow while it fails, told a second
        // at a time; audio again ends the reconnection and starts the waits afresh.
        Row{"DropWaitsAndComesBack",
            "start\nplays\nat 5000\nends\nat 5000\nfails 503\nat 9000\nfails 503\nat 13000\n"
            "plays\nat 14000\nends\nat 14000",
            "new / playing / drop0 0 / on / retry0 / new / drop1 1000: 503 / retry1 / new / "
            "drop2 2500: 503 / tick2 1500 / tick2 500 / retry2 / new / off / playing / drop0 0 / "
            "on / retry0 / new"},
        // retryNow cuts the wait short.
        Row{"RetriedNow", "start\nplays\nends\nat 0\nfails 503\nretry",
            "new / playing / drop0 0 / on / retry0 / new / drop1 1000: 503 / retry1 / new"},
        // Nothing heard: a failure is the end, with its alert; never tried again.
        Row{"NeverPlayed", "start\nfails 503\nat 60000", "new / alert / end: 503"},
        // A plays report taken back before the owner saw it is no audio.
        Row{"ContradictedReport", "start\nflicker\nat 60000", "new / end"},
        Row{"FailedBeforeItRan", "start\nfails bad\nplays\nat 60000", "new / alert / end: bad"},
        Row{"ReconnectOff", "start\nplays\noff\nfails 503",
            "new / playing / alert / end heard: 503"},
        // A recording served whole ended; it did not drop.
        Row{"WholeIsNoDrop", "start\nplays\nwhole\nat 60000", "new / playing / end heard whole"},
        // The server closes: the next attempt connects at once and sounds once
        // the last audio has played out. A stop meanwhile stops both; so does
        // the next drop, for the first.
        Row{"ConnectsAgainWhileTheLastAudioPlaysOut",
            "start\nplays\nplaysOut\nat 0\ngate\nearlierEnds\ngate\nplays",
            "new / playing / drop0 0 / on / retry0 / new / gate shut / gate open / off / "
            "playing"},
        Row{"AStopWhileTheLastAudioPlaysOut", "start\nplays\nplaysOut\nat 0\nstop\ngate\nat 60000",
            "new / playing / drop0 0 / on / retry0 / new / off / end stopped / gate open"},
        Row{"NoPlayOutBeforeAudio", "start\nplaysOut\nends\nat 60000", "new / end"},
        // Stops: of the player, and between two attempts (nothing starts after it).
        Row{"StopWhilePlaying", "start\nplays\nstop\nat 60000",
            "new / playing / end heard stopped"},
        // The stopped player's end, taken after the next start, is no end of it.
        Row{"RestartedBeforeTheEndIsTaken", "start\nplays\nrestart\nplays\nstop",
            "new / playing / new / playing / end heard stopped"},
        // Stopped while the plays report is on its way: heard, and stopped.
        Row{"StopWhileThePlaysReportIsOnItsWay", "start\nrunning\nplays+stop\nat 1000\nends",
            "new / end heard stopped"},
        Row{"StopWhileWaiting", "start\nplays\nends\nat 0\nfails 503\nat 200\nstop\nat 60000",
            "new / playing / drop0 0 / on / retry0 / new / drop1 1000: 503 / end heard stopped / "
            "off"},
        Row{"StopWhileConnectingAgain", "start\nplays\nends\nat 0\nstop\nat 60000",
            "new / playing / drop0 0 / on / retry0 / new / off / end stopped"},
        // Silence: a notice and audio again; then a drop at the limit, with
        // no alert (it is brought back).
        Row{"SilenceNoticeThenDrop",
            "start\nplays\nat 1000\nstarve 2.1\nat 1300\nstarve 0\nat 1600\nstarve 10\nat 1900",
            "new / playing / starved 2 / playing / drop0 0: the station sent no audio for 10 s / "
            "on / retry0 / new"},
        // Nothing heard 20 s after the start: a failure, with its alert.
        Row{"ConnectLimit", "start\nbytes 27\nat 19900\nat 20000",
            "new / alert / end: the station sent 27 bytes in 20 s, too little to play"},
        // A reconnection's player that hears nothing is given up and the
        // next one waits.
        Row{"ConnectLimitWhileBack", "start\nplays\nends\nat 20300",
            "new / playing / drop0 0 / on / retry0 / new / drop1 1000: the station sent 0 bytes "
            "in 20 s, too little to play"}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// The owner is told of every report on the reporting thread, and nothing
// changes before its update; a stopped session has no deadline.
TEST(SessionOwnerThread, ReportsWaitForTheUpdate) {
    Recorder recorder;
    StationSession::Options options;
    options.alerts = std::shared_ptr<AlertService>(&recorder, [](AlertService*) {});
    StationSession session(recorder, options);
    const StationSession::TimePoint now{std::chrono::hours(1)};
    session.start(now);
    EXPECT_EQ(session.state(), StationSession::State::Connecting);
    EXPECT_EQ(session.nextDeadline(), now + StationSession::kWatchInterval);
    recorder.players.back()->plays();
    EXPECT_EQ(recorder.news, 1);
    EXPECT_EQ(session.state(), StationSession::State::Connecting);
    session.update(now);
    EXPECT_EQ(session.state(), StationSession::State::Playing);
    EXPECT_TRUE(recorder.flows);
    session.stop();  // the player ends inside its stop
    EXPECT_EQ(recorder.news, 2);
    EXPECT_EQ(session.state(), StationSession::State::Stopping);
    session.update(now);
    EXPECT_EQ(session.state(), StationSession::State::Idle);
    EXPECT_FALSE(recorder.flows);
    EXPECT_EQ(session.nextDeadline(), std::nullopt);
}

}  // namespace
}  // namespace orvento
