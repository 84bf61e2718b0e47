#include "tests/support/AudioCompare.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>

namespace orvento {
namespace {

std::uint32_t le(const unsigned char* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

bool fail(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

// In-place iterative radix-2 FFT; `inverse` leaves the result unscaled.
void fft(std::vector<std::complex<double>>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle =
            2 * std::numbers::pi / static_cast<double>(length) * (inverse ? 1 : -1);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += length) {
            std::complex<double> w(1);
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + length / 2] * w;
                a[i + k] = u + v;
                a[i + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}

std::vector<double> mono(const AudioClip& clip) {
    std::vector<double> out(clip.frames());
    const auto channels = static_cast<std::size_t>(clip.channels);
    for (std::size_t i = 0; i < out.size(); ++i) {
        double sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += clip.samples[i * channels + c];
        }
        out[i] = sum / static_cast<double>(channels);
    }
    return out;
}

bool parseWav(const std::vector<unsigned char>& bytes, AudioClip& clip, std::string* error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return fail(error, "not a RIFF WAVE file");
    }
    int tag = 0;
    int bits = 0;
    int blockAlign = 0;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + at;
        const std::size_t size = le(chunk + 4, 4);
        const std::size_t body = at + 8;
        const std::size_t available = std::min(size, bytes.size() - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && available >= 16) {
            tag = static_cast<int>(le(chunk + 8, 2));
            clip.channels = static_cast<int>(le(chunk + 10, 2));
            clip.sampleRate = static_cast<int>(le(chunk + 12, 4));
            blockAlign = static_cast<int>(le(chunk + 20, 2));
            bits = static_cast<int>(le(chunk + 22, 2));
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat || clip.channels <= 0 || blockAlign <= 0) {
                return fail(error, "data before a usable fmt chunk");
            }
            // The queue's WAV output writes 32-bit float, the references are 16-bit.
            const bool isFloat = tag == 3 && bits == 32;
            if (!isFloat && !(tag == 1 && bits == 16)) {
                return fail(error, "unsupported WAV sample format");
            }
            const int width = bits / 8;
            if (blockAlign != width * clip.channels) {
                return fail(error, "unexpected WAV block alignment");
            }
            const std::size_t count = available / static_cast<std::size_t>(width);
            clip.samples.resize(count - count % static_cast<std::size_t>(clip.channels));
            const unsigned char* in = chunk + 8;
            for (std::size_t i = 0; i < clip.samples.size(); ++i, in += width) {
                const std::uint32_t raw = le(in, width);
                if (isFloat) {
                    std::memcpy(&clip.samples[i], &raw, sizeof(float));
                } else {
                    clip.samples[i] = static_cast<float>(static_cast<std::int16_t>(raw)) / 32768.0F;
                }
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    return fail(error, "no data chunk");
}

}  // namespace

std::optional<AudioClip> readWav(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(error, "cannot open " + path);
        return std::nullopt;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    AudioClip clip;
    if (!parseWav(bytes, clip, error)) {
        return std::nullopt;
    }
    return clip;
}

long bestLag(const AudioClip& test, const AudioClip& reference, long maxLag) {
    const std::vector<double> a = mono(test);
    const std::vector<double> b = mono(reference);
    if (a.empty() || b.empty()) {
        return 0;
    }
    std::size_t n = 1;
    while (n < a.size() + b.size()) {
        n <<= 1;
    }
    std::vector<std::complex<double>> fa(n);
    std::vector<std::complex<double>> fb(n);
    std::copy(a.begin(), a.end(), fa.begin());
    std::copy(b.begin(), b.end(), fb.begin());
    fft(fa, false);
    fft(fb, false);
    for (std::size_t i = 0; i < n; ++i) {
        fa[i] *= std::conj(fb[i]);
    }
    fft(fa, true);
    // fa[k] now holds sum over i of a[i + k] * b[i], negative k wrapping round.
    long best = 0;
    double bestValue = -std::numeric_limits<double>::infinity();
    const auto size = static_cast<long>(n);
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        if (lag >= size || -lag >= size) {
            continue;
        }
        const double value = fa[static_cast<std::size_t>((lag + size) % size)].real();
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    return best;
}

double snrDb(const AudioClip& test, const AudioClip& reference, long lag) {
    const auto tc = static_cast<std::size_t>(test.channels);
    const auto rc = static_cast<std::size_t>(reference.channels);
    const std::size_t channels = std::min(tc, rc);
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < reference.frames(); ++i) {
        const long j = static_cast<long>(i) + lag;
        if (j < 0 || static_cast<std::size_t>(j) >= test.frames()) {
            continue;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            const double r = reference.samples[i * rc + c];
            const double t = test.samples[static_cast<std::size_t>(j) * tc + c];
            signal += r * r;
            noise += (t - r) * (t - r);
        }
    }
    if (noise == 0) {
        return signal > 0 ? std::numeric_limits<double>::infinity() : 0;
    }
    return 10 * std::log10(signal / noise);
}

AudioComparison compareAudio(const AudioClip& test, const AudioClip& reference, long maxLag) {
    AudioComparison result;
    result.sameRate = test.sampleRate == reference.sampleRate;
    result.sameChannels = test.channels == reference.channels;
    result.lengthDifference =
        static_cast<long>(test.frames()) - static_cast<long>(reference.frames());
    result.lag = bestLag(test, reference, maxLag);
    result.snrDb = snrDb(test, reference, result.lag);
    return result;
}

}  // namespace orvento
