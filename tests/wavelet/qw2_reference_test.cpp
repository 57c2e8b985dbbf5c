// Whole files through the decoder against a plain decode built from the formulas: the
// coefficient decoder, the scalar reference transform and the byte rule written out here.
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"
#include "wavelet/wavelet_reference.h"

#include "support/qw2_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

uint8_t referenceByte(float v) {
    if (std::isnan(v) || v < 0.0f) return 0;
    if (v > 255.0f) return 255;
    return uint8_t(std::trunc(v));
}

std::vector<uint8_t> referenceDecode(const std::vector<uint8_t>& file) {
    Qw2Header header;
    if (checkQw2File(file.data(), file.size(), header)) return {};
    const int a = qw2SquareSide(header.width, header.height);
    const size_t count = size_t(a) * a;
    const RefFilter filter = refFilter(header.filterKind);
    Qw2Lists lists;
    createQw2Lists(lists, a);
    std::vector<int32_t> coefficients(count);
    std::vector<std::vector<float>> planes(header.channels, std::vector<float>(count));
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < header.channels; ++c) {
        float scale;
        int32_t budget, bytes;
        std::memcpy(&scale, &file[offset], 4);
        std::memcpy(&budget, &file[offset + 4], 4);
        std::memcpy(&bytes, &file[offset + 8], 4);
        decodeQw2Coefficients(&file[offset + 12], bytes, budget, lists, coefficients.data());
        const float multiplier = scale / 32767.0f;
        for (size_t i = 0; i < count; ++i)
            planes[c][i] = float(coefficients[i]) * multiplier;
        refInverse2D(filter, planes[c].data(), a);
        offset += 12 + size_t(bytes);
    }
    destroyQw2Lists(lists);
    std::vector<uint8_t> pixels;
    for (int y = 0; y < header.height; ++y)
        for (int x = 0; x < header.width; ++x) {
            const size_t i = size_t(y) * a + x;
            const float luma = planes[2][i];
            const float cb = planes[0][i] - 128.0f;
            const float cr = planes[1][i] - 128.0f;
            const float red = luma + 1.4022f * cr;
            const float green = luma - 0.3456f * cb - 0.7145f * cr;
            const float blue = luma + 1.771f * cb;
            pixels.push_back(referenceByte(red));
            pixels.push_back(referenceByte(green));
            pixels.push_back(referenceByte(blue));
            pixels.push_back(header.channels == 4 ? referenceByte(planes[3][i]) : 0);
        }
    return pixels;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& file) {
    int32_t w = 0, h = 0;
    uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
    if (!px) return {};
    std::vector<uint8_t> pixels(px, px + size_t(w) * h * 4);
    std::free(px);
    return pixels;
}

void setScale(std::vector<uint8_t>& file, int channel, float scale) {
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < channel; ++c) {
        int32_t bytes;
        std::memcpy(&bytes, &file[offset + 8], 4);
        offset += 12 + size_t(bytes);
    }
    std::memcpy(&file[offset], &scale, 4);
}

// The file with one channel's stream cut to keepBytes and its bit budget replaced.
std::vector<uint8_t> withChannelCut(const std::vector<uint8_t>& file, int channel,
                                    int32_t keepBytes, int32_t budget) {
    std::vector<uint8_t> out(file.begin(), file.begin() + kQw2HeaderBytes);
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < file[4]; ++c) {
        int32_t fieldBudget, bytes;
        std::memcpy(&fieldBudget, &file[offset + 4], 4);
        std::memcpy(&bytes, &file[offset + 8], 4);
        const int32_t kept = c == channel ? std::min(keepBytes, bytes) : bytes;
        if (c == channel) fieldBudget = budget;
        const size_t at = out.size();
        out.insert(out.end(), file.begin() + long(offset), file.begin() + long(offset + 12));
        std::memcpy(&out[at + 4], &fieldBudget, 4);
        std::memcpy(&out[at + 8], &kept, 4);
        out.insert(out.end(), file.begin() + long(offset + 12),
                   file.begin() + long(offset + 12 + size_t(kept)));
        offset += 12 + size_t(bytes);
    }
    return out;
}

} // namespace

// Channels decoded one at a time, with an empty or short stream or no budget in any one of
// them (the decoder skips a channel without bits and sizes its lists by the stream), give the
// reference's bytes.
TEST(Qw2Reference, EmptyAndShortChannelsDecodeBitForBit) {
    const auto picture = makeQw2TestPicture(100, 70, 3);
    std::vector<uint8_t> file;
    ASSERT_TRUE(encodeQW2(picture.data(), 100, 70, {3, 2.5, true}, file));
    const struct {
        int32_t keepBytes, budget;
    } cuts[] = {{0, 1 << 30}, {1, 1 << 30}, {7, 1 << 30},  {200, 1 << 30},
                {1 << 30, 0}, {1 << 30, 1}, {1 << 30, 900}};
    for (int channel = 0; channel < 4; ++channel)
        for (const auto& cut : cuts) {
            const auto changed = withChannelCut(file, channel, cut.keepBytes, cut.budget);
            const auto expected = referenceDecode(changed);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(decode(changed), expected)
                << "channel " << channel << " bytes " << cut.keepBytes << " budget " << cut.budget;
        }
    // Every channel without bits at once, with and without alpha.
    for (int channels : {3, 4}) {
        std::vector<uint8_t> bare = file;
        if (channels == 3) {
            ASSERT_TRUE(encodeQW2(picture.data(), 100, 70, {3, 2.5, false}, bare));
        }
        for (int c = 0; c < channels; ++c)
            bare = withChannelCut(bare, c, 0, 0);
        EXPECT_EQ(decode(bare), referenceDecode(bare)) << channels;
    }
}

TEST(Qw2Reference, EncodedFilesOfEveryKindAndShapeDecodeBitForBit) {
    struct Shape {
        int w, h;
        bool alpha;
        double bpp;
    } shapes[] = {{77, 50, false, 1.5}, {64, 64, true, 3.0},   {130, 20, false, 0.5},
                  {3, 1, true, 4000.0}, {2, 2, false, 2000.0}, {200, 150, true, 2.0}};
    for (int kind = 0; kind < 4; ++kind)
        for (const Shape& s : shapes) {
            const auto picture = makeQw2TestPicture(s.w, s.h, 5);
            std::vector<uint8_t> file;
            ASSERT_TRUE(encodeQW2(picture.data(), s.w, s.h, {kind, s.bpp, s.alpha}, file));
            const auto expected = referenceDecode(file);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(decode(file), expected) << "kind " << kind << " " << s.w << "x" << s.h;
        }
}

// Streams of random bits set coefficients all over the square, and pictures taller than a band
// of rows are decoded in several, the last one shorter.
TEST(Qw2Reference, RandomStreamsOnThinAndTallPicturesDecodeBitForBit) {
    uint32_t seed = 12345;
    const struct { int w, h; } shapes[] = {{1, 301}, {300, 1}, {257, 301}};
    for (int kind = 0; kind < 4; ++kind)
        for (const auto& s : shapes) {
            std::vector<uint8_t> file = {0, 0, 0, 0, 4, uint8_t(kind), 1, 0};
            const uint16_t sides[2] = {uint16_t(s.w), uint16_t(s.h)};
            std::memcpy(file.data(), sides, sizeof sides);
            for (int c = 0; c < 4; ++c) {
                const float scale = 150.0f + 20.0f * c;
                const int32_t fields[3] = {0, 1 << 30, 1500};
                file.resize(file.size() + 12 + 1500);
                uint8_t* field = &file[file.size() - 1512];
                std::memcpy(field, fields, sizeof fields);
                std::memcpy(field, &scale, 4);
                for (int i = 12; i < 1512; ++i)
                    field[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
            }
            EXPECT_EQ(decode(file), referenceDecode(file))
                << "kind " << kind << " " << s.w << "x" << s.h;
        }
}

TEST(Qw2Reference, NegativeInfiniteAndNanScalesFollowTheFormulas) {
    const auto picture = makeQw2TestPicture(40, 24, 9);
    std::vector<uint8_t> file;
    ASSERT_TRUE(encodeQW2(picture.data(), 40, 24, {2, 3.0, true}, file));
    const float odd[] = {-3000.0f,
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         0.0f,
                         -0.0f,
                         1e38f};
    for (int channel = 0; channel < 4; ++channel)
        for (float scale : odd) {
            std::vector<uint8_t> changed = file;
            setScale(changed, channel, scale);
            EXPECT_EQ(decode(changed), referenceDecode(changed))
                << "channel " << channel << " scale " << scale;
        }
}

TEST(Qw2Pixels, ByteRuleClampsTruncatesAndSendsNanToZeroOnEveryPath) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Eleven pixels: the first eight go four at a time where that is possible, the rest one by one.
    const std::vector<float> luma = {0.0f, -0.0f, 254.99f, 255.0f, 255.5f, -1.0f,
                                     nan,  inf,   -inf,    0.999f, 128.5f};
    std::vector<float> chroma(luma.size(), 128.0f);
    std::vector<float> alpha = luma;
    std::reverse(alpha.begin(), alpha.end());
    const float* planes[4] = {chroma.data(), chroma.data(), luma.data(), alpha.data()};
    std::vector<uint8_t> out(luma.size() * 4);
    convertQw2Pixels(planes, 4, int(luma.size()), int(luma.size()), 1, out.data());
    for (size_t i = 0; i < luma.size(); ++i) {
        // Cb and Cr are exactly 0, so every colour is luma + 0.
        const uint8_t expected = referenceByte(luma[i] + 0.0f);
        EXPECT_EQ(out[i * 4 + 0], expected) << i;
        EXPECT_EQ(out[i * 4 + 1], expected) << i;
        EXPECT_EQ(out[i * 4 + 2], expected) << i;
        EXPECT_EQ(out[i * 4 + 3], referenceByte(alpha[i])) << i;
    }
    convertQw2Pixels(planes, 3, int(luma.size()), int(luma.size()), 1, out.data());
    for (size_t i = 0; i < luma.size(); ++i)
        EXPECT_EQ(out[i * 4 + 3], 0);
}
