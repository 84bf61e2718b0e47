// The ring of output-queue buffers that parsed audio packets are copied into,
// and the rules by which they go to the queue. The stream player fills one
// for its stream; the probe's offline decode fills one the same way.
//
// Copying. Packets are copied once, from the parser's delivery straight into
// the buffer being filled (the fill buffer). A packet is never divided between
// buffers: one that does not fit the room left sends the fill buffer to the
// queue first. A delivery without descriptions (constant-bit-rate data) is one
// run of bytes: appended when it fits, otherwise the fill buffer goes first
// and the run starts a fresh buffer; only a run larger than a buffer is
// divided, into whole buffers and a last piece. The descriptions handed over
// with a buffer give each packet's offset inside that buffer. Nothing is
// written past kBufferSize bytes or kPacketDescCapacity descriptions, and no
// buffer that does not exist is touched: a packet larger than a buffer, or
// lying outside its delivery, or audio with no buffer to take it, is a
// failure, and once a failure is known the rest of a delivery is dropped.
//
// Hand-over. The fill buffer goes to the queue when the next packet does not
// fit, when it holds kPacketDescCapacity descriptions, and as soon as it
// holds kHandOverSeconds of audio; an empty fill buffer never goes. The
// queue is started once the audio handed to it reaches kStartLeadSeconds, or
// when the ring is full (no buffer comes back from a queue that does not
// run), or with the first buffer when the format gives no durations; at the
// end of the stream the owner starts it with startQueue(). Buffers are filled
// strictly in ring order, and after each hand-over the filling thread waits
// while the next buffer of the ring is still queued, until the queue gives
// it back or the owner is finished: that wait is the player's flow control.
//
// Threads. One thread fills the ring (setFormat, deliver, enqueueFillBuffer,
// startQueue and the getters); the queue's thread calls bufferCompleted; any
// thread may call wake. The owner's functions are called on the filling
// thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <string>

#include "engine/audio/OutputQueue.h"
#include "engine/base/AudioFormat.h"
#include "engine/base/StatusCode.h"

namespace orvento {

inline constexpr std::size_t kBufferCount = 6;           // queue buffers in the ring
inline constexpr std::uint32_t kBufferSize = 32768;      // bytes per queue buffer
inline constexpr std::size_t kPacketDescCapacity = 512;  // packet descriptions per buffer

// A fill buffer is handed to the queue once it holds this much audio, even
// with room left: at 16 kbit/s a full buffer would hold 16 s. Audio waiting in
// the fill buffer is audio the queue does not have yet, so the step must be
// small beside the lead; a quarter of a second is four hand-overs a second,
// nothing for the queue's thread.
inline constexpr double kHandOverSeconds = 0.25;
// The queue starts once the audio handed to it reaches this lead; the lead is
// what carries playback over a network that delivers late. Measured with a
// 16 kbit/s station whose network holds data back now and then for up to
// 0.5 s (orvento_bench_engine_latency, 3 players for 5 minutes each): a lead
// of 0.5 s gave 12 underruns, 0.75 s none but with nothing to spare (the
// hand-over step and the delay add up to it), 1.0 s none even with delays of
// up to 0.75 s. A stream without a burst then sounds 1.3 s after the start
// (the read stream's batching adds up to a quarter of a second), under the
// 2 s that mpg123 and ffmpeg take. With a server's initial burst the lead is
// there at once and the rest of the burst waits upstream.
inline constexpr double kStartLeadSeconds = 1.0;

class PacketRing {
  public:
    // What the ring needs of its owner.
    class Owner {
      public:
        virtual ~Owner() = default;
        // Hands `buffer` (its byte size set) to the queue with `descriptions`
        // (none for plain bytes). Any error stops the ring there, the buffer
        // still marked queued; the owner has noted the failure.
        virtual QueueError enqueueBuffer(OutputQueue::Buffer& buffer,
                                         std::span<const PacketDescription> descriptions) = 0;
        // Starts the queue; true when it runs. False after a failure the
        // owner noted, or when the owner is finished (a stop came first).
        virtual bool startQueue() = 0;
        // The fill buffer went to the queue; the ring moves on, and may wait.
        virtual void handedOver() {}
        // Each copy into a buffer runs between a beginCopy() that returned
        // true and the endCopy() after it; false: no copy now (finished).
        virtual bool beginCopy() { return true; }
        virtual void endCopy() {}
        // The owner wants no more audio: nothing is copied, nobody waits.
        virtual bool finished() const { return false; }
        // A failure is known (the owner's or the ring's own).
        virtual bool failed() const = 0;
        // The ring's own failures, in a few words for a user.
        virtual void fail(std::string reason) = 0;
    };

    explicit PacketRing(Owner& owner) : owner_(owner) {}
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    // The stream's format, for durations: before the first delivery.
    void setFormat(const AudioFormat& format);
    // The buffers, allocated by the owner in ring order, each of at least
    // kBufferSize bytes; an entry left null (a failed set-up) takes no audio.
    // Cleared by the owner once the queue is gone.
    std::array<OutputQueue::Buffer*, kBufferCount>& buffers() { return buffers_; }

    // One delivery of the parser: its packets, described, or a run of whole
    // frames without descriptions (linear PCM).
    void deliver(std::span<const std::byte> bytes, std::span<const PacketDescription> descriptions);
    // Hands the fill buffer to the queue, starts the queue when due, moves on
    // to the next buffer and waits while it is queued.
    void enqueueFillBuffer();
    // Starts the queue unless it runs already; true when it runs.
    bool startQueue();

    bool holdsAudio() const { return bytesFilled_ > 0; }
    // Seconds of audio not handed to the queue yet: in the fill buffer, and
    // in `bytesUpstream` more of the stream at the rate seen so far (0 before
    // a rate is known).
    double secondsWaiting(std::size_t bytesUpstream) const;
    // Bytes of audio taken into buffers so far.
    std::uint64_t bytesTaken() const { return bytesHandedOver_ + bytesFilled_; }
    bool started() const { return started_; }
    std::uint64_t buffersHandedOver() const { return buffersHandedOver_; }

    // The queue's thread: the queue is done with `buffer`.
    void bufferCompleted(const OutputQueue::Buffer& buffer);
    // Any thread: a filling thread waiting for a buffer looks at finished()
    // again.
    void wake();

  private:
    void copyPlainBytes(std::uint32_t byteCount, const std::uint8_t* data);
    void copyDescribedPackets(std::uint32_t packetCount, const std::uint8_t* data,
                              std::uint32_t byteCount, const PacketDescription* descriptions);
    // The fill buffer when it exists; otherwise a failure, and null.
    OutputQueue::Buffer* fillBufferOrFail();
    // Appends `size` bytes to the fill buffer while the owner permits copying;
    // false when it does not, or when there is no fill buffer (a failure).
    bool copyIntoFillBuffer(const std::uint8_t* from, std::size_t size);
    // Frames of audio in the fill buffer, and whether that is worth a hand-over.
    std::uint64_t framesInFillBuffer() const;
    bool holdsHandOverDuration() const;

    Owner& owner_;

    // The filling thread only.
    std::array<OutputQueue::Buffer*, kBufferCount> buffers_{};
    std::array<PacketDescription, kPacketDescCapacity> descriptions_{};
    std::size_t fill_ = 0;  // the fill buffer's position
    std::size_t bytesFilled_ = 0;
    std::size_t packetsFilled_ = 0;
    std::uint64_t framesFilled_ = 0;  // of the described packets in the fill buffer
    std::uint64_t framesHandedOver_ = 0;
    std::uint64_t bytesHandedOver_ = 0;
    std::uint64_t buffersHandedOver_ = 0;
    bool started_ = false;
    // The format, for durations: frames per second, and bytes and frames per
    // packet when every packet has the same size (PCM), else 0.
    double sampleRate_ = 0;
    std::uint32_t bytesPerPacket_ = 0;
    std::uint32_t framesPerPacket_ = 0;

    // Set by the filling thread just before a hand-over, cleared by the
    // queue's thread under mutex_, which the wait for a free buffer holds.
    std::array<std::atomic<bool>, kBufferCount> inUse_{};
    std::mutex mutex_;
    std::condition_variable cond_;
};

}  // namespace orvento
