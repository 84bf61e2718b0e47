// The byte ring under an HTTP read stream: whatever the order of writes and
// reads, the reader gets the bytes in the order written, none lost or
// repeated, and the ring grows only for a piece larger than it can hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/net/ByteRing.h"

namespace orvento {
namespace {

// A write of `bytes` bytes (positive) or a read of up to `-bytes` (negative).
struct RingCase {
    const char* name;
    std::size_t capacity;
    std::vector<int> steps;
    std::size_t sizeAfter;
    std::size_t capacityAfter;
};

class ByteRingOrder : public testing::TestWithParam<RingCase> {};

TEST_P(ByteRingOrder, ReadsWhatWasWrittenInOrder) {
    const RingCase& c = GetParam();
    ByteRing ring(c.capacity);
    std::string written;
    std::string read;
    char next = 'a';
    for (const int step : c.steps) {
        if (step > 0) {
            std::string piece;
            for (int i = 0; i < step; ++i) {
                piece += next;
                next = next == 'z' ? 'a' : static_cast<char>(next + 1);
            }
            ring.write(piece.data(), piece.size());
            written += piece;
        } else {
            std::vector<unsigned char> out(static_cast<std::size_t>(-step));
            const std::size_t got = ring.read(out.data(), out.size());
            read.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got));
        }
    }
    EXPECT_EQ(read, written.substr(0, read.size()));
    EXPECT_EQ(ring.size(), c.sizeAfter);
    EXPECT_EQ(ring.capacity(), c.capacityAfter);
    // What is left comes out whole, and after it nothing.
    std::vector<unsigned char> rest(ring.size() + 1);
    const std::size_t got = ring.read(rest.data(), rest.size());
    EXPECT_EQ(std::string(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(got)),
              written.substr(read.size()));
    EXPECT_TRUE(ring.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ByteRingOrder,
    testing::Values(RingCase{"PartReadsThenAWriteWrapsTheEnd", 8, {6, -4, 6}, 8, 8},
                    RingCase{"AWrappedRingReadAcrossItsEnd", 8, {6, -4, 6, -3, -3, 3}, 5, 8},
                    RingCase{"EmptiedRingTakesTheNextWrite", 8, {5, -5, 7, -2}, 5, 8},
                    RingCase{"AReadPastTheEndTakesWhatThereIs", 8, {3, -10, 2}, 2, 8},
                    RingCase{"APieceLargerThanTheRingGrowsIt", 8, {12}, 12, 12},
                    RingCase{"GrowingKeepsWrappedBytesInOrder", 8, {6, -4, 5, 9}, 16, 16},
                    RingCase{"AFullRingThenOneMoreByteGrowsIt", 4, {4, 1, -2}, 3, 5}),
    [](const testing::TestParamInfo<RingCase>& info) { return std::string(info.param.name); });

TEST(ByteRing, ReleaseEmptiesItAndItIsUsableAgain) {
    ByteRing ring(8);
    ring.write("abcdef", 6);
    ring.release();
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.capacity(), 8U);
    ring.write("xyz", 3);
    unsigned char out[4] = {};
    ASSERT_EQ(ring.read(out, 4), 3U);
    EXPECT_EQ(std::string(out, out + 3), "xyz");
}

}  // namespace
}  // namespace orvento
