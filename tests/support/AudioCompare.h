// Comparing decoded audio with a reference decode, for the tests: read a WAV
// file, align two signals by cross-correlation, measure the signal-to-noise
// ratio of one against the other, compare rate, channels and length.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvento {

// Interleaved audio, samples scaled to [-1, 1).
struct AudioClip {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;
    std::size_t frames() const {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
};

// Reads a WAV file of 16-bit integer or 32-bit float samples. Without a value (and with `error`
// set) when the file cannot be read.
std::optional<AudioClip> readWav(const std::string& path, std::string* error = nullptr);

// The shift, in frames, that best lines `test` up with `reference`:
// test[i + lag] matches reference[i]. Searched within [-maxLag, maxLag] by
// cross-correlating the channel averages.
long bestLag(const AudioClip& test, const AudioClip& reference, long maxLag);

// Signal-to-noise ratio in dB of `test` shifted by `lag` against `reference`,
// over the frames both have, all channels: 10 log10(sum ref^2 / sum (test -
// ref)^2). Clips with different channel counts compare their first channels.
double snrDb(const AudioClip& test, const AudioClip& reference, long lag);

struct AudioComparison {
    bool sameRate = false;
    bool sameChannels = false;
    long lengthDifference = 0;  // test frames minus reference frames
    long lag = 0;               // as bestLag
    double snrDb = 0;           // after alignment
};
AudioComparison compareAudio(const AudioClip& test, const AudioClip& reference, long maxLag);

}  // namespace orvento
