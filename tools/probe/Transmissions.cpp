#include "tools/probe/Transmissions.h"

#include <cstdio>
#include <ostream>

#include "engine/transmissions/TransmissionDetector.h"
#include "tools/probe/Decode.h"
#include "tools/probe/Probe.h"

namespace orvento::probe {
namespace {

std::string json(const Transmission& t) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "{\"start_s\": %.2f, \"duration_s\": %.2f, \"peak_dbfs\": %.1f}", t.startSeconds,
                  t.durationSeconds, t.peakDbfs);
    return line;
}

}  // namespace

int printTransmissions(const TransmissionsRequest& request, std::ostream& out, std::ostream& err) {
    int found = 0;
    // Events come on the queue's thread while the caller's waits in the
    // decode, and the last one (finish) on the caller's after the queue is
    // gone: the lines stay in order.
    TransmissionDetector detector([&](const TransmissionDetector::Event& event) {
        if (event.kind == TransmissionDetector::Event::Kind::Ended) {
            out << json(event.transmission) << std::endl;
            ++found;
        }
    });
    int rate = 0;
    int channels = 0;
    DecodeOptions options;
    options.output.kind = AudioOutputChoice::Kind::Null;
    options.output.realTime = false;
    options.output.onAudio = [&](const float* samples, std::size_t frames, int sampleRate,
                                 int channelCount) {
        rate = sampleRate;
        channels = channelCount;
        detector.feed(samples, frames, sampleRate, channelCount);
    };
    bool timedOut = false;
    const DecodeReport report =
        isUrl(request.source)
            ? decodeUrl(request.source, request.hint, options, request.seconds, &timedOut)
            : decodeFile(request.source, request.hint, options, request.chunkSize);
    if (!report.ok) {
        err << "orvento-probe: cannot decode " << request.source << ": " << report.error << "\n";
        return 1;
    }
    detector.finish();
    if (!report.queueErrorText.empty()) {
        err << "orvento-probe: the decoder said: " << report.queueErrorText << "\n";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", detector.seconds());
    err << "orvento-probe: " << request.source << ": " << seconds << " s decoded (" << rate
        << " Hz, " << channels << (channels == 1 ? " channel" : " channels") << "), " << found
        << (found == 1 ? " transmission" : " transmissions")
        << (timedOut ? "; the stream did not end and was read for its time limit" : "") << "\n";
    return 0;
}

}  // namespace orvento::probe
