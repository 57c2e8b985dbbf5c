// CPU DXT5 blocks: block count with partial edge blocks, edge padding that never reads
// outside the level, and blocks bit for bit those of stb_dxt's own block compressor.
#include "image/dxt_compress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace {

TEST(DxtCompress, PartialBlocksCountWholeAndPadFromTheEdge) {
    EXPECT_EQ(dxt5Bytes(1, 1), 16u);
    EXPECT_EQ(dxt5Bytes(5, 3), 32u);
    EXPECT_EQ(dxt5Bytes(256, 256), 65536u);

    // A 5 x 3 picture: the second block sees only column 4, repeated. Both blocks of a
    // uniform picture come out identical; ASan watches the reads at the edge.
    std::vector<uint8_t> flat;
    for (int i = 0; i < 15; ++i)
        flat.insert(flat.end(), {10, 200, 90, 128});
    std::vector<uint8_t> blocks(dxt5Bytes(5, 3) + 1, 0xcd);
    compressDxt5(flat.data(), 5, 3, blocks.data());
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.begin() + 16, blocks.begin() + 16));
    EXPECT_EQ(blocks[32], 0xcd); // nothing written past the blocks
    EXPECT_EQ(blocks[0], 128);   // alpha endpoints: the one alpha value
    EXPECT_EQ(blocks[1], 128);
}

// stb's block compressor on each 4 x 4 block of a picture whose sides are multiples of 4.
std::vector<uint8_t> stbBlocks(const std::vector<uint8_t>& rgba, int width, int height) {
    std::vector<uint8_t> out;
    uint8_t block[64], dest[16];
    for (int by = 0; by < height; by += 4)
        for (int bx = 0; bx < width; bx += 4) {
            for (int y = 0; y < 4; ++y)
                std::memcpy(block + y * 16, &rgba[(size_t(by + y) * width + bx) * 4], 16);
            stb_compress_dxt_block(dest, block, 1, STB_DXT_NORMAL);
            out.insert(out.end(), dest, dest + 16);
        }
    return out;
}

TEST(DxtCompress, BlocksMatchStbForUniformAndVaryingAlpha) {
    // 64 x 16: 64 blocks. Row of blocks 0: one alpha value per block (0..255 over the rows of
    // blocks below), colours varying within each block; row 1: alpha varying inside blocks;
    // rows 2 and 3: uniform colour, some blocks with one stray alpha.
    constexpr int kWidth = 64, kHeight = 16;
    for (int base = 0; base < 256; base += 16) {
        std::vector<uint8_t> rgba(size_t(kWidth) * kHeight * 4);
        uint32_t seed = 12345u + uint32_t(base);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = &rgba[(size_t(y) * kWidth + x) * 4];
                seed = seed * 1664525u + 1013904223u;
                const int block = x / 4;
                if (y < 4) {
                    for (int c = 0; c < 3; ++c)
                        p[c] = uint8_t(seed >> (8 * c + 8));
                    p[3] = uint8_t(base + block);
                } else if (y < 8) {
                    for (int c = 0; c < 3; ++c)
                        p[c] = uint8_t(x * 4 + c * 50);
                    p[3] = uint8_t(seed >> 24);
                } else {
                    p[0] = uint8_t(base), p[1] = uint8_t(block * 16), p[2] = 77;
                    p[3] = (x % 4 == 1 && y == 9 && block % 2 == 0) ? 0 : uint8_t(255 - base);
                }
            }
        std::vector<uint8_t> ours(dxt5Bytes(kWidth, kHeight));
        compressDxt5(rgba.data(), kWidth, kHeight, ours.data());
        EXPECT_EQ(ours, stbBlocks(rgba, kWidth, kHeight)) << "alpha base " << base;
    }
}

} // namespace
