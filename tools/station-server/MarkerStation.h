// The marker station: a station for measuring how far behind live a player
// plays. Its file (markers.mp3, made by make-site-audio: 16 kbit/s MPEG-2
// Layer III, 16 kHz mono) is 80 s of receiver hiss carrying a 150 ms tone
// every 10 s; each of the eight tones has a frequency of its own, so a
// recording tells which tone it heard. The site streams the file over and
// over like its other stations; with the server's clock of the connection
// (LoopbackServer::pacedBodies) a listener knows when each tone went out live.
#pragma once

#include <array>
#include <cstddef>

namespace orvento::site {

inline constexpr const char* kMarkerRoute = "/timing/markers.mp3";
inline constexpr const char* kMarkerFile = "markers.mp3";

// The file's layout, as make-site-audio makes it: tone k (from 0) starts at
// kMarkerFirstSeconds + k * kMarkerSpacingSeconds of the source and sounds
// at kMarkerHz[k] for kMarkerToneSeconds.
inline constexpr double kMarkerFirstSeconds = 1;
inline constexpr double kMarkerSpacingSeconds = 10;
inline constexpr double kMarkerToneSeconds = 0.15;
inline constexpr std::array<double, 8> kMarkerHz{600, 800, 1000, 1200, 1400, 1600, 1800, 2000};

// Where the source's audio lies in the decoded stream: lame's encoder delay
// (576 samples) and a decoder's (529), at 16 kHz. The file carries no
// gapless information, so every decoder keeps both.
inline constexpr double kMp3CodecDelaySeconds = 1105.0 / 16000;

// Seconds from the stream's start to the onset of its `n`th tone (from 0,
// counting on across the file's repeats), in the decoded audio. A station
// repeats the whole file, whose length in audio is `fileSeconds`.
constexpr double markerStreamSeconds(std::size_t n, double fileSeconds) {
    const std::size_t tones = kMarkerHz.size();
    return static_cast<double>(n / tones) * fileSeconds + kMp3CodecDelaySeconds +
           kMarkerFirstSeconds + static_cast<double>(n % tones) * kMarkerSpacingSeconds;
}

}  // namespace orvento::site
