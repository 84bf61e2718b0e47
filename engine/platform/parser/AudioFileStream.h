// The streaming audio-file parser: turns the bytes of an audio file or stream,
// handed over in pieces of any size, into a format record and runs of
// complete audio packets.
//
// (The full contract, the supported formats and the detection rules are
// documented here by the parser's implementation.)
#pragma once

#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"

namespace orvento {

class AudioFileStream;
using AudioFileStreamID = AudioFileStream*;
using AudioFileStreamPropertyID = UInt32;
using AudioFileTypeID = UInt32;
using AudioFileStreamPropertyFlags = UInt32;
using AudioFileStreamParseFlags = UInt32;

// Called when a property becomes known, synchronously inside
// AudioFileStreamParseBytes, on its caller's thread.
using AudioFileStream_PropertyListenerProc = void (*)(void* inClientData,
                                                      AudioFileStreamID inAudioFileStream,
                                                      AudioFileStreamPropertyID inPropertyID,
                                                      AudioFileStreamPropertyFlags* ioFlags);

// Called with a run of complete packets, synchronously inside
// AudioFileStreamParseBytes. inPacketDescriptions is null for linear PCM,
// whose runs are whole frames; the bytes are valid only during the call.
using AudioFileStream_PacketsProc = void (*)(void* inClientData, UInt32 inNumberBytes,
                                             UInt32 inNumberPackets, const void* inInputData,
                                             AudioStreamPacketDescription* inPacketDescriptions);

// File-type hints.
inline constexpr AudioFileTypeID kAudioFileMP3Type = fourCharCode("MPG3");
inline constexpr AudioFileTypeID kAudioFileMP2Type = fourCharCode("MPG2");
inline constexpr AudioFileTypeID kAudioFileMP1Type = fourCharCode("MPG1");
inline constexpr AudioFileTypeID kAudioFileWAVEType = fourCharCode("WAVE");
inline constexpr AudioFileTypeID kAudioFileAIFCType = fourCharCode("AIFC");
inline constexpr AudioFileTypeID kAudioFileAIFFType = fourCharCode("AIFF");
inline constexpr AudioFileTypeID kAudioFileM4AType = fourCharCode("m4af");
inline constexpr AudioFileTypeID kAudioFileMPEG4Type = fourCharCode("mp4f");
inline constexpr AudioFileTypeID kAudioFileCAFType = fourCharCode("caff");
inline constexpr AudioFileTypeID kAudioFileAAC_ADTSType = fourCharCode("adts");

// Properties.
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_ReadyToProducePackets =
    fourCharCode("redy");
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_DataFormat =
    fourCharCode("dfmt");
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_MagicCookieData =
    fourCharCode("mgic");

// Parse flags.
inline constexpr AudioFileStreamParseFlags kAudioFileStreamParseFlag_Discontinuity = 1;

// Statuses.
inline constexpr OSStatus kAudioFileStreamError_UnsupportedFileType = fourCharStatus("typ?");
inline constexpr OSStatus kAudioFileStreamError_UnsupportedDataFormat = fourCharStatus("fmt?");
inline constexpr OSStatus kAudioFileStreamError_UnsupportedProperty = fourCharStatus("pty?");
inline constexpr OSStatus kAudioFileStreamError_BadPropertySize = fourCharStatus("!siz");
inline constexpr OSStatus kAudioFileStreamError_NotOptimized = fourCharStatus("optm");
inline constexpr OSStatus kAudioFileStreamError_InvalidPacketOffset = fourCharStatus("pck?");
inline constexpr OSStatus kAudioFileStreamError_InvalidFile = fourCharStatus("dta?");
inline constexpr OSStatus kAudioFileStreamError_ValueUnknown = fourCharStatus("unk?");
inline constexpr OSStatus kAudioFileStreamError_DataUnavailable = fourCharStatus("more");
inline constexpr OSStatus kAudioFileStreamError_IllegalOperation = fourCharStatus("nope");
inline constexpr OSStatus kAudioFileStreamError_UnspecifiedError = fourCharStatus("wht?");
inline constexpr OSStatus kAudioFileStreamError_DiscontinuityCantRecover = fourCharStatus("dsc!");

OSStatus AudioFileStreamOpen(void* inClientData,
                             AudioFileStream_PropertyListenerProc inPropertyListenerProc,
                             AudioFileStream_PacketsProc inPacketsProc,
                             AudioFileTypeID inFileTypeHint, AudioFileStreamID* outAudioFileStream);

OSStatus AudioFileStreamParseBytes(AudioFileStreamID inAudioFileStream, UInt32 inDataByteSize,
                                   const void* inData, AudioFileStreamParseFlags inFlags);

OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID inAudioFileStream,
                                        AudioFileStreamPropertyID inPropertyID,
                                        UInt32* outPropertyDataSize, Boolean* outWritable);

OSStatus AudioFileStreamGetProperty(AudioFileStreamID inAudioFileStream,
                                    AudioFileStreamPropertyID inPropertyID,
                                    UInt32* ioPropertyDataSize, void* outPropertyData);

OSStatus AudioFileStreamClose(AudioFileStreamID inAudioFileStream);

}  // namespace orvento
