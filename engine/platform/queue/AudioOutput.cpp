#include "engine/platform/queue/AudioOutput.h"

#include "engine/platform/queue/AudioTap.h"
#include "engine/platform/queue/NullOutput.h"
#include "engine/platform/queue/QueueModules.h"
#include "engine/platform/queue/WavFileOutput.h"

namespace orvento {

namespace {

std::unique_ptr<AudioOutput> makeUntapped(const AudioOutputChoice& choice, std::string& error) {
    switch (choice.kind) {
        case AudioOutputChoice::Kind::WavFile:
            return std::make_unique<WavFileOutput>(choice.wavPath);
        case AudioOutputChoice::Kind::Null:
            return std::make_unique<NullOutput>(choice.realTime);
        case AudioOutputChoice::Kind::Device:
            break;
    }
    const DeviceOutputModule* module = deviceOutputModule(error);
    if (module == nullptr) {
        return nullptr;
    }
    std::unique_ptr<AudioOutput> output = module->create(choice.deviceName);
    if (output == nullptr) {
        error = "out of memory";
    }
    return output;
}

}  // namespace

std::unique_ptr<AudioOutput> makeOutput(const AudioOutputChoice& choice, std::string& error) {
    std::unique_ptr<AudioOutput> output = makeUntapped(choice, error);
    if (output != nullptr && choice.onAudio) {
        output = std::make_unique<AudioTap>(std::move(output), choice.onAudio);
    }
    return output;
}

}  // namespace orvento
