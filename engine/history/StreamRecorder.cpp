#include "engine/history/StreamRecorder.h"

namespace orvento {

void StreamRecorder::formatKnown(const AudioStreamBasicDescription& format,
                                 std::span<const std::uint8_t> magicCookie) {
    if (failed_) {
        return;
    }
    writer_.close();
    std::string error;
    const std::string extension = StreamFileWriter::extensionFor(format);
    path_ = extension.empty() ? std::string{} : pathFor_(extension, error);
    if (extension.empty()) {
        fail("this stream's format cannot be recorded as it came");
    } else if (path_.empty()) {
        fail(error);
    } else if (!writer_.open(path_, format, magicCookie, replace_, error)) {
        fail("cannot record to " + path_ + ": " + error);
    }
}

void StreamRecorder::packets(std::span<const std::uint8_t> data,
                             std::span<const AudioStreamPacketDescription> descriptions,
                             std::chrono::steady_clock::time_point /*arrival*/) {
    std::string error;
    for (const AudioStreamPacketDescription& d : descriptions) {
        if (!writer_.isOpen()) {
            return;
        }
        if (!writer_.write(data.subspan(static_cast<std::size_t>(d.mStartOffset), d.mDataByteSize),
                           error)) {
            fail("recording stopped: " + error + "; " + path_ + " keeps what was written");
        }
    }
}

void StreamRecorder::fail(const std::string& why) {
    writer_.close();
    failed_ = true;
    onFailure_(why);
}

}  // namespace orvento
