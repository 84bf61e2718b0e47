#include "engine/platform/session/AudioSession.h"

#include <cstring>
#include <mutex>

namespace orvento {
namespace {

// The session is process-wide by nature, like the sound device it stands for.
struct Session {
    std::mutex mutex;
    AudioSessionState state;                              // guarded by mutex
    AudioSessionInterruptionListener listener = nullptr;  // guarded by mutex
    void* listenerData = nullptr;                         // guarded by mutex
};

Session& session() {
    static Session instance;
    return instance;
}

}  // namespace

OSStatus AudioSessionInitialize(CFRunLoopRef /*inRunLoop*/, CFRunLoopMode /*inRunLoopMode*/,
                                AudioSessionInterruptionListener inInterruptionListener,
                                void* inClientData) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.listener = inInterruptionListener;
    s.listenerData = inClientData;
    return noErr;
}

OSStatus AudioSessionSetProperty(AudioSessionPropertyID inID, UInt32 inDataSize,
                                 const void* inData) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    if (inID == kAudioSessionProperty_AudioCategory && inDataSize == sizeof(UInt32) &&
        inData != nullptr) {
        std::memcpy(&s.state.category, inData, sizeof(UInt32));
    }
    return noErr;
}

OSStatus AudioSessionSetActive(Boolean active) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.state.active = active;
    return noErr;
}

AudioSessionState AudioSessionGetState() {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    return s.state;
}

}  // namespace orvento
