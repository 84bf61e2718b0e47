#include "engine/history/StreamFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace orvento {

namespace {

constexpr std::array<int, 13> kAdtsRates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
constexpr std::size_t kAdtsHeaderBytes = 7;
constexpr std::size_t kAdtsMaxFrame = (1U << 13) - 1;

bool isMpeg(std::uint32_t id) {
    return id == kFormatMpegLayer1 || id == kFormatMpegLayer2 || id == kFormatMpegLayer3;
}

}  // namespace

StreamFileWriter::~StreamFileWriter() {
    close();
}

std::string StreamFileWriter::extensionFor(const AudioFormat& format) {
    if (isMpeg(format.formatId)) {
        return format.formatId == kFormatMpegLayer3   ? "mp3"
               : format.formatId == kFormatMpegLayer2 ? "mp2"
                                                      : "mp1";
    }
    return format.formatId == kFormatAac ? "aac" : "";
}

bool StreamFileWriter::open(const std::string& path, const AudioFormat& format,
                            std::span<const std::uint8_t> cookie, bool replace,
                            std::string& error) {
    return openWith(path, format, cookie, O_CREAT | (replace ? O_TRUNC : O_EXCL), error);
}

bool StreamFileWriter::append(const std::string& path, const AudioFormat& format,
                              std::span<const std::uint8_t> cookie, std::string& error) {
    return openWith(path, format, cookie, O_APPEND, error);
}

bool StreamFileWriter::openWith(const std::string& path, const AudioFormat& format,
                                std::span<const std::uint8_t> cookie, int flags,
                                std::string& error) {
    close();
    failed_ = false;
    written_ = 0;
    if (extensionFor(format).empty()) {
        error = "this stream's format cannot be saved as it came";
        return false;
    }
    adts_ = format.formatId == kFormatAac;
    if (adts_) {
        // The AudioSpecificConfig says it best; the format otherwise.
        if (cookie.size() >= 2) {
            profile_ = (cookie[0] >> 3U) - 1U;
            rateIndex_ = ((cookie[0] & 7U) << 1U) | (cookie[1] >> 7U);
            channels_ = (cookie[1] >> 3U) & 15U;
        } else {
            profile_ = (format.formatFlags != 0 ? format.formatFlags : kAacObjectLowComplexity) - 1;
            rateIndex_ = 15;
            for (unsigned i = 0; i < kAdtsRates.size(); ++i) {
                if (std::lround(format.sampleRate) == kAdtsRates[i]) {
                    rateIndex_ = i;
                }
            }
            channels_ = format.channelsPerFrame;
        }
        if (profile_ > 3 || rateIndex_ >= kAdtsRates.size() || channels_ > 7) {
            error = "this AAC stream cannot be saved with ADTS headers";
            return false;
        }
    }
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    // A failed write cuts the file back to here at the least.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    written_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    return true;
}

bool StreamFileWriter::write(std::span<const std::uint8_t> packet, std::string& error) {
    if (fd_ < 0 || failed_) {
        error = failed_ ? "writing had failed" : "no file is open";
        return false;
    }
    std::array<std::uint8_t, kAdtsHeaderBytes> header{};
    std::size_t headerBytes = 0;
    if (adts_) {
        const std::size_t length = packet.size() + kAdtsHeaderBytes;
        if (length > kAdtsMaxFrame) {
            return true;  // no AAC access unit is this large: not audio, left out
        }
        header = {
            0xFF,
            0xF1,  // MPEG-4, no CRC
            static_cast<std::uint8_t>((profile_ << 6U) | (rateIndex_ << 2U) | (channels_ >> 2U)),
            static_cast<std::uint8_t>(((channels_ & 3U) << 6U) | (length >> 11U)),
            static_cast<std::uint8_t>((length >> 3U) & 0xFFU),
            static_cast<std::uint8_t>(((length & 7U) << 5U) | 0x1FU),
            0xFC};
        headerBytes = kAdtsHeaderBytes;
    }
    if (!writeAll(header.data(), headerBytes) || !writeAll(packet.data(), packet.size())) {
        error = std::strerror(errno);
        failed_ = true;
        // The file ends with the last whole packet.
        if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
            error += "; the file may end inside a frame";
        }
        return false;
    }
    written_ += headerBytes + packet.size();
    return true;
}

bool StreamFileWriter::write(const StationHistory::Excerpt& excerpt, std::string& error) {
    for (const PacketDescription& d : excerpt.descriptions) {
        if (!write(std::span(excerpt.bytes)
                       .subspan(static_cast<std::size_t>(d.startOffset), d.byteSize),
                   error)) {
            return false;
        }
    }
    return true;
}

bool StreamFileWriter::writeAll(const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void StreamFileWriter::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace orvento
