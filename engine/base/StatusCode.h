// The status codes the services' errors carry, and the four-character codes
// most of them are.
#pragma once

#include <cstdint>

namespace orvento {

// A service's error as a number, as the engine's error lines print it: 0 is
// success, anything else a failure. Most failures are four-character codes
// (see fourCharCode); each service's error enum takes its values from here.
using StatusCode = std::int32_t;

inline constexpr StatusCode kSuccess = 0;
// An argument out of range.
inline constexpr StatusCode kParameterError = -50;

// A 32-bit value whose bytes, most significant first, are the four characters:
// fourCharCode("redy") == 0x72656479. Used for file types, format ids and
// statuses.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// The same code as a status value.
constexpr StatusCode fourCharStatus(const char (&code)[5]) {
    return static_cast<StatusCode>(fourCharCode(code));
}

}  // namespace orvento
