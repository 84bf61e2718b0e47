#include <gtest/gtest.h>

#include "engine/platform/session/AudioSession.h"

namespace orvento {
namespace {

void ignoreInterruption(void* /*clientData*/, UInt32 /*state*/) {}

TEST(AudioSession, RecordsCategoryAndActivationAndAlwaysSucceeds) {
    const AudioSessionState before = AudioSessionGetState();
    int client = 0;
    EXPECT_EQ(AudioSessionInitialize(nullptr, nullptr, ignoreInterruption, &client), noErr);
    const UInt32 category = kAudioSessionCategory_MediaPlayback;
    EXPECT_EQ(
        AudioSessionSetProperty(kAudioSessionProperty_AudioCategory, sizeof category, &category),
        noErr);
    EXPECT_EQ(AudioSessionSetActive(true), noErr);

    AudioSessionState now = AudioSessionGetState();
    EXPECT_EQ(now.category, kAudioSessionCategory_MediaPlayback);
    EXPECT_TRUE(now.active);
    EXPECT_EQ(now.initializeCalls, before.initializeCalls + 1);
    EXPECT_EQ(now.activations, before.activations + 1);

    EXPECT_EQ(AudioSessionSetActive(false), noErr);
    now = AudioSessionGetState();
    EXPECT_FALSE(now.active);
    EXPECT_EQ(now.deactivations, before.deactivations + 1);
}

}  // namespace
}  // namespace orvento
