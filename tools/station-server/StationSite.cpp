#include "tools/station-server/StationSite.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/platform/parser/AudioFileStream.h"
#include "engine/platform/parser/FileTypeHint.h"

namespace orvento::site {
namespace {

using loopback::Script;

// Where a misbehaving station gives up.
constexpr std::uint64_t kMisbehaveAfterBytes = 40000;

// Frames and sample rate seen while parsing a whole file.
struct Measure {
    AudioStreamBasicDescription format{};
    double frames = 0;
    bool ready = false;
};

void onProperty(void* data, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                AudioFileStreamPropertyFlags* /*flags*/) {
    auto* m = static_cast<Measure*>(data);
    if (id == kAudioFileStreamProperty_ReadyToProducePackets) {
        UInt32 size = sizeof m->format;
        m->ready = AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_DataFormat, &size,
                                              &m->format) == noErr;
    }
}

void onPackets(void* data, UInt32 bytes, UInt32 packets, const void* /*input*/,
               AudioStreamPacketDescription* descs) {
    auto* m = static_cast<Measure*>(data);
    if (descs == nullptr) {
        if (m->format.mBytesPerFrame > 0) {
            m->frames += static_cast<double>(bytes) / m->format.mBytesPerFrame;
        }
        return;
    }
    for (UInt32 i = 0; i < packets; ++i) {
        m->frames += descs[i].mVariableFramesInPacket != 0 ? descs[i].mVariableFramesInPacket
                                                           : m->format.mFramesPerPacket;
    }
}

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
    AudioFileStreamID stream = nullptr;
    if (AudioFileStreamOpen(&m, onProperty, onPackets, fileTypeHintForFile(file), &stream) !=
        noErr) {
        return std::nullopt;
    }
    AudioFileStreamParseBytes(stream, static_cast<UInt32>(bytes.size()), bytes.data(), 0);
    AudioFileStreamClose(stream);
    if (!m.ready || m.frames <= 0 || m.format.mSampleRate <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(bytes.size()) / (m.frames / m.format.mSampleRate);
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
    metar_ = readWholeFile(options.folder / "LTBA-metar.txt");
    taf_ = readWholeFile(options.folder / "LTBA-taf.txt");
    server_.setScript(kMetarPath, Script::fixed(metar_, "text/plain"));
    server_.setScript(kTafPath, Script::fixed(taf_, "text/plain"));

    std::string first;  // the first station's audio, for the misbehaving routes
    double firstRate = 0;
    catalogue_ = "[\n";
    for (const StationFile& station : kSiteStations) {
        const std::filesystem::path file = options.folder / station.file;
        const std::string bytes = readWholeFile(file);
        const std::optional<double> rate = audioByteRate(file, bytes);
        if (!rate) {
            throw std::runtime_error("cannot tell the bit rate of " + file.string());
        }
        server_.setScript(station.path, Script::fixed(bytes, station.contentType)
                                            .repeated()
                                            .untilClose()
                                            .paced(*rate, options.burstBytes));
        stations_.push_back(SiteStation{station.name, server_.url(station.path), *rate});
        catalogue_ += std::string(stations_.size() > 1 ? ",\n" : "") +
                      "  {\"a\": " + jsonString(stations_.back().name) +
                      ", \"d\": " + jsonString(stations_.back().url) + "}";
        if (first.empty()) {
            first = bytes;
            firstRate = *rate;
        }
    }
    catalogue_ += "\n]\n";
    server_.setScript(kCataloguePath, Script::fixed(catalogue_, "application/json"));

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

std::string StationSite::baseUrl() const {
    return server_.url("");
}

}  // namespace orvento::site
