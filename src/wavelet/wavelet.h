// Periodic inverse discrete wavelet transform of QW2 pictures: the four orthonormal Daubechies
// filters (2, 4, 6 and 8 taps), one level at a time, columns before rows, in single precision
// with every product and sum rounded in the order of the reference formulas. Inverse only (the
// encoder keeps its own forward transform). No allocation: callers own planes and work memory.
#pragma once

#include <cstddef>

constexpr int kWaveletFilterKinds = 4;
constexpr int kWaveletMaxTaps = 8;

// The synthesis filters of one kind, built from its lowpass taps h[0..taps-1].
struct WaveletFilters {
    int taps = 0;                   // L: 2, 4, 6 or 8
    float g0[kWaveletMaxTaps] = {}; // lowpass: h reversed
    float g1[kWaveletMaxTaps] = {}; // highpass: g1[j] = (-1)^(j+1) h[j]
};

// The lowpass taps of kind 0..3 (taps receives their count); null for any other kind.
const float* waveletLowpass(int kind, int* taps);

// Fills filters for kind 0..3; false, filters untouched, for any other kind.
bool setupWaveletFilters(WaveletFilters& filters, int kind);

// One level in one dimension: input holds n/2 approximation values then n/2 details; output
// receives the n samples (n a power of two, at least 4; input and output do not overlap).
void inverseWaveletStep(const WaveletFilters& filters, const float* input, float* output, int n);

// Floats of work memory inverseWavelet2D needs for an a x a plane; the functions below need the
// same.
size_t inverseWaveletWorkFloats(int a);

// In-place inverse transform of an a x a plane stored row by row (a a power of two). Levels
// B = 4, 8, ..., a; a plane below 4 x 4 is left as it is. Bit-identical to running
// inverseWaveletStep over every column and then every row of each level.
void inverseWavelet2D(const WaveletFilters& filters, float* plane, int a, float* work);

// The same, but only the top-left width x height corner of the result is wanted: work that
// cannot reach it is skipped, and the rest of the plane is left with unspecified values.
void inverseWavelet2DRegion(const WaveletFilters& filters, float* plane, int a, float* work,
                            int width, int height);

// The same result without an a x a plane: the coarser levels on the top-left quarter alone, then
// the finest level a band of output rows at a time, each band reading only the input rows it
// needs. Peak memory is the quarter and a band, not the plane.

// Levels 4 .. a/2 of inverseWavelet2DRegion, on the top-left a/2 x a/2 quarter of the plane
// stored a/2 floats a row: what the finest level reads of it for the width x height corner.
void inverseWaveletCoarseLevels(const WaveletFilters& filters, float* quarter, int a, float* work,
                                int width, int height);

// Input rows of the finest level that output rows y0 .. y0 + rows - 1 read (y0 even): count rows
// of each half of the plane from row first on, wrapping after row a/2 - 1.
struct WaveletBand {
    int first = 0;
    int count = 0;
};
WaveletBand waveletBand(int taps, int a, int y0, int rows);

// Readies work for inverseWaveletFinestRows on a picture width columns wide. Another transform in
// the same work memory undoes it.
void prepareWaveletFinestRows(const WaveletFilters& filters, int a, int width, float* work);

// The finest level for the band's rows (at most a): upper holds its input rows of the plane's
// upper half (approximations, then details), lower those of the lower half, stride floats apart.
// out receives the rows, rounded up to an even count, stride floats apart; the first width
// values of each are the result. For a below 4 the rows are copied: there is no level.
void inverseWaveletFinestRows(const WaveletFilters& filters, int a, const float* upper,
                              const float* lower, size_t stride, int rows, float* out, float* work);
