// The mixer's arithmetic as numbers: gain, the pan laws, who is heard and
// the ducking envelope.
#include <gtest/gtest.h>

#include <vector>

#include "engine/mix/MixLaw.h"

namespace orvento {
namespace {

TEST(MixLawTest, GainFollowsDecibelsWithinItsRange) {
    struct Row {
        double db, factor;
    };
    for (const Row& row : std::vector<Row>{
             {0, 1}, {-6.0206, 0.5}, {6.0206, 2}, {-20, 0.1}, {-100, 0.001}, {40, 3.98107}}) {
        EXPECT_NEAR(gainFromDb(row.db), row.factor, 1e-4) << row.db << " dB";
    }
}

TEST(MixLawTest, PanLawsAtLeftCentreRightAndBetween) {
    struct Row {
        double pan, monoLeft, monoRight, stereoLeft, stereoRight;
    };
    for (const Row& row : std::vector<Row>{{-1, 1, 0, 1, 0},
                                           {-0.5, 0.92388, 0.38268, 1, 0.54120},
                                           {0, 0.70711, 0.70711, 1, 1},
                                           {0.5, 0.38268, 0.92388, 0.54120, 1},
                                           {1, 0, 1, 0, 1},
                                           {3, 0, 1, 0, 1}}) {
        const PanGains mono = monoPan(row.pan);
        const PanGains stereo = stereoBalance(row.pan);
        EXPECT_NEAR(mono.left, row.monoLeft, 1e-5) << "pan " << row.pan;
        EXPECT_NEAR(mono.right, row.monoRight, 1e-5) << "pan " << row.pan;
        EXPECT_NEAR(mono.left * mono.left + mono.right * mono.right, 1, 1e-9) << "constant power";
        EXPECT_NEAR(stereo.left, row.stereoLeft, 1e-5) << "pan " << row.pan;
        EXPECT_NEAR(stereo.right, row.stereoRight, 1e-5) << "pan " << row.pan;
    }
}

TEST(MixLawTest, MuteAndSoloDecideWhoIsHeard) {
    struct Row {
        bool muted, soloed, anySoloed, heard;
    };
    for (const Row& row : std::vector<Row>{{false, false, false, true},
                                           {true, false, false, false},
                                           {false, false, true, false},
                                           {false, true, true, true},
                                           {true, true, true, false}}) {
        EXPECT_EQ(feedHeard(row.muted, row.soloed, row.anySoloed), row.heard)
            << row.muted << row.soloed << row.anySoloed;
    }
}

TEST(MixLawTest, DuckingEnvelopeRampsInDecibels) {
    // Steps taken in order from an envelope at rest: (transmitting, seconds, dB after).
    struct Row {
        bool ducking;
        double seconds, db;
    };
    DuckEnvelope envelope;
    for (const Row& row : std::vector<Row>{{false, 1, 0},
                                           {true, 0.025, -7.5},
                                           {true, 0.025, -15},
                                           {true, 1, -15},
                                           {false, 0.1, -12},
                                           {false, 0.25, -4.5},
                                           {true, 0.01, -7.5},
                                           {false, 0.5, 0},
                                           {false, 1, 0}}) {
        EXPECT_NEAR(envelope.advance(row.ducking, row.seconds), row.db, 1e-9)
            << row.ducking << " for " << row.seconds << " s";
    }
}

}  // namespace
}  // namespace orvento
