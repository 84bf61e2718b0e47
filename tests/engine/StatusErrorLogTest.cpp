#include <gtest/gtest.h>

#include "engine/StatusErrorLog.h"
#include "engine/platform/CoreTypes.h"

namespace orvento {
namespace {

struct ErrorLineRow {
    const char* operation;
    OSStatus status;
    const char* line;
};

class StatusErrorLine : public testing::TestWithParam<ErrorLineRow> {};

TEST_P(StatusErrorLine, PrintsBytesInMemoryOrderRightAligned) {
    const ErrorLineRow& row = GetParam();
    EXPECT_EQ(formatStatusError(row.operation, row.status), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusErrorLine,
    testing::Values(
        // A four-character code reads reversed on a little-endian machine.
        ErrorLineRow{"AudioFileStreamOpen", fourCharStatus("typ?"),
                     "AudioFileStreamOpen err ?pyt 1954115647\n"},
        // Output stops at the first zero byte and is right-aligned.
        ErrorLineRow{"AudioQueueStart", 0x00414243, "AudioQueueStart err  CBA 4276803\n"},
        ErrorLineRow{"AudioQueueStop", 0x41, "AudioQueueStop err    A 65\n"},
        // A small negative status has no printable bytes: dots keep the line whole.
        ErrorLineRow{"AudioQueueDispose", kAudio_ParamError, "AudioQueueDispose err .... -50\n"},
        // A zero low byte ends the code before anything is printed.
        ErrorLineRow{"AudioQueueFlush", 0x41424300, "AudioQueueFlush err      1094861568\n"},
        // Control characters never reach the output.
        ErrorLineRow{"x", 0x0A0D4109, "x err .A.. 168640777\n"}));

TEST(StatusErrorLog, WritesTheLineToStandardOutput) {
    testing::internal::CaptureStdout();
    logStatusError("AudioQueueNewOutput", fourCharStatus("fmt?"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AudioQueueNewOutput err ?tmf 1718449215\n");
}

}  // namespace
}  // namespace orvento
