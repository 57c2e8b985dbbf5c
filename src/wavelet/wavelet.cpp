#include "wavelet/wavelet.h"

#include <cstdint>
#include <cstring>

namespace {

// Published Daubechies lowpass coefficients (taps summing to sqrt 2), rounded to float once.
constexpr float kDaub4[4] = {float(0.48296291314453414), float(0.83651630373780790),
                             float(0.22414386804201339), float(-0.12940952255126037)};
constexpr float kDaub6[6] = {float(0.33267055295008263),  float(0.80689150931109260),
                             float(0.45987750211849154),  float(-0.13501102001025458),
                             float(-0.08544127388202666), float(0.03522629188570953)};
constexpr float kDaub8[8] = {float(0.23037781330889650),  float(0.71484657055291560),
                             float(0.63088076792985890),  float(-0.02798376941685985),
                             float(-0.18703481171909309), float(0.03084138183556076),
                             float(0.03288301166688519),  float(-0.01059740178506903)};

float haarTap() {
    // One unit in the last place below the float nearest 1/sqrt 2: the files were made with it.
    const uint32_t bits = 0x3F3504F2u;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Vectors of independent lanes: every lane is one column (or one output) computed with exactly
// the scalar sequence of products and sums, so lanes never mix and accumulations keep order.
typedef float F8 __attribute__((vector_size(32)));
typedef float F4 __attribute__((vector_size(16)));

// Vectors pass by reference only: returning one by value changes the ABI between targets.
template <typename F> inline void loadV(F& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}
template <typename F> inline void storeV(float* p, F v) {
    std::memcpy(p, &v, sizeof v);
}
template <typename F> inline void splat(F& v, float s) {
    for (int i = 0; i < int(sizeof(F) / sizeof(float)); ++i)
        v[i] = s;
}

// E and O of one output pair for lanes starting at a (approximation rows/values) and d (details),
// consecutive taps stride floats apart.
template <int L, typename F>
inline void synthPair(const float* g0, const float* g1, const float* a, const float* d,
                      ptrdiff_t stride, F& e, F& o) {
    splat(e, 0.0f);
    splat(o, 0.0f);
    F v, ge, go;
    for (int t = 0; t < L / 2; ++t) {
        loadV(v, a + t * stride);
        splat(ge, g0[2 * t]);
        splat(go, g0[2 * t + 1]);
        e = e + ge * v;
        o = o + go * v;
    }
    for (int t = 0; t < L / 2; ++t) {
        loadV(v, d + t * stride);
        splat(ge, g1[2 * t]);
        splat(go, g1[2 * t + 1]);
        e = e + ge * v;
        o = o + go * v;
    }
}

template <int L>
inline void synthScalar(const WaveletFilters& f, const float* a, const float* d, float& e,
                        float& o) {
    e = 0.0f;
    o = 0.0f;
    for (int t = 0; t < L / 2; ++t) {
        e = e + f.g0[2 * t] * a[t];
        o = o + f.g0[2 * t + 1] * a[t];
    }
    for (int t = 0; t < L / 2; ++t) {
        e = e + f.g1[2 * t] * d[t];
        o = o + f.g1[2 * t + 1] * d[t];
    }
}

constexpr int kStripColumns = 64; // columns per strip in the column pass: keeps it in cache

// Columns 0..B-1 of a level, a strip of up to 64 columns at a time. The strip's rows are copied
// out first (with the wrapped rows repeated after them), so the outputs go straight back.
template <int L> void columnPass(const WaveletFilters& f, float* plane, int a, int B, float* work) {
    const int h = B / 2;
    const int ext = h + L / 2 - 1;
    const int w = B < kStripColumns ? B : kStripColumns;
    float* aRows = work;
    float* dRows = work + ext * w;
    for (int x0 = 0; x0 < B; x0 += w) {
        for (int r = 0; r < ext; ++r) {
            const int k = r % h;
            std::memcpy(aRows + r * w, plane + size_t(k) * a + x0, sizeof(float) * w);
            std::memcpy(dRows + r * w, plane + size_t(h + k) * a + x0, sizeof(float) * w);
        }
        for (int m = 0; m < h; ++m) {
            float* oddRow = plane + size_t((2 * m + L - 2) & (B - 1)) * a + x0;
            float* evenRow = plane + size_t((2 * m + L - 1) & (B - 1)) * a + x0;
            const float* am = aRows + m * w;
            const float* dm = dRows + m * w;
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                F8 e, o;
                synthPair<L, F8>(f.g0, f.g1, am + x, dm + x, w, e, o);
                storeV(oddRow + x, o);
                storeV(evenRow + x, e);
            }
            for (; x < w; x += 4) {
                F4 e, o;
                synthPair<L, F4>(f.g0, f.g1, am + x, dm + x, w, e, o);
                storeV(oddRow + x, o);
                storeV(evenRow + x, e);
            }
        }
    }
}

// Rows 0..B-1 of a level. Each row's outputs m are independent, so lanes run along m over the
// row's approximation and detail halves (copied out with their wrapped values repeated).
template <int L> void rowPass(const WaveletFilters& f, float* plane, int a, int B, float* work) {
    const int h = B / 2;
    const int ext = h + L / 2 - 1;
    float* aExt = work;
    float* dExt = aExt + ext;
    float* evens = dExt + ext;
    float* odds = evens + h;
    for (int y = 0; y < B; ++y) {
        float* row = plane + size_t(y) * a;
        std::memcpy(aExt, row, sizeof(float) * h);
        std::memcpy(dExt, row + h, sizeof(float) * h);
        for (int r = h; r < ext; ++r) {
            aExt[r] = row[r % h];
            dExt[r] = row[h + r % h];
        }
        int m = 0;
        for (; m + 8 <= h; m += 8) {
            F8 e, o;
            synthPair<L, F8>(f.g0, f.g1, aExt + m, dExt + m, 1, e, o);
            storeV(evens + m, e);
            storeV(odds + m, o);
        }
        for (; m + 4 <= h; m += 4) {
            F4 e, o;
            synthPair<L, F4>(f.g0, f.g1, aExt + m, dExt + m, 1, e, o);
            storeV(evens + m, e);
            storeV(odds + m, o);
        }
        for (; m < h; ++m)
            synthScalar<L>(f, aExt + m, dExt + m, evens[m], odds[m]);
        for (m = 0; m < h; ++m) {
            row[(2 * m + L - 2) & (B - 1)] = odds[m];
            row[(2 * m + L - 1) & (B - 1)] = evens[m];
        }
    }
}

template <int L>
__attribute__((target_clones("avx2", "default"))) void
transformLevels(const WaveletFilters& f, float* plane, int a, float* work) {
    for (int B = 4; B <= a; B *= 2) {
        columnPass<L>(f, plane, a, B, work);
        rowPass<L>(f, plane, a, B, work);
    }
}

} // namespace

const float* waveletLowpass(int kind, int* taps) {
    static const float haar[2] = {haarTap(), haarTap()};
    switch (kind) {
    case 0:
        *taps = 2;
        return haar;
    case 1:
        *taps = 4;
        return kDaub4;
    case 2:
        *taps = 6;
        return kDaub6;
    case 3:
        *taps = 8;
        return kDaub8;
    default:
        return nullptr;
    }
}

bool setupWaveletFilters(WaveletFilters& filters, int kind) {
    int taps = 0;
    const float* h = waveletLowpass(kind, &taps);
    if (!h) return false;
    filters = WaveletFilters{};
    filters.taps = taps;
    for (int j = 0; j < taps; ++j) {
        filters.g0[j] = h[taps - 1 - j];
        filters.g1[j] = (j % 2 == 1) ? h[j] : -h[j];
    }
    return true;
}

void inverseWaveletStep(const WaveletFilters& f, const float* input, float* output, int n) {
    const int h = n / 2;
    const int L = f.taps;
    for (int m = 0; m < h; ++m) {
        float e = 0.0f;
        float o = 0.0f;
        for (int t = 0; t < L / 2; ++t) {
            const int k = (m + t) % h;
            e = e + f.g0[2 * t] * input[k];
            o = o + f.g0[2 * t + 1] * input[k];
        }
        for (int t = 0; t < L / 2; ++t) {
            const int k = (m + t) % h;
            e = e + f.g1[2 * t] * input[h + k];
            o = o + f.g1[2 * t + 1] * input[h + k];
        }
        output[(2 * m + L - 2) % n] = o;
        output[(2 * m + L - 1) % n] = e;
    }
}

size_t inverseWaveletWorkFloats(int a) {
    // Column strips: approximation and detail rows with their wrapped repeats, 64 wide.
    // Row pass: the two extended halves plus the even and odd outputs; always smaller.
    return size_t(a + kWaveletMaxTaps) * kStripColumns;
}

void inverseWavelet2D(const WaveletFilters& f, float* plane, int a, float* work) {
    if (a < 4) return;
    switch (f.taps) {
    case 2:
        transformLevels<2>(f, plane, a, work);
        break;
    case 4:
        transformLevels<4>(f, plane, a, work);
        break;
    case 6:
        transformLevels<6>(f, plane, a, work);
        break;
    case 8:
        transformLevels<8>(f, plane, a, work);
        break;
    default:
        break;
    }
}
