// The output queue: created when the parser knows the stream's format; its
// running state drives the published play state.
#include <algorithm>
#include <optional>
#include <vector>

#include "engine/player/Pelorin.h"

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
    const ParserResult<AudioFormat> dataFormat = audioFileStream_->dataFormat();
    if (!dataFormat) {
        logStatusError("get kAudioFileStreamProperty_DataFormat",
                       static_cast<StatusCode>(dataFormat.error()));
        failStep("get kAudioFileStreamProperty_DataFormat");
        return;
    }
    AudioFormat format = *dataFormat;
    ring_.setFormat(format);
    if (liveEdge_) {
        liveEdge_->formatKnown(format);
    }

    OutputQueueCreation created = platform_->makeOutputQueue(format, *this);
    if (created.error != QueueError::None) {
        logStatusError("AudioQueueNewOutput", static_cast<StatusCode>(created.error));
        failStep("AudioQueueNewOutput");
        return;
    }
    ownedQueue_ = std::move(created.queue);
    OutputQueue* queue = ownedQueue_.get();
    audioQueue_.store(queue);
    // A recording (its length declared) is not live: all of it plays.
    if (catchUp_ && !declaredLength_) {
        queue->setStage(catchUp_);
        catchingUp_.store(true);
    }
    format_ = format;
    if (resume_ && !declaredLength_) {
        resumeMatcher_ = resume_->resumeIn(format);
    }

    for (OutputQueue::Buffer*& buffer : ring_.buffers()) {
        const OutputQueue::Allocation allocation = queue->allocateBuffer(kBufferSize);
        if (allocation.error != QueueError::None) {
            logStatusError("AudioQueueAllocateBuffer", static_cast<StatusCode>(allocation.error));
            buffer = nullptr;
            failStep("AudioQueueAllocateBuffer", queue->errorText());
            break;
        }
        buffer = allocation.buffer;
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
                           static_cast<StatusCode>(cookie.error()));
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
    if (QueueError error = audioQueue_.load()->setMagicCookie(*cookie); error != QueueError::None) {
        logStatusError("set kAudioQueueProperty_MagicCookie", static_cast<StatusCode>(error));
    }
}

// The tap hears of the format before the queue is made, so that it keeps
// the stream's packets even when no queue can play them.
void Pelorin::tellTapFormat() {
    if (!tap_ || tapFormatTold_) {
        return;
    }
    const ParserResult<AudioFormat> format = audioFileStream_->dataFormat();
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
