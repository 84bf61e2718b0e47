#include "engine/platform/parser/AudioFileStream.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "engine/platform/parser/StreamSession.h"

namespace orvento {

using namespace parser;

AudioFileStream::AudioFileStream(void* clientData, AudioFileStream_PropertyListenerProc listener,
                                 AudioFileStream_PacketsProc packets, AudioFileTypeID hint)
    : clientData_(clientData),
      listener_(listener),
      packets_(packets),
      hint_(hint),
      carry_(std::make_unique<std::uint8_t[]>(kCarryCapacity)),
      descs_(std::make_unique<AudioStreamPacketDescription[]>(kMaxRunPackets)) {
    diag_.hint = hint;
    reader_ = makeDetector(*this);
}

AudioFileStream::~AudioFileStream() = default;

OSStatus AudioFileStream::parse(const std::uint8_t* data, size_t size,
                                AudioFileStreamParseFlags flags) {
    if (status_ != noErr) {
        return status_;
    }
    inParse_ = true;
    diag_.bytesParsed += size;
    if ((flags & kAudioFileStreamParseFlag_Discontinuity) != 0 && ready_ &&
        reader_->discontinuity()) {
        spanOffset_ += carryEnd_ - carryStart_;
        carryStart_ = carryEnd_ = 0;
    }
    // Bytes carried from earlier calls come first: top them up to exactly
    // what the reader asked for, so that once it has consumed them the rest
    // of this call's bytes are read in place.
    while (carryEnd_ > carryStart_ && status_ == noErr) {
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
        } else if (used == 0 && status_ == noErr && reader_->need() <= held) {
            fail(kAudioFileStreamError_UnspecifiedError);  // a reader broke its contract
        }
    }
    if (carryEnd_ == carryStart_ && status_ == noErr && size > 0) {
        size_t used = pump(data, size);
        if (status_ == noErr && used < size) {
            appendCarry(data + used, size - used);
        }
    }
    inParse_ = false;
    return status_;
}

size_t AudioFileStream::pump(const std::uint8_t* p, size_t n) {
    size_t total = 0;
    while (status_ == noErr && total < n) {
        spanBase_ = p + total;
        size_t used = reader_->process(p + total, n - total);
        flushRun();
        if (diag_.packetsDelivered == 0 &&
            diag_.skippedTagBytes + diag_.skippedJunkBytes > kMaxSkippedBeforeAudio) {
            // A stream of tags (or of chunks the reader skips) that never
            // comes to audio: fail rather than read it for ever.
            fail(ready_ ? kAudioFileStreamError_InvalidFile
                        : kAudioFileStreamError_UnsupportedFileType);
        }
        assert(used <= n - total);
        total += used;
        spanOffset_ += used;
        if (pending_) {
            reader_ = std::move(pending_);
            continue;
        }
        if (used == 0) {
            if (status_ == noErr && reader_->need() <= n - total) {
                fail(kAudioFileStreamError_UnspecifiedError);
            }
            break;
        }
    }
    if (status_ == noErr && total == n && pending_) {
        reader_ = std::move(pending_);
    }
    return total;
}

void AudioFileStream::appendCarry(const std::uint8_t* p, size_t n) {
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
        fail(kAudioFileStreamError_UnspecifiedError);  // readers never ask for more
        return;
    }
    std::memcpy(carry_.get() + carryEnd_, p, n);
    carryEnd_ += n;
}

void AudioFileStream::announce(const StreamFormat& format, Detection how) {
    if (ready_) {
        return;
    }
    format_ = format;
    diag_.detectedType = format.fileType;
    diag_.method = how;
    ready_ = true;
    unlocked_ = 0;
    notify(kAudioFileStreamProperty_FileFormat);
    notify(kAudioFileStreamProperty_DataFormat);
    if (!format_.cookie.empty()) {
        notify(kAudioFileStreamProperty_MagicCookieData);
    }
    notify(kAudioFileStreamProperty_ReadyToProducePackets);
}

void AudioFileStream::notify(AudioFileStreamPropertyID id) {
    if (listener_ != nullptr) {
        AudioFileStreamPropertyFlags flags = 0;
        listener_(clientData_, this, id, &flags);
    }
}

void AudioFileStream::packet(const std::uint8_t* p, std::uint32_t size,
                             std::uint32_t variableFrames) {
    assert(ready_);
    if (runCount_ == kMaxRunPackets) {
        flushRun();
    }
    if (runCount_ == 0) {
        runBase_ = p;
    }
    auto start = static_cast<std::int64_t>(p - runBase_);
    descs_[runCount_] = AudioStreamPacketDescription{start, variableFrames, size};
    ++runCount_;
    runBytes_ = static_cast<std::uint64_t>(start) + size;
    if (diag_.dataOffset < 0) {
        diag_.dataOffset =
            static_cast<std::int64_t>(spanOffset_ + static_cast<std::uint64_t>(p - spanBase_));
    }
    ++diag_.packetsDelivered;
    diag_.packetBytesDelivered += size;
}

void AudioFileStream::flushRun() {
    if (runCount_ == 0) {
        return;
    }
    size_t count = runCount_;
    runCount_ = 0;
    ++diag_.packetRuns;
    if (packets_ != nullptr) {
        packets_(clientData_, static_cast<std::uint32_t>(runBytes_),
                 static_cast<std::uint32_t>(count), runBase_, descs_.get());
    }
}

void AudioFileStream::pcm(const std::uint8_t* p, size_t bytes, std::uint32_t frames) {
    assert(ready_ && bytes <= kMaxPacketBytes);
    flushRun();
    if (diag_.dataOffset < 0) {
        diag_.dataOffset =
            static_cast<std::int64_t>(spanOffset_ + static_cast<std::uint64_t>(p - spanBase_));
    }
    diag_.packetsDelivered += frames;
    diag_.packetBytesDelivered += bytes;
    ++diag_.packetRuns;
    if (packets_ != nullptr) {
        packets_(clientData_, static_cast<std::uint32_t>(bytes), frames, p, nullptr);
    }
}

void AudioFileStream::fail(OSStatus status) {
    if (status_ == noErr) {
        status_ = status;
    }
}

bool AudioFileStream::examineUnlocked(size_t count, OSStatus status) {
    unlocked_ += count;
    if (unlocked_ > kUnlockedByteBudget) {
        fail(status);
        return false;
    }
    return true;
}

OSStatus AudioFileStream::propertyInfo(AudioFileStreamPropertyID id, std::uint32_t* size,
                                       bool* writable) const {
    std::uint32_t bytes = 0;
    switch (id) {
        case kAudioFileStreamProperty_ReadyToProducePackets:
            bytes = sizeof(std::uint32_t);
            break;
        case kAudioFileStreamProperty_DataFormat:
            if (!ready_) {
                return kAudioFileStreamError_ValueUnknown;
            }
            bytes = sizeof(AudioStreamBasicDescription);
            break;
        case kAudioFileStreamProperty_FileFormat:
            if (!ready_) {
                return kAudioFileStreamError_ValueUnknown;
            }
            bytes = sizeof(AudioFileTypeID);
            break;
        case kAudioFileStreamProperty_MagicCookieData:
            if (!ready_ || format_.cookie.empty()) {
                return kAudioFileStreamError_ValueUnknown;
            }
            bytes = static_cast<std::uint32_t>(format_.cookie.size());
            break;
        default:
            return kAudioFileStreamError_UnsupportedProperty;
    }
    if (size != nullptr) {
        *size = bytes;
    }
    if (writable != nullptr) {
        *writable = false;
    }
    return noErr;
}

OSStatus AudioFileStream::property(AudioFileStreamPropertyID id, std::uint32_t* ioSize,
                                   void* out) const {
    std::uint32_t bytes = 0;
    OSStatus status = propertyInfo(id, &bytes, nullptr);
    if (status != noErr) {
        return status;
    }
    if (ioSize == nullptr || out == nullptr) {
        return kAudio_ParamError;
    }
    if (*ioSize < bytes) {
        return kAudioFileStreamError_BadPropertySize;
    }
    switch (id) {
        case kAudioFileStreamProperty_ReadyToProducePackets: {
            std::uint32_t value = ready_ ? 1 : 0;
            std::memcpy(out, &value, sizeof value);
            break;
        }
        case kAudioFileStreamProperty_DataFormat:
            std::memcpy(out, &format_.asbd, sizeof format_.asbd);
            break;
        case kAudioFileStreamProperty_FileFormat:
            std::memcpy(out, &format_.fileType, sizeof format_.fileType);
            break;
        default:
            std::memcpy(out, format_.cookie.data(), format_.cookie.size());
            break;
    }
    *ioSize = bytes;
    return noErr;
}

// --- The C interface -------------------------------------------------------

OSStatus AudioFileStreamOpen(void* inClientData,
                             AudioFileStream_PropertyListenerProc inPropertyListenerProc,
                             AudioFileStream_PacketsProc inPacketsProc,
                             AudioFileTypeID inFileTypeHint,
                             AudioFileStreamID* outAudioFileStream) {
    if (outAudioFileStream == nullptr) {
        return kAudio_ParamError;
    }
    *outAudioFileStream = nullptr;
    if (inPropertyListenerProc == nullptr || inPacketsProc == nullptr) {
        return kAudio_ParamError;
    }
    // Handed out raw; AudioFileStreamClose takes ownership back.
    *outAudioFileStream = std::make_unique<AudioFileStream>(inClientData, inPropertyListenerProc,
                                                            inPacketsProc, inFileTypeHint)
                              .release();
    return noErr;
}

OSStatus AudioFileStreamParseBytes(AudioFileStreamID inAudioFileStream,
                                   std::uint32_t inDataByteSize, const void* inData,
                                   AudioFileStreamParseFlags inFlags) {
    if (inAudioFileStream == nullptr || (inData == nullptr && inDataByteSize != 0)) {
        return kAudio_ParamError;
    }
    if (inAudioFileStream->busy()) {
        return kAudioFileStreamError_IllegalOperation;
    }
    return inAudioFileStream->parse(static_cast<const std::uint8_t*>(inData), inDataByteSize,
                                    inFlags);
}

OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID inAudioFileStream,
                                        AudioFileStreamPropertyID inPropertyID,
                                        std::uint32_t* outPropertyDataSize, bool* outWritable) {
    if (inAudioFileStream == nullptr) {
        return kAudio_ParamError;
    }
    return inAudioFileStream->propertyInfo(inPropertyID, outPropertyDataSize, outWritable);
}

OSStatus AudioFileStreamGetProperty(AudioFileStreamID inAudioFileStream,
                                    AudioFileStreamPropertyID inPropertyID,
                                    std::uint32_t* ioPropertyDataSize, void* outPropertyData) {
    if (inAudioFileStream == nullptr) {
        return kAudio_ParamError;
    }
    return inAudioFileStream->property(inPropertyID, ioPropertyDataSize, outPropertyData);
}

OSStatus AudioFileStreamClose(AudioFileStreamID inAudioFileStream) {
    if (inAudioFileStream == nullptr) {
        return kAudio_ParamError;
    }
    if (inAudioFileStream->busy()) {
        return kAudioFileStreamError_IllegalOperation;
    }
    std::unique_ptr<AudioFileStream> owned(inAudioFileStream);
    return noErr;
}

OSStatus AudioFileStreamGetDiagnostics(AudioFileStreamID inAudioFileStream,
                                       AudioFileStreamDiagnostics* outDiagnostics) {
    if (inAudioFileStream == nullptr || outDiagnostics == nullptr) {
        return kAudio_ParamError;
    }
    *outDiagnostics = inAudioFileStream->diagnostics();
    return noErr;
}

}  // namespace orvento
