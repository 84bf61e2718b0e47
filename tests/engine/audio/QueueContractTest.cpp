// The queue's promises to its caller: which thread calls back, every buffer
// back exactly once, the running listener told of each change, stops that are quick
// or complete, underruns survived, failures reported.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>

#include "engine/mix/Mixer.h"
#include "tests/engine/audio/QueueTestSupport.h"

namespace orvento {
namespace {

// The device rows play through SDL's silent dummy driver unless the caller
// chose a driver: a test run must neither sound through the speakers nor fail
// on a machine without a sound card.
[[maybe_unused]] const bool kDriverChosen = ::setenv("SDL_AUDIODRIVER", "dummy", 0) == 0;

constexpr double kRate = 8000;

struct OutputRow {
    const char* name;
    AudioOutputChoice::Kind kind;
    bool realTime;
};

AudioOutputChoice choose(const OutputRow& row) {
    switch (row.kind) {
        case AudioOutputChoice::Kind::Null:
            return nullOutput(row.realTime);
        case AudioOutputChoice::Kind::WavFile:
            return wavOutput(scratchPath("out.wav"));
        case AudioOutputChoice::Kind::Feed: {
            // One mixer, into the null output in real time, for the process.
            static Mixer mixer(nullOutput(true));
            return mixer.addFeed()->outputChoice();
        }
        case AudioOutputChoice::Kind::Device:
            break;
    }
    return deviceOutput();
}

const OutputRow kAllOutputs[] = {
    {"NullUntimed", AudioOutputChoice::Kind::Null, false},
    {"NullRealTime", AudioOutputChoice::Kind::Null, true},
    {"WavFile", AudioOutputChoice::Kind::WavFile, false},
    {"Device", AudioOutputChoice::Kind::Device, true},
    {"MixerFeed", AudioOutputChoice::Kind::Feed, true},
};
const OutputRow kTimedOutputs[] = {
    {"NullRealTime", AudioOutputChoice::Kind::Null, true},
    {"Device", AudioOutputChoice::Kind::Device, true},
    {"MixerFeed", AudioOutputChoice::Kind::Feed, true},
};

std::string rowName(const ::testing::TestParamInfo<OutputRow>& info) {
    return info.param.name;
}

class EveryOutput : public ::testing::TestWithParam<OutputRow> {};
class TimedOutput : public ::testing::TestWithParam<OutputRow> {};

TEST_P(EveryOutput, PlaysToTheEndThenGivesBuffersBackInOrderOnItsOwnThread) {
    RecordingQueue queue(pcm16(kRate, 1), choose(GetParam()));
    ASSERT_EQ(queue.status(), QueueError::None);
    std::vector<OutputQueue::Buffer*> buffers;
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(queue.allocate(32768));
        ASSERT_EQ(queue.enqueue(buffers.back(), sine16(400, kRate, 1)),
                  QueueError::None);  // 50 ms each
    }
    ASSERT_EQ(queue.get().start(), QueueError::None);
    // The sound library leaves Ctrl-C and SIGTERM to the program.
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        sigaction(signal, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << sigabbrev_np(signal);
    }
    ASSERT_EQ(queue.get().stop(false), QueueError::None);
    ASSERT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Stopped) == 1; }));

    const std::vector<QueueEvent> events = queue.events();
    ASSERT_EQ(events.size(), 5U);
    EXPECT_EQ(events[0].kind, QueueEvent::Kind::Running);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[1 + i].kind, QueueEvent::Kind::BufferBack);
        EXPECT_EQ(events[1 + i].buffer, buffers[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(events[4].kind, QueueEvent::Kind::Stopped);
    EXPECT_EQ(queue.listenedStates(), (std::vector<std::uint32_t>{1, 0}));
    // A drained stop has played every frame.
    EXPECT_EQ(queue.framesPlayed(), 1200U);

    const std::vector<std::thread::id> threads = queue.callbackThreads();
    EXPECT_FALSE(queue.sawCallbackOffQueueThread());
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, EveryOutput, ::testing::ValuesIn(kAllOutputs), rowName);

TEST_P(TimedOutput, ImmediateStopSilencesAtOnceAndGivesEveryBufferBackBeforeStopped) {
    RecordingQueue queue(pcm16(kRate, 1), choose(GetParam()));
    ASSERT_EQ(queue.status(), QueueError::None);
    std::vector<OutputQueue::Buffer*> buffers;
    for (int i = 0; i < 4; ++i) {
        buffers.push_back(queue.allocate(32768));
        ASSERT_EQ(queue.enqueue(buffers.back(), sine16(4000, kRate, 1)),
                  QueueError::None);  // 0.5 s each
    }
    ASSERT_EQ(queue.get().start(), QueueError::None);
    ASSERT_TRUE(eventually([&] { return queue.framesPlayed() >= 1600; }));  // 0.2 s in

    ASSERT_EQ(queue.get().stop(true), QueueError::None);
    const std::uint64_t atStop = queue.framesPlayed();
    ASSERT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Stopped) == 1; }));
    // Whatever the device had already taken may still sound: at most one
    // period, which is shorter than 50 ms. Nothing after that.
    const std::uint64_t limit = atStop + static_cast<std::uint64_t>(0.05 * kRate);
    EXPECT_TRUE(holdsThroughout([&] { return queue.framesPlayed() <= limit; }, 300ms))
        << "played " << queue.framesPlayed() << " frames, " << atStop << " at the stop";
    EXPECT_LT(queue.framesPlayed(), 16000U);

    const std::vector<QueueEvent> events = queue.events();
    ASSERT_EQ(events.size(), 6U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(events[1 + i].kind, QueueEvent::Kind::BufferBack);
        EXPECT_EQ(events[1 + i].buffer, buffers[i]);
    }
    EXPECT_EQ(events.back().kind, QueueEvent::Kind::Stopped);
}

TEST_P(TimedOutput, UnderrunKeepsRunningAndResumesWhenBuffersArrive) {
    RecordingQueue queue(pcm16(kRate, 1), choose(GetParam()));
    ASSERT_EQ(queue.status(), QueueError::None);
    OutputQueue::Buffer* first = queue.allocate(32768);
    OutputQueue::Buffer* second = queue.allocate(32768);
    ASSERT_EQ(queue.enqueue(first, sine16(800, kRate, 1)), QueueError::None);
    ASSERT_EQ(queue.get().start(), QueueError::None);
    ASSERT_TRUE(eventually([&] { return queue.framesPlayed() == 800; }));

    // Nothing to play: silence, but the queue keeps running.
    EXPECT_TRUE(holdsThroughout(
        [&] {
            return queue.get().isRunning() && queue.countOf(QueueEvent::Kind::Stopped) == 0 &&
                   queue.framesPlayed() == 800;
        },
        300ms));
    EXPECT_EQ(queue.get().underrunCount(), 0U);

    ASSERT_EQ(queue.enqueue(second, sine16(800, kRate, 1)), QueueError::None);
    ASSERT_TRUE(eventually([&] { return queue.framesPlayed() == 1600; }));
    ASSERT_EQ(queue.get().stop(false), QueueError::None);
    ASSERT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Stopped) == 1; }));
    // The null output and a mixer's feed count the gap; the device's driver
    // cannot tell it.
    EXPECT_EQ(queue.get().underrunCount(),
              GetParam().kind == AudioOutputChoice::Kind::Device ? 0U : 1U);
    EXPECT_EQ(queue.timesBack(first), 1U);
    EXPECT_EQ(queue.timesBack(second), 1U);
    EXPECT_EQ(queue.listenedStates(), (std::vector<std::uint32_t>{1, 0}));
}

INSTANTIATE_TEST_SUITE_P(Outputs, TimedOutput, ::testing::ValuesIn(kTimedOutputs), rowName);

// A device that is not there: the start fails with a clear status and
// message, and nothing plays.
TEST(WithoutSoundDevice, StartFailsWithAClearStatusAndMessageAndNothingPlays) {
    RecordingQueue queue(pcm16(kRate, 1), deviceOutput("no such device"));
    ASSERT_EQ(queue.status(), QueueError::None);
    OutputQueue::Buffer* buffer = queue.allocate(32768);
    ASSERT_EQ(queue.enqueue(buffer, sine16(800, kRate, 1)), QueueError::None);
    EXPECT_EQ(queue.get().start(), QueueError::InvalidDevice);
    const std::string text = queue.get().errorText();
    EXPECT_NE(text.find("sound device"), std::string::npos) << text;
    ASSERT_EQ(queue.dispose(true), QueueError::None);
    EXPECT_EQ(queue.timesBack(buffer), 1U);
    EXPECT_EQ(queue.countOf(QueueEvent::Kind::Running), 0U);
}

// Calls the queue refuses, each with the error its header gives.
struct RefusalRow {
    const char* name;
    std::function<QueueError(RecordingQueue&)> call;
    QueueError error;
};

const RefusalRow kRefusals[] = {
    {"EnqueueOfABufferOfAnotherQueue",
     [](RecordingQueue& q) {
         OutputQueue::Buffer foreign(64);
         return q.get().enqueue(foreign, {});
     },
     QueueError::InvalidBuffer},
    {"EnqueueOfABufferNotBackYet",
     [](RecordingQueue& q) {
         OutputQueue::Buffer* buffer = q.allocate(64);
         EXPECT_EQ(q.enqueue(buffer, sine16(8, kRate, 1)), QueueError::None);
         return q.enqueue(buffer, sine16(8, kRate, 1));
     },
     QueueError::BufferInQueue},
    {"EnqueueOfMoreBytesThanTheBufferHolds",
     [](RecordingQueue& q) {
         OutputQueue::Buffer* buffer = q.allocate(64);
         buffer->setByteSize(65);
         return q.get().enqueue(*buffer, {});
     },
     QueueError::InvalidParameter},
    {"EnqueueOfADescriptionPastTheBytes",
     [](RecordingQueue& q) {
         OutputQueue::Buffer* buffer = q.allocate(64);
         buffer->setByteSize(4);
         const PacketDescription outside{2, 0, 4};
         return q.get().enqueue(*buffer, std::span(&outside, 1));
     },
     QueueError::InvalidParameter},
    {"BufferOfNoBytes", [](RecordingQueue& q) { return q.get().allocateBuffer(0).error; },
     QueueError::InvalidParameter},
    {"CookieTooLarge",
     [](RecordingQueue& q) {
         return q.get().setMagicCookie(std::vector<std::uint8_t>(kMaxMagicCookieSize + 1));
     },
     QueueError::InvalidCookieSize},
    {"StartAfterDisposal",
     [](RecordingQueue& q) {
         EXPECT_EQ(q.dispose(true), QueueError::None);
         return q.get().start();
     },
     QueueError::InvalidRunState},
    {"SecondDisposal",
     [](RecordingQueue& q) {
         EXPECT_EQ(q.dispose(true), QueueError::None);
         return q.dispose(true);
     },
     QueueError::InvalidRunState},
};

class Refusal : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(Refusal, FailsWithItsErrorAndChangesNothing) {
    RecordingQueue queue(pcm16(kRate, 1), nullOutput(false));
    ASSERT_EQ(queue.status(), QueueError::None);
    EXPECT_EQ(GetParam().call(queue), GetParam().error);
    EXPECT_EQ(queue.countOf(QueueEvent::Kind::Running), 0U);
}

INSTANTIATE_TEST_SUITE_P(Rows, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QueueCreation, RefusesAFormatItCannotPlay) {
    AudioFormat format = pcm16(kRate, 1);
    format.formatId = fourCharCode("none");
    RecordingQueue queue(format, nullOutput(false));
    EXPECT_EQ(queue.status(), QueueError::UnsupportedFormat);
}

// Its destructor does what a disposal does: every buffer back, in order, then
// "stopped", all on the queue's thread, before it returns.
TEST(QueueDestruction, GivesEveryBufferBackInOrderThenReportsStopped) {
    RecordingQueue queue(pcm16(kRate, 1), nullOutput(true));
    ASSERT_EQ(queue.status(), QueueError::None);
    std::vector<OutputQueue::Buffer*> buffers;
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(queue.allocate(32768));
        ASSERT_EQ(queue.enqueue(buffers.back(), sine16(4000, kRate, 1)), QueueError::None);
    }
    ASSERT_EQ(queue.get().start(), QueueError::None);
    ASSERT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Running) == 1; }));
    queue.destroy();

    const std::vector<QueueEvent> events = queue.events();
    ASSERT_EQ(events.size(), 5U);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events[1 + i].kind, QueueEvent::Kind::BufferBack);
        EXPECT_EQ(events[1 + i].buffer, buffers[i]);
    }
    EXPECT_EQ(events.back().kind, QueueEvent::Kind::Stopped);
    EXPECT_FALSE(queue.sawCallbackOffQueueThread());
}

// The descriptions are the queue's own copy once enqueue() returns: the
// caller's, changed before the queue decodes, change nothing.
TEST(QueueEnqueue, CopiesTheDescriptionsDuringTheCall) {
    RecordingQueue queue(pcm16(kRate, 1), nullOutput(false));
    ASSERT_EQ(queue.status(), QueueError::None);
    OutputQueue::Buffer* buffer = queue.allocate(32768);
    std::vector<PacketDescription> packets{{0, 0, 800}, {800, 0, 800}};
    ASSERT_EQ(queue.enqueue(buffer, sine16(800, kRate, 1), packets), QueueError::None);
    packets.assign(packets.size(), PacketDescription{0, 0, 0});

    ASSERT_EQ(queue.get().start(), QueueError::None);
    ASSERT_EQ(queue.get().stop(false), QueueError::None);
    ASSERT_TRUE(queue.waitFor([&] { return queue.countOf(QueueEvent::Kind::Stopped) == 1; }));
    EXPECT_EQ(queue.framesPlayed(), 800U);
    EXPECT_EQ(queue.timesBack(buffer), 1U);
}

// A listener that disposes of its queue from the queue's own thread.
class DisposingListener : public OutputQueue::Listener {
  public:
    OutputQueue* queue = nullptr;
    std::atomic<bool> tried{false};
    std::atomic<QueueError> error{QueueError::None};

  private:
    void bufferComplete(OutputQueue::Buffer& /*buffer*/) override {}
    void runningChanged(bool running) override {
        if (running) {
            error.store(queue->dispose(true));
            tried.store(true);
        }
    }
};

TEST(QueueDisposal, OnTheQueuesOwnThreadIsRefused) {
    DisposingListener listener;
    OutputQueueCreation created = makeOutputQueue(pcm16(kRate, 1), nullOutput(false), listener);
    ASSERT_EQ(created.error, QueueError::None);
    listener.queue = created.queue.get();
    ASSERT_EQ(created.queue->start(), QueueError::None);
    ASSERT_TRUE(eventually([&] { return listener.tried.load(); }));
    EXPECT_EQ(listener.error.load(), QueueError::InvalidRunState);
    EXPECT_EQ(created.queue->dispose(true), QueueError::None);
}

}  // namespace
}  // namespace orvento
