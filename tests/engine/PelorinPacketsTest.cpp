// Packet buffering: how deliveries are copied into the ring and handed to the
// queue. The handlers run on the test's thread, standing in for the worker,
// against the real parser (which announces a PCM format) and the real queue
// playing into the null output as fast as it can.
#include <gtest/gtest.h>

#include <numeric>

#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/FaultInjectingPlatform.h"
#include "tests/engine/PelorinTestAccess.h"
#include "tests/engine/TestStreams.h"

namespace orvento::test {
namespace {

std::vector<UInt8> bytes(std::size_t n) {
    std::vector<UInt8> v(n);
    std::iota(v.begin(), v.end(), UInt8{0});
    return v;
}

// `count` packets of `size` bytes each, back to back.
std::vector<AudioStreamPacketDescription> packets(std::size_t count, UInt32 size) {
    std::vector<AudioStreamPacketDescription> d(count);
    for (std::size_t i = 0; i < count; ++i) {
        d[i] = {static_cast<SInt64>(i * size), 0, size};
    }
    return d;
}

class PacketBuffering : public testing::Test {
  protected:
    void SetUp() override { open(); }
    void TearDown() override { access_->teardown(); }

    // A player whose parser announced 16-bit PCM: by default 48 kHz stereo,
    // where a full buffer holds less than a hand-over's duration.
    void open(UInt32 rate = 48000, UInt16 channels = 2) {
        if (access_) {
            access_->teardown();
        }
        player_ = Pelorin::initWithURL(nullptr, {.platform = platform_});
        access_ = std::make_unique<PelorinTestAccess>(*player_);
        ASSERT_EQ(access_->openParser(kAudioFileWAVEType), noErr);
        access_->parse(wavHeader(rate, channels, 16, 0x7FFFFFF0));
        ASSERT_NE(access_->audioQueue(), nullptr);
    }
    void plain(std::size_t n) { access_->deliver(bytes(n), {}, false); }
    void described(std::size_t count, UInt32 size) {
        access_->deliver(bytes(count * size), packets(count, size), true);
    }
    std::vector<UInt32> handedOverSizes() const {
        std::vector<UInt32> sizes;
        for (const EnqueueRecord& r : platform_->enqueues()) {
            sizes.push_back(r.byteSize);
        }
        return sizes;
    }

    std::shared_ptr<FaultInjectingPlatform> platform_ = std::make_shared<FaultInjectingPlatform>();
    std::shared_ptr<Pelorin> player_;
    std::unique_ptr<PelorinTestAccess> access_;
};

TEST_F(PacketBuffering, ADeliveryOneByteLargerThanTheRoomStartsTheNextBuffer) {
    plain(32000);
    plain(769);
    EXPECT_EQ(handedOverSizes(), std::vector<UInt32>{32000});
    EXPECT_EQ(access_->bytesFilled(), 769U);
    EXPECT_EQ(access_->fillBufferIndex(), 1U);
}

TEST_F(PacketBuffering, ADeliveryThatExactlyFillsTheRoomIsAppended) {
    plain(32000);
    plain(768);
    EXPECT_TRUE(handedOverSizes().empty());
    EXPECT_EQ(access_->bytesFilled(), kBufferSize);
    plain(1);
    EXPECT_EQ(handedOverSizes(), std::vector<UInt32>{kBufferSize});
    EXPECT_EQ(access_->bytesFilled(), 1U);
}

TEST_F(PacketBuffering, ALargeDeliveryIsSplitIntoWholeBuffers) {
    plain(100);
    plain(40000);
    EXPECT_EQ(handedOverSizes(), (std::vector<UInt32>{100, kBufferSize}));
    EXPECT_EQ(access_->bytesFilled(), 40000U - kBufferSize);
    EXPECT_EQ(access_->fillBufferIndex(), 2U);
}

TEST_F(PacketBuffering, AnEmptyFillBufferIsNeverHandedOver) {
    plain(40000);
    EXPECT_EQ(handedOverSizes(), std::vector<UInt32>{kBufferSize});
    EXPECT_EQ(access_->bytesFilled(), 40000U - kBufferSize);
}

TEST_F(PacketBuffering, TheCopiedBytesAreTheDeliveredOnes) {
    plain(100);
    plain(40000);
    const auto* first = static_cast<const UInt8*>(access_->buffer(0)->mAudioData);
    const auto* third = static_cast<const UInt8*>(access_->buffer(2)->mAudioData);
    const std::vector<UInt8> expected = bytes(40000);
    EXPECT_EQ(first[99], 99);
    EXPECT_EQ(std::memcmp(third, expected.data() + kBufferSize, 40000 - kBufferSize), 0);
}

TEST_F(PacketBuffering, APacketThatDoesNotFitIsHandedOverFirstAndStartsAtOffsetZero) {
    described(32, 1000);
    described(1, 1000);
    const auto records = platform_->enqueues();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].byteSize, 32000U);
    EXPECT_EQ(records[0].packetDescCount, 32U);
    for (std::size_t i = 0; i < records[0].descs.size(); ++i) {
        EXPECT_EQ(records[0].descs[i].mStartOffset, static_cast<SInt64>(i * 1000));
        EXPECT_EQ(records[0].descs[i].mDataByteSize, 1000U);
    }
    EXPECT_EQ(access_->packetsFilled(), 1U);
    EXPECT_EQ(access_->packetDesc(0).mStartOffset, 0);
}

TEST_F(PacketBuffering, APacketThatExactlyFillsTheRoomIsAppended) {
    described(1, 32000);
    described(1, 768);
    EXPECT_TRUE(platform_->enqueues().empty());
    EXPECT_EQ(access_->bytesFilled(), kBufferSize);
    EXPECT_EQ(access_->packetsFilled(), 2U);
}

TEST_F(PacketBuffering, The512thPacketHandsTheBufferOver) {
    described(511, 10);
    EXPECT_TRUE(platform_->enqueues().empty());
    described(2, 10);
    const auto records = platform_->enqueues();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].packetDescCount, kPacketDescCapacity);
    EXPECT_EQ(records[0].byteSize, 5120U);
    EXPECT_EQ(access_->packetsFilled(), 1U);
    EXPECT_EQ(access_->bytesFilled(), 10U);
}

TEST_F(PacketBuffering, DescriptionOffsetsAreRelativeToTheBuffer) {
    // Packets placed apart in the delivery are packed together in the buffer.
    std::vector<AudioStreamPacketDescription> d = {{10, 0, 5}, {100, 0, 7}};
    access_->deliver(bytes(200), d, true);
    EXPECT_EQ(access_->packetDesc(0).mStartOffset, 0);
    EXPECT_EQ(access_->packetDesc(1).mStartOffset, 5);
    const auto* data = static_cast<const UInt8*>(access_->buffer(0)->mAudioData);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[5], 100);
}

TEST_F(PacketBuffering, AHandOverWithoutPacketsPassesNoDescriptions) {
    plain(32768);
    plain(1);
    const auto records = platform_->enqueues();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].packetDescCount, 0U);
    EXPECT_FALSE(records[0].descsGiven);
}

TEST_F(PacketBuffering, EmptyDeliveriesOnlyClearTheDiscontinuity) {
    for (bool withDescs : {true, false}) {
        access_->property(kAudioFileStreamProperty_ReadyToProducePackets);
        ASSERT_TRUE(access_->discontinuous());
        access_->deliver({}, {}, withDescs);
        EXPECT_FALSE(access_->discontinuous());
        EXPECT_EQ(access_->bytesFilled(), 0U);
    }
    EXPECT_TRUE(platform_->enqueues().empty());
}

TEST_F(PacketBuffering, TheQueueStartsOnceAndTheRingWraps) {
    // Seven full buffers: each delivery fills one, the next hands it over.
    for (int i = 0; i < 8; ++i) {
        plain(kBufferSize);
    }
    const auto records = platform_->enqueues();
    ASSERT_EQ(records.size(), 7U);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].ringPosition, i % kBufferCount);
    }
    EXPECT_EQ(platform_->count(Op::AudioQueueStart), 1);
    EXPECT_TRUE(access_->started());
    EXPECT_EQ(access_->fillBufferIndex(), 1U);
}

TEST_F(PacketBuffering, ABufferGoesOverOnceItHoldsTheDurationAndTheQueueStartsWithTheLead) {
    open(8000, 1);  // 16000 bytes a second
    const auto handOver = static_cast<std::size_t>(kHandOverSeconds * 16000);
    plain(handOver - 2);
    EXPECT_TRUE(handedOverSizes().empty());
    plain(2);
    described(1, static_cast<UInt32>(handOver));  // PCM packets are timed by their bytes
    EXPECT_EQ(handedOverSizes(), (std::vector<UInt32>(2, static_cast<UInt32>(handOver))));
    const auto lead = static_cast<std::size_t>(kStartLeadSeconds / kHandOverSeconds);
    for (std::size_t i = 2; i + 1 < lead; ++i) {
        plain(handOver);
    }
    EXPECT_FALSE(access_->started());
    plain(handOver);
    EXPECT_TRUE(access_->started());
    EXPECT_EQ(platform_->count(Op::AudioQueueStart), 1);
    EXPECT_EQ(handedOverSizes().size(), lead);
}

TEST_F(PacketBuffering, WhenFinishedADeliveryCopiesNothing) {
    plain(1000);
    described(1, 10);
    access_->setFinished();
    described(3, 10);
    EXPECT_EQ(access_->bytesFilled(), 1010U);
    // Without descriptions a delivery that does not fit still hands the fill
    // buffer over first, then copies nothing.
    plain(32000);
    EXPECT_EQ(handedOverSizes(), std::vector<UInt32>{1010});
    EXPECT_EQ(access_->bytesFilled(), 0U);
}

TEST_F(PacketBuffering, ABufferThatIsNotOneOfTheRingChangesNoFlag) {
    // A hand-over the queue refuses leaves buffer 0 marked in use and never
    // comes back by itself.
    platform_->failCall(Op::AudioQueueEnqueueBuffer, fourCharStatus("oops"));
    StdoutCapture out;
    plain(100);
    access_->enqueueFillBuffer();
    ASSERT_TRUE(access_->inuse(0));
    AudioQueueBuffer stranger{kBufferSize, nullptr, 0, nullptr};
    access_->bufferComplete(&stranger);
    EXPECT_TRUE(access_->inuse(0));
    access_->bufferComplete(access_->buffer(0));
    EXPECT_FALSE(access_->inuse(0));
}

TEST_F(PacketBuffering, APacketLargerThanABufferFailsAndIsDropped) {
    described(1, 10);
    access_->deliver(bytes(40000), {{0, 0, 40000}}, true);
    EXPECT_TRUE(access_->failed());
    EXPECT_EQ(access_->bytesFilled(), 10U);
    EXPECT_TRUE(platform_->enqueues().empty());
}

TEST_F(PacketBuffering, ADescriptionOutsideTheDeliveryFails) {
    access_->deliver(bytes(100), {{90, 0, 20}}, true);
    EXPECT_TRUE(access_->failed());
    EXPECT_EQ(access_->bytesFilled(), 0U);
}

struct HandOverFaultRow {
    const char* name;
    Op op;
    const char* line;
    UInt32 failingHandOver;  // 1-based
};

class HandOverFault : public PacketBuffering,
                      public testing::WithParamInterface<HandOverFaultRow> {};

TEST_P(HandOverFault, FailsKeepsTheBufferAndDropsTheRestOfTheDelivery) {
    const HandOverFaultRow& row = GetParam();
    platform_->failCall(row.op, fourCharStatus("oops"));
    StdoutCapture out;
    for (UInt32 i = 0; i < row.failingHandOver; ++i) {
        plain(32000);
    }
    // Does not fit: the hand-over fails, and the rest is dropped without
    // writing past the buffer or spinning.
    plain(20000);
    plain(20000);
    described(600, 100);
    EXPECT_EQ(out.lines(),
              std::vector<std::string>{std::string(row.line) + " err spoo 1869574259"});
    EXPECT_TRUE(access_->failed());
    EXPECT_EQ(access_->fillBufferIndex(), row.failingHandOver - 1);
    EXPECT_EQ(access_->bytesFilled(), 32000U);
    EXPECT_TRUE(access_->inuse(row.failingHandOver - 1));
    EXPECT_FALSE(access_->started());
    EXPECT_EQ(player_->failureReason(), std::string(row.line) + " failed: 'oops' (1869574259)");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HandOverFault,
    // At 48 kHz stereo the sixth buffer of 32000 bytes brings the lead.
    testing::Values(HandOverFaultRow{"Enqueue", Op::AudioQueueEnqueueBuffer,
                                     "AudioQueueEnqueueBuffer", 1},
                    HandOverFaultRow{"Start", Op::AudioQueueStart, "AudioQueueStart", 6}),
    [](const testing::TestParamInfo<HandOverFaultRow>& info) { return info.param.name; });

TEST(PacketBufferingWithoutRing, PacketsAfterAFailedSetUpTouchNoBuffer) {
    for (Op op : {Op::AudioQueueNewOutput, Op::AudioQueueAllocateBuffer}) {
        auto platform = std::make_shared<FaultInjectingPlatform>();
        // The first allocation fails: the ring has no buffer at all.
        platform->failCall(op, fourCharStatus("oops"));
        auto player = Pelorin::initWithURL(nullptr, {.platform = platform});
        PelorinTestAccess access(*player);
        ASSERT_EQ(access.openParser(kAudioFileWAVEType), noErr);
        StdoutCapture out;
        access.parse(wavHeader(8000, 1, 16, 1 << 20));
        access.deliver(bytes(50000), {}, false);
        access.deliver(bytes(100), packets(10, 10), true);
        out.lines();
        EXPECT_TRUE(access.failed());
        EXPECT_EQ(access.bytesFilled(), 0U);
        EXPECT_TRUE(platform->enqueues().empty());
        access.teardown();
    }
}

}  // namespace
}  // namespace orvento::test
