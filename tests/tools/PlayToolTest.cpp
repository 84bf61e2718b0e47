// orvento-play end to end: the real program against the loopback server,
// recording to a WAV file that is compared with ffmpeg's decode of the same
// fixture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/AudioCompare.h"
#include "tools/loopback/LoopbackServer.h"

extern char** environ;

// A RunControl is given with designated initializers; the fields left out keep
// their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace orvento {
namespace {

namespace fs = std::filesystem;
using loopback::LoopbackServer;
using loopback::Script;
using namespace std::chrono_literals;

fs::path sourceDir() {
    return std::getenv("ORVENTO_SOURCE_DIR");
}
fs::path binaryDir() {
    return std::getenv("ORVENTO_BINARY_DIR");
}
fs::path playTool() {
    return binaryDir() / "tools" / "play" / "orvento-play";
}
fs::path fixture(const std::string& name) {
    return sourceDir() / "tests" / "data" / name;
}

struct PlayRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

struct RunControl {
    // Polled while the program runs; once true, `signal` is sent to it.
    std::function<bool(const std::string& err)> signalWhen;
    int signal = SIGINT;
    std::chrono::seconds timeout = 60s;
    std::vector<std::string> prefix;  // a program that runs it (prlimit ...)
    bool closeOutputs = false;        // its stdout and stderr: pipes nobody reads
};

// Runs orvento-play with `args`. The run is killed
// after control.timeout.
PlayRun runPlay(const std::vector<std::string>& args, const RunControl& control = {}) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> all = control.prefix;
    all.push_back(playTool().string());
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    PlayRun run;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + control.timeout;
    bool signalled = false;
    bool outOpen = !control.closeOutputs;
    bool errOpen = !control.closeOutputs;
    if (control.closeOutputs) {
        close(outPipe[0]);
        close(errPipe[0]);
    }
    int status = 0;
    bool exited = false;
    while (!exited) {
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                         {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        poll(fds, 2, 20);
        std::array<char, 4096> chunk;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = read(fds[i].fd, chunk.data(), chunk.size());
                if (n <= 0) {
                    (i == 0 ? outOpen : errOpen) = false;
                } else {
                    (i == 0 ? run.out : run.err).append(chunk.data(), static_cast<std::size_t>(n));
                }
            }
        }
        if (control.signalWhen && !signalled && control.signalWhen(run.err)) {
            signalled = true;
            kill(pid, control.signal);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "orvento-play did not end; killed";
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        exited = !outOpen && !errOpen && waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!control.closeOutputs) {
        close(outPipe[0]);
        close(errPipe[0]);
    }
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "orvento-play-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Compares the recorded WAV with the fixture's reference decode (an MP3's).
void expectMatchesReference(const fs::path& wav, const std::string& fixtureName) {
    std::string error;
    auto test = readWav(wav.string(), &error);
    ASSERT_TRUE(test) << error;
    auto ref = readWav(fixture("reference/" + fixtureName + ".wav").string(), &error);
    ASSERT_TRUE(ref) << error;
    const AudioComparison c = compareAudio(*test, *ref, 4096);
    EXPECT_TRUE(c.sameRate) << test->sampleRate << " vs " << ref->sampleRate;
    EXPECT_TRUE(c.sameChannels) << test->channels << " vs " << ref->channels;
    // Decoders may keep or drop encoder delay and padding: within two frames.
    EXPECT_LE(std::labs(c.lengthDifference), 2 * 2048) << "frames differ by " << c.lengthDifference;
    EXPECT_GE(c.snrDb, 60.0) << "lag " << c.lag;
}

struct ServerRow {
    const char* name;
    const char* fixture;
    const char* path;
    std::function<void(Script&)> shape;
    bool outputsClosed = false;  // its stdout and stderr: pipes nobody reads
};

class ServerKinds : public testing::TestWithParam<ServerRow> {};

// The whole stream is recorded as the reference decoder hears it; the
// tool's words go to standard error, and nothing of the engine's diagnosis
// without --verbose.
TEST_P(ServerKinds, PlayToTheEndAndMatchTheReference) {
    const ServerRow& row = GetParam();
    LoopbackServer server;
    Script s = Script::fromFile(fixture(row.fixture).string());
    row.shape(s);
    server.setScript(row.path, s);
    TempDir dir;
    const PlayRun run = runPlay({server.url(row.path), "--wav", (dir / "out.wav").string()},
                                {.closeOutputs = row.outputsClosed});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    expectMatchesReference(dir / "out.wav", row.fixture);
    if (!row.outputsClosed) {
        EXPECT_NE(run.err.find("orvento-play: playing"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find(" err "), std::string::npos) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerKinds,
    testing::Values(ServerRow{"Chunked", "mpeg1_l3_vbr_xing.mp3", "/chunked.mp3",
                              [](Script& s) { s.chunked().writesOf(777); }},
                    ServerRow{"ClosedOutputs", "mpeg2_l3.mp3", "/a.mp3", [](Script&) {}, true}),
    [](const testing::TestParamInfo<ServerRow>& info) { return info.param.name; });

struct FailureRow {
    const char* name;
    std::function<std::vector<std::string>(LoopbackServer&)> args;
    int exitStatus;
    std::vector<const char*> said;     // on standard error, in this order
    std::vector<const char*> notSaid;  // nowhere on standard error
    std::vector<std::string> prefix{};
};

class PlayToolFailures : public testing::TestWithParam<FailureRow> {};

// A stream that fails says why; one that never played does not claim it did.
TEST_P(PlayToolFailures, SayWhyAndNeverClaimToPlay) {
    const FailureRow& row = GetParam();
    LoopbackServer server;  // every path without a script: 404 with an HTML page
    const PlayRun run = runPlay(row.args(server), {.prefix = row.prefix});
    EXPECT_EQ(run.exitStatus, row.exitStatus) << run.err;
    std::size_t at = 0;
    for (const char* text : row.said) {
        at = run.err.find(text, at);
        EXPECT_NE(at, std::string::npos) << text << " in " << run.err;
    }
    for (const char* text : row.notSaid) {
        EXPECT_EQ(run.err.find(text), std::string::npos) << text << " in " << run.err;
    }
    EXPECT_EQ(run.out, "");
}

// Plays `path` of a server with an MP3 at /a.mp3, and the same as a 500 at
// /500.mp3; into nothing, or to the sound device when `toDevice`; with
// `more` options.
std::function<std::vector<std::string>(LoopbackServer&)> playing(
    const std::string& path, bool toDevice = false, std::vector<std::string> more = {}) {
    return [=](LoopbackServer& server) {
        const Script mp3 = Script::fromFile(fixture("mpeg2_l3.mp3").string());
        server.setScript("/a.mp3", mp3);
        server.setScript("/500.mp3",
                         Script(mp3).withStatusLine("HTTP/1.1 500 Internal Server Error"));
        std::vector<std::string> args{server.url(path)};
        if (!toDevice) {
            args.emplace_back("--null");
        }
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlayToolFailures,
    testing::Values(
        FailureRow{"AnErrorPage",
                   playing("/missing.mp3"),
                   1,
                   {"Audio Error: Attempt to play streaming audio failed.\n"
                    "orvento-play: the server answered \"HTTP/1.1 404 Not Found\"\n"},
                   {"playing"}},
        // The body of an error is never played, audio or not.
        FailureRow{"AServerErrorWithAudio",
                   playing("/500.mp3"),
                   1,
                   {"the server answered \"HTTP/1.1 500 Internal Server Error\""},
                   {"playing"}},
        // A stream that cannot be opened ends without the alert.
        FailureRow{"NotHttp",
                   [](LoopbackServer&) {
                       return std::vector<std::string>{"ftp://127.0.0.1/a.mp3", "--null"};
                   },
                   1,
                   {"could not be opened", "Only http and https"},
                   {"Audio Error"}},
        FailureRow{"NoUrl",
                   [](LoopbackServer&) {
                       return std::vector<std::string>{"", "--null"};
                   },
                   2,
                   {"no URL given", "usage:"},
                   {"orvento-play: connecting", "is not a URL"}},
        FailureRow{"BadReconnectWaits",
                   [](LoopbackServer& server) {
                       return std::vector<std::string>{server.url("/a.mp3"), "--null",
                                                       "--reconnect", "--reconnect-waits=0,,5"};
                   },
                   2,
                   {"--reconnect-waits needs milliseconds", "usage:"},
                   {"orvento-play: connecting"}},
        FailureRow{
            "BadSleep",
            [](LoopbackServer& server) {
                return std::vector<std::string>{server.url("/a.mp3"), "--null", "--sleep", "0"};
            },
            2,
            {"--sleep needs whole minutes from 1 to 1440", "usage:"},
            {"orvento-play: connecting"}},
        FailureRow{"SleepIntoAWavFile",
                   [](LoopbackServer& server) {
                       return std::vector<std::string>{server.url("/a.mp3"), "--wav", "x.wav",
                                                       "--sleep=1"};
                   },
                   2,
                   {"--sleep plays to the sound device or --null, not --wav", "usage:"},
                   {"orvento-play: connecting"}},
        // No sound server: what to do, in words; the code only for diagnosis.
        FailureRow{
            "NoSoundServer",
            playing("/a.mp3", true),
            1,
            {"No sound output is available: is PulseAudio or PipeWire running?", "use --null"},
            {"playing", "qdev", "qidv", "kAudio"},
            {"/usr/bin/env", "SDL_AUDIODRIVER=pulseaudio",
             "PULSE_SERVER=unix:/nonexistent/socket"}},
        FailureRow{"NoSoundServerVerbose",
                   playing("/a.mp3", true, {"--verbose"}),
                   1,
                   {"AudioQueueStart err qidv 1902732406\n", "No sound output is available"},
                   {"playing"},
                   {"/usr/bin/env", "SDL_AUDIODRIVER=pulseaudio",
                    "PULSE_SERVER=unix:/nonexistent/socket"}}),
    [](const testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

// The header's sizes, from a WAV file as it is now: data bytes it claims, and
// the bytes that follow the header.
struct WavSizes {
    std::uint32_t claimed = 0;
    std::uint64_t present = 0;
};
WavSizes wavSizes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[58] = {};
    WavSizes sizes;
    if (in.read(reinterpret_cast<char*>(head), sizeof head)) {
        sizes.claimed = head[54] | head[55] << 8 | head[56] << 16 | std::uint32_t{head[57]} << 24;
        std::error_code ec;
        sizes.present = fs::file_size(path, ec) - sizeof head;
    }
    return sizes;
}

// What was written stays readable: the header counts the whole frames the
// file holds, no more.
void expectHeaderTrue(const fs::path& path, std::uint64_t maxUnclaimed) {
    const WavSizes sizes = wavSizes(path);
    EXPECT_GT(sizes.claimed, 0U);
    EXPECT_LE(sizes.claimed, sizes.present);
    EXPECT_LE(sizes.present - sizes.claimed, maxUnclaimed);
    std::string error;
    const auto wav = readWav(path.string(), &error);
    ASSERT_TRUE(wav) << error;
    EXPECT_EQ(wav->samples.size() * sizeof(float), sizes.claimed);
}

struct WavFailureRow {
    const char* name;
    const char* path;  // empty: out.wav in a fresh folder
    std::vector<std::string> prefix;
    const char* cause;
};

class WavFailures : public testing::TestWithParam<WavFailureRow> {};

// A recording that cannot be written (from the start, or once the disk or the
// file-size limit is reached) fails with its cause and stops the stream.
TEST_P(WavFailures, FailWithTheCauseAndStopTheStream) {
    const WavFailureRow& row = GetParam();
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.repeated();
    server.setScript("/a.mp3", s);
    TempDir dir;
    const fs::path wav = *row.path != '\0' ? fs::path(row.path) : dir / "out.wav";
    const PlayRun run =
        runPlay({server.url("/a.mp3"), "--wav", wav.string()}, {.prefix = row.prefix});
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.err.find(row.cause), std::string::npos) << run.err;
    if (*row.path == '\0') {
        expectHeaderTrue(wav, sizeof(float));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WavFailures,
    testing::Values(WavFailureRow{"NoFolder", "/nonexistent-dir/out.wav", {}, "No such file"},
                    WavFailureRow{"DiskFull", "/dev/full", {}, "No space left on device"},
                    WavFailureRow{"FileSizeLimit",
                                  "",
                                  {"/usr/bin/prlimit", "--fsize=300001", "--"},
                                  "File too large"}),
    [](const testing::TestParamInfo<WavFailureRow>& info) { return info.param.name; });

class SignalStop : public testing::TestWithParam<int> {};

TEST_P(SignalStop, OnAStalledServerStopsCleanlyAndFinishesTheFile) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.repeated(1000000).stallAfter(80000);  // two buffers and a half, then nothing
    server.setScript("/stall.mp3", s);
    TempDir dir;
    const PlayRun run =
        runPlay({server.url("/stall.mp3"), "--wav", (dir / "out.wav").string()},
                {.signalWhen =
                     [&](const std::string& err) {
                         // Stalled, and the audio before the stall decoded.
                         std::error_code ec;
                         const std::uintmax_t size = fs::file_size(dir / "out.wav", ec);
                         return server.bodyBytesWritten() >= 80000 &&
                                err.find("orvento-play: connecting") != std::string::npos && !ec &&
                                size > 200000;
                     },
                 .signal = GetParam()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: stopping"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    // What was handed to the queue before the stop is in the file, all of it
    // counted by the header.
    expectHeaderTrue(dir / "out.wav", 0);
    EXPECT_GT(wavSizes(dir / "out.wav").claimed, 50000U * sizeof(float));
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalStop, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

TEST(PlayToolInterrupt, CtrlCWhileConnectingTakesAtOnce) {
    LoopbackServer server;
    server.setScript("/quiet", Script::silent());
    const PlayRun run =
        runPlay({server.url("/quiet"), "--null"}, {.signalWhen = [](const std::string& err) {
                    return err.find("connecting") != std::string::npos;
                }});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("playing"), std::string::npos) << run.err;
}

// A recording killed outright keeps all but its last second: the header is
// brought up to date while the file grows.
TEST(PlayToolInterrupt, AKilledRecordingStillOpens) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.repeated().paced(16000);
    server.setScript("/live.mp3", s);
    TempDir dir;
    const fs::path wav = dir / "out.wav";
    const PlayRun run =
        runPlay({server.url("/live.mp3"), "--wav", wav.string()},
                {.signalWhen = [&](const std::string&) { return wavSizes(wav).claimed > 0; },
                 .signal = SIGKILL,
                 .timeout = 30s});
    EXPECT_EQ(run.exitStatus, 128 + SIGKILL) << run.err;
    // 44.1 kHz mono float: at most about a second and the writer's 128 KiB.
    expectHeaderTrue(wav, 2 * 44100 * sizeof(float) + 128 * 1024);
}

// true: a reader takes the recording of a whole stream; false: none ever
// comes while a live stream flows.
class WavToFifo : public testing::TestWithParam<bool> {};

// A FIFO is written without blocking: its reader gets the recording, and
// without one a signal still stops the player, whatever it was doing.
TEST_P(WavToFifo, NeverBlocksAStop) {
    const bool withReader = GetParam();
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg2_l3.mp3").string());
    if (!withReader) {
        s.repeated();
    }
    server.setScript("/a.mp3", s);
    TempDir dir;
    const fs::path fifo = dir / "fifo.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader;
    if (withReader) {
        reader = std::thread([&] {
            std::ifstream in(fifo, std::ios::binary);
            received.assign(std::istreambuf_iterator<char>(in), {});
        });
    }
    RunControl control{.timeout = 20s};
    if (!withReader) {
        // Once the server is held back: the player's ring is full, and a full
        // ring has started its queue, with no reader ever coming.
        control.signal = SIGTERM;
        control.signalWhen = [&, last = std::uint64_t{0}, quiet = 0](const std::string&) mutable {
            const std::uint64_t now = server.bodyBytesWritten();
            quiet = now == last && now > 0 ? quiet + 1 : 0;
            last = now;
            return quiet >= 15;
        };
    }
    const PlayRun run = runPlay({server.url("/a.mp3"), "--wav", fifo.string()}, control);
    if (reader.joinable()) {
        // Releases a reader still waiting for a writer, should the player
        // never have opened the FIFO.
        if (const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
            close(fd);
        }
        reader.join();
    }
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    // Nothing is written to a FIFO nobody reads: nothing plays.
    EXPECT_EQ(run.err.find("orvento-play: playing") != std::string::npos, withReader) << run.err;
    if (withReader) {
        std::ofstream(dir / "got.wav", std::ios::binary) << received;
        expectMatchesReference(dir / "got.wav", "mpeg2_l3.mp3");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, WavToFifo, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithAReader" : "NoReaderWhileTheStreamFlows";
                         });

struct RecordRow {
    const char* fixture;
    const char* file;  // where --record writes; empty: a fresh folder's
};

void PrintTo(const RecordRow& row, std::ostream* out) {
    *out << row.fixture << (*row.file != '\0' ? " to " : "") << row.file;
}

class PlayRecord : public testing::TestWithParam<RecordRow> {};

// --record writes the stream's own frames beside the played audio: played
// again, the recording sounds as the original does. A recording that cannot
// be written is told, and playback goes on to the end.
TEST_P(PlayRecord, WritesTheStreamsOwnFramesAndNeverStopsPlayback) {
    const RecordRow& row = GetParam();
    LoopbackServer server;
    server.setScript("/a", Script::fromFile(fixture(row.fixture).string()));
    TempDir dir;
    const fs::path recording = *row.file != '\0' ? fs::path(row.file) : dir / "rec";
    const PlayRun run = runPlay(
        {server.url("/a"), "--wav", (dir / "out.wav").string(), "--record", recording.string()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    expectMatchesReference(dir / "out.wav", row.fixture);
    if (*row.file != '\0') {
        EXPECT_NE(run.err.find("recording stopped: No space left on device"), std::string::npos)
            << run.err;
        return;
    }
    server.setScript("/again", Script::fromFile(recording.string()));
    const PlayRun again = runPlay({server.url("/again"), "--wav", (dir / "again.wav").string()});
    ASSERT_EQ(again.exitStatus, 0) << again.err;
    expectMatchesReference(dir / "again.wav", row.fixture);
}

INSTANTIATE_TEST_SUITE_P(Rows, PlayRecord,
                         testing::Values(RecordRow{"mpeg2_l3.mp3", ""},
                                         RecordRow{"adts_stereo.aac", ""},
                                         RecordRow{"mpeg2_l3.mp3", "/dev/full"}));

}  // namespace
}  // namespace orvento

namespace orvento {
namespace {

// A station that sends 64 KiB at once (near 6 s of audio), then paces at its
// own rate. The WAV file takes audio as fast as it comes: its length a second
// after the burst is what the player chose to play of it.
TEST(PlayLiveEdge, PlaysOnlyTheNewestOfTheBurst) {
    // Options, least and most seconds in the file.
    for (const auto& [args, least, most] :
         {std::tuple{std::vector<std::string>{}, 5.5, 60.0},
          std::tuple{std::vector<std::string>{"--live-edge", "1"}, 1.0, 3.5},
          // A press starts at the live edge whatever catches up later.
          std::tuple{std::vector<std::string>{"--live-edge", "auto"}, 1.0, 4.0}}) {
        LoopbackServer server;
        Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
        server.setScript("/live.mp3", s.repeated().paced(11211, 65536));
        TempDir dir;
        std::vector<std::string> all = {server.url("/live.mp3"), "--wav", (dir / "o.wav").string()};
        all.insert(all.end(), args.begin(), args.end());
        const PlayRun run = runPlay(all, {.signalWhen = [&](const std::string&) {
                                        return server.bodyBytesWritten() >= 65536 + 11211 &&
                                               wavSizes(dir / "o.wav").claimed > 0;
                                    }});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const auto wav = readWav((dir / "o.wav").string());
        ASSERT_TRUE(wav);
        EXPECT_GE(double(wav->frames()) / wav->sampleRate, least);
        EXPECT_LE(double(wav->frames()) / wav->sampleRate, most);
    }
}

// Beside a press's burst (64 KiB, then 11211 bytes a second), a server that
// holds its bytes back for a while, then sends what fell due at once. The WAV
// file takes audio as fast as it comes: its length is what was kept.
//  - A stall a second after the burst: its heap is cut back by a fixed edge;
//    auto cuts only the press's burst and plays every later packet.
//  - A server slow to send its first bytes: auto keeps what was said since
//    the press (to catch it up), a fixed edge only its target.
TEST(PlayLiveEdge, AutoCutsOnlyThePressBurst) {
    struct Row {
        std::uint64_t holdAfter;
        double holdSeconds;
        std::uint64_t signalAt;  // body bytes written
        const char* edge;
        double least, most;  // seconds in the file
    };
    constexpr std::uint64_t kStall = 65536 + 11211;
    constexpr std::uint64_t kStallSeen = 65536 + 5 * 11211;
    constexpr std::uint64_t kSlowSeen = 65536 + 3 * 11211 + 11211 / 2;
    for (const Row& row :
         {Row{kStall, 3, kStallSeen, "1", 2.0, 5.2}, Row{kStall, 3, kStallSeen, "auto", 5.8, 9.0},
          Row{0, 2.5, kSlowSeen, "1", 1.0, 3.0}, Row{0, 2.5, kSlowSeen, "auto", 3.8, 6.5}}) {
        LoopbackServer server;
        Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
        server.setScript(
            "/live.mp3",
            s.repeated().paced(11211, 65536).holdAfter(row.holdAfter, row.holdSeconds));
        TempDir dir;
        const PlayRun run = runPlay(
            {server.url("/live.mp3"), "--wav", (dir / "o.wav").string(), "--live-edge", row.edge},
            {.signalWhen = [&](const std::string&) {
                return server.bodyBytesWritten() >= row.signalAt;
            }});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const auto wav = readWav((dir / "o.wav").string());
        ASSERT_TRUE(wav);
        EXPECT_GE(double(wav->frames()) / wav->sampleRate, row.least)
            << row.edge << " held after " << row.holdAfter;
        EXPECT_LE(double(wav->frames()) / wav->sampleRate, row.most)
            << row.edge << " held after " << row.holdAfter;
    }
}

// --live-edge auto: a reconnection's burst of radio that does not hold what
// was heard plays whole, caught up in real time by leaving quiet out; the
// end says what that cost. With a fixed edge nothing is said.
TEST(PlayLiveEdge, AutoSaysWhatCatchingUpCost) {
    std::ifstream in(ORVENTO_TRANSMISSION_TEST_RECORDINGS "/tower-mp3-8k.mp3", std::ios::binary);
    const std::string tower((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* edge : {"auto", "1.5"}) {
        LoopbackServer server;
        // 16 kbit/s: 2000 bytes a second. 3 s, a drop, then a 20 s burst of
        // later talk and the station's own pace.
        server.setScript("/live.mp3", Script::fixed(tower.substr(0, 6000)).untilClose());
        std::optional<std::chrono::steady_clock::time_point> back;
        const PlayRun run =
            runPlay({server.url("/live.mp3"), "--null", "--live-edge", edge, "--reconnect",
                     "--reconnect-waits", "0"},
                    {.signalWhen = [&](const std::string& err) {
                        if (!back && err.find("reconnecting") != std::string::npos) {
                            server.setScript(
                                "/live.mp3",
                                Script::fixed(tower.substr(20000)).untilClose().paced(2000, 40000));
                            back = std::chrono::steady_clock::now();
                        }
                        return back && std::chrono::steady_clock::now() - *back > 8s;
                    }});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const std::size_t at = run.err.find("caught up: ");
        if (std::string(edge) != "auto") {
            EXPECT_EQ(at, std::string::npos) << run.err;
            continue;
        }
        ASSERT_NE(at, std::string::npos) << run.err;
        double quiet = 0;
        double faster = 0;
        double fastest = 0;
        double audio = 0;
        ASSERT_EQ(std::sscanf(run.err.c_str() + at,
                              "caught up: %lf s of quiet left out and %lf s of speech "
                              "played faster (at most %lfx) in %lf s of audio",
                              &quiet, &faster, &fastest, &audio),
                  4)
            << run.err;
        // About eight seconds played, more audio than that gone through; some quiet
        // went, and no speed past the most allowed.
        EXPECT_GE(audio, 6 + quiet) << run.err;
        EXPECT_GT(quiet, 2) << run.err;
        EXPECT_GE(fastest, 1) << run.err;
        EXPECT_LE(fastest, 1.25 + 1e-6) << run.err;
    }
}

// --reconnect: a station that hangs up after it played is opened again at
// once; answering 503 then, it is tried again after the next wait.
TEST(PlayReconnect, OpensTheStreamAgainAfterADrop) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    server.setScript("/live.mp3", s.repeated().paced(40000).closeAfter(40000));
    const std::vector<std::string> lines = {
        ": playing",        ": reconnecting (attempt 0): the server closed",
        ": connecting",     ": reconnecting in ",
        " s (attempt 1): ", ": connecting"};
    const auto saidInOrder = [&](const std::string& err) {
        std::size_t at = 0;
        for (const std::string& line : lines) {
            at = at == std::string::npos ? at : err.find(line, at);
        }
        return at != std::string::npos;
    };
    const PlayRun run =
        runPlay({server.url("/live.mp3"), "--null", "--reconnect"},
                {.signalWhen = [&](const std::string& err) {
                    if (err.find("reconnecting") != std::string::npos) {
                        server.setScript("/live.mp3",
                                         Script::fixed("").withStatusLine("HTTP/1.1 503 Busy"));
                    }
                    return saidInOrder(err);
                }});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(saidInOrder(run.err)) << run.err;
    // The drop and the refusals after it are said once each, with their
    // cause: no alert, no diagnostic line.
    EXPECT_EQ(run.err.find("Audio Error"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(" err "), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// --reconnect: the next connection's burst is lined up with the last frames
// heard and plays on after them; one that does not reach back is a gap, told.
TEST(PlayReconnect, ResumesWhereItLeftOffOrSaysWhatWasMissed) {
    std::ifstream in(ORVENTO_TRANSMISSION_TEST_RECORDINGS "/tower-mp3-8k.mp3", std::ios::binary);
    const std::string tower((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 16 kbit/s: 2000 bytes a second. The station drops 15 s in; it comes
    // back 4 s earlier, or 3 s later at its own pace.
    for (const auto& [resumeAt, burst, said] :
         {std::tuple{22000, 12000, "resumed after the last frame heard (4.0 s"},
          std::tuple{36000, 0, " s missed at "}}) {
        LoopbackServer server;
        server.setScript("/live.mp3", Script::fixed(tower.substr(0, 30000)).untilClose());
        const PlayRun run = runPlay(
            {server.url("/live.mp3"), "--null", "--reconnect", "--reconnect-waits", "0"},
            {.signalWhen = [&](const std::string& err) {
                if (err.find("reconnecting") != std::string::npos) {
                    server.setScript(
                        "/live.mp3",
                        Script::fixed(tower.substr(resumeAt)).untilClose().paced(2000, burst));
                }
                return err.find(said) != std::string::npos;
            }});
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    }
}

struct EndRow {
    const char* name;
    std::function<void(Script&)> shape;  // of a 1.25 s MP3 served whole
    const char* said;                    // when it reconnects: why; otherwise nullptr
};

class PlayReconnectEnds : public testing::TestWithParam<EndRow> {};

// --reconnect: a recording served whole plays once and ends; the end of a
// live stream (no length, a station's answer, a close before the length) is
// a drop.
TEST_P(PlayReconnectEnds, ARecordingEndsALiveStreamDrops) {
    const EndRow& row = GetParam();
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg2_l3.mp3").string());  // 5016 bytes
    row.shape(s);
    server.setScript("/a.mp3", s);
    const PlayRun run = runPlay(
        {server.url("/a.mp3"), "--null", "--reconnect", "--reconnect-waits", "0"},
        {.signalWhen = [&](const std::string&) { return server.connectionsAccepted() >= 2; },
         .timeout = 30s});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: playing"), std::string::npos) << run.err;
    if (row.said == nullptr) {
        EXPECT_EQ(server.connectionsAccepted(), 1U) << run.err;
        EXPECT_EQ(run.err.find("reconnecting"), std::string::npos) << run.err;
    } else {
        EXPECT_NE(run.err.find(std::string(": reconnecting (attempt 0): ") + row.said),
                  std::string::npos)
            << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlayReconnectEnds,
    testing::Values(
        EndRow{"Whole", [](Script&) {}, nullptr},
        EndRow{"NoLength", [](Script& s) { s.untilClose(); }, "the server closed the connection"},
        EndRow{"Chunked", [](Script& s) { s.chunked(); }, "the server closed the connection"},
        EndRow{"IcyAnswer", [](Script& s) { s.withStatusLine("ICY 200 OK"); },
               "the server closed the connection"},
        // Three times the file announced, and closed once it played.
        EndRow{"ClosedBeforeItsLength",
               [](Script& s) { s.repeated(3 * 5016).paced(8000, 4000).closeAfter(12000); },
               "transfer closed with"}),
    [](const testing::TestParamInfo<EndRow>& info) { return info.param.name; });

struct SilenceRow {
    const char* name;
    std::function<void(Script&)> shape;  // of a 32 kbit/s MP3 (4000 bytes a second), repeated
};

void PrintTo(const SilenceRow& row, std::ostream* out) {
    *out << row.name;
}

class PlayReconnectSilence : public testing::TestWithParam<SilenceRow> {};

// --reconnect: a station whose audio stops while its connection stays open
// (bytes still dripping in, or none at all) has dropped once its 5 s of audio
// have played out and 10 s of silence followed.
TEST_P(PlayReconnectSilence, IsADropAfterTenSeconds) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg2_l3.mp3").string());
    s.repeated().untilClose();
    GetParam().shape(s);
    server.setScript("/live.mp3", s);
    std::optional<std::chrono::steady_clock::time_point> playing;
    std::optional<std::chrono::steady_clock::time_point> dropped;
    const PlayRun run =
        runPlay({server.url("/live.mp3"), "--null", "--reconnect"},
                {.signalWhen =
                     [&](const std::string& err) {
                         const auto now = std::chrono::steady_clock::now();
                         if (!playing && err.find(": playing") != std::string::npos) {
                             playing = now;
                         }
                         if (!dropped && err.find(": reconnecting") != std::string::npos) {
                             dropped = now;
                         }
                         return dropped.has_value();
                     },
                 .timeout = 50s});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find(": reconnecting (attempt 0): the station sent no audio for 10 s"),
              std::string::npos)
        << run.err;
    ASSERT_TRUE(playing && dropped) << run.err;
    const auto took = *dropped - *playing;
    EXPECT_GE(took, 12s) << run.err;
    EXPECT_LE(took, 18s) << run.err;
    EXPECT_EQ(run.err.find("Audio Error"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlayReconnectSilence,
    testing::Values(
        // 5 s at once, then a byte every 0.5 s: never a stall, never audio.
        SilenceRow{"ThenAByteEveryHalfSecond", [](Script& s) { s.writesOf(1).paced(2, 20000); }},
        // 5 s at the station's pace, then nothing, the socket kept open.
        SilenceRow{"StalledWithTheSocketOpen",
                   [](Script& s) { s.paced(4000, 8000).stallAfter(20000); }}),
    [](const testing::TestParamInfo<SilenceRow>& info) { return info.param.name; });

// --live-edge leaves a recording whole (its length declared: it is not
// live), and cuts the burst of the same bytes served as a live stream.
TEST(PlayLiveEdge, LeavesARecordingWhole) {
    for (const bool whole : {true, false}) {
        LoopbackServer server;
        Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
        s.repeated(6 * 13764);
        if (!whole) {
            s.untilClose();
        }
        server.setScript("/rec.mp3", s);
        TempDir dir;
        const PlayRun run = runPlay(
            {server.url("/rec.mp3"), "--wav", (dir / "o.wav").string(), "--live-edge", "1"});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const auto wav = readWav((dir / "o.wav").string());
        ASSERT_TRUE(wav);
        const double seconds = double(wav->frames()) / wav->sampleRate;
        if (whole) {
            EXPECT_GE(seconds, 5.0) << run.err;
        } else {
            EXPECT_LE(seconds, 3.5) << run.err;
        }
    }
}

// --reconnect --record: every connection is kept, written on at the end of
// the file while the format stays; another format goes to a file named for
// it, and one that is there already is never overwritten. The files are said.
TEST(PlayRecordReconnect, KeepsEveryConnection) {
    LoopbackServer server;
    const auto body = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // Two stations' talk in one format (each connection goes on with new
    // talk, as a live station's does: what was heard already is not kept
    // twice), and AAC.
    const std::string recordings = ORVENTO_TRANSMISSION_TEST_RECORDINGS;
    const std::string tower = body(recordings + "/tower-mp3-8k.mp3").substr(0, 8000);
    const std::string other = body(recordings + "/static-mp3-8k.mp3").substr(0, 8000);
    const std::string aac = body(fixture("adts_stereo.aac").string());
    auto served = std::make_shared<std::atomic<int>>(0);
    // MP3, MP3, AAC, MP3, then nothing more (an empty answer, again and again).
    server.setScript(
        "/s",
        Script::generated([=] {
            const int n = served->fetch_add(1);
            return n == 0 ? tower : n == 1 ? other : n == 2 ? aac : n == 3 ? tower : std::string();
        }).untilClose());
    TempDir dir;
    std::ofstream(dir / "rec (2).mp3") << "kept";
    const PlayRun run = runPlay(
        {server.url("/s"), "--null", "--reconnect", "--reconnect-waits", "0", "--record",
         (dir / "rec.mp3").string()},
        {.signalWhen = [&](const std::string&) { return served->load() >= 6; }, .timeout = 40s});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::string said = "orvento-play: recorded " + (dir / "rec.mp3").string() +
                             "\norvento-play: recorded " + (dir / "rec.aac").string() +
                             "\norvento-play: recorded " + (dir / "rec (3).mp3").string() + "\n";
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    std::error_code ec;
    // The tower's connection whole: it follows another format.
    const auto once = fs::file_size(dir / "rec (3).mp3", ec);
    EXPECT_GT(once, 7000U);
    // The first two, one after the other: whole frames of 8000 bytes each.
    const auto both = fs::file_size(dir / "rec.mp3", ec);
    EXPECT_GT(both, once + 7000) << both;
    EXPECT_LE(both, once + 8000) << both;
    EXPECT_GT(fs::file_size(dir / "rec.aac", ec), 3000U);
    EXPECT_EQ(fs::file_size(dir / "rec (2).mp3", ec), 4U);
}

// The engine's diagnostic lines (the MP3's missing cookie at every
// connection) go to standard error with --verbose, and nowhere without.
TEST(PlayVerbose, DiagnosticLinesOnlyWhenAsked) {
    for (const bool verbose : {false, true}) {
        LoopbackServer server;
        server.setScript("/a.mp3", Script::fromFile(fixture("mpeg2_l3.mp3").string()));
        std::vector<std::string> args{server.url("/a.mp3"), "--null"};
        if (verbose) {
            args.emplace_back("--verbose");
        }
        const PlayRun run = runPlay(args);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find("\ninfo kAudioFileStreamProperty_MagicCookieData err ") !=
                      std::string::npos,
                  verbose)
            << run.err;
    }
}

// --reconnect-waits: the given waits, exact, in place of the shipped ones
// (which would say "in 1 s" for attempt 1): at once, then 20 s.
TEST(PlayReconnect, TakesTheWaitsItIsGiven) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    server.setScript("/live.mp3", s.repeated().paced(40000).closeAfter(40000));
    const std::string waitOfAttempt1 = ": reconnecting in 20 s (attempt 1): ";
    const PlayRun run =
        runPlay({server.url("/live.mp3"), "--null", "--reconnect", "--reconnect-waits", "0,20000"},
                {.signalWhen = [&](const std::string& err) {
                    if (err.find("reconnecting") != std::string::npos) {
                        server.setScript("/live.mp3",
                                         Script::fixed("").withStatusLine("HTTP/1.1 503 Busy"));
                    }
                    return err.find(waitOfAttempt1) != std::string::npos;
                }});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::size_t first = run.err.find(": reconnecting (attempt 0): ");
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_NE(run.err.find(waitOfAttempt1, first), std::string::npos) << run.err;
}

// --sleep: the station stops by itself once its minutes are up (the hidden
// --sleep-minute makes a minute 600 ms), having faded out first.
TEST(PlaySleep, EndsByItselfOnceItsTimeIsUpFadingFirst) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    server.setScript("/live.mp3", s.repeated().paced(40000));
    const auto started = std::chrono::steady_clock::now();
    const PlayRun run =
        runPlay({server.url("/live.mp3"), "--null", "--sleep", "2", "--sleep-minute", "600"},
                {.timeout = 20s});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::size_t at = 0;
    for (const char* said :
         {": playing", ": sleep timer: fading out", ": sleep timer: stopping", ": ended"}) {
        at = run.err.find(said, at);
        ASSERT_NE(at, std::string::npos) << said << " in " << run.err;
    }
    EXPECT_EQ(run.err.find("orvento-play: stopping\n"), std::string::npos) << run.err;
    EXPECT_GE(took, 1200ms);
    EXPECT_LT(took, 10s);
}

}  // namespace
}  // namespace orvento
