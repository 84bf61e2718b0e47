#include "engine/platform/queue/Decoder.h"

#include "engine/platform/queue/AudioQueue.h"
#include "engine/platform/queue/MpegDecoder.h"
#include "engine/platform/queue/PcmDecoder.h"
#include "engine/platform/queue/QueueModules.h"

namespace orvento {

OSStatus makeDecoder(const AudioStreamBasicDescription& format, std::unique_ptr<Decoder>& decoder,
                     std::string& error) {
    const bool rateOk = format.mSampleRate >= 1.0 && format.mSampleRate <= 1e6;
    switch (format.mFormatID) {
        case kAudioFormatLinearPCM:
            decoder = PcmDecoder::create(format);
            if (decoder == nullptr) {
                error = "linear PCM of this kind is not supported";
                return kAudioFormatUnsupportedDataFormatError;
            }
            return noErr;
        case kAudioFormatMPEGLayer1:
        case kAudioFormatMPEGLayer2:
        case kAudioFormatMPEGLayer3:
            if (!rateOk || format.mChannelsPerFrame < 1 || format.mChannelsPerFrame > 2) {
                error = "MPEG audio: impossible sample rate or channel count";
                return kAudioFormatUnsupportedDataFormatError;
            }
            decoder = MpegDecoder::create(error);
            return decoder != nullptr ? noErr : kAudioQueueErr_CodecNotFound;
        case kAudioFormatMPEG4AAC: {
            if (!rateOk || format.mChannelsPerFrame < 1 || format.mChannelsPerFrame > 8) {
                error = "AAC: impossible sample rate or channel count";
                return kAudioFormatUnsupportedDataFormatError;
            }
            const AacDecoderModule* module = aacDecoderModule(error);
            if (module == nullptr) {
                return kAudioQueueErr_CodecNotFound;
            }
            decoder = module->create(format, error);
            return decoder != nullptr ? noErr : kAudioQueueErr_CodecNotFound;
        }
        default:
            error = "the audio format is not supported";
            return kAudioFormatUnsupportedDataFormatError;
    }
}

bool aacCookieUsable(const AudioStreamBasicDescription& format, std::span<const std::byte> cookie,
                     std::string& error) {
    const AacDecoderModule* module = aacDecoderModule(error);
    return module != nullptr && module->cookieUsable(format, cookie, error);
}

}  // namespace orvento
