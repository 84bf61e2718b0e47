#include "engine/demux/ChunkWalker.h"

namespace orvento::demux {

size_t ChunkWalker::process(const std::uint8_t* p, size_t n) {
    const std::uint64_t base = session_.spanOffset();
    size_t pos = 0;
    while (pos < n && !session_.failed()) {
        const std::uint8_t* q = p + pos;
        const size_t left = n - pos;
        if (skip_ > 0) {
            const size_t k = skip_ < left ? static_cast<size_t>(skip_) : left;
            pos += k;
            skip_ -= k;
            continue;
        }
        if (collecting_ != nullptr) {
            const size_t k =
                collectRemaining_ < left ? static_cast<size_t>(collectRemaining_) : left;
            collecting_->insert(collecting_->end(), q, q + k);
            collectRemaining_ -= k;
            pos += k;
            if (collectRemaining_ == 0) {
                collecting_ = nullptr;
                onCollected();
            }
            continue;
        }
        if (inData_) {
            const size_t used = deliver(q, left, base + pos);
            pos += used;
            if (inData_ && used < left) {
                return pos;
            }
            continue;
        }
        if (!sawFileHeader_) {
            if (left < fileHeaderBytes_) {
                need_ = fileHeaderBytes_;
                return pos;
            }
            readFileHeader(q);
            sawFileHeader_ = true;
            pos += fileHeaderBytes_;
            continue;
        }
        const size_t used = onChunk(q, left, base + pos);
        pos += used;
        if (used == 0 || handedOver_) {
            return pos;
        }
    }
    return pos;
}

size_t ChunkWalker::skipChunk(size_t header, std::uint64_t body) {
    skip_ = body;
    session_.noteSkippedTag(header + (body == UINT64_MAX ? 0 : body));
    return header;
}

size_t ChunkWalker::collectBody(size_t header, std::vector<std::uint8_t>& into,
                                std::uint64_t body) {
    into.clear();
    if (body == 0) {
        onCollected();
    } else {
        collecting_ = &into;
        collectRemaining_ = body;
    }
    return header;
}

size_t IffChunkWalker::onChunk(const std::uint8_t* q, size_t left, std::uint64_t /*at*/) {
    if (left < 8) {
        return needBytes(8);
    }
    const std::uint32_t size = bigEndianSizes_ ? be32(q + 4) : le32(q + 4);
    if (!session().examineUnlocked(8, ParserError::UnsupportedFileType)) {
        return 0;
    }
    return onIffChunk(q, left, size);
}

}  // namespace orvento::demux
