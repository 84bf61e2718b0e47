// The PulseAudio output module (orvento_queue_pulse.so): the only code that
// needs libpulse, loaded by the queue when it first opens the sound device
// on a desktop whose sound server speaks PulseAudio.
#include <new>

#include "engine/audio/PulseOutput.h"
#include "engine/audio/QueueModules.h"

namespace orvento {
namespace {

std::unique_ptr<AudioOutput> create(const std::string& sinkName) {
    try {
        return std::make_unique<PulseOutput>(sinkName);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

constexpr DeviceOutputModule kModule{ORVENTO_QUEUE_MODULE_ABI, &create};

}  // namespace
}  // namespace orvento

const orvento::DeviceOutputModule* orvento_queue_pulse_module() {
    return &orvento::kModule;
}
