#include "engine/audio/Decoder.h"

#include "engine/audio/MpegDecoder.h"
#include "engine/audio/OutputQueue.h"
#include "engine/audio/PcmDecoder.h"
#include "engine/audio/QueueModules.h"

namespace orvento {

QueueError makeDecoder(const AudioFormat& format, std::unique_ptr<Decoder>& decoder,
                       std::string& error) {
    const bool rateOk = format.sampleRate >= 1.0 && format.sampleRate <= 1e6;
    switch (format.formatId) {
        case kFormatLinearPcm:
            decoder = PcmDecoder::create(format);
            if (decoder == nullptr) {
                error = "linear PCM of this kind is not supported";
                return QueueError::UnsupportedFormat;
            }
            return QueueError::None;
        case kFormatMpegLayer1:
        case kFormatMpegLayer2:
        case kFormatMpegLayer3:
            if (!rateOk || format.channelsPerFrame < 1 || format.channelsPerFrame > 2) {
                error = "MPEG audio: impossible sample rate or channel count";
                return QueueError::UnsupportedFormat;
            }
            decoder = MpegDecoder::create(error);
            return decoder != nullptr ? QueueError::None : QueueError::CodecNotFound;
        case kFormatAac: {
            if (!rateOk || format.channelsPerFrame < 1 || format.channelsPerFrame > 8) {
                error = "AAC: impossible sample rate or channel count";
                return QueueError::UnsupportedFormat;
            }
            const AacDecoderModule* module = aacDecoderModule(error);
            if (module == nullptr) {
                return QueueError::CodecNotFound;
            }
            decoder = module->create(format, error);
            return decoder != nullptr ? QueueError::None : QueueError::CodecNotFound;
        }
        default:
            error = "the audio format is not supported";
            return QueueError::UnsupportedFormat;
    }
}

bool aacCookieUsable(const AudioFormat& format, std::span<const std::byte> cookie,
                     std::string& error) {
    const AacDecoderModule* module = aacDecoderModule(error);
    return module != nullptr && module->cookieUsable(format, cookie, error);
}

}  // namespace orvento
