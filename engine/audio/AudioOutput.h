// Where a queue's decoded audio goes: interleaved 32-bit float frames in one
// format. One instance per queue; no output keeps global state of its own.
//
// Threads: open() runs on the thread that starts the queue, close() on the
// thread that disposes of it, both while the queue's thread does not use the
// output. silenceNow() and framesPlayed() may be called from any thread at any
// time, and so may underruns(). Every other call comes from the queue's
// thread.
//
// Timing: write() takes what fits now and never blocks; a timed output says
// through untilWritable() when it will take more, and the queue waits that
// long (or until something else needs it). An untimed output takes everything.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "engine/audio/OutputQueue.h"
#include "engine/audio/PcmBuffer.h"
#include "engine/base/StatusCode.h"

namespace orvento {

class AudioOutput {
  public:
    using Duration = std::chrono::steady_clock::duration;

    virtual ~AudioOutput() = default;

    // Gets the output ready for audio in about `requested`; false with `error`
    // (the library's words) when it cannot. Paused until resume().
    virtual bool open(const PcmFormat& requested, std::string& error) = 0;
    // Releases everything open() acquired; for a file, finishes it.
    virtual void close() = 0;

    // The format write() takes.
    virtual PcmFormat format() const = 0;
    // Before the first write(), an output that can take any format switches to
    // `format` and returns true; a device keeps its format and returns false.
    virtual bool adopt(const PcmFormat& format) = 0;

    // Starts and stops consuming. Written audio stays while paused.
    virtual void resume() = 0;
    virtual void pause() = 0;

    // Takes up to `frames` frames now; returns how many it took.
    virtual std::size_t write(const float* samples, std::size_t frames) = 0;
    // How long until write() takes more (zero: now).
    virtual Duration untilWritable() const = 0;
    // Zero once everything written has been played to the end; otherwise how
    // long to wait before asking again.
    virtual Duration untilDrained() = 0;
    // Drops everything written and not yet played, ending silenceNow().
    virtual void discard() = 0;
    // From now on plays silence in place of what was written, until discard().
    virtual void silenceNow() = 0;
    // Frames of written audio played so far (dropped audio not counted).
    virtual std::uint64_t framesPlayed() const = 0;

    // Times the output ran out of written audio while it played and more came
    // later (a gap of silence); 0 from an output that cannot tell.
    virtual std::uint64_t underruns() const { return 0; }

    // A failure since the last call, in the output's own words, or empty. A
    // failure ends the output: what is written afterwards is dropped. Asked
    // after write(), untilDrained() and close().
    virtual std::string takeFailure() { return {}; }
};

// What a Feed output choice names: makes the output a queue writes into.
class AudioFeed {
  public:
    virtual ~AudioFeed() = default;
    // A new output, not yet open. Any thread.
    virtual std::unique_ptr<AudioOutput> makeOutput() = 0;
};

// The output `choice` names, opened for about `requested` (paused); nullptr
// with `error` when it cannot be had, and `moduleMissing` telling whether
// that was because the sound device module could not be loaded.
// A Device output with no device name goes to the desktop's PulseAudio (or
// PipeWire) server through the PulseAudio module when a server answers and
// SDL_AUDIODRIVER is not set; otherwise, and when that fails, through SDL
// (whose driver SDL_AUDIODRIVER then chooses). With the choice's audio tap,
// the output is behind an AudioTap; so it is with the choice's mute flag.
std::unique_ptr<AudioOutput> openOutput(const AudioOutputChoice& choice, const PcmFormat& requested,
                                        std::string& error, bool& moduleMissing);

}  // namespace orvento
