#include "tools/probe/Decode.h"

#include <cstdint>
#include <cstdio>

namespace orvento::probe {

QueueFeeder::QueueFeeder(DecodeOptions options) : options_(std::move(options)) {}

// The queue goes first, with its thread, while the ring it calls back lives.
QueueFeeder::~QueueFeeder() {
    queue_.reset();
}

void QueueFeeder::bufferComplete(OutputQueue::Buffer& buffer) {
    ring_.bufferCompleted(buffer);
}

void QueueFeeder::runningChanged(bool running) {
    if (!running) {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        stoppedChanged_.notify_all();
    }
}

void QueueFeeder::fail(std::string reason) {
    if (!failed_) {
        failed_ = true;
        report_.error = std::move(reason);
    }
}

void QueueFeeder::fail(const char* call, QueueError error) {
    if (!failed_) {
        report_.queueError = error;
        std::string reason =
            std::string(call) + " failed with " + statusText(static_cast<StatusCode>(error));
        if (queue_ != nullptr && !queue_->errorText().empty()) {
            reason += ": " + queue_->errorText();
        }
        fail(std::move(reason));
    }
}

void QueueFeeder::onReady(const ProbeResult& result) {
    OutputQueueCreation created = makeOutputQueue(result.format, options_.output, *this);
    if (created.error != QueueError::None) {
        return fail("AudioQueueNewOutput", created.error);
    }
    queue_ = std::move(created.queue);
    if (options_.stage) {
        queue_->setStage(options_.stage);
    }
    ring_.setFormat(result.format);
    for (OutputQueue::Buffer*& buffer : ring_.buffers()) {
        const OutputQueue::Allocation allocation = queue_->allocateBuffer(kBufferSize);
        if (allocation.error != QueueError::None) {
            return fail("AudioQueueAllocateBuffer", allocation.error);
        }
        buffer = allocation.buffer;
    }
    if (result.hasCookie) {
        if (const QueueError error = queue_->setMagicCookie(result.cookie);
            error != QueueError::None) {
            return fail("AudioQueueSetProperty", error);
        }
    }
}

QueueError QueueFeeder::enqueueBuffer(OutputQueue::Buffer& buffer,
                                      std::span<const PacketDescription> descriptions) {
    if (options_.onPacket) {
        const std::span<std::byte> bytes = std::as_writable_bytes(buffer.bytes());
        if (descriptions.empty()) {
            options_.onPacket(bytes.first(buffer.byteSize()), packetIndex_++);
        }
        for (const PacketDescription& d : descriptions) {
            options_.onPacket(bytes.subspan(static_cast<std::size_t>(d.startOffset), d.byteSize),
                              packetIndex_++);
        }
    }
    const QueueError error = queue_->enqueue(buffer, descriptions);
    if (error != QueueError::None) {
        fail("AudioQueueEnqueueBuffer", error);
    } else {
        ++report_.buffersEnqueued;
    }
    return error;
}

bool QueueFeeder::startQueue() {
    const QueueError error = queue_->start();
    if (error != QueueError::None) {
        fail("AudioQueueStart", error);
    }
    return error == QueueError::None;
}

void QueueFeeder::onPackets(std::span<const std::byte> bytes,
                            std::span<const PacketDescription> descriptions) {
    if (!failed_ && queue_ != nullptr) {
        ring_.deliver(bytes, descriptions);
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
            QueueError error = queue_->flush();
            if (error == QueueError::None) {
                error = queue_->stop(false);
            }
            if (error != QueueError::None) {
                fail("AudioQueueStop", error);
            } else {
                std::unique_lock lock(mutex_);
                stoppedChanged_.wait(lock, [&] { return stopped_; });
            }
        }
    }
    if (queue_ != nullptr) {
        report_.framesPlayed = queue_->currentTime().framesPlayed;
        report_.queueErrorText = queue_->errorText();
        queue_.reset();
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
