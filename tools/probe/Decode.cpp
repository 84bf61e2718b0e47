#include "tools/probe/Decode.h"

#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace orvento::probe {
namespace {

constexpr std::size_t kBufferCount = 6;
constexpr UInt32 kBufferSize = 32768;
constexpr std::size_t kDescriptionCapacity = 512;

}  // namespace

struct QueueFeeder::Shared {
    // The feeding thread only.
    AudioQueueRef queue = nullptr;
    std::array<AudioQueueBufferRef, kBufferCount> buffers{};
    std::array<AudioStreamPacketDescription, kDescriptionCapacity> descriptions{};
    std::size_t fill = 0;
    UInt32 bytesFilled = 0;
    std::size_t packetsFilled = 0;
    UInt64 packetIndex = 0;
    bool started = false;
    bool failed = false;
    DecodeReport report;

    // Shared with the queue's callbacks.
    std::mutex mutex;
    std::condition_variable changed;
    std::array<bool, kBufferCount> inUse{};  // guarded by mutex
    bool stopped = false;                    // guarded by mutex

    static void bufferDone(void* self, AudioQueueRef, AudioQueueBufferRef buffer) {
        auto& shared = *static_cast<Shared*>(self);
        {
            std::lock_guard lock(shared.mutex);
            for (std::size_t i = 0; i < kBufferCount; ++i) {
                if (shared.buffers[i] == buffer) {
                    shared.inUse[i] = false;
                }
            }
        }
        shared.changed.notify_all();
    }
    static void runningChanged(void* self, AudioQueueRef queue, AudioQueuePropertyID) {
        auto& shared = *static_cast<Shared*>(self);
        UInt32 running = 1;
        UInt32 size = sizeof running;
        AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size);
        if (running == 0) {
            {
                std::lock_guard lock(shared.mutex);
                shared.stopped = true;
            }
            shared.changed.notify_all();
        }
    }
};

QueueFeeder::QueueFeeder(DecodeOptions options)
    : options_(std::move(options)), shared_(std::make_unique<Shared>()) {}

QueueFeeder::~QueueFeeder() {
    if (shared_->queue != nullptr) {
        AudioQueueDispose(shared_->queue, true);
    }
}

void QueueFeeder::fail(const char* call, OSStatus status) {
    Shared& s = *shared_;
    if (!s.failed) {
        s.failed = true;
        s.report.queueStatus = status;
        s.report.error = std::string(call) + " failed with " + statusText(status);
        if (s.queue != nullptr && !AudioQueueErrorText(s.queue).empty()) {
            s.report.error += ": " + AudioQueueErrorText(s.queue);
        }
    }
}

void QueueFeeder::onReady(const ProbeResult& result) {
    Shared& s = *shared_;
    OSStatus status = AudioQueueNewOutputTo(options_.output, &result.format, &Shared::bufferDone,
                                            &s, nullptr, nullptr, 0, &s.queue);
    if (status != noErr) {
        s.queue = nullptr;
        return fail("AudioQueueNewOutput", status);
    }
    status = AudioQueueAddPropertyListener(s.queue, kAudioQueueProperty_IsRunning,
                                           &Shared::runningChanged, &s);
    if (status != noErr) {
        return fail("AudioQueueAddPropertyListener", status);
    }
    for (AudioQueueBufferRef& buffer : s.buffers) {
        status = AudioQueueAllocateBuffer(s.queue, kBufferSize, &buffer);
        if (status != noErr) {
            return fail("AudioQueueAllocateBuffer", status);
        }
    }
    if (result.hasCookie) {
        status =
            AudioQueueSetProperty(s.queue, kAudioQueueProperty_MagicCookie, result.cookie.data(),
                                  static_cast<UInt32>(result.cookie.size()));
        if (status != noErr) {
            return fail("AudioQueueSetProperty", status);
        }
    }
}

void QueueFeeder::enqueueFill() {
    Shared& s = *shared_;
    AudioQueueBufferRef buffer = s.buffers[s.fill];
    if (options_.onPacket) {
        auto* bytes = static_cast<std::byte*>(buffer->mAudioData);
        if (s.packetsFilled == 0) {
            options_.onPacket({bytes, s.bytesFilled}, s.packetIndex++);
        }
        for (std::size_t i = 0; i < s.packetsFilled; ++i) {
            const AudioStreamPacketDescription& d = s.descriptions[i];
            options_.onPacket({bytes + d.mStartOffset, d.mDataByteSize}, s.packetIndex++);
        }
    }
    {
        std::lock_guard lock(s.mutex);
        s.inUse[s.fill] = true;
    }
    buffer->mAudioDataByteSize = s.bytesFilled;
    OSStatus status =
        AudioQueueEnqueueBuffer(s.queue, buffer, static_cast<UInt32>(s.packetsFilled),
                                s.packetsFilled > 0 ? s.descriptions.data() : nullptr);
    if (status != noErr) {
        return fail("AudioQueueEnqueueBuffer", status);
    }
    ++s.report.buffersEnqueued;
    if (!s.started) {
        status = AudioQueueStart(s.queue, nullptr);
        if (status != noErr) {
            return fail("AudioQueueStart", status);
        }
        s.started = true;
    }
    s.fill = (s.fill + 1) % kBufferCount;
    s.bytesFilled = 0;
    s.packetsFilled = 0;
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.inUse[s.fill]; });
}

void QueueFeeder::onPackets(UInt32 numberBytes, UInt32 numberPackets, const void* data,
                            const AudioStreamPacketDescription* descriptions) {
    Shared& s = *shared_;
    if (s.failed || s.queue == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const std::byte*>(data);
    if (descriptions == nullptr) {
        // Whole frames, at most one buffer's worth per run.
        if (numberBytes > kBufferSize - s.bytesFilled && s.bytesFilled > 0) {
            enqueueFill();
            if (s.failed) {
                return;
            }
        }
        const UInt32 take = std::min(numberBytes, kBufferSize - s.bytesFilled);
        std::memcpy(static_cast<std::byte*>(s.buffers[s.fill]->mAudioData) + s.bytesFilled, bytes,
                    take);
        s.bytesFilled += take;
        return;
    }
    for (UInt32 i = 0; i < numberPackets && !s.failed; ++i) {
        AudioStreamPacketDescription d = descriptions[i];
        if (d.mDataByteSize > kBufferSize - s.bytesFilled) {
            enqueueFill();
            if (s.failed) {
                return;
            }
        }
        std::memcpy(static_cast<std::byte*>(s.buffers[s.fill]->mAudioData) + s.bytesFilled,
                    bytes + d.mStartOffset, d.mDataByteSize);
        d.mStartOffset = s.bytesFilled;
        s.descriptions[s.packetsFilled++] = d;
        s.bytesFilled += d.mDataByteSize;
        if (s.packetsFilled == kDescriptionCapacity) {
            enqueueFill();
        }
    }
}

DecodeReport QueueFeeder::finish() {
    Shared& s = *shared_;
    if (s.queue == nullptr && !s.failed) {
        s.report.error = "the parser found no playable audio";
    }
    if (s.queue != nullptr && !s.failed) {
        if (s.bytesFilled > 0) {
            enqueueFill();
        }
        if (!s.failed && s.started) {
            OSStatus status = AudioQueueFlush(s.queue);
            if (status == noErr) {
                status = AudioQueueStop(s.queue, false);
            }
            if (status != noErr) {
                fail("AudioQueueStop", status);
            } else {
                std::unique_lock lock(s.mutex);
                s.changed.wait(lock, [&] { return s.stopped; });
            }
        }
    }
    if (s.queue != nullptr) {
        AudioTimeStamp time{};
        AudioQueueGetCurrentTime(s.queue, nullptr, &time, nullptr);
        s.report.framesPlayed = static_cast<UInt64>(time.mSampleTime);
        s.report.queueErrorText = AudioQueueErrorText(s.queue);
        AudioQueueDispose(s.queue, true);
        s.queue = nullptr;
    }
    s.report.ok = s.report.error.empty();
    return s.report;
}

DecodeReport decodeFile(const std::string& path, AudioFileTypeID hint, const DecodeOptions& options,
                        std::size_t chunkSize) {
    QueueFeeder feeder(options);
    std::string error;
    OSStatus parseStatus = noErr;
    {
        Probe probe(hint, &feeder);
        const bool read = probeFile(path, probe, error, chunkSize);
        parseStatus = probe.result().status;
        if (!read) {
            feeder.finish();
            DecodeReport report;
            report.error = error;
            return report;
        }
    }
    DecodeReport report = feeder.finish();
    if (report.ok && parseStatus != noErr) {
        report.ok = false;
        report.error = "the parser stopped with " + statusText(parseStatus);
    }
    return report;
}

}  // namespace orvento::probe
