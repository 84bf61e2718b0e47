// Feeds arbitrary bytes to the streaming parser under every hint, in
// arbitrary splits with occasional discontinuities, and checks the contract
// on every delivery. Without discontinuities, the packets of the split feed
// must equal those of the same bytes fed at once.
//
// Input layout: byte 0 picks the hint, byte 1 the split pattern's seed,
// byte 2 the discontinuity pattern; the rest is the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/platform/parser/AudioFileStream.h"

namespace {

using namespace orvento;

constexpr AudioFileTypeID kHints[] = {
    0,
    kAudioFileMP3Type,
    kAudioFileMP2Type,
    kAudioFileMP1Type,
    kAudioFileWAVEType,
    kAudioFileAIFCType,
    kAudioFileAIFFType,
    kAudioFileM4AType,
    kAudioFileMPEG4Type,
    kAudioFileCAFType,
    kAudioFileAAC_ADTSType,
};

// Reports the broken expectation's line before aborting, so a finding says
// which rule it broke.
#define check(condition) checkAt((condition), __LINE__)
void checkAt(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "parser_fuzzer: check failed at line %d\n", line);
        std::abort();
    }
}

struct Recorder {
    AudioFileStreamID stream = nullptr;
    int readyCount = 0;
    AudioStreamBasicDescription format{};
    std::vector<std::uint8_t> cookie;
    // Every packet's bytes, with a separator carrying its size.
    std::vector<std::uint8_t> packets;
    std::uint64_t pcmBytes = 0;

    static void onProperty(void* self, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                           AudioFileStreamPropertyFlags*) {
        auto& r = *static_cast<Recorder*>(self);
        if (id != kAudioFileStreamProperty_ReadyToProducePackets) {
            return;
        }
        ++r.readyCount;
        check(r.readyCount == 1 && r.packets.empty() && r.pcmBytes == 0);
        std::uint32_t size = sizeof r.format;
        check(AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_DataFormat, &size,
                                         &r.format) == noErr);
        check(r.format.mChannelsPerFrame > 0 && r.format.mSampleRate > 0);
        std::uint32_t cookieSize = 0;
        if (AudioFileStreamGetPropertyInfo(stream, kAudioFileStreamProperty_MagicCookieData,
                                           &cookieSize, nullptr) == noErr) {
            r.cookie.assign(cookieSize, 0);
            check(AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_MagicCookieData,
                                             &cookieSize, r.cookie.data()) == noErr);
        }
        // Re-entering the parser from a procedure is refused.
        check(AudioFileStreamParseBytes(stream, 0, nullptr, 0) ==
              kAudioFileStreamError_IllegalOperation);
    }

    static void onPackets(void* self, std::uint32_t numberBytes, std::uint32_t numberPackets,
                          const void* data, AudioStreamPacketDescription* descriptions) {
        auto& r = *static_cast<Recorder*>(self);
        check(r.readyCount == 1 && numberPackets > 0 && data != nullptr);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        if (descriptions == nullptr) {
            check(r.format.mFormatID == kAudioFormatLinearPCM);
            check(numberBytes > 0 && numberBytes <= 32768);
            check(numberBytes % r.format.mBytesPerFrame == 0);
            check(numberBytes / r.format.mBytesPerFrame == numberPackets);
            r.packets.insert(r.packets.end(), bytes, bytes + numberBytes);
            r.pcmBytes += numberBytes;
            return;
        }
        check(r.format.mFormatID != kAudioFormatLinearPCM);
        std::int64_t end = 0;
        for (std::uint32_t i = 0; i < numberPackets; ++i) {
            const AudioStreamPacketDescription& d = descriptions[i];
            check(d.mStartOffset >= end && d.mDataByteSize > 0 && d.mDataByteSize <= 32768);
            end = d.mStartOffset + d.mDataByteSize;
            check(end <= numberBytes);
            std::uint8_t size[4];
            std::memcpy(size, &d.mDataByteSize, 4);
            r.packets.insert(r.packets.end(), size, size + 4);
            r.packets.insert(r.packets.end(), bytes + d.mStartOffset, bytes + end);
        }
        check(end == numberBytes);
    }
};

struct Outcome {
    OSStatus status = noErr;
    Recorder recorder;
};

void run(AudioFileTypeID hint, const std::uint8_t* data, size_t size, std::uint32_t splitSeed,
         std::uint8_t discontinuities, Outcome& out) {
    Recorder& r = out.recorder;
    check(AudioFileStreamOpen(&r, &Recorder::onProperty, &Recorder::onPackets, hint, &r.stream) ==
          noErr);
    std::uint32_t state = splitSeed * 2654435761u + 1;
    size_t pos = 0;
    int call = 0;
    while (pos < size && out.status == noErr) {
        size_t piece = size - pos;
        if (splitSeed != 0) {
            state = state * 1103515245u + 12345u;
            std::uint32_t pick = (state >> 16) & 0x7FFF;
            // Mostly tiny pieces (headers split everywhere), sometimes large.
            piece = std::min<size_t>(piece, (pick & 3) == 0 ? 1 + pick % 4096 : 1 + pick % 17);
        }
        std::uint32_t flags =
            (discontinuities >> (call % 8)) & 1 ? kAudioFileStreamParseFlag_Discontinuity : 0;
        out.status = AudioFileStreamParseBytes(r.stream, static_cast<std::uint32_t>(piece),
                                               data + pos, flags);
        pos += piece;
        ++call;
    }
    if (out.status != noErr) {
        // A spent parser repeats its status.
        check(AudioFileStreamParseBytes(r.stream, size == 0 ? 0 : 1, data, 0) == out.status);
    }
    check(AudioFileStreamClose(r.stream) == noErr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    AudioFileTypeID hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    std::uint32_t seed = data[1];
    std::uint8_t discontinuities = data[2];
    data += 3;
    size -= 3;

    Outcome split;
    run(hint, data, size, seed == 0 ? 1 : seed, discontinuities, split);
    if (discontinuities == 0) {
        Outcome whole;
        run(hint, data, size, 0, 0, whole);
        check(whole.status == split.status);
        check(whole.recorder.readyCount == split.recorder.readyCount);
        if (whole.status == noErr) {
            check(std::memcmp(&whole.recorder.format, &split.recorder.format,
                              sizeof whole.recorder.format) == 0);
            check(whole.recorder.cookie == split.recorder.cookie);
            check(whole.recorder.packets == split.recorder.packets);
        }
    }
    return 0;
}
