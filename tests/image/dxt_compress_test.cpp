// CPU DXT5 blocks: block count with partial edge blocks, edge padding that never reads
// outside the level, and what the blocks lose against stb_dxt's own compressor, measured with
// an independent decoder over noise, ramps, edges and single colours.
#include "image/dxt_compress.h"
#include "support/dxt5_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// A block of 16 RGBA pixels from a pattern number and a seed: noise, ramps, hard edges, two
// colours, one colour, faint noise, binary and soft alpha, as real pictures have them.
std::vector<uint8_t> patternBlock(int pattern, uint32_t& seed) {
    std::vector<uint8_t> block(64);
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 24; };
    const uint8_t a[4] = {uint8_t(next()), uint8_t(next()), uint8_t(next()), 255};
    const uint8_t b[4] = {uint8_t(next()), uint8_t(next()), uint8_t(next()), 0};
    for (int i = 0; i < 16; ++i) {
        uint8_t* p = &block[size_t(i) * 4];
        const int x = i % 4, y = i / 4;
        switch (pattern % 6) {
        case 0: // noise around a colour
            for (int c = 0; c < 3; ++c)
                p[c] = uint8_t(std::clamp(int(a[c]) + int(next() % 41) - 20, 0, 255));
            p[3] = uint8_t(next());
            break;
        case 1: // a ramp from a to b
            for (int c = 0; c < 4; ++c)
                p[c] = uint8_t((a[c] * (6 - x - y) + b[c] * (x + y)) / 6);
            break;
        case 2: // a hard edge with binary alpha, as foliage cut-outs
            std::memcpy(p, x + y < 3 ? a : b, 4);
            break;
        case 3: // a ramp falling in one channel while rising in another
            p[0] = uint8_t(a[0] / 2 + x * 30), p[1] = uint8_t(255 - a[1] / 2 - x * 30);
            p[2] = uint8_t(a[2] / 2 + y * 20), p[3] = 255;
            break;
        case 4: // one colour
            std::memcpy(p, a, 4);
            break;
        default: // faint noise: a spread of at most four levels, or of five, around a colour
            for (int c = 0; c < 3; ++c)
                p[c] = uint8_t(std::min(int(a[c]), 250) + int(next() % (5 + pattern / 6 % 2)));
            p[3] = 255;
        }
    }
    return block;
}

std::vector<uint8_t> stbBlock(const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> out(16);
    stb_compress_dxt_block(out.data(), rgba.data(), 1, STB_DXT_NORMAL);
    return out;
}

std::vector<uint8_t> ourBlock(const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> out(16);
    compressDxt5Block(rgba.data(), out.data());
    return out;
}

double squaredError(const std::vector<uint8_t>& rgba, const std::vector<uint8_t>& block) {
    uint8_t decoded[64];
    decodeDxt5Block(block.data(), decoded);
    const Dxt5Error e = dxt5Error(rgba.data(), decoded, 16);
    return e.colorSquares + e.alphaSquares;
}

// The compressor written plainly, one pixel at a time, with stb's own matcher and
// refinement: the vector code (bounds, covariances, matching, refinement sums) must make the
// very same blocks.
std::vector<uint8_t> plainBlock(const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> out(16);
    uint8_t block[64];
    std::memcpy(block, rgba.data(), 64);
    int low[4] = {255, 255, 255, 255}, high[4] = {0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 4; ++c)
            low[c] = std::min(low[c], int(block[i * 4 + c])),
            high[c] = std::max(high[c], int(block[i * 4 + c]));
    if (low[3] == high[3]) {
        const uint8_t uniform[8] = {
            uint8_t(low[3]), uint8_t(low[3]), 0x49, 0x92, 0x24, 0x49, 0x92, 0x24};
        std::copy(uniform, uniform + 8, out.begin());
    } else {
        stb__CompressAlphaBlock(out.data(), block + 3, 4);
    }
    for (int i = 0; i < 16; ++i)
        block[i * 4 + 3] = 255;
    if (std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]}) <= 4) {
        // Nearly one colour: stb's block of the rounded mean colour alone.
        int sum[3] = {8, 8, 8};
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                sum[c] += block[i * 4 + c];
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                block[i * 4 + c] = uint8_t(sum[c] / 16);
        stb_compress_dxt_block(out.data() + 8, block, 0, STB_DXT_NORMAL);
        return out;
    }
    int lead = 0;
    for (int c = 1; c < 3; ++c)
        if (high[c] - low[c] > high[lead] - low[lead]) lead = c;
    int first[3], second[3];
    for (int c = 0; c < 3; ++c) {
        int covariance = 0;
        for (int i = 0; i < 16; ++i)
            covariance += (2 * block[i * 4 + c] - low[c] - high[c]) *
                          (2 * block[i * 4 + lead] - low[lead] - high[lead]);
        first[c] = covariance < 0 ? low[c] : high[c];
        second[c] = covariance < 0 ? high[c] : low[c];
        const int inset = (first[c] - second[c]) / 16;
        first[c] -= inset, second[c] += inset;
    }
    uint16_t max16 = stb__As16Bit(first[0], first[1], first[2]);
    uint16_t min16 = stb__As16Bit(second[0], second[1], second[2]);
    uint8_t palette[16];
    uint32_t mask = 0;
    if (max16 != min16) {
        stb__EvalColors(palette, max16, min16);
        mask = stb__MatchColorsBlock(block, palette);
    }
    if (stb__RefineBlock(block, &max16, &min16, mask)) {
        mask = 0;
        if (max16 != min16) {
            stb__EvalColors(palette, max16, min16);
            mask = stb__MatchColorsBlock(block, palette);
        }
    }
    if (max16 < min16) std::swap(max16, min16), mask ^= 0x55555555u;
    const uint8_t colour[8] = {uint8_t(max16),      uint8_t(max16 >> 8), uint8_t(min16),
                               uint8_t(min16 >> 8), uint8_t(mask),       uint8_t(mask >> 8),
                               uint8_t(mask >> 16), uint8_t(mask >> 24)};
    std::copy(colour, colour + 8, out.begin() + 8);
    return out;
}

TEST(DxtCompress, LosesNoMoreThanStbAndWhatDxtHoldsComesBackExactly) {
    double ours = 0.0, stb = 0.0;
    uint32_t seed = 2024;
    for (int n = 0; n < 5000; ++n) {
        const std::vector<uint8_t> rgba = patternBlock(n, seed);
        const std::vector<uint8_t> block = ourBlock(rgba);
        ASSERT_EQ(block, plainBlock(rgba)) << n;
        const double error = squaredError(rgba, block);
        ours += error;
        stb += squaredError(rgba, stbBlock(rgba));
        // Four-colour mode, never the three-colour mode with its black.
        ASSERT_GE(block[8] | block[9] << 8, block[10] | block[11] << 8) << n;
        uint8_t decoded[64];
        decodeDxt5Block(block.data(), decoded);
        if (n % 6 == 4) {
            // One colour: stb's exact-match tables, so both halves are stb's, bit for bit.
            ASSERT_EQ(block, stbBlock(rgba)) << n;
        } else if (n % 6 == 2) {
            // Two colours and two alphas (0 and 255) are exact in DXT5 when the colours are
            // 565 values; these are not, so the colours come back within rounding.
            for (int i = 0; i < 16; ++i) {
                ASSERT_EQ(decoded[i * 4 + 3], rgba[size_t(i) * 4 + 3]) << n;
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(std::abs(decoded[i * 4 + c] - rgba[size_t(i) * 4 + c]), 4) << n;
            }
        }
    }
    EXPECT_LE(ours, stb * 1.02);
    EXPECT_GT(ours, 0.0);
}

TEST(DxtCompress, ExtremesAndFullRangeBlocks) {
    // Black to white along the diagonal, every channel; the inverted ramp in one channel only;
    // alpha 0 and 255 only. Ends of the byte range must not wrap in the vector arithmetic.
    std::vector<uint8_t> ramp(64), crossed(64), cut(64);
    for (int i = 0; i < 16; ++i) {
        const uint8_t v = uint8_t(i * 17);
        std::memset(&ramp[size_t(i) * 4], v, 4);
        crossed[size_t(i) * 4] = v, crossed[size_t(i) * 4 + 1] = uint8_t(255 - v);
        crossed[size_t(i) * 4 + 2] = 0, crossed[size_t(i) * 4 + 3] = 255;
        std::memset(&cut[size_t(i) * 4], i % 2 ? 255 : 0, 4);
    }
    for (const std::vector<uint8_t>* rgba : {&ramp, &crossed, &cut}) {
        const std::vector<uint8_t> block = ourBlock(*rgba);
        uint8_t decoded[64];
        decodeDxt5Block(block.data(), decoded);
        int worst = 0;
        for (int i = 0; i < 64; ++i)
            worst = std::max(worst, std::abs(decoded[i] - (*rgba)[size_t(i)]));
        // 16 steps over four palette colours: at most about a third of a step of 85 away.
        EXPECT_LE(worst, 34);
        EXPECT_LE(squaredError(*rgba, block), squaredError(*rgba, stbBlock(*rgba)) * 1.05);
    }
    // Pure black and white halves: exact.
    const std::vector<uint8_t> block = ourBlock(cut);
    uint8_t decoded[64];
    decodeDxt5Block(block.data(), decoded);
    EXPECT_TRUE(std::equal(decoded, decoded + 64, cut.begin()));
}

TEST(DxtChoice, SoftwareRenderersLeaveCompressionOffUnlessForced) {
    struct Case {
        const char* renderer;
        bool asked, forced;
        DxtChoice choice;
    };
    constexpr DxtChoice off = DxtChoice::off, on = DxtChoice::on,
                        soft = DxtChoice::offOnSoftwareRenderer;
    const Case cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true, false, soft},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true, true, on},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", false, true, off}, // no extensions, or unticked
        {"llvmpipe (LLVM 15.0.6, 256 bits)", false, false, off},
        {"softpipe", true, false, soft},
        {"Google SwiftShader", true, false, soft},
        {"SwiftShader Device (Subzero)", true, false, soft},
        {"Gallium 0.4 on LLVMPIPE", true, false, soft},
        {"NVIDIA GeForce RTX 3060/PCIe/SSE2", true, false, on},
        {"AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)", true, false, on},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false, false, off},
        {"llvm", true, false, on},    // a prefix of a name is not the name
        {"softpip", true, false, on}, // nor is a name cut short
        {"", true, false, on},
        {nullptr, true, false, on}, // unknown: as asked
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseDxt(c.asked, c.forced, c.renderer), c.choice)
            << (c.renderer ? c.renderer : "(null)") << " asked " << c.asked << " forced "
            << c.forced;
}

} // namespace
