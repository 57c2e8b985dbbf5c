// DXT5 (S3TC) compression of RGBA pixels on the CPU with stb_dxt, so uploads hand the driver
// finished blocks instead of making it compress (Mesa's own compressor is slower). No GL; the
// caller owns both buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of the DXT5 image of a width x height level: 16 per 4 x 4 block, partial blocks whole.
size_t dxt5Bytes(int32_t width, int32_t height);

// Compresses rows-from-the-top RGBA pixels into dxt5Bytes(width, height) bytes of blocks in
// row order. Edge blocks are padded by repeating the last row and column.
void compressDxt5(const uint8_t* rgba, int32_t width, int32_t height, uint8_t* blocks);
