// The parser probe: runs the streaming parser over a file or an HTTP stream
// and gathers what it found, for `orvento-probe`, the tests and the
// benchmarks. One Probe per stream; everything runs on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/parser/AudioFileStream.h"

namespace orvento::probe {

struct ProbeResult {
    AudioFileTypeID hint = 0;
    bool ready = false;  // 'redy' arrived
    AudioStreamBasicDescription format{};
    AudioFileTypeID fileType = 0;
    std::vector<std::uint8_t> cookie;
    bool hasCookie = false;
    OSStatus status = noErr;     // the first non-zero status the parser returned
    std::string sourceError;     // the file or network failed (empty: it did not)
    std::uint64_t packets = 0;   // packets (linear PCM: frames)
    std::uint64_t bytes = 0;     // audio bytes delivered
    std::uint64_t runs = 0;      // calls of the packets procedure
    std::uint32_t smallest = 0;  // packet sizes (packetised formats only)
    std::uint32_t largest = 0;
    std::vector<std::uint32_t> packetSizes;  // when asked for
    AudioFileStreamDiagnostics diagnostics{};
};

// Sees every delivery as the engine would; lets a caller decode or store.
class PacketObserver {
  public:
    virtual ~PacketObserver() = default;
    // After 'redy', with format, file type and cookie filled in.
    virtual void onReady(const ProbeResult& result) = 0;
    virtual void onPackets(std::uint32_t numberBytes, std::uint32_t numberPackets, const void* data,
                           const AudioStreamPacketDescription* descriptions) = 0;
};

class Probe {
  public:
    explicit Probe(AudioFileTypeID hint, PacketObserver* observer = nullptr,
                   bool keepPacketSizes = false);
    ~Probe();
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // Hands bytes to the parser; returns its status (also kept in result()).
    OSStatus feed(const void* data, size_t size, AudioFileStreamParseFlags flags = 0);
    // The result so far, with the parser's diagnostics brought up to date.
    const ProbeResult& result();

  private:
    static void onProperty(void* self, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                           AudioFileStreamPropertyFlags* flags);
    static void onPackets(void* self, std::uint32_t numberBytes, std::uint32_t numberPackets,
                          const void* data, AudioStreamPacketDescription* descriptions);

    AudioFileStreamID stream_ = nullptr;
    PacketObserver* observer_;
    bool keepPacketSizes_;
    ProbeResult result_;
};

bool isUrl(std::string_view source);
// The parser's hint for a file path or an http(s) URL, from the extension of
// the file's name or of the URL's path (see FileTypeHint.h).
AudioFileTypeID hintFor(std::string_view source);

// Feeds a whole file in chunks of chunkSize bytes. False with `error` set when
// the file cannot be read.
bool probeFile(const std::string& path, Probe& probe, std::string& error, size_t chunkSize = 32768);
// Reads an http:// or https:// URL through the HTTP read stream on the
// calling thread's run loop, one read of up to 32768 bytes per event as the
// engine does, feeding each read to the parser, until the end of the body, a
// transfer error, a parser failure or `timeoutSeconds` (a live stream never
// ends: *timedOut is then set, and what was read so far is the answer).
// False with `error` set when the stream could not be opened or failed.
// *bodyBytes, when given, is set to the body bytes read.
bool probeUrl(const std::string& url, Probe& probe, std::string& error, double timeoutSeconds = 10,
              bool* timedOut = nullptr, std::uint64_t* bodyBytes = nullptr);

// Four characters, with non-printable bytes as '.'.
std::string fourCC(std::uint32_t code);
std::string statusText(OSStatus status);
// The report a user reads.
void printReport(std::ostream& out, const ProbeResult& result);

}  // namespace orvento::probe
