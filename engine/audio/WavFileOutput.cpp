#include "engine/audio/WavFileOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

using Clock = std::chrono::steady_clock;

// Bytes gathered before they are written; while this much waits for a slow
// FIFO reader, the output takes no more.
constexpr std::size_t kPendingBytes = 64 * 1024;
// How often the header of a growing file is brought up to date.
constexpr Clock::duration kHeaderInterval = std::chrono::seconds(1);
// How soon a FIFO without a reader, or with a full pipe, is tried again.
constexpr AudioOutput::Duration kRetryInterval = std::chrono::milliseconds(20);

void putLe(unsigned char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// write(2) with EINTR retried: the bytes written, or -1 with errno set.
ssize_t writeSome(int fd, const unsigned char* data, std::size_t size) {
    ssize_t n = 0;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

void WavFileOutput::header(const PcmFormat& format, std::optional<std::uint64_t> frames,
                           unsigned char (&out)[kHeaderBytes]) {
    constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint32_t>::max();
    const auto channels = static_cast<std::uint64_t>(std::max(format.channels, 1));
    const std::uint64_t dataMax = kUnknown - kHeaderBytes;
    const std::uint64_t data =
        frames ? std::min(*frames * channels * sizeof(float), dataMax) : kUnknown;
    std::memcpy(out, "RIFF\0\0\0\0WAVEfmt \x12\0\0\0", 20);
    putLe(out + 4, frames ? kHeaderBytes - 8 + data : kUnknown, 4);
    putLe(out + 20, 3, 2);  // WAVE_FORMAT_IEEE_FLOAT
    putLe(out + 22, channels, 2);
    putLe(out + 24, static_cast<std::uint64_t>(std::max(format.sampleRate, 0)), 4);
    putLe(out + 28, static_cast<std::uint64_t>(std::max(format.sampleRate, 0)) * channels * 4, 4);
    putLe(out + 32, channels * 4, 2);
    putLe(out + 34, 32, 2);
    putLe(out + 36, 0, 2);  // no extension
    std::memcpy(out + 38, "fact\x04\0\0\0", 8);
    putLe(out + 46, frames ? std::min(*frames, kUnknown) : kUnknown, 4);
    std::memcpy(out + 50, "data", 4);
    putLe(out + 54, data, 4);
}

WavFileOutput::~WavFileOutput() {
    close();
}

std::size_t WavFileOutput::frameBytes() const {
    return static_cast<std::size_t>(std::max(format_.channels, 1)) * sizeof(float);
}

bool WavFileOutput::open(const PcmFormat& requested, std::string& error) {
    format_ = requested;
    if (!openFile(error)) {
        return false;
    }
    if (seekable_) {
        // Written now, so that a file that cannot be written fails the start.
        unsigned char bytes[kHeaderBytes];
        header(format_, 0, bytes);
        const ssize_t n = writeSome(fd_, bytes, sizeof bytes);
        if (n != static_cast<ssize_t>(sizeof bytes)) {
            fail("cannot write the WAV file header", n < 0 ? errno : ENOSPC);
            error = failure_;
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        headerWritten_ = true;
    }
    nextHeaderUpdate_ = Clock::now() + kHeaderInterval;
    return true;
}

bool WavFileOutput::openFile(std::string& error) {
    // Never blocks: a FIFO without a reader gives ENXIO at once instead of
    // waiting in open(2) for one.
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const int openError = errno;
        struct stat info {};
        if (openError == ENXIO && ::stat(path_.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
            waitingForReader_ = true;
            return true;
        }
        error = "cannot create the WAV file " + path_ + ": " +
                std::generic_category().message(openError);
        return false;
    }
    waitingForReader_ = false;
    struct stat info {};
    regularFile_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    seekable_ = ::lseek(fd_, 0, SEEK_CUR) >= 0;
    return true;
}

bool WavFileOutput::ready() {
    if (failed_) {
        return false;
    }
    if (fd_ < 0) {
        std::string error;
        if (!waitingForReader_) {
            return false;  // closed
        }
        if (!openFile(error)) {
            failWith(error);
            return false;
        }
        if (fd_ < 0) {
            return false;  // still no reader
        }
    }
    if (!headerWritten_) {
        // A stream that cannot seek: the header, in the final format, says
        // "until the end".
        unsigned char bytes[kHeaderBytes];
        header(format_, std::nullopt, bytes);
        pending_.insert(pending_.end(), bytes, bytes + sizeof bytes);
        headerWritten_ = true;
    }
    return true;
}

bool WavFileOutput::adopt(const PcmFormat& format) {
    if (framesTaken_.load() != 0) {
        return false;
    }
    format_ = format;
    if (fd_ >= 0 && seekable_ && !failed_) {
        writeHeader();
    }
    return true;
}

std::size_t WavFileOutput::write(const float* samples, std::size_t frames) {
    if (!ready()) {
        return failed_ ? frames : 0;  // after a failure the audio is dropped
    }
    if (pending_.size() >= kPendingBytes && (!flushPending() || pending_.size() >= kPendingBytes)) {
        return failed_ ? frames : 0;
    }
    const std::size_t room = (2 * kPendingBytes - pending_.size()) / frameBytes();
    const std::size_t taken = std::min(frames, std::max<std::size_t>(room, 1));
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples);
    pending_.insert(pending_.end(), bytes, bytes + taken * frameBytes());
    framesTaken_.fetch_add(taken);
    if (pending_.size() >= kPendingBytes && !flushPending()) {
        return frames;
    }
    if (seekable_ && Clock::now() >= nextHeaderUpdate_ && flushPending() && pending_.empty()) {
        // The data first, then the header that counts it: a file cut short at
        // any moment never claims audio it does not hold.
        if (regularFile_ && ::fdatasync(fd_) != 0) {
            fail("cannot write the WAV file", errno);
            return frames;
        }
        writeHeader();
        nextHeaderUpdate_ = Clock::now() + kHeaderInterval;
    }
    return failed_ ? frames : taken;
}

AudioOutput::Duration WavFileOutput::untilWritable() const {
    if (failed_) {
        return Duration::zero();
    }
    return fd_ < 0 || pending_.size() >= kPendingBytes ? kRetryInterval : Duration::zero();
}

AudioOutput::Duration WavFileOutput::untilDrained() {
    if (!ready()) {
        return failed_ || !waitingForReader_ ? Duration::zero() : kRetryInterval;
    }
    if (!flushPending()) {
        return Duration::zero();
    }
    return pending_.empty() ? Duration::zero() : kRetryInterval;
}

bool WavFileOutput::flushPending() {
    std::size_t done = 0;
    int error = 0;
    while (done < pending_.size() && error == 0) {
        const ssize_t n = writeSome(fd_, pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            bytesWritten_ += static_cast<std::uint64_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;  // a FIFO whose reader is behind: later
        } else {
            error = n < 0 ? errno : ENOSPC;
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    if (error != 0) {
        fail("cannot write the WAV file", error);
        return false;
    }
    return true;
}

void WavFileOutput::writeHeader() {
    unsigned char bytes[kHeaderBytes];
    header(format_, bytesWritten_ / frameBytes(), bytes);
    ssize_t n = 0;
    do {
        n = ::pwrite(fd_, bytes, sizeof bytes, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof bytes)) {
        fail("cannot write the WAV file header", n < 0 ? errno : ENOSPC);
    }
}

void WavFileOutput::close() {
    waitingForReader_ = false;
    if (fd_ < 0) {
        return;
    }
    // Without waiting: after an immediate stop, what a FIFO's reader has not
    // taken by now is dropped like the rest of the unplayed audio.
    if (!failed_ && flushPending() && seekable_) {
        writeHeader();
    }
    if (::close(fd_) != 0 && !failed_) {
        fail("cannot finish the WAV file", errno);
    }
    fd_ = -1;
    pending_.clear();
}

void WavFileOutput::fail(const char* what, int error) {
    failWith(std::string(what) + " " + path_ + ": " + std::generic_category().message(error));
}

void WavFileOutput::failWith(std::string text) {
    if (failed_) {
        return;
    }
    failed_ = true;
    failure_ = std::move(text);
    pending_.clear();
    if (fd_ >= 0 && seekable_ && headerWritten_) {
        // What reached the file stays readable: the header counts it.
        unsigned char bytes[kHeaderBytes];
        header(format_, bytesWritten_ / frameBytes(), bytes);
        [[maybe_unused]] const ssize_t n = ::pwrite(fd_, bytes, sizeof bytes, 0);
    }
}

std::string WavFileOutput::takeFailure() {
    std::string failure = std::move(failure_);
    failure_.clear();
    return failure;
}

}  // namespace orvento
