// The output queue: created when the parser knows the stream's format; its
// running state drives the published play state.
#include <algorithm>
#include <optional>
#include <vector>

#include "engine/Pelorin.h"

namespace orvento {

void Pelorin::handleStreamProperty(void* clientData, AudioFileStreamID stream,
                                   AudioFileStreamPropertyID id,
                                   AudioFileStreamPropertyFlags* /*ioFlags*/) {
    if (id != kAudioFileStreamProperty_ReadyToProducePackets) {
        return;
    }
    auto* self = static_cast<Pelorin*>(clientData);
    self->discontinuous_ = true;
    self->tellTapFormat(stream);
    self->createQueue(stream);
}

void Pelorin::createQueue(AudioFileStreamID stream) {
    if (audioQueue_.load() != nullptr) {
        // A parser that announced readiness twice: the queue and its buffers
        // already exist and may hold audio; a second set would leak the first.
        return;
    }
    AudioStreamBasicDescription format{};
    std::uint32_t size = sizeof format;
    if (OSStatus status = platform_->AudioFileStreamGetProperty(
            stream, kAudioFileStreamProperty_DataFormat, &size, &format);
        status != noErr) {
        logStatusError("get kAudioFileStreamProperty_DataFormat", status);
        failStep("get kAudioFileStreamProperty_DataFormat");
        return;
    }
    ring_.setFormat(format);
    if (liveEdge_) {
        liveEdge_->formatKnown(format);
    }

    OutputQueueCreation created = platform_->makeOutputQueue(format, *this);
    if (created.error != QueueError::None) {
        logStatusError("AudioQueueNewOutput", static_cast<OSStatus>(created.error));
        failStep("AudioQueueNewOutput");
        return;
    }
    ownedQueue_ = std::move(created.queue);
    OutputQueue* queue = ownedQueue_.get();
    audioQueue_.store(queue);

    for (OutputQueue::Buffer*& buffer : ring_.buffers()) {
        const OutputQueue::Allocation allocation = queue->allocateBuffer(kBufferSize);
        if (allocation.error != QueueError::None) {
            logStatusError("AudioQueueAllocateBuffer", static_cast<OSStatus>(allocation.error));
            buffer = nullptr;
            failStep("AudioQueueAllocateBuffer", queue->errorText());
            break;
        }
        buffer = allocation.buffer;
    }

    passMagicCookie(stream);
}

std::optional<std::vector<std::uint8_t>> Pelorin::magicCookie(AudioFileStreamID stream,
                                                              bool logFailures) {
    std::uint32_t cookieSize = 0;
    bool writable = false;
    if (OSStatus status = platform_->AudioFileStreamGetPropertyInfo(
            stream, kAudioFileStreamProperty_MagicCookieData, &cookieSize, &writable);
        status != noErr) {
        if (logFailures) {
            logStatusError("info kAudioFileStreamProperty_MagicCookieData", status);
        }
        return std::nullopt;
    }
    std::vector<std::uint8_t> cookie(cookieSize, 0);
    if (OSStatus status = platform_->AudioFileStreamGetProperty(
            stream, kAudioFileStreamProperty_MagicCookieData, &cookieSize, cookie.data());
        status != noErr) {
        if (logFailures) {
            logStatusError("get kAudioFileStreamProperty_MagicCookieData", status);
        }
        return std::nullopt;
    }
    // The parser may report fewer bytes than it announced.
    cookie.resize(std::min<std::size_t>(cookieSize, cookie.size()));
    return cookie;
}

void Pelorin::passMagicCookie(AudioFileStreamID stream) {
    const std::optional<std::vector<std::uint8_t>> cookie = magicCookie(stream, true);
    if (!cookie) {
        return;
    }
    if (QueueError error = audioQueue_.load()->setMagicCookie(*cookie); error != QueueError::None) {
        logStatusError("set kAudioQueueProperty_MagicCookie", static_cast<OSStatus>(error));
    }
}

// The tap hears of the format before the queue is made, so that it keeps
// the stream's packets even when no queue can play them.
void Pelorin::tellTapFormat(AudioFileStreamID stream) {
    if (!tap_ || tapFormatTold_) {
        return;
    }
    AudioStreamBasicDescription format{};
    std::uint32_t size = sizeof format;
    if (platform_->AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_DataFormat, &size,
                                              &format) != noErr) {
        return;
    }
    // The queue's set-up reports a cookie that cannot be read; here it is
    // only absent.
    const std::vector<std::uint8_t> cookie =
        magicCookie(stream, false).value_or(std::vector<std::uint8_t>{});
    tap_->formatKnown(format, cookie);
    tapFormatTold_ = true;
}

void Pelorin::runningChanged(bool /*running*/) {
    handleRunningChange();
}

void Pelorin::handleRunningChange() {
    // The reports alternate, starting with "running". The published play
    // state cannot tell them apart: a stop that came before the first report
    // has that report say true and at once false again.
    if (runningReports_.fetch_add(1) % 2 == 1) {
        // The queue has stopped.
        finished_.store(true);
        // A worker waiting for a buffer that a stopped queue will not give
        // back must not wait on.
        ring_.wake();
        // Told false already when a stop came before the queue reported
        // running; otherwise this report tells it.
        if (isPlaying_.load()) {
            setIsPlaying(false);
        }
        // The worker tears down now; it waits for this callback to return
        // before the queue is gone, and with it the object.
        wakeWorker();
    } else {
        // The queue has started.
        setIsPlaying(true);
        if (finished_.load()) {
            setIsPlaying(false);
        }
    }
}

}  // namespace orvento
