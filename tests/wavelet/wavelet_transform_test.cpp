// The inverse transform against the worked examples and an independent scalar reference.
#include "wavelet/wavelet.h"
#include "wavelet/wavelet_reference.h"

#include "platform/rand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

void inverse(int kind, float* plane, int a) {
    WaveletFilters f;
    ASSERT_TRUE(setupWaveletFilters(f, kind));
    std::vector<float> work(inverseWaveletWorkFloats(a));
    inverseWavelet2D(f, plane, a, work.data());
}

} // namespace

TEST(WaveletFilters, TapsAreTheSinglePrecisionDaubechiesValuesAndKindsOutsideAreRefused) {
    for (int kind = 0; kind < 4; ++kind) {
        int taps = 0;
        const float* h = waveletLowpass(kind, &taps);
        const RefFilter ref = refFilter(kind);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(taps, ref.taps);
        double sum = 0;
        for (int j = 0; j < taps; ++j) {
            EXPECT_EQ(bitsOf(h[j]), bitsOf(ref.h[j])) << "kind " << kind << " tap " << j;
            sum += h[j];
        }
        EXPECT_NEAR(sum, std::sqrt(2.0), 1e-6);
    }
    WaveletFilters f;
    f.taps = 99;
    EXPECT_FALSE(setupWaveletFilters(f, 4));
    EXPECT_FALSE(setupWaveletFilters(f, -1));
    EXPECT_EQ(f.taps, 99);
    // Synthesis filters: lowpass reversed, highpass with alternating signs.
    ASSERT_TRUE(setupWaveletFilters(f, 1));
    const RefFilter d4 = refFilter(1);
    EXPECT_EQ(f.g0[0], d4.h[3]);
    EXPECT_EQ(f.g1[0], -d4.h[0]);
    EXPECT_EQ(f.g1[1], d4.h[1]);
    EXPECT_EQ(f.g1[3], d4.h[3]);
}

TEST(WaveletStep, HaarPairsAndLongFiltersLandFurtherOnWrapping) {
    WaveletFilters haar;
    ASSERT_TRUE(setupWaveletFilters(haar, 0));
    const float in[4] = {3.0f, -1.0f, 0.5f, 2.0f};
    float out[4];
    inverseWaveletStep(haar, in, out, 4);
    const float c = refFilter(0).h[0];
    EXPECT_EQ(out[0], c * 3.0f + c * 0.5f);
    EXPECT_EQ(out[1], c * 3.0f - c * 0.5f);
    EXPECT_EQ(out[2], c * -1.0f + c * 2.0f);
    EXPECT_EQ(out[3], c * -1.0f - c * 2.0f);

    // Kind 1, n = 8: m = 0 writes positions 2 and 3, m = 3 writes 0 and 1.
    WaveletFilters d4;
    ASSERT_TRUE(setupWaveletFilters(d4, 1));
    float unit[8] = {1, 0, 0, 0, 0, 0, 0, 0}, res[8];
    inverseWaveletStep(d4, unit, res, 8);
    // A[0] reaches m = 0 (t = 0) and m = 3 (t = 1).
    EXPECT_EQ(res[3], d4.g0[0]);
    EXPECT_EQ(res[2], d4.g0[1]);
    EXPECT_EQ(res[1], d4.g0[2]);
    EXPECT_EQ(res[0], d4.g0[3]);
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(res[i], 0.0f);
}

TEST(WaveletStep, SynthesisIsOrthonormalForEveryKindAndLength) {
    for (int kind = 0; kind < 4; ++kind) {
        WaveletFilters f;
        ASSERT_TRUE(setupWaveletFilters(f, kind));
        for (int n = 4; n <= 64; n *= 2) {
            std::vector<std::vector<float>> images(n, std::vector<float>(n));
            for (int i = 0; i < n; ++i) {
                std::vector<float> unit(n, 0.0f);
                unit[i] = 1.0f;
                inverseWaveletStep(f, unit.data(), images[i].data(), n);
            }
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    double dot = 0;
                    for (int k = 0; k < n; ++k)
                        dot += double(images[i][k]) * images[j][k];
                    EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 2e-6)
                        << "kind " << kind << " n " << n << " (" << i << "," << j << ")";
                }
        }
    }
}

TEST(Wavelet2D, HaarRootBandIsTheCoarsestApproximationAndSmallPlanesStay) {
    float plane[16] = {1.0f};
    inverse(0, plane, 4);
    const float quarter = refFilter(0).h[0] * refFilter(0).h[0];
    EXPECT_EQ(quarter, 0.49999991f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(plane[y * 4 + x], (x < 2 && y < 2) ? quarter : 0.0f) << x << "," << y;

    float tiny[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    inverse(3, tiny, 2);
    EXPECT_EQ(tiny[0], 1.0f);
    EXPECT_EQ(tiny[3], 4.0f);
}

TEST(Wavelet2D, CornerOnlyTransformMatchesTheFullOneInsideTheCorner) {
    struct Corner {
        int a, width, height;
    } corners[] = {{64, 40, 30}, {64, 64, 1}, {256, 200, 131}, {16, 3, 16},
                   {8, 5, 3},    {4, 3, 1},   {1024, 640, 480}};
    quilmSrand(11);
    for (int kind = 0; kind < 4; ++kind)
        for (const Corner& c : corners) {
            std::vector<float> plane(size_t(c.a) * c.a);
            for (float& v : plane)
                v = (quilmRand() % 4) ? 0.0f : float(quilmRand() - 16384) / 64.0f;
            std::vector<float> full = plane;
            inverse(kind, full.data(), c.a);
            WaveletFilters f;
            ASSERT_TRUE(setupWaveletFilters(f, kind));
            std::vector<float> work(inverseWaveletWorkFloats(c.a));
            inverseWavelet2DRegion(f, plane.data(), c.a, work.data(), c.width, c.height);
            size_t mismatches = 0;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    mismatches +=
                        bitsOf(plane[size_t(y) * c.a + x]) != bitsOf(full[size_t(y) * c.a + x]);
            EXPECT_EQ(mismatches, 0u) << "kind " << kind << " " << c.width << "x" << c.height;
        }
}

TEST(Wavelet2D, BitIdenticalToTheScalarReferenceOnRandomPlanes) {
    quilmSrand(7);
    for (int kind = 0; kind < 4; ++kind)
        for (int a : {4, 8, 16, 32, 64, 128, 256, 1024}) {
            const size_t count = size_t(a) * a;
            std::vector<float> plane(count);
            for (float& v : plane)
                v = float(quilmRand() - 16384) / float(1 + quilmRand() % 97); // wide range, zeros
            for (size_t i = 0; i < count; i += 13)
                plane[i] = (i % 2) ? -0.0f : 0.0f;
            // Zero bands, rows, strips and runs, as coarse coding leaves them.
            for (size_t i = 0; i < count; ++i) {
                const int x = int(i % a), y = int(i / a);
                if ((x >= a / 2 && y >= a / 4) || (y % 5 == 1) || (x / 8) % 3 == 2 ||
                    (x >= a / 4 && x < a / 2 && y < a / 2))
                    plane[i] = (x + y) % 3 ? 0.0f : -0.0f;
            }
            std::vector<float> expected = plane;
            const int levels = refInverse2D(refFilter(kind), expected.data(), a);
            inverse(kind, plane.data(), a);
            int expectLevels = 0;
            for (int s = 4; s <= a; s *= 2)
                ++expectLevels;
            EXPECT_EQ(levels, expectLevels);
            size_t mismatches = 0;
            for (size_t i = 0; i < count; ++i)
                mismatches += bitsOf(plane[i]) != bitsOf(expected[i]);
            EXPECT_EQ(mismatches, 0u) << "kind " << kind << " side " << a;
        }
}

// The coarser levels on the quarter alone, then the finest level a band of rows at a time (even
// heights, a shorter last band, rows wrapping at both ends, padded row strides), give the whole
// plane's corner bit for bit.
TEST(Wavelet2D, BandsOfRowsMatchTheWholePlaneInsideTheCorner) {
    struct Corner {
        int a, width, height;
    } corners[] = {{64, 40, 30}, {32, 32, 32}, {256, 1, 200}, {16, 3, 16},
                   {8, 5, 3},    {4, 3, 1},    {2, 1, 2},     {2, 2, 1}};
    quilmSrand(5);
    for (int kind = 0; kind < 4; ++kind)
        for (const Corner& c : corners)
            for (int bandRows : {2, 6, 64}) {
                const int a = c.a, half = a / 2;
                std::vector<float> plane(size_t(a) * a);
                for (float& v : plane)
                    v = (quilmRand() % 4) ? 0.0f : float(quilmRand() - 16384) / 64.0f;
                std::vector<float> full = plane;
                inverse(kind, full.data(), a);
                WaveletFilters f;
                ASSERT_TRUE(setupWaveletFilters(f, kind));
                std::vector<float> work(inverseWaveletWorkFloats(a));
                std::vector<float> quarter(size_t(half) * half);
                for (int y = 0; y < half; ++y)
                    for (int x = 0; x < half; ++x)
                        quarter[size_t(y) * half + x] = plane[size_t(y) * a + x];
                inverseWaveletCoarseLevels(f, quarter.data(), a, work.data(), c.width, c.height);
                prepareWaveletFinestRows(f, a, c.width, work.data());
                const size_t stride = size_t(a) + 3;
                size_t mismatches = 0;
                for (int y0 = 0; y0 < c.height; y0 += bandRows) {
                    const int rows = std::min(bandRows, c.height - y0);
                    const WaveletBand band = waveletBand(f.taps, a, y0, rows);
                    std::vector<float> upper(stride * band.count), lower(upper.size());
                    std::vector<float> out(stride * (rows + 1), 99.0f);
                    for (int j = 0; j < band.count; ++j) {
                        const int m = (band.first + j) % half;
                        for (int x = 0; x < a; ++x) {
                            upper[j * stride + x] =
                                x < half ? quarter[size_t(m) * half + x] : plane[size_t(m) * a + x];
                            lower[j * stride + x] = plane[size_t(half + m) * a + x];
                        }
                    }
                    inverseWaveletFinestRows(f, a, upper.data(), lower.data(), stride, rows,
                                             out.data(), work.data());
                    for (int y = 0; y < rows; ++y)
                        for (int x = 0; x < c.width; ++x)
                            mismatches +=
                                bitsOf(out[y * stride + x]) != bitsOf(full[size_t(y0 + y) * a + x]);
                }
                EXPECT_EQ(mismatches, 0u) << "kind " << kind << " side " << a << " " << c.width
                                          << "x" << c.height << " bands of " << bandRows;
            }
}
