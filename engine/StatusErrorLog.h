// The engine's error line: one line on standard output for every failing
// platform status the engine tests.
#pragma once

#include <string>

#include "engine/platform/CoreTypes.h"

namespace orvento {

// "<operation> err <code> <status>\n": the status's four bytes in memory order
// (lowest first on little-endian machines, so a four-character code reads
// reversed: 'typ?' prints "?pyt"), ending early at a zero byte, right-aligned
// in four columns, then the status in signed decimal. A byte that is not
// printable ASCII prints as '.', so no status can corrupt the line.
std::string formatStatusError(const char* operation, OSStatus status);

// Writes formatStatusError's line to standard output in one write, so lines
// from different threads never interleave.
void logStatusError(const char* operation, OSStatus status);

}  // namespace orvento
