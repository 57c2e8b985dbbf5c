#include "image/dxt_compress.h"

#include <algorithm>
#include <cstring> // stb_dxt uses memcpy without including it

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace {

// stb's alpha half for a block of one alpha value: both endpoints that value, every index 1
// (the second endpoint). Opaque pictures are all such blocks, and stb's general search over
// them took a quarter of the compression time.
void writeUniformAlphaBlock(uint8_t alpha, uint8_t* out) {
    static const uint8_t kIndicesAllOne[6] = {0x49, 0x92, 0x24, 0x49, 0x92, 0x24};
    out[0] = alpha;
    out[1] = alpha;
    std::memcpy(out + 2, kIndicesAllOne, sizeof kIndicesAllOne);
}

} // namespace

size_t dxt5Bytes(int32_t width, int32_t height) {
    return size_t((width + 3) / 4) * size_t((height + 3) / 4) * 16;
}

void compressDxt5(const uint8_t* rgba, int32_t width, int32_t height, uint8_t* blocks) {
    uint8_t block[16 * 4];
    for (int32_t by = 0; by < height; by += 4) {
        for (int32_t bx = 0; bx < width; bx += 4) {
            if (bx + 4 <= width && by + 4 <= height) {
                for (int32_t y = 0; y < 4; ++y)
                    std::memcpy(block + y * 16,
                                rgba + (size_t(by + y) * size_t(width) + size_t(bx)) * 4, 16);
            } else {
                for (int32_t y = 0; y < 4; ++y) {
                    const int32_t sy = std::min(by + y, height - 1);
                    for (int32_t x = 0; x < 4; ++x) {
                        const int32_t sx = std::min(bx + x, width - 1);
                        std::memcpy(block + (y * 4 + x) * 4,
                                    rgba + (size_t(sy) * size_t(width) + size_t(sx)) * 4, 4);
                    }
                }
            }
            const uint8_t alpha = block[3];
            bool uniformAlpha = true;
            for (int i = 1; i < 16; ++i)
                uniformAlpha = uniformAlpha && block[i * 4 + 3] == alpha;
            if (uniformAlpha) {
                // The colour half as stb makes it: from the block with alpha set opaque.
                writeUniformAlphaBlock(alpha, blocks);
                for (int i = 0; i < 16; ++i)
                    block[i * 4 + 3] = 255;
                stb_compress_dxt_block(blocks + 8, block, 0, STB_DXT_NORMAL);
            } else {
                stb_compress_dxt_block(blocks, block, 1, STB_DXT_NORMAL);
            }
            blocks += 16;
        }
    }
}
