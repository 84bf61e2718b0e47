// Internal to the parser: MPEG audio and ADTS frame headers.
#pragma once

#include <cstddef>

#include "engine/base/StatusCode.h"

namespace orvento::demux {

// The header bytes that must be present before a frame can be judged.
inline constexpr size_t kMpegHeaderBytes = 4;
inline constexpr size_t kAdtsHeaderBytes = 7;
// The largest frames: Layer II at 160 kbit/s and 8 kHz; a full 13-bit ADTS length.
inline constexpr std::uint32_t kMaxMpegFrameBytes = 2881;
inline constexpr std::uint32_t kMaxAdtsFrameBytes = 8191;

enum class FrameKind : std::uint8_t { Mpeg, Adts };

struct FrameHeader {
    FrameKind kind = FrameKind::Mpeg;
    std::uint32_t frameBytes = 0;   // whole frame, header included
    std::uint32_t headerBytes = 0;  // bytes stripped before the packet (ADTS header and CRC)
    // The fields every frame of one stream must share: compared to keep a lock.
    std::uint32_t streamKey = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t samplesPerFrame = 0;
    std::uint32_t layer = 0;        // MPEG: 1, 2 or 3
    std::uint32_t mpegVersion = 0;  // MPEG: 10 (MPEG-1), 20 (MPEG-2), 25 (MPEG-2.5)
    bool crc = false;
    std::uint32_t objectType = 0;     // ADTS: MPEG-4 audio object type
    std::uint32_t rateIndex = 0;      // ADTS: sampling-frequency index
    std::uint32_t channelConfig = 0;  // ADTS
};

// p holds at least kMpegHeaderBytes. False when the bytes are not a usable
// MPEG audio frame header (free-format bitrate included).
bool parseMpegHeader(const std::uint8_t* p, FrameHeader& out);
// The frame size for a 32-bit MPEG header word already known to carry the
// stream's key, or 0 when the word is no valid header. Table-driven: the
// steady-state path.
std::uint32_t mpegFrameBytes(std::uint32_t word);
// The key bits of an MPEG header word: sync, version, layer, sample rate and
// whether the channel mode is mono.
inline std::uint32_t mpegKeyOf(std::uint32_t word) {
    return (word & 0xFFFE0C00u) | ((word & 0xC0u) == 0xC0u ? 1u : 0u);
}

// p holds at least kAdtsHeaderBytes. False when the bytes are not a usable
// ADTS header (frames with several raw data blocks included).
bool parseAdtsHeader(const std::uint8_t* p, FrameHeader& out);

// True when a complete Layer III frame carries a "Xing"/"Info" or "VBRI"
// header (an encoder's summary frame that holds no audio).
bool isVbrInfoFrame(const std::uint8_t* frame, const FrameHeader& h);

}  // namespace orvento::demux
