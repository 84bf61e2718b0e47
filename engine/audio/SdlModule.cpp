// The sound device module (orvento_queue_sdl.so): the only code that needs
// SDL2, loaded by the queue when it first opens the sound device.
#include <new>

#include "engine/audio/QueueModules.h"
#include "engine/audio/SdlOutput.h"

namespace orvento {
namespace {

std::unique_ptr<AudioOutput> create(const std::string& deviceName) {
    try {
        return std::make_unique<SdlOutput>(deviceName);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

constexpr DeviceOutputModule kModule{ORVENTO_QUEUE_MODULE_ABI, &create};

}  // namespace
}  // namespace orvento

const orvento::DeviceOutputModule* orvento_queue_sdl_module() {
    return &orvento::kModule;
}
