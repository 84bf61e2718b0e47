// The output queue: created when the parser knows the stream's format; its
// running state drives the published play state.
#include <algorithm>
#include <optional>
#include <vector>

#include "engine/Pelorin.h"

namespace orvento {

void Pelorin::handleStreamProperty(StreamProperty property) {
    if (property != StreamProperty::ReadyToProducePackets) {
        return;
    }
    discontinuous_ = true;
    tellTapFormat();
    createQueue();
}

void Pelorin::createQueue() {
    if (audioQueue_.load() != nullptr) {
        // A parser that announced readiness twice: the queue and its buffers
        // already exist and may hold audio; a second set would leak the first.
        return;
    }
    const ParserResult<AudioStreamBasicDescription> dataFormat = audioFileStream_->dataFormat();
    if (!dataFormat) {
        logStatusError("get kAudioFileStreamProperty_DataFormat",
                       static_cast<OSStatus>(dataFormat.error()));
        failStep("get kAudioFileStreamProperty_DataFormat");
        return;
    }
    AudioStreamBasicDescription format = *dataFormat;
    ring_.setFormat(format);
    if (liveEdge_) {
        liveEdge_->formatKnown(format);
    }

    AudioQueueRef queue = nullptr;
    if (OSStatus status = platform_->AudioQueueNewOutput(&format, &Pelorin::handleBufferComplete,
                                                         this, nullptr, nullptr, 0, &queue);
        status != noErr) {
        logStatusError("AudioQueueNewOutput", status);
        failStep("AudioQueueNewOutput");
        return;
    }
    audioQueue_.store(queue);

    if (OSStatus status = platform_->AudioQueueAddPropertyListener(
            queue, kAudioQueueProperty_IsRunning, &Pelorin::handleRunningChange, this);
        status != noErr) {
        logStatusError("AudioQueueAddPropertyListener", status);
        failStep("AudioQueueAddPropertyListener", platform_->AudioQueueErrorText(queue));
        return;
    }

    for (AudioQueueBufferRef& buffer : ring_.buffers()) {
        if (OSStatus status = platform_->AudioQueueAllocateBuffer(queue, kBufferSize, &buffer);
            status != noErr) {
            logStatusError("AudioQueueAllocateBuffer", status);
            buffer = nullptr;
            failStep("AudioQueueAllocateBuffer", platform_->AudioQueueErrorText(queue));
            break;
        }
    }

    passMagicCookie();
}

std::optional<std::vector<std::uint8_t>> Pelorin::magicCookie(bool logFailures) {
    const ParserResult<std::span<const std::uint8_t>> cookie = audioFileStream_->magicCookie();
    if (!cookie) {
        // A format without a cookie says so with ValueUnknown: that is the
        // "info" step's line, which every such stream logs; any other error
        // is a cookie that could not be read.
        if (logFailures) {
            logStatusError(cookie.error() == ParserError::ValueUnknown
                               ? "info kAudioFileStreamProperty_MagicCookieData"
                               : "get kAudioFileStreamProperty_MagicCookieData",
                           static_cast<OSStatus>(cookie.error()));
        }
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(cookie->begin(), cookie->end());
}

void Pelorin::passMagicCookie() {
    const std::optional<std::vector<std::uint8_t>> cookie = magicCookie(true);
    if (!cookie) {
        return;
    }
    if (OSStatus status = platform_->AudioQueueSetProperty(
            audioQueue_.load(), kAudioQueueProperty_MagicCookie, cookie->data(),
            static_cast<std::uint32_t>(cookie->size()));
        status != noErr) {
        logStatusError("set kAudioQueueProperty_MagicCookie", status);
    }
}

// The tap hears of the format before the queue is made, so that it keeps
// the stream's packets even when no queue can play them.
void Pelorin::tellTapFormat() {
    if (!tap_ || tapFormatTold_) {
        return;
    }
    const ParserResult<AudioStreamBasicDescription> format = audioFileStream_->dataFormat();
    if (!format) {
        return;
    }
    // The queue's set-up reports a cookie that cannot be read; here it is
    // only absent.
    const std::vector<std::uint8_t> cookie =
        magicCookie(false).value_or(std::vector<std::uint8_t>{});
    tap_->formatKnown(*format, cookie);
    tapFormatTold_ = true;
}

void Pelorin::handleRunningChange(void* userData, AudioQueueRef /*queue*/,
                                  AudioQueuePropertyID /*id*/) {
    auto* self = static_cast<Pelorin*>(userData);
    // The reports alternate, starting with "running". The published play
    // state cannot tell them apart: a stop that came before the first report
    // has that report say true and at once false again.
    if (self->runningReports_.fetch_add(1) % 2 == 1) {
        // The queue has stopped.
        self->finished_.store(true);
        // A worker waiting for a buffer that a stopped queue will not give
        // back must not wait on.
        self->ring_.wake();
        // Told false already when a stop came before the queue reported
        // running; otherwise this report tells it.
        if (self->isPlaying_.load()) {
            self->setIsPlaying(false);
        }
        // The worker tears down now; it waits for this callback to return
        // before the queue is gone, and with it the object.
        self->wakeWorker();
    } else {
        // The queue has started.
        self->setIsPlaying(true);
        if (self->finished_.load()) {
            self->setIsPlaying(false);
        }
    }
}

}  // namespace orvento
