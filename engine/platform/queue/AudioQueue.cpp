#include "engine/platform/queue/AudioQueue.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/platform/queue/AudioOutput.h"
#include "engine/platform/queue/Decoder.h"
#include "engine/platform/queue/PcmWriter.h"

namespace orvento {
namespace {

constexpr std::uint32_t kMaxCookieSize = 64 * 1024;
// Bytes decoded at a time from a buffer without packet descriptions.
constexpr std::size_t kRawSlice = 16384;
// Decoded audio is offered to the output in runs of about this much while
// the current buffer holds more: every write may wake another thread (the
// sound server's client loop, the mixer), so a write per packet costs.
constexpr double kWriteBatchSeconds = 0.1;

void writeLine(const AudioOutputChoice& choice, const std::string& text) {
    if (choice.log) {
        choice.log(text);
        return;
    }
    const std::string line = "orvento: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

class AudioQueue {
  public:
    AudioQueue(const AudioStreamBasicDescription& format, std::unique_ptr<Decoder> decoder,
               AudioOutputChoice output, AudioQueueOutputCallback callback, void* userData)
        : format_(format),
          callback_(callback),
          userData_(userData),
          outputChoice_(std::move(output)),
          decoder_(std::move(decoder)) {}

    AudioQueue(const AudioQueue&) = delete;
    AudioQueue& operator=(const AudioQueue&) = delete;

    ~AudioQueue() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(Command::Exit);
            }
            wake_.notify_one();
            thread_.join();
        }
    }

    // Starts the queue's thread; throws std::system_error when it cannot.
    void launch() {
        thread_ = std::thread([this] { run(); });
    }

    OSStatus addListener(AudioQueuePropertyListenerProc proc, void* userData);
    OSStatus allocate(std::uint32_t size, AudioQueueBufferRef* out);
    OSStatus setCookie(const void* data, std::uint32_t size);
    OSStatus getIsRunning(void* out, std::uint32_t* ioSize) const;
    OSStatus enqueue(AudioQueueBufferRef buffer, std::uint32_t count,
                     const AudioStreamPacketDescription* descriptions);
    OSStatus start();
    OSStatus flush();
    OSStatus stop(bool immediate);
    // Everything but freeing the object.
    OSStatus dispose(bool immediate);
    std::uint64_t framesPlayed() const;
    std::uint64_t underruns() const;
    double starvedSeconds() const;
    std::string errorText() const;

  private:
    struct Slot {
        explicit Slot(std::uint32_t capacity)
            : storage(std::make_unique<std::byte[]>(capacity)),
              record{capacity, storage.get(), 0, nullptr} {}
        std::unique_ptr<std::byte[]> storage;
        AudioQueueBuffer record;
        // Copied by enqueue(), then read by the queue's thread until the
        // buffer comes back.
        std::vector<AudioStreamPacketDescription> descriptions;
        std::uint32_t byteSize = 0;
        bool queued = false;  // guarded by mutex_
    };
    struct Item {
        enum class Kind { Buffer, Flush, Stop } kind;
        Slot* slot = nullptr;
        std::uint64_t generation = 0;  // Stop: the start it belongs to
    };
    enum class Command { Start, StopNow, Exit };
    struct Listener {
        AudioQueuePropertyListenerProc proc;
        void* userData;
    };
    struct Step {
        enum class Kind { Progress, Wait, Idle } kind;
        AudioOutput::Duration wait{};
    };

    Slot* findSlot(AudioQueueBufferRef buffer) const;
    void run();
    bool handle(Command command);
    void stopNow();
    // One step of a running queue, called and returning with the lock held:
    // write decoded audio out (a batch, or the rest once the current buffer
    // is decoded); else decode the current buffer, or give it back; else wait for the output to
    // play out before a stop; else take the next buffer or marker.
    Step advance(std::unique_lock<std::mutex>& lock);
    Step writeOut(std::unique_lock<std::mutex>& lock);
    Step decodeCurrent(std::unique_lock<std::mutex>& lock);
    Step drain(std::unique_lock<std::mutex>& lock);
    Step takeItem(std::unique_lock<std::mutex>& lock);
    void decodeNextRun();
    void notifyRunning(bool running);
    void reportFailure(const std::string& text);
    void takeOutputFailure();
    // onFirstAudio, once the output has played (or, a file, taken) audio.
    void tellFirstAudio();

    // Constant after construction.
    const AudioStreamBasicDescription format_;
    const AudioQueueOutputCallback callback_;
    void* const userData_;
    const AudioOutputChoice outputChoice_;
    // Made and opened by the first successful start() under mutex_, which then
    // sets outputOpen_, and never replaced: a Device output is only loaded
    // when it is needed. Used by the queue's thread while it runs;
    // silenceNow() and framesPlayed() by any thread that has seen outputOpen_
    // under mutex_; closed by dispose() after the thread has ended.
    std::unique_ptr<AudioOutput> output_;

    // Shared between callers and the queue's thread, guarded by mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the queue's thread waits for work on it
    std::condition_variable idle_;  // dispose() waits for a drained stop on it
    std::vector<std::unique_ptr<Slot>> slots_;
    std::deque<Item> items_;        // buffers and markers, in the order they must play
    std::deque<Command> commands_;  // handled before any item
    std::vector<Listener> listeners_;
    std::vector<std::byte> cookie_;
    std::uint64_t cookieVersion_ = 0;
    std::string errorText_;
    bool reportedDecodeFailure_ = false;
    bool outputOpen_ = false;
    bool startedByCaller_ = false;  // started, and not stopped since
    bool disposing_ = false;
    std::uint64_t startGeneration_ = 0;
    std::uint64_t stopMarkersPosted_ = 0;
    std::uint64_t stopMarkersDone_ = 0;  // played, cancelled or dropped

    // Written by the queue's thread only; read by AudioQueueGetProperty.
    std::atomic<bool> running_{false};
    // Since when (steady clock, ns) the running queue's thread has found
    // nothing to decode or write; 0 while it has. Set by the queue's thread,
    // cleared by enqueue() and an immediate stop.
    std::atomic<std::int64_t> idleSince_{0};

    // The queue's thread only.
    std::unique_ptr<Decoder> decoder_;
    bool firstAudioTold_ = false;
    std::uint64_t appliedCookieVersion_ = 0;
    Slot* current_ = nullptr;  // the buffer being decoded
    std::size_t nextRun_ = 0;  // its next description, or byte offset without descriptions
    PcmWriter writer_;         // decoded audio on its way to the output
    bool draining_ = false;    // a stop is waiting for the output to play out
    std::uint64_t drainGeneration_ = 0;

    std::thread thread_;  // last: started once everything above exists
};

AudioQueue::Slot* AudioQueue::findSlot(AudioQueueBufferRef buffer) const {
    for (const auto& slot : slots_) {
        if (&slot->record == buffer) {
            return slot.get();
        }
    }
    return nullptr;
}

OSStatus AudioQueue::addListener(AudioQueuePropertyListenerProc proc, void* userData) {
    std::lock_guard lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    listeners_.push_back({proc, userData});
    return noErr;
}

OSStatus AudioQueue::allocate(std::uint32_t size, AudioQueueBufferRef* out) {
    std::unique_ptr<Slot> slot;
    try {
        slot = std::make_unique<Slot>(size);
    } catch (const std::bad_alloc&) {
        return kAudioQueueErr_OutOfMemory;
    }
    std::lock_guard lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    *out = &slot->record;
    slots_.push_back(std::move(slot));
    return noErr;
}

OSStatus AudioQueue::setCookie(const void* data, std::uint32_t size) {
    if (size > kMaxCookieSize) {
        return kAudioQueueErr_InvalidPropertySize;
    }
    if (size > 0 && data == nullptr) {
        return kAudio_ParamError;
    }
    const auto* bytes = static_cast<const std::byte*>(data);
    std::vector<std::byte> cookie(bytes, bytes + size);
    std::string error;
    if (format_.mFormatID == kAudioFormatMPEG4AAC && !cookie.empty() &&
        !aacCookieUsable(format_, cookie, error)) {
        std::lock_guard lock(mutex_);
        errorText_ = error;
        return kAudioQueueErr_InvalidPropertyValue;
    }
    std::lock_guard lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    cookie_ = std::move(cookie);
    ++cookieVersion_;
    return noErr;
}

OSStatus AudioQueue::getIsRunning(void* out, std::uint32_t* ioSize) const {
    if (out == nullptr || ioSize == nullptr) {
        return kAudio_ParamError;
    }
    if (*ioSize < sizeof(std::uint32_t)) {
        return kAudioQueueErr_InvalidPropertySize;
    }
    const std::uint32_t value = running_.load() ? 1 : 0;
    std::memcpy(out, &value, sizeof value);
    *ioSize = sizeof value;
    return noErr;
}

OSStatus AudioQueue::enqueue(AudioQueueBufferRef buffer, std::uint32_t count,
                             const AudioStreamPacketDescription* descriptions) {
    if (buffer == nullptr || (count > 0 && descriptions == nullptr)) {
        return kAudio_ParamError;
    }
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    Slot* slot = findSlot(buffer);
    if (slot == nullptr) {
        return kAudioQueueErr_InvalidBuffer;
    }
    if (slot->queued) {
        return kAudioQueueErr_BufferInQueue;
    }
    const std::uint32_t size = buffer->mAudioDataByteSize;
    if (size > buffer->mAudioDataBytesCapacity) {
        return kAudio_ParamError;
    }
    if (count == 0 && size > 0 && format_.mFormatID == kAudioFormatMPEG4AAC) {
        return kAudio_ParamError;  // access units cannot be found without descriptions
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const AudioStreamPacketDescription& d = descriptions[i];
        if (d.mStartOffset < 0 ||
            static_cast<std::uint64_t>(d.mStartOffset) + d.mDataByteSize > size) {
            return kAudio_ParamError;
        }
    }
    slot->descriptions.assign(descriptions, descriptions + count);
    slot->byteSize = size;
    slot->queued = true;
    items_.push_back({Item::Kind::Buffer, slot, 0});
    idleSince_.store(0);
    lock.unlock();
    wake_.notify_one();
    return noErr;
}

OSStatus AudioQueue::start() {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    if (!outputOpen_) {
        const PcmFormat requested{static_cast<int>(std::lround(format_.mSampleRate)),
                                  static_cast<int>(format_.mChannelsPerFrame)};
        std::string error;
        bool moduleMissing = false;
        std::unique_ptr<AudioOutput> output =
            openOutput(outputChoice_, requested, error, moduleMissing);
        if (output == nullptr) {
            writeLine(outputChoice_, "audio queue cannot start: " + error);
            if (moduleMissing) {
                errorText_ = error + ". Reinstall Orvento with its SDL2 library.";
                return kAudioQueueErr_CannotStart;
            }
            errorText_ = error;
            return outputChoice_.kind == AudioOutputChoice::Kind::Device
                       ? kAudioQueueErr_InvalidDevice
                       : kAudioQueueErr_CannotStart;
        }
        output_ = std::move(output);
        outputOpen_ = true;
    }
    if (startedByCaller_) {
        return noErr;
    }
    startedByCaller_ = true;
    ++startGeneration_;  // cancels a drained stop still under way
    commands_.push_back(Command::Start);
    lock.unlock();
    wake_.notify_one();
    return noErr;
}

OSStatus AudioQueue::flush() {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    items_.push_back({Item::Kind::Flush, nullptr, 0});
    lock.unlock();
    wake_.notify_one();
    return noErr;
}

OSStatus AudioQueue::stop(bool immediate) {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return kAudioQueueErr_InvalidRunState;
    }
    if (immediate) {
        if (outputOpen_) {
            output_->silenceNow();
        }
        startedByCaller_ = false;
        commands_.push_back(Command::StopNow);
    } else {
        if (!startedByCaller_) {
            return noErr;
        }
        startedByCaller_ = false;
        items_.push_back({Item::Kind::Stop, nullptr, startGeneration_});
        ++stopMarkersPosted_;
    }
    lock.unlock();
    wake_.notify_one();
    return noErr;
}

OSStatus AudioQueue::dispose(bool immediate) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        return kAudioQueueErr_InvalidRunState;
    }
    {
        std::unique_lock lock(mutex_);
        if (disposing_) {
            return kAudioQueueErr_InvalidRunState;
        }
        disposing_ = true;
        if (!immediate && startedByCaller_) {
            startedByCaller_ = false;
            items_.push_back({Item::Kind::Stop, nullptr, startGeneration_});
            const std::uint64_t target = ++stopMarkersPosted_;
            wake_.notify_one();
            idle_.wait(lock, [&] { return stopMarkersDone_ >= target; });
        }
        if (outputOpen_) {
            output_->silenceNow();
        }
        commands_.push_back(Command::Exit);
    }
    wake_.notify_one();
    thread_.join();
    if (outputOpen_) {
        output_->close();
        takeOutputFailure();
    }
    return noErr;
}

std::uint64_t AudioQueue::framesPlayed() const {
    {
        std::lock_guard lock(mutex_);
        if (!outputOpen_) {
            return 0;
        }
    }
    return output_->framesPlayed();
}

std::uint64_t AudioQueue::underruns() const {
    {
        std::lock_guard lock(mutex_);
        if (!outputOpen_) {
            return 0;
        }
    }
    return output_->underruns();
}

double AudioQueue::starvedSeconds() const {
    const std::int64_t since = idleSince_.load();
    if (since == 0) {
        return 0;
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now - std::chrono::nanoseconds(since)).count();
}

std::string AudioQueue::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

// ---- The queue's thread -------------------------------------------------

void AudioQueue::run() {
    pthread_setname_np(pthread_self(), "orvento-queue");
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!commands_.empty()) {
            const Command command = commands_.front();
            commands_.pop_front();
            lock.unlock();
            const bool exit = handle(command);
            lock.lock();
            if (exit) {
                return;
            }
            continue;
        }
        if (!running_.load()) {
            wake_.wait(lock, [&] { return !commands_.empty(); });
            continue;
        }
        const Step step = advance(lock);
        if (step.kind == Step::Kind::Idle) {
            if (idleSince_.load() == 0) {
                idleSince_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
            }
            wake_.wait(lock, [&] { return !commands_.empty() || !items_.empty(); });
        } else if (step.kind == Step::Kind::Wait) {
            wake_.wait_for(lock, step.wait, [&] { return !commands_.empty(); });
        }
    }
}

bool AudioQueue::handle(Command command) {
    switch (command) {
        case Command::Start:
            if (!running_.load()) {
                output_->resume();
                notifyRunning(true);
            }
            return false;
        case Command::StopNow:
            stopNow();
            return false;
        case Command::Exit:
            stopNow();
            return true;
    }
    return false;
}

void AudioQueue::stopNow() {
    idleSince_.store(0);
    std::vector<Slot*> back;
    bool open = false;
    {
        std::lock_guard lock(mutex_);
        open = outputOpen_;
        if (current_ != nullptr) {
            back.push_back(current_);
        }
        for (const Item& item : items_) {
            if (item.kind == Item::Kind::Buffer) {
                back.push_back(item.slot);
            } else if (item.kind == Item::Kind::Stop) {
                ++stopMarkersDone_;
            }
        }
        items_.clear();
        if (draining_) {
            ++stopMarkersDone_;
        }
        for (Slot* slot : back) {
            slot->queued = false;
        }
    }
    idle_.notify_all();
    current_ = nullptr;
    nextRun_ = 0;
    draining_ = false;
    decoder_->reset();
    writer_.reset();
    if (open) {
        output_->discard();
        output_->pause();
    }
    for (Slot* slot : back) {
        callback_(userData_, this, &slot->record);
    }
    if (running_.load()) {
        notifyRunning(false);
    }
}

AudioQueue::Step AudioQueue::advance(std::unique_lock<std::mutex>& lock) {
    if (writer_.pending() &&
        (current_ == nullptr || writer_.pendingSeconds() >= kWriteBatchSeconds)) {
        return writeOut(lock);
    }
    if (current_ != nullptr) {
        return decodeCurrent(lock);
    }
    if (draining_) {
        return drain(lock);
    }
    return takeItem(lock);
}

AudioQueue::Step AudioQueue::writeOut(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const std::optional<AudioOutput::Duration> wait = writer_.writeTo(*output_);
    if (const std::string failure = writer_.takeFailure(); !failure.empty()) {
        reportFailure(failure);
    }
    takeOutputFailure();
    tellFirstAudio();
    lock.lock();
    return wait ? Step{Step::Kind::Wait, *wait} : Step{Step::Kind::Progress};
}

AudioQueue::Step AudioQueue::decodeCurrent(std::unique_lock<std::mutex>& lock) {
    Slot* slot = current_;
    const bool more = slot->descriptions.empty() ? nextRun_ < slot->byteSize
                                                 : nextRun_ < slot->descriptions.size();
    std::optional<std::vector<std::byte>> cookie;
    if (!more) {
        current_ = nullptr;
        slot->queued = false;
    } else if (appliedCookieVersion_ != cookieVersion_) {
        appliedCookieVersion_ = cookieVersion_;
        cookie = cookie_;
    }
    lock.unlock();
    if (!more) {
        callback_(userData_, this, &slot->record);
    } else {
        if (cookie.has_value() && !decoder_->setCookie(*cookie)) {
            reportFailure(decoder_->errorText());
        }
        decodeNextRun();
    }
    lock.lock();
    return {Step::Kind::Progress};
}

void AudioQueue::tellFirstAudio() {
    if (!firstAudioTold_ && output_->framesPlayed() > 0) {
        firstAudioTold_ = true;
        if (outputChoice_.onFirstAudio) {
            outputChoice_.onFirstAudio();
        }
    }
}

AudioQueue::Step AudioQueue::drain(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const AudioOutput::Duration left = output_->untilDrained();
    takeOutputFailure();
    tellFirstAudio();  // all of a short stream may have been written at once
    lock.lock();
    if (left > AudioOutput::Duration::zero()) {
        return {Step::Kind::Wait, left};
    }
    draining_ = false;
    ++stopMarkersDone_;
    idle_.notify_all();
    if (drainGeneration_ == startGeneration_) {
        // Not started again meanwhile: the queue stops.
        lock.unlock();
        output_->pause();
        notifyRunning(false);
        lock.lock();
    }
    return {Step::Kind::Progress};
}

AudioQueue::Step AudioQueue::takeItem(std::unique_lock<std::mutex>& lock) {
    if (items_.empty()) {
        return {Step::Kind::Idle};
    }
    const Item item = items_.front();
    items_.pop_front();
    if (item.kind == Item::Kind::Buffer) {
        current_ = item.slot;
        nextRun_ = 0;
        return {Step::Kind::Progress};
    }
    if (item.kind == Item::Kind::Stop && item.generation != startGeneration_) {
        // A stop cancelled by a later start.
        ++stopMarkersDone_;
        idle_.notify_all();
        return {Step::Kind::Progress};
    }
    // A flush, or a stop: everything before it is played out.
    lock.unlock();
    decoder_->flush(writer_.decoded());
    writer_.endOfData();
    lock.lock();
    if (item.kind == Item::Kind::Stop) {
        draining_ = true;
        drainGeneration_ = item.generation;
    }
    return {Step::Kind::Progress};
}

void AudioQueue::decodeNextRun() {
    Slot& slot = *current_;
    std::span<const std::byte> run;
    bool whole = false;
    if (slot.descriptions.empty()) {
        const std::size_t length = std::min(kRawSlice, slot.byteSize - nextRun_);
        run = {slot.storage.get() + nextRun_, length};
        nextRun_ += length;
    } else {
        const AudioStreamPacketDescription& d = slot.descriptions[nextRun_++];
        run = {slot.storage.get() + d.mStartOffset, d.mDataByteSize};
        whole = true;
    }
    if (!decoder_->decode(run, whole, writer_.decoded())) {
        reportFailure(decoder_->errorText());
    }
}

void AudioQueue::notifyRunning(bool running) {
    running_.store(running);
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    for (const Listener& listener : listeners) {
        listener.proc(listener.userData, this, kAudioQueueProperty_IsRunning);
    }
}

void AudioQueue::takeOutputFailure() {
    const std::string failure = output_->takeFailure();
    if (failure.empty()) {
        return;
    }
    if (!outputChoice_.onFailure) {
        reportFailure(failure);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        errorText_ = failure;
    }
    outputChoice_.onFailure(failure);
}

void AudioQueue::reportFailure(const std::string& text) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        errorText_ = text;
        first = !reportedDecodeFailure_;
        reportedDecodeFailure_ = true;
    }
    if (first) {
        writeLine(outputChoice_, "audio queue: " + text + " (later failures are not shown)");
    }
}

// ---- The platform calls ---------------------------------------------------

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* inFormat,
                             AudioQueueOutputCallback inCallbackProc, void* inUserData,
                             RunLoop* inCallbackRunLoop, const char* inCallbackRunLoopMode,
                             std::uint32_t inFlags, AudioQueueRef* outAQ) {
    return AudioQueueNewOutputTo(AudioOutputChoice{}, inFormat, inCallbackProc, inUserData,
                                 inCallbackRunLoop, inCallbackRunLoopMode, inFlags, outAQ);
}

OSStatus AudioQueueNewOutputTo(const AudioOutputChoice& output,
                               const AudioStreamBasicDescription* inFormat,
                               AudioQueueOutputCallback inCallbackProc, void* inUserData,
                               RunLoop* inCallbackRunLoop, const char* inCallbackRunLoopMode,
                               std::uint32_t inFlags, AudioQueueRef* outAQ) {
    if (inFormat == nullptr || inCallbackProc == nullptr || outAQ == nullptr ||
        inCallbackRunLoop != nullptr || inCallbackRunLoopMode != nullptr || inFlags != 0) {
        return kAudio_ParamError;
    }
    std::unique_ptr<Decoder> decoder;
    std::string error;
    const OSStatus status = makeDecoder(*inFormat, decoder, error);
    if (status == kAudioQueueErr_CodecNotFound) {
        // The format is one the queue plays, but its decoder (or the module
        // holding it) could not be had: say why, since no queue exists to ask.
        writeLine(output, "audio queue cannot decode this format: " + error);
    }
    if (status != noErr) {
        return status;
    }
    try {
        auto queue = std::make_unique<AudioQueue>(*inFormat, std::move(decoder), output,
                                                  inCallbackProc, inUserData);
        queue->launch();
        *outAQ = queue.release();
    } catch (const std::bad_alloc&) {
        return kAudioQueueErr_OutOfMemory;
    } catch (const std::system_error&) {
        return kAudioQueueErr_OutOfMemory;
    }
    return noErr;
}

OSStatus AudioQueueAddPropertyListener(AudioQueueRef inAQ, AudioQueuePropertyID inID,
                                       AudioQueuePropertyListenerProc inProc, void* inUserData) {
    if (inAQ == nullptr || inProc == nullptr) {
        return kAudio_ParamError;
    }
    if (inID != kAudioQueueProperty_IsRunning) {
        return kAudioQueueErr_InvalidProperty;
    }
    return inAQ->addListener(inProc, inUserData);
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef inAQ, std::uint32_t inBufferByteSize,
                                  AudioQueueBufferRef* outBuffer) {
    if (inAQ == nullptr || outBuffer == nullptr || inBufferByteSize == 0) {
        return kAudio_ParamError;
    }
    return inAQ->allocate(inBufferByteSize, outBuffer);
}

OSStatus AudioQueueSetProperty(AudioQueueRef inAQ, AudioQueuePropertyID inID, const void* inData,
                               std::uint32_t inDataSize) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    if (inID != kAudioQueueProperty_MagicCookie) {
        return kAudioQueueErr_InvalidProperty;
    }
    return inAQ->setCookie(inData, inDataSize);
}

OSStatus AudioQueueGetProperty(AudioQueueRef inAQ, AudioQueuePropertyID inID, void* outData,
                               std::uint32_t* ioDataSize) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    if (inID != kAudioQueueProperty_IsRunning) {
        return kAudioQueueErr_InvalidProperty;
    }
    return inAQ->getIsRunning(outData, ioDataSize);
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef inAQ, AudioQueueBufferRef inBuffer,
                                 std::uint32_t inNumPacketDescs,
                                 const AudioStreamPacketDescription* inPacketDescs) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    return inAQ->enqueue(inBuffer, inNumPacketDescs, inPacketDescs);
}

OSStatus AudioQueueStart(AudioQueueRef inAQ, const AudioTimeStamp* /*inStartTime*/) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    return inAQ->start();
}

OSStatus AudioQueueFlush(AudioQueueRef inAQ) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    return inAQ->flush();
}

OSStatus AudioQueueStop(AudioQueueRef inAQ, bool inImmediate) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    return inAQ->stop(inImmediate);
}

OSStatus AudioQueueDispose(AudioQueueRef inAQ, bool inImmediate) {
    if (inAQ == nullptr) {
        return kAudio_ParamError;
    }
    const OSStatus status = inAQ->dispose(inImmediate);
    if (status == noErr) {
        // Takes back the ownership AudioQueueNewOutputTo handed out.
        std::unique_ptr<AudioQueue> owned(inAQ);
    }
    return status;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef inAQ, void* /*inTimeline*/,
                                  AudioTimeStamp* outTimeStamp, bool* outTimelineDiscontinuity) {
    if (inAQ == nullptr || outTimeStamp == nullptr) {
        return kAudio_ParamError;
    }
    outTimeStamp->mSampleTime = static_cast<double>(inAQ->framesPlayed());
    outTimeStamp->mHostTime =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    outTimeStamp->mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid;
    if (outTimelineDiscontinuity != nullptr) {
        *outTimelineDiscontinuity = false;
    }
    return noErr;
}

std::string AudioQueueErrorText(AudioQueueRef inAQ) {
    return inAQ != nullptr ? inAQ->errorText() : std::string();
}

double AudioQueueStarvedSeconds(AudioQueueRef inAQ) {
    return inAQ != nullptr ? inAQ->starvedSeconds() : 0;
}

std::uint64_t AudioQueueUnderrunCount(AudioQueueRef inAQ) {
    return inAQ != nullptr ? inAQ->underruns() : 0;
}

}  // namespace orvento
