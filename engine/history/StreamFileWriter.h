// StreamFileWriter: writes a station's own compressed packets to a file that
// players open, without re-encoding: MPEG audio frames as they came (an .mp3
// file), AAC access units each behind an ADTS header made from the stream's
// format (an .aac file). Other formats cannot be written this way.
//
// A write that fails (a full disk, a file size limit, a folder that went
// away) leaves the file ending with the last whole packet, so the part
// written stays playable, and ends the writer: failed() is then true and
// every later write is refused.
//
// Threads: one at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/history/StationHistory.h"

namespace orvento {

class StreamFileWriter {
  public:
    StreamFileWriter() = default;
    ~StreamFileWriter();
    StreamFileWriter(const StreamFileWriter&) = delete;
    StreamFileWriter& operator=(const StreamFileWriter&) = delete;

    // "mp3" or "aac" for a format that can be written; empty otherwise.
    static std::string extensionFor(const AudioFormat& format);

    // Creates `path` for packets of `format`; an existing file is replaced
    // only when `replace`. False with `error` (the system's words) when it
    // cannot.
    bool open(const std::string& path, const AudioFormat& format,
              std::span<const std::uint8_t> cookie, bool replace, std::string& error);
    // Opens `path`, which holds whole packets of `format` already, to write
    // on after them; bytesWritten() then counts those too. False with `error`
    // when it cannot (also when the file is gone).
    bool append(const std::string& path, const AudioFormat& format,
                std::span<const std::uint8_t> cookie, std::string& error);
    // One packet; false with `error` once writing has failed.
    bool write(std::span<const std::uint8_t> packet, std::string& error);
    // Every packet of `excerpt` (of the format opened with).
    bool write(const StationHistory::Excerpt& excerpt, std::string& error);
    void close();

    bool isOpen() const { return fd_ >= 0; }
    bool failed() const { return failed_; }
    std::uint64_t bytesWritten() const { return written_; }

  private:
    bool openWith(const std::string& path, const AudioFormat& format,
                  std::span<const std::uint8_t> cookie, int flags, std::string& error);
    // Writes all of `bytes`; false with errno set when it cannot.
    bool writeAll(const std::uint8_t* bytes, std::size_t size);

    int fd_ = -1;
    bool adts_ = false;
    // ADTS header fields: object type less one, rate index, channel layout.
    unsigned profile_ = 1, rateIndex_ = 0, channels_ = 0;
    bool failed_ = false;
    std::uint64_t written_ = 0;  // bytes of whole packets
};

}  // namespace orvento
