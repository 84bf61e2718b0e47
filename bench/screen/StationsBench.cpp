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
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/StationListTiming.h"
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

struct Figures {
    double arrived = 0;  // ms from the start of set-up
    LoadFigures load;
    KeystrokeFigures keystrokes;
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
                     [&] { f.arrived = elapsedMs(clock); });
    f.load = timeLoad(screen, stations, kStations, clock);
    f.keystrokes = timeKeystrokes(screen, queries);
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
    KeystrokeRuns keys;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = runOnce(body, queries);
        arrived.push_back(f.arrived);
        filled.push_back(f.load.filled);
        shown.push_back(f.load.shown);
        processor.push_back(f.load.processor);
        keys.add(f.keystrokes);
    }
    reportAgainst("    ", "load and show", shown, 300, "loads");
    std::printf("      of which downloaded and parsed by %.1f ms, list filled by %.1f ms (means)\n",
                mean(arrived), mean(filled));
    std::printf("      processor time of the load, every thread: mean %.1f ms\n", mean(processor));
    keys.report("    ");
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
