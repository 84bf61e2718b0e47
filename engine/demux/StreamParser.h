// The streaming audio-file parser: turns the bytes of an audio file or stream,
// handed over in pieces of any size, into a format record and runs of
// complete audio packets.
//
// Lifecycle and threads
//   makeStreamParser -> feed() (any number of times) -> destruction, which
//   closes it. A parser is used by one thread at a time (the engine's
//   worker); it has no thread of its own and takes no lock. Its Listener is
//   called synchronously from inside feed(), on its caller's thread; the
//   getters may be called from inside the listener. feed() called from inside
//   the listener returns ParserError::IllegalOperation and changes nothing;
//   the parser must not be destroyed from inside the listener.
//
// What the caller may rely on
//   - Properties announced once each, in this order, before the first
//     packets: FileFormat, DataFormat, MagicCookie (only when the format has
//     a cookie), then ReadyToProducePackets. The format record and the cookie
//     are final from the first announcement on and never change afterwards;
//     ReadyToProducePackets comes exactly once.
//   - Only complete packets are delivered; a truncated last packet never is.
//   - Packetised formats (MPEG audio, AAC) come with descriptions: one
//     delivery per feed() and contiguous region (the bytes carried over from
//     earlier calls form one region, the caller's bytes another), at most 4096
//     descriptions per delivery. startOffset is relative to the delivery's
//     bytes, framesInPacket is 0 (except for CAF tables that list
//     frame counts, and MPEG audio frames that follow a change of MPEG
//     version: their own frame count), and the bytes reach from the first
//     packet's start to the last packet's end (they may span stripped headers
//     and skipped tags between packets). No packet is larger than 32768 bytes.
//   - Linear PCM comes without descriptions (an empty span), in runs of whole
//     frames of at most 32768 bytes.
//   - Feeding the same bytes in any split yields the same format, cookie and
//     packets. At most one packet (or one header being read) is carried
//     across calls, in a fixed 64 KiB buffer; MP4 'moov' and CAF 'pakt'/'kuki'
//     are buffered whole, up to 8 MiB. Nothing else grows with the stream, and
//     the steady state allocates nothing.
//   - After an error from feed() the parser is spent: every later call returns
//     the same error and delivers nothing.
//
// Supported formats
//   MPEG-1, MPEG-2 and MPEG-2.5 audio, Layers I, II and III (not free-format
//   bitrates): format '.mp1'/'.mp2'/'.mp3', framesPerPacket 384 (Layer I),
//   1152 (Layer II, and Layer III of MPEG-1) or 576 (Layer III of MPEG-2/2.5),
//   other size fields 0, no cookie. ID3v2 tags (footer and unsynchronisation
//   included) are skipped by their declared size, wherever they stand between
//   frames; ID3v1 and APEv2 tags after a frame likewise. A first frame that
//   carries a "Xing", "Info" or "VBRI" header is an encoder's summary, not
//   audio, and is not delivered.
//   AAC in ADTS: headers (and CRC) stripped, each raw access unit one packet;
//   format 'aac ' with formatFlags = audio object type, 1024 frames per
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
//   Linear PCM records: 'lpcm', kPcmPacked, plus IsFloat,
//   IsBigEndian (wider than 8 bits only) and IsSignedInteger as the samples
//   are (8-bit WAV is unsigned, 8-bit AIFF signed; 24-bit samples take 3
//   bytes); framesPerPacket 1, bytesPerPacket = bytesPerFrame = channels *
//   bytes per sample, bitsPerChannel the sample width. At most 32 channels.
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
//   declared tags, chunks and boxes without a lock, feed() returns
//   ParserError::UnsupportedFileType (nothing recognised yet) or
//   ParserError::InvalidFile (a stream that had locked lost sync for good).
//   An HTML error page or an endless non-audio stream thus fails instead of
//   loading forever. Tags, skipped chunks and boxes, and junk before the
//   first audio may add up to 16 MiB (room for large cover art); past that,
//   with no audio delivered yet, the same errors end an endless run of tags:
//   UnsupportedFileType before the format is known, InvalidFile after.
//
// Discontinuity
//   Continuity::Discontinuous: for MPEG audio and ADTS, any partly received
//   frame is dropped and sync is searched again (two agreeing frames).
//   Containers have no sync to search for, so they ignore it and take the
//   bytes as the continuation of the data. Before the format is known it is
//   ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "engine/base/AudioFormat.h"
#include "engine/base/StatusCode.h"
#include "engine/demux/FileTypeHint.h"

namespace orvento {

// What feed() and the getters report; the values are the four-character
// codes the error lines print.
enum class ParserError : std::int32_t {
    None = 0,
    // No supported format found within 64 KiB of non-tag bytes, or within
    // 16 MiB of tags and skipped bytes.
    UnsupportedFileType = fourCharStatus("typ?"),
    // A recognised container holding audio the parser cannot deliver (codec,
    // sample width, channel count or sample rate out of range, no audio track).
    UnsupportedDataFormat = fourCharStatus("fmt?"),
    // The file puts its packet index or format after the audio (MP4 'moov'
    // after 'mdat', CAF 'pakt' after 'data', WAV 'data' before 'fmt ', AIFF
    // 'SSND' before 'COMM'): it cannot be played while it streams.
    NotOptimized = fourCharStatus("optm"),
    // Malformed container structures (impossible sizes, broken tables, a
    // packet over 32768 bytes, tables over 8 MiB), a locked frame stream that
    // yielded no frame for 64 KiB, or a known format whose audio did not
    // begin within 16 MiB of skipped chunks and tags.
    InvalidFile = fourCharStatus("dta?"),
    // A getter's value is not known yet (before ReadyToProducePackets), or
    // does not exist for this format (the cookie of MPEG audio, linear PCM).
    ValueUnknown = fourCharStatus("unk?"),
    // feed() called from inside the parser's own listener.
    IllegalOperation = fourCharStatus("nope"),
    // An internal invariant broke (a defect): the parser stops rather than loop.
    UnspecifiedError = fourCharStatus("wht?"),
};

// The error in a few words; empty for None and for values not listed above.
std::string_view parserErrorText(ParserError error);

// What the listener is told has become known; also says which getter a
// hooked call is (EngineServices). The values are four-character codes.
enum class StreamProperty : std::uint32_t {
    FileFormat = fourCharCode("ffmt"),
    DataFormat = fourCharCode("dfmt"),
    MagicCookie = fourCharCode("mgic"),
    ReadyToProducePackets = fourCharCode("redy"),
};

// How the bytes of a feed() follow the ones before (see "Discontinuity").
enum class Continuity : std::uint32_t {
    Continuous = 0,
    Discontinuous = 1,
};

// A getter's answer: a value, or the error that stands in for it.
template <typename T>
class ParserResult {
  public:
    // Implicit, so that a getter returns either as it is.
    ParserResult(T value) : value_(std::move(value)) {}
    ParserResult(ParserError error) : error_(error) {}
    explicit operator bool() const { return value_.has_value(); }
    ParserError error() const { return error_; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }

  private:
    std::optional<T> value_;
    ParserError error_ = ParserError::None;
};

// How the format was recognised (see "Detection" above).
enum class FormatDetection : std::uint32_t {
    None = 0,                // not yet
    ContainerSignature = 1,  // rule 2
    ContainerByHint = 2,     // rule 3
    FrameSync = 3,           // rule 4
};

// What the probe and the tests can learn about how a stream was read.
struct ParserDiagnostics {
    AudioFileType hint = AudioFileType::None;          // the hint given at creation
    AudioFileType detectedType = AudioFileType::None;  // as fileFormat(); None until ready
    FormatDetection method = FormatDetection::None;
    std::uint64_t bytesParsed = 0;           // bytes handed to feed()
    std::int64_t dataOffset = -1;            // stream offset of the first delivered byte; -1: none
    std::uint64_t skippedTagBytes = 0;       // tags, skipped chunks and boxes, summary frames
    std::uint64_t skippedJunkBytes = 0;      // bytes passed over while searching for sync
    std::uint64_t resyncs = 0;               // times a locked frame sync was lost
    std::uint64_t packetsDelivered = 0;      // descriptions delivered (PCM: frames)
    std::uint64_t packetBytesDelivered = 0;  // audio bytes delivered
    std::uint64_t packetRuns = 0;            // deliveries of packets
};

class StreamParser {
  public:
    // Hears the parser, synchronously inside feed() on its caller's thread.
    class Listener {
      public:
        // `property` has become known (see the order above); read it through
        // the getters.
        virtual void handleStreamProperty(StreamProperty property) = 0;
        // A run of complete packets: `bytes` and, for packetised formats, one
        // description per packet (empty for linear PCM, whose runs are whole
        // frames). Both are valid only during the call.
        virtual void handleStreamPackets(std::span<const std::byte> bytes,
                                         std::span<const PacketDescription> descriptions) = 0;

        virtual ~Listener() = default;
    };

    virtual ~StreamParser() = default;

    // Parses the next bytes of the stream (none is allowed and does nothing).
    // The error, once there is one, stays (see above).
    virtual ParserError feed(std::span<const std::byte> bytes,
                             Continuity continuity = Continuity::Continuous) = 0;

    // The getters answer ValueUnknown until the format is known, and from
    // the first announcement (FileFormat) on, what was found.
    virtual ParserResult<AudioFileType> fileFormat() const = 0;
    virtual ParserResult<AudioFormat> dataFormat() const = 0;
    // The AAC AudioSpecificConfig; ValueUnknown for formats without a cookie
    // (MPEG audio, linear PCM). The bytes live as long as the parser.
    virtual ParserResult<std::span<const std::uint8_t>> magicCookie() const = 0;
    // True once the format is known: from the first announcement on.
    virtual bool readyToProducePackets() const = 0;
    // Any time.
    virtual ParserDiagnostics diagnostics() const = 0;
};

// A parser that tells `listener`, which must outlive it. The hint is the file
// type the caller expects (see "Detection"); any value is accepted, None
// included.
std::unique_ptr<StreamParser> makeStreamParser(StreamParser::Listener& listener,
                                               AudioFileType hint);

}  // namespace orvento
