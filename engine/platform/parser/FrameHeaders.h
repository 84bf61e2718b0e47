// Internal to the parser: MPEG audio and ADTS frame headers.
#pragma once

#include <cstddef>

#include "engine/platform/CoreTypes.h"

namespace orvento::parser {

// The header bytes that must be present before a frame can be judged.
inline constexpr size_t kMpegHeaderBytes = 4;
inline constexpr size_t kAdtsHeaderBytes = 7;
// The largest frames: Layer II at 160 kbit/s and 8 kHz; a full 13-bit ADTS length.
inline constexpr UInt32 kMaxMpegFrameBytes = 2881;
inline constexpr UInt32 kMaxAdtsFrameBytes = 8191;

enum class FrameKind : UInt8 { Mpeg, Adts };

struct FrameHeader {
    FrameKind kind = FrameKind::Mpeg;
    UInt32 frameBytes = 0;   // whole frame, header included
    UInt32 headerBytes = 0;  // bytes stripped before the packet (ADTS header and CRC)
    // The fields every frame of one stream must share: compared to keep a lock.
    UInt32 streamKey = 0;
    UInt32 sampleRate = 0;
    UInt32 channels = 0;
    UInt32 samplesPerFrame = 0;
    UInt32 layer = 0;        // MPEG: 1, 2 or 3
    UInt32 mpegVersion = 0;  // MPEG: 10 (MPEG-1), 20 (MPEG-2), 25 (MPEG-2.5)
    bool crc = false;
    UInt32 objectType = 0;     // ADTS: MPEG-4 audio object type
    UInt32 rateIndex = 0;      // ADTS: sampling-frequency index
    UInt32 channelConfig = 0;  // ADTS
};

// p holds at least kMpegHeaderBytes. False when the bytes are not a usable
// MPEG audio frame header (free-format bitrate included).
bool parseMpegHeader(const UInt8* p, FrameHeader& out);
// The frame size for a 32-bit MPEG header word already known to carry the
// stream's key, or 0 when the word is no valid header. Table-driven: the
// steady-state path.
UInt32 mpegFrameBytes(UInt32 word);
// The key bits of an MPEG header word: sync, version, layer, sample rate and
// whether the channel mode is mono.
inline UInt32 mpegKeyOf(UInt32 word) {
    return (word & 0xFFFE0C00u) | ((word & 0xC0u) == 0xC0u ? 1u : 0u);
}

// p holds at least kAdtsHeaderBytes. False when the bytes are not a usable
// ADTS header (frames with several raw data blocks included).
bool parseAdtsHeader(const UInt8* p, FrameHeader& out);

// True when a complete Layer III frame carries a "Xing"/"Info" or "VBRI"
// header (an encoder's summary frame that holds no audio).
bool isVbrInfoFrame(const UInt8* frame, const FrameHeader& h);

}  // namespace orvento::parser
