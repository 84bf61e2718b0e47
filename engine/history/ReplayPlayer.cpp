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

void ReplayPlayer::bufferDone(void* /*self*/, AudioQueueRef /*queue*/,
                              AudioQueueBufferRef /*buffer*/) {
    // The buffers stay with the queue until it is disposed of.
}

void ReplayPlayer::runningChanged(void* self, AudioQueueRef /*queue*/,
                                  AudioQueuePropertyID /*id*/) {
    auto* player = static_cast<ReplayPlayer*>(self);
    if (player->reports_.fetch_add(1) % 2 == 1 && player->playing_.exchange(false)) {
        player->onEnded_();
    }
}

bool ReplayPlayer::play(const StationHistory::Excerpt& excerpt, std::string& error) {
    close();
    error.clear();
    if (excerpt.bytes.empty()) {
        return false;
    }
    reports_.store(0);
    if (OSStatus status = AudioQueueNewOutputTo(output_, &excerpt.format, &ReplayPlayer::bufferDone,
                                                this, nullptr, nullptr, 0, &queue_);
        status != noErr) {
        queue_ = nullptr;
        error = "the replay's format cannot be played";
        return false;
    }
    AudioQueueAddPropertyListener(queue_, kAudioQueueProperty_IsRunning,
                                  &ReplayPlayer::runningChanged, this);
    if (!excerpt.cookie.empty()) {
        AudioQueueSetProperty(queue_, kAudioQueueProperty_MagicCookie, excerpt.cookie.data(),
                              static_cast<std::uint32_t>(excerpt.cookie.size()));
    }
    playing_.store(true);
    if (!enqueue(excerpt, error) || AudioQueueStart(queue_, nullptr) != noErr) {
        if (error.empty()) {
            error = AudioQueueErrorText(queue_);
        }
        playing_.store(false);
        AudioQueueDispose(queue_, true);
        queue_ = nullptr;
        return false;
    }
    // Plays what it holds to the end, then reports that it stopped.
    AudioQueueFlush(queue_);
    AudioQueueStop(queue_, false);
    return true;
}

// The whole excerpt goes into buffers at once: a replay is short, and the
// queue then needs nothing more from this side.
bool ReplayPlayer::enqueue(const StationHistory::Excerpt& excerpt, std::string& error) {
    const auto& descriptions = excerpt.descriptions;
    std::vector<AudioStreamPacketDescription> inBuffer;
    std::size_t next = 0;  // the next packet (or, for linear PCM, byte)
    while (descriptions.empty() ? next < excerpt.bytes.size() : next < descriptions.size()) {
        AudioQueueBufferRef buffer = nullptr;
        if (AudioQueueAllocateBuffer(queue_, kReplayBufferSize, &buffer) != noErr) {
            error = "no memory for the replay";
            return false;
        }
        auto* into = static_cast<std::uint8_t*>(buffer->mAudioData);
        std::uint32_t filled = 0;
        inBuffer.clear();
        if (descriptions.empty()) {
            const std::size_t frame = std::max<std::size_t>(excerpt.format.mBytesPerFrame, 1);
            const std::size_t n =
                std::min(excerpt.bytes.size() - next, kReplayBufferSize / frame * frame);
            std::memcpy(into, excerpt.bytes.data() + next, n);
            filled = static_cast<std::uint32_t>(n);
            next += n;
        } else {
            while (next < descriptions.size() && inBuffer.size() < kReplayDescriptions &&
                   filled + descriptions[next].mDataByteSize <= kReplayBufferSize) {
                AudioStreamPacketDescription packet = descriptions[next++];
                std::memcpy(into + filled,
                            excerpt.bytes.data() + static_cast<std::size_t>(packet.mStartOffset),
                            packet.mDataByteSize);
                packet.mStartOffset = filled;
                filled += packet.mDataByteSize;
                inBuffer.push_back(packet);
            }
            if (inBuffer.empty()) {
                ++next;  // a packet larger than any buffer: skipped
            }
        }
        buffer->mAudioDataByteSize = filled;
        if (AudioQueueEnqueueBuffer(queue_, buffer, static_cast<std::uint32_t>(inBuffer.size()),
                                    inBuffer.empty() ? nullptr : inBuffer.data()) != noErr) {
            error = AudioQueueErrorText(queue_);
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
    AudioQueueDispose(queue_, true);
    queue_ = nullptr;
    // The disposal's stop may have reported the end already.
    if (playing_.exchange(false)) {
        onEnded_();
    }
}

}  // namespace orvento
