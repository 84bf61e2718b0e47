#include "engine/platform/queue/WavFileOutput.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

namespace orvento {
namespace {

static_assert(std::endian::native == std::endian::little,
              "WAV data is little-endian and written straight from memory");

void putLe(unsigned char* at, UInt64 value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

constexpr std::size_t kHeaderSize = 58;  // RIFF, fmt (18 bytes), fact, data headers

}  // namespace

void WavFileOutput::header(const PcmFormat& format, UInt64 frames, unsigned char (&out)[58]) {
    const auto channels = static_cast<UInt64>(std::max(format.channels, 1));
    const UInt64 dataMax = std::numeric_limits<UInt32>::max() - kHeaderSize;
    const UInt64 data = std::min(frames * channels * sizeof(float), dataMax);
    std::memcpy(out, "RIFF\0\0\0\0WAVEfmt \x12\0\0\0", 20);
    putLe(out + 4, kHeaderSize - 8 + data, 4);
    putLe(out + 20, 3, 2);  // WAVE_FORMAT_IEEE_FLOAT
    putLe(out + 22, channels, 2);
    putLe(out + 24, static_cast<UInt64>(std::max(format.sampleRate, 0)), 4);
    putLe(out + 28, static_cast<UInt64>(std::max(format.sampleRate, 0)) * channels * 4, 4);
    putLe(out + 32, channels * 4, 2);
    putLe(out + 34, 32, 2);
    putLe(out + 36, 0, 2);  // no extension
    std::memcpy(out + 38, "fact\x04\0\0\0", 8);
    putLe(out + 46, std::min<UInt64>(frames, std::numeric_limits<UInt32>::max()), 4);
    std::memcpy(out + 50, "data", 4);
    putLe(out + 54, data, 4);
}

bool WavFileOutput::open(const PcmFormat& requested, std::string& error) {
    format_ = requested;
    file_.reset(std::fopen(path_.c_str(), "wb"));
    if (file_ == nullptr) {
        error =
            "cannot create the WAV file " + path_ + ": " + std::generic_category().message(errno);
        return false;
    }
    if (!writeHeader()) {
        error = failure_;
        file_.reset();
        return false;
    }
    return true;
}

bool WavFileOutput::adopt(const PcmFormat& format) {
    if (framesWritten_.load() != 0) {
        return false;
    }
    format_ = format;
    return true;
}

bool WavFileOutput::writeHeader() {
    unsigned char bytes[kHeaderSize];
    header(format_, framesWritten_.load(), bytes);
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(bytes, 1, sizeof bytes, file_.get()) != sizeof bytes) {
        fail("cannot write the WAV file header");
        return false;
    }
    return true;
}

std::size_t WavFileOutput::write(const float* samples, std::size_t frames) {
    if (file_ == nullptr || failed_) {
        return frames;  // dropped: the failure has been reported
    }
    const std::size_t count = frames * static_cast<std::size_t>(format_.channels);
    if (std::fwrite(samples, sizeof(float), count, file_.get()) != count) {
        fail("cannot write the WAV file");
        return frames;
    }
    framesWritten_.fetch_add(frames);
    return frames;
}

void WavFileOutput::close() {
    if (file_ == nullptr) {
        return;
    }
    if (!failed_) {
        writeHeader();
    }
    if (std::fclose(file_.release()) != 0 && !failed_) {
        fail("cannot finish the WAV file");
    }
    if (!failure_.empty()) {
        std::fprintf(stderr, "orvento: %s\n", failure_.c_str());
    }
}

void WavFileOutput::fail(const char* what) {
    failed_ = true;
    failure_ = std::string(what) + " " + path_ + ": " + std::generic_category().message(errno);
}

std::string WavFileOutput::takeFailure() {
    std::string failure = std::move(failure_);
    failure_.clear();
    return failure;
}

}  // namespace orvento
