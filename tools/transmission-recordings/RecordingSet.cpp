#include "tools/transmission-recordings/RecordingSet.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tools/probe/Decode.h"

namespace orvento::recordings {

bool loadSet(const std::string& folder, std::vector<Recording>& set, std::string& error) {
    std::ifstream list(folder + "/recordings.list");
    if (!list) {
        error = "no recordings.list in " + folder;
        return false;
    }
    std::string name;
    while (std::getline(list, name)) {
        Recording recording{name, folder + "/" + name, {}};
        const std::string truthPath = folder + "/" + name.substr(0, name.rfind('.')) + ".truth";
        std::ifstream truth(truthPath);
        if (!truth) {
            error = "cannot read " + truthPath;
            return false;
        }
        std::string line;
        while (std::getline(truth, line)) {
            Span span;
            if (!line.empty() && line[0] != '#' &&
                std::istringstream(line) >> span.start >> span.end) {
                recording.truth.push_back(span);
            }
        }
        set.push_back(std::move(recording));
    }
    return true;
}

double Pcm::seconds() const {
    return sampleRate > 0 && channels > 0
               ? static_cast<double>(samples.size()) / channels / sampleRate
               : 0;
}

bool decode(const std::string& path, Pcm& pcm, std::string& error) {
    probe::DecodeOptions options;
    options.output.kind = AudioOutputChoice::Kind::Null;
    options.output.realTime = false;
    options.output.onAudio = [&pcm](const float* samples, std::size_t frames, int rate,
                                    int channels) {
        pcm.sampleRate = rate;
        pcm.channels = channels;
        pcm.samples.insert(pcm.samples.end(), samples,
                           samples + frames * static_cast<std::size_t>(channels));
    };
    const probe::DecodeReport report = probe::decodeFile(path, probe::hintFor(path), options);
    error = report.error;
    return report.ok;
}

std::vector<Match> match(const std::vector<Span>& truth, const std::vector<Span>& detections) {
    std::vector<Match> matches;
    std::vector<bool> used(detections.size());
    for (std::size_t t = 0; t < truth.size(); ++t) {
        double best = 0;
        std::size_t pick = detections.size();
        for (std::size_t d = 0; d < detections.size(); ++d) {
            const double overlap = std::min(truth[t].end, detections[d].end) -
                                   std::max(truth[t].start, detections[d].start);
            if (!used[d] && overlap > best) {
                best = overlap;
                pick = d;
            }
        }
        if (pick < detections.size()) {
            used[pick] = true;
            matches.push_back({t, pick});
        }
    }
    return matches;
}

}  // namespace orvento::recordings
