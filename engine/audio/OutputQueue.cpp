#include "engine/audio/OutputQueue.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

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

#include "engine/audio/AudioOutput.h"
#include "engine/audio/Decoder.h"
#include "engine/audio/PcmStage.h"
#include "engine/audio/PcmWriter.h"

namespace orvento {
namespace {

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

void OutputQueue::Buffer::releasePages() {
    static const auto kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    // Only pages wholly inside the storage: the allocator's own bookkeeping
    // around it stays as it is.
    const std::size_t lead =
        (kPage - reinterpret_cast<std::uintptr_t>(storage_.get()) % kPage) % kPage;
    if (capacity_ > lead) {
        if (const std::size_t length = (capacity_ - lead) / kPage * kPage; length > 0) {
            madvise(storage_.get() + lead, length, MADV_DONTNEED);
        }
    }
}

// The real queue: decodes on a thread of its own into the chosen output.
class DecodingQueue final : public OutputQueue {
  public:
    DecodingQueue(const AudioFormat& format, std::unique_ptr<Decoder> decoder,
                  AudioOutputChoice output, Listener& listener)
        : format_(format),
          listener_(listener),
          outputChoice_(std::move(output)),
          decoder_(std::move(decoder)) {}

    DecodingQueue(const DecodingQueue&) = delete;
    DecodingQueue& operator=(const DecodingQueue&) = delete;

    ~DecodingQueue() override {
        // A queue whose disposal failed (or never came) is disposed of now;
        // the slots, and so every buffer, go with the members afterwards. A
        // thread that could not be started has nothing to dispose of.
        if (thread_.joinable()) {
            (void)dispose(true);
        }
    }

    // Starts the queue's thread; throws std::system_error when it cannot.
    void launch() {
        thread_ = std::thread([this] { run(); });
    }

    Allocation allocateBuffer(std::size_t capacity) override;
    QueueError setMagicCookie(std::span<const std::uint8_t> cookie) override;
    QueueError enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) override;
    QueueError start() override;
    QueueError flush() override;
    QueueError stop(bool immediate) override;
    QueueError dispose(bool immediate) override;
    void setStage(std::shared_ptr<PcmStage> stage) override;
    bool isRunning() const override { return running_.load(); }
    PlayPosition currentTime() const override;
    double starvedSeconds() const override;
    std::uint64_t underrunCount() const override;
    std::string errorText() const override;

  private:
    struct Slot {
        explicit Slot(std::size_t capacity) : buffer(capacity) {}
        Buffer buffer;
        // Copied by enqueue(), then read by the queue's thread until the
        // buffer comes back.
        std::vector<PacketDescription> descriptions;
        std::size_t byteSize = 0;
        bool queued = false;  // guarded by mutex_
    };
    struct Item {
        enum class Kind { Buffer, Flush, Stop } kind;
        Slot* slot = nullptr;
        std::uint64_t generation = 0;  // Stop: the start it belongs to
    };
    enum class Command { Start, StopNow, Exit };
    struct Step {
        enum class Kind { Progress, Wait, Idle } kind;
        AudioOutput::Duration wait{};
    };

    Slot* findSlot(const Buffer& buffer) const;
    std::uint64_t framesPlayed() const;
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
    const AudioFormat format_;
    Listener& listener_;
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
    std::vector<std::byte> cookie_;
    std::uint64_t cookieVersion_ = 0;
    std::shared_ptr<PcmStage> stage_;
    std::string errorText_;
    bool reportedDecodeFailure_ = false;
    bool outputOpen_ = false;
    bool startedByCaller_ = false;  // started, and not stopped since
    bool disposing_ = false;
    std::uint64_t startGeneration_ = 0;
    std::uint64_t stopMarkersPosted_ = 0;
    std::uint64_t stopMarkersDone_ = 0;  // played, cancelled or dropped

    // Written by the queue's thread only; read by isRunning().
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
    // With a stage, the decoder's audio goes to staged_ and through the stage
    // into writer_. undecodedFrames_: frames enqueued and not yet decoded,
    // as far as the format tells (packets of a known frame count, PCM).
    std::shared_ptr<PcmStage> activeStage_;
    PcmBuffer staged_;
    std::vector<float> stageOut_;
    PcmFormat stagedFormat_;
    std::atomic<std::uint64_t> undecodedFrames_{0};  // also written by enqueue()
    // The frames of `descriptions.size()` packets or `bytes` plain bytes, as
    // far as the format tells; 0 when it does not.
    std::uint64_t framesOf(std::size_t packets, std::size_t bytes) const;
    void passThroughStage(bool end);
    bool draining_ = false;  // a stop is waiting for the output to play out
    std::uint64_t drainGeneration_ = 0;

    std::thread thread_;  // last: started once everything above exists
};

DecodingQueue::Slot* DecodingQueue::findSlot(const Buffer& buffer) const {
    for (const auto& slot : slots_) {
        if (&slot->buffer == &buffer) {
            return slot.get();
        }
    }
    return nullptr;
}

OutputQueue::Allocation DecodingQueue::allocateBuffer(std::size_t capacity) {
    if (capacity == 0) {
        return {nullptr, QueueError::InvalidParameter};
    }
    std::unique_ptr<Slot> slot;
    try {
        slot = std::make_unique<Slot>(capacity);
    } catch (const std::bad_alloc&) {
        return {nullptr, QueueError::OutOfMemory};
    }
    std::lock_guard lock(mutex_);
    if (disposing_) {
        return {nullptr, QueueError::InvalidRunState};
    }
    Buffer* buffer = &slot->buffer;
    slots_.push_back(std::move(slot));
    return {buffer, QueueError::None};
}

QueueError DecodingQueue::setMagicCookie(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxMagicCookieSize) {
        return QueueError::InvalidCookieSize;
    }
    const std::span<const std::byte> raw = std::as_bytes(bytes);
    std::vector<std::byte> cookie(raw.begin(), raw.end());
    std::string error;
    if (format_.formatId == kFormatAac && !cookie.empty() &&
        !aacCookieUsable(format_, cookie, error)) {
        std::lock_guard lock(mutex_);
        errorText_ = error;
        return QueueError::InvalidCookie;
    }
    std::lock_guard lock(mutex_);
    if (disposing_) {
        return QueueError::InvalidRunState;
    }
    cookie_ = std::move(cookie);
    ++cookieVersion_;
    return QueueError::None;
}

QueueError DecodingQueue::enqueue(Buffer& buffer, std::span<const PacketDescription> descriptions) {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return QueueError::InvalidRunState;
    }
    Slot* slot = findSlot(buffer);
    if (slot == nullptr) {
        return QueueError::InvalidBuffer;
    }
    if (slot->queued) {
        return QueueError::BufferInQueue;
    }
    const std::size_t size = buffer.byteSize();
    if (size > buffer.capacity()) {
        return QueueError::InvalidParameter;
    }
    if (descriptions.empty() && size > 0 && format_.formatId == kFormatAac) {
        return QueueError::InvalidParameter;  // access units cannot be found without descriptions
    }
    for (const PacketDescription& d : descriptions) {
        if (d.startOffset < 0 || static_cast<std::uint64_t>(d.startOffset) + d.byteSize > size) {
            return QueueError::InvalidParameter;
        }
    }
    slot->descriptions.assign(descriptions.begin(), descriptions.end());
    slot->byteSize = size;
    slot->queued = true;
    undecodedFrames_.fetch_add(descriptions.empty() ? framesOf(0, size)
                                                    : framesOf(descriptions.size(), 0));
    items_.push_back({Item::Kind::Buffer, slot, 0});
    idleSince_.store(0);
    lock.unlock();
    wake_.notify_one();
    return QueueError::None;
}

void DecodingQueue::setStage(std::shared_ptr<PcmStage> stage) {
    std::lock_guard lock(mutex_);
    stage_ = std::move(stage);
}

std::uint64_t DecodingQueue::framesOf(std::size_t packets, std::size_t bytes) const {
    if (packets > 0) {
        return static_cast<std::uint64_t>(packets) * format_.framesPerPacket;
    }
    return format_.bytesPerFrame > 0 ? bytes / format_.bytesPerFrame : 0;
}

void DecodingQueue::passThroughStage(bool end) {
    const auto pending = [&] {
        const double rate = format_.sampleRate > 0 ? format_.sampleRate : 1;
        return static_cast<double>(undecodedFrames_.load()) / rate + activeStage_->heldSeconds() +
               writer_.pendingSeconds();
    };
    // What the stage gave out goes on to the output in the stage's format.
    const auto toWriter = [&] {
        if (!stageOut_.empty()) {
            const std::size_t frames =
                stageOut_.size() / static_cast<std::size_t>(stagedFormat_.channels);
            std::copy(stageOut_.begin(), stageOut_.end(),
                      writer_.decoded().append(stagedFormat_, frames));
        }
    };
    for (const PcmBuffer::Piece& piece : staged_.pieces()) {
        const std::size_t samples = piece.frames * static_cast<std::size_t>(piece.format.channels);
        stageOut_.clear();
        activeStage_->process(
            piece.format, {staged_.samples(piece), samples}, stageOut_,
            pending() + static_cast<double>(piece.frames) / piece.format.sampleRate);
        stagedFormat_ = piece.format;
        toWriter();
    }
    staged_.clear();
    if (end && stagedFormat_.valid()) {
        stageOut_.clear();
        activeStage_->flush(stageOut_);
        toWriter();
    }
}

QueueError DecodingQueue::start() {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return QueueError::InvalidRunState;
    }
    if (!outputOpen_) {
        const PcmFormat requested{static_cast<int>(std::lround(format_.sampleRate)),
                                  static_cast<int>(format_.channelsPerFrame)};
        std::string error;
        bool moduleMissing = false;
        std::unique_ptr<AudioOutput> output =
            openOutput(outputChoice_, requested, error, moduleMissing);
        if (output == nullptr) {
            writeLine(outputChoice_, "audio queue cannot start: " + error);
            if (moduleMissing) {
                errorText_ = error + ". Reinstall Orvento with its SDL2 library.";
                return QueueError::CannotStart;
            }
            errorText_ = error;
            return outputChoice_.kind == AudioOutputChoice::Kind::Device ? QueueError::InvalidDevice
                                                                         : QueueError::CannotStart;
        }
        output_ = std::move(output);
        outputOpen_ = true;
    }
    if (startedByCaller_) {
        return QueueError::None;
    }
    startedByCaller_ = true;
    ++startGeneration_;  // cancels a drained stop still under way
    commands_.push_back(Command::Start);
    lock.unlock();
    wake_.notify_one();
    return QueueError::None;
}

QueueError DecodingQueue::flush() {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return QueueError::InvalidRunState;
    }
    items_.push_back({Item::Kind::Flush, nullptr, 0});
    lock.unlock();
    wake_.notify_one();
    return QueueError::None;
}

QueueError DecodingQueue::stop(bool immediate) {
    std::unique_lock lock(mutex_);
    if (disposing_) {
        return QueueError::InvalidRunState;
    }
    if (immediate) {
        if (outputOpen_) {
            output_->silenceNow();
        }
        startedByCaller_ = false;
        commands_.push_back(Command::StopNow);
    } else {
        if (!startedByCaller_) {
            return QueueError::None;
        }
        startedByCaller_ = false;
        items_.push_back({Item::Kind::Stop, nullptr, startGeneration_});
        ++stopMarkersPosted_;
    }
    lock.unlock();
    wake_.notify_one();
    return QueueError::None;
}

QueueError DecodingQueue::dispose(bool immediate) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        return QueueError::InvalidRunState;
    }
    {
        std::unique_lock lock(mutex_);
        if (disposing_) {
            return QueueError::InvalidRunState;
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
    return QueueError::None;
}

OutputQueue::PlayPosition DecodingQueue::currentTime() const {
    return {framesPlayed(), std::chrono::steady_clock::now()};
}

std::uint64_t DecodingQueue::framesPlayed() const {
    {
        std::lock_guard lock(mutex_);
        if (!outputOpen_) {
            return 0;
        }
    }
    return output_->framesPlayed();
}

std::uint64_t DecodingQueue::underrunCount() const {
    {
        std::lock_guard lock(mutex_);
        if (!outputOpen_) {
            return 0;
        }
    }
    return output_->underruns();
}

double DecodingQueue::starvedSeconds() const {
    const std::int64_t since = idleSince_.load();
    if (since == 0) {
        return 0;
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now - std::chrono::nanoseconds(since)).count();
}

std::string DecodingQueue::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

// ---- The queue's thread -------------------------------------------------

void DecodingQueue::run() {
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

bool DecodingQueue::handle(Command command) {
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

void DecodingQueue::stopNow() {
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
    staged_.clear();
    undecodedFrames_.store(0);
    if (activeStage_) {
        activeStage_->reset();
    }
    if (open) {
        output_->discard();
        output_->pause();
    }
    for (Slot* slot : back) {
        listener_.bufferComplete(slot->buffer);
    }
    if (running_.load()) {
        notifyRunning(false);
    }
}

DecodingQueue::Step DecodingQueue::advance(std::unique_lock<std::mutex>& lock) {
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

DecodingQueue::Step DecodingQueue::writeOut(std::unique_lock<std::mutex>& lock) {
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

DecodingQueue::Step DecodingQueue::decodeCurrent(std::unique_lock<std::mutex>& lock) {
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
    activeStage_ = stage_;
    lock.unlock();
    if (!more) {
        slot->buffer.releasePages();
        listener_.bufferComplete(slot->buffer);
    } else {
        if (cookie.has_value() && !decoder_->setCookie(*cookie)) {
            reportFailure(decoder_->errorText());
        }
        decodeNextRun();
    }
    lock.lock();
    return {Step::Kind::Progress};
}

void DecodingQueue::tellFirstAudio() {
    if (!firstAudioTold_ && output_->framesPlayed() > 0) {
        firstAudioTold_ = true;
        if (outputChoice_.onFirstAudio) {
            outputChoice_.onFirstAudio();
        }
    }
}

DecodingQueue::Step DecodingQueue::drain(std::unique_lock<std::mutex>& lock) {
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

DecodingQueue::Step DecodingQueue::takeItem(std::unique_lock<std::mutex>& lock) {
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
    if (activeStage_) {
        decoder_->flush(staged_);
        passThroughStage(true);
    } else {
        decoder_->flush(writer_.decoded());
    }
    writer_.endOfData();
    lock.lock();
    if (item.kind == Item::Kind::Stop) {
        draining_ = true;
        drainGeneration_ = item.generation;
    }
    return {Step::Kind::Progress};
}

void DecodingQueue::decodeNextRun() {
    Slot& slot = *current_;
    std::span<const std::byte> run;
    bool whole = false;
    if (slot.descriptions.empty()) {
        const std::size_t length = std::min(kRawSlice, slot.byteSize - nextRun_);
        run = std::as_bytes(slot.buffer.bytes()).subspan(nextRun_, length);
        nextRun_ += length;
    } else {
        const PacketDescription& d = slot.descriptions[nextRun_++];
        run = std::as_bytes(slot.buffer.bytes())
                  .subspan(static_cast<std::size_t>(d.startOffset), d.byteSize);
        whole = true;
    }
    const std::uint64_t frames = whole ? framesOf(1, 0) : framesOf(0, run.size());
    // enqueue() may add meanwhile: take the frames off without losing that.
    std::uint64_t undecoded = undecodedFrames_.load();
    while (!undecodedFrames_.compare_exchange_weak(undecoded,
                                                   undecoded - std::min(undecoded, frames))) {
    }
    if (!decoder_->decode(run, whole, activeStage_ ? staged_ : writer_.decoded())) {
        reportFailure(decoder_->errorText());
    }
    if (activeStage_) {
        passThroughStage(false);
    }
}

void DecodingQueue::notifyRunning(bool running) {
    running_.store(running);
    listener_.runningChanged(running);
}

void DecodingQueue::takeOutputFailure() {
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

void DecodingQueue::reportFailure(const std::string& text) {
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

// ---- Creation --------------------------------------------------------------

OutputQueueCreation makeOutputQueue(const AudioFormat& format, const AudioOutputChoice& output,
                                    OutputQueue::Listener& listener) {
    std::unique_ptr<Decoder> decoder;
    std::string error;
    const QueueError status = makeDecoder(format, decoder, error);
    if (status == QueueError::CodecNotFound) {
        // The format is one the queue plays, but its decoder (or the module
        // holding it) could not be had: say why, since no queue exists to ask.
        writeLine(output, "audio queue cannot decode this format: " + error);
    }
    if (status != QueueError::None) {
        return {nullptr, status};
    }
    try {
        auto queue = std::make_unique<DecodingQueue>(format, std::move(decoder), output, listener);
        queue->launch();
        return {std::move(queue), QueueError::None};
    } catch (const std::bad_alloc&) {
        return {nullptr, QueueError::OutOfMemory};
    } catch (const std::system_error&) {
        return {nullptr, QueueError::OutOfMemory};
    }
}

}  // namespace orvento
