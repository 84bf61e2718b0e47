// The HTTP stream's events: moving the response body into the parser, and
// turning the end of the body into the orderly end of playback.
#include <array>

#include "engine/Pelorin.h"
#include "engine/StatusErrorLog.h"

namespace orvento {

void Pelorin::handleReadStreamEvent(CFReadStreamRef stream, CFStreamEventType type, void* info) {
    auto* self = static_cast<Pelorin*>(info);
    switch (type) {
        case kCFStreamEventHasBytesAvailable:
            self->handleBytesAvailable(stream);
            break;
        case kCFStreamEventErrorOccurred:
            // The stream stays open: the failure path closes it through stop().
            self->failed_.store(true);
            break;
        case kCFStreamEventEndEncountered:
            self->handleEndEncountered();
            break;
        default:
            break;
    }
}

void Pelorin::handleBytesAvailable(CFReadStreamRef stream) {
    if (failed_.load() || finished_.load()) {
        return;
    }
    // One read per event: the stream reports the event again while bytes remain.
    std::array<UInt8, kReadChunkSize> chunk;
    const CFIndex n = platform_->CFReadStreamRead(stream, chunk.data(), kReadChunkSize);
    if (n == -1) {
        failed_.store(true);
        return;
    }
    if (n < 1) {
        return;
    }
    const AudioFileStreamParseFlags flags =
        discontinuous_ ? kAudioFileStreamParseFlag_Discontinuity : 0;
    if (OSStatus status = platform_->AudioFileStreamParseBytes(
            audioFileStream_, static_cast<UInt32>(n), chunk.data(), flags);
        status != noErr) {
        logStatusError("AudioFileStreamParseBytes", status);
        failed_.store(true);
    }
}

void Pelorin::handleEndEncountered() {
    if (failed_.load() || finished_.load()) {
        return;
    }
    if (bytesFilled_ != 0) {
        enqueueFillBuffer();
    }
    if (!started_.load()) {
        // No audio ever reached the queue: nothing will play.
        failed_.store(true);
        return;
    }
    AudioQueueRef queue = audioQueue_.load();
    if (OSStatus status = platform_->AudioQueueFlush(queue); status != noErr) {
        logStatusError("AudioQueueFlush", status);
        return;
    }
    if (OSStatus status = platform_->AudioQueueStop(queue, false); status != noErr) {
        logStatusError("AudioQueueStop", status);
        return;
    }
    closeStream();
}

}  // namespace orvento
