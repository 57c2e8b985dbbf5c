#include "image/dxt_compress.h"

#include <algorithm>
#include <cstring> // stb_dxt uses memcpy without including it

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

size_t dxt5Bytes(int32_t width, int32_t height) {
    return size_t((width + 3) / 4) * size_t((height + 3) / 4) * 16;
}

void compressDxt5(const uint8_t* rgba, int32_t width, int32_t height, uint8_t* blocks) {
    uint8_t block[16 * 4];
    for (int32_t by = 0; by < height; by += 4) {
        for (int32_t bx = 0; bx < width; bx += 4) {
            for (int32_t y = 0; y < 4; ++y) {
                const int32_t sy = std::min(by + y, height - 1);
                for (int32_t x = 0; x < 4; ++x) {
                    const int32_t sx = std::min(bx + x, width - 1);
                    std::memcpy(block + (y * 4 + x) * 4,
                                rgba + (size_t(sy) * size_t(width) + size_t(sx)) * 4, 4);
                }
            }
            stb_compress_dxt_block(blocks, block, 1, STB_DXT_NORMAL);
            blocks += 16;
        }
    }
}
