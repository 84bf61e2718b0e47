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
    Float64 mSampleRate;
    UInt32 mFormatID;
    UInt32 mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// Locates one packet inside a run of packet bytes.
struct AudioStreamPacketDescription {
    SInt64 mStartOffset;             // byte offset of the packet in the run
    UInt32 mVariableFramesInPacket;  // frames in this packet; 0 when the format's constant applies
    UInt32 mDataByteSize;            // size of the packet in bytes
};
static_assert(sizeof(AudioStreamPacketDescription) == 16);

// Format ids (AudioStreamBasicDescription::mFormatID).
inline constexpr UInt32 kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr UInt32 kAudioFormatMPEGLayer1 = fourCharCode(".mp1");
inline constexpr UInt32 kAudioFormatMPEGLayer2 = fourCharCode(".mp2");
inline constexpr UInt32 kAudioFormatMPEGLayer3 = fourCharCode(".mp3");
inline constexpr UInt32 kAudioFormatMPEG4AAC = fourCharCode("aac ");

// Format flags for linear PCM (AudioStreamBasicDescription::mFormatFlags).
// Without kAudioFormatFlagIsBigEndian samples are little-endian; without
// kAudioFormatFlagIsFloat and kAudioFormatFlagIsSignedInteger they are
// unsigned integers (8-bit WAV). Channels are interleaved.
inline constexpr UInt32 kAudioFormatFlagIsFloat = 1U << 0;
inline constexpr UInt32 kAudioFormatFlagIsBigEndian = 1U << 1;
inline constexpr UInt32 kAudioFormatFlagIsSignedInteger = 1U << 2;
inline constexpr UInt32 kAudioFormatFlagIsPacked = 1U << 3;
inline constexpr UInt32 kAudioFormatFlagIsAlignedHigh = 1U << 4;
inline constexpr UInt32 kAudioFormatFlagIsNonInterleaved = 1U << 5;

// For AAC, mFormatFlags carries the MPEG-4 audio object type (2 = AAC LC).
inline constexpr UInt32 kMPEG4Object_AAC_LC = 2;

}  // namespace orvento
