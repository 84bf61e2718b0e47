// What the station-list benchmarks share: the screen's real set-up timed to
// the list shown and painted, the search timed key by key, and a line of
// figures against a target.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "screen/OrventoViewController.h"

namespace orvento::bench {

// The process's processor time (every thread's), in ms: what a load costs,
// whatever else the machine runs meanwhile.
inline double processorMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The calling thread's processor time, in ms.
inline double threadProcessorMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double elapsedMs(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

struct LoadFigures {
    double filled = 0;     // ms from the start of set-up to the rows in the model
    double shown = 0;      // ... to the picker open and painted
    double processor = 0;  // processor ms from the start of set-up to shown
};

// Runs the screen's set-up from `clock` started (a caller's signal handler
// may read it meanwhile) to `rows` rows in `stations` and the picker open
// and painted.
inline LoadFigures timeLoad(OrventoViewController& screen, const StationListModel& stations,
                            int rows, QElapsedTimer& clock) {
    LoadFigures f;
    clock.start();
    const double processorAtStart = processorMs();
    screen.viewDidLoad();
    while (stations.rowCount() < rows) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    f.filled = elapsedMs(clock);
    screen.SelectbuttonClick(screen.selectButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    screen.repaint();
    f.shown = elapsedMs(clock);
    f.processor = processorMs() - processorAtStart;
    return f;
}

struct KeystrokeFigures {
    std::vector<double> wall;       // ms
    std::vector<double> processor;  // ms of the main thread's processor time
};

// Each keystroke of each query typed into the open picker's search field,
// from the key to the list filtered and painted.
inline KeystrokeFigures timeKeystrokes(OrventoViewController& screen,
                                       const std::vector<std::string>& queries) {
    KeystrokeFigures keys;
    QLineEdit* search = screen.stationBrowser->searchField();
    for (const std::string& query : queries) {
        search->clear();
        QCoreApplication::processEvents();
        for (std::size_t n = 1; n <= query.size(); ++n) {
            QElapsedTimer key;
            key.start();
            const double processorAtStart = threadProcessorMs();
            search->setText(QString::fromStdString(query.substr(0, n)));
            screen.picker()->repaint();
            keys.wall.push_back(elapsedMs(key));
            keys.processor.push_back(threadProcessorMs() - processorAtStart);
        }
    }
    return keys;
}

inline double mean(const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v) {
        sum += x;
    }
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

inline double worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// "<indent><what> (target N ms): mean X ms, worst Y ms (n): within the
// target" (or "the worst over it", or "the mean over it").
inline void reportAgainst(const char* indent, const char* what, const std::vector<double>& ms,
                          double targetMs, const char* count) {
    const char* verdict = mean(ms) > targetMs    ? "the mean over it"
                          : worst(ms) > targetMs ? "the worst over it"
                                                 : "within the target";
    std::printf("%s%s (target %.0f ms): mean %.2f ms, worst %.2f ms (%zu %s): %s\n", indent, what,
                targetMs, mean(ms), worst(ms), ms.size(), count, verdict);
}

// The keystrokes of every run, told against the 16 ms of a frame with their
// processor time under them.
struct KeystrokeRuns {
    KeystrokeFigures all;

    void add(const KeystrokeFigures& run) {
        all.wall.insert(all.wall.end(), run.wall.begin(), run.wall.end());
        all.processor.insert(all.processor.end(), run.processor.begin(), run.processor.end());
    }
    void report(const char* indent) const {
        reportAgainst(indent, "a keystroke of the search", all.wall, 16, "keys");
        std::printf(
            "%s  processor time of a keystroke (main thread): mean %.2f ms, worst %.2f ms\n",
            indent, mean(all.processor), worst(all.processor));
    }
};

}  // namespace orvento::bench
