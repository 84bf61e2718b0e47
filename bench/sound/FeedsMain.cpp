// orvento_sound_feeds: the sound benchmark's player of several streams at
// once, the way the monitor plays them: one stream player per URL, all into
// one mixer (or, with --streams, each into a device stream of its own, with
// no mixing controls). Not a user tool.
//
//   orvento_sound_feeds [--null | --streams] URL[,GAIN_DB[,PAN]]...
//
// Reads commands on standard input, one a line, for feed I (from 0):
//   gain I DB | pan I P | mute I 0/1 | solo I 0/1 | priority I 0/1
// and says "feed I playing" / "feed I ended" on standard error. Runs until
// SIGTERM or SIGINT.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/mix/Mixer.h"
#include "engine/net/Url.h"
#include "engine/player/EngineServices.h"
#include "engine/player/Pelorin.h"
#include "engine/player/WorkerRegistry.h"

namespace orvento {
namespace {

class Reporter : public PelorinObserver {
  public:
    explicit Reporter(std::size_t index) : index_(index) {}
    void isPlayingChanged(Pelorin& player) override {
        if (player.isPlaying() && !said_) {
            said_ = true;
            std::fprintf(stderr, "feed %zu playing\n", index_);
        }
    }
    void playerEnded(Pelorin& player) override {
        std::fprintf(stderr, "feed %zu ended %s\n", index_, player.failureReason().c_str());
    }

  private:
    const std::size_t index_;
    bool said_ = false;
};

void command(const std::string& line, const std::vector<std::shared_ptr<MixerFeed>>& feeds) {
    std::istringstream in(line);
    std::string what;
    std::size_t index = 0;
    double value = 0;
    if (!(in >> what >> index >> value) || index >= feeds.size() || feeds[index] == nullptr) {
        std::fprintf(stderr, "orvento_sound_feeds: cannot do \"%s\"\n", line.c_str());
        return;
    }
    MixerFeed& feed = *feeds[index];
    if (what == "gain") {
        feed.setGainDb(value);
    } else if (what == "pan") {
        feed.setPan(value);
    } else if (what == "mute") {
        feed.setMute(value != 0);
    } else if (what == "solo") {
        feed.setSolo(value != 0);
    } else if (what == "priority") {
        feed.setPriority(value != 0);
    }
}

int run(int argc, char** argv) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    AudioOutputChoice output;
    bool streams = false;
    std::vector<std::string> specs;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--null") {
            output.kind = AudioOutputChoice::Kind::Null;
        } else if (arg == "--streams") {
            streams = true;
        } else {
            specs.emplace_back(arg);
        }
    }
    Mixer mixer(output);
    std::vector<std::shared_ptr<MixerFeed>> feeds;
    std::vector<std::shared_ptr<Pelorin>> players;
    std::vector<std::unique_ptr<Reporter>> reporters;
    for (const std::string& spec : specs) {
        std::istringstream fields(spec);
        std::string url;
        std::getline(fields, url, ',');
        std::string gain = "0";
        std::string pan = "0";
        std::getline(fields, gain, ',');
        std::getline(fields, pan, ',');
        PelorinServices services;
        if (streams) {
            services.platform = std::make_shared<EngineServices>(output);
            feeds.push_back(nullptr);
        } else {
            std::shared_ptr<MixerFeed> feed = mixer.addFeed();
            if (feed == nullptr) {
                std::fprintf(stderr, "orvento_sound_feeds: at most %d feeds\n", kMaxFeeds);
                return 2;
            }
            feed->setGainDb(std::atof(gain.c_str()));
            feed->setPan(std::atof(pan.c_str()));
            services.platform = std::make_shared<EngineServices>(feed->outputChoice());
            feeds.push_back(feed);
        }
        auto player = Pelorin::initWithURL(Url::parse(url), services);
        reporters.push_back(std::make_unique<Reporter>(players.size()));
        player->addObserver(reporters.back().get());
        player->start();
        players.push_back(player);
    }
    // Commands and the stop signal, on this thread.
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    std::string pending;
    bool input = true;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {input ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[0].revents & POLLIN) != 0) {
            break;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[512];
            const ssize_t n = read(0, buffer, sizeof buffer);
            input = n > 0;
            pending.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                command(pending.substr(0, end), feeds);
                pending.erase(0, end + 1);
            }
        }
    }
    for (const auto& player : players) {
        player->stop();
    }
    for (std::size_t i = 0; i < players.size(); ++i) {
        players[i]->waitUntilEnded(std::chrono::seconds(10));
        players[i]->removeObserver(reporters[i].get());
    }
    players.clear();
    WorkerRegistry::shared().shutdown(std::chrono::seconds(10));
    close(signalFd);
    return 0;
}

}  // namespace
}  // namespace orvento

int main(int argc, char** argv) {
    return orvento::run(argc, argv);
}
