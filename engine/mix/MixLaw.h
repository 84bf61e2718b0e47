// The mixer's arithmetic, kept apart from its threads so that it can be
// checked as numbers: gain, the pan law, which feeds are heard, and the
// ducking envelope. Pure functions and a plain value type; any thread.
#pragma once

#include <cstddef>

namespace orvento {

// Gains a feed may be given, in dB; values outside are clamped.
inline constexpr double kMinFeedGainDb = -60;
inline constexpr double kMaxFeedGainDb = 12;

// The linear factor of `db`.
double gainFromDb(double db);

// What a feed sends to the left and right of the mix.
struct PanGains {
    double left = 0;
    double right = 0;
};

// Constant-power pan of a mono feed: `pan` from -1 (left) through 0 (centre)
// to 1 (right), clamped; at angle t = (pan + 1) * pi / 4 the gains are
// cos t and sin t, so the power (left^2 + right^2) is 1 everywhere and the
// centre is -3 dB on each side.
PanGains monoPan(double pan);
// A stereo feed is balanced instead: each side keeps its own channel, the
// far side is lowered by the same law, and the centre leaves both at 1.
PanGains stereoBalance(double pan);

// Whether a feed is heard: not muted, and soloed whenever any feed is.
bool feedHeard(bool muted, bool soloed, bool anySoloed);

// The priority ducking: while a priority feed transmits the other feeds are
// lowered by kDuckDepthDb, reached in kDuckAttackSeconds, and come back in
// kDuckReleaseSeconds after it stops; both ramps are straight lines in dB, so
// halfway through the attack the others are 7.5 dB down.
inline constexpr double kDuckDepthDb = 15;
inline constexpr double kDuckAttackSeconds = 0.05;
inline constexpr double kDuckReleaseSeconds = 0.5;

class DuckEnvelope {
  public:
    // Moves the envelope on by `seconds` while a priority feed transmits
    // (`ducking`) or not; returns the attenuation now, 0 to -kDuckDepthDb dB.
    double advance(bool ducking, double seconds);
    double db() const { return db_; }

  private:
    double db_ = 0;
};

// The mix's limiter. The feeds are summed in floating point, with room above
// full scale; the limiter then keeps every sample of the sum within
// kLimiterCeilingDb of full scale, so no output clips, whatever the gains of
// up to kMaxFeeds feeds. Its gain follows the peaks of the louder channel: down
// at once to what the sample needs (without looking ahead, nothing gets
// past), back up towards 1 with kLimiterReleaseSeconds, so the level moves
// smoothly while a loud mix goes on. Below the ceiling, and once the gain
// has come back, it leaves the mix as it is: one feed at its default gain
// passes unchanged. Both channels get the same gain (the image stays put).
// Nothing allocates; one per mix, on the mixer's thread.
inline constexpr double kLimiterCeilingDb = -0.1;
inline constexpr double kLimiterReleaseSeconds = 0.25;

class MixLimiter {
  public:
    explicit MixLimiter(double sampleRate = 48000);
    // Limits `frames` interleaved stereo frames in place.
    void process(float* stereo, std::size_t frames);
    // The gain applied to the last frame, in dB (0 or below).
    double gainDb() const;

  private:
    float ceiling_;
    float release_;   // the envelope's share above the ceiling kept per frame
    float envelope_;  // never below the ceiling; the gain is ceiling_ / envelope_
};

}  // namespace orvento
