// PNG and JPEG adapters: decode an open stdio stream into a malloc'd buffer of 4-byte pixels
// (blue, green, red, fourth byte), rows from the top down, no gaps. They take ownership of the
// stream and close it exactly once on every path; on failure they return null and leave the
// size untouched. No GL, no messages of their own (the libraries may warn on stderr).
#pragma once

#include <cstdint>
#include <cstdio>

// Larger pictures are refused before anything is allocated: 16 reduced levels cover 65536
// pixels a side, and the pixel count keeps a level within 256 MB.
constexpr int32_t kMaxImageSide = 65536;
constexpr int64_t kMaxImagePixels = int64_t(1) << 26;

// The fourth byte is alpha, 255 where the image has none. Grey pictures come out as colour.
uint8_t* loadPng(FILE* file, int32_t* width, int32_t* height);

// The fourth byte carries no meaning (the texture manager sets it). Grey pictures come out as
// colour; other component counts (CMYK) and files that end early are refused.
uint8_t* loadJpeg(FILE* file, int32_t* width, int32_t* height);

inline bool imageSizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}
