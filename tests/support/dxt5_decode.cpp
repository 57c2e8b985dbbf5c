#include "support/dxt5_decode.h"

#include <algorithm>

namespace {

void expand565(int color, int out[3]) {
    const int r = (color >> 11) & 31, g = (color >> 5) & 63, b = color & 31;
    out[0] = (r << 3) | (r >> 2);
    out[1] = (g << 2) | (g >> 4);
    out[2] = (b << 3) | (b >> 2);
}

} // namespace

void decodeDxt5Block(const uint8_t* block, uint8_t* rgba) {
    int alphas[8];
    alphas[0] = block[0];
    alphas[1] = block[1];
    if (alphas[0] > alphas[1]) {
        for (int k = 2; k < 8; ++k)
            alphas[k] = ((8 - k) * alphas[0] + (k - 1) * alphas[1]) / 7;
    } else {
        for (int k = 2; k < 6; ++k)
            alphas[k] = ((6 - k) * alphas[0] + (k - 1) * alphas[1]) / 5;
        alphas[6] = 0;
        alphas[7] = 255;
    }
    uint64_t alphaBits = 0;
    for (int i = 0; i < 6; ++i)
        alphaBits |= uint64_t(block[2 + i]) << (8 * i);

    const int c0 = block[8] | (block[9] << 8), c1 = block[10] | (block[11] << 8);
    int colors[4][3];
    expand565(c0, colors[0]);
    expand565(c1, colors[1]);
    for (int c = 0; c < 3; ++c) {
        if (c0 > c1) {
            colors[2][c] = (2 * colors[0][c] + colors[1][c]) / 3;
            colors[3][c] = (colors[0][c] + 2 * colors[1][c]) / 3;
        } else {
            colors[2][c] = (colors[0][c] + colors[1][c]) / 2;
            colors[3][c] = 0;
        }
    }
    const uint32_t indices = uint32_t(block[12]) | uint32_t(block[13]) << 8 |
                             uint32_t(block[14]) << 16 | uint32_t(block[15]) << 24;
    for (int i = 0; i < 16; ++i) {
        const int* color = colors[(indices >> (2 * i)) & 3];
        for (int c = 0; c < 3; ++c)
            rgba[i * 4 + c] = uint8_t(color[c]);
        rgba[i * 4 + 3] = uint8_t(alphas[(alphaBits >> (3 * i)) & 7]);
    }
}

void decodeDxt5(const uint8_t* blocks, int32_t width, int32_t height, uint8_t* rgba) {
    uint8_t pixels[64];
    for (int32_t by = 0; by < height; by += 4) {
        for (int32_t bx = 0; bx < width; bx += 4) {
            decodeDxt5Block(blocks, pixels);
            blocks += 16;
            for (int32_t y = 0; y < 4 && by + y < height; ++y)
                for (int32_t x = 0; x < 4 && bx + x < width; ++x)
                    std::copy_n(pixels + (y * 4 + x) * 4, 4,
                                rgba + (size_t(by + y) * size_t(width) + size_t(bx + x)) * 4);
        }
    }
}

Dxt5Error dxt5Error(const uint8_t* a, const uint8_t* b, size_t count) {
    Dxt5Error error;
    for (size_t i = 0; i < count * 4; ++i) {
        const double d = double(a[i]) - double(b[i]);
        (i % 4 == 3 ? error.alphaSquares : error.colorSquares) += d * d;
    }
    return error;
}
