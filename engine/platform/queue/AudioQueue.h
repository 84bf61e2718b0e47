// The output audio queue: plays buffers of audio packets in one format,
// decoding them as needed, and gives every buffer back when done with it.
//
// Lifecycle
//   AudioQueueNewOutput[To]  checks the format, builds its decoder (loading
//                            the AAC decoder module for the first AAC queue of
//                            the process) and starts the queue's own thread.
//                            Nothing plays yet and no output is opened.
//   AudioQueueAddPropertyListener, AudioQueueAllocateBuffer,
//   AudioQueueSetProperty    set-up; allowed at any time before disposal.
//   AudioQueueEnqueueBuffer  hands a filled buffer to the queue. Buffers play
//                            in the order they were enqueued.
//   AudioQueueStart          opens the output on the first call (loading the
//                            sound device module for the first Device output
//                            of the process; this is where a missing sound
//                            device is reported) and makes the queue run.
//   AudioQueueFlush          marks the end of the data enqueued so far: when
//                            the queue gets there it plays out everything its
//                            decoder holds, including a last partial frame.
//   AudioQueueStop           stops now (immediate) or once everything enqueued
//                            has played (not immediate).
//   AudioQueueDispose        stops if needed, gives every buffer back, joins
//                            the thread and frees the queue, its buffers and
//                            its output. The handle is invalid afterwards.
//
// Threads
//   - Every call may be made from any thread, including from inside the
//     queue's own callbacks, except AudioQueueDispose (see there). Calls on one
//     queue are serialised by the queue's lock; none of them waits for audio
//     to play, apart from AudioQueueDispose with inImmediate false.
//   - The queue has a thread of its own. The buffer-complete callback and the
//     property listeners run on that thread only: never on the caller's thread
//     and never on the audio device's thread. One callback runs at a time and
//     no lock of the queue is held while it runs, so a callback may call the
//     queue again (enqueue the buffer it was given, stop the queue, ...).
//   - Decoding and all writing to the output happen on the queue's thread. The
//     sound device's own real-time callback only copies ready samples from a
//     bounded ring and pads with silence; it never blocks or allocates.
//
// Buffers
//   - AudioQueueAllocateBuffer creates a buffer owned by the queue; it lives
//     until AudioQueueDispose. The caller writes mAudioData and
//     mAudioDataByteSize while the buffer is not enqueued.
//   - From AudioQueueEnqueueBuffer until the buffer-complete callback the
//     buffer belongs to the queue and the caller must not touch it. Every
//     enqueued buffer comes back exactly once through the callback: after its
//     audio has been decoded and handed to the output, or when an immediate
//     stop or the disposal discards it. Buffers come back in enqueue order.
//   - The packet descriptions passed to AudioQueueEnqueueBuffer and the cookie
//     passed to AudioQueueSetProperty are copied during the call: the caller
//     may reuse or free them as soon as the call returns.
//
// Running state and its listener
//   - The listener for kAudioQueueProperty_IsRunning is called on the queue's
//     thread once when the queue starts running and once when it stops:
//     strictly alternating, starting with "running", also when a stop comes
//     right after a start. While it runs, AudioQueueGetProperty for that
//     property reports the new state.
//   - Running with nothing enqueued is an underrun: the output plays silence,
//     the queue stays running and plays again as soon as buffers arrive.
//   - An immediate stop silences the output at once (within one device period,
//     under 50 ms), then on the queue's thread gives back every buffer not yet
//     played, in order, and then reports "stopped". A stop that is not
//     immediate reports "stopped" once everything enqueued before it has been
//     played to the end, the output's last samples included. A start before
//     that moment cancels the pending stop.
//
// Formats (AudioStreamBasicDescription::mFormatID)
//   - MPEG audio ('.mp1', '.mp2', '.mp3'), Layers I to III, decoded by
//     libmpg123. Packets come with descriptions, one whole frame each; a run
//     of bytes without descriptions is also accepted.
//   - AAC ('aac '; mFormatFlags is the object type), decoded by libavcodec in
//     the AAC decoder module (QueueModules.h). Packets are raw access units
//     with descriptions. The magic cookie is the AudioSpecificConfig; without
//     one the queue derives it from the format.
//   - Linear PCM ('lpcm'): interleaved integer samples of 8, 16, 24 (packed in
//     3 bytes) or 32 bits, signed or unsigned (no signed flag), or float
//     samples of 32 or 64 bits, either byte order, as the format flags say.
//     Buffers hold whole frames without descriptions; a buffer may end inside
//     a frame only before a flush, which completes that frame with zeros.
//   Anything else is refused by AudioQueueNewOutput.
//   A packet the decoder cannot decode is skipped and replaced by silence of
//   its duration when that is known; AudioQueueErrorText gives the decoder's
//   words. When the decoder's sample rate or channel count changes mid-stream,
//   or differs from what the sound device took, the audio is converted to the
//   output's format by the queue's own converter (FormatConverter.h).
//
// Libraries
//   MPEG audio, linear PCM and the WAV and null outputs need only libmpg123.
//   libavcodec/libavutil (AAC) and SDL2 (the sound device) are mapped only by
//   a process whose queues need them, through the modules of QueueModules.h,
//   which also says where the modules are found. A module that cannot be
//   loaded fails the call that needed it, with one line to the output
//   choice's log naming the module and giving dlerror()'s words: AudioQueueNewOutput[To]
//   with kAudioQueueErr_CodecNotFound, AudioQueueStart with
//   kAudioQueueErr_CannotStart and AudioQueueErrorText.
//
// Outputs (AudioOutputChoice)
//   - Device: the sound device: the desktop's PulseAudio (or PipeWire) server
//     through the PulseAudio module when one answers (PulseOutput.h; about
//     300 ms kept at the server, taken back at once by an immediate stop);
//     otherwise SDL2 audio, in the sound device module (SDL converts the
//     sample format to what the hardware takes; the rate and channel count
//     SDL offers are the queue's to convert to), with between about 100 and
//     250 ms of audio kept queued at the device. When no device can be opened
//     (for example on a machine without a sound card) AudioQueueStart fails
//     with kAudioQueueErr_InvalidDevice, AudioQueueErrorText holds SDL's
//     explanation, and one line saying so goes to the log. A server that
//     does not answer only means SDL is asked; there is never a
//     silent fallback to another output.
//   - WavFile: a 32-bit float WAV file, written as fast as the audio is
//     decoded (untimed), or as fast as the reader of a FIFO takes it. It
//     takes the decoder's own rate and channel count. Its header is kept
//     true while it grows (WavFileOutput.h); a write that fails ends it and
//     is reported through AudioOutputChoice::onFailure.
//   - Null: discards the audio, either in real time (like a device) or as fast
//     as it comes.
//   - Feed: one feed of a mixer, which plays it with the other feeds through
//     the mixer's own output (engine/platform/mixer/Mixer.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "engine/LogSink.h"
#include "engine/net/RunLoop.h"
#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"

namespace orvento {

class AudioQueue;
using AudioQueueRef = AudioQueue*;
using AudioQueuePropertyID = std::uint32_t;

// A buffer of the queue, created by AudioQueueAllocateBuffer.
struct AudioQueueBuffer {
    const std::uint32_t mAudioDataBytesCapacity;  // bytes mAudioData can hold
    void* const mAudioData;                       // the audio bytes, written by the caller
    std::uint32_t mAudioDataByteSize;  // valid bytes in mAudioData, set before enqueueing
    void* mUserData;                   // the caller's; the queue never touches it
};
using AudioQueueBufferRef = AudioQueueBuffer*;

// A point in the output's time line (AudioQueueGetCurrentTime).
struct AudioTimeStamp {
    double mSampleTime;       // frames, at the output's sample rate
    std::uint64_t mHostTime;  // steady clock, nanoseconds
    std::uint32_t mFlags;     // which fields are valid
};
inline constexpr std::uint32_t kAudioTimeStampSampleTimeValid = 1U << 0;
inline constexpr std::uint32_t kAudioTimeStampHostTimeValid = 1U << 1;

// Called on the queue's thread when the queue is done with a buffer.
using AudioQueueOutputCallback = void (*)(void* inUserData, AudioQueueRef inAQ,
                                          AudioQueueBufferRef inBuffer);
// Called on the queue's thread when the property changes.
using AudioQueuePropertyListenerProc = void (*)(void* inUserData, AudioQueueRef inAQ,
                                                AudioQueuePropertyID inID);

// std::uint32_t, read-only: 1 while the queue runs, 0 otherwise. Listenable.
inline constexpr AudioQueuePropertyID kAudioQueueProperty_IsRunning = fourCharCode("aqrn");
// Bytes, write-only: the format's magic cookie (for AAC the AudioSpecificConfig).
inline constexpr AudioQueuePropertyID kAudioQueueProperty_MagicCookie = fourCharCode("aqmc");

// Statuses of the queue's calls, besides noErr and kAudio_ParamError (a null
// handle or out-pointer, a size or description out of range, non-zero flags,
// a callback run loop: callbacks always run on the queue's own thread).
// The format is not one the queue can play.
inline constexpr OSStatus kAudioFormatUnsupportedDataFormatError = fourCharStatus("fmt?");
// The decoding library could not be set up for this format, or the module
// holding it could not be loaded (a line to the choice's log says why).
inline constexpr OSStatus kAudioQueueErr_CodecNotFound = fourCharStatus("qcod");
// The buffer was not allocated by this queue.
inline constexpr OSStatus kAudioQueueErr_InvalidBuffer = fourCharStatus("qbuf");
// The buffer is already enqueued and has not come back yet.
inline constexpr OSStatus kAudioQueueErr_BufferInQueue = fourCharStatus("qinq");
// The call does not support this property.
inline constexpr OSStatus kAudioQueueErr_InvalidProperty = fourCharStatus("qpty");
// The property's data has the wrong size.
inline constexpr OSStatus kAudioQueueErr_InvalidPropertySize = fourCharStatus("qsiz");
// The property's value is unusable (an AudioSpecificConfig the decoder refuses).
inline constexpr OSStatus kAudioQueueErr_InvalidPropertyValue = fourCharStatus("qval");
// The output could not be opened (the sound device module missing, an
// unwritable file); AudioQueueErrorText says why.
inline constexpr OSStatus kAudioQueueErr_CannotStart = fourCharStatus("qdev");
// No sound device could be opened (no sound server, no sound card);
// AudioQueueErrorText gives SDL's words.
inline constexpr OSStatus kAudioQueueErr_InvalidDevice = fourCharStatus("qidv");
// Not allowed now: the queue is being disposed of, or a dispose from the
// queue's own thread.
inline constexpr OSStatus kAudioQueueErr_InvalidRunState = fourCharStatus("qrun");
// Memory or a thread could not be had.
inline constexpr OSStatus kAudioQueueErr_OutOfMemory = fourCharStatus("qmem");

class AudioFeed;  // engine/platform/queue/AudioOutput.h

// Where a queue's audio goes. The device is the default.
struct AudioOutputChoice {
    enum class Kind {
        Device,   // the sound device (the desktop's sound server, or SDL audio)
        WavFile,  // a WAV file at wavPath, as fast as the audio comes
        Null,     // discarded, in real time or as fast as it comes
        Feed,     // a feed of a mixer (engine/platform/mixer/Mixer.h), in real time
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

// Creates a queue for inFormat that plays to the sound device. inCallbackProc
// must not be null; inCallbackRunLoop and inCallbackRunLoopMode must be null
// and inFlags 0. On success *outAQ is the new queue; on failure it is left
// untouched and no thread is started.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* inFormat,
                             AudioQueueOutputCallback inCallbackProc, void* inUserData,
                             RunLoop* inCallbackRunLoop, const char* inCallbackRunLoopMode,
                             std::uint32_t inFlags, AudioQueueRef* outAQ);
// The same, to the chosen output.
OSStatus AudioQueueNewOutputTo(const AudioOutputChoice& output,
                               const AudioStreamBasicDescription* inFormat,
                               AudioQueueOutputCallback inCallbackProc, void* inUserData,
                               RunLoop* inCallbackRunLoop, const char* inCallbackRunLoopMode,
                               std::uint32_t inFlags, AudioQueueRef* outAQ);
// Registers a listener; only kAudioQueueProperty_IsRunning can be listened to.
// The same procedure may be registered more than once and is then called as
// often.
OSStatus AudioQueueAddPropertyListener(AudioQueueRef inAQ, AudioQueuePropertyID inID,
                                       AudioQueuePropertyListenerProc inProc, void* inUserData);
// A new buffer of inBufferByteSize bytes (more than 0), owned by the queue.
OSStatus AudioQueueAllocateBuffer(AudioQueueRef inAQ, std::uint32_t inBufferByteSize,
                                  AudioQueueBufferRef* outBuffer);
// Only kAudioQueueProperty_MagicCookie (at most 64 KiB; size 0 removes it).
// Takes effect for the packets decoded after the call.
OSStatus AudioQueueSetProperty(AudioQueueRef inAQ, AudioQueuePropertyID inID, const void* inData,
                               std::uint32_t inDataSize);
// Only kAudioQueueProperty_IsRunning, with *ioDataSize at least 4 (set to 4).
OSStatus AudioQueueGetProperty(AudioQueueRef inAQ, AudioQueuePropertyID inID, void* outData,
                               std::uint32_t* ioDataSize);
// Enqueues inBuffer with mAudioDataByteSize bytes (at most its capacity; 0 is
// allowed and plays nothing). Descriptions, when given, must each lie inside
// those bytes; AAC needs them whenever there are bytes.
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef inAQ, AudioQueueBufferRef inBuffer,
                                 std::uint32_t inNumPacketDescs,
                                 const AudioStreamPacketDescription* inPacketDescs);
// Opens the output if not yet open, then makes the queue run as soon as
// possible; inStartTime is ignored. Returns once the output is open, before
// the listener hears of it. Starting a running queue does nothing.
OSStatus AudioQueueStart(AudioQueueRef inAQ, const AudioTimeStamp* inStartTime);
// Plays out everything enqueued so far, also data that ends mid-frame.
// Returns at once.
OSStatus AudioQueueFlush(AudioQueueRef inAQ);
// inImmediate true: silence now, every buffer not yet played comes back, then
// "stopped". False: "stopped" after everything enqueued has played; does
// nothing when the queue is not started. Returns at once either way.
OSStatus AudioQueueStop(AudioQueueRef inAQ, bool inImmediate);
// inImmediate true: as an immediate stop, then frees everything. False: when
// the queue is started, first waits until everything enqueued has played.
// When it returns no callback of the queue is running or will run. Must not be
// called on the queue's own thread (kAudioQueueErr_InvalidRunState).
OSStatus AudioQueueDispose(AudioQueueRef inAQ, bool inImmediate);

// The output's play position: mSampleTime counts the frames of the queue's
// audio the output has played so far (underrun silence not included), at the
// output's rate; mHostTime is when that was read. Zero before the first start.
OSStatus AudioQueueGetCurrentTime(AudioQueueRef inAQ, void* inTimeline,
                                  AudioTimeStamp* outTimeStamp, bool* outTimelineDiscontinuity);

// How long, in seconds, the running queue has had nothing to play: since it
// handed the output the last audio it had (the output then still plays the
// little it keeps). 0 while it has audio to play and after an immediate stop.
// Any thread.
double AudioQueueStarvedSeconds(AudioQueueRef inAQ);

// How often the output ran out of audio while the queue ran and played
// silence until more came (an underrun). Counted by the outputs that can
// tell: the null output in real time; 0 for the others. Any thread.
std::uint64_t AudioQueueUnderrunCount(AudioQueueRef inAQ);

// The last failure's explanation for a user (the output's or decoder's own
// words), empty when nothing failed.
std::string AudioQueueErrorText(AudioQueueRef inAQ);

}  // namespace orvento
