// The parser probe: runs the streaming parser over a file or an HTTP stream
// and gathers what it found, for `orvento-probe`, the tests and the
// benchmarks. One Probe per stream; everything runs on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/demux/StreamParser.h"

namespace orvento::probe {

struct ProbeResult {
    AudioFileType hint = AudioFileType::None;
    bool ready = false;  // ReadyToProducePackets arrived
    AudioFormat format{};
    AudioFileType fileType = AudioFileType::None;
    std::vector<std::uint8_t> cookie;
    bool hasCookie = false;
    ParserError status = ParserError::None;  // the first error the parser returned
    std::string sourceError;                 // the file or network failed (empty: it did not)
    std::uint64_t packets = 0;               // packets (linear PCM: frames)
    std::uint64_t bytes = 0;                 // audio bytes delivered
    std::uint64_t runs = 0;                  // deliveries of packets
    std::uint32_t smallest = 0;              // packet sizes (packetised formats only)
    std::uint32_t largest = 0;
    std::vector<std::uint32_t> packetSizes;  // when asked for
    ParserDiagnostics diagnostics{};
};

// Sees every delivery as the engine would; lets a caller decode or store.
class PacketObserver {
  public:
    virtual ~PacketObserver() = default;
    // Once the parser is ready to produce packets, with format, file type
    // and cookie filled in.
    virtual void onReady(const ProbeResult& result) = 0;
    // A delivery as the parser made it (StreamParser::Listener).
    virtual void onPackets(std::span<const std::byte> bytes,
                           std::span<const PacketDescription> descriptions) = 0;
};

class Probe : private StreamParser::Listener {
  public:
    explicit Probe(AudioFileType hint, PacketObserver* observer = nullptr,
                   bool keepPacketSizes = false);
    ~Probe() override;
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // Hands bytes to the parser; returns its error (also kept in result()).
    ParserError feed(std::span<const std::byte> bytes,
                     Continuity continuity = Continuity::Continuous);
    // The result so far, with the parser's diagnostics brought up to date.
    const ProbeResult& result();

  private:
    void handleStreamProperty(StreamProperty property) override;
    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descriptions) override;

    const std::unique_ptr<StreamParser> parser_;
    PacketObserver* observer_;
    bool keepPacketSizes_;
    ProbeResult result_;
};

bool isUrl(std::string_view source);
// The parser's hint for a file path or an http(s) URL, from the extension of
// the file's name or of the URL's path (see FileTypeHint.h).
AudioFileType hintFor(std::string_view source);

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
// A status as a number, its four characters when they are printable, and
// the parser's words for it when it is a ParserError.
std::string statusText(StatusCode status);
std::string statusText(ParserError error);
// The report a user reads.
void printReport(std::ostream& out, const ProbeResult& result);

}  // namespace orvento::probe
