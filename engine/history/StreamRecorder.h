// StreamRecorder: a tap that writes the stream's own packets to a file as
// they arrive (StreamFileWriter.h): each stream it sees goes to the file
// pathFor names for that stream's format. A file that cannot be made, or a
// write that fails, ends the recording: onFailure is told why (once), the
// file keeps its whole frames, and nothing else is affected.
//
// Threads: as PacketTap's; onFailure runs on the calling thread.
#pragma once

#include <functional>
#include <string>

#include "engine/PacketTap.h"
#include "engine/history/StreamFileWriter.h"

namespace orvento {

class StreamRecorder final : public PacketTap {
  public:
    // The file for a stream of `format` and its extension (StreamFileWriter::
    // extensionFor), or empty with `error` when there is none.
    using PathFor = std::function<std::string(const std::string& extension, std::string& error)>;
    using Failure = std::function<void(const std::string& why)>;

    StreamRecorder(PathFor pathFor, bool replace, Failure onFailure)
        : pathFor_(std::move(pathFor)), replace_(replace), onFailure_(std::move(onFailure)) {}

    void formatKnown(const AudioStreamBasicDescription& format,
                     std::span<const std::uint8_t> magicCookie) override;
    void packets(std::span<const std::uint8_t> data,
                 std::span<const AudioStreamPacketDescription> descriptions,
                 std::chrono::steady_clock::time_point arrival) override;
    void streamEnded() override { writer_.close(); }

  private:
    void fail(const std::string& why);

    const PathFor pathFor_;
    const bool replace_;
    const Failure onFailure_;
    StreamFileWriter writer_;
    std::string path_;
    bool failed_ = false;
};

}  // namespace orvento
