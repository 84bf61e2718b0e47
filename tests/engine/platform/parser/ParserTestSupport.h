// Drives the streaming parser through the probe (the probe tool's recorder)
// the way the engine does, and keeps what the parser tests compare.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/probe/Probe.h"

namespace orvento::test {

// What a parse produced, comparable across feeds: the probe's result (status,
// format, file type, cookie, packet sizes, diagnostics) and more.
struct ParseRecord : probe::ProbeResult {
    int readyCount = 0;
    std::vector<UInt8> audio;          // every delivered packet's bytes, in order
    bool pcmRunsWholeFrames = true;    // runs without descriptions: whole frames, at most 32 KiB
    bool descriptionsInBounds = true;  // every description lies inside its delivery
};

// One parser, fed by the caller.
class RecordingParser : private probe::PacketObserver {
  public:
    explicit RecordingParser(AudioFileTypeID hint) : probe_(hint, this, true) {}

    OSStatus feed(const UInt8* data, size_t size, AudioFileStreamParseFlags flags = 0) {
        return probe_.feed(data, size, flags);
    }
    const ParseRecord& record();

  private:
    void onReady(const probe::ProbeResult& result) override;
    void onPackets(UInt32 numberBytes, UInt32 numberPackets, const void* data,
                   const AudioStreamPacketDescription* descriptions) override;

    probe::Probe probe_;
    ParseRecord record_;
};

// How a byte string is cut into parse calls.
enum class Split { Whole, Engine32k, OneByte, Random, Primes };
const char* splitName(Split split);

ParseRecord parseBytes(const std::vector<UInt8>& bytes, AudioFileTypeID hint, Split split,
                       unsigned seed = 1);

std::string fixturePath(const std::string& name);
std::vector<UInt8> readFixture(const std::string& name);
// The independent reader's packet sizes for a fixture.
std::vector<UInt32> expectedPacketSizes(const std::string& fixture);
std::string hex(const std::vector<UInt8>& bytes);

}  // namespace orvento::test
