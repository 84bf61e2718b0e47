// orvento-probe FILE-or-URL [--hint EXT] [--chunk BYTES] [--packets]
// Runs the streaming parser over a file or an HTTP stream and reports what it
// found: how a user learns why a stream will not play.
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/probe/Probe.h"

namespace {

int usage() {
    std::cerr << "usage: orvento-probe FILE-or-URL [--hint EXT] [--chunk BYTES] [--packets]\n"
                 "  --hint EXT     parse as if the name ended in .EXT (mp3, aac, wav, aiff,\n"
                 "                 aifc, caf, m4a, mp4; anything else means mp3)\n"
                 "  --chunk BYTES  feed a file in pieces of this size (default 32768)\n"
                 "  --packets      also list every packet's size, one per line\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvento;
    std::string source;
    std::string hintExtension;
    bool hintGiven = false;
    bool listPackets = false;
    size_t chunk = 32768;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--hint" && i + 1 < argc) {
            hintExtension = argv[++i];
            hintGiven = true;
        } else if (arg == "--chunk" && i + 1 < argc) {
            chunk = std::strtoul(argv[++i], nullptr, 10);
            if (chunk == 0) {
                return usage();
            }
        } else if (arg == "--packets") {
            listPackets = true;
        } else if (arg.rfind("--", 0) == 0 || !source.empty()) {
            return usage();
        } else {
            source = arg;
        }
    }
    if (source.empty()) {
        return usage();
    }
    AudioFileTypeID hint =
        probe::hintForExtension(hintGiven ? hintExtension : probe::extensionOf(source));
    probe::Probe probe(hint, nullptr, listPackets);
    std::string error;
    bool sourceOk = probe::isUrl(source) ? probe::probeUrl(source, probe, error)
                                         : probe::probeFile(source, probe, error, chunk);
    probe::ProbeResult result = probe.result();
    result.sourceError = error;
    std::cout << "source:          " << source << "\n";
    probe::printReport(std::cout, result);
    if (listPackets) {
        for (UInt32 size : result.packetSizes) {
            std::cout << size << "\n";
        }
    }
    return sourceOk && result.ready && result.status == noErr ? 0 : 1;
}
