// The output audio queue: plays buffers of audio packets in one format,
// decoding them as needed, and gives every buffer back when done with it.
//
// (The full contract, the threads and the outputs are documented here by the
// queue's implementation.)
#pragma once

#include <string>

#include "engine/platform/AudioFormat.h"
#include "engine/platform/CoreTypes.h"
#include "engine/platform/runloop/RunLoop.h"

namespace orvento {

class AudioQueue;
using AudioQueueRef = AudioQueue*;
using AudioQueuePropertyID = UInt32;

struct AudioQueueBuffer {
    const UInt32 mAudioDataBytesCapacity;
    void* const mAudioData;
    UInt32 mAudioDataByteSize;
    void* mUserData;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

struct AudioTimeStamp {
    Float64 mSampleTime;
    UInt64 mHostTime;
    UInt32 mFlags;
};

using AudioQueueOutputCallback = void (*)(void* inUserData, AudioQueueRef inAQ,
                                          AudioQueueBufferRef inBuffer);
using AudioQueuePropertyListenerProc = void (*)(void* inUserData, AudioQueueRef inAQ,
                                                AudioQueuePropertyID inID);

inline constexpr AudioQueuePropertyID kAudioQueueProperty_IsRunning = fourCharCode("aqrn");
inline constexpr AudioQueuePropertyID kAudioQueueProperty_MagicCookie = fourCharCode("aqmc");

// Where a queue's audio goes. The device is the default.
struct AudioOutputChoice {
    enum class Kind {
        Device,   // the sound device, through SDL audio
        WavFile,  // a WAV file at wavPath, as fast as the audio comes
        Null,     // discarded, in real time or as fast as it comes
    };
    Kind kind = Kind::Device;
    std::string wavPath;
    bool realTime = true;  // Null only
};

// The queue's calls, as the platform names them. AudioQueueNewOutput plays to
// the sound device.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* inFormat,
                             AudioQueueOutputCallback inCallbackProc, void* inUserData,
                             CFRunLoopRef inCallbackRunLoop, CFRunLoopMode inCallbackRunLoopMode,
                             UInt32 inFlags, AudioQueueRef* outAQ);
// The same, to the chosen output.
OSStatus AudioQueueNewOutputTo(const AudioOutputChoice& output,
                               const AudioStreamBasicDescription* inFormat,
                               AudioQueueOutputCallback inCallbackProc, void* inUserData,
                               CFRunLoopRef inCallbackRunLoop, CFRunLoopMode inCallbackRunLoopMode,
                               UInt32 inFlags, AudioQueueRef* outAQ);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef inAQ, AudioQueuePropertyID inID,
                                       AudioQueuePropertyListenerProc inProc, void* inUserData);
OSStatus AudioQueueAllocateBuffer(AudioQueueRef inAQ, UInt32 inBufferByteSize,
                                  AudioQueueBufferRef* outBuffer);
OSStatus AudioQueueSetProperty(AudioQueueRef inAQ, AudioQueuePropertyID inID, const void* inData,
                               UInt32 inDataSize);
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef inAQ, AudioQueueBufferRef inBuffer,
                                 UInt32 inNumPacketDescs,
                                 const AudioStreamPacketDescription* inPacketDescs);
OSStatus AudioQueueStart(AudioQueueRef inAQ, const AudioTimeStamp* inStartTime);
OSStatus AudioQueueFlush(AudioQueueRef inAQ);
OSStatus AudioQueueStop(AudioQueueRef inAQ, Boolean inImmediate);
OSStatus AudioQueueDispose(AudioQueueRef inAQ, Boolean inImmediate);

// The last failure's explanation for a user (the output's or decoder's own
// words), empty when nothing failed.
std::string AudioQueueErrorText(AudioQueueRef inAQ);

}  // namespace orvento
