// The queue's loadable modules. The parts of the queue that need large
// libraries live in shared objects of their own, loaded the first time a
// queue needs them, so that a process playing MPEG audio or linear PCM to the
// null or WAV output never maps those libraries (with their dependencies over
// a hundred shared objects, some 20 MiB of memory and a tenth of a second at
// every start):
//   orvento_queue_aac.so  AAC decoding through libavcodec and libavutil;
//                         loaded by makeOutputQueue for an AAC format.
//   orvento_queue_sdl.so  the sound device through SDL2 audio; loaded by
//                         OutputQueue::start when it opens a Device output.
//   orvento_queue_pulse.so  the sound device through a PulseAudio server
//                         (libpulse); loaded by OutputQueue::start before the
//                         SDL module when the desktop's server is wanted
//                         (openOutput in AudioOutput.h).
//
// Where modules are looked for (no environment variable is read); the first
// folder that holds the module's file is used:
//   1. the installed layout, relative to the running program
//      (/proc/self/exe): programs in <prefix>/bin, modules in
//      <prefix>/<libdir>/orvento (the relative path is fixed when the build
//      is configured; see ORVENTO_QUEUE_MODULE_RELATIVE_DIR);
//   2. the build tree's module folder, <build>/lib/orvento, whose path is
//      compiled in; only for a program that lies inside that build tree
//      itself (tests, tools, benchmarks, scripts/run), so that an installed
//      program never loads modules from a stale build.
//
// Loading: dlopen with RTLD_NOW | RTLD_LOCAL (every symbol resolved at once,
// none of the module's visible to anything else), then the module's one entry
// point, an extern "C" function returning its table of operations, whose abi
// string must equal the core's (a digest of the headers both sides are
// compiled from, so a module of another build is refused instead of
// misread). Loading is thread-safe and happens once per module: a loaded
// module stays loaded for the life of the process (never dlclose()d, so no
// thread can be running its code when it goes). A failed load is not
// remembered; the next queue that needs the module tries again.
//
// A module that cannot be loaded is a failure of the call that needed it:
// makeOutputQueue fails with QueueError::CodecNotFound, and
// OutputQueue::start with QueueError::CannotStart and errorText(); either
// writes one line to the queue's log (AudioOutputChoice::log) naming the
// module file and giving dlerror()'s words. There is never a silent fallback.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "engine/audio/AudioOutput.h"
#include "engine/audio/Decoder.h"
#include "engine/base/AudioFormat.h"

namespace orvento {

// A module's table of operations. The first member of every table is, and in
// every version stays, the abi string. The operations never throw.
struct AacDecoderModule {
    const char* abi;
    // As makeDecoder for an AAC format: the decoder, or nullptr with `error`.
    std::unique_ptr<Decoder> (*create)(const AudioFormat& format, std::string& error);
    // As aacCookieUsable.
    bool (*cookieUsable)(const AudioFormat& format, std::span<const std::byte> cookie,
                         std::string& error);
};

struct DeviceOutputModule {
    const char* abi;
    // The sound device output for `deviceName` (SDL's name; empty: the
    // default device), not yet open; nullptr when out of memory.
    std::unique_ptr<AudioOutput> (*create)(const std::string& deviceName);
};

// The loaded module's table, loading it on the first call; nullptr with
// `error` (which module, which file, and why) when it cannot be loaded. Any
// thread.
const AacDecoderModule* aacDecoderModule(std::string& error);
const DeviceOutputModule* deviceOutputModule(std::string& error);
// The PulseAudio module; its table is shaped as the SDL module's, with the
// server's sink name in place of SDL's device name.
const DeviceOutputModule* pulseOutputModule(std::string& error);

}  // namespace orvento

// The modules' entry points, one per module.
#define ORVENTO_QUEUE_MODULE_ENTRY extern "C" __attribute__((visibility("default")))
ORVENTO_QUEUE_MODULE_ENTRY const orvento::AacDecoderModule* orvento_queue_aac_module();
ORVENTO_QUEUE_MODULE_ENTRY const orvento::DeviceOutputModule* orvento_queue_sdl_module();
ORVENTO_QUEUE_MODULE_ENTRY const orvento::DeviceOutputModule* orvento_queue_pulse_module();
