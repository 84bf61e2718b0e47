// The queue's decoders: one per format family, each turning packets into
// interleaved float audio. A decoder is used by the queue's thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "engine/audio/OutputQueue.h"
#include "engine/audio/PcmBuffer.h"
#include "engine/base/AudioFormat.h"
#include "engine/base/StatusCode.h"

namespace orvento {

class Decoder {
  public:
    virtual ~Decoder() = default;

    // Decodes one packet (wholePacket true: exactly one packet as described by
    // the caller) or a run of bytes cut anywhere (wholePacket false) and appends
    // the audio that is ready to `out`. Returns false when the data could not be
    // decoded: it was skipped, silence of its duration (when known) was
    // appended instead, and errorText() says why.
    virtual bool decode(std::span<const std::byte> data, bool wholePacket, PcmBuffer& out) = 0;

    // Appends whatever audio the decoder still holds, as at the end of the
    // data: a last partial frame completed with zeros, frames held back.
    virtual void flush(PcmBuffer& out) = 0;

    // Forgets everything held: the next data starts afresh.
    virtual void reset() = 0;

    // A new magic cookie for the packets that follow. Returns false (with
    // errorText()) when the decoder cannot use it; it then keeps the old one.
    virtual bool setCookie(std::span<const std::byte> /*cookie*/) { return true; }

    // The library's words for the last failure.
    const std::string& errorText() const { return errorText_; }

  protected:
    std::string errorText_;
};

// Checks `format` and builds its decoder. Returns QueueError::None, or
// QueueError::UnsupportedFormat for a format the queue cannot play, or
// QueueError::CodecNotFound when the library fails to set up (with `error`
// saying why).
QueueError makeDecoder(const AudioFormat& format, std::unique_ptr<Decoder>& decoder,
                       std::string& error);

// For AAC: whether the decoder accepts `cookie` for `format`, tried on a
// throw-away decoder so that any thread may ask.
bool aacCookieUsable(const AudioFormat& format, std::span<const std::byte> cookie,
                     std::string& error);

}  // namespace orvento
