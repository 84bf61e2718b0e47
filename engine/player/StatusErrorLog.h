// The engine's error line, written for every failing platform status the
// engine tests (to its platform's log: EngineServices::logLine).
#pragma once

#include <string>

#include "engine/base/StatusCode.h"

namespace orvento {

// "<operation> err <code> <status>", without a line end: the status's four
// bytes in their reading order, most significant first, so that a
// four-character code reads as it is written ('qdev' prints "qdev"); leading
// zero bytes are skipped and a later zero byte ends the code; right-aligned
// in four columns; then the status in signed decimal. A byte that is not
// printable ASCII prints as '.', so no status can corrupt the line.
std::string formatStatusError(const char* operation, StatusCode status);

}  // namespace orvento
