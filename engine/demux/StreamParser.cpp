#include "engine/demux/StreamParser.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

#include "engine/demux/StreamSession.h"

namespace orvento {

std::string_view parserErrorText(ParserError error) {
    switch (error) {
        case ParserError::UnsupportedFileType:
            return "no supported audio format found";
        case ParserError::UnsupportedDataFormat:
            return "audio encoding not supported";
        case ParserError::NotOptimized:
            return "file keeps its index after the audio: cannot be streamed";
        case ParserError::InvalidFile:
            return "malformed data, or frame sync lost for good";
        case ParserError::ValueUnknown:
            return "not known";
        case ParserError::IllegalOperation:
            return "called from inside the parser's listener";
        case ParserError::UnspecifiedError:
            return "internal parser error";
        case ParserError::None:
            break;
    }
    return {};
}

std::unique_ptr<StreamParser> makeStreamParser(StreamParser::Listener& listener,
                                               AudioFileType hint) {
    return std::make_unique<demux::StreamSession>(listener, hint);
}

namespace demux {

StreamSession::StreamSession(StreamParser::Listener& listener, AudioFileType hint)
    : listener_(listener),
      hint_(hint),
      carry_(std::make_unique_for_overwrite<std::uint8_t[]>(kCarryCapacity)),
      descs_(std::make_unique_for_overwrite<PacketDescription[]>(kMaxRunPackets)) {
    diag_.hint = hint;
    reader_ = makeDetector(*this);
}

StreamSession::~StreamSession() {
    assert(!inParse_ && "a parser destroyed from inside its own listener");
}

ParserError StreamSession::feed(std::span<const std::byte> bytes, Continuity continuity) {
    if (inParse_) {
        return ParserError::IllegalOperation;
    }
    if (status_ != ParserError::None) {
        return status_;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    size_t size = bytes.size();
    inParse_ = true;
    diag_.bytesParsed += size;
    if (continuity == Continuity::Discontinuous && ready_ && reader_->discontinuity()) {
        spanOffset_ += carryEnd_ - carryStart_;
        carryStart_ = carryEnd_ = 0;
    }
    // Bytes carried from earlier calls come first: top them up to exactly
    // what the reader asked for, so that once it has consumed them the rest
    // of this call's bytes are read in place.
    while (carryEnd_ > carryStart_ && status_ == ParserError::None) {
        size_t held = carryEnd_ - carryStart_;
        size_t want = reader_->need();
        if (want > held) {
            size_t take = std::min(want - held, size);
            appendCarry(data, take);
            data += take;
            size -= take;
            held += take;
            if (held < want) {
                break;
            }
        }
        size_t used = pump(carry_.get() + carryStart_, held);
        carryStart_ += used;
        if (carryStart_ == carryEnd_) {
            carryStart_ = carryEnd_ = 0;
        } else if (used == 0 && status_ == ParserError::None && reader_->need() <= held) {
            fail(ParserError::UnspecifiedError);  // a reader broke its contract
        }
    }
    if (carryEnd_ == carryStart_ && status_ == ParserError::None && size > 0) {
        size_t used = pump(data, size);
        if (status_ == ParserError::None && used < size) {
            appendCarry(data + used, size - used);
        }
    }
    inParse_ = false;
    return status_;
}

size_t StreamSession::pump(const std::uint8_t* p, size_t n) {
    size_t total = 0;
    while (status_ == ParserError::None && total < n) {
        spanBase_ = p + total;
        size_t used = reader_->process(p + total, n - total);
        flushRun();
        if (diag_.packetsDelivered == 0 &&
            diag_.skippedTagBytes + diag_.skippedJunkBytes > kMaxSkippedBeforeAudio) {
            // A stream of tags (or of chunks the reader skips) that never
            // comes to audio: fail rather than read it for ever.
            fail(ready_ ? ParserError::InvalidFile : ParserError::UnsupportedFileType);
        }
        assert(used <= n - total);
        total += used;
        spanOffset_ += used;
        if (pending_) {
            reader_ = std::move(pending_);
            continue;
        }
        if (used == 0) {
            if (status_ == ParserError::None && reader_->need() <= n - total) {
                fail(ParserError::UnspecifiedError);
            }
            break;
        }
    }
    if (status_ == ParserError::None && total == n && pending_) {
        reader_ = std::move(pending_);
    }
    return total;
}

void StreamSession::appendCarry(const std::uint8_t* p, size_t n) {
    if (n == 0) {
        return;
    }
    if (carryEnd_ + n > kCarryCapacity) {
        size_t held = carryEnd_ - carryStart_;
        std::memmove(carry_.get(), carry_.get() + carryStart_, held);
        carryStart_ = 0;
        carryEnd_ = held;
    }
    if (carryEnd_ + n > kCarryCapacity) {
        fail(ParserError::UnspecifiedError);  // readers never ask for more
        return;
    }
    std::memcpy(carry_.get() + carryEnd_, p, n);
    carryEnd_ += n;
}

void StreamSession::announce(const StreamFormat& format, Detection how) {
    if (ready_) {
        return;
    }
    format_ = format;
    diag_.detectedType = format.fileType;
    diag_.method = how;
    ready_ = true;
    unlocked_ = 0;
    listener_.handleStreamProperty(StreamProperty::FileFormat);
    listener_.handleStreamProperty(StreamProperty::DataFormat);
    if (!format_.cookie.empty()) {
        listener_.handleStreamProperty(StreamProperty::MagicCookie);
    }
    listener_.handleStreamProperty(StreamProperty::ReadyToProducePackets);
}

void StreamSession::packet(const std::uint8_t* p, std::uint32_t size,
                           std::uint32_t variableFrames) {
    assert(ready_);
    if (runCount_ == kMaxRunPackets) {
        flushRun();
    }
    if (runCount_ == 0) {
        runBase_ = p;
    }
    auto start = static_cast<std::int64_t>(p - runBase_);
    descs_[runCount_] = PacketDescription{start, variableFrames, size};
    ++runCount_;
    runBytes_ = static_cast<std::uint64_t>(start) + size;
    if (diag_.dataOffset < 0) {
        diag_.dataOffset =
            static_cast<std::int64_t>(spanOffset_ + static_cast<std::uint64_t>(p - spanBase_));
    }
    ++diag_.packetsDelivered;
    diag_.packetBytesDelivered += size;
}

void StreamSession::flushRun() {
    if (runCount_ == 0) {
        return;
    }
    size_t count = runCount_;
    runCount_ = 0;
    ++diag_.packetRuns;
    listener_.handleStreamPackets(
        std::as_bytes(std::span(runBase_, static_cast<size_t>(runBytes_))),
        std::span<const PacketDescription>(descs_.get(), count));
}

void StreamSession::pcm(const std::uint8_t* p, size_t bytes, std::uint32_t frames) {
    assert(ready_ && bytes <= kMaxPacketBytes);
    flushRun();
    if (diag_.dataOffset < 0) {
        diag_.dataOffset =
            static_cast<std::int64_t>(spanOffset_ + static_cast<std::uint64_t>(p - spanBase_));
    }
    diag_.packetsDelivered += frames;
    diag_.packetBytesDelivered += bytes;
    ++diag_.packetRuns;
    listener_.handleStreamPackets(std::as_bytes(std::span(p, bytes)), {});
}

void StreamSession::fail(ParserError status) {
    if (status_ == ParserError::None) {
        status_ = status;
    }
}

bool StreamSession::examineUnlocked(size_t count, ParserError status) {
    unlocked_ += count;
    if (unlocked_ > kUnlockedByteBudget) {
        fail(status);
        return false;
    }
    return true;
}

ParserResult<AudioFileType> StreamSession::fileFormat() const {
    if (!ready_) {
        return ParserError::ValueUnknown;
    }
    return format_.fileType;
}

ParserResult<AudioFormat> StreamSession::dataFormat() const {
    if (!ready_) {
        return ParserError::ValueUnknown;
    }
    return format_.asbd;
}

ParserResult<std::span<const std::uint8_t>> StreamSession::magicCookie() const {
    if (!ready_ || format_.cookie.empty()) {
        return ParserError::ValueUnknown;
    }
    return std::span<const std::uint8_t>(format_.cookie);
}

}  // namespace demux
}  // namespace orvento
