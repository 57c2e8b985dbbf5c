// The DXT5 compressor against stb_dxt's (principal axis, one refinement), block for block on
// the same levels: every picture of a data folder with its mipmaps, as loading compresses
// them. Time (processor, median of repetitions) and what each loses: RMS error of the colour
// channels and of alpha after decoding, over all pixels, and the share of blocks where ours
// is worse than stb's by more than 8 in summed squared error per pixel. Also ours over whole
// levels, as loading compresses them.
//   bench_dxt_compress [DATA_DIR, default data] [repetitions, default 5]
#include "bench_timing.h"
#include "image/dxt_compress.h"
#include "image/texture.h"
#include "support/dxt5_decode.h"

#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace {

struct Level {
    int32_t width, height;
    std::vector<uint8_t> rgba;
};

// 4 x 4 blocks of a level, padded at the edges as the compressor pads.
std::vector<uint8_t> blocksOf(const Level& level) {
    std::vector<uint8_t> out;
    for (int32_t by = 0; by < level.height; by += 4)
        for (int32_t bx = 0; bx < level.width; bx += 4)
            for (int32_t y = 0; y < 4; ++y)
                for (int32_t x = 0; x < 4; ++x) {
                    const int32_t sx = std::min(bx + x, level.width - 1);
                    const int32_t sy = std::min(by + y, level.height - 1);
                    const uint8_t* p = &level.rgba[(size_t(sy) * level.width + sx) * 4];
                    out.insert(out.end(), p, p + 4);
                }
    return out;
}

void compressStb(const std::vector<uint8_t>& blocks, uint8_t* out) {
    for (size_t i = 0; i < blocks.size() / 64; ++i)
        stb_compress_dxt_block(out + i * 16, &blocks[i * 64], 1, STB_DXT_NORMAL);
}

void compressOurs(const std::vector<uint8_t>& blocks, uint8_t* out) {
    for (size_t i = 0; i < blocks.size() / 64; ++i)
        compressDxt5Block(&blocks[i * 64], out + i * 16);
}

bool isPicture(const char* name) {
    const size_t n = std::strlen(name);
    return n > 4 &&
           (std::strcmp(name + n - 4, ".png") == 0 || std::strcmp(name + n - 4, ".jpg") == 0 ||
            std::strcmp(name + n - 4, ".qw2") == 0);
}

} // namespace

int main(int argc, char** argv) {
    const char* data = argc > 1 ? argv[1] : "data";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (chdir(data) != 0) {
        std::fprintf(stderr, "no folder %s\n", data);
        return 1;
    }
    std::vector<std::string> names;
    if (DIR* dir = opendir(".")) {
        while (dirent* entry = readdir(dir))
            if (isPicture(entry->d_name)) names.push_back(entry->d_name);
        closedir(dir);
    }
    std::vector<uint8_t> blocks; // every block of every level, 64 bytes each
    std::vector<Level> levels;
    size_t pictures = 0;
    for (const std::string& name : names) {
        Texture texture;
        std::vector<char> path(name.begin(), name.end());
        path.push_back('\0');
        if (!loadImageFile(&texture, path.data())) continue;
        ++pictures;
        buildMipmaps(&texture);
        int32_t w = texture.width, h = texture.height;
        for (int32_t i = 0; i <= texture.mipCount; ++i) {
            if (i > 0) {
                w = std::max(1, w / 2);
                h = std::max(1, h / 2);
            }
            const uint8_t* pixels = i == 0 ? texture.pixels : texture.mipLevels[i - 1];
            Level level{w, h, std::vector<uint8_t>(pixels, pixels + size_t(w) * h * 4)};
            const std::vector<uint8_t> b = blocksOf(level);
            blocks.insert(blocks.end(), b.begin(), b.end());
            levels.push_back(std::move(level));
        }
        std::free(texture.pixels);
        for (int32_t i = 0; i < texture.mipCount; ++i)
            std::free(texture.mipLevels[i]);
    }
    const size_t count = blocks.size() / 64;
    std::vector<uint8_t> stbOut(count * 16), ourOut(count * 16);
    const double stbMs = bench::medianMs(repetitions, [&] { compressStb(blocks, stbOut.data()); });
    const double ourMs = bench::medianMs(repetitions, [&] { compressOurs(blocks, ourOut.data()); });
    // As loading calls it: whole levels, where a block repeating the one before is copied.
    std::vector<uint8_t> levelOut(count * 16);
    const double levelMs = bench::medianMs(repetitions, [&] {
        uint8_t* out = levelOut.data();
        for (const Level& level : levels) {
            compressDxt5(level.rgba.data(), level.width, level.height, out);
            out += dxt5Bytes(level.width, level.height);
        }
    });

    Dxt5Error stbError, ourError;
    size_t worseBlocks = 0;
    uint8_t decoded[64];
    for (size_t i = 0; i < count; ++i) {
        decodeDxt5Block(&stbOut[i * 16], decoded);
        const Dxt5Error s = dxt5Error(&blocks[i * 64], decoded, 16);
        decodeDxt5Block(&ourOut[i * 16], decoded);
        const Dxt5Error o = dxt5Error(&blocks[i * 64], decoded, 16);
        stbError.colorSquares += s.colorSquares;
        stbError.alphaSquares += s.alphaSquares;
        ourError.colorSquares += o.colorSquares;
        ourError.alphaSquares += o.alphaSquares;
        if (o.colorSquares + o.alphaSquares > s.colorSquares + s.alphaSquares + 8.0 * 16)
            ++worseBlocks;
    }
    const double pixels = double(count) * 16;
    std::printf("%s: %zu pictures, %zu blocks with mipmaps; %d repetitions, median cpu\n", data,
                pictures, count, repetitions);
    std::printf("  %-6s %9s %8s %12s %12s\n", "", "cpu ms", "ns/block", "rms colour", "rms alpha");
    std::printf("  %-6s %9.1f %8.1f %12.3f %12.3f\n", "stb", stbMs, stbMs * 1e6 / double(count),
                std::sqrt(stbError.colorSquares / (pixels * 3)),
                std::sqrt(stbError.alphaSquares / pixels));
    std::printf("  %-6s %9.1f %8.1f %12.3f %12.3f\n", "ours", ourMs, ourMs * 1e6 / double(count),
                std::sqrt(ourError.colorSquares / (pixels * 3)),
                std::sqrt(ourError.alphaSquares / pixels));
    std::printf("  %-6s %9.1f %8.1f %12s %12s\n", "levels", levelMs, levelMs * 1e6 / double(count),
                levelOut == ourOut ? "same blocks" : "DIFFERENT", "");
    std::printf("  ours/stb: x%.2f the time; %.2f%% of blocks worse by more than 8 per pixel\n",
                ourMs / stbMs, 100.0 * double(worseBlocks) / double(count));
    return 0;
}
