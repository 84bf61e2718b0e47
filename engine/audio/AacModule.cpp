// The AAC decoder module (orvento_queue_aac.so): the only code that needs
// libavcodec and libavutil, loaded by the queue when it first meets AAC.
#include <new>

#include "engine/audio/AacDecoder.h"
#include "engine/audio/QueueModules.h"

namespace orvento {
namespace {

std::unique_ptr<Decoder> create(const AudioFormat& format, std::string& error) {
    try {
        return AacDecoder::create(format, error);
    } catch (const std::bad_alloc&) {
        error = "AAC: out of memory";
        return nullptr;
    }
}

bool cookieUsable(const AudioFormat& format, std::span<const std::byte> cookie,
                  std::string& error) {
    try {
        return AacDecoder::open(format, cookie, error) != nullptr;
    } catch (const std::bad_alloc&) {
        error = "AAC: out of memory";
        return false;
    }
}

constexpr AacDecoderModule kModule{ORVENTO_QUEUE_MODULE_ABI, &create, &cookieUsable};

}  // namespace
}  // namespace orvento

const orvento::AacDecoderModule* orvento_queue_aac_module() {
    return &orvento::kModule;
}
