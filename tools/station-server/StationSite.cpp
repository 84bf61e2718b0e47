#include "tools/station-server/StationSite.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <stdexcept>

#include "engine/demux/FileTypeHint.h"
#include "engine/demux/StreamParser.h"
#include "tools/station-server/MarkerStation.h"
#include "tools/station-server/SiteReports.h"
#include "weather/ServerFiles.h"

namespace orvento::site {
namespace {

using loopback::Script;

// Where a misbehaving station gives up.
constexpr std::uint64_t kMisbehaveAfterBytes = 40000;

// Frames and sample rate seen while parsing a whole file.
struct Measure final : StreamParser::Listener {
    std::unique_ptr<StreamParser> parser;
    AudioFormat format{};
    double frames = 0;
    bool ready = false;

    void handleStreamProperty(StreamProperty property) override {
        if (property == StreamProperty::ReadyToProducePackets) {
            const ParserResult<AudioFormat> dataFormat = parser->dataFormat();
            ready = static_cast<bool>(dataFormat);
            format = ready ? *dataFormat : AudioFormat{};
        }
    }

    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descs) override {
        if (descs.empty()) {
            if (format.bytesPerFrame > 0) {
                frames += static_cast<double>(bytes.size()) / format.bytesPerFrame;
            }
            return;
        }
        for (const PacketDescription& d : descs) {
            frames += d.framesInPacket != 0 ? d.framesInPacket : format.framesPerPacket;
        }
    }
};

// Text as a JSON string literal.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::optional<double> audioByteRate(const std::filesystem::path& file, const std::string& bytes) {
    Measure m;
    m.parser = makeStreamParser(m, fileTypeHintForFile(file));
    m.parser->feed(std::as_bytes(std::span(bytes.data(), bytes.size())));
    m.parser.reset();
    if (!m.ready || m.frames <= 0 || m.format.sampleRate <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(bytes.size()) / (m.frames / m.format.sampleRate);
}

std::string readWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.empty()) {
        throw std::runtime_error(file.string() + " is empty");
    }
    return bytes;
}

StationSite::StationSite(const SiteOptions& options)
    : server_(loopback::LoopbackServer::Transport::plain, options.port) {
    for (const char* airport : kSiteAirports) {
        const std::string code = airport;
        serveReport(weather::metarPath(code),
                    readWholeFile(options.folder / (code + "-metar.txt")));
        serveReport(weather::tafPath(code), readWholeFile(options.folder / (code + "-taf.txt")));
    }

    std::string first;  // the first station's audio, for the misbehaving routes
    double firstRate = 0;
    catalogue_ = "[\n";
    for (const StationFile& station : kSiteStations) {
        const std::filesystem::path file = options.folder / station.file;
        const std::string bytes = readWholeFile(file);
        stations_.push_back(serveStation(station, bytes, file, options.burstBytes));
        catalogue_ += std::string(stations_.size() > 1 ? ",\n" : "") +
                      "  {\"a\": " + jsonString(stations_.back().name) +
                      ", \"d\": " + jsonString(stations_.back().url) + "}";
        if (first.empty()) {
            first = bytes;
            firstRate = stations_.back().bytesPerSecond;
        }
    }
    catalogue_ += "\n]\n";
    server_.setScript(kCataloguePath, Script::fixed(catalogue_, "application/json"));
    serveDirectory();
    const std::filesystem::path markers = options.folder / kMarkerFile;
    markerStation_ = serveStation({"Markers", kMarkerRoute, kMarkerFile, "audio/mpeg"},
                                  readWholeFile(markers), markers, options.burstBytes);

    const auto live = [&] {
        return Script::fixed(first, "audio/mpeg")
            .repeated()
            .untilClose()
            .paced(firstRate, options.burstBytes);
    };
    server_.setScript(kErrorPageRoute, Script::notFound());
    server_.setScript(kStallRoute, live().stallAfter(kMisbehaveAfterBytes));
    server_.setScript(kCloseRoute, live().closeAfter(kMisbehaveAfterBytes));
    server_.setScript(kIcyRoute, live().withStatusLine("ICY 200 OK"));
}

void StationSite::serveDirectory() {
    std::string stations = "[";
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        const SiteStation& station = stations_[i];
        const std::string uuid = directoryId(i);
        const bool aac = station.url.find("/approach") != std::string::npos;
        stations +=
            std::string(i > 0 ? "," : "") + "{\"stationuuid\": " + jsonString(uuid) +
            ", \"name\": " + jsonString(station.name) + ", \"url\": " + jsonString(station.url) +
            ", \"url_resolved\": " + jsonString(station.url) +
            ", \"homepage\": \"\", \"favicon\": \"\", \"tags\": \"atc,air traffic control\"" +
            ", \"country\": \"Türkiye\", \"countrycode\": \"TR\", \"language\": \"english\"" +
            ", \"codec\": " + jsonString(aac ? "AAC" : "MP3") + ", \"bitrate\": " +
            std::to_string(static_cast<int>(station.bytesPerSecond * 8 / 1000 + 0.5)) +
            ", \"hls\": 0, \"lastcheckok\": 1, \"lastchecktime_iso8601\": "
            "\"2024-05-14T12:00:00Z\", \"votes\": 0, \"clickcount\": 0}";
        server_.setScript(
            kDirectoryClickPrefix + uuid,
            Script::fixed("{\"ok\": true, \"message\": \"retrieved station url\", "
                          "\"stationuuid\": " +
                              jsonString(uuid) + ", \"name\": " + jsonString(station.name) +
                              ", \"url\": " + jsonString(station.url) + "}",
                          "application/json"));
    }
    stations += "]";
    // Every tag lists the same stations: a client keeps each once.
    for (const char* tag : kDirectoryTagPaths) {
        server_.setScript(std::string(kDirectoryTagPrefix) + tag,
                          Script::fixed(stations, "application/json"));
    }
}

std::string directoryId(std::size_t station) {
    char id[64];
    std::snprintf(id, sizeof id, "0e7e4700-0000-4000-8000-%012zu", station);
    return id;
}

SiteStation StationSite::serveStation(const StationFile& station, const std::string& bytes,
                                      const std::filesystem::path& file, std::uint64_t burstBytes) {
    const std::optional<double> rate = audioByteRate(file, bytes);
    if (!rate) {
        throw std::runtime_error("cannot tell the bit rate of " + file.string());
    }
    server_.setScript(
        station.path,
        Script::fixed(bytes, station.contentType).repeated().untilClose().paced(*rate, burstBytes));
    return SiteStation{station.name, server_.url(station.path), *rate,
                       static_cast<double>(bytes.size()) / *rate};
}

void StationSite::serveReport(const std::string& path, const std::string& text) {
    const auto render = [served = served_, path, text] {
        std::string current = currentReport(text, std::chrono::system_clock::now());
        std::lock_guard lock(served->mutex);
        served->byPath[path] = current;
        return current;
    };
    render();
    server_.setScript(path, Script::generated(render, "text/plain"));
}

std::string StationSite::served(const std::string& path) const {
    std::lock_guard lock(served_->mutex);
    const auto it = served_->byPath.find(path);
    return it == served_->byPath.end() ? std::string() : it->second;
}

std::string StationSite::metar(std::string_view airport) const {
    return served(weather::metarPath(airport));
}

std::string StationSite::taf(std::string_view airport) const {
    return served(weather::tafPath(airport));
}

std::string StationSite::baseUrl() const {
    return server_.url("");
}

}  // namespace orvento::site
