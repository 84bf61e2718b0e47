// Small audio streams made in the test itself.
#pragma once

#include <cstring>
#include <vector>

#include "engine/base/StatusCode.h"

namespace orvento::test {

// A canonical 44-byte WAV header for `dataBytes` bytes of integer PCM.
inline std::vector<std::uint8_t> wavHeader(std::uint32_t rate, std::uint16_t channels,
                                           std::uint16_t bits, std::uint32_t dataBytes) {
    std::vector<std::uint8_t> h;
    auto put = [&h](const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        h.insert(h.end(), b, b + n);
    };
    auto u32 = [&put](std::uint32_t v) { put(&v, 4); };
    auto u16 = [&put](std::uint16_t v) { put(&v, 2); };
    put("RIFF", 4);
    u32(36 + dataBytes);
    put("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(static_cast<std::uint16_t>(channels * bits / 8));
    u16(bits);
    put("data", 4);
    u32(dataBytes);
    return h;
}

}  // namespace orvento::test
