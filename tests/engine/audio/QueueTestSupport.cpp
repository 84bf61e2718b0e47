#include "tests/engine/audio/QueueTestSupport.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>

namespace orvento {

RecordingQueue::RecordingQueue(const AudioFormat& format, const AudioOutputChoice& output) {
    OutputQueueCreation created = makeOutputQueue(format, output, *this);
    status_ = created.error;
    queue_ = std::move(created.queue);
    live_ = queue_.get();
}

// The queue goes first: its disposal still calls back into this object.
RecordingQueue::~RecordingQueue() {
    queue_.reset();
}

OutputQueue::Buffer* RecordingQueue::allocate(std::size_t capacity) {
    const OutputQueue::Allocation allocation = queue_->allocateBuffer(capacity);
    EXPECT_EQ(allocation.error, QueueError::None);
    return allocation.buffer;
}

QueueError RecordingQueue::enqueue(OutputQueue::Buffer* buffer, const std::vector<std::byte>& bytes,
                                   const std::vector<PacketDescription>& descriptions) {
    std::memcpy(buffer->bytes().data(), bytes.data(),
                std::min<std::size_t>(bytes.size(), buffer->capacity()));
    buffer->setByteSize(bytes.size());
    return queue_->enqueue(*buffer, descriptions);
}

QueueError RecordingQueue::dispose(bool immediate) {
    return queue_->dispose(immediate);
}

void RecordingQueue::record(QueueEvent event) {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    if (std::string(name) != "orvento-queue") {
        offQueueThread_.store(true);
    }
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        threads_.push_back(std::this_thread::get_id());
    }
    changed_.notify_all();
}

void RecordingQueue::bufferComplete(OutputQueue::Buffer& buffer) {
    record({QueueEvent::Kind::BufferBack, &buffer});
}

void RecordingQueue::runningChanged(bool running) {
    {
        std::lock_guard lock(mutex_);
        states_.push_back(live_->isRunning() ? 1 : 0);
    }
    record({running ? QueueEvent::Kind::Running : QueueEvent::Kind::Stopped, nullptr});
}

bool RecordingQueue::waitFor(const std::function<bool()>& condition,
                             std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (condition()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        // Woken by the next callback; the timeout covers one that came
        // between the check and the wait.
        changed_.wait_for(lock, 5ms);
    }
}

std::vector<QueueEvent> RecordingQueue::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::size_t RecordingQueue::timesBack(const OutputQueue::Buffer* buffer) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(), [&](const auto& e) {
            return e.kind == QueueEvent::Kind::BufferBack && e.buffer == buffer;
        }));
}

std::size_t RecordingQueue::countOf(QueueEvent::Kind kind) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                  [&](const auto& e) { return e.kind == kind; }));
}

std::vector<std::thread::id> RecordingQueue::callbackThreads() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

std::vector<std::uint32_t> RecordingQueue::listenedStates() const {
    std::lock_guard lock(mutex_);
    return states_;
}

std::uint64_t RecordingQueue::framesPlayed() const {
    return queue_->currentTime().framesPlayed;
}

AudioFormat pcm16(double rate, std::uint32_t channels) {
    return {rate,
            kFormatLinearPcm,
            kPcmSignedInteger | kPcmPacked,
            channels * 2,
            1,
            channels * 2,
            channels,
            16};
}

std::vector<std::byte> sine16(std::size_t frames, double rate, std::uint32_t channels, double hz) {
    std::vector<std::byte> bytes(frames * channels * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value = static_cast<std::int16_t>(std::lround(
            16384 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::size_t at = (i * channels + c) * 2;
            bytes[at] = static_cast<std::byte>(static_cast<std::uint16_t>(value) & 0xFF);
            bytes[at + 1] = static_cast<std::byte>(static_cast<std::uint16_t>(value) >> 8);
        }
    }
    return bytes;
}

std::string fixture(const std::string& name) {
    const char* source = std::getenv("ORVENTO_SOURCE_DIR");
    return std::string(source != nullptr ? source : ".") + "/tests/data/" + name;
}

std::string scratchPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                       : std::string("test");
    std::replace(test.begin(), test.end(), '/', '_');
    // A folder of this process's own (the same test may run in several
    // trees at once), removed when the process ends.
    static const struct Root {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("orvento-queue-" + std::to_string(::getpid()));
        ~Root() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } root;
    const auto dir = root.path / test;
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

bool holdsThroughout(const std::function<bool()>& condition, std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        if (!condition()) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

AudioOutputChoice nullOutput(bool realTime) {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::Null;
    choice.realTime = realTime;
    return choice;
}

AudioOutputChoice wavOutput(const std::string& path) {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::WavFile;
    choice.wavPath = path;
    return choice;
}

AudioOutputChoice deviceOutput(const std::string& name) {
    AudioOutputChoice choice;
    choice.kind = AudioOutputChoice::Kind::Device;
    choice.deviceName = name;
    return choice;
}

}  // namespace orvento
