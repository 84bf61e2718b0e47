#include "engine/demux/FrameHeaders.h"

#include <array>
#include <cstring>

#include "engine/demux/StreamSession.h"

namespace orvento::demux {

namespace {

// Bitrates in kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]; 0 = free or bad.
constexpr std::uint16_t kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
// Sample rates by version bits (0 = 2.5, 1 = reserved, 2 = MPEG-2, 3 = MPEG-1).
constexpr std::uint32_t kMpegRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

constexpr std::uint32_t kAdtsRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                          16000, 12000, 11025, 8000,  7350,  0,     0,     0};

struct MpegFields {
    std::uint32_t versionBits, layerBits, bitrateIndex, rateIndex, padding;
};

constexpr std::uint32_t frameBytesFor(MpegFields f) {
    if (f.versionBits == 1 || f.layerBits == 0 || f.rateIndex == 3) {
        return 0;
    }
    std::uint32_t layer = 4 - f.layerBits;
    bool mpeg1 = f.versionBits == 3;
    std::uint32_t kbps = kBitrates[mpeg1 ? 0 : 1][layer - 1][f.bitrateIndex];
    std::uint32_t rate = kMpegRates[f.versionBits][f.rateIndex];
    if (kbps == 0) {
        return 0;
    }
    if (layer == 1) {
        return (12 * kbps * 1000 / rate + f.padding) * 4;
    }
    std::uint32_t coefficient = (layer == 3 && !mpeg1) ? 72 : 144;
    return coefficient * kbps * 1000 / rate + f.padding;
}

// Frame sizes indexed by header bits 9..20 (padding, rate, bitrate, layer, version).
constexpr std::array<std::uint16_t, 4096> makeSizeTable() {
    std::array<std::uint16_t, 4096> table{};
    for (std::uint32_t i = 0; i < 4096; ++i) {
        MpegFields f{(i >> 10) & 3, (i >> 8) & 3, (i >> 4) & 15, (i >> 2) & 3, (i >> 1) & 1};
        table[i] = static_cast<std::uint16_t>((i & 1) ? 0 : frameBytesFor(f));
    }
    return table;
}
constexpr std::array<std::uint16_t, 4096> kSizeTable = makeSizeTable();

}  // namespace

std::uint32_t mpegFrameBytes(std::uint32_t word) {
    if ((word & 0xFFE00000u) != 0xFFE00000u || (word & 3u) == 2u) {
        return 0;  // no sync, or the reserved emphasis
    }
    // Bits 19..20 version, 17..18 layer, 12..15 bitrate, 10..11 rate, 9 padding.
    std::uint32_t index = (((word >> 19) & 3u) << 10) | (((word >> 17) & 3u) << 8) |
                          (((word >> 12) & 15u) << 4) | (((word >> 10) & 3u) << 2) |
                          (((word >> 9) & 1u) << 1);
    return kSizeTable[index];
}

bool parseMpegHeader(const std::uint8_t* p, FrameHeader& out) {
    std::uint32_t word = be32(p);
    std::uint32_t bytes = mpegFrameBytes(word);
    if (bytes == 0) {
        return false;
    }
    std::uint32_t versionBits = (word >> 19) & 3u;
    std::uint32_t layer = 4 - ((word >> 17) & 3u);
    out = FrameHeader{};
    out.kind = FrameKind::Mpeg;
    out.frameBytes = bytes;
    out.headerBytes = 0;
    out.streamKey = mpegKeyOf(word);
    out.sampleRate = kMpegRates[versionBits][(word >> 10) & 3u];
    out.channels = ((word >> 6) & 3u) == 3u ? 1 : 2;
    out.layer = layer;
    out.mpegVersion = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    out.samplesPerFrame = layer == 1 ? 384 : (layer == 3 && versionBits != 3) ? 576 : 1152;
    out.crc = ((word >> 16) & 1u) == 0;
    return true;
}

bool parseAdtsHeader(const std::uint8_t* p, FrameHeader& out) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) {
        return false;
    }
    bool protectionAbsent = (p[1] & 1) != 0;
    std::uint32_t profile = p[2] >> 6;
    std::uint32_t rateIndex = (p[2] >> 2) & 15u;
    std::uint32_t channelConfig = ((p[2] & 1u) << 2) | (p[3] >> 6);
    std::uint32_t length =
        ((p[3] & 3u) << 11) | (static_cast<std::uint32_t>(p[4]) << 3) | (p[5] >> 5);
    std::uint32_t rawBlocks = p[6] & 3u;
    std::uint32_t headerBytes = protectionAbsent ? 7 : 9;
    if (kAdtsRates[rateIndex] == 0 || rawBlocks != 0 || length <= headerBytes) {
        return false;
    }
    out = FrameHeader{};
    out.kind = FrameKind::Adts;
    out.frameBytes = length;
    out.headerBytes = headerBytes;
    // ID, layer, profile, rate and channel configuration.
    out.streamKey = 0x80000000u | (static_cast<std::uint32_t>(p[1] & 0x08) << 16) |
                    (profile << 12) | (rateIndex << 4) | channelConfig;
    out.sampleRate = kAdtsRates[rateIndex];
    out.channels = channelConfig == 7 ? 8 : channelConfig == 0 ? 2 : channelConfig;
    out.samplesPerFrame = 1024;
    out.crc = !protectionAbsent;
    out.objectType = profile + 1;
    out.rateIndex = rateIndex;
    out.channelConfig = channelConfig;
    return true;
}

bool isVbrInfoFrame(const std::uint8_t* frame, const FrameHeader& h) {
    if (h.kind != FrameKind::Mpeg || h.layer != 3) {
        return false;
    }
    size_t sideInfo =
        h.mpegVersion == 10 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    size_t xing = 4 + (h.crc ? 2 : 0) + sideInfo;
    if (xing + 4 <= h.frameBytes && (tagIs(frame + xing, "Xing") || tagIs(frame + xing, "Info"))) {
        return true;
    }
    return 36 + 4 <= h.frameBytes && tagIs(frame + 36, "VBRI");
}

}  // namespace orvento::demux
