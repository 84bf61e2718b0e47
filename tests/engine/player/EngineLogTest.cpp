// The engine's own lines: the error line's form, and where the lines go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/player/EngineServices.h"
#include "engine/player/StatusErrorLog.h"

namespace orvento {
namespace {

struct ErrorLineRow {
    const char* operation;
    StatusCode status;
    const char* line;
};

class StatusErrorLine : public testing::TestWithParam<ErrorLineRow> {};

TEST_P(StatusErrorLine, PrintsTheCodeInItsReadingOrderRightAligned) {
    const ErrorLineRow& row = GetParam();
    EXPECT_EQ(formatStatusError(row.operation, row.status), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusErrorLine,
    testing::Values(
        ErrorLineRow{"AudioQueueStart", fourCharStatus("qdev"),
                     "AudioQueueStart err qdev 1902404982"},
        // Leading zero bytes are skipped, a later one ends the code.
        ErrorLineRow{"AudioQueueStart", 0x00414243, "AudioQueueStart err  ABC 4276803"},
        ErrorLineRow{"AudioQueueStop", 0x41, "AudioQueueStop err    A 65"},
        ErrorLineRow{"AudioQueueFlush", 0x41420043, "AudioQueueFlush err   AB 1094844483"},
        // A small negative status has no printable bytes: dots keep the line whole.
        ErrorLineRow{"AudioQueueDispose", kParameterError, "AudioQueueDispose err .... -50"},
        // Control characters never reach the output.
        ErrorLineRow{"x", 0x0A0D4109, "x err ..A. 168640777"}));

class IgnoringListener : public OutputQueue::Listener {
    void bufferComplete(OutputQueue::Buffer& /*buffer*/) override {}
    void runningChanged(bool /*running*/) override {}
};

// The owner's sink takes the player's error lines and the queue's own.
TEST(EngineLog, ThePlatformsSinkTakesTheErrorLinesAndTheQueuesLines) {
    std::vector<std::string> lines;
    AudioOutputChoice unwritable;
    unwritable.kind = AudioOutputChoice::Kind::WavFile;
    unwritable.wavPath = "/nonexistent-folder/out.wav";
    EngineServices platform(unwritable, [&](std::string_view line) { lines.emplace_back(line); });
    const AudioFormat pcm{8000, kFormatLinearPcm, kPcmSignedInteger, 2, 1, 2, 1, 16};
    IgnoringListener listener;
    OutputQueueCreation created = platform.makeOutputQueue(pcm, listener);
    ASSERT_EQ(created.error, QueueError::None);
    OutputQueue& queue = *created.queue;
    EXPECT_EQ(queue.start(), QueueError::CannotStart);
    platform.logLine(
        formatStatusError("AudioQueueStart", static_cast<std::int32_t>(QueueError::CannotStart)));
    EXPECT_EQ(queue.dispose(true), QueueError::None);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"audio queue cannot start: cannot create the WAV file "
                                        "/nonexistent-folder/out.wav: No such file or directory",
                                        "AudioQueueStart err qdev 1902404982"}));
}

}  // namespace
}  // namespace orvento
