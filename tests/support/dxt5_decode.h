// A plain DXT5 (S3TC) decoder written from the format's definition, for measuring what the
// compressor loses: the tests and the compressor benchmark. Not used by the player (the GL
// driver decodes). The caller owns both buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// One 16-byte block into 64 bytes of RGBA pixels, rows in order.
void decodeDxt5Block(const uint8_t* block, uint8_t* rgba);

// A whole level (dxt5Bytes(width, height) bytes of blocks in row order) into width x height
// RGBA pixels; the padding of partial edge blocks is dropped.
void decodeDxt5(const uint8_t* blocks, int32_t width, int32_t height, uint8_t* rgba);

// Sum of squared differences over the colour channels (rgb) and over alpha of two RGBA
// pictures of count pixels.
struct Dxt5Error {
    double colorSquares = 0.0;
    double alphaSquares = 0.0;
};
Dxt5Error dxt5Error(const uint8_t* a, const uint8_t* b, size_t count);
