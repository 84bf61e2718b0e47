#include "tools/probe/Decode.h"

#include <cstdint>
#include <cstdio>

namespace orvento::probe {

QueueFeeder::QueueFeeder(DecodeOptions options) : options_(std::move(options)) {}

QueueFeeder::~QueueFeeder() {
    if (queue_ != nullptr) {
        AudioQueueDispose(queue_, true);
    }
}

void QueueFeeder::bufferDone(void* self, AudioQueueRef /*queue*/, AudioQueueBufferRef buffer) {
    static_cast<QueueFeeder*>(self)->ring_.bufferCompleted(buffer);
}

void QueueFeeder::runningChanged(void* self, AudioQueueRef queue, AudioQueuePropertyID) {
    auto& feeder = *static_cast<QueueFeeder*>(self);
    std::uint32_t running = 1;
    std::uint32_t size = sizeof running;
    AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size);
    if (running == 0) {
        {
            std::lock_guard lock(feeder.mutex_);
            feeder.stopped_ = true;
        }
        feeder.stoppedChanged_.notify_all();
    }
}

void QueueFeeder::fail(std::string reason) {
    if (!failed_) {
        failed_ = true;
        report_.error = std::move(reason);
    }
}

void QueueFeeder::fail(const char* call, OSStatus status) {
    if (!failed_) {
        report_.queueStatus = status;
        std::string reason = std::string(call) + " failed with " + statusText(status);
        if (queue_ != nullptr && !AudioQueueErrorText(queue_).empty()) {
            reason += ": " + AudioQueueErrorText(queue_);
        }
        fail(std::move(reason));
    }
}

void QueueFeeder::onReady(const ProbeResult& result) {
    OSStatus status = AudioQueueNewOutputTo(options_.output, &result.format, &bufferDone, this,
                                            nullptr, nullptr, 0, &queue_);
    if (status != noErr) {
        queue_ = nullptr;
        return fail("AudioQueueNewOutput", status);
    }
    ring_.setFormat(result.format);
    status =
        AudioQueueAddPropertyListener(queue_, kAudioQueueProperty_IsRunning, &runningChanged, this);
    if (status != noErr) {
        return fail("AudioQueueAddPropertyListener", status);
    }
    for (AudioQueueBufferRef& buffer : ring_.buffers()) {
        status = AudioQueueAllocateBuffer(queue_, kBufferSize, &buffer);
        if (status != noErr) {
            return fail("AudioQueueAllocateBuffer", status);
        }
    }
    if (result.hasCookie) {
        status =
            AudioQueueSetProperty(queue_, kAudioQueueProperty_MagicCookie, result.cookie.data(),
                                  static_cast<std::uint32_t>(result.cookie.size()));
        if (status != noErr) {
            return fail("AudioQueueSetProperty", status);
        }
    }
}

OSStatus QueueFeeder::enqueueBuffer(AudioQueueBufferRef buffer, std::uint32_t count,
                                    const AudioStreamPacketDescription* descriptions) {
    if (options_.onPacket) {
        auto* bytes = static_cast<std::byte*>(buffer->mAudioData);
        if (count == 0) {
            options_.onPacket({bytes, buffer->mAudioDataByteSize}, packetIndex_++);
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const AudioStreamPacketDescription& d = descriptions[i];
            options_.onPacket({bytes + d.mStartOffset, d.mDataByteSize}, packetIndex_++);
        }
    }
    const OSStatus status = AudioQueueEnqueueBuffer(queue_, buffer, count, descriptions);
    if (status != noErr) {
        fail("AudioQueueEnqueueBuffer", status);
    } else {
        ++report_.buffersEnqueued;
    }
    return status;
}

bool QueueFeeder::startQueue() {
    const OSStatus status = AudioQueueStart(queue_, nullptr);
    if (status != noErr) {
        fail("AudioQueueStart", status);
    }
    return status == noErr;
}

void QueueFeeder::onPackets(std::span<const std::byte> bytes,
                            std::span<const AudioStreamPacketDescription> descriptions) {
    if (!failed_ && queue_ != nullptr) {
        ring_.deliver(static_cast<std::uint32_t>(bytes.size()),
                      static_cast<std::uint32_t>(descriptions.size()), bytes.data(),
                      descriptions.empty() ? nullptr : descriptions.data());
    }
}

DecodeReport QueueFeeder::finish() {
    if (queue_ == nullptr && !failed_) {
        report_.error = "the parser found no playable audio";
    }
    if (queue_ != nullptr && !failed_) {
        if (ring_.holdsAudio()) {
            ring_.enqueueFillBuffer();
        }
        if (!failed_ && ring_.buffersHandedOver() > 0 && ring_.startQueue()) {
            OSStatus status = AudioQueueFlush(queue_);
            if (status == noErr) {
                status = AudioQueueStop(queue_, false);
            }
            if (status != noErr) {
                fail("AudioQueueStop", status);
            } else {
                std::unique_lock lock(mutex_);
                stoppedChanged_.wait(lock, [&] { return stopped_; });
            }
        }
    }
    if (queue_ != nullptr) {
        AudioTimeStamp time{};
        AudioQueueGetCurrentTime(queue_, nullptr, &time, nullptr);
        report_.framesPlayed = static_cast<std::uint64_t>(time.mSampleTime);
        report_.queueErrorText = AudioQueueErrorText(queue_);
        AudioQueueDispose(queue_, true);
        queue_ = nullptr;
    }
    report_.ok = report_.error.empty();
    return report_;
}

namespace {

// Feeds the parser from `read` and the queue from the parser.
DecodeReport decodeWith(AudioFileType hint, const DecodeOptions& options,
                        const std::function<bool(Probe&, std::string&)>& read) {
    QueueFeeder feeder(options);
    std::string error;
    ParserError parseStatus = ParserError::None;
    {
        Probe probe(hint, &feeder);
        const bool ok = read(probe, error);
        parseStatus = probe.result().status;
        if (!ok) {
            feeder.finish();
            DecodeReport report;
            report.error = error;
            return report;
        }
    }
    DecodeReport report = feeder.finish();
    if (report.ok && parseStatus != ParserError::None) {
        report.ok = false;
        report.error = "the parser stopped with " + statusText(parseStatus);
    }
    return report;
}

}  // namespace

DecodeReport decodeFile(const std::string& path, AudioFileType hint, const DecodeOptions& options,
                        std::size_t chunkSize) {
    return decodeWith(hint, options, [&](Probe& probe, std::string& error) {
        return probeFile(path, probe, error, chunkSize);
    });
}

DecodeReport decodeUrl(const std::string& url, AudioFileType hint, const DecodeOptions& options,
                       double timeoutSeconds, bool* timedOut) {
    bool cut = false;
    std::uint64_t bodyBytes = 0;
    DecodeReport report = decodeWith(hint, options, [&](Probe& probe, std::string& error) {
        return probeUrl(url, probe, error, timeoutSeconds, &cut, &bodyBytes);
    });
    if (timedOut != nullptr) {
        *timedOut = cut;
    }
    if (cut && bodyBytes == 0) {
        // Silence from the server, not audio the parser refused.
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", timeoutSeconds);
        report.ok = false;
        report.error = std::string("no data came from the server in ") + seconds + " s";
    }
    return report;
}

}  // namespace orvento::probe
