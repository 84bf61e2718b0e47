#include "engine/player/EngineServices.h"

#include <cstdio>
#include <string>
#include <utility>

namespace orvento {

namespace {

AudioOutputChoice withLog(AudioOutputChoice output, const LogSink& log) {
    if (!output.log) {
        output.log = log;
    }
    return output;
}

}  // namespace

EngineServices::EngineServices(AudioOutputChoice output, LogSink log)
    : log_(std::move(log)), output_(withLog(std::move(output), log_)) {}

void EngineServices::logLine(std::string_view line) {
    if (log_) {
        log_(line);
        return;
    }
    std::string text(line);
    text += '\n';
    // One stdio call holds the stream's lock for the whole line, so lines
    // from different threads never interleave.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

StreamParserCreation EngineServices::makeStreamParser(StreamParser::Listener& listener,
                                                      AudioFileType hint) {
    return {::orvento::makeStreamParser(listener, hint)};
}

OutputQueueCreation EngineServices::makeOutputQueue(const AudioFormat& format,
                                                    OutputQueue::Listener& listener) {
    return ::orvento::makeOutputQueue(format, output_, listener);
}

std::unique_ptr<HttpStream> EngineServices::makeHttpStream(const Url& url) {
    return HttpStream::create(url);
}

RunLoop::RunResult EngineServices::runCurrentLoop(RunLoop::Seconds time,
                                                  bool returnAfterSourceHandled) {
    return RunLoop::current().run(time, returnAfterSourceHandled);
}

bool EngineServices::postToRunLoop(RunLoop& loop, std::function<void()> work) {
    return loop.post(std::move(work));
}

}  // namespace orvento
