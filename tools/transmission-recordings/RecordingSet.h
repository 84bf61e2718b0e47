// A set of recordings made by make-transmission-recordings, as the
// transmission detector's tests and benchmark use it: each recording with its
// known transmissions, decoded as a player decodes it, and detections matched
// to what is known.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvento::recordings {

// Seconds from the first decoded sample.
struct Span {
    double start = 0;
    double end = 0;
};

struct Recording {
    std::string name;  // the file's name in the set
    std::string path;
    std::vector<Span> truth;  // first to last syllable of each transmission
};

// The recordings the set's recordings.list names, with their truth files.
// False with `error` when the set cannot be read.
bool loadSet(const std::string& folder, std::vector<Recording>& set, std::string& error);

// Decoded audio: interleaved float frames.
struct Pcm {
    std::vector<float> samples;
    int sampleRate = 0;
    int channels = 0;
    double seconds() const;
};

// Decodes a file through the probe's offline decode (the player's packet ring
// and the output queue's decoders). False with `error` when it cannot.
bool decode(const std::string& path, Pcm& pcm, std::string& error);

struct Match {
    std::size_t truth;
    std::size_t detection;
};
// Pairs known transmissions with detections, each at most once, every known
// one (in order) with the free detection that overlaps it most.
std::vector<Match> match(const std::vector<Span>& truth, const std::vector<Span>& detections);

}  // namespace orvento::recordings
