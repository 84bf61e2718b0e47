// The live benchmark's words: those its station says (make-live-recording:
// each word a tone, its frequency one of a few), the words heard in a
// recording of what a player sent to the sound device, and which said word
// each heard one is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvento::bench {

struct SaidWord {
    int transmission = 0;
    double start = 0;  // seconds of the station's decoded audio
    double end = 0;
    std::size_t tone = 0;
};

struct LiveWords {
    std::vector<double> tonesHz;
    std::vector<SaidWord> words;  // in order
};

// Reads live.words; none (with `error`) when it cannot.
std::optional<LiveWords> loadWords(const std::string& path, std::string& error);

struct HeardWord {
    std::size_t tone = 0;
    std::size_t firstFrame = 0;  // of the recording, to within about 20 ms
    std::size_t lastFrame = 0;
};

// The words in interleaved stereo at kSinkRate, in order: one of the tones
// standing alone for at least 80 ms above -30 dBFS. A word played up to
// 1.25x faster with its pitch kept is still found.
std::vector<HeardWord> findWords(const std::vector<float>& stereo,
                                 const std::vector<double>& tonesHz);

// A heard word, timed: seconds after the press it reached the sink.
struct TimedWord {
    std::size_t tone = 0;
    double at = 0;
    double end = 0;
};

// What a player made of the words said: `said` are the station's words with
// the moment each went out live (seconds after the press, in order).
struct Hearing {
    struct Pair {
        std::size_t heard;  // index into the heard words
        std::size_t said;
        double lag;  // seconds from going out live to reaching the sink
    };
    std::vector<Pair> pairs;  // in the order heard; each heard word once
    // Of the transmissions that began after the press and went out before
    // the last word heard did:
    std::size_t transmissions = 0;
    std::size_t whole = 0;  // every word, once through in order
    std::size_t words = 0;
    std::size_t wordsLost = 0;
    std::size_t pauses = 0;      // a pause heard inside a transmission the station did not make
    std::size_t heardAgain = 0;  // words heard more than once
};

// Pairs heard words with said ones: a run of at least three heard words in a
// row whose tones are those of said words in a row of one transmission, at
// a lag from 0 to a few minutes, spaced as said (or closer, played faster,
// or further apart, held up).
Hearing hear(const std::vector<SaidWord>& said, const std::vector<double>& saidAt,
             const std::vector<TimedWord>& heard);

}  // namespace orvento::bench
