// orvento_bench_screen_stations: a catalogue of 20,000 stations through the
// screen's real set-up from a loopback server, and the search over it.
//   - Load: from the start of set-up to the station list shown and painted
//     (download, parsing on the download's thread, the model with its
//     search keys, the picker opened), with the arrival of the download and
//     the list's filling as steps.
//   - Search: each keystroke of a few queries typed into the search field,
//     from the key to the list filtered and painted.
// Twice: a catalogue of plain names, and one whose names are hostile (a
// name of 1 MB, right-to-left and zero-width characters, line breaks).
// Runs on Qt's offscreen platform (unless QT_QPA_PLATFORM says otherwise).
// Prints figures, with the processor time a load takes beside its wall-clock
// time (a busy machine stretches the latter); asserts nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "controller/StationCatalogue.h"
#include "screen/OrventoViewController.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

constexpr int kStations = 20000;
constexpr int kRuns = 5;

const char* const kPlaces[] = {"İstanbul", "Zürich",   "São Paulo", "Kraków",   "Reykjavík",
                               "Boston",   "Chicago",  "Frankfurt", "Tōkyō",    "Ankara",
                               "Madrid",   "New York", "Sydney",    "Montréal", "Dublin"};
const char* const kUnits[] = {"Tower", "Approach", "Ground", "Departure", "ATIS", "Center"};
const char* const kCodes[] = {"LTBA", "LSZH", "SBGR", "EPKK", "BIRK", "KBOS", "KORD", "EDDF",
                              "RJTT", "LTAC", "LEMD", "KJFK", "YSSY", "CYUL", "EIDW"};

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Station i's name: a place, a unit, a frequency and a code; hostile names
// now and then when `hostile`.
std::string name(int i, bool hostile) {
    const int place = i % 15;
    std::string text = std::string(kPlaces[place]) + " " + kUnits[i % 6] + " " +
                       std::to_string(118 + i % 19) + "." + std::to_string(i % 10) + " (" +
                       kCodes[place] + ")";
    if (hostile && i == kStations / 2) {
        return text + std::string(1 << 20, 'x');
    }
    if (hostile && i % 7 == 0) {
        return "\u202e" + text + "\u200b\n\u05de\u05d2\u05d3\u05dc \u0628\u0631\u062c\t";
    }
    return text;
}

std::string catalogue(bool hostile) {
    std::string body = "[";
    for (int i = 0; i < kStations; ++i) {
        body += (i == 0 ? "" : ",") + std::string("{\"a\":") + jsonString(name(i, hostile)) +
                ",\"d\":\"http://radio.example.net:8000/s" + std::to_string(i) +
                ".mp3\",\"f\":" + std::to_string(i) + "}";
    }
    return body + "]";
}

// The process's processor time (every thread's), in ms: what the load
// costs, whatever else the machine runs meanwhile.
double processorMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Figures {
    double arrived = 0;  // ms from the start of set-up
    double filled = 0;
    double shown = 0;
    double processor = 0;  // processor ms from the start of set-up to shown (server included)
    std::vector<double> keystrokes;
};

Figures runOnce(const std::string& body, const std::vector<std::string>& queries) {
    loopback::LoopbackServer server;
    server.setScript(kCataloguePath, loopback::Script::fixed(body, "application/json"));
    PlaybackController controller;
    StationListModel stations;
    ScreenServices services;
    services.catalogueBaseUrl = QString::fromStdString(server.url(""));
    services.log = [](std::string_view) {};
    OrventoViewController screen(controller, stations, services);
    screen.show();
    QCoreApplication::processEvents();

    Figures f;
    QElapsedTimer clock;
    QObject::connect(&screen, &OrventoViewController::setUpDownloadArrived, &screen,
                     [&] { f.arrived = static_cast<double>(clock.nsecsElapsed()) / 1e6; });
    clock.start();
    const double processorAtStart = processorMs();
    screen.viewDidLoad();
    while (stations.rowCount() < kStations) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    f.filled = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    screen.SelectbuttonClick(screen.selectButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    screen.repaint();
    f.shown = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    f.processor = processorMs() - processorAtStart;

    QLineEdit* search = screen.stationBrowser->searchField();
    for (const std::string& query : queries) {
        search->clear();
        QCoreApplication::processEvents();
        for (std::size_t n = 1; n <= query.size(); ++n) {
            QElapsedTimer key;
            key.start();
            search->setText(QString::fromStdString(query.substr(0, n)));
            screen.picker()->repaint();
            f.keystrokes.push_back(static_cast<double>(key.nsecsElapsed()) / 1e6);
        }
    }
    return f;
}

void report(const char* what, bool hostile) {
    const std::string body = catalogue(hostile);
    const std::vector<std::string> queries = {"istanbul app", "İSTANBUL", "1181", "118.1",
                                              "zurich tower", "ltba",     "xyz"};
    std::printf("  %s (%.1f MB)\n", what, static_cast<double>(body.size()) / 1e6);
    std::vector<double> arrived;
    std::vector<double> filled;
    std::vector<double> shown;
    std::vector<double> processor;
    std::vector<double> keys;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = runOnce(body, queries);
        arrived.push_back(f.arrived);
        filled.push_back(f.filled);
        shown.push_back(f.shown);
        processor.push_back(f.processor);
        keys.insert(keys.end(), f.keystrokes.begin(), f.keystrokes.end());
    }
    const auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (const double x : v) {
            sum += x;
        }
        return sum / static_cast<double>(v.size());
    };
    const auto worst = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    };
    std::printf("    load and show (target 300 ms): mean %.1f ms, worst %.1f ms\n", mean(shown),
                worst(shown));
    std::printf("      of which downloaded and parsed by %.1f ms, list filled by %.1f ms (means)\n",
                mean(arrived), mean(filled));
    std::printf("      processor time of the load, every thread: mean %.1f ms\n", mean(processor));
    std::printf(
        "    a keystroke of the search (target 16 ms): mean %.2f ms, worst %.2f ms (%zu keys)\n",
        mean(keys), worst(keys), keys.size());
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::printf("station list of %d stations: set-up to the list shown, and the search (%d runs)\n",
                orvento::bench::kStations, orvento::bench::kRuns);
    orvento::bench::report("plain names", false);
    orvento::bench::report("hostile names: one of 1 MB, right-to-left, zero-width, line breaks",
                           true);
    return 0;
}
