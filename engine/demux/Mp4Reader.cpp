// MP4/M4A with AAC: the sample tables of the first audio track in 'moov'
// locate each packet in 'mdat'. Only files whose 'moov' comes first can be
// streamed.
#include <algorithm>

#include "engine/demux/ChunkWalker.h"

namespace orvento::demux {

namespace {

struct Box {
    std::uint32_t type = 0;
    const std::uint8_t* body = nullptr;
    size_t size = 0;
};

// Reads the next child box from a cursor over a buffered parent body.
bool nextBox(ByteCursor& c, Box& box) {
    if (c.remaining() < 8) {
        return false;
    }
    std::uint64_t size = c.u32be();
    box.type = c.u32be();
    size_t header = 8;
    if (size == 1) {
        size = c.u64be();
        header = 16;
    } else if (size == 0) {
        size = c.remaining() + 8;
    }
    if (!c.ok() || size < header || size - header > c.remaining()) {
        return false;
    }
    box.body = c.here();
    box.size = static_cast<size_t>(size - header);
    c.skip(box.size);
    return true;
}

bool findChild(const std::uint8_t* p, size_t n, std::uint32_t type, Box& out) {
    ByteCursor c(p, n);
    Box box;
    while (nextBox(c, box)) {
        if (box.type == type) {
            out = box;
            return true;
        }
    }
    return false;
}

struct Chunk {
    std::uint64_t offset;
    std::uint32_t firstSample;
    std::uint32_t samples;
};

// What the sample tables of the audio track say.
struct Track {
    AudioFormat asbd{};
    std::vector<std::uint8_t> cookie;
    std::vector<std::uint32_t> sizes;
    std::vector<Chunk> chunks;
};

// Outcome of reading 'moov'.
enum class MoovResult { Ok, NoAudio, Unsupported, Invalid };

class MoovParser {
  public:
    MoovResult parse(const std::uint8_t* p, size_t n, Track& track) {
        ByteCursor c(p, n);
        Box trak;
        MoovResult result = MoovResult::NoAudio;
        while (nextBox(c, trak)) {
            if (trak.type != fourCharCode("trak")) {
                continue;
            }
            result = parseTrack(trak, track);
            if (result != MoovResult::NoAudio) {
                return result;
            }
        }
        return result;
    }

  private:
    MoovResult parseTrack(const Box& trak, Track& track) {
        Box mdia, hdlr, minf, stbl;
        if (!findChild(trak.body, trak.size, fourCharCode("mdia"), mdia) ||
            !findChild(mdia.body, mdia.size, fourCharCode("hdlr"), hdlr) || hdlr.size < 12 ||
            be32(hdlr.body + 8) != fourCharCode("soun")) {
            return MoovResult::NoAudio;
        }
        if (!findChild(mdia.body, mdia.size, fourCharCode("minf"), minf) ||
            !findChild(minf.body, minf.size, fourCharCode("stbl"), stbl)) {
            return MoovResult::Invalid;
        }
        Box stsd, stsz, stsc, stco;
        if (!findChild(stbl.body, stbl.size, fourCharCode("stsd"), stsd) ||
            !findChild(stbl.body, stbl.size, fourCharCode("stsz"), stsz) ||
            !findChild(stbl.body, stbl.size, fourCharCode("stsc"), stsc)) {
            return MoovResult::Invalid;
        }
        bool wide = false;
        if (!findChild(stbl.body, stbl.size, fourCharCode("stco"), stco)) {
            if (!findChild(stbl.body, stbl.size, fourCharCode("co64"), stco)) {
                return MoovResult::Invalid;
            }
            wide = true;
        }
        MoovResult result = readSampleEntry(stsd, track);
        if (result != MoovResult::Ok) {
            return result;
        }
        if (!readSizes(stsz, track) || !readChunks(stsc, stco, wide, track)) {
            return MoovResult::Invalid;
        }
        return track.sizes.empty() ? MoovResult::Unsupported : MoovResult::Ok;
    }

    static MoovResult readSampleEntry(const Box& stsd, Track& track) {
        ByteCursor c(stsd.body, stsd.size);
        c.skip(4);  // version and flags
        if (c.u32be() == 0) {
            return MoovResult::Invalid;
        }
        Box entry;
        if (!nextBox(c, entry)) {
            return MoovResult::Invalid;
        }
        if (entry.type != fourCharCode("mp4a")) {
            return MoovResult::Unsupported;
        }
        ByteCursor e(entry.body, entry.size);
        e.skip(6 + 2);  // reserved, data reference index
        std::uint16_t version = e.u16be();
        e.skip(2 + 4);  // revision, vendor
        std::uint32_t channels = e.u16be();
        e.skip(2 + 2 + 2);  // sample size, compression id, packet size
        double rate = e.u32be() / 65536.0;
        if (version == 1) {
            e.skip(16);
        } else if (version == 2) {
            e.skip(4);
            std::uint64_t bits = e.u64be();
            std::memcpy(&rate, &bits, sizeof rate);
            channels = e.u32be();
            e.skip(20);
        }
        if (!e.ok()) {
            return MoovResult::Invalid;
        }
        Box esds;
        const std::uint8_t* children = e.here();
        size_t childBytes = e.remaining();
        if (!findChild(children, childBytes, fourCharCode("esds"), esds)) {
            Box wave;  // QuickTime wraps it in 'wave'
            if (!findChild(children, childBytes, fourCharCode("wave"), wave) ||
                !findChild(wave.body, wave.size, fourCharCode("esds"), esds)) {
                return MoovResult::Unsupported;
            }
        }
        if (esds.size < 4) {
            return MoovResult::Invalid;
        }
        std::uint8_t oti = 0;
        std::vector<std::uint8_t> asc;
        if (!findAudioSpecificConfigInEsds(esds.body + 4, esds.size - 4, asc, &oti)) {
            return MoovResult::Unsupported;
        }
        // MPEG-4 audio, and the three MPEG-2 AAC profiles.
        if (oti != 0x40 && oti != 0x66 && oti != 0x67 && oti != 0x68) {
            return MoovResult::Unsupported;
        }
        AudioSpecificConfig config;
        if (!parseAudioSpecificConfig(asc.data(), asc.size(), config)) {
            return MoovResult::Unsupported;
        }
        track.asbd = aacFormat(config, rate, channels);
        if (!plausibleSampleRate(track.asbd.sampleRate) || track.asbd.channelsPerFrame == 0) {
            return MoovResult::Unsupported;
        }
        track.cookie = std::move(asc);
        return MoovResult::Ok;
    }

    static bool readSizes(const Box& stsz, Track& track) {
        ByteCursor c(stsz.body, stsz.size);
        c.skip(4);
        std::uint32_t constant = c.u32be();
        std::uint32_t count = c.u32be();
        if (!c.ok() || constant > kMaxPacketBytes) {
            return false;
        }
        if (constant == 0 && count > c.remaining() / 4) {
            return false;
        }
        if (constant != 0 && count > kMaxBufferedBoxBytes / sizeof(std::uint32_t)) {
            return false;  // keeps the expanded table as bounded as a listed one
        }
        track.sizes.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t size = constant != 0 ? constant : c.u32be();
            if (size > kMaxPacketBytes) {
                return false;
            }
            track.sizes[i] = size;
        }
        return true;
    }

    static bool readChunks(const Box& stsc, const Box& stco, bool wide, Track& track) {
        ByteCursor runs(stsc.body, stsc.size);
        runs.skip(4);
        std::uint32_t runCount = runs.u32be();
        if (!runs.ok() || runCount > runs.remaining() / 12) {
            return false;
        }
        ByteCursor offsets(stco.body, stco.size);
        offsets.skip(4);
        std::uint32_t chunkCount = offsets.u32be();
        if (!offsets.ok() || chunkCount > offsets.remaining() / (wide ? 8 : 4)) {
            return false;
        }
        track.chunks.reserve(chunkCount);
        std::uint64_t sample = 0;
        const std::uint64_t total = track.sizes.size();
        std::uint32_t nextRunFirst = runCount > 0 ? runs.u32be() : 0;
        std::uint32_t perChunk = 0;
        std::uint32_t runsRead = 0;
        for (std::uint32_t chunk = 1; chunk <= chunkCount && sample < total; ++chunk) {
            while (runsRead < runCount && nextRunFirst <= chunk) {
                perChunk = runs.u32be();
                runs.skip(4);  // sample description index
                ++runsRead;
                nextRunFirst = runsRead < runCount ? runs.u32be() : UINT32_MAX;
            }
            std::uint64_t offset = wide ? offsets.u64be() : offsets.u32be();
            std::uint32_t samples =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(perChunk, total - sample));
            if (samples > 0) {
                track.chunks.push_back(Chunk{offset, static_cast<std::uint32_t>(sample), samples});
            }
            sample += samples;
        }
        // Streams are read front to back, so chunks are visited by offset.
        std::stable_sort(track.chunks.begin(), track.chunks.end(),
                         [](const Chunk& a, const Chunk& b) { return a.offset < b.offset; });
        return runs.ok() && offsets.ok();
    }
};

class Mp4Reader final : public ChunkWalker {
  public:
    Mp4Reader(StreamSession& session, FormatDetection how) : ChunkWalker(session, 0), how_(how) {}

  private:
    // Boxes: a big-endian 32-bit size (1: a 64-bit size follows; 0: the box
    // runs to the end) and a type, the size counting the header.
    size_t onChunk(const std::uint8_t* q, size_t left, std::uint64_t at) override {
        if (left < 8) {
            return needBytes(8);
        }
        std::uint64_t size = be32(q);
        std::uint32_t type = be32(q + 4);
        size_t header = 8;
        if (size == 1) {
            if (left < 16) {
                return needBytes(16);
            }
            size = be64(q + 8);
            header = 16;
        }
        bool toEnd = size == 0;
        if (!toEnd && size < header) {
            return failWith(ParserError::InvalidFile);
        }
        if (!session().ready() &&
            !session().examineUnlocked(header, ParserError::UnsupportedFileType)) {
            return 0;
        }
        std::uint64_t body = toEnd ? UINT64_MAX : size - header;
        switch (type) {
            case fourCharCode("ftyp"):
                if (left < header + 4) {
                    return needBytes(header + 4);
                }
                if (body >= 4 && tagIs(q + header, "M4A ")) {
                    fileType_ = AudioFileType::M4A;
                }
                break;
            case fourCharCode("moov"):
                if (session().ready()) {
                    break;  // a second one changes nothing
                }
                if (body > kMaxBufferedBoxBytes) {
                    return failWith(ParserError::InvalidFile);
                }
                return collectBody(header, moov_, body);
            case fourCharCode("mdat"):
                if (!session().ready()) {
                    // The sample tables come after the audio: nothing can be
                    // played until the whole file has arrived.
                    return failWith(ParserError::NotOptimized);
                }
                enterData();
                mdatEnd_ = toEnd ? UINT64_MAX : at + size;
                return header;
            default:
                break;
        }
        return skipChunk(header, body);
    }

    void onCollected() override { readMoov(); }

    void readMoov() {
        MoovResult result = MoovParser().parse(moov_.data(), moov_.size(), track_);
        moov_.clear();
        moov_.shrink_to_fit();
        switch (result) {
            case MoovResult::Ok:
                break;
            case MoovResult::Invalid:
                session().fail(ParserError::InvalidFile);
                return;
            case MoovResult::NoAudio:
            case MoovResult::Unsupported:
                session().fail(ParserError::UnsupportedDataFormat);
                return;
        }
        StreamFormat format;
        format.fileType = fileType_;
        format.asbd = track_.asbd;
        format.cookie = track_.cookie;
        session().announce(format, how_);
    }

    // Delivers the samples of the chunks inside 'mdat' and skips what lies
    // between them.
    size_t deliver(const std::uint8_t* q, size_t left, std::uint64_t at) override {
        size_t pos = 0;
        while (pos < left) {
            std::uint64_t here = at + pos;
            if (here >= mdatEnd_) {
                leaveData();
                break;
            }
            std::uint64_t mdatLeft = mdatEnd_ - here;
            while (chunk_ < track_.chunks.size() && inChunk_ == 0 &&
                   track_.chunks[chunk_].offset < here) {
                ++chunk_;  // a chunk behind us (overlapping or out of order): lost
            }
            if (chunk_ >= track_.chunks.size()) {
                skip(mdatLeft);
                leaveData();
                break;
            }
            const Chunk& c = track_.chunks[chunk_];
            if (inChunk_ == 0 && c.offset > here) {
                std::uint64_t gap = std::min(c.offset - here, mdatLeft);
                size_t k = static_cast<size_t>(std::min<std::uint64_t>(gap, left - pos));
                pos += k;
                continue;
            }
            std::uint32_t size = track_.sizes[c.firstSample + inChunk_];
            if (size > mdatLeft) {
                chunk_ = track_.chunks.size();  // the tables point past 'mdat'
                continue;
            }
            if (left - pos < size) {
                need_ = size;
                return pos;
            }
            if (size > 0) {
                session().packet(q + pos, size);
            }
            pos += size;
            if (++inChunk_ == c.samples) {
                inChunk_ = 0;
                ++chunk_;
            }
        }
        return pos;
    }

    const FormatDetection how_;
    AudioFileType fileType_ = AudioFileType::MPEG4;
    std::vector<std::uint8_t> moov_;
    Track track_;
    std::uint64_t mdatEnd_ = 0;
    size_t chunk_ = 0;
    std::uint32_t inChunk_ = 0;
};

}  // namespace

std::unique_ptr<Reader> makeMp4Reader(StreamSession& session, FormatDetection how) {
    return std::make_unique<Mp4Reader>(session, how);
}

}  // namespace orvento::demux
