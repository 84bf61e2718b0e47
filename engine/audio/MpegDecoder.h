// MPEG audio Layers I to III through libmpg123's feed interface.
#pragma once

#include <memory>

#include "engine/audio/Decoder.h"

struct mpg123_handle_struct;

namespace orvento {

class MpegDecoder final : public Decoder {
  public:
    // nullptr (with `error`) when libmpg123 cannot be set up.
    static std::unique_ptr<MpegDecoder> create(std::string& error);
    ~MpegDecoder() override;

    bool decode(std::span<const std::byte> data, bool wholePacket, PcmBuffer& out) override;
    // Frames are decoded as soon as they are complete: nothing is held back.
    void flush(PcmBuffer& /*out*/) override {}
    void reset() override;

    // The length in bytes and the duration in frames of the MPEG audio frame
    // whose header starts `data`; false when `data` does not start with a
    // valid header. Length 0 means free format (length not in the header).
    static bool parseHeader(std::span<const std::byte> data, std::size_t& length,
                            std::size_t& samples);

  private:
    struct HandleDeleter {
        void operator()(mpg123_handle_struct* handle) const;
    };
    explicit MpegDecoder(std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle);
    bool drain(PcmBuffer& out);

    std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle_;
    PcmFormat format_;                  // of the frames libmpg123 now returns
    std::size_t lastFrameSamples_ = 0;  // duration of the last valid frame
};

}  // namespace orvento
