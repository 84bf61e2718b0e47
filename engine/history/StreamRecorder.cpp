#include "engine/history/StreamRecorder.h"

namespace orvento {

bool StreamRecorder::continuesLastFile(const AudioFormat& format) const {
    return next_ == NextStream::appendWhileSameFormat && lastFormat_ &&
           lastFormat_->formatId == format.formatId &&
           lastFormat_->sampleRate == format.sampleRate &&
           lastFormat_->channelsPerFrame == format.channelsPerFrame;
}

void StreamRecorder::formatKnown(const AudioFormat& format,
                                 std::span<const std::uint8_t> magicCookie) {
    if (failed_) {
        return;
    }
    writer_.close();
    std::string error;
    const std::string extension = StreamFileWriter::extensionFor(format);
    if (extension.empty()) {
        fail("this stream's format cannot be recorded as it came");
        return;
    }
    if (continuesLastFile(format)) {
        if (!writer_.append(path_, format, magicCookie, error)) {
            fail("cannot record on to " + path_ + ": " + error);
        }
        return;
    }
    const bool first = !lastFormat_;
    path_ = pathFor_(extension, error);
    lastFormat_ = format;
    if (path_.empty()) {
        fail(error);
        return;
    }
    // Written on, only the first file may replace one that was there: a later
    // one is a file of its own.
    const bool replace = replace_ && (first || next_ == NextStream::newFile);
    if (!writer_.open(path_, format, magicCookie, replace, error)) {
        fail("cannot record to " + path_ + ": " + error);
        return;
    }
    std::lock_guard lock(filesMutex_);
    files_.push_back(path_);
}

void StreamRecorder::packets(std::span<const std::uint8_t> data,
                             std::span<const PacketDescription> descriptions,
                             std::chrono::steady_clock::time_point /*arrival*/) {
    std::string error;
    for (const PacketDescription& d : descriptions) {
        if (!writer_.isOpen()) {
            return;
        }
        if (!writer_.write(data.subspan(static_cast<std::size_t>(d.startOffset), d.byteSize),
                           error)) {
            fail("recording stopped: " + error + "; " + path_ + " keeps what was written");
        }
    }
}

std::vector<std::string> StreamRecorder::files() const {
    std::lock_guard lock(filesMutex_);
    return files_;
}

void StreamRecorder::fail(const std::string& why) {
    writer_.close();
    failed_ = true;
    onFailure_(why);
}

}  // namespace orvento
