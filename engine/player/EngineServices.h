// The engine's one seam to its services: a stream player gets its streaming
// parser, output queue and HTTP stream from the factory members here, and
// runs and wakes its run loop through them. The defaults make the real ones;
// a test double or a benchmark derives and wraps what they make, to fake a
// result, count calls or act at one.
//
// Threads: a player calls its parser's, stream's and queue's operations and
// runCurrentLoop on its worker thread, except the queue's stop and the
// stream's close and destruction (also from the thread that calls the
// player's stop); postToRunLoop and logLine from any thread. One object may
// serve several players at once, so an override keeps no per-call state
// without a lock.
//
// Log. The lines the engine writes on its own go to the sink given at
// construction: a player's error lines ("<operation> err <code> <status>")
// through logLine, and the output queue's lines (an output that cannot
// start, a decoder failure). Without a sink, the error lines go to standard
// output and the queue's lines to standard error, as a command-line program
// expects them. The sink is called on any of the threads above, one line at
// a time, and must not call back into the player.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "engine/LogSink.h"
#include "engine/audio/OutputQueue.h"
#include "engine/base/AudioFormat.h"
#include "engine/demux/StreamParser.h"
#include "engine/net/HttpStream.h"
#include "engine/net/RunLoop.h"
#include "engine/net/Url.h"

namespace orvento {

// A new parser, or the error that kept it from being made (making a real
// parser does not fail; an override may say it did).
struct StreamParserCreation {
    std::unique_ptr<StreamParser> parser;
    ParserError error = ParserError::None;
};

class EngineServices {
  public:
    // New queues go to `output` (the sound device by default); the engine's
    // own lines to `log` (see above; it also becomes the queues' log unless
    // `output` has one).
    explicit EngineServices(AudioOutputChoice output = {}, LogSink log = {});
    virtual ~EngineServices() = default;
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    const LogSink& logSink() const { return log_; }
    const AudioOutputChoice& output() const { return output_; }

    // A streaming parser (StreamParser.h) telling `listener`. It must not
    // outlive this object.
    virtual StreamParserCreation makeStreamParser(StreamParser::Listener& listener,
                                                  AudioFileType hint);
    // An output queue for `format`, playing to output() and telling `listener`.
    virtual OutputQueueCreation makeOutputQueue(const AudioFormat& format,
                                                OutputQueue::Listener& listener);
    // A GET of `url` (HttpStream::create, default options); null when the
    // stream cannot be created.
    virtual std::unique_ptr<HttpStream> makeHttpStream(const Url& url);
    // Runs the calling thread's loop (RunLoop::run).
    virtual RunLoop::RunResult runCurrentLoop(RunLoop::Seconds time, bool returnAfterSourceHandled);
    // RunLoop::post on `loop`; false once the loop has shut down. Any thread.
    virtual bool postToRunLoop(RunLoop& loop, std::function<void()> work);

    // Writes one of the engine's own lines (without its line end) to the log.
    void logLine(std::string_view line);

  private:
    const LogSink log_;
    const AudioOutputChoice output_;
};

}  // namespace orvento
