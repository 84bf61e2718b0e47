#include "engine/audio/FormatConverter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvento {
namespace {

// The resampling filter: sinc under a Kaiser window, reaching this many zero
// crossings to either side, tabulated at this many points per crossing and
// interpolated linearly between them (error near -90 dB).
constexpr int kZeroCrossings = 32;
constexpr int kTableSteps = 256;
constexpr std::size_t kTableSize = std::size_t{kZeroCrossings} * kTableSteps;
// Kaiser's beta for about 80 dB of stop-band attenuation.
constexpr double kBeta = 7.86;
// The cutoff as a share of the lower rate's Nyquist frequency: the transition
// band (about 8% of the cutoff wide) then ends just below that frequency.
constexpr double kCutoff = 0.92;

// Downmix weight of the centre, back and side channels.
constexpr float kMinus3dB = 0.70710678F;

double besselI0(double x) {
    double sum = 1;
    double term = 1;
    const double quarterSquare = x * x / 4;
    for (int k = 1; term > 1e-12 * sum; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// The filter's impulse response at x zero crossings from its centre.
const std::vector<float>& kernelTable() {
    static const std::vector<float> table = [] {
        // One entry past the end (zero) so that interpolation needs no check.
        std::vector<float> t(kTableSize + 1, 0.0F);
        const double norm = besselI0(kBeta);
        for (std::size_t i = 0; i < kTableSize; ++i) {
            const double x = static_cast<double>(i) / kTableSteps;
            const double sinc =
                i == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double u = x / kZeroCrossings;
            t[i] = static_cast<float>(sinc * besselI0(kBeta * std::sqrt(1 - u * u)) / norm);
        }
        return t;
    }();
    return table;
}

float kernelAt(const std::vector<float>& table, double x) {
    const double at = x * kTableSteps;
    const auto index = static_cast<std::size_t>(at);
    if (index >= kTableSize) {
        return 0.0F;
    }
    const auto frac = static_cast<float>(at - static_cast<double>(index));
    return table[index] + (table[index + 1] - table[index]) * frac;
}

// The weights that make `to` channels out of `from` (see the header).
std::vector<float> mixMatrix(int from, int to) {
    const auto f = static_cast<std::size_t>(from);
    std::vector<float> m(static_cast<std::size_t>(to) * f, 0.0F);
    auto at = [&](int out, int in) -> float& {
        return m[static_cast<std::size_t>(out) * f + static_cast<std::size_t>(in)];
    };
    if (to == 1) {
        for (int in = 0; in < from; ++in) {
            at(0, in) = 1.0F / static_cast<float>(from);
        }
    } else if (from == 1) {
        at(0, 0) = 1.0F;
        at(1, 0) = 1.0F;
    } else if (to == 2 && from > 2) {
        // Front left and right, centre, LFE (dropped), back and side pairs.
        const int side[8] = {0, 1, -1, -2, 0, 1, 0, 1};
        float total = 1.0F;  // of one side's weights, to keep the mix within range
        at(0, 0) = 1.0F;
        at(1, 1) = 1.0F;
        for (int in = 2; in < std::min(from, 8); ++in) {
            if (side[in] == -1) {
                at(0, in) = kMinus3dB;
                at(1, in) = kMinus3dB;
                total += kMinus3dB;
            } else if (side[in] >= 0) {
                at(side[in], in) = kMinus3dB;
                total += side[in] == 0 ? kMinus3dB : 0.0F;
            }
        }
        for (float& w : m) {
            w /= total;
        }
    } else {
        for (int c = 0; c < std::min(from, to); ++c) {
            at(c, c) = 1.0F;
        }
    }
    return m;
}

}  // namespace

bool FormatConverter::convert(const PcmFormat& from, const PcmFormat& to, const float* samples,
                              std::size_t frames, std::vector<float>& out) {
    if (!from.valid() || !to.valid()) {
        return false;
    }
    if (!active_ || !(from == from_) || !(to == to_)) {
        flush(out);
        from_ = from;
        to_ = to;
        matrix_ = mixMatrix(from.channels, to.channels);
        scale_ = kCutoff * std::min(1.0, static_cast<double>(to.sampleRate) / from.sampleRate);
        reach_ = static_cast<std::size_t>(std::ceil(kZeroCrossings / scale_));
        active_ = true;
    }
    if (from_.sampleRate == to_.sampleRate) {
        mix(samples, frames, out);
        return true;
    }
    mix(samples, frames, input_);
    inputEnd_ += frames;
    resample(false, out);
    return true;
}

void FormatConverter::flush(std::vector<float>& out) {
    if (active_ && from_.sampleRate != to_.sampleRate) {
        resample(true, out);
    }
    reset();
}

void FormatConverter::reset() {
    active_ = false;
    input_.clear();
    inputBase_ = 0;
    inputEnd_ = 0;
    produced_ = 0;
    position_ = 0;
    phase_ = 0;
}

void FormatConverter::mix(const float* samples, std::size_t frames, std::vector<float>& out) const {
    const auto in = static_cast<std::size_t>(from_.channels);
    const auto channels = static_cast<std::size_t>(to_.channels);
    const std::size_t old = out.size();
    if (in == channels) {
        out.insert(out.end(), samples, samples + frames * in);
        return;
    }
    out.resize(old + frames * channels);
    float* to = out.data() + old;
    for (std::size_t i = 0; i < frames; ++i, samples += in, to += channels) {
        for (std::size_t c = 0; c < channels; ++c) {
            const float* weights = matrix_.data() + c * in;
            float sum = 0;
            for (std::size_t k = 0; k < in; ++k) {
                sum += weights[k] * samples[k];
            }
            to[c] = sum;
        }
    }
}

void FormatConverter::resample(bool atEnd, std::vector<float>& out) {
    const std::vector<float>& table = kernelTable();
    const auto channels = static_cast<std::size_t>(to_.channels);
    const auto fromRate = static_cast<std::uint64_t>(from_.sampleRate);
    const auto toRate = static_cast<std::uint64_t>(to_.sampleRate);
    const std::uint64_t total = (inputEnd_ * toRate + fromRate - 1) / fromRate;
    const auto reach = static_cast<std::int64_t>(reach_);
    weights_.resize(2 * reach_ + 1);
    for (;;) {
        if (atEnd ? produced_ >= total : position_ + reach_ >= inputEnd_) {
            break;
        }
        const double frac = static_cast<double>(phase_) / static_cast<double>(toRate);
        const std::int64_t first = static_cast<std::int64_t>(position_) - reach;
        for (std::int64_t k = 0; k <= 2 * reach; ++k) {
            const double distance = std::abs(frac + static_cast<double>(reach - k));
            weights_[static_cast<std::size_t>(k)] =
                static_cast<float>(scale_) * kernelAt(table, distance * scale_);
        }
        const std::size_t old = out.size();
        out.resize(old + channels, 0.0F);
        float* to = out.data() + old;
        for (std::int64_t k = 0; k <= 2 * reach; ++k) {
            const std::int64_t i = first + k;
            const float w = weights_[static_cast<std::size_t>(k)];
            if (i < 0 || static_cast<std::uint64_t>(i) >= inputEnd_ || w == 0.0F) {
                continue;  // silence before the start and after the end
            }
            const float* from =
                input_.data() + (static_cast<std::uint64_t>(i) - inputBase_) * channels;
            for (std::size_t c = 0; c < channels; ++c) {
                to[c] += w * from[c];
            }
        }
        ++produced_;
        position_ += fromRate / toRate;
        phase_ += fromRate % toRate;
        if (phase_ >= toRate) {
            phase_ -= toRate;
            ++position_;
        }
    }
    // Keep only the inputs the next output frame can reach.
    const std::uint64_t keep = position_ > reach_ ? position_ - reach_ : 0;
    if (keep > inputBase_) {
        const std::uint64_t drop =
            std::min<std::uint64_t>(keep - inputBase_, input_.size() / channels);
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(drop * channels));
        inputBase_ += drop;
    }
}

}  // namespace orvento
