#include "engine/audio/AudioOutput.h"

#include <cstdlib>

#include "engine/audio/AudioTap.h"
#include "engine/audio/NullOutput.h"
#include "engine/audio/QueueModules.h"
#include "engine/audio/WavFileOutput.h"

namespace orvento {
namespace {

// SDL_AUDIODRIVER hands the choice of driver to SDL; without it the
// desktop's sound server is tried first.
bool pulseWanted(const AudioOutputChoice& choice) {
    const char* driver = std::getenv("SDL_AUDIODRIVER");  // NOLINT(concurrency-mt-unsafe)
    return choice.deviceName.empty() && (driver == nullptr || *driver == '\0');
}

std::unique_ptr<AudioOutput> openDevice(const DeviceOutputModule& module,
                                        const std::string& deviceName, const PcmFormat& requested,
                                        std::string& error) {
    std::unique_ptr<AudioOutput> output = module.create(deviceName);
    if (output == nullptr) {
        error = "out of memory";
    } else if (!output->open(requested, error)) {
        output.reset();
    }
    return output;
}

std::unique_ptr<AudioOutput> openUntapped(const AudioOutputChoice& choice,
                                          const PcmFormat& requested, std::string& error,
                                          bool& moduleMissing) {
    moduleMissing = false;
    std::unique_ptr<AudioOutput> output;
    switch (choice.kind) {
        case AudioOutputChoice::Kind::WavFile:
            output = std::make_unique<WavFileOutput>(choice.wavPath);
            break;
        case AudioOutputChoice::Kind::Null:
            output = std::make_unique<NullOutput>(choice.realTime);
            break;
        case AudioOutputChoice::Kind::Feed:
            if (choice.feed == nullptr) {
                error = "no feed given";
                return nullptr;
            }
            output = choice.feed->makeOutput();
            break;
        case AudioOutputChoice::Kind::Device: {
            std::string ignored;
            if (const DeviceOutputModule* pulse =
                    pulseWanted(choice) ? pulseOutputModule(ignored) : nullptr) {
                // No server answering is no failure: SDL finds what there is.
                if (auto opened = openDevice(*pulse, {}, requested, ignored)) {
                    return opened;
                }
            }
            const DeviceOutputModule* module = deviceOutputModule(error);
            if (module == nullptr) {
                moduleMissing = true;
                return nullptr;
            }
            return openDevice(*module, choice.deviceName, requested, error);
        }
    }
    if (!output->open(requested, error)) {
        output.reset();
    }
    return output;
}

}  // namespace

std::unique_ptr<AudioOutput> openOutput(const AudioOutputChoice& choice, const PcmFormat& requested,
                                        std::string& error, bool& moduleMissing) {
    std::unique_ptr<AudioOutput> output = openUntapped(choice, requested, error, moduleMissing);
    if (output != nullptr && (choice.onAudio || choice.muted)) {
        output = std::make_unique<AudioTap>(std::move(output), choice.onAudio, choice.muted);
    }
    return output;
}

}  // namespace orvento
