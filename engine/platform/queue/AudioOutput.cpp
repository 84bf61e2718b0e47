#include "engine/platform/queue/AudioOutput.h"

#include "engine/platform/queue/NullOutput.h"
#include "engine/platform/queue/SdlOutput.h"
#include "engine/platform/queue/WavFileOutput.h"

namespace orvento {

std::unique_ptr<AudioOutput> makeOutput(const AudioOutputChoice& choice) {
    switch (choice.kind) {
        case AudioOutputChoice::Kind::WavFile:
            return std::make_unique<WavFileOutput>(choice.wavPath);
        case AudioOutputChoice::Kind::Null:
            return std::make_unique<NullOutput>(choice.realTime);
        case AudioOutputChoice::Kind::Device:
            break;
    }
    return std::make_unique<SdlOutput>(choice.deviceName);
}

}  // namespace orvento
