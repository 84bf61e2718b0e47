// The audio format record and packet description that the streaming parser
// produces and the output queue consumes.
#pragma once

#include "engine/platform/CoreTypes.h"

namespace orvento {

// Describes one stream of audio: what a packet and a frame hold.
// For linear PCM one packet is one frame (mFramesPerPacket == 1).
// For compressed formats mBytesPerPacket and mBytesPerFrame are 0 when packets
// vary in size, and mBitsPerChannel is 0.
struct AudioStreamBasicDescription {
    double mSampleRate;
    std::uint32_t mFormatID;
    std::uint32_t mFormatFlags;
    std::uint32_t mBytesPerPacket;
    std::uint32_t mFramesPerPacket;
    std::uint32_t mBytesPerFrame;
    std::uint32_t mChannelsPerFrame;
    std::uint32_t mBitsPerChannel;
    std::uint32_t mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// Locates one packet inside a run of packet bytes.
struct AudioStreamPacketDescription {
    std::int64_t mStartOffset;  // byte offset of the packet in the run
    std::uint32_t
        mVariableFramesInPacket;  // frames in this packet; 0 when the format's constant applies
    std::uint32_t mDataByteSize;  // size of the packet in bytes
};
static_assert(sizeof(AudioStreamPacketDescription) == 16);

// Format ids (AudioStreamBasicDescription::mFormatID).
inline constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr std::uint32_t kAudioFormatMPEGLayer1 = fourCharCode(".mp1");
inline constexpr std::uint32_t kAudioFormatMPEGLayer2 = fourCharCode(".mp2");
inline constexpr std::uint32_t kAudioFormatMPEGLayer3 = fourCharCode(".mp3");
inline constexpr std::uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");

// Format flags for linear PCM (AudioStreamBasicDescription::mFormatFlags).
// Without kAudioFormatFlagIsBigEndian samples are little-endian; without
// kAudioFormatFlagIsFloat and kAudioFormatFlagIsSignedInteger they are
// unsigned integers (8-bit WAV). Channels are interleaved.
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1U << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 1U << 1;
inline constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 1U << 2;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1U << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsAlignedHigh = 1U << 4;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1U << 5;

// For AAC, mFormatFlags carries the MPEG-4 audio object type (2 = AAC LC).
inline constexpr std::uint32_t kMPEG4Object_AAC_LC = 2;

}  // namespace orvento
