// The buffer ring's copy and hand-over rules, row by row: deliveries in,
// hand-overs out, against an owner that records them and, like a queue, gives
// buffers back only once it has been started.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/player/PacketRing.h"

namespace orvento {
namespace {

struct Step {
    enum class Kind { Plain, Packets, Finish, Flush } kind;
    std::uint32_t bytes = 0;  // of the delivery
    std::vector<std::pair<std::int64_t, std::uint32_t>>
        packets{};  // offset and size, in the delivery
};

Step plain(std::uint32_t bytes) {
    return {Step::Kind::Plain, bytes};
}
// `count` packets of `size` bytes, back to back.
Step described(std::uint32_t count, std::uint32_t size) {
    Step s{Step::Kind::Packets, count * size};
    for (std::uint32_t i = 0; i < count; ++i) {
        s.packets.emplace_back(std::int64_t{i} * size, size);
    }
    return s;
}
Step packets(std::uint32_t bytes, std::vector<std::pair<std::int64_t, std::uint32_t>> list) {
    return {Step::Kind::Packets, bytes, std::move(list)};
}
// The owner is finished (a stop).
const Step kFinish{Step::Kind::Finish};
// Hands over what the fill buffer holds, as at the end of a stream that did
// not fail.
const Step kFlush{Step::Kind::Flush};

struct Format {
    double rate;
    std::uint32_t bytesPerPacket;
    std::uint32_t framesPerPacket;
};
const Format kNoDurations{0, 0, 0};
const Format kPcm8kMono{8000, 2, 1};      // 16000 bytes a second: 4000 per hand-over
const Format kPcm96kStereo{96000, 4, 1};  // 6 full buffers hold half a second
const Format kMp3At44k{44100, 0, 1152};   // 10 packets make a hand-over's duration

struct Row {
    const char* name;
    Format format;
    std::vector<Step> steps;
    std::vector<std::uint32_t> handOvers;            // bytes of each, in order
    std::vector<std::uint32_t> descriptionCounts{};  // of each; empty: not checked
    std::size_t startedAfter = 0;  // hand-overs before the queue ran; 0: it never did
    const char* failure = "";      // words of the ring's failure
    int refuseEnqueue = 0;         // this hand-over (1-based) is refused
    bool refuseStart = false;
    bool noBuffers = false;  // the queue's set-up failed
};

class Recorder : public PacketRing::Owner {
  public:
    struct HandOver {
        std::vector<std::uint8_t> bytes;
        std::vector<PacketDescription> descriptions;
        bool descriptionsGiven;
        std::size_t position;
    };

    explicit Recorder(const Row& row) : row_(row) {}

    QueueError enqueueBuffer(OutputQueue::Buffer& buffer,
                             std::span<const PacketDescription> descriptions) override {
        if (static_cast<int>(handOvers.size()) + 1 == row_.refuseEnqueue) {
            fail("refused");
            return QueueError::InvalidParameter;
        }
        const std::span<const std::uint8_t> data = buffer.bytes().first(buffer.byteSize());
        HandOver h{{data.begin(), data.end()}, {}, !descriptions.empty(), 0};
        h.descriptions.assign(descriptions.begin(), descriptions.end());
        for (std::size_t i = 0; i < kBufferCount; ++i) {
            h.position = ring->buffers()[i] == &buffer ? i : h.position;
        }
        handOvers.push_back(std::move(h));
        held_.push_back(&buffer);
        giveBackIfRunning();
        return QueueError::None;
    }
    bool startQueue() override {
        if (row_.refuseStart) {
            fail("refused");
            return false;
        }
        if (finishedFlag) {
            return false;
        }
        startedAfter = handOvers.size();
        running_ = true;
        giveBackIfRunning();
        return true;
    }
    bool beginCopy() override { return !finishedFlag; }
    bool finished() const override { return finishedFlag; }
    bool failed() const override { return !reason.empty(); }
    void fail(std::string why) override {
        if (reason.empty()) {
            reason = std::move(why);
        }
    }

    PacketRing* ring = nullptr;
    std::vector<HandOver> handOvers;
    std::optional<std::size_t> startedAfter;
    bool finishedFlag = false;
    std::string reason;

  private:
    void giveBackIfRunning() {
        for (; running_ && !held_.empty(); held_.erase(held_.begin())) {
            ring->bufferCompleted(*held_.front());
        }
    }
    const Row& row_;
    bool running_ = false;
    std::vector<OutputQueue::Buffer*> held_;
};

class PacketRingRules : public testing::TestWithParam<Row> {};

TEST_P(PacketRingRules, HandOverWhatWasDeliveredAsTheRulesSay) {
    const Row& row = GetParam();
    Recorder owner(row);
    PacketRing ring(owner);
    owner.ring = &ring;
    std::vector<std::unique_ptr<OutputQueue::Buffer>> buffers;
    for (OutputQueue::Buffer*& b : ring.buffers()) {
        buffers.push_back(std::make_unique<OutputQueue::Buffer>(kBufferSize));
        b = row.noBuffers ? nullptr : buffers.back().get();
    }
    AudioFormat format{};
    format.sampleRate = row.format.rate;
    format.bytesPerPacket = row.format.bytesPerPacket;
    format.framesPerPacket = row.format.framesPerPacket;
    ring.setFormat(format);

    // The packet bytes in the order they were delivered: what the hand-overs
    // must carry, up to where a stop or failure cut them off.
    std::vector<std::uint8_t> delivered;
    std::uint8_t next = 0;
    for (const Step& step : row.steps) {
        std::vector<std::uint8_t> data(step.bytes);
        for (std::uint8_t& b : data) {
            b = next;
            next = static_cast<std::uint8_t>((next + 1) % 251);
        }
        std::vector<PacketDescription> descs;
        switch (step.kind) {
            case Step::Kind::Plain:
                delivered.insert(delivered.end(), data.begin(), data.end());
                ring.deliver(std::as_bytes(std::span(data)), {});
                break;
            case Step::Kind::Packets:
                for (const auto& [offset, size] : step.packets) {
                    descs.push_back({offset, 0, size});
                    if (offset + size <= step.bytes) {
                        delivered.insert(delivered.end(), data.begin() + offset,
                                         data.begin() + offset + size);
                    }
                }
                ring.deliver(std::as_bytes(std::span(data)), descs);
                break;
            case Step::Kind::Finish:
                owner.finishedFlag = true;
                ring.wake();
                break;
            case Step::Kind::Flush:
                if (ring.holdsAudio() && !owner.failed()) {
                    ring.enqueueFillBuffer();
                }
                break;
        }
    }

    std::vector<std::uint32_t> sizes;
    std::vector<std::uint32_t> counts;
    std::vector<std::uint8_t> handedOver;
    for (std::size_t i = 0; i < owner.handOvers.size(); ++i) {
        const Recorder::HandOver& h = owner.handOvers[i];
        sizes.push_back(static_cast<std::uint32_t>(h.bytes.size()));
        counts.push_back(static_cast<std::uint32_t>(h.descriptions.size()));
        EXPECT_EQ(h.position, i % kBufferCount) << "hand-over " << i;
        EXPECT_EQ(h.descriptionsGiven, !h.descriptions.empty()) << "hand-over " << i;
        // The descriptions give the packets' offsets in the buffer: packed,
        // in order, after any bytes delivered without descriptions.
        std::int64_t offset = static_cast<std::int64_t>(h.bytes.size());
        for (const PacketDescription& d : h.descriptions) {
            offset -= d.byteSize;
        }
        for (const PacketDescription& d : h.descriptions) {
            EXPECT_EQ(d.startOffset, offset) << "hand-over " << i;
            offset += d.byteSize;
        }
        handedOver.insert(handedOver.end(), h.bytes.begin(), h.bytes.end());
    }
    EXPECT_EQ(sizes, row.handOvers);
    if (!row.descriptionCounts.empty()) {
        EXPECT_EQ(counts, row.descriptionCounts);
    }
    ASSERT_LE(handedOver.size(), delivered.size());
    EXPECT_TRUE(std::equal(handedOver.begin(), handedOver.end(), delivered.begin()))
        << "the bytes handed over are not the ones delivered";
    EXPECT_EQ(owner.startedAfter.value_or(0), row.startedAfter);
    EXPECT_EQ(ring.started(), row.startedAfter > 0);
    EXPECT_NE(owner.reason.find(row.failure), std::string::npos) << owner.reason;
    EXPECT_EQ(owner.reason.empty(), *row.failure == '\0') << owner.reason;
}

// A row that plays without failing.
Row plays(const char* name, Format format, std::vector<Step> steps,
          std::vector<std::uint32_t> handOvers, std::vector<std::uint32_t> counts,
          std::size_t startedAfter) {
    return {name, format, std::move(steps), std::move(handOvers), std::move(counts), startedAfter};
}
// A row whose ring fails (with `failure` in its words), without durations.
Row fails(const char* name, std::vector<Step> steps, std::vector<std::uint32_t> handOvers,
          const char* failure, int refuseEnqueue = 0, bool refuseStart = false,
          bool noBuffers = false) {
    return {name, kNoDurations, std::move(steps), std::move(handOvers), {},
            0,    failure,      refuseEnqueue,    refuseStart,          noBuffers};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PacketRingRules,
    testing::Values(
        // Deliveries without descriptions.
        plays("OneByteMoreThanTheRoomStartsTheNextBuffer", kNoDurations,
              {plain(32000), plain(769), kFlush}, {32000, 769}, {}, 1),
        plays("ExactlyTheRoomIsAppended", kNoDurations,
              {plain(32000), plain(768), plain(1), kFlush}, {32768, 1}, {0, 0}, 1),
        plays("ALargeDeliveryIsCutIntoWholeBuffers", kNoDurations,
              {plain(100), plain(40000), kFlush}, {100, 32768, 7232}, {}, 1),
        plays("AnEmptyBufferIsNeverHandedOver", kNoDurations, {plain(40000), kFlush}, {32768, 7232},
              {}, 1),
        plays("EmptyDeliveriesDoNothing", kNoDurations, {plain(0), described(0, 10), kFlush}, {},
              {}, 0),
        // Described packets.
        plays("APacketThatDoesNotFitGoesToTheNextBuffer", kNoDurations,
              {described(32, 1000), described(1, 1000), kFlush}, {32000, 1000}, {32, 1}, 1),
        plays("APacketThatExactlyFitsIsAppended", kNoDurations,
              {described(1, 32000), described(1, 768), described(1, 1), kFlush}, {32768, 1}, {2, 1},
              1),
        plays("The512thPacketHandsTheBufferOver", kNoDurations,
              {described(511, 10), described(2, 10), kFlush}, {5120, 10}, {512, 1}, 1),
        plays("PacketsApartInADeliveryArePackedTogether", kNoDurations,
              {packets(200, {{10, 5}, {100, 7}}), kFlush}, {12}, {2}, 1),
        // The ring and the queue's start.
        plays("TheRingWrapsAndTheQueueStartsOnce", kNoDurations, std::vector<Step>(8, plain(32768)),
              std::vector<std::uint32_t>(7, 32768), {}, 1),
        plays("ABufferGoesOnceItHoldsAQuarterSecondAndTheQueueStartsWithTheLead", kPcm8kMono,
              {plain(3998), plain(2), described(1, 4000), plain(4000), plain(4000), plain(10)},
              {4000, 4000, 4000, 4000}, {0, 1, 0, 0}, 4),
        plays("DescribedPacketsAreTimedByTheirFrames", kMp3At44k, {described(45, 418), kFlush},
              {4180, 4180, 4180, 4180, 2090}, {10, 10, 10, 10, 5}, 4),
        plays("AFullRingStartsTheQueueBeforeTheLead", kPcm96kStereo,
              std::vector<Step>(7, plain(32768)), std::vector<std::uint32_t>(6, 32768), {}, 6),
        // A stop, and failures: nothing past a buffer, nothing after a failure.
        plays("AfterAStopNothingIsCopied", kNoDurations,
              {plain(1000), described(1, 10), kFinish, described(3, 10), plain(32000), kFlush},
              {1010}, {}, 0),
        fails("APacketLargerThanABufferFails", {described(1, 10), described(1, 40000), kFlush}, {},
              "larger than"),
        fails("APacketOutsideItsDeliveryFails", {packets(100, {{90, 20}}), kFlush}, {}, "outside"),
        fails("ARefusedHandOverStopsTheRing",
              {plain(32000), plain(20000), plain(20000), described(600, 100), kFlush}, {},
              "refused", 1),
        fails("ARefusedStartStopsTheRing", {plain(32000), plain(20000), plain(20000), kFlush},
              {32000}, "refused", 0, true),
        fails("AudioWithoutBuffersFails", {plain(50000), described(10, 10), kFlush}, {}, "format",
              0, false, true)),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvento
