// DXT5 (S3TC) compression of RGBA pixels on the CPU, so uploads hand the driver finished
// blocks instead of making it compress (Mesa's own compressor is slower). Bounding-box end
// points refined with stb_dxt's least squares. No GL, no state: safe on any thread; the caller
// owns both buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of the DXT5 image of a width x height level: 16 per 4 x 4 block, partial blocks whole.
size_t dxt5Bytes(int32_t width, int32_t height);

// One 4 x 4 block of RGBA pixels (64 bytes, rows in order) into 16 bytes: alpha half, then
// colour half with the first colour end point above the second (four-colour mode).
void compressDxt5Block(const uint8_t* rgba, uint8_t* out);

// Compresses rows-from-the-top RGBA pixels into dxt5Bytes(width, height) bytes of blocks in
// row order. Edge blocks are padded by repeating the last row and column.
void compressDxt5(const uint8_t* rgba, int32_t width, int32_t height, uint8_t* blocks);

// Whether a run compresses its textures. A software renderer (Mesa's llvmpipe and softpipe,
// SwiftShader) decodes DXT5 texel by texel and draws slower with it, so there compression is
// left off unless forced. asked: the dialog's box (already off without extensions); renderer:
// the GL renderer string, null when unknown.
enum class DxtChoice { off, on, offOnSoftwareRenderer };
bool isSoftwareRenderer(const char* renderer);
DxtChoice chooseDxt(bool asked, bool forced, const char* renderer);
