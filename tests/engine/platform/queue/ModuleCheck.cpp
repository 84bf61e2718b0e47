// orvento_queue_module_check: a fresh process for each check of the module
// tests (what a process maps depends on everything it did before). Decodes
// FILE through the real parser and output queue into the chosen output, then
// reports on standard output:
//   result ok|failed
//   status N        the first failing queue call's status (0 when none)
//   error TEXT      why it failed (only when it did)
//   mapped PATH     one line per mapped file of libavcodec, libavutil, SDL2
//                   or a queue module
// Usage: orvento_queue_module_check [--module-folder DIR] FILE null|wav:PATH|device
// Exit status 0 when the whole file played, 1 when not, 2 for a usage error.
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "engine/platform/queue/QueueModules.h"
#include "tools/probe/Decode.h"

namespace {

using orvento::AudioOutputChoice;

std::set<std::string> mappedLibraries() {
    std::set<std::string> found;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string path = line.substr(slash);
        const std::string name = path.substr(path.rfind('/') + 1);
        for (const char* library :
             {"libavcodec", "libavutil", "libSDL2", "orvento_queue_aac", "orvento_queue_sdl"}) {
            if (name.starts_with(library)) {
                found.insert(path);
            }
        }
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    int next = 1;
    if (argc > 2 && std::string(argv[1]) == "--module-folder") {
        orvento::setModuleFolderForTesting(argv[2]);
        next = 3;
    }
    if (argc - next != 2) {
        std::fprintf(stderr,
                     "usage: orvento_queue_module_check [--module-folder DIR] FILE "
                     "null|wav:PATH|device\n");
        return 2;
    }
    const std::string file = argv[next];
    const std::string output = argv[next + 1];
    orvento::probe::DecodeOptions options;
    if (output == "null") {
        options.output.kind = AudioOutputChoice::Kind::Null;
        options.output.realTime = false;
    } else if (output.starts_with("wav:")) {
        options.output.kind = AudioOutputChoice::Kind::WavFile;
        options.output.wavPath = output.substr(4);
    } else if (output == "device") {
        options.output.kind = AudioOutputChoice::Kind::Device;
    } else {
        std::fprintf(stderr, "orvento_queue_module_check: unknown output %s\n", output.c_str());
        return 2;
    }
    const orvento::probe::DecodeReport report =
        orvento::probe::decodeFile(file, orvento::probe::hintFor(file), options);
    std::ostringstream out;
    out << "result " << (report.ok ? "ok" : "failed") << "\n";
    out << "status " << report.queueStatus << "\n";
    if (!report.ok) {
        out << "error " << report.error << "\n";
    }
    for (const std::string& path : mappedLibraries()) {
        out << "mapped " << path << "\n";
    }
    std::fputs(out.str().c_str(), stdout);
    return report.ok ? 0 : 1;
}
