// orvento-station-server: a small local radio station for demos and tests.
// Serves one audio file over HTTP on 127.0.0.1, once or endlessly, paced in
// real time at the file's own bit rate (optionally after an initial burst).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/parser/AudioFileStream.h"
#include "engine/platform/parser/FileTypeHint.h"
#include "tools/common/NumberOption.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

constexpr const char* kUsage =
    "usage: orvento-station-server FILE [options]\n"
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
    "  -h, --help     show this text\n";

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

// The file's bytes per second of audio, from its parsed length; nullopt when
// the parser cannot tell.
std::optional<double> ownByteRate(const std::filesystem::path& file, const std::string& bytes) {
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

// The most --rate and --burst take.
constexpr std::uint64_t kMaxBytes = 1 << 30;

int fail(const std::string& text) {
    std::fprintf(stderr, "orvento-station-server: %s\n%s", text.c_str(), kUsage);
    return 2;
}

int run(int argc, char** argv) {
    std::optional<std::filesystem::path> file;
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
            }
        } else if (arg.starts_with("-")) {
            return fail("unknown option " + std::string(arg));
        } else if (file) {
            return fail("give exactly one FILE");
        } else {
            file = std::filesystem::path(arg);
        }
    }
    if (!file) {
        return fail("no FILE given");
    }
    std::ifstream in(*file, std::ios::binary);
    if (!in) {
        return fail("cannot read " + file->string());
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.empty()) {
        return fail(file->string() + " is empty");
    }

    Script script = Script::fixed(bytes, "audio/mpeg");
    if (loop) {
        script.repeated();
    }
    if (!fast) {
        if (!rate) {
            rate = ownByteRate(*file, bytes);
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
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    LoopbackServer server;
    server.setScript(path, script);
    std::printf("%s\n", server.url(path).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "orvento-station-server: serving %s%s at %s\n", file->c_str(),
                 loop ? " endlessly" : "",
                 fast ? "full speed" : (std::to_string(static_cast<long>(*rate)) + " B/s").c_str());
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}

}  // namespace
}  // namespace orvento

int main(int argc, char** argv) {
    return orvento::run(argc, argv);
}
