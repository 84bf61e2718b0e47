// Figures of the HTTP stream over loopback: what the owning thread
// spends while a stream drips or is held paused, and how many bytes it moves
// per CPU-second beside the curl command on the same server.
//
//   orvento_bench_http [--seconds N] [--megabytes M]
//
// Prints figures; asserts nothing.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/HttpStream.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento {
namespace {

using loopback::LoopbackServer;
using loopback::Script;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kEngineReadSize = 32768;

double threadCpuSeconds() {
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Reader final : HttpStream::Listener {
    bool reads = true;
    std::uint64_t bytes = 0;
    bool ended = false;
    bool failed = false;
    std::vector<std::byte> chunk = std::vector<std::byte>(kEngineReadSize);

    void onStreamEvent(HttpStream& stream, HttpStream::Event event) override {
        if (event == HttpStream::Event::bytesAvailable && reads) {
            bytes += stream.read(chunk).value_or(0);
        } else if (event == HttpStream::Event::end) {
            ended = true;
        } else if (event == HttpStream::Event::error) {
            failed = true;
        }
    }
};

struct Run {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::uint64_t bytes = 0;
    std::uint64_t passes = 0;  // of the owning thread's run loop: its wakes
    bool ended = false;
    bool failed = false;
    std::string error;
};

// Plays `url` on a thread of its own the way the engine does (0.25 s slices
// of the run loop). Measures the thread's CPU from `warmUp` seconds on, for
// `seconds` or until the stream ends.
Run runStream(const std::string& url, const HttpStreamOptions& options, bool reads, double warmUp,
              double seconds) {
    Run run;
    std::thread([&] {
        Reader reader;
        reader.reads = reads;
        const std::optional<Url> parsed = Url::parse(url);
        std::unique_ptr<HttpStream> stream =
            parsed ? HttpStream::create(*parsed, options) : nullptr;
        if (!stream || !stream->open()) {
            run.failed = true;
            run.error = stream ? stream->errorText() : "cannot create the stream";
            return;
        }
        stream->setListener(&reader);
        RunLoop& loop = RunLoop::current();
        stream->schedule(loop);
        const auto finished = [&] { return reader.ended || reader.failed; };
        const Clock::time_point warm = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(warmUp));
        while (Clock::now() < warm && !finished()) {
            loop.run(RunLoop::Seconds(0.25), false);
        }
        const std::uint64_t passesStart = loop.passCount();
        const double cpuStart = threadCpuSeconds();
        const Clock::time_point start = Clock::now();
        const std::uint64_t bytesStart = reader.bytes;
        while (!finished() &&
               std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
            loop.run(RunLoop::Seconds(0.25), false);
        }
        run.cpuSeconds = threadCpuSeconds() - cpuStart;
        run.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.bytes = reader.bytes - bytesStart;
        run.passes = loop.passCount() - passesStart;
        run.ended = reader.ended;
        run.failed = reader.failed;
        run.error = stream->errorText();
    }).join();
    return run;
}

// CPU time of `curl -s url -o /dev/null`, or a negative value when curl
// could not be run.
double curlCpuSeconds(const std::string& url) {
    std::vector<std::string> args = {"curl", "-s", url, "-o", "/dev/null"};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const double before = childrenCpuSeconds();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return childrenCpuSeconds() - before;
}

void printCpu(const char* what, const Run& run, const std::string& detail) {
    std::printf(
        "%-28s owning thread %.4f s CPU in %.1f s = %.3f %% of one core, %.1f wakes/s%s%s\n", what,
        run.cpuSeconds, run.wallSeconds, 100.0 * run.cpuSeconds / run.wallSeconds,
        static_cast<double>(run.passes) / run.wallSeconds, detail.empty() ? "" : "; ",
        detail.c_str());
}

}  // namespace
}  // namespace orvento

int main(int argc, char** argv) {
    using namespace orvento;
    double seconds = 30;
    double megabytes = 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::strtod(argv[i + 1], nullptr);
        } else if (std::strcmp(argv[i], "--megabytes") == 0) {
            megabytes = std::strtod(argv[i + 1], nullptr);
        }
    }
    std::printf("HTTP stream over 127.0.0.1, the engine's reads of %zu bytes\n", kEngineReadSize);

    // 2 KB/s in 20 pieces a second, as a 16 kbit/s station sends it: read in
    // batches (the default), and beside it every piece as it arrives.
    for (const double batch : {kReadBatchSeconds, 0.0}) {
        LoopbackServer server;
        server.setScript("/", Script::endless().paced(2000));
        HttpStreamOptions options;
        options.readBatchInterval = HttpStreamOptions::Seconds(batch);
        const Run run = runStream(server.url("/"), options, true, 0, seconds);
        printCpu(batch > 0 ? "drip 2 KB/s:" : "drip 2 KB/s, no batching:", run,
                 std::to_string(run.bytes) + " bytes read" +
                     (run.failed ? ", FAILED " + run.error : ""));
    }
    for (const auto transport :
         {LoopbackServer::Transport::plain, LoopbackServer::Transport::tls}) {
        LoopbackServer server(transport);
        server.setScript("/", Script::endless());
        HttpStreamOptions options;
        options.caFile = server.caFile();
        const Run run = runStream(server.url("/"), options, false, 1, seconds);
        printCpu(transport == LoopbackServer::Transport::tls ? "paused, TLS, not reading:"
                                                             : "paused, plain, not reading:",
                 run,
                 "server held back at " + std::to_string(server.bodyBytesWritten()) + " bytes" +
                     (run.failed ? ", FAILED " + run.error : ""));
    }
    {
        LoopbackServer server;
        const auto size = static_cast<std::uint64_t>(megabytes * 1024 * 1024);
        server.setScript("/", Script::pattern(size).writesOf(65536));
        const Run run = runStream(server.url("/"), {}, true, 0, 1e9);
        const double streamRate = static_cast<double>(run.bytes) / run.cpuSeconds;
        std::printf(
            "fast stream of %.0f MiB:      %s; owning thread %.3f s CPU, %.3f s wall: "
            "%.1f MB per CPU-second\n",
            megabytes, run.ended ? "complete" : ("INCOMPLETE " + run.error).c_str(), run.cpuSeconds,
            run.wallSeconds, streamRate / 1e6);
        const double curlCpu = curlCpuSeconds(server.url("/"));
        if (curlCpu > 0) {
            const double curlRate = static_cast<double>(size) / curlCpu;
            std::printf("same with curl -s URL -o /dev/null: %.3f s CPU: %.1f MB per CPU-second\n",
                        curlCpu, curlRate / 1e6);
            std::printf("ratio stream/curl (bytes per CPU-second): %.2f\n", streamRate / curlRate);
        } else {
            std::printf("curl could not be run\n");
        }
    }
    return 0;
}
