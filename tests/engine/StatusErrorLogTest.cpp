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
        ErrorLineRow{"AudioQueueDispose", kAudio_ParamError, "AudioQueueDispose err .... -50"},
        // Control characters never reach the output.
        ErrorLineRow{"x", 0x0A0D4109, "x err ..A. 168640777"}));

}  // namespace
}  // namespace orvento
