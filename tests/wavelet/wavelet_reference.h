// A plain scalar inverse transform written straight from the formulas, separately from the
// library, for bit-for-bit comparisons in the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The lowpass taps as published, written out here separately from the library's table.
struct RefFilter {
    int taps;
    float h[8];
};
inline RefFilter refFilter(int kind) {
    uint32_t haarBits = 0x3F3504F2u;
    float haar;
    std::memcpy(&haar, &haarBits, sizeof haar);
    switch (kind) {
    case 0:
        return {2, {haar, haar}};
    case 1:
        return {4, {0.48296291f, 0.83651632f, 0.22414386f, -0.12940952f}};
    case 2:
        return {6,
                {0.33267054f, 0.80689150f, 0.45987749f, -0.13501102f, -0.085441276f, 0.035226293f}};
    default:
        return {8,
                {0.23037781f, 0.71484655f, 0.63088077f, -0.027983770f, -0.18703482f, 0.030841382f,
                 0.032883011f, -0.010597402f}};
    }
}

// Straight from the formulas: for each m, approximation terms then detail terms, rounding
// after every product and every sum; pair lands at 2m + L - 2 and 2m + L - 1, wrapping.
inline void refStep(const RefFilter& f, const float* in, float* out, int n) {
    const int L = f.taps, half = n / 2;
    for (int m = 0; m < half; ++m) {
        float e = 0.0f, o = 0.0f;
        for (int t = 0; t < L / 2; ++t) {
            const int k = (m + t) % half;
            const float lowEven = f.h[L - 1 - 2 * t], lowOdd = f.h[L - 2 - 2 * t];
            e = e + lowEven * in[k];
            o = o + lowOdd * in[k];
        }
        for (int t = 0; t < L / 2; ++t) {
            const int k = (m + t) % half;
            const float highEven = -f.h[2 * t], highOdd = f.h[2 * t + 1];
            e = e + highEven * in[half + k];
            o = o + highOdd * in[half + k];
        }
        out[(2 * m + L - 2) % n] = o;
        out[(2 * m + L - 1) % n] = e;
    }
}

inline int refInverse2D(const RefFilter& f, float* plane, int a) {
    int levels = 0;
    std::vector<float> in(static_cast<size_t>(a)), out(static_cast<size_t>(a));
    for (int B = 4; B <= a; B *= 2, ++levels) {
        for (int x = 0; x < B; ++x) {
            for (int y = 0; y < B; ++y)
                in[y] = plane[y * a + x];
            refStep(f, in.data(), out.data(), B);
            for (int y = 0; y < B; ++y)
                plane[y * a + x] = out[y];
        }
        for (int y = 0; y < B; ++y) {
            std::memcpy(in.data(), plane + y * a, sizeof(float) * B);
            refStep(f, in.data(), out.data(), B);
            std::memcpy(plane + y * a, out.data(), sizeof(float) * B);
        }
    }
    return levels;
}
