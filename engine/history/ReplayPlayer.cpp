#include "engine/history/ReplayPlayer.h"

#include <algorithm>
#include <cstring>

namespace orvento {

namespace {
constexpr std::uint32_t kReplayBufferSize = 32768;
constexpr std::size_t kReplayDescriptions = 512;
}  // namespace

ReplayPlayer::ReplayPlayer(AudioOutputChoice output, std::function<void()> onEnded)
    : output_(std::move(output)), onEnded_(std::move(onEnded)) {}

ReplayPlayer::~ReplayPlayer() {
    close();
}

void ReplayPlayer::bufferComplete(OutputQueue::Buffer& /*buffer*/) {
    // The buffers stay with the queue until it goes.
}

void ReplayPlayer::runningChanged(bool /*running*/) {
    if (reports_.fetch_add(1) % 2 == 1 && playing_.exchange(false)) {
        onEnded_();
    }
}

bool ReplayPlayer::play(const StationHistory::Excerpt& excerpt, std::string& error) {
    close();
    error.clear();
    if (excerpt.bytes.empty()) {
        return false;
    }
    reports_.store(0);
    OutputQueueCreation created = makeOutputQueue(excerpt.format, output_, *this);
    if (created.error != QueueError::None) {
        error = "the replay's format cannot be played";
        return false;
    }
    queue_ = std::move(created.queue);
    if (!excerpt.cookie.empty()) {
        (void)queue_->setMagicCookie(excerpt.cookie);
    }
    playing_.store(true);
    if (!enqueue(excerpt, error) || queue_->start() != QueueError::None) {
        if (error.empty()) {
            error = queue_->errorText();
        }
        playing_.store(false);
        queue_.reset();
        return false;
    }
    // Plays what it holds to the end, then reports that it stopped.
    (void)queue_->flush();
    (void)queue_->stop(false);
    return true;
}

// The whole excerpt goes into buffers at once: a replay is short, and the
// queue then needs nothing more from this side.
bool ReplayPlayer::enqueue(const StationHistory::Excerpt& excerpt, std::string& error) {
    const auto& descriptions = excerpt.descriptions;
    std::vector<PacketDescription> inBuffer;
    std::size_t next = 0;  // the next packet (or, for linear PCM, byte)
    while (descriptions.empty() ? next < excerpt.bytes.size() : next < descriptions.size()) {
        OutputQueue::Buffer* buffer = queue_->allocateBuffer(kReplayBufferSize).buffer;
        if (buffer == nullptr) {
            error = "no memory for the replay";
            return false;
        }
        std::uint8_t* into = buffer->bytes().data();
        std::uint32_t filled = 0;
        inBuffer.clear();
        if (descriptions.empty()) {
            const std::size_t frame = std::max<std::size_t>(excerpt.format.bytesPerFrame, 1);
            const std::size_t n =
                std::min(excerpt.bytes.size() - next, kReplayBufferSize / frame * frame);
            std::memcpy(into, excerpt.bytes.data() + next, n);
            filled = static_cast<std::uint32_t>(n);
            next += n;
        } else {
            while (next < descriptions.size() && inBuffer.size() < kReplayDescriptions &&
                   filled + descriptions[next].byteSize <= kReplayBufferSize) {
                PacketDescription packet = descriptions[next++];
                std::memcpy(into + filled,
                            excerpt.bytes.data() + static_cast<std::size_t>(packet.startOffset),
                            packet.byteSize);
                packet.startOffset = filled;
                filled += packet.byteSize;
                inBuffer.push_back(packet);
            }
            if (inBuffer.empty()) {
                ++next;  // a packet larger than any buffer: skipped
            }
        }
        buffer->setByteSize(filled);
        if (queue_->enqueue(*buffer, inBuffer) != QueueError::None) {
            error = queue_->errorText();
            return false;
        }
    }
    return true;
}

void ReplayPlayer::stop() {
    close();
}

void ReplayPlayer::close() {
    if (queue_ == nullptr) {
        return;
    }
    queue_.reset();
    // The disposal's stop may have reported the end already.
    if (playing_.exchange(false)) {
        onEnded_();
    }
}

}  // namespace orvento
