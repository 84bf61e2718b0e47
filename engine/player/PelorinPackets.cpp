// Packet buffering: the parser's packets go into the ring, whose owner the
// player is: it hands buffers to its queue, starts it, and keeps each copy
// apart from a stop.
#include "engine/player/Pelorin.h"

namespace orvento {

void Pelorin::handleStreamPackets(std::span<const std::byte> bytes,
                                  std::span<const PacketDescription> descriptions) {
    discontinuous_ = false;
    chunkParsed_ += bytes.size();
    if (resumeMatcher_ && !descriptions.empty()) {
        // The opening burst after a drop waits until it is lined up with what
        // was heard; what was heard already is neither played nor kept again.
        if (!resumeMatcher_->take(bytes, descriptions, std::chrono::steady_clock::now())) {
            return;
        }
        const std::unique_ptr<ResumeMatcher> matched = std::move(resumeMatcher_);
        if (!matched->descriptions().empty()) {
            // What earlier reads held back waits upstream of the queue as
            // much as the rest of this read does: the lag counts it.
            const std::size_t earlier =
                matched->bytes().size() > bytes.size() ? matched->bytes().size() - bytes.size() : 0;
            chunkBytes_ += earlier;
            chunkParsed_ += earlier;
            playPackets(matched->bytes(), matched->descriptions());
        }
        return;
    }
    playPackets(bytes, descriptions);
}

void Pelorin::playPackets(std::span<const std::byte> bytes,
                          std::span<const PacketDescription> descriptions) {
    if (tap_ && tapFormatTold_) {
        tap_->packets(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                      descriptions, arrival_);
    }
    if (!firstArrival_) {
        firstArrival_ = arrival_;
        if (liveEdge_ && liveEdgeOpensOnly_) {
            // What was said since the press is owed, however long the
            // connection took.
            liveEdge_->reachBack(std::chrono::duration<double>(arrival_ - startedAt_).count());
        }
    }
    // A recording (its length declared) is not live: all of it plays.
    if (liveEdge_ && !declaredLength_ && !bytes.empty() &&
        (!liveEdgeOpensOnly_ ||
         arrival_ - *firstArrival_ < std::chrono::duration<double>(kOpeningBurstSeconds))) {
        // What is too old to play is left out here, after the tap has seen
        // it: whole packets at the start of the delivery. Newer audio may
        // wait in the rest of the read and in the stream: a burst comes in
        // several deliveries, and only its end is live.
        const std::size_t upstream =
            streamBytes_ + (chunkBytes_ > chunkParsed_ ? chunkBytes_ - chunkParsed_ : 0);
        if (!descriptions.empty()) {
            const std::size_t skip = liveEdge_->packetsToSkip(descriptions, arrival_, upstream);
            if (skip == descriptions.size()) {
                return;
            }
            descriptions = descriptions.subspan(skip);
        } else {
            const std::size_t skip = liveEdge_->bytesToSkip(bytes.size(), arrival_, upstream);
            if (skip == bytes.size()) {
                return;
            }
            bytes = bytes.subspan(skip);
        }
    }
    if (resume_ && !declaredLength_) {
        resume_->heard(format_, bytes, descriptions);
    }
    // Linear PCM comes without descriptions: the ring takes it as one run.
    ring_.deliver(bytes, descriptions);
}

std::optional<double> Pelorin::behindLiveSeconds() const {
    // declaredLength_ is the worker's: whether the stage is in use is told
    // through catchingUp_.
    if (catchingUp_.load()) {
        return catchUp_->behindLiveSeconds();
    }
    if (!liveEdge_) {
        return std::nullopt;
    }
    return liveEdge_->behindLiveSeconds(std::chrono::steady_clock::now());
}

void Pelorin::bufferComplete(OutputQueue::Buffer& buffer) {
    handleBufferComplete(buffer);
}

void Pelorin::handleBufferComplete(OutputQueue::Buffer& buffer) {
    ring_.bufferCompleted(buffer);
}

QueueError Pelorin::enqueueBuffer(OutputQueue::Buffer& buffer,
                                  std::span<const PacketDescription> descs) {
    OutputQueue* queue = audioQueue_.load();
    const QueueError error = queue->enqueue(buffer, descs);
    if (error != QueueError::None) {
        logStatusError("AudioQueueEnqueueBuffer", static_cast<StatusCode>(error));
        failStep("AudioQueueEnqueueBuffer", queue->errorText());
    }
    return error;
}

bool Pelorin::startQueue() {
    if (playAfter_) {
        // Outside mutex2, which a stop takes; the stop wakes this wait.
        playAfter_->waitOpen([this] { return finished_.load(); });
    }
    std::lock_guard lock(mutex2_);
    if (finished_.load()) {
        // A stop came first: it has told its observers that nothing plays.
        return false;
    }
    OutputQueue* queue = audioQueue_.load();
    if (QueueError error = queue->start(); error != QueueError::None) {
        logStatusError("AudioQueueStart", static_cast<StatusCode>(error));
        // Said in words: the code is in the error line, for diagnosis.
        if (error == QueueError::InvalidDevice) {
            fail(std::string(kNoSoundOutputReason));
        } else {
            const std::string why = queue->errorText();
            fail(std::string(kOutputCannotStartReason) + (why.empty() ? "" : ": " + why));
        }
        return false;
    }
    started_.store(true);
    return true;
}

// Each copy holds mutex2 and finds `finished` false: once a stop has set it
// under mutex2, no copy begins.
bool Pelorin::beginCopy() {
    mutex2_.lock();
    if (finished_.load()) {
        mutex2_.unlock();
        return false;
    }
    return true;
}

void Pelorin::endCopy() {
    mutex2_.unlock();
}

}  // namespace orvento
