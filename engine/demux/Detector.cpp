// Recognises the file format at the start of a stream and hands over to the
// matching reader.
#include "engine/demux/StreamSession.h"

namespace orvento::demux {

TagCheck checkTag(const std::uint8_t* p, size_t n, bool allowId3v1, std::uint64_t& tagBytes,
                  size_t& need) {
    // Each asks for no more than tells a tag apart from other bytes, so that
    // a stream fed in pieces is judged as the same bytes fed at once are.
    if (p[0] == 'I') {
        if (n < 10) {
            need = n < 3 ? 3 : 10;
            return (n < 2 || p[1] == 'D') && (n < 3 || p[2] == '3') ? TagCheck::NeedMore
                                                                    : TagCheck::None;
        }
        if (p[1] != 'D' || p[2] != '3' || p[3] < 2 || p[3] > 4 || p[4] == 0xFF ||
            (p[6] | p[7] | p[8] | p[9]) >= 0x80) {
            return TagCheck::None;
        }
        std::uint64_t body = (static_cast<std::uint64_t>(p[6]) << 21) |
                             (static_cast<std::uint64_t>(p[7]) << 14) |
                             (static_cast<std::uint64_t>(p[8]) << 7) | p[9];
        bool footer = p[3] == 4 && (p[5] & 0x10) != 0;
        tagBytes = 10 + body + (footer ? 10 : 0);
        return TagCheck::Tag;
    }
    if (p[0] == 'A') {
        static constexpr char kApe[] = "APETAGEX";
        if (n < 32) {
            need = n < 8 ? 8 : 32;
            return std::memcmp(p, kApe, n < 8 ? n : 8) == 0 ? TagCheck::NeedMore : TagCheck::None;
        }
        if (std::memcmp(p, kApe, 8) != 0) {
            return TagCheck::None;
        }
        bool isHeader = (le32(p + 20) & (1u << 29)) != 0;
        tagBytes = 32 + (isHeader ? static_cast<std::uint64_t>(le32(p + 12)) : 0);
        return TagCheck::Tag;
    }
    if (allowId3v1 && p[0] == 'T') {
        if (n < 3) {
            need = 3;
            return (n < 2 || p[1] == 'A') ? TagCheck::NeedMore : TagCheck::None;
        }
        if (p[1] == 'A' && p[2] == 'G') {
            tagBytes = 128;
            return TagCheck::Tag;
        }
    }
    return TagCheck::None;
}

namespace {

bool isMp4Hint(AudioFileType hint) {
    return hint == AudioFileType::M4A || hint == AudioFileType::MPEG4;
}

class Detector final : public Reader {
  public:
    explicit Detector(StreamSession& session) : session_(session) {}

    size_t process(const std::uint8_t* p, size_t n) override {
        size_t pos = 0;
        while (pos < n) {
            if (skip_ > 0) {
                size_t k = skip_ < n - pos ? static_cast<size_t>(skip_) : n - pos;
                pos += k;
                skip_ -= k;
                continue;
            }
            const std::uint8_t* q = p + pos;
            size_t left = n - pos;
            if (left < kSignatureBytes) {
                need_ = kSignatureBytes;
                return pos;
            }
            std::uint64_t tag = 0;
            switch (checkTag(q, left, false, tag, need_)) {
                case TagCheck::NeedMore:
                    return pos;
                case TagCheck::Tag:
                    session_.noteSkippedTag(tag);
                    skip_ = tag;
                    continue;
                case TagCheck::None:
                    break;
            }
            session_.switchTo(choose(q));
            return pos;
        }
        return pos;
    }

  private:
    static constexpr size_t kSignatureBytes = 12;

    std::unique_ptr<Reader> choose(const std::uint8_t* q) {
        if ((tagIs(q, "RIFF") || tagIs(q, "RF64")) && tagIs(q + 8, "WAVE")) {
            return makeWaveReader(session_);
        }
        if (tagIs(q, "FORM") && (tagIs(q + 8, "AIFF") || tagIs(q + 8, "AIFC"))) {
            return makeAiffReader(session_);
        }
        if (tagIs(q, "caff") && be16(q + 4) == 1) {
            return makeCafReader(session_);
        }
        if (tagIs(q + 4, "ftyp")) {
            return makeMp4Reader(session_, Detection::ContainerSignature);
        }
        // Files that open with another top-level box are MP4 only when the
        // hint says so: these four letters alone are too weak a signature.
        if (isMp4Hint(session_.hint()) && be32(q) >= 8 &&
            (tagIs(q + 4, "moov") || tagIs(q + 4, "mdat") || tagIs(q + 4, "free") ||
             tagIs(q + 4, "skip") || tagIs(q + 4, "wide"))) {
            return makeMp4Reader(session_, Detection::ContainerByHint);
        }
        return makeFramedReader(session_);
    }

    StreamSession& session_;
    std::uint64_t skip_ = 0;
};

}  // namespace

std::unique_ptr<Reader> makeDetector(StreamSession& session) {
    return std::make_unique<Detector>(session);
}

}  // namespace orvento::demux
