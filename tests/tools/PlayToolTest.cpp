// orvento-play end to end: the real program against the loopback server,
// recording to a WAV file that is compared with ffmpeg's decode of the same
// fixture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/AudioCompare.h"
#include "tests/support/LoopbackServer.h"

extern char** environ;

namespace orvento {
namespace {

namespace fs = std::filesystem;
using testsupport::LoopbackServer;
using testsupport::Script;
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
    std::chrono::milliseconds afterSignal{0};  // from SIGINT to the exit
};

// Runs orvento-play with `args`. When `interruptWhen` is given it is polled
// and, once true, SIGINT is sent. The run is killed after `timeout`.
PlayRun runPlay(const std::vector<std::string>& args,
                const std::function<bool(const std::string& err)>& interruptWhen = {},
                std::chrono::seconds timeout = 60s) {
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
    std::vector<std::string> all = {playTool().string()};
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::chrono::steady_clock::time_point signalled{};
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
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
        if (interruptWhen && signalled == std::chrono::steady_clock::time_point{} &&
            interruptWhen(run.err)) {
            signalled = std::chrono::steady_clock::now();
            kill(pid, SIGINT);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "orvento-play did not end; killed";
            kill(pid, SIGKILL);
            break;
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (signalled != std::chrono::steady_clock::time_point{}) {
        run.afterSignal = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - signalled);
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

// The reference decode's facts, from references.tsv.
struct Reference {
    std::string file;
    int rate = 0;
    int channels = 0;
};

std::map<std::string, Reference> references() {
    std::map<std::string, Reference> refs;
    std::ifstream in(sourceDir() / "tests" / "data" / "reference" / "references.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string fixtureName;
        Reference r;
        long frames = 0;
        row >> fixtureName >> r.file >> r.rate >> r.channels >> frames;
        refs[fixtureName] = r;
    }
    return refs;
}

bool isAac(const std::string& name) {
    return name.starts_with("adts") || name.ends_with(".m4a") || name.ends_with(".mp4") ||
           name == "caf_aac.caf";
}

// Compares the recorded WAV with the fixture's reference decode.
void expectMatchesReference(const fs::path& wav, const std::string& fixtureName) {
    const auto refs = references();
    auto it = refs.find(fixtureName);
    ASSERT_NE(it, refs.end()) << fixtureName << " has no reference";
    std::string error;
    auto test = readWav(wav.string(), &error);
    ASSERT_TRUE(test) << error;
    auto ref =
        readWav((sourceDir() / "tests" / "data" / "reference" / it->second.file).string(), &error);
    ASSERT_TRUE(ref) << error;
    const AudioComparison c = compareAudio(*test, *ref, 4096);
    EXPECT_TRUE(c.sameRate) << test->sampleRate << " vs " << ref->sampleRate;
    EXPECT_TRUE(c.sameChannels) << test->channels << " vs " << ref->channels;
    // Decoders may keep or drop encoder delay and padding: within two frames.
    EXPECT_LE(std::labs(c.lengthDifference), 2 * 2048) << "frames differ by " << c.lengthDifference;
    EXPECT_GE(c.snrDb, isAac(fixtureName) ? 40.0 : 60.0) << "lag " << c.lag;
}

class EveryFixture : public testing::TestWithParam<std::string> {};

TEST_P(EveryFixture, RecordsWhatTheReferenceDecoderHears) {
    const std::string name = GetParam();
    LoopbackServer server;
    server.setScript("/" + name, Script::fromFile(fixture(name).string()));
    TempDir dir;
    const PlayRun run = runPlay({server.url("/" + name), "--wav", (dir / "out.wav").string()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: playing"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    expectMatchesReference(dir / "out.wav", name);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EveryFixture,
    testing::Values("mpeg1_l1.mp1", "mpeg1_l2.mp2", "mpeg2_l2.mp2", "mpeg1_l3_cbr_id3.mp3",
                    "mpeg1_l3_vbr_xing.mp3", "mpeg2_l3.mp3", "mpeg25_l3.mp3",
                    "mpeg25_l3_stereo.mp3", "id3_huge.mp3", "id3v24_footer_unsync.mp3",
                    "adts_lc.aac", "adts_crc.aac", "adts_stereo.aac", "m4a_faststart.m4a",
                    "mp4_faststart.mp4", "caf_aac.caf", "caf_s16le.caf", "caf_f32be.caf",
                    "wav_u8.wav", "wav_s16.wav", "wav_s24_plain.wav", "wav_s24_extensible.wav",
                    "wav_s32.wav", "wav_f32.wav", "wav_f64.wav", "wav_live_ffffffff.wav",
                    "wav_live_zero.wav", "aiff_s8.aiff", "aiff_s16.aiff", "aiff_s24.aiff",
                    "aifc_none.aifc", "aifc_sowt.aifc", "aifc_fl32.aifc", "aifc_fl64.aifc"),
    [](const testing::TestParamInfo<std::string>& info) {
        std::string n = info.param;
        for (char& c : n) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return n;
    });

struct ServerRow {
    const char* name;
    const char* fixture;
    const char* path;
    std::function<void(Script&)> shape;
};

class ServerKinds : public testing::TestWithParam<ServerRow> {};

TEST_P(ServerKinds, PlayToTheEndAndMatchTheReference) {
    const ServerRow& row = GetParam();
    LoopbackServer server;
    Script s = Script::fromFile(fixture(row.fixture).string());
    row.shape(s);
    server.setScript(row.path, s);
    TempDir dir;
    const PlayRun run = runPlay({server.url(row.path), "--wav", (dir / "out.wav").string()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    expectMatchesReference(dir / "out.wav", row.fixture);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerKinds,
    testing::Values(ServerRow{"Chunked", "mpeg1_l3_vbr_xing.mp3", "/chunked.mp3",
                              [](Script& s) { s.chunked().writesOf(777); }},
                    ServerRow{"IcyStatusLine", "mpeg2_l3.mp3", "/icy",
                              [](Script& s) { s.withStatusLine("ICY 200 OK").untilClose(); }},
                    // A mount point without an extension: the MP3 hint, and the parser
                    // still finds the ADTS stream.
                    ServerRow{"AacWithoutExtension", "adts_stereo.aac", "/live", [](Script&) {}},
                    ServerRow{"Dripping", "mpeg25_l3.mp3", "/drip.mp3",
                              [](Script& s) { s.writesOf(97).paced(40000); }}),
    [](const testing::TestParamInfo<ServerRow>& info) { return info.param.name; });

TEST(PlayToolFailures, AServerThatClosesMidStreamFails) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.closeAfter(5000);
    server.setScript("/a.mp3", s);
    TempDir dir;
    const PlayRun run = runPlay({server.url("/a.mp3"), "--wav", (dir / "out.wav").string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("Audio Error: Attempt to play streaming audio failed."),
              std::string::npos)
        << run.err;
}

TEST(PlayToolFailures, AnErrorPageFails) {
    LoopbackServer server;  // every path: 404 with an HTML page
    const PlayRun run = runPlay({server.url("/missing.mp3"), "--null"});
    EXPECT_EQ(run.exitStatus, 1);
    // The alert, with why; a stream that never played does not claim it did.
    EXPECT_NE(run.err.find("Audio Error: Attempt to play streaming audio failed.\n"
                           "orvento-play: the server answered \"HTTP/1.1 404 Not Found\"\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("playing"), std::string::npos) << run.err;
}

TEST(PlayToolFailures, AStreamThatCannotBeOpenedFailsWithoutAlert) {
    const PlayRun run = runPlay({"ftp://127.0.0.1/a.mp3", "--null"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err.find("Audio Error"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("could not be opened"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Only http and https"), std::string::npos) << run.err;
}

TEST(PlayToolFailures, TheEnginesErrorLinesGoToStandardOutput) {
    LoopbackServer server;
    server.setScript("/a.mp3", Script::fromFile(fixture("mpeg2_l3.mp3").string()));
    TempDir dir;
    const PlayRun run = runPlay({server.url("/a.mp3"), "--wav", (dir / "out.wav").string()});
    EXPECT_EQ(run.exitStatus, 0);
    // An MP3 has no magic cookie: the engine's one line, and nothing else.
    EXPECT_TRUE(run.out.starts_with("info kAudioFileStreamProperty_MagicCookieData err "))
        << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
    EXPECT_EQ(run.err.find(" err "), std::string::npos);
}

TEST(PlayToolFailures, AWavFileThatCannotBeWrittenFails) {
    LoopbackServer server;
    server.setScript("/a.mp3", Script::fromFile(fixture("mpeg2_l3.mp3").string()));
    const PlayRun run = runPlay({server.url("/a.mp3"), "--wav", "/nonexistent-dir/out.wav"});
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.err.find("Audio Error"), std::string::npos) << run.err;
}

TEST(PlayToolInterrupt, CtrlCOnAStalledServerStopsCleanly) {
    LoopbackServer server;
    Script s = Script::fromFile(fixture("mpeg1_l3_vbr_xing.mp3").string());
    s.repeated(1000000).stallAfter(80000);  // two buffers and a half, then nothing
    server.setScript("/stall.mp3", s);
    TempDir dir;
    const PlayRun run = runPlay({server.url("/stall.mp3"), "--wav", (dir / "out.wav").string()},
                                [&](const std::string& err) {
                                    // Stalled, and the audio before the stall decoded.
                                    std::error_code ec;
                                    return server.bodyBytesWritten() >= 80000 &&
                                           err.find("orvento-play: playing") != std::string::npos &&
                                           fs::file_size(dir / "out.wav", ec) > 200000;
                                });
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: stopping"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    // What was handed to the queue before the stop is in the file.
    std::string error;
    auto wav = readWav((dir / "out.wav").string(), &error);
    ASSERT_TRUE(wav) << error;
    EXPECT_GT(wav->frames(), 50000U);
}

TEST(PlayToolInterrupt, CtrlCWhileConnectingIsRepeatedUntilItTakes) {
    LoopbackServer server;
    server.setScript("/quiet", Script::silent());
    const PlayRun run = runPlay({server.url("/quiet"), "--null"}, [](const std::string& err) {
        return err.find("connecting") != std::string::npos;
    });
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("orvento-play: ended"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("playing"), std::string::npos) << run.err;
    EXPECT_LT(run.afterSignal, 5000ms);
}

TEST(PlayToolUsage, HelpExplainsAndBadArgumentsAreUsageErrors) {
    const PlayRun help = runPlay({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* word : {"--wav", "--null", "Ctrl-C", "Exit status", "standard output"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"--bogus", "http://h/"},
                                                 {"http://a/", "http://b/"},
                                                 {"http://h/", "--wav"},
                                                 {"http://h/", "--null", "--wav", "x.wav"}}) {
        const PlayRun run = runPlay(args);
        EXPECT_EQ(run.exitStatus, 2) << run.err;
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
    }
}

TEST(PlayToolUrl, TheTextIsEscapedAsTheScreenDoesIt) {
    LoopbackServer server;
    server.setScript("/a%20b%23c.mp3", Script::fromFile(fixture("mpeg2_l3.mp3").string()));
    const PlayRun run = runPlay({server.url("/a b#c.mp3"), "--null"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ASSERT_FALSE(server.requests().empty());
    EXPECT_TRUE(server.requests()[0].starts_with("GET /a%20b%23c.mp3 HTTP/1.1"))
        << server.requests()[0];
}

}  // namespace
}  // namespace orvento
