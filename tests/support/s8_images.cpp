#include "support/s8_images.h"

#include "image/png_writer.h"

#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Pixels = std::vector<uint8_t>;

void put(Pixels& p, int width, int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint8_t* q = &p[(static_cast<size_t>(y) * width + x) * 4];
    q[0] = r;
    q[1] = g;
    q[2] = b;
    q[3] = a;
}

// Bright centre falling to about 60% in the corners.
Pixels lampImage(int side) {
    Pixels p(static_cast<size_t>(side) * side * 4);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const float dx = (x + 0.5f) / side - 0.5f, dy = (y + 0.5f) / side - 0.5f;
            const float v = 1.0f - 0.8f * (dx * dx + dy * dy);
            const uint8_t c = static_cast<uint8_t>(255.0f * v);
            put(p, side, x, y, c, static_cast<uint8_t>(c * 0.96f), static_cast<uint8_t>(c * 0.85f),
                255);
        }
    return p;
}

// Dark film base; rounded light holes every 64 pixels along the middle of the strip.
Pixels borderImage(int width, int height) {
    Pixels p(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float hx = static_cast<float>(x % 64) - 32.0f, hy = y - height * 0.5f + 0.5f;
            const bool hole = std::fabs(hx) < 12.0f && std::fabs(hy) < height * 0.3f;
            if (hole)
                put(p, width, x, y, 235, 230, 215, 255);
            else
                put(p, width, x, y, 40, 34, 28, 255);
        }
    return p;
}

Pixels signImage(int side) {
    Pixels p(static_cast<size_t>(side) * side * 4);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const bool ring = std::abs(x - side / 2) + std::abs(y - side / 2) < side / 3;
            put(p, side, x, y, ring ? 255 : 0, ring ? 200 : 0, 0, ring ? 255 : 0);
        }
    return p;
}

// Sixteen cells, each a dark blob of its own shape, transparent around it.
Pixels dirtAtlas(int side) {
    Pixels p(static_cast<size_t>(side) * side * 4);
    const int cell = side / 4;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int index = (y / cell) * 4 + x / cell;
            const float cx = (x % cell) + 0.5f - cell * 0.5f;
            const float cy = (y % cell) + 0.5f - cell * 0.5f;
            const float stretch = 1.0f + (index % 4) * 0.6f;
            const float r = std::sqrt(cx * cx * stretch + cy * cy / stretch) / (cell * 0.4f);
            const bool inside = r < 1.0f - 0.03f * (index % 5);
            put(p, side, x, y, 12, 10, 8, inside ? 230 : 0);
        }
    return p;
}

bool skipped(const std::string& skip, const char* name) {
    return (" " + skip + " ").find(std::string(" ") + name + " ") != std::string::npos;
}

} // namespace

bool writeJpegRgba(const char* path, int width, int height, const uint8_t* rgba, int quality) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    while (info.next_scanline < info.image_height) {
        const uint8_t* src = rgba + static_cast<size_t>(info.next_scanline) * width * 4;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = src[x * 4 + c];
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

std::string makeTempDirectory() {
    char pattern[] = "/tmp/quilm-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? std::string(made) : std::string();
}

bool writeSuper8TestImages(const std::string& directory, const std::string& skip) {
    bool ok = true;
    if (!skipped(skip, "s8_lamp.jpg")) {
        const Pixels lamp = lampImage(128);
        ok &= writeJpegRgba((directory + "/s8_lamp.jpg").c_str(), 128, 128, lamp.data(), 90);
    }
    if (!skipped(skip, "s8_border.png")) {
        const Pixels border = borderImage(512, 32);
        ok &= writePngRgba((directory + "/s8_border.png").c_str(), 512, 32, border.data());
    }
    if (!skipped(skip, "s8_sign.png")) {
        const Pixels sign = signImage(64);
        ok &= writePngRgba((directory + "/s8_sign.png").c_str(), 64, 64, sign.data());
    }
    if (!skipped(skip, "s8_drek.png")) {
        const Pixels dirt = dirtAtlas(256);
        ok &= writePngRgba((directory + "/s8_drek.png").c_str(), 256, 256, dirt.data());
    }
    return ok;
}
