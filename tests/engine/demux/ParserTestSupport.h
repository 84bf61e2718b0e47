// Drives the streaming parser through the probe (the probe tool's recorder)
// the way the engine does, and keeps what the parser tests compare.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/probe/Probe.h"

namespace orvento::test {

// What a parse produced, comparable across feeds: the probe's result (status,
// format, file type, cookie, packet sizes, diagnostics) and more.
struct ParseRecord : probe::ProbeResult {
    int readyCount = 0;
    std::vector<std::uint8_t> audio;   // every delivered packet's bytes, in order
    bool pcmRunsWholeFrames = true;    // runs without descriptions: whole frames, at most 32 KiB
    bool descriptionsInBounds = true;  // every description lies inside its delivery
};

// One parser, fed by the caller.
class RecordingParser : private probe::PacketObserver {
  public:
    explicit RecordingParser(AudioFileType hint) : probe_(hint, this, true) {}

    ParserError feed(const std::uint8_t* data, size_t size,
                     Continuity continuity = Continuity::Continuous) {
        return probe_.feed(std::as_bytes(std::span(data, size)), continuity);
    }
    const ParseRecord& record();

  private:
    void onReady(const probe::ProbeResult& result) override;
    void onPackets(std::span<const std::byte> bytes,
                   std::span<const PacketDescription> descriptions) override;

    probe::Probe probe_;
    ParseRecord record_;
};

// How a byte string is cut into parse calls.
enum class Split { Whole, Engine32k, OneByte, Random, Primes };
const char* splitName(Split split);

ParseRecord parseBytes(const std::vector<std::uint8_t>& bytes, AudioFileType hint, Split split,
                       unsigned seed = 1);

std::string fixturePath(const std::string& name);
std::vector<std::uint8_t> readFixture(const std::string& name);
// The independent reader's packet sizes for a fixture.
std::vector<std::uint32_t> expectedPacketSizes(const std::string& fixture);
std::string hex(const std::vector<std::uint8_t>& bytes);

}  // namespace orvento::test
