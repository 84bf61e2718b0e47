// orvento_bench_screen_directory: the community directory's 20,000
// air-traffic stations through the screen's real set-up from a loopback
// server speaking the directory's API, and the search over them.
//   - Load: from the start of set-up (no catalogue, no cache) to the
//     Directory scope shown and painted: the four tags' answers downloaded,
//     parsed and merged (each station once) and the cache written, on the
//     fetch's thread; the model with its search keys and the list, on the
//     main thread, timed apart as "shown after arrival".
//   - Search: each keystroke of a few queries, from the key to the list
//     filtered and painted.
// Runs on Qt's offscreen platform (unless QT_QPA_PLATFORM says otherwise).
// Prints figures; asserts nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/StationDirectory.h"
#include "screen/OrventoViewController.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

constexpr int kStations = 20000;
constexpr int kRuns = 5;
// Each tag's answer also holds this many of the next tag's stations.
constexpr int kOverlap = 1000;

const char* const kPlaces[] = {"Istanbul", "Zurich",  "Sao Paulo", "Krakow", "Reykjavik",
                               "Boston",   "Chicago", "Frankfurt", "Tokyo",  "Ankara"};
const char* const kUnits[] = {"Tower", "Approach", "Ground", "Departure", "ATIS", "Center"};
const char* const kCountries[] = {"Türkiye", "Switzerland", "Brazil",
                                  "Poland",  "Iceland",     "The United States Of America"};

std::string station(int i) {
    const std::string id = "00000000-0000-4000-8000-" + std::to_string(100000000000 + i);
    return "{\"stationuuid\":\"" + id + "\",\"name\":\"" + kPlaces[i % 10] + " " + kUnits[i % 6] +
           " " + std::to_string(118 + i % 19) + "." + std::to_string(i % 10) +
           "\",\"url\":\"http://radio.example.net/s" + std::to_string(i) +
           ".pls\",\"url_resolved\":\"http://radio.example.net:8000/s" + std::to_string(i) +
           "\",\"country\":\"" + kCountries[i % 6] +
           "\",\"countrycode\":\"TR\",\"codec\":\"MP3\"," +
           "\"bitrate\":" + std::to_string(16 + 16 * (i % 8)) + ",\"hls\":0,\"lastcheckok\":1}";
}

// Tag t's answer: its quarter of the stations and the next quarter's first ones.
std::string tagAnswer(int tag) {
    const int quarter = kStations / 4;
    std::string body = "[";
    for (int i = tag * quarter; i < (tag + 1) * quarter + kOverlap && i < kStations; ++i) {
        body += (body.size() > 1 ? "," : "") + station(i);
    }
    return body + "]";
}

struct Figures {
    double arrived = 0;  // ms from the start of set-up to the list on the main thread
    double shown = 0;
    std::vector<double> keystrokes;
};

Figures runOnce(loopback::LoopbackServer& server, const std::vector<std::string>& queries) {
    const QTemporaryDir cache;
    PlaybackController controller;
    StationListModel stations;
    ScreenServices services;
    services.directory.server = QString::fromStdString(server.url(""));
    services.cacheFolder = cache.path();
    services.log = [](std::string_view) {};
    OrventoViewController screen(controller, stations, services);
    screen.show();
    QCoreApplication::processEvents();

    Figures f;
    QElapsedTimer clock;
    QObject::connect(&screen.directory(), &StationDirectory::fetched, &screen,
                     [&] { f.arrived = static_cast<double>(clock.nsecsElapsed()) / 1e6; });
    clock.start();
    screen.viewDidLoad();
    while (stations.rowCount() < kStations) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    screen.SelectbuttonClick(screen.selectButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    screen.repaint();
    f.shown = static_cast<double>(clock.nsecsElapsed()) / 1e6;

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

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    using namespace orvento;
    using namespace orvento::bench;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    loopback::LoopbackServer server;
    std::size_t bytes = 0;
    for (int tag = 0; tag < 4; ++tag) {
        const std::string body = tagAnswer(tag);
        bytes += body.size();
        const QString path = directoryTagPath(QString::fromUtf8(kDirectoryTags[tag]));
        server.setScript(path.section(u'?', 0, 0).toStdString(),
                         loopback::Script::fixed(body, "application/json").writesOf(65536));
    }
    std::printf(
        "directory of %d stations in 4 tags (%.1f MB, %d listed twice): set-up to the "
        "list shown, and the search (%d runs)\n",
        kStations, static_cast<double>(bytes) / 1e6, 3 * kOverlap, kRuns);
    const std::vector<std::string> queries = {"istanbul app", "tower 118.1", "1181", "zurich",
                                              "xyz"};
    std::vector<double> arrived;
    std::vector<double> shown;
    std::vector<double> keys;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = runOnce(server, queries);
        arrived.push_back(f.arrived);
        shown.push_back(f.shown);
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
    // The steps on the fetch's thread, apart.
    std::vector<double> fetchOnly;
    std::vector<double> cacheOnly;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer step;
        step.start();
        const DirectoryFetch fetch = fetchDirectory(
            {.server = QString::fromStdString(server.url("")), .listUrl = {}}, -1, {});
        fetchOnly.push_back(static_cast<double>(step.nsecsElapsed()) / 1e6);
        step.restart();
        const QByteArray cache = writeDirectoryCache(*fetch.list);
        cacheOnly.push_back(static_cast<double>(step.nsecsElapsed()) / 1e6);
    }
    std::vector<double> afterArrival;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        afterArrival.push_back(shown[i] - arrived[i]);
    }
    std::printf(
        "  fetched, parsed, merged and shown (target 300 ms): mean %.1f ms, worst %.1f ms\n",
        mean(shown), worst(shown));
    std::printf("    of which on the main thread after arrival: mean %.1f ms, worst %.1f ms\n",
                mean(afterArrival), worst(afterArrival));
    std::printf(
        "    the four tags fetched, parsed and merged: mean %.1f ms; the cache made: mean "
        "%.1f ms\n",
        mean(fetchOnly), mean(cacheOnly));
    std::printf(
        "  a keystroke of the search (target 16 ms): mean %.2f ms, worst %.2f ms (%zu "
        "keys)\n",
        mean(keys), worst(keys), keys.size());
    return 0;
}
