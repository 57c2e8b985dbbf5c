#include "platform/rand.h"

#include <gtest/gtest.h>

TEST(Rand, MatchesTheClassicSequenceFromStateOne) {
    quilmSrand(1);
    EXPECT_EQ(quilmRand(), 41);
    EXPECT_EQ(quilmRand(), 18467);
    EXPECT_EQ(quilmRand(), 6334);
    EXPECT_EQ(quilmRand(), 26500);
    quilmSrand(1);
}
