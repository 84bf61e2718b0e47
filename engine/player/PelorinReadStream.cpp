// The HTTP stream's events: moving the response body into the parser, and
// turning the end of the body into the orderly end of playback.
#include <array>
#include <optional>
#include <span>
#include <string>

#include "engine/player/Pelorin.h"

namespace orvento {

void Pelorin::onStreamEvent(HttpStream& stream, HttpStream::Event event) {
    handleReadStreamEvent(stream, event);
}

void Pelorin::handleReadStreamEvent(HttpStream& stream, HttpStream::Event event) {
    // The stream is held while its event runs, so its words can be read even
    // when a stop on another thread releases it meanwhile.
    switch (event) {
        case HttpStream::Event::bytesAvailable:
            handleBytesAvailable(stream);
            break;
        case HttpStream::Event::error: {
            // The stream stays open: the failure path closes it through stop().
            std::string why = stream.errorText();
            fail(why.empty() ? "the stream reported an error" : std::move(why));
            break;
        }
        case HttpStream::Event::end:
            handleEndEncountered();
            break;
    }
}

void Pelorin::handleBytesAvailable(HttpStream& stream) {
    if (failed_.load() || finished_.load()) {
        return;
    }
    // One read per event: the stream reports the event again while bytes remain.
    std::array<std::uint8_t, kReadChunkSize> chunk;
    const std::optional<std::size_t> read = stream.read(std::as_writable_bytes(std::span(chunk)));
    if (!read) {
        std::string why = stream.errorText();
        fail(why.empty() ? "the stream could not be read" : std::move(why));
        return;
    }
    const std::size_t n = read.value_or(0);
    if (n < 1) {
        return;
    }
    arrival_ = std::chrono::steady_clock::now();
    if (bytesReceived_.load() == 0) {
        declaredLength_ = stream.declaredLength();
    }
    bytesReceived_.fetch_add(static_cast<std::uint64_t>(n));
    // While the parser's packets go into the ring, most of a burst may wait
    // in this chunk: the catch-up counts it (tellUpstream) at each hand-over.
    chunkBytes_ = n;
    chunkParsed_ = 0;
    chunkMark_ = ring_.bytesTaken();
    streamBytes_ = stream.bufferedBytes();
    const Continuity continuity =
        discontinuous_ ? Continuity::Discontinuous : Continuity::Continuous;
    if (const ParserError error = audioFileStream_->feed(
            std::as_bytes(std::span(chunk.data(), static_cast<std::size_t>(n))), continuity);
        error != ParserError::None) {
        logStatusError("AudioFileStreamParseBytes", static_cast<StatusCode>(error));
        if (error == ParserError::UnsupportedFileType) {
            fail(std::string(kNotAnAudioStreamReason));
        } else if (error == ParserError::NotOptimized) {
            fail(std::string(kUnstreamableMp4Reason));
        } else {
            failStep("AudioFileStreamParseBytes");
        }
    }
    chunkBytes_ = 0;
    tellUpstream();
}

void Pelorin::tellUpstream() {
    if (!catchingUp_.load()) {
        return;
    }
    const std::uint64_t taken = ring_.bytesTaken() - chunkMark_;
    const std::size_t chunkLeft = chunkBytes_ > taken ? chunkBytes_ - taken : 0;
    catchUp_->setUpstreamSeconds(ring_.secondsWaiting(streamBytes_ + chunkLeft));
}

void Pelorin::handleEndEncountered() {
    if (failed_.load() || finished_.load()) {
        return;
    }
    // Told before the queue can report that it stopped. A stream without a
    // declared length has no whole: its end is a drop.
    wholeStreamCame_.store(declaredLength_ && bytesReceived_.load() == *declaredLength_);
    if (resumeMatcher_) {
        // A connection that ends while its opening is still held back.
        const std::unique_ptr<ResumeMatcher> held = std::move(resumeMatcher_);
        held->finish(std::chrono::steady_clock::now());
        if (!held->descriptions().empty()) {
            chunkMark_ = ring_.bytesTaken();
            chunkBytes_ = held->bytes().size();
            chunkParsed_ = chunkBytes_;
            playPackets(held->bytes(), held->descriptions());
        }
        if (failed_.load()) {
            return;
        }
    }
    if (ring_.holdsAudio()) {
        ring_.enqueueFillBuffer();
        if (failed_.load()) {
            return;
        }
    }
    if (!ring_.started()) {
        if (ring_.buffersHandedOver() == 0) {
            // No audio ever reached the queue: nothing will play.
            fail(audioQueue_.load() == nullptr ? std::string(kNotAnAudioStreamReason)
                                               : "the stream ended before any audio");
            return;
        }
        // A stream shorter than the lead starts now. No start: a stop came
        // first, or the start failed.
        if (!ring_.startQueue()) {
            return;
        }
    }
    {
        // Apart from a stop, which either comes first and has stopped the
        // queue, or comes later and cuts the play-out short.
        std::lock_guard lock(mutex2_);
        if (finished_.load()) {
            return;
        }
        // A queue that is not told to play out and stop would leave the player
        // "playing" for good while nothing plays: each refusal is a failure.
        OutputQueue* queue = audioQueue_.load();
        if (QueueError error = queue->flush(); error != QueueError::None) {
            logStatusError("AudioQueueFlush", static_cast<StatusCode>(error));
            failStep("AudioQueueFlush", queue->errorText());
            return;
        }
        if (QueueError error = queue->stop(false); error != QueueError::None) {
            logStatusError("AudioQueueStop", static_cast<StatusCode>(error));
            failStep("AudioQueueStop", queue->errorText());
            return;
        }
    }
    closeStream();
    if (!wholeStreamCame_.load()) {
        notifyObservers(&PelorinObserver::playingOut);
    }
}

}  // namespace orvento
