// The queue's loadable modules, each check in a fresh process
// (orvento_queue_module_check): a missing module fails the call that needed
// it with one clear line, and matters to no other playback. (That an
// installed program finds its modules beside it is the package test's.)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/platform/queue/AudioQueue.h"
#include "tests/engine/platform/queue/QueueTestSupport.h"

namespace orvento {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CheckRun {
    int exitStatus = -1;
    std::string result;  // "ok" or "failed"
    OSStatus status = noErr;
    std::string error;
    std::vector<std::string> mapped;
    std::string standardError;

    bool maps(const std::string& name) const {
        for (const std::string& path : mapped) {
            if (fs::path(path).filename().string().starts_with(name)) {
                return true;
            }
        }
        return false;
    }
    std::string summary() const {
        std::string s = "exit " + std::to_string(exitStatus) + ", result " + result + ", error '" +
                        error + "', stderr '" + standardError + "', mapped:";
        for (const std::string& path : mapped) {
            s += " " + path;
        }
        return s;
    }
};

// Runs the checker (by default the one in the build tree) on `file` into
// `output`, with the sound device on SDL's dummy driver.
CheckRun runCheck(const std::string& file, const std::string& output,
                  const std::string& moduleFolder = {},
                  const std::string& program = ORVENTO_QUEUE_MODULE_CHECK) {
    const std::string out = scratchPath("check.out");
    const std::string err = scratchPath("check.err");
    std::string command = "SDL_AUDIODRIVER=dummy '" + program + "'";
    if (!moduleFolder.empty()) {
        command += " --module-folder '" + moduleFolder + "'";
    }
    command += " '" + file + "' '" + output + "' >'" + out + "' 2>'" + err + "'";
    CheckRun run;
    const int status = std::system(command.c_str());
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.standardError = readAll(err);
    std::istringstream lines(readAll(out));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "result") {
            run.result = value;
        } else if (key == "status") {
            run.status = static_cast<OSStatus>(std::stol(value));
        } else if (key == "error") {
            run.error = value;
        } else if (key == "mapped") {
            run.mapped.push_back(value);
        }
    }
    return run;
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// ---- Modules that cannot be loaded ------------------------------------------------

// An empty folder of this test's own, for the modules.
std::string moduleFolder() {
    std::string folder = scratchPath("modules");
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

TEST(MissingModule, AacFailsTheNewQueueWithOneLineNamingTheModuleAndWhy) {
    const std::string empty = moduleFolder();
    const CheckRun run = runCheck(fixture("adts_lc.aac"), "null", empty);
    EXPECT_EQ(run.exitStatus, 1) << run.summary();
    EXPECT_EQ(run.status, kAudioQueueErr_CodecNotFound) << run.summary();
    EXPECT_NE(run.error.find("AudioQueueNewOutput"), std::string::npos) << run.summary();
    EXPECT_FALSE(run.maps("libavcodec")) << run.summary();
    ASSERT_EQ(lineCount(run.standardError), 1U) << run.summary();
    EXPECT_NE(run.standardError.find(empty + "/orvento_queue_aac.so"), std::string::npos);
    // dlerror()'s own words.
    EXPECT_NE(run.standardError.find("cannot open shared object file"), std::string::npos)
        << run.standardError;
}

TEST(MissingModule, DeviceFailsTheStartWithItsErrorTextAndOneLine) {
    const std::string empty = moduleFolder();
    const CheckRun run = runCheck(fixture("wav_s16.wav"), "device", empty);
    EXPECT_EQ(run.exitStatus, 1) << run.summary();
    EXPECT_EQ(run.status, kAudioQueueErr_CannotStart) << run.summary();
    // The probe appends AudioQueueErrorText to the failing call.
    EXPECT_NE(run.error.find("AudioQueueStart"), std::string::npos) << run.summary();
    EXPECT_NE(run.error.find("orvento_queue_sdl.so"), std::string::npos) << run.summary();
    EXPECT_NE(run.error.find("cannot open shared object file"), std::string::npos) << run.summary();
    EXPECT_FALSE(run.maps("libSDL2")) << run.summary();
    ASSERT_EQ(lineCount(run.standardError), 1U) << run.summary();
    EXPECT_NE(run.standardError.find(empty + "/orvento_queue_sdl.so"), std::string::npos);
}

TEST(MissingModule, DoesNotMatterToMpegAudioToTheNullOutput) {
    const CheckRun run = runCheck(fixture("mpeg2_l3.mp3"), "null", moduleFolder());
    EXPECT_EQ(run.exitStatus, 0) << run.summary();
    EXPECT_EQ(run.standardError, "");
}

}  // namespace
}  // namespace orvento
