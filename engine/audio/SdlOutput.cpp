#include "engine/audio/SdlOutput.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace orvento {
namespace {

// Audio kept queued ahead of the device: refilled when half has played.
constexpr double kRingSeconds = 0.2;
// The device period: short enough that an immediate stop is silent within it.
constexpr double kPeriodSeconds = 0.02;

// SDL's subsystem start and stop are reference counted but not thread-safe.
std::mutex& subsystemMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

bool SdlOutput::open(const PcmFormat& requested, std::string& error) {
    {
        std::lock_guard lock(subsystemMutex());
        // SDL would otherwise take SIGINT and SIGTERM for its own quit event
        // while audio runs, and the program would no longer end on them.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error = std::string("cannot start SDL audio: ") + SDL_GetError();
            return false;
        }
    }
    subsystemStarted_ = true;

    SDL_AudioSpec want{};
    want.freq = requested.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(std::clamp(requested.channels, 1, 8));
    // A power of two near the period keeps every backend happy.
    const double ideal = requested.sampleRate * kPeriodSeconds;
    Uint16 samples = 64;
    while (samples * 2 <= ideal && samples < 4096) {
        samples = static_cast<Uint16>(samples * 2);
    }
    want.samples = samples;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ =
        SDL_OpenAudioDevice(deviceName_.empty() ? nullptr : deviceName_.c_str(), 0, &want, &have,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device_ == 0) {
        error = std::string("cannot open the sound device (SDL audio driver ") +
                (SDL_GetCurrentAudioDriver() != nullptr ? SDL_GetCurrentAudioDriver() : "none") +
                "): " + SDL_GetError();
        close();
        return false;
    }
    format_ = {have.freq, have.channels};
    periodFrames_ = have.samples;
    ringFrames_ = static_cast<std::size_t>(have.freq * kRingSeconds);
    ring_.assign(ringFrames_ * static_cast<std::size_t>(have.channels), 0.0F);
    return true;
}

void SdlOutput::close() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);  // returns once the callback has stopped for good
        device_ = 0;
    }
    if (subsystemStarted_) {
        std::lock_guard lock(subsystemMutex());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemStarted_ = false;
    }
}

void SdlOutput::resume() {
    SDL_PauseAudioDevice(device_, 0);
}

void SdlOutput::pause() {
    SDL_PauseAudioDevice(device_, 1);
}

void SdlOutput::callback(void* self, Uint8* stream, int length) {
    auto* output = static_cast<SdlOutput*>(self);
    const std::size_t frameBytes =
        sizeof(float) * static_cast<std::size_t>(output->format_.channels);
    output->fill(reinterpret_cast<float*>(stream), static_cast<std::size_t>(length) / frameBytes);
}

void SdlOutput::fill(float* out, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(format_.channels);
    const std::uint64_t write = writePos_.load(std::memory_order_acquire);
    std::uint64_t read = readPos_.load(std::memory_order_relaxed);
    std::size_t copied = 0;
    if (silenced_.load(std::memory_order_relaxed)) {
        read = write;  // drop everything written so far
    } else {
        copied = static_cast<std::size_t>(std::min<std::uint64_t>(write - read, frames));
        std::size_t done = 0;
        while (done < copied) {
            const auto at = static_cast<std::size_t>((read + done) % ringFrames_);
            const std::size_t run = std::min(copied - done, ringFrames_ - at);
            std::memcpy(out + done * channels, ring_.data() + at * channels,
                        run * channels * sizeof(float));
            done += run;
        }
        read += copied;
        played_.fetch_add(copied, std::memory_order_relaxed);
    }
    std::memset(out + copied * channels, 0, (frames - copied) * channels * sizeof(float));
    readPos_.store(read, std::memory_order_release);
    callbacks_.fetch_add(1, std::memory_order_release);
}

std::size_t SdlOutput::write(const float* samples, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(format_.channels);
    const std::uint64_t write = writePos_.load(std::memory_order_relaxed);
    const std::uint64_t read = readPos_.load(std::memory_order_acquire);
    const std::size_t room = ringFrames_ - static_cast<std::size_t>(write - read);
    const std::size_t count = std::min(room, frames);
    std::size_t done = 0;
    while (done < count) {
        const auto at = static_cast<std::size_t>((write + done) % ringFrames_);
        const std::size_t run = std::min(count - done, ringFrames_ - at);
        std::memcpy(ring_.data() + at * channels, samples + done * channels,
                    run * channels * sizeof(float));
        done += run;
    }
    writePos_.store(write + count, std::memory_order_release);
    if (count > 0) {
        drainMark_ = 0;
    }
    return count;
}

AudioOutput::Duration SdlOutput::framesToDuration(double frames) const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(frames / format_.sampleRate));
}

AudioOutput::Duration SdlOutput::untilWritable() const {
    const std::uint64_t queued =
        writePos_.load(std::memory_order_relaxed) - readPos_.load(std::memory_order_acquire);
    const double excess = static_cast<double>(queued) - static_cast<double>(ringFrames_) / 2;
    return excess > 0 ? framesToDuration(excess) : Duration::zero();
}

AudioOutput::Duration SdlOutput::untilDrained() {
    const std::uint64_t queued =
        writePos_.load(std::memory_order_relaxed) - readPos_.load(std::memory_order_acquire);
    if (queued > 0) {
        return framesToDuration(static_cast<double>(queued));
    }
    // The ring is empty, but the device still plays what the last callback
    // took: two more callbacks mean that period has been played out. A device
    // that stops calling back is given up on after a few periods.
    const std::uint64_t calls = callbacks_.load(std::memory_order_acquire);
    const auto now = std::chrono::steady_clock::now();
    const Duration period = framesToDuration(static_cast<double>(periodFrames_));
    if (drainMark_ == 0) {
        drainMark_ = calls + 1;
        drainGiveUp_ = now + 4 * period + std::chrono::milliseconds(200);
    }
    if (calls >= drainMark_ + 1 || now >= drainGiveUp_) {
        drainMark_ = 0;
        return Duration::zero();
    }
    return period / 2;
}

void SdlOutput::discard() {
    // With the device paused the callback cannot run, so the read position
    // may be moved here.
    SDL_PauseAudioDevice(device_, 1);
    const std::uint64_t write = writePos_.load(std::memory_order_relaxed);
    readPos_.store(write, std::memory_order_release);
    silenced_.store(false);
    drainMark_ = 0;
}

}  // namespace orvento
