// The streaming audio-file parser: turns the bytes of an audio file or stream,
// handed over in pieces of any size, into a format record and runs of
// complete audio packets.
//
// Lifecycle and threads
//   AudioFileStreamOpen -> AudioFileStreamParseBytes (any number of times) ->
//   AudioFileStreamClose. A parser object is used by one thread at a time
//   (the engine's worker); it has no thread of its own and takes no lock.
//   Both procedures are called synchronously from inside
//   AudioFileStreamParseBytes, on its caller's thread; property queries may be
//   made from inside them. Calling AudioFileStreamParseBytes or
//   AudioFileStreamClose from inside a procedure returns
//   kAudioFileStreamError_IllegalOperation and changes nothing.
//
// What the caller may rely on
//   - Properties announced once, in this order, before the first packet:
//     'ffmt', 'dfmt', 'mgic' (only when the format has a cookie), then 'redy'.
//     The format record and the cookie are final when 'redy' arrives and never
//     change afterwards; 'redy' comes exactly once.
//   - Only complete packets are delivered; a truncated last packet never is.
//   - Packetised formats (MPEG audio, AAC) come with descriptions: one call of
//     the packets procedure per parse call and contiguous region (the bytes
//     carried over from earlier calls form one region, the caller's bytes
//     another), at most 4096 descriptions per call. mStartOffset is relative
//     to inInputData of that call, mVariableFramesInPacket is 0 (except for
//     CAF tables that list frame counts, and MPEG audio frames that follow a
//     change of MPEG version: their own frame count), and the run's
//     inNumberBytes reaches from the first packet's start to the last
//     packet's end (it may span stripped headers and skipped tags between
//     packets). No packet is larger than 32768 bytes.
//   - Linear PCM comes without descriptions (null), in runs of whole frames of
//     at most 32768 bytes; inNumberPackets is then the number of frames.
//   - Feeding the same bytes in any split yields the same format, cookie and
//     packets. At most one packet (or one header being read) is carried
//     across calls, in a fixed 64 KiB buffer; MP4 'moov' and CAF 'pakt'/'kuki'
//     are buffered whole, up to 8 MiB. Nothing else grows with the stream, and
//     the steady state allocates nothing.
//   - After a non-zero status from AudioFileStreamParseBytes the parser is
//     spent: every later call returns the same status and delivers nothing.
//
// Supported formats
//   MPEG-1, MPEG-2 and MPEG-2.5 audio, Layers I, II and III (not free-format
//   bitrates): format '.mp1'/'.mp2'/'.mp3', mFramesPerPacket 384 (Layer I),
//   1152 (Layer II, and Layer III of MPEG-1) or 576 (Layer III of MPEG-2/2.5),
//   other size fields 0, no cookie. ID3v2 tags (footer and unsynchronisation
//   included) are skipped by their declared size, wherever they stand between
//   frames; ID3v1 and APEv2 tags after a frame likewise. A first frame that
//   carries a "Xing", "Info" or "VBRI" header is an encoder's summary, not
//   audio, and is not delivered.
//   AAC in ADTS: headers (and CRC) stripped, each raw access unit one packet;
//   format 'aac ' with mFormatFlags = audio object type, 1024 frames per
//   packet; the cookie is the AudioSpecificConfig built from the header.
//   Frames holding several raw data blocks are not supported (skipped).
//   WAV (RIFF, RF64): PCM integer 8/16/24/32 bits, IEEE float 32/64 bits,
//   plain or WAVE_FORMAT_EXTENSIBLE. A data size of 0 or 0xFFFFFFFF means
//   "until the end of the stream". MPEG audio inside WAV (format tags 0x50
//   and 0x55) is read from the data chunk on by frame sync, as MPEG audio.
//   AIFF and AIFC: NONE/twos, sowt, in24, in32, fl32/FL32, fl64/FL64, 'raw '.
//   An SSND size of 0 or 0xFFFFFFFF means "until the end".
//   CAF: linear PCM; AAC and MPEG audio with a 'pakt' before 'data' (AAC's
//   cookie from 'kuki', an ES descriptor or a bare AudioSpecificConfig).
//   MP4/M4A: AAC from the first audio track, 'moov' before 'mdat'; the cookie
//   is the AudioSpecificConfig from 'esds'.
//   Linear PCM records: 'lpcm', kAudioFormatFlagIsPacked, plus IsFloat,
//   IsBigEndian (wider than 8 bits only) and IsSignedInteger as the samples
//   are (8-bit WAV is unsigned, 8-bit AIFF signed; 24-bit samples take 3
//   bytes); mFramesPerPacket 1, mBytesPerPacket = mBytesPerFrame = channels *
//   bytes per sample, mBitsPerChannel the sample width. At most 32 channels.
//
// Detection, most confident first (the hint only breaks ties)
//   1. ID3v2 tags at the start are skipped whatever follows them.
//   2. A container signature at the start: "RIFF"/"RF64" + "WAVE", "FORM" +
//      "AIFF"/"AIFC", "caff" version 1, or an MP4 'ftyp' box. These decide
//      whatever the hint says.
//   3. With an MP4 or M4A hint only: a stream that opens with a 'moov',
//      'mdat', 'free', 'skip' or 'wide' box is read as MP4.
//   4. Otherwise frame sync: at each byte, MPEG audio and ADTS headers are
//      tried (ADTS first under the ADTS hint, MPEG audio first otherwise;
//      the two never both match one position). A lock needs three
//      consecutive frames whose headers agree (version, layer, sample rate
//      and mono/stereo; for ADTS profile, rate and channels), each where the
//      one before says it ends. The earliest position that locks wins, so a
//      ".mp3" URL serving ADTS, or a ".wav" URL serving MP3, plays as what it
//      is. Bytes before the lock are skipped as junk.
//   Once locked, a frame whose header disagrees means "not a frame here": the
//   parser searches again, skipping tags, and takes two agreeing frames of the
//   locked format as sync regained. MPEG audio may also change format on the
//   way (sample rate, mono/stereo, version; not the layer): three agreeing
//   frames of a new format of the same layer lock on to it, and its frames
//   are delivered like the others. The format record stays as announced;
//   the decoder reads each frame's own header.
//   Bytes without usable audio: once 64 KiB have been examined outside
//   declared tags, chunks and boxes without a lock, AudioFileStreamParseBytes
//   returns kAudioFileStreamError_UnsupportedFileType (nothing recognised
//   yet) or kAudioFileStreamError_InvalidFile (a stream that had locked lost
//   sync for good). An HTML error page or an endless non-audio stream thus
//   fails instead of loading forever. Tags, skipped chunks and boxes, and
//   junk before the first audio may add up to 16 MiB (room for large cover
//   art); past that, with no audio delivered yet, the same statuses end an
//   endless run of tags: kAudioFileStreamError_UnsupportedFileType before
//   the format is known, kAudioFileStreamError_InvalidFile after.
//
// Discontinuity flag
//   For MPEG audio and ADTS, any partly received frame is dropped and sync is
//   searched again (two agreeing frames). Containers have no sync to search
//   for, so they ignore the flag and take the bytes as the continuation of
//   the data. Before 'redy' the flag is ignored.
#pragma once

#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"

namespace orvento {

class AudioFileStream;
using AudioFileStreamID = AudioFileStream*;
using AudioFileStreamPropertyID = std::uint32_t;
using AudioFileTypeID = std::uint32_t;
using AudioFileStreamPropertyFlags = std::uint32_t;
using AudioFileStreamParseFlags = std::uint32_t;

// Called when a property becomes known, synchronously inside
// AudioFileStreamParseBytes, on its caller's thread. *ioFlags is 0 and may be
// ignored.
using AudioFileStream_PropertyListenerProc = void (*)(void* inClientData,
                                                      AudioFileStreamID inAudioFileStream,
                                                      AudioFileStreamPropertyID inPropertyID,
                                                      AudioFileStreamPropertyFlags* ioFlags);

// Called with a run of complete packets, synchronously inside
// AudioFileStreamParseBytes. inPacketDescriptions is null for linear PCM,
// whose runs are whole frames; the bytes and the descriptions are valid only
// during the call (the descriptions may be modified by the callee).
using AudioFileStream_PacketsProc = void (*)(void* inClientData, std::uint32_t inNumberBytes,
                                             std::uint32_t inNumberPackets, const void* inInputData,
                                             AudioStreamPacketDescription* inPacketDescriptions);

// File-type hints (and the detected file types of 'ffmt').
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

// Properties (all read-only; queries before 'redy' return
// kAudioFileStreamError_ValueUnknown, except 'redy' itself).
// std::uint32_t: 1 once packets can follow, else 0.
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_ReadyToProducePackets =
    fourCharCode("redy");
// AudioStreamBasicDescription (40 bytes).
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_DataFormat =
    fourCharCode("dfmt");
// The AAC AudioSpecificConfig bytes; formats without a cookie (MPEG audio,
// linear PCM) return kAudioFileStreamError_ValueUnknown from both queries.
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_MagicCookieData =
    fourCharCode("mgic");
// AudioFileTypeID: what the bytes turned out to be ('MPG1', 'MPG2', 'MPG3',
// 'adts', 'WAVE', 'AIFF', 'AIFC', 'caff', 'm4af' or 'mp4f').
inline constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_FileFormat =
    fourCharCode("ffmt");

// Parse flags.
inline constexpr AudioFileStreamParseFlags kAudioFileStreamParseFlag_Discontinuity = 1;

// Statuses (besides noErr and kAudio_ParamError for null handles/pointers).
// No supported format found within 64 KiB of non-tag bytes, or within 16 MiB
// of tags and skipped bytes.
inline constexpr OSStatus kAudioFileStreamError_UnsupportedFileType = fourCharStatus("typ?");
// A recognised container holding audio the parser cannot deliver (codec,
// sample width, channel count or sample rate out of range, no audio track).
inline constexpr OSStatus kAudioFileStreamError_UnsupportedDataFormat = fourCharStatus("fmt?");
// A property id the parser does not know.
inline constexpr OSStatus kAudioFileStreamError_UnsupportedProperty = fourCharStatus("pty?");
// The caller's buffer is smaller than the property.
inline constexpr OSStatus kAudioFileStreamError_BadPropertySize = fourCharStatus("!siz");
// The file puts its packet index or format after the audio (MP4 'moov'
// after 'mdat', CAF 'pakt' after 'data', WAV 'data' before 'fmt ', AIFF
// 'SSND' before 'COMM'): it cannot be played while it streams.
inline constexpr OSStatus kAudioFileStreamError_NotOptimized = fourCharStatus("optm");
// Not returned by this parser.
inline constexpr OSStatus kAudioFileStreamError_InvalidPacketOffset = fourCharStatus("pck?");
// Malformed container structures (impossible sizes, broken tables, a packet
// over 32768 bytes, tables over 8 MiB), a locked frame stream that yielded
// no frame for 64 KiB, or a known format whose audio did not begin within
// 16 MiB of skipped chunks and tags.
inline constexpr OSStatus kAudioFileStreamError_InvalidFile = fourCharStatus("dta?");
// The property is not known yet ('dfmt', 'ffmt' before 'redy'), or does not
// exist for this format ('mgic' without a cookie).
inline constexpr OSStatus kAudioFileStreamError_ValueUnknown = fourCharStatus("unk?");
// Not returned by this parser.
inline constexpr OSStatus kAudioFileStreamError_DataUnavailable = fourCharStatus("more");
// Parse or close called from inside one of the parser's own procedures.
inline constexpr OSStatus kAudioFileStreamError_IllegalOperation = fourCharStatus("nope");
// An internal invariant broke (a defect): the parser stops rather than loop.
inline constexpr OSStatus kAudioFileStreamError_UnspecifiedError = fourCharStatus("wht?");
// Not returned by this parser: framed formats re-lock after a
// discontinuity, containers ignore it.
inline constexpr OSStatus kAudioFileStreamError_DiscontinuityCantRecover = fourCharStatus("dsc!");

// How the format was recognised (see "Detection" above).
enum class AudioFileStreamDetection : std::uint32_t {
    None = 0,                // not yet
    ContainerSignature = 1,  // rule 2
    ContainerByHint = 2,     // rule 3
    FrameSync = 3,           // rule 4
};

// What the probe and the tests can learn about how a stream was read.
struct AudioFileStreamDiagnostics {
    AudioFileTypeID hint = 0;          // the hint given at open
    AudioFileTypeID detectedType = 0;  // as 'ffmt'; 0 until 'redy'
    AudioFileStreamDetection method = AudioFileStreamDetection::None;
    std::uint64_t bytesParsed = 0;           // bytes handed to AudioFileStreamParseBytes
    std::int64_t dataOffset = -1;            // stream offset of the first delivered byte; -1: none
    std::uint64_t skippedTagBytes = 0;       // tags, skipped chunks and boxes, summary frames
    std::uint64_t skippedJunkBytes = 0;      // bytes passed over while searching for sync
    std::uint64_t resyncs = 0;               // times a locked frame sync was lost
    std::uint64_t packetsDelivered = 0;      // descriptions delivered (PCM: frames)
    std::uint64_t packetBytesDelivered = 0;  // audio bytes delivered
    std::uint64_t packetRuns = 0;            // calls of the packets procedure
};

// Creates a parser. The hint is the file type the caller expects (see
// "Detection"); any value is accepted, 0 included. Both procedures are
// required (kAudio_ParamError otherwise). *outAudioFileStream is null on
// failure.
OSStatus AudioFileStreamOpen(void* inClientData,
                             AudioFileStream_PropertyListenerProc inPropertyListenerProc,
                             AudioFileStream_PacketsProc inPacketsProc,
                             AudioFileTypeID inFileTypeHint, AudioFileStreamID* outAudioFileStream);

// Parses the next inDataByteSize bytes of the stream (0 is allowed and does
// nothing). inFlags: 0 or kAudioFileStreamParseFlag_Discontinuity.
OSStatus AudioFileStreamParseBytes(AudioFileStreamID inAudioFileStream,
                                   std::uint32_t inDataByteSize, const void* inData,
                                   AudioFileStreamParseFlags inFlags);

// The property's size in bytes and whether it is writable (never). Either
// out-pointer may be null.
OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID inAudioFileStream,
                                        AudioFileStreamPropertyID inPropertyID,
                                        std::uint32_t* outPropertyDataSize, bool* outWritable);

// Copies the property into outPropertyData; *ioPropertyDataSize must be at
// least its size and is set to it.
OSStatus AudioFileStreamGetProperty(AudioFileStreamID inAudioFileStream,
                                    AudioFileStreamPropertyID inPropertyID,
                                    std::uint32_t* ioPropertyDataSize, void* outPropertyData);

// Destroys the parser; the handle is invalid afterwards.
OSStatus AudioFileStreamClose(AudioFileStreamID inAudioFileStream);

// Fills *outDiagnostics. Any time between open and close.
OSStatus AudioFileStreamGetDiagnostics(AudioFileStreamID inAudioFileStream,
                                       AudioFileStreamDiagnostics* outDiagnostics);

}  // namespace orvento
