#include "render/super8_model.h"

#include "platform/rand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// Tables from a generator in its starting state, as on the program's first use.
std::unique_ptr<Super8Effect> freshEffect() {
    auto effect = std::make_unique<Super8Effect>();
    quilmSrand(1);
    initSuper8Tables(effect.get());
    return effect;
}

} // namespace

TEST(Super8Noise, TableComesFromTheGeneratorInOrder) {
    const auto effect = freshEffect();
    EXPECT_EQ(effect->noiseTableSize, 65535);
    EXPECT_EQ(effect->noiseTable[0], 41.0f / 32767.0f);
    EXPECT_EQ(effect->noiseTable[1], 18467.0f / 32767.0f);
    EXPECT_EQ(effect->noiseTable[2], 6334.0f / 32767.0f);
    // The table used exactly 65535 values, the last one landing in the last cell.
    const int nextAfterTable = quilmRand();
    quilmSrand(1);
    int last = 0;
    for (int i = 0; i < 65535; ++i)
        last = quilmRand();
    EXPECT_EQ(effect->noiseTable[65534], static_cast<float>(last) / 32767.0f);
    EXPECT_EQ(quilmRand(), nextAfterTable);

    EXPECT_EQ(effect->octaveWeights[0], 1.0f);
    EXPECT_EQ(effect->octaveWeights[7], 1.0f / 128.0f);
    EXPECT_EQ(effect->noiseNorm, 128.0f / 255.0f);
    EXPECT_EQ(effect->dirtCount, 0);
    EXPECT_EQ(effect->scratchCount, 4);
    EXPECT_EQ(effect->lastDirtTime, 0.0f);
}

TEST(Super8Noise, StaysInRangeIsEvenAndStartsAtTheFirstTableValue) {
    const auto effect = freshEffect();
    // Every octave reads cell 0 with no fraction; only the float sum may round.
    EXPECT_FLOAT_EQ(super8Noise(effect.get(), 0.0f), effect->noiseTable[0]);
    float low = 1.0f, high = 0.0f;
    for (int i = 0; i < 200000; ++i) {
        const float x = static_cast<float>(i) * 0.731f + static_cast<float>(i % 7) * 0.013f;
        const float n = super8Noise(effect.get(), x);
        ASSERT_GE(n, 0.0f) << x;
        ASSERT_LE(n, 1.0f) << x;
        ASSERT_EQ(n, super8Noise(effect.get(), -x)) << x;
        low = std::fmin(low, n);
        high = std::fmax(high, n);
    }
    // Eight octaves average toward the middle but must still move.
    EXPECT_LT(low, 0.3f);
    EXPECT_GT(high, 0.7f);
}

TEST(Super8Noise, IsContinuousIncludingWhereTheTableWraps) {
    const auto effect = freshEffect();
    // 65534 -> 65535 is where the top octave's cell wraps back to the table's start.
    for (float x : {0.5f, 100.25f, 65533.0f, 65534.0f, 65534.5f}) {
        const float left = super8Noise(effect.get(), x - 0.001f);
        const float right = super8Noise(effect.get(), x + 0.001f);
        EXPECT_NEAR(left, right, 0.002f) << x;
    }
    // Single-octave check at the wrap: cell 65534 blends into cell 0.
    Super8Effect flat;
    for (float& v : flat.noiseTable)
        v = 0.5f;
    flat.noiseTable[65534] = 0.0f;
    flat.noiseTable[0] = 1.0f;
    flat.octaveWeights[0] = 1.0f;
    flat.noiseNorm = 1.0f;
    EXPECT_FLOAT_EQ(super8Noise(&flat, 65534.25f), 0.25f);
}

// Times far beyond any show, and non-finite ones, still give a value in range.
TEST(Super8Noise, HugeAndNonFiniteArgumentsStayInRange) {
    const auto effect = freshEffect();
    for (float x : {3.0e9f, 1.0e20f, std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN(), -5.0e12f}) {
        const float n = super8Noise(effect.get(), x);
        EXPECT_GE(n, 0.0f) << x;
        EXPECT_LE(n, 1.0f) << x;
    }
}

TEST(Super8Dirt, RollDrawsSixValuesPerSpeckInOrder) {
    const auto effect = freshEffect();
    // Find a time with specks; the roll count follows N(10 t).
    float t = 0.0f;
    while (static_cast<int>(super8Noise(effect.get(), 10.0f * t) * 20.0f) < 5)
        t += 0.01f;
    const int n = static_cast<int>(super8Noise(effect.get(), 10.0f * t) * 20.0f);

    quilmSrand(1);
    generateDirt(effect.get(), t);
    ASSERT_EQ(effect->dirtCount, n);
    EXPECT_EQ(effect->lastDirtTime, t);

    quilmSrand(1);
    for (int i = 0; i < n; ++i) {
        const DirtSpeck& d = effect->dirtSpecks[i];
        EXPECT_EQ(d.x, 2.0f * (quilmRand() / 32767.0f) - 1.0f);
        EXPECT_EQ(d.y, 2.0f * (quilmRand() / 32767.0f) - 1.0f);
        EXPECT_EQ(d.size, quilmRand() / 32767.0f / 10.0f + 0.05f);
        EXPECT_EQ(d.angle, 360.0f * (quilmRand() / 32767.0f));
        EXPECT_EQ(d.cellS, (quilmRand() & 3) / 4.0f);
        EXPECT_EQ(d.cellT, (quilmRand() & 3) / 4.0f);
        EXPECT_GE(d.size, 0.05f);
        EXPECT_LE(d.size, 0.15f);
    }
    // Nothing beyond the specks was drawn from the generator.
    const int next = quilmRand();
    quilmSrand(1);
    for (int i = 0; i < 6 * n; ++i)
        quilmRand();
    EXPECT_EQ(quilmRand(), next);
}

TEST(Super8Dirt, CountFollowsTheNoiseAndNeverExceedsTwenty) {
    const auto effect = freshEffect();
    int most = 0;
    for (int i = 0; i < 5000; ++i) {
        const float t = static_cast<float>(i) * 0.037f;
        generateDirt(effect.get(), t);
        EXPECT_EQ(effect->dirtCount,
                  static_cast<int>(super8Noise(effect.get(), 10.0f * t) * 20.0f));
        most = std::max(most, effect->dirtCount);
    }
    EXPECT_LE(most, 20);
    EXPECT_GT(most, 10);

    // A table of ones gives N = 1 everywhere: the roll is capped at 20, not 20-and-more.
    auto ones = std::make_unique<Super8Effect>();
    for (float& v : ones->noiseTable)
        v = 1.0f;
    for (int k = 0; k < 8; ++k)
        ones->octaveWeights[k] = 1.0f / static_cast<float>(1 << k);
    ones->noiseNorm = 128.0f / 255.0f;
    generateDirt(ones.get(), 3.0f);
    EXPECT_LE(ones->dirtCount, 20);
}

TEST(Super8Dirt, ReRollsOnlyAfterMoreThanTheInterval) {
    const auto effect = freshEffect();
    // A time whose roll has specks, so a new roll is visible in the speck data.
    float start = 1.0f;
    while (static_cast<int>(super8Noise(effect.get(), 10.0f * start) * 20.0f) < 3)
        start += 0.1f;

    EXPECT_FALSE(updateSuper8Dirt(effect.get(), 0.03f)); // nothing yet; 0.03 - 0 is not > 0.05
    generateDirt(effect.get(), start);
    DirtSpeck before[kMaxDirtSpecks];
    std::memcpy(before, effect->dirtSpecks, sizeof before);
    const int count = effect->dirtCount;

    EXPECT_FALSE(updateSuper8Dirt(effect.get(), start + 0.04f));
    EXPECT_EQ(effect->dirtCount, count);
    EXPECT_EQ(std::memcmp(before, effect->dirtSpecks, sizeof before), 0);
    EXPECT_EQ(effect->lastDirtTime, start);

    // Backwards in time (a seek) keeps the specks.
    EXPECT_FALSE(updateSuper8Dirt(effect.get(), start - 10.0f));
    EXPECT_EQ(std::memcmp(before, effect->dirtSpecks, sizeof before), 0);

    EXPECT_TRUE(updateSuper8Dirt(effect.get(), start + 0.06f));
    EXPECT_EQ(effect->lastDirtTime, start + 0.06f);
    EXPECT_NE(std::memcmp(before, effect->dirtSpecks, sizeof before), 0);
}

TEST(Super8Layers, ScratchShowsExactlyWhenItsWidthNoiseIsAboveHalf) {
    const auto effect = freshEffect();
    int shown = 0, hidden = 0;
    for (int step = 0; step < 4000; ++step) {
        const float t = static_cast<float>(step) * 0.013f;
        for (int i = 0; i < 4; ++i) {
            const Super8Scratch s = super8Scratch(effect.get(), i, t);
            const float g = t + 10.0f * static_cast<float>(i);
            const float widthNoise = super8Noise(effect.get(), 4.0f * g);
            EXPECT_EQ(s.visible, widthNoise > 0.5f) << t << " " << i;
            EXPECT_LE(std::fabs(s.width), 0.05f);
            EXPECT_GE(s.left, -2.0f);
            EXPECT_LE(s.left, 2.0f);
            EXPECT_GE(s.brightness, 0.0f);
            EXPECT_LE(s.brightness, 0.5f);
            (s.visible ? shown : hidden) += 1;
        }
    }
    EXPECT_GT(shown, 0);
    EXPECT_GT(hidden, 0);
}

TEST(Super8Layers, LampMotionAndLetterboxStayWithinTheirBounds) {
    const auto effect = freshEffect();
    for (int step = 0; step < 2000; ++step) {
        const float t = static_cast<float>(step) * 0.021f;
        const Super8Lamp lamp = super8Lamp(effect.get(), t);
        EXPECT_GE(lamp.brightness, 0.4f);
        EXPECT_LE(lamp.brightness, 1.4f);
        EXPECT_GE(lamp.alpha, -0.4f);
        EXPECT_LE(lamp.alpha, 0.6f);
        const Super8Motion m = super8FrameMotion(effect.get(), t);
        EXPECT_LE(std::fabs(m.angleDegrees), 2.5f);
        EXPECT_LE(std::fabs(m.shiftX), 0.1f);
        EXPECT_LE(std::fabs(m.shiftY), 0.1f);
    }
    EXPECT_EQ(super8WideScreenScale(640, 480, true), 0.75f);
    EXPECT_EQ(super8WideScreenScale(1920, 1080, true), 1.0f);
    EXPECT_EQ(super8WideScreenScale(640, 480, false), 1.0f);
    EXPECT_EQ(super8WideScreenScale(640, 0, true), 1.0f);
}
