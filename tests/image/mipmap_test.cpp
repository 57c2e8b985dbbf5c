// The CPU mipmap chain: level count and sizes, the three averaging rules with their integer
// truncation, and sides that are not powers of two.
#include "image/texture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A texture record owning a copy of grey pixels (all four channels equal to the value).
struct MipFixture {
    Texture texture;
    MipFixture(int w, int h, const std::vector<uint8_t>& values) {
        texture.width = w;
        texture.height = h;
        texture.pixels = static_cast<uint8_t*>(std::malloc(size_t(w) * size_t(h) * 4));
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
            std::memset(texture.pixels + 4 * i, i < values.size() ? values[i] : 0, 4);
    }
    ~MipFixture() {
        std::free(texture.pixels);
        for (uint8_t* level : texture.mipLevels)
            std::free(level);
    }
    // Channel c of pixel i of reduced level n (1-based).
    int at(int n, int i, int c = 0) const { return texture.mipLevels[n - 1][4 * i + c]; }
};

TEST(Mipmaps, ChainSizesFollowIntegerHalving) {
    MipFixture wide(256, 64, {});
    buildMipmaps(&wide.texture);
    EXPECT_EQ(wide.texture.mipCount, 8);
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(wide.texture.mipLevels[n] != nullptr, n < 8);

    MipFixture line(65536, 1, {});
    buildMipmaps(&line.texture);
    EXPECT_EQ(line.texture.mipCount, 16);

    MipFixture single(1, 1, {42});
    buildMipmaps(&single.texture);
    EXPECT_EQ(single.texture.mipCount, 0);

    Texture empty;
    buildMipmaps(&empty);
    EXPECT_EQ(empty.mipCount, 0);
}

TEST(Mipmaps, BlocksRowsAndColumnsAverageWithTruncation) {
    // 4 x 2: the 2x2 rule gives 2 x 1, then the single-row rule gives 1 x 1.
    MipFixture square(4, 2, {1, 2, 10, 20, 3, 5, 30, 41});
    buildMipmaps(&square.texture);
    ASSERT_EQ(square.texture.mipCount, 2);
    EXPECT_EQ(square.at(1, 0), 2);  // 11 / 4
    EXPECT_EQ(square.at(1, 1), 25); // 101 / 4
    EXPECT_EQ(square.at(2, 0), 13); // 27 / 2
    // Channels are independent: the alpha channel follows the same arithmetic.
    EXPECT_EQ(square.at(1, 1, 3), 25);

    // A single column of 4 halves along its length only.
    MipFixture column(1, 4, {10, 21, 31, 40});
    buildMipmaps(&column.texture);
    ASSERT_EQ(column.texture.mipCount, 2);
    EXPECT_EQ(column.at(1, 0), 15);
    EXPECT_EQ(column.at(1, 1), 35);
    EXPECT_EQ(column.at(2, 0), 25);

    // 256 x 64: the last two levels (2 x 1, 1 x 1) come from the single-row rule.
    std::vector<uint8_t> ramp(256 * 64);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t(i % 256);
    MipFixture wide(256, 64, ramp);
    buildMipmaps(&wide.texture);
    ASSERT_EQ(wide.texture.mipCount, 8);
    // Level 6 (4 x 1) holds column means 31.5 -> 31, 95 ..., truncated at each step.
    EXPECT_EQ(wide.at(6, 0), 31);
    EXPECT_EQ(wide.at(6, 3), 223);
    EXPECT_EQ(wide.at(7, 0), 63);  // (31 + 95) / 2
    EXPECT_EQ(wide.at(7, 1), 191); // (159 + 223) / 2
    EXPECT_EQ(wide.at(8, 0), 127);
}

TEST(Mipmaps, OddSidesDropTheirLastRowAndColumn) {
    // 3 x 3: one 2x2 block; the third row and column (200s) do not reach level 1.
    MipFixture odd(3, 3, {4, 8, 200, 12, 16, 200, 200, 200, 200});
    buildMipmaps(&odd.texture);
    ASSERT_EQ(odd.texture.mipCount, 1);
    EXPECT_EQ(odd.at(1, 0), 10);

    // 5 x 3 -> 2 x 1 -> 1 x 1; a 7 x 1 row -> 3 x 1 -> 1 x 1. ASan watches every read.
    MipFixture oblong(5, 3, std::vector<uint8_t>(15, 90));
    buildMipmaps(&oblong.texture);
    EXPECT_EQ(oblong.texture.mipCount, 2);
    EXPECT_EQ(oblong.at(2, 0), 90);
    MipFixture row(7, 1, {1, 3, 5, 7, 9, 11, 250});
    buildMipmaps(&row.texture);
    ASSERT_EQ(row.texture.mipCount, 2);
    EXPECT_EQ(row.at(1, 2), 10);
    EXPECT_EQ(row.at(2, 0), 4); // (2 + 6) / 2
}

TEST(Mipmaps, EveryByteOfWideLevelsFollowsTheBlockRule) {
    // Random bytes, every channel its own: widths around the four-pixel steps of the fast path
    // and odd sides, each level-1 byte against the truncated mean of its 2x2 source bytes.
    uint32_t seed = 7;
    for (int w : {8, 9, 10, 15, 16, 17, 31, 64}) {
        for (int h : {2, 3, 5}) {
            MipFixture level(w, h, {});
            for (int i = 0; i < w * h * 4; ++i) {
                seed = seed * 1664525u + 1013904223u;
                level.texture.pixels[i] = uint8_t(seed >> 24);
            }
            buildMipmaps(&level.texture);
            const uint8_t* p = level.texture.pixels;
            const int nw = w / 2, nh = h / 2;
            for (int y = 0; y < nh; ++y)
                for (int x = 0; x < nw; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const int sum = p[((2 * y) * w + 2 * x) * 4 + c] +
                                        p[((2 * y) * w + 2 * x + 1) * 4 + c] +
                                        p[((2 * y + 1) * w + 2 * x) * 4 + c] +
                                        p[((2 * y + 1) * w + 2 * x + 1) * 4 + c];
                        ASSERT_EQ(level.at(1, y * nw + x, c), sum / 4)
                            << w << " x " << h << " at " << x << ", " << y << " channel " << c;
                    }
        }
    }
}

TEST(Mipmaps, AlreadyBuiltChainIsKept) {
    MipFixture m(2, 2, {8, 8, 8, 8});
    buildMipmaps(&m.texture);
    uint8_t* first = m.texture.mipLevels[0];
    buildMipmaps(&m.texture);
    EXPECT_EQ(m.texture.mipLevels[0], first);
    EXPECT_EQ(m.texture.mipCount, 1);
}

} // namespace
