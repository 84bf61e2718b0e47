// orvento_bench_screen_directory: the community directory's 20,000
// air-traffic stations through the screen's real set-up from a loopback
// server speaking the directory's API, and the search over them.
//   - Load: from the start of set-up (no catalogue, no cache) to the
//     Directory scope shown and painted: the four tags' answers downloaded,
//     parsed and merged (each station once), on the fetch's thread; the
//     model and the list, on the main thread (the cache is written beside
//     them, on a thread of its own), timed apart from the list's arrival.
//   - Search: each keystroke of a few queries, from the key to the list
//     filtered and painted.
//   - Apart: the fetch alone, the cache made, and the cache read (which a
//     start from the cache does on the main thread).
// Runs on Qt's offscreen platform (unless QT_QPA_PLATFORM says otherwise).
// Prints figures, with the processor time a load takes beside its wall-clock
// time (a busy machine stretches the latter); asserts nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/StationListTiming.h"
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
    LoadFigures load;
    KeystrokeFigures keystrokes;
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
    // The list has arrived when the model starts taking it.
    QObject::connect(&stations, &StationListModel::modelAboutToBeReset, &screen, [&] {
        if (f.arrived == 0 && !screen.directory().list().stations.isEmpty()) {
            f.arrived = elapsedMs(clock);
        }
    });
    f.load = timeLoad(screen, stations, kStations, clock);
    f.keystrokes = timeKeystrokes(screen, queries);
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
    std::vector<double> afterArrival;
    std::vector<double> processor;
    KeystrokeRuns keys;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = runOnce(server, queries);
        arrived.push_back(f.arrived);
        shown.push_back(f.load.shown);
        afterArrival.push_back(f.load.shown - f.arrived);
        processor.push_back(f.load.processor);
        keys.add(f.keystrokes);
    }
    // The steps on the fetch's thread, apart.
    std::vector<double> fetchOnly;
    std::vector<double> cacheOnly;
    std::vector<double> cacheRead;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer step;
        step.start();
        const DirectoryFetch fetch = fetchDirectory(
            {.server = QString::fromStdString(server.url("")), .listUrl = {}}, -1, {});
        fetchOnly.push_back(elapsedMs(step));
        step.restart();
        const QByteArray cache = writeDirectoryCache(*fetch.list);
        cacheOnly.push_back(elapsedMs(step));
        step.restart();
        const std::optional<DirectoryList> read = readDirectoryCache(cache);
        cacheRead.push_back(elapsedMs(step));
    }
    reportAgainst("  ", "fetched, parsed, merged and shown", shown, 300, "loads");
    std::printf("    of which arrived on the main thread by: mean %.1f ms, worst %.1f ms\n",
                mean(arrived), worst(arrived));
    std::printf("    then model, search keys and list shown: mean %.1f ms, worst %.1f ms\n",
                mean(afterArrival), worst(afterArrival));
    std::printf("    processor time of the load, every thread (server included): mean %.1f ms\n",
                mean(processor));
    std::printf(
        "    alone: the four tags fetched, parsed and merged: mean %.1f ms; the cache made: mean "
        "%.1f ms\n",
        mean(fetchOnly), mean(cacheOnly));
    std::printf(
        "    a start from the cache: the list read (main thread): mean %.1f ms, worst %.1f ms\n",
        mean(cacheRead), worst(cacheRead));
    keys.report("  ");
    return 0;
}
