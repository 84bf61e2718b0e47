// orvento-probe --transmissions from the outside: JSON lines on standard
// output that match the known transmissions, state and failures on standard
// error, and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/engine/demux/ParserTestSupport.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::test {
namespace {

struct ProbeRun {
    int exitCode = -1;
    std::vector<recordings::Span> found;  // the lines of standard output
    std::string out;
    std::string err;
};

ProbeRun runProbe(const std::string& source, const std::string& options = {}) {
    const std::string errPath = ::testing::TempDir() + "probe-stderr-" + std::to_string(getpid());
    const std::string command = std::string(ORVENTO_PROBE_PATH) + " --transmissions '" + source +
                                "'" + options + " 2>" + errPath;
    ProbeRun run;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n = 0; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.out.append(buffer, n);
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err.assign(std::istreambuf_iterator<char>(std::ifstream(errPath).rdbuf()), {});
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        double start = 0, duration = 0, peak = 0;
        int used = 0;
        const int got = std::sscanf(line.c_str(),
                                    "{\"start_s\": %lf, \"duration_s\": %lf, \"peak_dbfs\": %lf}%n",
                                    &start, &duration, &peak, &used);
        EXPECT_TRUE(got == 3 && used == static_cast<int>(line.size()) && peak <= 0) << line;
        run.found.push_back({start, start + duration});
    }
    return run;
}

recordings::Recording testRecording(const std::string& name) {
    std::vector<recordings::Recording> set;
    std::string error;
    EXPECT_TRUE(recordings::loadSet(ORVENTO_TRANSMISSION_TEST_RECORDINGS, set, error)) << error;
    for (const auto& r : set) {
        if (r.name == name) {
            return r;
        }
    }
    return {name, fixturePath(name), {}};  // a parser fixture: nothing known to find
}

struct Row {
    const char* source;  // a test recording, a parser fixture or a missing file
    const char* options;
    int exitCode;
    const char* err;  // in standard error
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.source << row.options;
}

class ProbeTransmissions : public ::testing::TestWithParam<Row> {};

TEST_P(ProbeTransmissions, PrintsWhatItFindsAsJsonLines) {
    const Row& row = GetParam();
    const recordings::Recording recording = testRecording(row.source);
    const ProbeRun run = runProbe(recording.path, row.options);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    ASSERT_EQ(run.found.size(), recording.truth.size()) << run.out;
    for (std::size_t i = 0; i < run.found.size(); ++i) {
        EXPECT_NEAR(run.found[i].start, recording.truth[i].start, 0.25) << i;
        EXPECT_NEAR(run.found[i].end, recording.truth[i].end, 0.25) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ProbeTransmissions,
                         ::testing::Values(Row{"tower-mp3-8k.mp3", "", 0,
                                               "s decoded (8000 Hz, 1 channel), 5 transmissions"},
                                           // The last transmission runs to the end of the file.
                                           Row{"ground-mp3-16k.mp3", " --chunk 1000", 0,
                                               "5 transmissions"},
                                           Row{"static-mp3-8k.mp3", "", 0, "0 transmissions"},
                                           Row{"m4a_moov_last.m4a", "", 1, "cannot decode"},
                                           Row{"missing.mp3", "", 1, "cannot decode"}));

TEST(ProbeTransmissions, ReadsAStreamLikeTheFile) {
    const recordings::Recording recording = testRecording("approach-aac-16k.aac");
    loopback::LoopbackServer server;
    server.setScript("/approach.aac", loopback::Script::fromFile(recording.path).writesOf(4000));
    const ProbeRun viaHttp = runProbe(server.url("/approach.aac"), " --seconds 60");
    EXPECT_EQ(viaHttp.exitCode, 0) << viaHttp.err;
    EXPECT_FALSE(viaHttp.out.empty());
    EXPECT_EQ(viaHttp.out, runProbe(recording.path).out);
}

// A server that sends nothing in the time given: said so, not taken for a
// stream without audio.
TEST(ProbeTransmissions, SaysNoDataCameWithinItsTime) {
    loopback::LoopbackServer server;
    server.setScript("/silent", loopback::Script::silent());
    server.setScript("/head", loopback::Script::endless().stallAfter(0));
    for (const char* path : {"/silent", "/head"}) {
        const ProbeRun run = runProbe(server.url(path), " --seconds 1.5");
        EXPECT_EQ(run.exitCode, 1) << path << ": " << run.err;
        EXPECT_NE(run.err.find(": no data came from the server in 1.5 s"), std::string::npos)
            << path << ": " << run.err;
        EXPECT_EQ(run.err.find("playable"), std::string::npos) << path << ": " << run.err;
    }
}

}  // namespace
}  // namespace orvento::test
