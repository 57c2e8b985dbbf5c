#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

struct FixedClock : ::testing::Test {
    void TearDown() override { useRealClock(); }
};

TEST_F(FixedClock, AdvancesExactlyOneStepPerFrameWithoutDrift) {
    useFixedStepClock(16667); // 1/60 s
    EXPECT_EQ(timeGetTime(), 0u);
    EXPECT_EQ(timeGetTime(), 0u) << "reading must not move the virtual clock";
    uint32_t previous = 0;
    for (int frame = 1; frame <= 600; ++frame) {
        advanceFixedStepClock();
        const uint32_t now = timeGetTime();
        EXPECT_GE(now - previous, 16u);
        EXPECT_LE(now - previous, 17u);
        previous = now;
    }
    EXPECT_EQ(previous, 10000u); // 600 frames of 1/60 s: ten seconds, no accumulated rounding
}

TEST_F(FixedClock, WrapsLikeA32BitMillisecondCounter) {
    useFixedStepClock(250000, 0xFFFFFF00u);
    advanceFixedStepClock();
    advanceFixedStepClock();
    const uint32_t now = timeGetTime();
    EXPECT_EQ(now, 0xFFFFFF00u + 500u); // wrapped past zero
    EXPECT_LT(now, 0xFFFFFF00u);
    EXPECT_EQ(now - 0xFFFFFF00u, 500u); // differences stay right across the wrap
}

TEST_F(FixedClock, RealClockMovesOnItsOwnAndIgnoresAdvance) {
    useRealClock();
    EXPECT_FALSE(fixedStepClockActive());
    const uint32_t a = timeGetTime();
    advanceFixedStepClock();
    const uint32_t b = timeGetTime();
    EXPECT_LT(b - a, 1000u);
}

} // namespace
