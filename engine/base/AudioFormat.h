// The audio format record and packet description that the streaming parser
// produces and the output queue consumes.
#pragma once

#include "engine/base/StatusCode.h"

namespace orvento {

// Describes one stream of audio: what a packet and a frame hold.
// For linear PCM one packet is one frame (framesPerPacket == 1).
// For compressed formats bytesPerPacket and bytesPerFrame are 0 when packets
// vary in size, and bitsPerChannel is 0.
struct AudioFormat {
    double sampleRate;
    std::uint32_t formatId;
    std::uint32_t formatFlags;
    std::uint32_t bytesPerPacket;
    std::uint32_t framesPerPacket;
    std::uint32_t bytesPerFrame;
    std::uint32_t channelsPerFrame;
    std::uint32_t bitsPerChannel;

    bool operator==(const AudioFormat&) const = default;
};

// Locates one packet inside a run of packet bytes.
struct PacketDescription {
    std::int64_t startOffset;      // byte offset of the packet in the run
    std::uint32_t framesInPacket;  // frames in this packet; 0 when the format's constant applies
    std::uint32_t byteSize;        // size of the packet in bytes
};

// Format ids (AudioFormat::formatId).
inline constexpr std::uint32_t kFormatLinearPcm = fourCharCode("lpcm");
inline constexpr std::uint32_t kFormatMpegLayer1 = fourCharCode(".mp1");
inline constexpr std::uint32_t kFormatMpegLayer2 = fourCharCode(".mp2");
inline constexpr std::uint32_t kFormatMpegLayer3 = fourCharCode(".mp3");
inline constexpr std::uint32_t kFormatAac = fourCharCode("aac ");

// Format flags for linear PCM (AudioFormat::formatFlags).
// Without kPcmBigEndian samples are little-endian; without
// kPcmFloat and kPcmSignedInteger they are
// unsigned integers (8-bit WAV). Channels are interleaved.
inline constexpr std::uint32_t kPcmFloat = 1U << 0;
inline constexpr std::uint32_t kPcmBigEndian = 1U << 1;
inline constexpr std::uint32_t kPcmSignedInteger = 1U << 2;
inline constexpr std::uint32_t kPcmPacked = 1U << 3;
inline constexpr std::uint32_t kPcmAlignedHigh = 1U << 4;
inline constexpr std::uint32_t kPcmNonInterleaved = 1U << 5;

// For AAC, formatFlags carries the MPEG-4 audio object type (2 = AAC LC).
inline constexpr std::uint32_t kAacObjectLowComplexity = 2;

}  // namespace orvento
