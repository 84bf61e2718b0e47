// orvento-probe from the outside: what a user sees for good, unhinted and
// unplayable inputs, and a file served over HTTP read like the file itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "tests/engine/platform/parser/ParserTestSupport.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/probe/Probe.h"

namespace orvento::test {
namespace {

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

// `runner`: a program that runs the probe (prlimit ...), or empty.
ToolRun runProbe(const std::string& arguments, const std::string& runner = {}) {
    ToolRun run;
    std::string command = runner + std::string(ORVENTO_PROBE_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, n);
    }
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string lineStartingWith(const std::string& text, const std::string& prefix) {
    size_t at = text.find("\n" + prefix);
    if (at == std::string::npos) {
        return {};
    }
    size_t end = text.find('\n', at + 1);
    return text.substr(at + 1, end - at - 1);
}

struct ProbeRow {
    const char* arguments;  // after the fixture path
    const char* fixture;
    int exitCode;
    const char* detected;  // expected "detected:" line text (substring)
    const char* status;    // expected "status:" line text (substring)
};

void PrintTo(const ProbeRow& row, std::ostream* out) {
    *out << row.fixture << row.arguments;
}

class ProbeTool : public ::testing::TestWithParam<ProbeRow> {};

TEST_P(ProbeTool, ReportsWhatItFound) {
    const ProbeRow& row = GetParam();
    ToolRun run = runProbe(fixturePath(row.fixture) + row.arguments);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.output;
    EXPECT_NE(lineStartingWith(run.output, "detected:").find(row.detected), std::string::npos)
        << run.output;
    EXPECT_NE(lineStartingWith(run.output, "status:").find(row.status), std::string::npos)
        << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ProbeTool,
    ::testing::Values(ProbeRow{"", "mpeg1_l3_cbr_id3.mp3", 0, "'MPG3' by frame sync, as hinted",
                               "0 (ok)"},
                      ProbeRow{" --hint wav", "adts_lc.aac", 0,
                               "'adts' by frame sync, overriding the hint", "0 (ok)"},
                      ProbeRow{" --chunk 1", "caf_aac.caf", 0,
                               "'caff' by container signature, as hinted", "0 (ok)"},
                      ProbeRow{"", "m4a_moov_last.m4a", 1, "nothing", "'optm'"},
                      ProbeRow{" --chunk 1k", "wav_u8.wav", 2, "", ""}));

using loopback::LoopbackServer;
using loopback::Script;

TEST(ProbeUrl, ReadsAFileServedOverHttpLikeTheFileItself) {
    LoopbackServer server;
    server.setScript(
        "/approach.mp3",
        Script::fromFile(fixturePath("mpeg1_l3_vbr_xing.mp3")).chunked().writesOf(1000));
    probe::Probe viaHttp(kAudioFileMP3Type, nullptr, true);
    std::string error;
    bool timedOut = true;
    EXPECT_TRUE(probe::probeUrl(server.url("/approach.mp3"), viaHttp, error, 20, &timedOut))
        << error;
    EXPECT_FALSE(timedOut);
    const probe::ProbeResult& r = viaHttp.result();
    EXPECT_TRUE(r.ready);
    EXPECT_EQ(r.status, noErr);
    EXPECT_EQ(r.packetSizes, expectedPacketSizes("mpeg1_l3_vbr_xing.mp3"));
}

}  // namespace
}  // namespace orvento::test
