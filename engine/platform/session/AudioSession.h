// The process's audio session: the category the application plays in and
// whether it is active. On this platform nothing else shares or interrupts
// the sound device, so the session only records what it is told; the
// interruption listener is stored and never called.
//
// Every operation may be called from any thread and returns 0.
#pragma once

#include "engine/platform/CoreTypes.h"
#include "engine/platform/runloop/RunLoop.h"

namespace orvento {

using AudioSessionPropertyID = UInt32;
using AudioSessionInterruptionListener = void (*)(void* inClientData, UInt32 inInterruptionState);

inline constexpr AudioSessionPropertyID kAudioSessionProperty_AudioCategory = fourCharCode("acat");
inline constexpr UInt32 kAudioSessionCategory_MediaPlayback = fourCharCode("medi");

// Interruption states a listener may receive.
inline constexpr UInt32 kAudioSessionBeginInterruption = 1;
inline constexpr UInt32 kAudioSessionEndInterruption = 0;

OSStatus AudioSessionInitialize(CFRunLoopRef inRunLoop, CFRunLoopMode inRunLoopMode,
                                AudioSessionInterruptionListener inInterruptionListener,
                                void* inClientData);
OSStatus AudioSessionSetProperty(AudioSessionPropertyID inID, UInt32 inDataSize,
                                 const void* inData);
OSStatus AudioSessionSetActive(Boolean active);

// What the session holds, for tests and diagnostics.
struct AudioSessionState {
    UInt32 category = 0;
    bool active = false;
};
AudioSessionState AudioSessionGetState();

}  // namespace orvento
