// Basic types shared by every platform service: statuses and four-character
// codes.
#pragma once

#include <cstdint>

namespace orvento {

// Every service operation returns a status: 0 is success, anything else a
// failure. Most failure statuses are four-character codes (see fourCharCode).
using OSStatus = std::int32_t;

inline constexpr OSStatus noErr = 0;
// A null handle, null out-pointer or out-of-range argument.
inline constexpr OSStatus kAudio_ParamError = -50;

// A 32-bit value whose bytes, most significant first, are the four characters:
// fourCharCode("redy") == 0x72656479. Used for property ids, file types,
// format ids and statuses.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// The same code as a status value.
constexpr OSStatus fourCharStatus(const char (&code)[5]) {
    return static_cast<OSStatus>(fourCharCode(code));
}

}  // namespace orvento
