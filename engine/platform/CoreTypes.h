// Basic types shared by every platform service: statuses, four-character
// codes and the fixed-width names the service interfaces are written in.
#pragma once

#include <cstdint>

namespace orvento {

using UInt8 = std::uint8_t;
using UInt16 = std::uint16_t;
using UInt32 = std::uint32_t;
using UInt64 = std::uint64_t;
using SInt16 = std::int16_t;
using SInt32 = std::int32_t;
using SInt64 = std::int64_t;
using Float32 = float;
using Float64 = double;
using Boolean = bool;

// Every service operation returns a status: 0 is success, anything else a
// failure. Most failure statuses are four-character codes (see fourCharCode).
using OSStatus = SInt32;

inline constexpr OSStatus noErr = 0;
// A null handle, null out-pointer or out-of-range argument.
inline constexpr OSStatus kAudio_ParamError = -50;

// A 32-bit value whose bytes, most significant first, are the four characters:
// fourCharCode("redy") == 0x72656479. Used for property ids, file types,
// format ids and statuses.
constexpr UInt32 fourCharCode(const char (&code)[5]) {
    return (static_cast<UInt32>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<UInt32>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<UInt32>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<UInt32>(static_cast<unsigned char>(code[3]));
}

// The same code as a status value.
constexpr OSStatus fourCharStatus(const char (&code)[5]) {
    return static_cast<OSStatus>(fourCharCode(code));
}

}  // namespace orvento
