// The output queue: plays buffers of audio packets in one format, decoding
// them as needed, and gives every buffer back when done with it.
//
// Lifecycle
//   makeOutputQueue  checks the format, builds its decoder (loading the AAC
//                    decoder module for the first AAC queue of the process)
//                    and starts the queue's own thread. Nothing plays yet and
//                    no output is opened. The queue is the caller's, through
//                    the unique_ptr.
//   allocateBuffer, setMagicCookie
//                    set-up; allowed at any time before disposal.
//   enqueue          hands a filled buffer to the queue. Buffers play in the
//                    order they were enqueued.
//   start            opens the output on the first call (loading the sound
//                    device module for the first Device output of the
//                    process; this is where a missing sound device is
//                    reported) and makes the queue run.
//   flush            marks the end of the data enqueued so far: when the queue
//                    gets there it plays out everything its decoder holds,
//                    including a last partial frame.
//   stop             stops now (immediate) or once everything enqueued has
//                    played (not immediate).
//   dispose          stops if needed, gives every buffer back, joins the
//                    thread and closes the output. Every call but the
//                    getters then fails with QueueError::InvalidRunState.
//                    Fallible (a second disposal, one from the queue's own
//                    thread), so an owner that must know can retry.
//   ~OutputQueue     disposes (immediately) unless that was done, and frees
//                    the buffers. Never on the queue's own thread.
//
// Threads
//   - Every call may be made from any thread, including from inside the
//     listener, except dispose() and the destructor (see there). Calls on one
//     queue are serialised by the queue's lock; none of them waits for audio
//     to play, apart from dispose(false).
//   - The queue has a thread of its own, and joins it before disposal
//     returns. The listener runs on that thread only: never on the caller's
//     thread and never on the audio device's thread. One callback runs at a
//     time and no lock of the queue is held while it runs, so a callback may
//     call the queue again (enqueue the buffer it was given, stop, ...).
//   - Decoding and all writing to the output happen on the queue's thread. The
//     sound device's own real-time callback only copies ready samples from a
//     bounded ring and pads with silence; it never blocks or allocates.
//
// Buffers
//   - allocateBuffer creates a buffer owned by the queue; it lives as long as
//     the queue. The caller writes bytes() and setByteSize() while the
//     buffer is not enqueued.
//   - From enqueue until Listener::bufferComplete the buffer belongs to the
//     queue and the caller must not touch it. Every enqueued buffer comes
//     back exactly once through bufferComplete: after its audio has been
//     decoded and handed to the output, or when an immediate stop or the
//     disposal discards it. Buffers come back in enqueue order.
//   - The packet descriptions passed to enqueue and the cookie passed to
//     setMagicCookie are copied during the call: the caller may reuse or free
//     them as soon as the call returns.
//
// Running state and its listener
//   - Listener::runningChanged is called on the queue's thread once when the
//     queue starts running and once when it stops: strictly alternating,
//     starting with "running", also when a stop comes right after a start.
//     While it runs, isRunning() reports the new state.
//   - Running with nothing enqueued is an underrun: the output plays silence,
//     the queue stays running and plays again as soon as buffers arrive.
//   - An immediate stop silences the output at once (within one device period,
//     under 50 ms), then on the queue's thread gives back every buffer not yet
//     played, in order, and then reports "stopped". A stop that is not
//     immediate reports "stopped" once everything enqueued before it has been
//     played to the end, the output's last samples included. A start before
//     that moment cancels the pending stop.
//
// Formats (AudioFormat::formatId)
//   - MPEG audio ('.mp1', '.mp2', '.mp3'), Layers I to III, decoded by
//     libmpg123. Packets come with descriptions, one whole frame each; a run
//     of bytes without descriptions is also accepted.
//   - AAC ('aac '; formatFlags is the object type), decoded by libavcodec in
//     the AAC decoder module (QueueModules.h). Packets are raw access units
//     with descriptions. The magic cookie is the AudioSpecificConfig; without
//     one the queue derives it from the format.
//   - Linear PCM ('lpcm'): interleaved integer samples of 8, 16, 24 (packed in
//     3 bytes) or 32 bits, signed or unsigned (no signed flag), or float
//     samples of 32 or 64 bits, either byte order, as the format flags say.
//     Buffers hold whole frames without descriptions; a buffer may end inside
//     a frame only before a flush, which completes that frame with zeros.
//   Anything else is refused by makeOutputQueue.
//   A packet the decoder cannot decode is skipped and replaced by silence of
//   its duration when that is known; errorText() gives the decoder's words.
//   When the decoder's sample rate or channel count changes mid-stream, or
//   differs from what the sound device took, the audio is converted to the
//   output's format by the queue's own converter (FormatConverter.h).
//
// Libraries
//   MPEG audio, linear PCM and the WAV and null outputs need only libmpg123.
//   libavcodec/libavutil (AAC) and SDL2 (the sound device) are mapped only by
//   a process whose queues need them, through the modules of QueueModules.h,
//   which also says where the modules are found. A module that cannot be
//   loaded fails the call that needed it, with one line to the output
//   choice's log naming the module and giving dlerror()'s words:
//   makeOutputQueue with QueueError::CodecNotFound, start() with
//   QueueError::CannotStart and errorText().
//
// Outputs (AudioOutputChoice)
//   - Device: the sound device: the desktop's PulseAudio (or PipeWire) server
//     through the PulseAudio module when one answers (PulseOutput.h; about
//     300 ms kept at the server, taken back at once by an immediate stop);
//     otherwise SDL2 audio, in the sound device module (SDL converts the
//     sample format to what the hardware takes; the rate and channel count
//     SDL offers are the queue's to convert to), with between about 100 and
//     250 ms of audio kept queued at the device. When no device can be opened
//     (for example on a machine without a sound card) start() fails with
//     QueueError::InvalidDevice, errorText() holds SDL's explanation, and one
//     line saying so goes to the log. A server that does not answer only
//     means SDL is asked; there is never a silent fallback to another output.
//   - WavFile: a 32-bit float WAV file, written as fast as the audio is
//     decoded (untimed), or as fast as the reader of a FIFO takes it. It
//     takes the decoder's own rate and channel count. Its header is kept
//     true while it grows (WavFileOutput.h); a write that fails ends it and
//     is reported through AudioOutputChoice::onFailure.
//   - Null: discards the audio, either in real time (like a device) or as fast
//     as it comes.
//   - Feed: one feed of a mixer, which plays it with the other feeds through
//     the mixer's own output (engine/mix/Mixer.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "engine/LogSink.h"
#include "engine/base/AudioFormat.h"
#include "engine/base/StatusCode.h"

namespace orvento {

// Why a queue call failed. The values are the codes the engine's error lines
// print ("AudioQueueStop err qrun 1902211438").
enum class QueueError : std::int32_t {
    // Success.
    None = 0,
    // A size or description out of range, a buffer of no bytes, AAC bytes
    // without descriptions.
    InvalidParameter = kParameterError,
    // The format is not one the queue can play.
    UnsupportedFormat = fourCharStatus("fmt?"),
    // The decoding library could not be set up for this format, or the module
    // holding it could not be loaded (a line to the choice's log says why).
    CodecNotFound = fourCharStatus("qcod"),
    // The buffer was not allocated by this queue.
    InvalidBuffer = fourCharStatus("qbuf"),
    // The buffer is already enqueued and has not come back yet.
    BufferInQueue = fourCharStatus("qinq"),
    // The magic cookie is larger than kMaxMagicCookieSize.
    InvalidCookieSize = fourCharStatus("qsiz"),
    // The magic cookie is unusable (an AudioSpecificConfig the decoder refuses).
    InvalidCookie = fourCharStatus("qval"),
    // The output could not be opened (the sound device module missing, an
    // unwritable file); errorText() says why.
    CannotStart = fourCharStatus("qdev"),
    // No sound device could be opened (no sound server, no sound card);
    // errorText() gives SDL's words.
    InvalidDevice = fourCharStatus("qidv"),
    // Not allowed now: the queue is disposed of, or a disposal from the
    // queue's own thread.
    InvalidRunState = fourCharStatus("qrun"),
    // Memory or a thread could not be had.
    OutOfMemory = fourCharStatus("qmem"),
};

// The largest magic cookie setMagicCookie takes.
inline constexpr std::size_t kMaxMagicCookieSize = 64 * 1024;

class AudioFeed;  // engine/audio/AudioOutput.h
class PcmStage;   // engine/audio/PcmStage.h

// Where a queue's audio goes. The device is the default.
struct AudioOutputChoice {
    enum class Kind {
        Device,   // the sound device (the desktop's sound server, or SDL audio)
        WavFile,  // a WAV file at wavPath, as fast as the audio comes
        Null,     // discarded, in real time or as fast as it comes
        Feed,     // a feed of a mixer (engine/mix/Mixer.h), in real time
    };
    Kind kind = Kind::Device;
    std::shared_ptr<AudioFeed> feed;  // Feed only
    std::string wavPath;
    bool realTime = true;    // Null only
    std::string deviceName;  // Device only: SDL's name of the device; empty = the default one
    // Told, in the output's own words, when the output fails for good while
    // the queue uses it (a WAV file that can no longer be written): on the
    // queue's thread, or on the disposing thread when closing the output
    // fails. The queue plays on into nothing; stopping is the owner's call.
    // Without it, the failure goes to log. The function must be safe to call
    // from those threads until the queue is disposed of.
    std::function<void(const std::string& failure)> onFailure;
    // Told once, on the queue's thread, when the output has first taken
    // audio (a FIFO nobody reads takes none until its reader comes).
    std::function<void()> onFirstAudio;
    // The queue's own lines: an output that cannot start, a decoder that
    // cannot be had or fails. Without it they go to standard error, after
    // "orvento: ".
    LogSink log;
    // Sees the decoded audio as the output takes it, in order and in the
    // output's format: `frames` interleaved float frames of `channels`
    // channels at `sampleRate`. On the queue's thread; it must not block.
    // For a level meter or a detector beside the output (AudioTap.h).
    std::function<void(const float* samples, std::size_t frames, int sampleRate, int channels)>
        onAudio;
    // While it holds true, the output plays silence in place of the audio,
    // taken at the same pace (onAudio still sees the audio). Any thread may
    // change it; for a replay that live audio must not be mixed into.
    std::shared_ptr<const std::atomic<bool>> muted;
};

class OutputQueue {
  public:
    // A buffer of audio bytes. A queue's buffers are made by allocateBuffer
    // and owned by that queue; anyone may make one (a test's stand-in queue),
    // which no real queue takes (QueueError::InvalidBuffer).
    class Buffer {
      public:
        explicit Buffer(std::size_t capacity)
            : storage_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)),
              capacity_(capacity) {}
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;

        // All the bytes the buffer can hold, written by the caller.
        std::span<std::uint8_t> bytes() { return {storage_.get(), capacity_}; }
        std::span<const std::uint8_t> bytes() const { return {storage_.get(), capacity_}; }
        std::size_t capacity() const { return capacity_; }
        // How many of them hold audio; set before enqueueing.
        std::size_t byteSize() const { return byteSize_; }
        void setByteSize(std::size_t size) { byteSize_ = size; }
        // Gives the whole pages of its storage back to the system; the bytes
        // then read as zeros. A queue does so when it is done with a buffer,
        // which may then wait unused for a long time: at a low bit rate a
        // buffer holds many seconds of audio and is filled again only after
        // all the others.
        void releasePages();

      private:
        std::unique_ptr<std::uint8_t[]> storage_;
        std::size_t capacity_;
        std::size_t byteSize_ = 0;
    };

    // Told, on the queue's thread (see the header comment), what the queue
    // does. It must outlive the queue.
    class Listener {
      public:
        // The queue is done with `buffer`, which is the caller's again.
        virtual void bufferComplete(Buffer& buffer) = 0;
        // The queue started (true) or stopped (false) running.
        virtual void runningChanged(bool running) = 0;

      protected:
        virtual ~Listener() = default;
    };

    // allocateBuffer's result: the buffer, or null with the reason.
    struct Allocation {
        Buffer* buffer = nullptr;
        QueueError error = QueueError::None;
    };

    // The output's play position: the frames of the queue's audio the output
    // has played so far (underrun silence not included), at the output's
    // rate, and when that was read. Zero frames before the first start.
    struct PlayPosition {
        std::uint64_t framesPlayed = 0;
        std::chrono::steady_clock::time_point at;
    };

    virtual ~OutputQueue() = default;

    // A new buffer of `capacity` bytes (more than 0), owned by the queue.
    virtual Allocation allocateBuffer(std::size_t capacity) = 0;
    // The format's magic cookie (for AAC the AudioSpecificConfig), at most
    // kMaxMagicCookieSize bytes; empty removes it. Takes effect for the
    // packets decoded after the call.
    virtual QueueError setMagicCookie(std::span<const std::uint8_t> cookie) = 0;
    // Enqueues `buffer` with its byteSize() bytes (at most its capacity; 0 is
    // allowed and plays nothing). Descriptions, when given, must each lie
    // inside those bytes; AAC needs them whenever there are bytes.
    virtual QueueError enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) = 0;
    // Opens the output if not yet open, then makes the queue run as soon as
    // possible. Returns once the output is open, before the listener hears of
    // it. Starting a running queue does nothing.
    virtual QueueError start() = 0;
    // Plays out everything enqueued so far, also data that ends mid-frame.
    // Returns at once.
    virtual QueueError flush() = 0;
    // immediate: silence now, every buffer not yet played comes back, then
    // "stopped". Not immediate: "stopped" after everything enqueued has
    // played; does nothing when the queue is not started. Returns at once.
    virtual QueueError stop(bool immediate) = 0;
    // immediate: as an immediate stop, then closes everything. Not
    // immediate: when the queue is started, first waits until everything
    // enqueued has played. When it returns no callback of the queue is
    // running or will run. On the queue's own thread it fails
    // (QueueError::InvalidRunState), as does a second disposal.
    virtual QueueError dispose(bool immediate) = 0;

    // Decoded audio passes through `stage` (PcmStage.h) on its way to the
    // output, from the next packet decoded on; none removes it.
    virtual void setStage(std::shared_ptr<PcmStage> stage) = 0;

    // Whether the queue runs (as the listener was last told). Any thread.
    virtual bool isRunning() const = 0;
    virtual PlayPosition currentTime() const = 0;
    // How long, in seconds, the running queue has had nothing to play: since
    // it handed the output the last audio it had (the output then still
    // plays the little it keeps). 0 while it has audio to play and after an
    // immediate stop. Any thread.
    virtual double starvedSeconds() const = 0;
    // How often the output ran out of audio while the queue ran and played
    // silence until more came (an underrun). Counted by the outputs that can
    // tell: the null output in real time; 0 for the others. Any thread.
    virtual std::uint64_t underrunCount() const = 0;
    // The last failure's explanation for a user (the output's or decoder's
    // own words), empty when nothing failed.
    virtual std::string errorText() const = 0;
};

// makeOutputQueue's result: the queue, or null with the reason.
struct OutputQueueCreation {
    std::unique_ptr<OutputQueue> queue;
    QueueError error = QueueError::None;
};

// A queue for `format` that plays to `output` and tells `listener`. On
// failure no thread is started.
OutputQueueCreation makeOutputQueue(const AudioFormat& format, const AudioOutputChoice& output,
                                    OutputQueue::Listener& listener);

}  // namespace orvento
