// Internal to the parser: the walk the container readers (WAV, AIFF, CAF,
// MP4) share. Their files are a fixed file header (none in MP4) and then a
// sequence of chunks (MP4: boxes), each a small header (tag and size) and a
// body, one of which holds the audio.
//
// The walker owns the loop over the bytes a parse call hands the reader: it
// reads the file header once, then passes each chunk header to the format,
// which says what to do with the chunk: skip its body, gather its body into a
// buffer, read it in place, or start delivering the audio. The walker carries
// the position through skips and gathering across parse calls, and stops
// when the format needs more bytes than it was given (need()).
#pragma once

#include <vector>

#include "engine/demux/StreamSession.h"

namespace orvento::demux {

class ChunkWalker : public Reader {
  public:
    size_t process(const std::uint8_t* p, size_t n) final;

  protected:
    // fileHeaderBytes: the bytes before the first chunk (0: none).
    ChunkWalker(StreamSession& session, size_t fileHeaderBytes)
        : session_(session),
          fileHeaderBytes_(fileHeaderBytes),
          sawFileHeader_(fileHeaderBytes == 0) {}

    // Called once with the file header's bytes.
    virtual void readFileHeader(const std::uint8_t* /*header*/) {}
    // Reads the chunk header at q; `left` bytes from q on are available (at
    // least one) and `at` is q's offset in the stream. Returns the bytes it
    // consumed, through one of the helpers below; 0 ends this parse call (the
    // format needs more bytes, or it failed the session).
    virtual size_t onChunk(const std::uint8_t* q, size_t left, std::uint64_t at) = 0;
    // Delivers audio from [q, q + left) after enterData(); returns the bytes
    // consumed. Consuming less than `left` while still in the data ends this
    // parse call (need_ says how many bytes it wants).
    virtual size_t deliver(const std::uint8_t* q, size_t left, std::uint64_t at) = 0;
    // A body gathered by collectBody() is complete.
    virtual void onCollected() {}

    // --- for onChunk and deliver ---
    StreamSession& session() { return session_; }
    // Stops until `count` bytes from the chunk header on are available.
    size_t needBytes(size_t count) {
        need_ = count;
        return 0;
    }
    size_t failWith(ParserError status) {
        session_.fail(status);
        return 0;
    }
    // Consumes the chunk's `header` and skips its `body` (UINT64_MAX: to the
    // end of the stream), counting both as skipped.
    size_t skipChunk(size_t header, std::uint64_t body);
    // Consumes the chunk's `header` and gathers its `body` into `into`
    // (cleared first); onCollected() follows once it is complete.
    size_t collectBody(size_t header, std::vector<std::uint8_t>& into, std::uint64_t body);
    // Consumes `bytes` and ends this parse call: the format handed the stream
    // to another reader (StreamSession::switchTo).
    size_t handOver(size_t bytes) {
        handedOver_ = true;
        return bytes;
    }
    // Skips the next `bytes` bytes, before anything else.
    void skip(std::uint64_t bytes) { skip_ = bytes; }
    void enterData() { inData_ = true; }
    void leaveData() { inData_ = false; }

  private:
    StreamSession& session_;
    const size_t fileHeaderBytes_;
    bool sawFileHeader_;
    bool inData_ = false;
    bool handedOver_ = false;
    std::uint64_t skip_ = 0;
    std::vector<std::uint8_t>* collecting_ = nullptr;
    std::uint64_t collectRemaining_ = 0;
};

// Chunks as RIFF (WAV) and IFF (AIFF) lay them out after their 12-byte file
// header: a four-letter tag and a 32-bit size (little-endian in RIFF,
// big-endian in IFF) in an 8-byte header, then the body, padded to an even
// length.
class IffChunkWalker : public ChunkWalker {
  protected:
    IffChunkWalker(StreamSession& session, bool bigEndianSizes)
        : ChunkWalker(session, 12), bigEndianSizes_(bigEndianSizes) {}

    // The chunk at q, whose header has been read and counted as examined:
    // `size` is its body's length, without the pad byte. Returns as onChunk.
    virtual size_t onIffChunk(const std::uint8_t* q, size_t left, std::uint32_t size) = 0;

    // Reads a chunk in place once all of it is available: read(body, size).
    // A body shorter than `least` or longer than `most` makes the file
    // invalid.
    template <typename Read>
    size_t readWhole(const std::uint8_t* q, size_t left, std::uint32_t size, std::uint32_t least,
                     std::uint32_t most, Read read) {
        if (size < least || size > most) {
            return failWith(ParserError::InvalidFile);
        }
        const size_t whole = 8 + size + (size & 1);
        if (left < whole) {
            return needBytes(whole);
        }
        read(q + 8, size);
        return whole;
    }
    size_t skipPadded(std::uint32_t size) {
        return skipChunk(8, static_cast<std::uint64_t>(size) + (size & 1));
    }

  private:
    size_t onChunk(const std::uint8_t* q, size_t left, std::uint64_t at) final;

    const bool bigEndianSizes_;
};

}  // namespace orvento::demux
