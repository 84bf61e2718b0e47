// orvento-station-server: a small local radio station for demos and tests.
// Serves one audio file over HTTP on 127.0.0.1, once or endlessly, paced in
// real time at the file's own bit rate (optionally after an initial burst);
// or, with --site, the whole local station site (StationSite.h): catalogue,
// weather reports and several live stations.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/NumberOption.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/station-server/StationSite.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

constexpr const char* kUsage =
    "usage: orvento-station-server FILE [options]\n"
    "       orvento-station-server --site [--port PORT] [--burst BYTES] [--site-dir DIR]\n"
    "\n"
    "Serves FILE on http://127.0.0.1:<port>/<name of FILE> and prints that URL\n"
    "on standard output, then serves every request until Ctrl-C or SIGTERM.\n"
    "\n"
    "  --loop         repeat the file for ever (a live station); default: once\n"
    "  --rate BYTES   pace the body at BYTES per second (1 to 1073741824);\n"
    "                 default: the file's own bit rate, found by parsing it\n"
    "  --fast         no pacing: as fast as the client reads\n"
    "  --burst BYTES  send BYTES (0 to 1073741824) at once before the pacing\n"
    "                 starts\n"
    "  --icy          answer with the status line \"ICY 200 OK\"\n"
    "  --chunked      send the body with chunked transfer coding\n"
    "  --path PATH    serve at PATH instead of /<name of FILE>\n"
    "  --port PORT    listen on PORT; default: a free port of the system's choice\n"
    "  -h, --help     show this text\n"
    "\n"
    "With --site it serves the local station site instead, the same way, and\n"
    "prints its base URL (http://127.0.0.1:<port>): the value for\n"
    "ORVENTO_CATALOGUE_URL, ORVENTO_WEATHER_URL and ORVENTO_DIRECTORY_URL.\n"
    "  /js_kur/qelmoraiosapp.json                       the station catalogue\n"
    "  //pub/data/observations/metar/stations/LTBA.TXT  the METAR report\n"
    "  //pub/data/forecasts/taf/stations/LTBA.TXT       the TAF report\n"
    "                        (and the same for LTFM, KSFO, KBOS and EGLL; the\n"
    "                        reports' times are made current as they are served)\n"
    "  /stations/...         the live stations the catalogue lists: each sends\n"
    "                        --burst BYTES (default 65536) at once to a new\n"
    "                        listener, then plays in real time, round and round\n"
    "  /json/stations/bytagexact/TAG  the community directory's answer for an\n"
    "                        air-traffic tag: the live stations again\n"
    "  /json/url/ID          the directory's count of a station's play\n"
    "  /misbehaving/error-page.mp3   a 404 page\n"
    "  /misbehaving/stall.mp3        a station that stops sending after 40000 bytes\n"
    "  /misbehaving/close.mp3        a station that hangs up after 40000 bytes\n"
    "  /misbehaving/icy.mp3          a station that answers \"ICY 200 OK\"\n"
    "  /timing/markers.mp3   a station of hiss with a 150 ms tone every 10 s\n"
    "                        (600 Hz, then 200 Hz higher each time up to 2000 Hz,\n"
    "                        then again), for timing how far behind live a\n"
    "                        player plays\n"
    "  --site-dir DIR  the site's audio and weather files; default: the build's\n";

// The most --rate and --burst take.
constexpr std::uint64_t kMaxBytes = 1 << 30;

int fail(const std::string& text) {
    std::fprintf(stderr, "orvento-station-server: %s\n%s", text.c_str(), kUsage);
    return 2;
}

// Blocks SIGINT and SIGTERM in every thread (call before any thread starts)
// and returns them, for waitForStop.
sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

void waitForStop(const sigset_t& signals) {
    int received = 0;
    sigwait(&signals, &received);
}

int runSite(const std::filesystem::path& folder, std::uint16_t port, std::uint64_t burst) {
    const sigset_t signals = stopSignals();
    site::SiteOptions options;
    options.folder = folder;
    options.port = port;
    options.burstBytes = burst;
    std::optional<site::StationSite> served;
    try {
        served.emplace(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvento-station-server: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", served->baseUrl().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "orvento-station-server: the station site is at %s with %zu stations\n",
                 served->baseUrl().c_str(), served->stations().size());
    waitForStop(signals);
    return 0;
}

int run(int argc, char** argv) {
    std::optional<std::filesystem::path> file;
    bool site = false;
    std::filesystem::path siteDir = ORVENTO_STATION_SITE_DIR;
    std::optional<std::uint16_t> port;
    std::optional<std::uint64_t> siteBurst;
    bool loop = false;
    bool fast = false;
    bool icy = false;
    bool chunked = false;
    std::optional<double> rate;
    std::uint64_t burst = 0;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 == argc) {
                std::fprintf(stderr, "orvento-station-server: %s needs a value\n", name);
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--site") {
            site = true;
        } else if (arg == "--site-dir") {
            auto v = value(argv[i]);
            if (!v) {
                return 2;
            }
            siteDir = *v;
        } else if (arg == "--port") {
            auto v = value(argv[i]);
            if (!v) {
                return 2;
            }
            const auto number = tools::wholeNumberIn(*v, 1, 65535);
            if (!number) {
                return fail("--port takes a port number from 1 to 65535");
            }
            port = static_cast<std::uint16_t>(*number);
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--fast") {
            fast = true;
        } else if (arg == "--icy") {
            icy = true;
        } else if (arg == "--chunked") {
            chunked = true;
        } else if (arg == "--rate" || arg == "--burst" || arg == "--path") {
            auto v = value(argv[i]);
            if (!v) {
                return 2;
            }
            if (arg == "--path") {
                path = *v;
            } else if (arg == "--rate") {
                rate = tools::numberIn(*v, 1, static_cast<double>(kMaxBytes));
                if (!rate) {
                    return fail("--rate takes a number of bytes per second from 1 to 1073741824");
                }
            } else {
                const auto value = tools::wholeNumberIn(*v, 0, kMaxBytes);
                if (!value) {
                    return fail("--burst takes a whole number of bytes from 0 to 1073741824");
                }
                burst = *value;
                siteBurst = *value;
            }
        } else if (arg.starts_with("-")) {
            return fail("unknown option " + std::string(arg));
        } else if (file) {
            return fail("give exactly one FILE");
        } else {
            file = std::filesystem::path(arg);
        }
    }
    if (site) {
        if (file) {
            return fail("--site serves the station site, not a FILE");
        }
        return runSite(siteDir, port.value_or(0), siteBurst.value_or(site::kDefaultBurstBytes));
    }
    if (!file) {
        return fail("no FILE given");
    }
    std::string bytes;
    try {
        bytes = site::readWholeFile(*file);
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    Script script = Script::fixed(bytes, "audio/mpeg");
    if (loop) {
        script.repeated();
    }
    if (!fast) {
        if (!rate) {
            rate = site::audioByteRate(*file, bytes);
        }
        if (!rate) {
            return fail("cannot tell the bit rate of " + file->string() + "; give --rate");
        }
        script.paced(*rate, burst);
    }
    if (icy) {
        script.withStatusLine("ICY 200 OK");
    }
    if (chunked) {
        script.chunked();
    }
    if (path.empty()) {
        path = "/" + file->filename().string();
    }

    // Signals arrive as data for sigwait: blocked before the server's threads start.
    const sigset_t signals = stopSignals();
    std::optional<LoopbackServer> listening;
    try {
        listening.emplace(LoopbackServer::Transport::plain, port.value_or(0));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvento-station-server: %s\n", e.what());
        return 1;
    }
    LoopbackServer& server = *listening;
    server.setScript(path, script);
    std::printf("%s\n", server.url(path).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "orvento-station-server: serving %s%s at %s\n", file->c_str(),
                 loop ? " endlessly" : "",
                 fast ? "full speed" : (std::to_string(static_cast<long>(*rate)) + " B/s").c_str());
    waitForStop(signals);
    return 0;
}

}  // namespace
}  // namespace orvento

int main(int argc, char** argv) {
    return orvento::run(argc, argv);
}
