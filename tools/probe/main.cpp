// orvento-probe FILE-or-URL [--hint EXT] [--chunk BYTES] [--packets] [--seconds S]
// orvento-probe --decode OUT.wav FILE [--hint EXT] [--chunk BYTES]
// orvento-probe --transmissions FILE-or-URL [--hint EXT] [--chunk BYTES] [--seconds S]
// Runs the streaming parser over a file or an HTTP stream and reports what it
// found: how a user learns why a stream will not play. With --decode the
// packets also go through the output audio queue into a WAV file, as fast as
// they decode: how a user hears what a stream sounds like. With
// --transmissions the decoded audio goes through the transmission detector,
// whose finds are printed as JSON lines: how a detector is checked on a
// recording.
#include <csignal>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "engine/demux/FileTypeHint.h"
#include "tools/common/NumberOption.h"
#include "tools/probe/Decode.h"
#include "tools/probe/Probe.h"
#include "tools/probe/Transmissions.h"

namespace {

// Limits of the numeric options.
constexpr std::uint64_t kMaxChunk = 16 << 20;
constexpr double kMinSeconds = 0.001;
constexpr double kMaxSeconds = 86400;

constexpr const char* kUsage =
    "usage: orvento-probe FILE-or-URL [--hint EXT] [--chunk BYTES] [--packets]\n"
    "                     [--seconds S]\n"
    "       orvento-probe --decode OUT.wav FILE [--hint EXT] [--chunk BYTES]\n"
    "       orvento-probe --transmissions FILE-or-URL [--hint EXT] [--chunk BYTES]\n"
    "                     [--seconds S]\n"
    "  --hint EXT     parse as if the name ended in .EXT (mp3, aac, wav, aiff,\n"
    "                 aifc, caf, m4a, mp4; anything else means mp3)\n"
    "  --chunk BYTES  feed a file in pieces of this size, 1 to 16777216\n"
    "                 (default 32768)\n"
    "  --packets      also list every packet's size, one per line\n"
    "  --seconds S    read a URL for at most S seconds, 0.001 to 86400\n"
    "                 (default 10)\n"
    "  --decode OUT   decode FILE through the output queue into the WAV file OUT\n"
    "  --transmissions\n"
    "                 decode and print the transmissions found, one JSON object\n"
    "                 per line: {\"start_s\": 12.34, \"duration_s\": 2.10,\n"
    "                 \"peak_dbfs\": -9.5}\n"
    "  -h, --help     show this text\n";

int usage(const std::string& problem = {}) {
    if (!problem.empty()) {
        std::cerr << "orvento-probe: " << problem << "\n";
    }
    std::cerr << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvento;
    std::string source;
    std::string hintExtension;
    bool hintGiven = false;
    bool listPackets = false;
    bool transmissions = false;
    std::string decodeTo;
    size_t chunk = 32768;
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--hint" && i + 1 < argc) {
            hintExtension = argv[++i];
            hintGiven = true;
        } else if (arg == "--chunk" && i + 1 < argc) {
            const auto value = orvento::tools::wholeNumberIn(argv[++i], 1, kMaxChunk);
            if (!value) {
                return usage("--chunk takes a whole number of bytes from 1 to 16777216");
            }
            chunk = static_cast<size_t>(*value);
        } else if (arg == "--seconds" && i + 1 < argc) {
            const auto value = orvento::tools::numberIn(argv[++i], kMinSeconds, kMaxSeconds);
            if (!value) {
                return usage("--seconds takes a number from 0.001 to 86400");
            }
            seconds = *value;
        } else if (arg == "--decode" && i + 1 < argc) {
            decodeTo = argv[++i];
        } else if (arg == "--packets") {
            listPackets = true;
        } else if (arg == "--transmissions") {
            transmissions = true;
        } else if (arg.rfind("--", 0) == 0 || !source.empty()) {
            return usage();
        } else {
            source = arg;
        }
    }
    if (source.empty()) {
        return usage();
    }
    AudioFileType hint =
        hintGiven ? fileTypeHintForExtension(hintExtension) : probe::hintFor(source);
    if (transmissions) {
        if (!decodeTo.empty() || listPackets) {
            return usage("--transmissions goes with neither --decode nor --packets");
        }
        return probe::printTransmissions({source, hint, chunk, seconds}, std::cout, std::cerr);
    }
    if (!decodeTo.empty()) {
        if (probe::isUrl(source)) {
            return usage();
        }
        probe::DecodeOptions options;
        options.output.kind = AudioOutputChoice::Kind::WavFile;
        options.output.wavPath = decodeTo;
        // A WAV file that cannot be written (a full disk, the file-size limit:
        // SIGXFSZ would kill the process instead) fails the decode.
        std::signal(SIGXFSZ, SIG_IGN);
        auto writeFailure = std::make_shared<std::string>();
        options.output.onFailure = [writeFailure](const std::string& text) {
            if (writeFailure->empty()) {
                *writeFailure = text;
            }
        };
        const probe::DecodeReport report = probe::decodeFile(source, hint, options, chunk);
        std::cout << "source:          " << source << "\n";
        if (!report.ok || !writeFailure->empty()) {
            std::cout << "decode failed:   " << (report.ok ? *writeFailure : report.error) << "\n";
            return 1;
        }
        std::cout << "decoded to:      " << decodeTo << " (" << report.framesPlayed << " frames, "
                  << report.buffersEnqueued << " queue buffers)\n";
        if (!report.queueErrorText.empty()) {
            std::cout << "decoder said:    " << report.queueErrorText << "\n";
        }
        return 0;
    }
    probe::Probe probe(hint, nullptr, listPackets);
    std::string error;
    bool timedOut = false;
    bool sourceOk = probe::isUrl(source) ? probe::probeUrl(source, probe, error, seconds, &timedOut)
                                         : probe::probeFile(source, probe, error, chunk);
    probe::ProbeResult result = probe.result();
    result.sourceError = error;
    std::cout << "source:          " << source << "\n";
    if (timedOut) {
        std::cout << "read for:        " << seconds << " s (the stream did not end)\n";
    }
    probe::printReport(std::cout, result);
    if (listPackets) {
        for (std::uint32_t size : result.packetSizes) {
            std::cout << size << "\n";
        }
    }
    return sourceOk && result.ready && result.status == ParserError::None ? 0 : 1;
}
