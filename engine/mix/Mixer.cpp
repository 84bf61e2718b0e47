#include "engine/mix/Mixer.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/audio/AudioOutput.h"
#include "engine/mix/MixLaw.h"
#include "engine/transmissions/TransmissionDetector.h"

namespace orvento {
namespace {

using Clock = std::chrono::steady_clock;
using Duration = AudioOutput::Duration;

constexpr float kSilentDb = -120;
// The mix is written to the output in runs of this much: every write may
// wake another thread (the sound server's client loop).
constexpr double kWriteSeconds = 0.1;
// How far ahead of real time the mix runs into an output that takes
// everything at once (a WAV file, the untimed null output).
constexpr double kUntimedLeadSeconds = 0.2;

Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

}  // namespace

// One place of the mixer. Its ring holds frames of up to two channels,
// always two samples a frame apart, so that a feed may change its channel
// count between two players; it is allocated at the first attach and kept
// until the mixer goes, so the mixer's thread may still read it after a
// detach.
struct FeedSlot {
    // The owner's controls and the mixer's readings (any thread).
    std::atomic<bool> taken{false};
    std::atomic<float> gainDb{0};
    std::atomic<float> pan{0};
    std::atomic<bool> muted{false};
    std::atomic<bool> soloed{false};
    std::atomic<bool> priority{false};
    std::atomic<bool> judged{true};  // the detector runs (always for a priority feed)
    std::atomic<float> levelDb{kSilentDb};
    // Fed by the mixer's thread; its keyed() is read from any thread. The
    // same judgement as the transmissions list's, so that hiss above any
    // level neither lights the feed nor ducks the others.
    const std::unique_ptr<TransmissionDetector> key =
        std::make_unique<TransmissionDetector>(TransmissionDetector::EventHandler{});

    // The feed's queue (producer) and the mixer's thread (consumer).
    std::unique_ptr<float[]> ring;  // written before `attached` is first set
    std::size_t ringFrames = 0;
    std::atomic<bool> attached{false};          // a queue's output is open on it
    std::atomic<std::uint64_t> attachments{0};  // so far
    std::atomic<int> channels{1};
    std::atomic<bool> paused{true};
    std::atomic<bool> silenced{false};        // drop everything until discard()
    std::atomic<std::uint64_t> writePos{0};   // frames, only growing (producer)
    std::atomic<std::uint64_t> readPos{0};    // frames, only growing (consumer)
    std::atomic<std::uint64_t> dropUntil{0};  // the consumer skips up to here
    std::atomic<std::uint64_t> consumed{0};   // frames mixed, drops not counted
    std::atomic<std::uint64_t> underruns{0};

    // The mixer's thread only.
    std::vector<float> block;  // this block's frames of the feed
    std::size_t blockFrames = 0;
    int blockChannels = 1;
    bool active = false;
    double left = 0;  // gains reached at the end of the last block
    double right = 0;
    std::uint64_t seenAttachments = 0;
    bool hadAudio = false;  // since it was attached or last started playing
    bool starved = false;   // ran dry since
};

class MixCore {
  public:
    MixCore(AudioOutputChoice output, const MixerOptions& options);
    ~MixCore() { shutdown(); }
    MixCore(const MixCore&) = delete;
    MixCore& operator=(const MixCore&) = delete;

    int takeSlot();
    void releaseSlot(int index);
    bool attach(int index, const PcmFormat& requested, PcmFormat& format, std::string& error);
    void detach(int index);
    // A feed stopped at once, or was paused or resumed: the mixer looks again.
    void wake(bool stopped);
    void shutdown();
    FeedSlot& slot(int index) { return slots_[static_cast<std::size_t>(index)]; }
    // How long the audio mixed so far takes to play out of the output.
    Duration outputLead() const;
    std::string outputFailure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

  private:
    void run();
    Duration pump();
    void renderBlock(float* mix);
    void mixFeed(FeedSlot& slot, bool anySoloed, double duckFrom, double duckTo, float* mix) const;
    void takeOutputFailure();
    void takeOutputFailureLocked();  // with mutex_ held
    // The sound device is given back while no feed is attached; a file or
    // the null output stays open until the mixer closes.
    bool closesWhenIdle() const { return choice_.kind == AudioOutputChoice::Kind::Device; }

    const AudioOutputChoice choice_;
    std::vector<FeedSlot> slots_;  // sized once, by the options

    mutable std::mutex mutex_;  // guards the fields up to thread_
    std::condition_variable wake_;
    bool exit_ = false;
    bool changed_ = false;
    std::string failure_;
    // Opened by an attach that finds none, with the thread; then the mixer
    // thread's until shutdown() closes it after the join, or until the
    // thread closes an idle device and ends.
    std::unique_ptr<AudioOutput> output_;
    PcmFormat format_;
    std::thread thread_;

    std::atomic<std::uint64_t> stops_{0};  // immediate stops of feeds so far
    // Frames mixed for the output (counted before the feeds' frames are
    // taken, so that a feed found empty is already counted), and of those the
    // ones dropped at a silencing: the mixer's thread writes them,
    // outputLead() reads them.
    std::atomic<std::uint64_t> framesOut_{0};
    std::atomic<std::uint64_t> framesDropped_{0};

    // The mixer's thread only (sized before it starts).
    std::size_t blockFrames_ = 0;
    std::vector<float> mix_;      // one block, stereo
    std::vector<float> pending_;  // mixed, in the output's format, not yet written
    std::size_t pendingDone_ = 0;
    DuckEnvelope duck_;
    MixLimiter limiter_;
    bool untimed_ = false;
    bool paused_ = true;
    std::uint64_t seenStops_ = 0;
    Clock::time_point clockStart_{};
    std::uint64_t framesMixed_ = 0;
};

MixCore::MixCore(AudioOutputChoice output, const MixerOptions& options)
    : choice_(std::move(output)), slots_(static_cast<std::size_t>(std::max(1, options.feeds))) {}

int MixCore::takeSlot() {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        FeedSlot& slot = slots_[i];
        if (!slot.taken.load()) {
            slot.gainDb.store(0);
            slot.pan.store(0);
            slot.muted.store(false);
            slot.soloed.store(false);
            slot.priority.store(false);
            slot.judged.store(true);
            slot.taken.store(true);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void MixCore::releaseSlot(int index) {
    std::lock_guard lock(mutex_);
    slot(index).soloed.store(false);
    slot(index).taken.store(false);
}

bool MixCore::attach(int index, const PcmFormat& requested, PcmFormat& format, std::string& error) {
    std::lock_guard lock(mutex_);
    FeedSlot& feed = slot(index);
    if (exit_) {
        error = "the mixer is closed";
        return false;
    }
    if (feed.attached.load()) {
        error = "the mixer's feed already plays another stream";
        return false;
    }
    if (output_ == nullptr) {
        // A thread that closed an idle output has ended, or is about to.
        if (thread_.joinable()) {
            thread_.join();
        }
        bool moduleMissing = false;
        output_ = openOutput(choice_, {requested.sampleRate, 2}, error, moduleMissing);
        if (output_ == nullptr) {
            failure_ = error;
            return false;
        }
        format_ = output_->format();
        blockFrames_ = std::max<std::size_t>(
            1, static_cast<std::size_t>(std::lround(format_.sampleRate * kBlockSeconds)));
        mix_.assign(blockFrames_ * 2, 0.0F);
        limiter_ = MixLimiter(format_.sampleRate);
        const auto runBlocks = static_cast<std::size_t>(std::ceil(kWriteSeconds / kBlockSeconds));
        pending_.clear();
        pendingDone_ = 0;
        paused_ = true;
        framesOut_.store(0);
        framesDropped_.store(0);
        pending_.reserve(runBlocks * blockFrames_ * static_cast<std::size_t>(format_.channels));
        for (FeedSlot& each : slots_) {
            each.block.assign(blockFrames_ * 2, 0.0F);
        }
        untimed_ = choice_.kind == AudioOutputChoice::Kind::WavFile ||
                   (choice_.kind == AudioOutputChoice::Kind::Null && !choice_.realTime);
        thread_ = std::thread([this] { run(); });
    }
    if (feed.ring == nullptr) {
        feed.ringFrames =
            static_cast<std::size_t>(std::lround(format_.sampleRate * kFeedRingSeconds));
        feed.ring = std::make_unique<float[]>(feed.ringFrames * 2);
    }
    const int channels = std::clamp(requested.channels, 1, 2);
    feed.channels.store(channels);
    feed.dropUntil.store(feed.writePos.load());
    feed.silenced.store(false);
    feed.paused.store(true);
    feed.attachments.fetch_add(1);
    feed.attached.store(true, std::memory_order_release);
    format = {format_.sampleRate, channels};
    changed_ = true;
    wake_.notify_one();
    return true;
}

void MixCore::detach(int index) {
    {
        std::lock_guard lock(mutex_);
        slot(index).attached.store(false);
        changed_ = true;
    }
    wake_.notify_one();
}

void MixCore::wake(bool stopped) {
    {
        std::lock_guard lock(mutex_);
        if (stopped) {
            stops_.fetch_add(1);
        }
        changed_ = true;
    }
    wake_.notify_one();
}

void MixCore::shutdown() {
    {
        std::lock_guard lock(mutex_);
        exit_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
    if (output_ != nullptr) {
        output_->close();
        takeOutputFailure();
        std::lock_guard lock(mutex_);
        output_.reset();
    }
}

Duration MixCore::outputLead() const {
    std::lock_guard lock(mutex_);
    if (output_ == nullptr) {
        return Duration::zero();
    }
    const std::uint64_t gone = output_->framesPlayed() + framesDropped_.load();
    const std::uint64_t written = framesOut_.load();
    return seconds(static_cast<double>(written - std::min(gone, written)) / format_.sampleRate);
}

void MixCore::takeOutputFailure() {
    if (std::string failure = output_->takeFailure(); !failure.empty()) {
        std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
}

void MixCore::takeOutputFailureLocked() {
    if (std::string failure = output_->takeFailure(); !failure.empty()) {
        failure_ = std::move(failure);
    }
}

// ---- The mixer's thread ------------------------------------------------------

void MixCore::run() {
    pthread_setname_np(pthread_self(), "orvento-mixer");
    std::unique_lock lock(mutex_);
    while (!exit_) {
        changed_ = false;
        lock.unlock();
        int playing = 0;
        for (FeedSlot& feed : slots_) {
            if (feed.attached.load(std::memory_order_acquire) && !feed.paused.load() &&
                !feed.silenced.load()) {
                ++playing;
            }
        }
        const std::uint64_t stops = stops_.load();
        std::optional<Duration> wait;  // none: until something changes
        if (playing > 0) {
            if (paused_) {
                output_->resume();
                paused_ = false;
                clockStart_ = Clock::now();
                framesMixed_ = 0;
            }
            wait = pump();
        } else if (stops != seenStops_ && !paused_) {
            // An immediate stop left nothing playing: what the output holds
            // goes too.
            output_->silenceNow();
            output_->discard();
            output_->pause();
            paused_ = true;
            pendingDone_ = pending_.size();
            framesDropped_.store(framesOut_.load() - output_->framesPlayed());
        } else if (!paused_) {
            // Nothing plays: the output plays out what it holds, then rests.
            const Duration left = output_->untilDrained();
            if (left > Duration::zero()) {
                wait = left;
            } else {
                output_->pause();
                paused_ = true;
            }
        }
        if (playing == 0) {
            seenStops_ = stops;
        }
        takeOutputFailure();
        lock.lock();
        if (closesWhenIdle() && paused_ && !exit_ && !changed_ &&
            std::none_of(slots_.begin(), slots_.end(),
                         [](const FeedSlot& feed) { return feed.attached.load(); })) {
            // No player left: the device goes back to the desktop (and its
            // thread with it) until the next one comes.
            output_->close();
            takeOutputFailureLocked();
            output_.reset();
            return;
        }
        if (wait) {
            wake_.wait_for(lock, *wait, [&] { return exit_ || changed_; });
        } else {
            wake_.wait(lock, [&] { return exit_ || changed_; });
        }
    }
}

Duration MixCore::pump() {
    const auto channels = static_cast<std::size_t>(format_.channels);
    const auto runBlocks = static_cast<std::size_t>(std::ceil(kWriteSeconds / kBlockSeconds));
    for (;;) {
        if (pendingDone_ < pending_.size()) {
            const std::size_t frames = (pending_.size() - pendingDone_) / channels;
            const std::size_t taken = output_->write(pending_.data() + pendingDone_, frames);
            pendingDone_ += taken * channels;
            if (taken < frames) {
                return std::max(output_->untilWritable(), Duration(std::chrono::milliseconds(2)));
            }
        }
        if (untimed_) {
            const double due = std::chrono::duration<double>(Clock::now() - clockStart_).count() +
                               kUntimedLeadSeconds;
            const double ahead = static_cast<double>(framesMixed_) / format_.sampleRate - due;
            if (ahead > -kWriteSeconds) {
                return seconds(ahead + kWriteSeconds);
            }
        }
        pending_.clear();
        pendingDone_ = 0;
        framesOut_.fetch_add(runBlocks * blockFrames_);
        for (std::size_t b = 0; b < runBlocks; ++b) {
            renderBlock(mix_.data());
            limiter_.process(mix_.data(), blockFrames_);
            for (std::size_t f = 0; f < blockFrames_; ++f) {
                const float left = mix_[2 * f];
                const float right = mix_[2 * f + 1];
                if (channels == 1) {
                    pending_.push_back(0.5F * (left + right));
                } else {
                    pending_.push_back(left);
                    pending_.push_back(right);
                    pending_.insert(pending_.end(), channels - 2, 0.0F);
                }
            }
        }
        framesMixed_ += runBlocks * blockFrames_;
    }
}

void MixCore::renderBlock(float* mix) {
    std::fill(mix, mix + blockFrames_ * 2, 0.0F);
    bool anySoloed = false;
    bool priorityKeyed = false;
    for (FeedSlot& feed : slots_) {
        anySoloed = anySoloed || (feed.taken.load() && feed.soloed.load());
        feed.active = feed.attached.load(std::memory_order_acquire) && !feed.paused.load();
        feed.blockFrames = 0;
        if (!feed.active) {
            feed.levelDb.store(kSilentDb);
            feed.key->finish();
            feed.hadAudio = false;
            feed.starved = false;
            continue;
        }
        if (const std::uint64_t attachments = feed.attachments.load();
            attachments != feed.seenAttachments) {
            feed.seenAttachments = attachments;  // another player: no history
            feed.key->finish();
            feed.hadAudio = false;
            feed.starved = false;
        }
        const std::uint64_t write = feed.writePos.load(std::memory_order_acquire);
        std::uint64_t read = std::max(feed.readPos.load(), feed.dropUntil.load());
        feed.blockChannels = feed.channels.load();
        if (feed.silenced.load()) {
            read = write;
        }
        const auto frames =
            static_cast<std::size_t>(std::min<std::uint64_t>(write - read, blockFrames_));
        const auto width = static_cast<std::size_t>(feed.blockChannels);
        for (std::size_t f = 0; f < frames; ++f) {
            const float* from = feed.ring.get() + ((read + f) % feed.ringFrames) * 2;
            std::copy(from, from + width, feed.block.data() + f * width);
        }
        feed.readPos.store(read + frames, std::memory_order_release);
        feed.consumed.fetch_add(frames);
        feed.blockFrames = frames;
        // An underrun is counted when audio comes again after running dry.
        if (frames > 0) {
            if (feed.starved) {
                feed.starved = false;
                feed.underruns.fetch_add(1);
            }
            feed.hadAudio = true;
        }
        feed.starved = feed.starved || (frames < blockFrames_ && feed.hadAudio);
        // A feed nobody reads the judgement of costs no detector; one not
        // judged for a while starts afresh, as after a gap.
        const bool judged = feed.judged.load() || feed.priority.load();
        if (judged) {
            feed.key->feed(feed.block.data(), frames, format_.sampleRate, feed.blockChannels);
        }
        // Audio that runs short is a gap: a transmission ends with it.
        if (!judged || frames < blockFrames_) {
            feed.key->finish();
        }
        priorityKeyed = priorityKeyed || (feed.key->keyed() && feed.priority.load());
        double power = 0;
        for (std::size_t i = 0; i < frames * width; ++i) {
            power += static_cast<double>(feed.block[i]) * feed.block[i];
        }
        feed.levelDb.store(
            frames > 0 && power > 0
                ? static_cast<float>(10 * std::log10(power / static_cast<double>(frames * width)))
                : kSilentDb);
    }
    const double duckFrom = duck_.db();
    const double duckTo = duck_.advance(priorityKeyed, kBlockSeconds);
    for (FeedSlot& feed : slots_) {
        if (feed.active) {
            mixFeed(feed, anySoloed, duckFrom, duckTo, mix);
        } else {
            feed.left = 0;
            feed.right = 0;
        }
    }
}

// Adds the feed's block to the mix. Its gains, and the ducking, move in a
// straight line across the block from where the last block left them.
void MixCore::mixFeed(FeedSlot& feed, bool anySoloed, double duckFrom, double duckTo,
                      float* mix) const {
    const bool heard = feedHeard(feed.muted.load(), feed.soloed.load(), anySoloed);
    const double gain = heard ? gainFromDb(feed.gainDb.load()) : 0;
    const PanGains pan =
        feed.blockChannels == 1 ? monoPan(feed.pan.load()) : stereoBalance(feed.pan.load());
    const bool ducked = !feed.priority.load();
    const double duck0 = ducked ? std::pow(10.0, duckFrom / 20) : 1;
    const double duck1 = ducked ? std::pow(10.0, duckTo / 20) : 1;
    const double left1 = gain * pan.left;
    const double right1 = gain * pan.right;
    const auto n = static_cast<double>(blockFrames_);
    for (std::size_t f = 0; f < feed.blockFrames; ++f) {
        const double t = static_cast<double>(f + 1) / n;
        const double duck = duck0 + (duck1 - duck0) * t;
        const auto l = static_cast<float>((feed.left + (left1 - feed.left) * t) * duck);
        const auto r = static_cast<float>((feed.right + (right1 - feed.right) * t) * duck);
        if (feed.blockChannels == 1) {
            const float s = feed.block[f];
            mix[2 * f] += s * l;
            mix[2 * f + 1] += s * r;
        } else {
            mix[2 * f] += feed.block[2 * f] * l;
            mix[2 * f + 1] += feed.block[2 * f + 1] * r;
        }
    }
    feed.left = left1;
    feed.right = right1;
}

// ---- A feed's output ----------------------------------------------------------

namespace {

class FeedOutput final : public AudioOutput {
  public:
    FeedOutput(std::shared_ptr<MixerFeed> feed, std::shared_ptr<MixCore> core, int index)
        : feed_(std::move(feed)),
          core_(std::move(core)),
          index_(index),
          slot_(core_->slot(index)) {}
    ~FeedOutput() override { close(); }
    FeedOutput(const FeedOutput&) = delete;
    FeedOutput& operator=(const FeedOutput&) = delete;

    bool open(const PcmFormat& requested, std::string& error) override {
        consumedBefore_ = slot_.consumed.load();
        underrunsBefore_ = slot_.underruns.load();
        open_ = core_->attach(index_, requested, format_, error);
        return open_;
    }
    void close() override {
        if (open_) {
            open_ = false;
            core_->detach(index_);
        }
    }
    PcmFormat format() const override { return format_; }
    bool adopt(const PcmFormat& /*format*/) override { return false; }
    void resume() override {
        slot_.paused.store(false);
        core_->wake(false);
    }
    void pause() override {
        slot_.paused.store(true);
        core_->wake(false);
    }
    std::size_t write(const float* samples, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(format_.channels);
        const std::uint64_t write = slot_.writePos.load();
        const std::size_t count = std::min(frames, slot_.ringFrames - queued());
        for (std::size_t f = 0; f < count; ++f) {
            float* to = slot_.ring.get() + ((write + f) % slot_.ringFrames) * 2;
            std::copy(samples + f * channels, samples + (f + 1) * channels, to);
        }
        slot_.writePos.store(write + count, std::memory_order_release);
        return count;
    }
    Duration untilWritable() const override {
        const double excess =
            static_cast<double>(queued()) - static_cast<double>(slot_.ringFrames) / 2;
        return excess > 0 ? seconds(excess / format_.sampleRate) : Duration::zero();
    }
    // Drained once the mixer has taken everything and the output has played
    // what it held at that moment (the feed's last audio lies within it).
    Duration untilDrained() override {
        if (slot_.silenced.load()) {
            return Duration::zero();
        }
        if (const std::size_t left = queued(); left > 0) {
            drainedBy_.reset();
            return seconds(static_cast<double>(left) / format_.sampleRate);
        }
        const auto now = std::chrono::steady_clock::now();
        if (!drainedBy_) {
            drainedBy_ = now + core_->outputLead();
        }
        return std::max(Duration::zero(), *drainedBy_ - now);
    }
    void discard() override {
        slot_.dropUntil.store(slot_.writePos.load());
        slot_.silenced.store(false);
        core_->wake(false);
    }
    void silenceNow() override {
        slot_.silenced.store(true);
        core_->wake(true);
    }
    std::uint64_t framesPlayed() const override { return slot_.consumed.load() - consumedBefore_; }
    std::uint64_t underruns() const override { return slot_.underruns.load() - underrunsBefore_; }

  private:
    // Frames written and not yet taken (or skipped) by the mixer.
    std::size_t queued() const {
        const std::uint64_t read =
            std::max(slot_.readPos.load(std::memory_order_acquire), slot_.dropUntil.load());
        return static_cast<std::size_t>(slot_.writePos.load() -
                                        std::min(read, slot_.writePos.load()));
    }

    const std::shared_ptr<MixerFeed> feed_;  // keeps the feed's place
    const std::shared_ptr<MixCore> core_;
    const int index_;
    FeedSlot& slot_;
    PcmFormat format_;
    bool open_ = false;
    // The feed's counts when this output opened (the feed outlives players).
    std::uint64_t consumedBefore_ = 0;
    std::uint64_t underrunsBefore_ = 0;
    std::optional<std::chrono::steady_clock::time_point> drainedBy_;  // queue's thread
};

}  // namespace

// ---- The owner's handles --------------------------------------------------------

MixerFeed::MixerFeed(std::shared_ptr<MixCore> core, int index)
    : core_(std::move(core)), index_(index) {}

MixerFeed::~MixerFeed() {
    core_->releaseSlot(index_);
}

AudioOutputChoice MixerFeed::outputChoice() {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::Feed;
    choice.feed = shared_from_this();
    return choice;
}

std::unique_ptr<AudioOutput> MixerFeed::makeOutput() {
    return std::make_unique<FeedOutput>(shared_from_this(), core_, index_);
}

void MixerFeed::setGainDb(double db) {
    core_->slot(index_).gainDb.store(
        static_cast<float>(std::clamp(db, kMinFeedGainDb, kMaxFeedGainDb)));
}

void MixerFeed::setPan(double pan) {
    core_->slot(index_).pan.store(static_cast<float>(std::clamp(pan, -1.0, 1.0)));
}

void MixerFeed::setMute(bool muted) {
    core_->slot(index_).muted.store(muted);
}

void MixerFeed::setSolo(bool soloed) {
    core_->slot(index_).soloed.store(soloed);
}

void MixerFeed::setPriority(bool priority) {
    core_->slot(index_).priority.store(priority);
}

void MixerFeed::setJudged(bool judged) {
    core_->slot(index_).judged.store(judged);
}

double MixerFeed::levelDb() const {
    return core_->slot(index_).levelDb.load();
}

bool MixerFeed::transmitting() const {
    return core_->slot(index_).key->keyed();
}

bool MixerFeed::playing() const {
    const FeedSlot& slot = core_->slot(index_);
    return slot.attached.load() && !slot.paused.load();
}

Mixer::Mixer(AudioOutputChoice output, MixerOptions options)
    : core_(std::make_shared<MixCore>(std::move(output), options)) {}

Mixer::~Mixer() {
    core_->shutdown();
}

std::shared_ptr<MixerFeed> Mixer::addFeed() {
    const int index = core_->takeSlot();
    return index < 0 ? nullptr : std::make_shared<MixerFeed>(core_, index);
}

std::string Mixer::outputFailure() const {
    return core_->outputFailure();
}

}  // namespace orvento
