// orvento_bench_screen_weather: the weather panel given a report as long as
// the screen accepts (256 KiB in 50,000 short lines, and a realistic one for
// comparison), through the screen's real set-up from a loopback server: the
// time from the last report's arrival to the panel shown and painted, and the
// memory the process holds more than before. Run on Qt's offscreen platform
// (set by the program unless QT_QPA_PLATFORM says otherwise). Prints figures;
// asserts nothing.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "controller/StationCatalogue.h"
#include "controller/WeatherReport.h"
#include "screen/OrventoViewController.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::bench {
namespace {

constexpr int kRuns = 5;

double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// 50,000 lines of a few characters each, 256 KiB in all.
std::string longReport() {
    std::string report;
    for (int line = 0; line < 50000; ++line) {
        report += "LTBA " + std::to_string(line % 10) + "\n";
    }
    report.resize(kWeatherMaxBytes, 'X');
    return report;
}

struct Figures {
    double milliseconds = 0;
    double extraMiB = 0;
    double extraMiBLater = 0;  // after 2 s more of the event loop (the lazy layout's batches)
};

Figures showOnce(const std::string& metar) {
    loopback::LoopbackServer server;
    server.setScript(kMetarPath, loopback::Script::fixed(metar));
    server.setScript(kTafPath, loopback::Script::fixed("TAF LTBA 141100Z"));
    PlaybackController controller;
    StationListModel stations;
    ScreenServices services;
    services.weatherBaseUrl = QString::fromStdString(server.url(""));
    services.log = [](std::string_view) {};
    OrventoViewController screen(controller, stations, services);
    screen.show();
    QCoreApplication::processEvents();
    const double before = residentMiB();
    QElapsedTimer shown;
    int arrived = 0;
    QObject::connect(&screen, &OrventoViewController::setUpDownloadArrived, &screen, [&] {
        if (++arrived == 2) {
            shown.start();  // the panel is filled right after this returns
        }
    });
    screen.viewDidLoad();
    while (!screen.metar->toPlainText().startsWith(QStringLiteral("METAR:"))) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    screen.repaint();
    QCoreApplication::processEvents();
    const double milliseconds = static_cast<double>(shown.nsecsElapsed()) / 1e6;
    const double extra = residentMiB() - before;
    QElapsedTimer later;
    later.start();
    while (later.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return {milliseconds, extra, residentMiB() - before};
}

void report(const char* what, const std::string& metar) {
    Figures worst;
    double total = 0;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = showOnce(metar);
        total += f.milliseconds;
        worst.milliseconds = std::max(worst.milliseconds, f.milliseconds);
        worst.extraMiB = std::max(worst.extraMiB, f.extraMiB);
        worst.extraMiBLater = std::max(worst.extraMiBLater, f.extraMiBLater);
    }
    std::printf(
        "  %s\n    mean %.1f ms, worst %.1f ms; extra memory up to %.1f MiB, %.1f MiB 2 s "
        "later\n",
        what, total / kRuns, worst.milliseconds, worst.extraMiB, worst.extraMiBLater);
}

}  // namespace
}  // namespace orvento::bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::printf("weather panel: from the last report's arrival to the panel painted (%d runs)\n",
                orvento::bench::kRuns);
    orvento::bench::report("a real METAR (two lines)",
                           "2024/05/14 12:20\nLTBA 141220Z 34012KT 9999 FEW030 19/11 Q1016\n");
    orvento::bench::report("256 KiB in 50,000 short lines (target: 100 ms, 10 MB)",
                           orvento::bench::longReport());
    return 0;
}
