// QW2 encoder for the content tools and tests: colour to Cb, Cr, Y (+ alpha), a smooth periodic
// padding to the coding square, the forward periodic wavelet transform (exact inverse of the
// decoder's), per-channel scaling to integers and the set-partitioning bit-plane coder that
// mirrors the decoder's lists, with the bit budget shared between channels by rate and
// distortion. Not used by the player. Pure: RGBA pixels in, file bytes out (caller's vector).
#pragma once

#include <cstdint>
#include <vector>

struct Qw2EncodeOptions {
    int filterKind = 3;        // 0 Haar, 1..3 Daubechies 4, 6, 8 taps
    double bitsPerPixel = 2.0; // whole file, headers included
    bool alpha = false;        // four channels; without it the decoder gives alpha 0
};

// Encodes width x height RGBA pixels (rows from the top down). False, with a reason when asked
// for, on a size outside 1..8192, an unknown filter kind or a rate that is not positive.
bool encodeQW2(const uint8_t* rgba, int width, int height, const Qw2EncodeOptions& options,
               std::vector<uint8_t>& file, const char** reason = nullptr);

// Forward transform of an a x a plane in place with the filters of kind (double precision):
// levels a, a/2, ..., 4, rows before columns, so inverseWavelet2D undoes it.
void forwardWavelet2D(int kind, double* plane, int a);
