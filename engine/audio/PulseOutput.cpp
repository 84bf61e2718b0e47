#include "engine/audio/PulseOutput.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvento {

class PulseOutput::Lock {
  public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

namespace {

// Never left to a completion: the operations are fire-and-forget.
void forget(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

}  // namespace

void PulseOutput::onContextState(pa_context* /*context*/, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        output->noteFailure("the sound server ended the stream");
    }
    pa_threaded_mainloop_signal(output->loop_, 0);
}

void PulseOutput::onDrained(pa_stream* /*stream*/, int /*success*/, void* self) {
    static_cast<PulseOutput*>(self)->drained_.store(true);
}

void PulseOutput::noteFailure(const char* what) {
    if (!failed_) {
        failed_ = true;
        failure_ = std::string(what) + ": " + pa_strerror(pa_context_errno(context_));
    }
}

bool PulseOutput::open(const PcmFormat& requested, std::string& error) {
    const auto fail = [&](const std::string& what) {
        error = what + ": " +
                (context_ != nullptr ? pa_strerror(pa_context_errno(context_)) : "out of memory");
        close();
        return false;
    };
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        error = "cannot start the PulseAudio client";
        return false;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Orvento");
    if (context_ == nullptr) {
        return fail("cannot start the PulseAudio client");
    }
    pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        return fail("cannot reach the sound server");
    }
    std::string failed;
    {
        Lock lock(loop_);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                failed = "cannot reach the sound server";
                break;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        if (failed.empty()) {
            format_ = {requested.sampleRate, std::clamp(requested.channels, 1, 8)};
            frameBytes_ = sizeof(float) * static_cast<std::size_t>(format_.channels);
            const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE,
                                      static_cast<uint32_t>(format_.sampleRate),
                                      static_cast<uint8_t>(format_.channels)};
            pa_channel_map map;
            pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
            stream_ = pa_stream_new(context_, "Orvento", &spec, &map);
            if (stream_ == nullptr) {
                failed = "the sound server refused the stream";
            }
        }
        if (failed.empty()) {
            pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
            const auto size = [this](double seconds) {
                return static_cast<uint32_t>(bytes(seconds));
            };
            const pa_buffer_attr attr{static_cast<uint32_t>(-1), size(kTargetSeconds),
                                      size(kPrebufferSeconds), size(kRequestSeconds),
                                      static_cast<uint32_t>(-1)};
            if (pa_stream_connect_playback(stream_, sinkName_.empty() ? nullptr : sinkName_.c_str(),
                                           &attr, PA_STREAM_START_CORKED, nullptr, nullptr) < 0) {
                failed = "the sound server refused the stream";
            }
        }
        while (failed.empty()) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) {
                break;
            }
            if (!PA_STREAM_IS_GOOD(state)) {
                failed = "the sound server refused the stream";
                break;
            }
            pa_threaded_mainloop_wait(loop_);
        }
    }
    if (!failed.empty()) {
        return fail(failed);
    }
    failed_ = false;
    failure_.clear();
    return true;
}

void PulseOutput::close() {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_stop(loop_);  // from here on no notification runs
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

std::size_t PulseOutput::bytes(double seconds) const {
    return static_cast<std::size_t>(std::lround(seconds * format_.sampleRate)) * frameBytes_;
}

AudioOutput::Duration PulseOutput::framesToDuration(double frames) const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(frames / format_.sampleRate));
}

bool PulseOutput::usable() const {
    return !failed_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseOutput::cork(bool corked) {
    if (usable()) {
        forget(pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr));
    }
}

void PulseOutput::flush() {
    if (usable()) {
        const std::size_t writable = pa_stream_writable_size(stream_);
        const std::size_t target = bytes(kTargetSeconds);
        if (writable != static_cast<std::size_t>(-1)) {
            dropped_ += std::min<std::uint64_t>((target - std::min(target, writable)) / frameBytes_,
                                                written_ - dropped_);
        }
        forget(pa_stream_flush(stream_, nullptr, nullptr));
    }
    draining_ = false;
}

void PulseOutput::resume() {
    Lock lock(loop_);
    cork(false);
}

void PulseOutput::pause() {
    Lock lock(loop_);
    cork(true);
}

std::size_t PulseOutput::write(const float* samples, std::size_t frames) {
    Lock lock(loop_);
    if (silenced_ || !usable()) {
        written_ += frames;
        dropped_ += frames;
        return frames;
    }
    const std::size_t writable = pa_stream_writable_size(stream_);
    const std::size_t count = std::min(
        frames, writable == static_cast<std::size_t>(-1) ? std::size_t{0} : writable / frameBytes_);
    if (count == 0) {
        return 0;
    }
    if (pa_stream_write(stream_, samples, count * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        noteFailure("cannot send audio to the sound server");
        return frames;
    }
    written_ += count;
    draining_ = false;
    return count;
}

AudioOutput::Duration PulseOutput::untilWritable() const {
    Lock lock(loop_);
    if (silenced_ || !usable()) {
        return Duration::zero();
    }
    // The server asks for more each time kRequestSeconds has played: wait for
    // that, then look again every few milliseconds should its request be late.
    const std::size_t writable = pa_stream_writable_size(stream_);
    const std::size_t wanted = bytes(kRequestSeconds);
    if (writable != static_cast<std::size_t>(-1) && writable >= wanted) {
        return Duration::zero();
    }
    const double missing =
        static_cast<double>(wanted - std::min(wanted, writable)) / static_cast<double>(frameBytes_);
    return std::max(framesToDuration(missing), Duration(std::chrono::milliseconds(5)));
}

AudioOutput::Duration PulseOutput::untilDrained() {
    Lock lock(loop_);
    if (silenced_ || !usable() || written_ == dropped_) {
        return Duration::zero();
    }
    const auto now = std::chrono::steady_clock::now();
    if (!draining_) {
        draining_ = true;
        drained_.store(false);
        drainGiveUp_ = now +
                       framesToDuration(static_cast<double>(bytes(kTargetSeconds) / frameBytes_)) +
                       std::chrono::milliseconds(500);
        forget(pa_stream_drain(stream_, &PulseOutput::onDrained, this));
    }
    if (drained_.load() || now >= drainGiveUp_) {
        draining_ = false;
        return Duration::zero();
    }
    return std::chrono::milliseconds(10);
}

void PulseOutput::silenceNow() {
    Lock lock(loop_);
    silenced_ = true;
    flush();
}

void PulseOutput::discard() {
    Lock lock(loop_);
    flush();
    silenced_ = false;
}

std::uint64_t PulseOutput::framesPlayed() const {
    if (loop_ == nullptr) {
        return written_ - dropped_;  // closed
    }
    Lock lock(loop_);
    const std::size_t writable = pa_stream_writable_size(stream_);
    const std::size_t target = bytes(kTargetSeconds);
    const std::uint64_t queued = writable == static_cast<std::size_t>(-1)
                                     ? 0
                                     : (target - std::min(target, writable)) / frameBytes_;
    const std::uint64_t kept = written_ - dropped_;
    return kept - std::min(queued, kept);
}

std::string PulseOutput::takeFailure() {
    if (loop_ == nullptr) {
        return std::exchange(failure_, {});  // closed: no notification can run
    }
    Lock lock(loop_);
    return std::exchange(failure_, {});
}

}  // namespace orvento
