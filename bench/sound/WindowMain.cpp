// orvento_sound_window [--monitor] URL...: the Orvento window (on whatever
// display or Qt platform the environment names) playing one URL as its
// station, or with --monitor the URLs together as the feeds of its monitor,
// until it is ended (SIGTERM). Its figures go to standard output as it ends:
// the whole process's CPU seconds and the wall seconds from kWarmUp after
// the start of playback, its resident and peak memory in KiB, and how many
// streams play at the end. For
// orvento_bench_sound, which runs it beside mpg123.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/OrventoApplication.h"

namespace {

constexpr std::chrono::seconds kWarmUp{5};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A "Vm...:" line of /proc/self/status, in KiB.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::strlen(field)));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool monitor = argc > 1 && std::strcmp(argv[1], "--monitor") == 0;
    std::vector<QString> urls;
    for (int i = monitor ? 2 : 1; i < argc; ++i) {
        urls.push_back(QString::fromLocal8Bit(argv[i]));
    }
    double cpuFrom = -1;
    double wallFrom = 0;
    orvento::LaunchHooks hooks;
    hooks.besideOthers = true;
    hooks.launched = [&](orvento::OrventoAppDelegate& delegate) {
        if (monitor && delegate.monitor() != nullptr) {
            for (std::size_t i = 0; i < urls.size(); ++i) {
                delegate.monitor()->add({QStringLiteral("Feed %1").arg(i + 1), urls[i]});
            }
            delegate.monitor()->play();
        } else if (!urls.empty()) {
            delegate.viewController()->textField->setText(urls.front());
            delegate.viewController()->button->click();
        }
        QTimer::singleShot(kWarmUp, [&] {
            cpuFrom = cpuSeconds();
            wallFrom = wallSeconds();
        });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] {
            // The streams playing at the end: the station, or the monitor's feeds.
            int playing = 0;
            const auto plays = [](const orvento::PlaybackController& player) {
                return player.playState() == orvento::PlaybackController::PlayState::Playing;
            };
            if (monitor && delegate.monitor() != nullptr) {
                for (int row = 0; row < delegate.monitor()->count(); ++row) {
                    playing += plays(delegate.monitor()->player(row)) ? 1 : 0;
                }
            } else {
                playing = plays(delegate.controller()) ? 1 : 0;
            }
            if (cpuFrom < 0) {
                std::puts("window: ended before its warm-up was over");
            } else {
                std::printf("window cpu %.6f wall %.6f rss %ld peak %ld playing %d\n",
                            cpuSeconds() - cpuFrom, wallSeconds() - wallFrom, statusKiB("VmRSS:"),
                            statusKiB("VmHWM:"), playing);
            }
            std::fflush(stdout);
        });
    };
    int count = 1;
    return orvento::orventoMain(count, argv, hooks);
}
