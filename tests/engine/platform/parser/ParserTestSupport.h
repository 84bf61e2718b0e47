// Drives the streaming parser the way the engine does and records what it
// delivers, for the parser tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/platform/parser/AudioFileStream.h"

namespace orvento::test {

// Everything a parse produced, comparable across feeds.
struct ParseRecord {
    int readyCount = 0;
    bool formatBeforeReady = false;  // 'dfmt' was announced before 'redy'
    AudioStreamBasicDescription format{};
    AudioFileTypeID fileType = 0;
    std::vector<UInt8> cookie;
    OSStatus cookieInfoStatus = noErr;
    std::vector<UInt32> packetSizes;
    std::vector<UInt32> packetFrames;  // each description's mVariableFramesInPacket
    std::vector<UInt8> audio;          // every delivered packet's bytes, in order
    UInt64 pcmBytes = 0;
    UInt64 runs = 0;
    UInt32 largestRunPackets = 0;
    bool pcmRunsWholeFrames = true;
    bool descriptionsInBounds = true;
    OSStatus status = noErr;  // first non-zero parse status
    AudioFileStreamDiagnostics diagnostics{};
};

// One parser, fed by the caller.
class RecordingParser {
  public:
    explicit RecordingParser(AudioFileTypeID hint);
    ~RecordingParser();
    RecordingParser(const RecordingParser&) = delete;
    RecordingParser& operator=(const RecordingParser&) = delete;

    OSStatus feed(const UInt8* data, size_t size, AudioFileStreamParseFlags flags = 0);
    AudioFileStreamID stream() const { return stream_; }
    const ParseRecord& record();

  private:
    static void onProperty(void* self, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                           AudioFileStreamPropertyFlags* flags);
    static void onPackets(void* self, UInt32 numberBytes, UInt32 numberPackets, const void* data,
                          AudioStreamPacketDescription* descriptions);

    AudioFileStreamID stream_ = nullptr;
    ParseRecord record_;
    bool sawFormat_ = false;
};

// How a byte string is cut into parse calls.
enum class Split { Whole, Engine32k, OneByte, Random, Primes };
const char* splitName(Split split);

ParseRecord parseBytes(const std::vector<UInt8>& bytes, AudioFileTypeID hint, Split split,
                       unsigned seed = 1);

std::string fixturePath(const std::string& name);
std::vector<UInt8> readFile(const std::string& path);
std::vector<UInt8> readFixture(const std::string& name);
// The independent reader's packet sizes for a fixture.
std::vector<UInt32> expectedPacketSizes(const std::string& fixture);
std::string hex(const std::vector<UInt8>& bytes);

}  // namespace orvento::test
