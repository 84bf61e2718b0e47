// Offline decoding: the parser's packets fed through the output audio queue
// the way the stream player feeds them, through the player's own buffer ring
// (engine/player/PacketRing.h), then flushed and drained. For `orvento-probe
// --decode`, the queue's quality tests and the decode benchmark. Everything
// but the queue's own callbacks runs on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "engine/audio/OutputQueue.h"
#include "engine/player/PacketRing.h"
#include "tools/probe/Probe.h"

namespace orvento::probe {

struct DecodeOptions {
    AudioOutputChoice output;  // where the audio goes; a WAV file for --decode
    // Sees each packet's bytes in the queue buffer just before the buffer is
    // enqueued, with the packet's index in the stream (tests damage packets).
    std::function<void(std::span<std::byte> packet, std::uint64_t index)> onPacket;
    // The decoded audio passes through it (OutputQueue::setStage).
    std::shared_ptr<PcmStage> stage;
};

struct DecodeReport {
    bool ok = false;                           // the whole stream went through the queue
    std::string error;                         // why not
    QueueError queueError = QueueError::None;  // the first failing queue call's error
    std::string queueErrorText;  // the queue's errorText() at the end (decoder or output words)
    std::uint64_t buffersEnqueued = 0;
    std::uint64_t framesPlayed = 0;  // as the output counted them
};

// Feeds the queue from a Probe's deliveries. One per stream.
class QueueFeeder final : public PacketObserver,
                          private PacketRing::Owner,
                          private OutputQueue::Listener {
  public:
    explicit QueueFeeder(DecodeOptions options);
    ~QueueFeeder() override;
    QueueFeeder(const QueueFeeder&) = delete;
    QueueFeeder& operator=(const QueueFeeder&) = delete;

    void onReady(const ProbeResult& result) override;
    void onPackets(std::span<const std::byte> bytes,
                   std::span<const PacketDescription> descriptions) override;
    // At the end of the stream: hands over the last buffer, flushes, waits
    // until everything has played and the queue has stopped, disposes of it.
    DecodeReport finish();

  private:
    QueueError enqueueBuffer(OutputQueue::Buffer& buffer,
                             std::span<const PacketDescription> descriptions) override;
    bool startQueue() override;
    bool failed() const override { return failed_; }
    void fail(std::string reason) override;
    void fail(const char* call, QueueError error);
    void bufferComplete(OutputQueue::Buffer& buffer) override;
    void runningChanged(bool running) override;

    DecodeOptions options_;
    // The caller's thread.
    std::unique_ptr<OutputQueue> queue_;
    PacketRing ring_{*this};
    std::uint64_t packetIndex_ = 0;
    bool failed_ = false;
    DecodeReport report_;
    // Set on the queue's thread once it has stopped running.
    std::mutex mutex_;
    std::condition_variable stoppedChanged_;
    bool stopped_ = false;  // guarded by mutex_
};

// Decodes a whole file (fed in chunks of `chunkSize` bytes) through the queue.
DecodeReport decodeFile(const std::string& path, AudioFileType hint, const DecodeOptions& options,
                        std::size_t chunkSize = 32768);
// Decodes an http:// or https:// stream through the queue, read as probeUrl()
// reads it: until its end or for at most `timeoutSeconds` (*timedOut is then
// set, and what was read so far is decoded). A server that sent no body byte
// in that time (no answer, or only its head) fails with "no data came from
// the server in <timeoutSeconds> s".
DecodeReport decodeUrl(const std::string& url, AudioFileType hint, const DecodeOptions& options,
                       double timeoutSeconds, bool* timedOut = nullptr);

}  // namespace orvento::probe
