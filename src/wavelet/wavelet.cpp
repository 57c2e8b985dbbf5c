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
// Everything below is forced inline so that it is compiled for the caller's instruction set.
#define QW2_INLINE __attribute__((always_inline)) inline

template <typename F> QW2_INLINE void loadV(F& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}
template <typename F> QW2_INLINE void storeV(float* p, const F& v) {
    std::memcpy(p, &v, sizeof v);
}
// The filter taps spread over whole vectors, made once per transform: a[2t] = g0[2t],
// a[2t+1] = g0[2t+1], d likewise from g1.
template <typename F> struct VectorTaps {
    F a[kWaveletMaxTaps];
    F d[kWaveletMaxTaps];
};
template <typename F> void spreadTaps(VectorTaps<F>& taps, const WaveletFilters& f) {
    for (int j = 0; j < kWaveletMaxTaps; ++j)
        for (int lane = 0; lane < int(sizeof(F) / sizeof(float)); ++lane) {
            taps.a[j][lane] = f.g0[j];
            taps.d[j][lane] = f.g1[j];
        }
}

// E and O of one output pair for lanes starting at a (approximation rows/values) and d (details),
// consecutive taps stride floats apart. A half whose inputs are all zero may be left out
// (useA / useD false) without changing a bit: E and O start at +0, round-to-nearest never makes
// a sum -0 from a +0 start, and adding a product of +-0 to anything but -0 returns it unchanged.
template <int L, bool useA, bool useD, typename F>
QW2_INLINE void synthPair(const VectorTaps<F>& taps, const float* a, const float* d,
                          ptrdiff_t stride, F& e, F& o) {
    e = F{};
    o = F{};
    F v;
    if (useA) {
#pragma GCC unroll 4
        for (int t = 0; t < L / 2; ++t) {
            loadV(v, a + t * stride);
            e = e + taps.a[2 * t] * v;
            o = o + taps.a[2 * t + 1] * v;
        }
    }
    if (useD) {
#pragma GCC unroll 4
        for (int t = 0; t < L / 2; ++t) {
            loadV(v, d + t * stride);
            e = e + taps.d[2 * t] * v;
            o = o + taps.d[2 * t + 1] * v;
        }
    }
}

template <int L, typename F>
QW2_INLINE void synthAny(const VectorTaps<F>& taps, const float* a, const float* d,
                         ptrdiff_t stride, bool useA, bool useD, F& e, F& o) {
    if (useA && useD)
        synthPair<L, true, true>(taps, a, d, stride, e, o);
    else if (useA)
        synthPair<L, true, false>(taps, a, d, stride, e, o);
    else if (useD)
        synthPair<L, false, true>(taps, a, d, stride, e, o);
    else
        synthPair<L, false, false>(taps, a, d, stride, e, o);
}

template <int L>
QW2_INLINE void synthScalar(const WaveletFilters& f, const float* a, const float* d, float& e,
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

typedef uint32_t U8 __attribute__((vector_size(32)));

// True when some value is neither +0 nor -0: the bits with the sign shifted out, ORed together.
QW2_INLINE bool anyNonZero(const float* v, int n) {
    int i = 0;
    U8 acc = {};
    for (; i + 8 <= n; i += 8) {
        U8 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        acc |= bits << 1;
    }
    uint32_t any = 0;
    for (int lane = 0; lane < 8; ++lane)
        any |= acc[lane];
    for (; i < n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, v + i, sizeof bits);
        any |= bits << 1;
    }
    return any != 0;
}

constexpr int kStripColumns = 64; // columns per strip in the column pass: keeps it in cache
constexpr int kChunk = 8;         // outputs per zero test in the row pass

// Columns 0..B-1 of a level, a strip of up to 64 columns at a time. The strip's rows are copied
// out first (with the wrapped rows repeated after them), so the outputs go straight back.
// Rows that are all zero are noted on the way and their terms left out.
// One output row pair of a column pass over w columns: lanes run along the row, each reading
// its column's approximation and detail inputs step floats apart.
template <int L>
QW2_INLINE void synthRowPair(const VectorTaps<F8>& taps8, const VectorTaps<F4>& taps4,
                             const float* am, const float* dm, ptrdiff_t step, bool useA, bool useD,
                             float* oddRow, float* evenRow, int w) {
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        F8 e, o;
        synthAny<L>(taps8, am + x, dm + x, step, useA, useD, e, o);
        storeV(oddRow + x, o);
        storeV(evenRow + x, e);
    }
    for (; x < w; x += 4) {
        F4 e, o;
        synthAny<L>(taps4, am + x, dm + x, step, useA, useD, e, o);
        storeV(oddRow + x, o);
        storeV(evenRow + x, e);
    }
}

template <int L>
QW2_INLINE void columnPass(const VectorTaps<F8>& taps8, const VectorTaps<F4>& taps4, float* plane,
                           int a, int B, float* work, uint8_t* flags, const uint8_t* neededRows,
                           const uint8_t* halfColumns) {
    const int h = B / 2;
    const int ext = h + L / 2 - 1;
    const int w = B < kStripColumns ? B : kStripColumns;
    float* aRows = work;
    float* dRows = work + ext * w;
    uint8_t* aUsed = flags;
    uint8_t* dUsed = flags + ext;
    // Input rows that some needed output pair reads (wrapped repeats need their source row).
    uint8_t* read = flags + 2 * ext;
    std::memset(read, 0, size_t(ext));
    for (int m = 0; m < h; ++m)
        if (neededRows[(2 * m + L - 2) & (B - 1)] || neededRows[(2 * m + L - 1) & (B - 1)])
            for (int t = 0; t < L / 2; ++t)
                read[m + t] = 1;
    for (int r = h; r < ext; ++r)
        read[r % h] |= read[r];
    for (int x0 = 0; x0 < B; x0 += w) {
        // The row pass reads approximation column k and detail column h + k together, so a
        // strip is needed when halfColumns marks one of its columns (modulo h).
        bool stripNeeded = false;
        for (int x = x0; x < x0 + w; ++x)
            stripNeeded |= halfColumns[x & (h - 1)] != 0;
        if (!stripNeeded) continue;
        for (int r = 0; r < ext; ++r) {
            aUsed[r] = dUsed[r] = 0;
            if (!read[r]) continue;
            const int k = r % h;
            float* aRow = aRows + r * w;
            float* dRow = dRows + r * w;
            if (r < h) {
                std::memcpy(aRow, plane + size_t(k) * a + x0, sizeof(float) * w);
                std::memcpy(dRow, plane + size_t(h + k) * a + x0, sizeof(float) * w);
                aUsed[r] = anyNonZero(aRow, w);
                dUsed[r] = anyNonZero(dRow, w);
            } else {
                std::memcpy(aRow, aRows + k * w, sizeof(float) * w);
                std::memcpy(dRow, dRows + k * w, sizeof(float) * w);
                aUsed[r] = aUsed[k];
                dUsed[r] = dUsed[k];
            }
        }
        for (int m = 0; m < h; ++m) {
            const int oddY = (2 * m + L - 2) & (B - 1);
            const int evenY = (2 * m + L - 1) & (B - 1);
            if (!neededRows[oddY] && !neededRows[evenY]) continue;
            float* oddRow = plane + size_t(oddY) * a + x0;
            float* evenRow = plane + size_t(evenY) * a + x0;
            bool useA = false, useD = false;
            for (int t = 0; t < L / 2; ++t) {
                useA |= aUsed[m + t] != 0;
                useD |= dUsed[m + t] != 0;
            }
            const float* am = aRows + m * w;
            const float* dm = dRows + m * w;
            synthRowPair<L>(taps8, taps4, am, dm, ptrdiff_t(w), useA, useD, oddRow, evenRow, w);
        }
    }
}

// One row of a level, in place. Its outputs m are independent, so lanes run along m over the
// row's approximation and detail halves (copied out with their wrapped values repeated). Chunks
// of 8 inputs that are all zero are noted and their terms left out, and only chunks of outputs
// that reach a needed column are done.
template <int L>
QW2_INLINE void synthRow(const WaveletFilters& f, const VectorTaps<F8>& taps8,
                         const VectorTaps<F4>& taps4, float* row, int B, float* work,
                         uint8_t* flags, const uint8_t* neededColumns) {
    const int h = B / 2;
    const int ext = h + L / 2 - 1;
    float* aExt = work;
    float* dExt = aExt + ext;
    float* evens = dExt + ext;
    float* odds = evens + h;
    const int chunks = (ext + kChunk - 1) / kChunk;
    uint8_t* aUsed = flags;
    uint8_t* dUsed = flags + chunks + 1;
    aUsed[chunks] = 0;
    dUsed[chunks] = 0;
    std::memcpy(aExt, row, sizeof(float) * h);
    std::memcpy(dExt, row + h, sizeof(float) * h);
    for (int r = h; r < ext; ++r) {
        aExt[r] = row[r % h];
        dExt[r] = row[h + r % h];
    }
    for (int c = 0; c < chunks; ++c) {
        const int n = ext - c * kChunk < kChunk ? ext - c * kChunk : kChunk;
        aUsed[c] = anyNonZero(aExt + c * kChunk, n);
        dUsed[c] = anyNonZero(dExt + c * kChunk, n);
    }
    int m = 0;
    // Outputs m..m+7 read inputs m..m+7+L/2-1: this chunk and the next. Their pairs
    // (odd, even) land interleaved at 2m + L - 2 onwards, wrapping at the end of the row.
    for (; m + 8 <= h; m += 8) {
        bool wanted = false;
        for (int k = m; k < m + 8; ++k)
            wanted |= neededColumns[(2 * k + L - 2) & (B - 1)] ||
                      neededColumns[(2 * k + L - 1) & (B - 1)];
        if (!wanted) continue;
        const int c = m / kChunk;
        const bool useA = aUsed[c] || (L > 2 && aUsed[c + 1]);
        const bool useD = dUsed[c] || (L > 2 && dUsed[c + 1]);
        F8 e, o;
        synthAny<L>(taps8, aExt + m, dExt + m, 1, useA, useD, e, o);
        const F8 low = __builtin_shufflevector(o, e, 0, 8, 1, 9, 2, 10, 3, 11);
        const F8 high = __builtin_shufflevector(o, e, 4, 12, 5, 13, 6, 14, 7, 15);
        const int start = 2 * m + L - 2;
        if (start + 16 <= B) {
            storeV(row + start, low);
            storeV(row + start + 8, high);
        } else {
            float pairs[16];
            storeV(pairs, low);
            storeV(pairs + 8, high);
            for (int j = 0; j < 16; ++j)
                row[(start + j) & (B - 1)] = pairs[j];
        }
    }
    // Rows of 4 and 8 samples.
    const int tail = m;
    for (; m + 4 <= h; m += 4) {
        F4 e, o;
        synthPair<L, true, true>(taps4, aExt + m, dExt + m, 1, e, o);
        storeV(evens + m, e);
        storeV(odds + m, o);
    }
    for (; m < h; ++m)
        synthScalar<L>(f, aExt + m, dExt + m, evens[m], odds[m]);
    for (m = tail; m < h; ++m) {
        row[(2 * m + L - 2) & (B - 1)] = odds[m];
        row[(2 * m + L - 1) & (B - 1)] = evens[m];
    }
}

// Rows 0..B-1 of a level: only the needed ones.
template <int L>
QW2_INLINE void rowPass(const WaveletFilters& f, const VectorTaps<F8>& taps8,
                        const VectorTaps<F4>& taps4, float* plane, int a, int B, float* work,
                        uint8_t* flags, const uint8_t* neededRows, const uint8_t* neededColumns) {
    for (int y = 0; y < B; ++y)
        if (neededRows[y])
            synthRow<L>(f, taps8, taps4, plane + size_t(y) * a, B, work, flags, neededColumns);
}

// Marks, for every level, the rows of its result that the wanted top-left corner depends on:
// the last level needs rows below height; each level needs the approximation rows that the
// needed output pairs of the next level read (wrapping included). needed[B .. 2B-1] is level B.
// The same holds for columns through the row passes. needed[2..3] serves the smallest level.
void markNeeded(uint8_t* needed, int a, int height, int L) {
    for (int y = 0; y < a; ++y)
        needed[a + y] = y < height;
    for (int B = a; B >= 4; B /= 2) {
        const int h = B / 2;
        uint8_t* next = needed + h;
        std::memset(next, 0, size_t(h));
        for (int m = 0; m < h; ++m)
            if (needed[B + ((2 * m + L - 2) & (B - 1))] || needed[B + ((2 * m + L - 1) & (B - 1))])
                for (int t = 0; t < L / 2; ++t)
                    next[(m + t) % h] = 1;
    }
}

// Byte flags past the float work area (see inverseWaveletWorkFloats): zero flags of the pass at
// hand, then the needed rows and the needed columns of every level.
struct WorkFlags {
    uint8_t* flags;
    uint8_t* neededRows;
    uint8_t* neededColumns;
};

WorkFlags workFlags(float* work, int a) {
    uint8_t* flags = reinterpret_cast<uint8_t*>(work + size_t(a + kWaveletMaxTaps) * kStripColumns);
    uint8_t* neededRows = flags + 2 * a + 4 * kWaveletMaxTaps;
    return {flags, neededRows, neededRows + 2 * a};
}

// Levels 4 .. top of an a x a transform, on the top x top corner with rows stride floats apart.
template <int L>
QW2_INLINE void transformLevels(const WaveletFilters& f, float* plane, int stride, int a, int top,
                                float* work, int width, int height) {
    const WorkFlags w = workFlags(work, a);
    markNeeded(w.neededRows, a, height, L);
    markNeeded(w.neededColumns, a, width, L);
    VectorTaps<F8> taps8;
    VectorTaps<F4> taps4;
    spreadTaps(taps8, f);
    spreadTaps(taps4, f);
    for (int B = 4; B <= top; B *= 2) {
        columnPass<L>(taps8, taps4, plane, stride, B, work, w.flags, w.neededRows + B,
                      w.neededColumns + B / 2);
        rowPass<L>(f, taps8, taps4, plane, stride, B, work, w.flags, w.neededRows + B,
                   w.neededColumns + B);
    }
}

// Columns of the finest level for `pairs` output pairs: pair j reads input rows j .. j + L/2 - 1
// of upper and lower and writes output rows 2j (odd outputs) and 2j + 1 (even). The inputs are
// already rows of their own, so strips are read where they lie; rows are stride floats apart.
template <int L>
QW2_INLINE void finestColumns(const VectorTaps<F8>& taps8, const VectorTaps<F4>& taps4,
                              const float* upper, const float* lower, size_t stride, int a,
                              int pairs, float* out, uint8_t* flags, const uint8_t* halfColumns) {
    const int h = a / 2;
    const int rows = pairs + L / 2 - 1;
    const int w = a < kStripColumns ? a : kStripColumns;
    uint8_t* aUsed = flags;
    uint8_t* dUsed = flags + rows;
    for (int x0 = 0; x0 < a; x0 += w) {
        bool stripNeeded = false;
        for (int x = x0; x < x0 + w; ++x)
            stripNeeded |= halfColumns[x & (h - 1)] != 0;
        if (!stripNeeded) continue;
        for (int r = 0; r < rows; ++r) {
            aUsed[r] = anyNonZero(upper + r * stride + x0, w);
            dUsed[r] = anyNonZero(lower + r * stride + x0, w);
        }
        for (int j = 0; j < pairs; ++j) {
            bool useA = false, useD = false;
            for (int t = 0; t < L / 2; ++t) {
                useA |= aUsed[j + t] != 0;
                useD |= dUsed[j + t] != 0;
            }
            const float* am = upper + j * stride + x0;
            const float* dm = lower + j * stride + x0;
            float* oddRow = out + 2 * j * stride + x0;
            float* evenRow = oddRow + stride;
            synthRowPair<L>(taps8, taps4, am, dm, ptrdiff_t(stride), useA, useD, oddRow, evenRow,
                            w);
        }
    }
}

template <int L>
QW2_INLINE void finestRows(const WaveletFilters& f, int a, const float* upper, const float* lower,
                           size_t stride, int rows, float* out, float* work) {
    const WorkFlags w = workFlags(work, a);
    VectorTaps<F8> taps8;
    VectorTaps<F4> taps4;
    spreadTaps(taps8, f);
    spreadTaps(taps4, f);
    finestColumns<L>(taps8, taps4, upper, lower, stride, a, (rows + 1) / 2, out, w.flags,
                     w.neededColumns + a / 2);
    for (int y = 0; y < rows; ++y)
        synthRow<L>(f, taps8, taps4, out + y * stride, a, work, w.flags, w.neededColumns + a);
}

// One entry per filter length, each built for AVX2 and for the baseline and chosen at load
// time (multiversioned functions cannot be templates). The choice needs the ELF loader's
// ifunc; a Windows build has the baseline alone.
#if defined(__ELF__)
#define QW2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QW2_CLONES
#endif
#define QW2_TRANSFORM_ENTRY(L)                                                                     \
    QW2_CLONES void transformLevels##L(const WaveletFilters& f, float* plane, int stride, int a,   \
                                       int top, float* work, int width, int height) {              \
        transformLevels<L>(f, plane, stride, a, top, work, width, height);                         \
    }                                                                                              \
    QW2_CLONES void finestRows##L(const WaveletFilters& f, int a, const float* upper,              \
                                  const float* lower, size_t stride, int rows, float* out,         \
                                  float* work) {                                                   \
        finestRows<L>(f, a, upper, lower, stride, rows, out, work);                                \
    }
QW2_TRANSFORM_ENTRY(2)
QW2_TRANSFORM_ENTRY(4)
QW2_TRANSFORM_ENTRY(6)
QW2_TRANSFORM_ENTRY(8)

void transformLevelsOf(const WaveletFilters& f, float* plane, int stride, int a, int top,
                       float* work, int width, int height) {
    switch (f.taps) {
    case 2:
        transformLevels2(f, plane, stride, a, top, work, width, height);
        break;
    case 4:
        transformLevels4(f, plane, stride, a, top, work, width, height);
        break;
    case 6:
        transformLevels6(f, plane, stride, a, top, work, width, height);
        break;
    case 8:
        transformLevels8(f, plane, stride, a, top, work, width, height);
        break;
    default:
        break;
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
    // Column strips: approximation and detail rows with their wrapped repeats, 64 wide (the
    // row pass needs less), then bytes: zero flags per row or chunk, needed rows per level.
    const size_t floats = size_t(a + kWaveletMaxTaps) * kStripColumns;
    return floats + (size_t(a) * 6 + 4 * kWaveletMaxTaps) / sizeof(float) + 1;
}

void inverseWavelet2D(const WaveletFilters& f, float* plane, int a, float* work) {
    inverseWavelet2DRegion(f, plane, a, work, a, a);
}

void inverseWavelet2DRegion(const WaveletFilters& f, float* plane, int a, float* work, int width,
                            int height) {
    if (a >= 4) transformLevelsOf(f, plane, a, a, a, work, width, height);
}

void inverseWaveletCoarseLevels(const WaveletFilters& f, float* quarter, int a, float* work,
                                int width, int height) {
    if (a >= 8) transformLevelsOf(f, quarter, a / 2, a, a / 2, work, width, height);
}

WaveletBand waveletBand(int taps, int a, int y0, int rows) {
    if (a < 4) return {0, 1};
    const int h = a / 2;
    return {((y0 - taps + 2) / 2 % h + h) % h, (rows + 1) / 2 + taps / 2 - 1};
}

void prepareWaveletFinestRows(const WaveletFilters& f, int a, int width, float* work) {
    if (a >= 4) markNeeded(workFlags(work, a).neededColumns, a, width, f.taps);
}

void inverseWaveletFinestRows(const WaveletFilters& f, int a, const float* upper,
                              const float* lower, size_t stride, int rows, float* out,
                              float* work) {
    if (a < 4) { // no level at all: the two rows are the coefficients
        std::memcpy(out, upper, sizeof(float) * size_t(a));
        std::memcpy(out + stride, lower, sizeof(float) * size_t(a));
        return;
    }
    switch (f.taps) {
    case 2:
        finestRows2(f, a, upper, lower, stride, rows, out, work);
        break;
    case 4:
        finestRows4(f, a, upper, lower, stride, rows, out, work);
        break;
    case 6:
        finestRows6(f, a, upper, lower, stride, rows, out, work);
        break;
    case 8:
        finestRows8(f, a, upper, lower, stride, rows, out, work);
        break;
    default:
        break;
    }
}
