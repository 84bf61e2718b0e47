// The local station site: a small web site on 127.0.0.1 with everything the
// Orvento window fetches, for demos, tests and benchmarks:
//
//   /js_kur/qelmoraiosapp.json                        the station catalogue, a JSON array
//                                                     of {"a": name, "d": stream URL}
//   //pub/data/observations/metar/stations/LTBA.TXT   the METAR report (text)
//   //pub/data/forecasts/taf/stations/LTBA.TXT        the TAF report (text)
//   ... and the same for each of kSiteAirports (LTFM, KSFO, KBOS, EGLL)
//   /stations/...                                     the stations (see kSiteStations)
//   /timing/markers.mp3                               the marker station (MarkerStation.h)
//   /json/stations/bytagexact/<tag>                   the community directory's answer
//                                                     for an air-traffic tag: the stations
//   /json/url/<stationuuid>                           the directory's click of a station
//
// Each station streams its file endlessly, as a live internet-radio station
// does: an initial burst (what such a server keeps ready for a new listener),
// then in real time at the file's own bit rate, with no length, until the
// listener hangs up. Beside them the site keeps routes that misbehave, for
// trying out failures (kMisbehavingRoutes), and the marker station, for
// timing players; the catalogue lists neither.
//
// The audio and weather files come from a folder made at build time
// (make-site-audio and site/*.txt, copied into <build>/tools/station-server/site).
// The weather reports are made current as they are served (SiteReports.h):
// a METAR issued minutes ago, a TAF whose periods lie ahead.
//
// Threads: the site serves on its LoopbackServer's threads; its own members
// only read what the constructor built and may be called from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/loopback/LoopbackServer.h"

namespace orvento::site {

inline constexpr const char* kCataloguePath = "/js_kur/qelmoraiosapp.json";
inline constexpr const char* kMetarPath = "//pub/data/observations/metar/stations/LTBA.TXT";
inline constexpr const char* kTafPath = "//pub/data/forecasts/taf/stations/LTBA.TXT";

// The part of the community directory's API the site serves (as
// ORVENTO_DIRECTORY_URL), with the tags' paths as a client sends them.
inline constexpr const char* kDirectoryTagPrefix = "/json/stations/bytagexact/";
inline constexpr const char* kDirectoryTagPaths[] = {"atc", "air%20traffic%20control", "aviation",
                                                     "airband"};
inline constexpr const char* kDirectoryClickPrefix = "/json/url/";

// What a station server such as Icecast sends a new listener at once by default.
inline constexpr std::uint64_t kDefaultBurstBytes = 65536;

struct StationFile {
    const char* name;  // the catalogue's "a"
    const char* path;  // the route; its URL is the catalogue's "d"
    const char* file;  // in the site folder
    const char* contentType;
};

// In catalogue order. The AAC station's URL has no extension: a player must
// tell its format from the bytes.
inline constexpr StationFile kSiteStations[] = {
    {"Istanbul Tower 118.1 (demo)", "/stations/tower.mp3", "tower.mp3", "audio/mpeg"},
    {"Istanbul Approach 120.5 (demo, AAC)", "/stations/approach", "approach.aac", "audio/aac"},
    {"Istanbul Ground 121.8 (demo)", "/stations/ground.mp3", "ground.mp3", "audio/mpeg"},
    {"Istanbul ATIS 128.2 (demo)", "/stations/atis.mp3", "atis.mp3", "audio/mpeg"},
};

// Routes that fail in the ways real stations do.
inline constexpr const char* kErrorPageRoute = "/misbehaving/error-page.mp3";  // a 404 page
inline constexpr const char* kStallRoute =
    "/misbehaving/stall.mp3";  // stops sending after 40000 bytes
inline constexpr const char* kCloseRoute = "/misbehaving/close.mp3";  // hangs up after 40000 bytes
inline constexpr const char* kIcyRoute = "/misbehaving/icy.mp3";      // "ICY 200 OK", then plays on

struct SiteOptions {
    std::filesystem::path folder;  // the audio and weather files
    std::uint16_t port = 0;        // 0: a port of the kernel's choice
    std::uint64_t burstBytes = kDefaultBurstBytes;
};

struct SiteStation {
    std::string name;
    std::string url;
    double bytesPerSecond = 0;
    double fileSeconds = 0;  // the file's length in audio; the station repeats it
};

class StationSite {
  public:
    // Reads the site's files and starts serving. Throws std::runtime_error
    // naming what is missing or cannot be served.
    explicit StationSite(const SiteOptions& options);

    // "http://127.0.0.1:<port>": the base of every route above.
    std::string baseUrl() const;
    const std::vector<SiteStation>& stations() const { return stations_; }
    const SiteStation& markerStation() const { return markerStation_; }
    const std::string& catalogue() const { return catalogue_; }
    // An airport's METAR and TAF files as last served (as they would be
    // served now, before the first request).
    std::string metar(std::string_view airport = "LTBA") const;
    std::string taf(std::string_view airport = "LTBA") const;
    loopback::LoopbackServer& server() { return server_; }

  private:
    // The reports as last served, by path; shared with the server's threads.
    struct Served {
        mutable std::mutex mutex;
        std::map<std::string, std::string, std::less<>> byPath;
    };

    // Serves a station's file endlessly, paced at its own bit rate.
    SiteStation serveStation(const StationFile& station, const std::string& bytes,
                             const std::filesystem::path& file, std::uint64_t burstBytes);
    void serveReport(const std::string& path, const std::string& text);
    // The stations again, as the directory lists them.
    void serveDirectory();
    std::string served(const std::string& path) const;

    std::shared_ptr<Served> served_ = std::make_shared<Served>();
    loopback::LoopbackServer server_;
    std::vector<SiteStation> stations_;
    SiteStation markerStation_;
    std::string catalogue_;
};

// The directory's id of the site's station `station` (its index).
std::string directoryId(std::size_t station);

// An audio file's bytes per second of audio, from its parsed length; none
// when the parser cannot tell (not audio, or no whole packet).
std::optional<double> audioByteRate(const std::filesystem::path& file, const std::string& bytes);

// The whole file; throws std::runtime_error when it cannot be read or is empty.
std::string readWholeFile(const std::filesystem::path& file);

}  // namespace orvento::site
