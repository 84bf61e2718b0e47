// StreamRecorder: a tap that writes the stream's own packets to a file as
// they arrive (StreamFileWriter.h): each stream it sees goes to the file
// pathFor names for that stream's format. A file that cannot be made, or a
// write that fails, ends the recording: onFailure is told why (once), the
// file keeps its whole frames, and nothing else is affected.
//
// Streams one after the other (the reconnections of one station). With
// NextStream::newFile each goes to a file pathFor names afresh. With
// NextStream::appendWhileSameFormat a stream of the format of the one before
// (the same codec, sample rate and channels) is written on at the end of that
// stream's file, so nothing of a station that drops and comes back is lost;
// one of another format goes to a new file from pathFor, created afresh
// (only the first file may replace one that was there, when `replace`).
//
// Threads: as PacketTap's; onFailure runs on the calling thread. files() may
// be called from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/history/StreamFileWriter.h"
#include "engine/player/PacketTap.h"

namespace orvento {

class StreamRecorder final : public PacketTap {
  public:
    // The file for a stream of `format` and its extension (StreamFileWriter::
    // extensionFor), or empty with `error` when there is none.
    using PathFor = std::function<std::string(const std::string& extension, std::string& error)>;
    using Failure = std::function<void(const std::string& why)>;
    enum class NextStream { newFile, appendWhileSameFormat };

    StreamRecorder(PathFor pathFor, bool replace, Failure onFailure,
                   NextStream next = NextStream::newFile)
        : pathFor_(std::move(pathFor)),
          replace_(replace),
          onFailure_(std::move(onFailure)),
          next_(next) {}

    void formatKnown(const AudioFormat& format, std::span<const std::uint8_t> magicCookie) override;
    void packets(std::span<const std::uint8_t> data,
                 std::span<const PacketDescription> descriptions,
                 std::chrono::steady_clock::time_point arrival) override;
    void streamEnded() override { writer_.close(); }

    // The files written to so far, each once, in the order begun.
    std::vector<std::string> files() const;

  private:
    void fail(const std::string& why);
    // The stream of `format` is written on at the end of the last file.
    bool continuesLastFile(const AudioFormat& format) const;

    const PathFor pathFor_;
    const bool replace_;
    const Failure onFailure_;
    const NextStream next_;
    StreamFileWriter writer_;
    std::string path_;
    std::optional<AudioFormat> lastFormat_;  // of path_'s packets
    bool failed_ = false;
    mutable std::mutex filesMutex_;
    std::vector<std::string> files_;  // guarded by filesMutex_
};

}  // namespace orvento
