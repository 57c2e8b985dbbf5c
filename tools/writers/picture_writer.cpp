// Picture helpers: libjpeg output, an anti-aliased float canvas, tileable value noise.
#include "writers/picture_writer.h"

#include "image/png_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace pictures {

std::vector<uint8_t> encodeJpeg(int width, int height, const std::vector<uint8_t>& rgba,
                                int quality, bool optimizeCoding) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = optimizeCoding ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src = rgba.data() + size_t(cinfo.next_scanline) * size_t(width) * 4;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[size_t(x) * 3 + c] = src[size_t(x) * 4 + c];
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

bool writeJpeg(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
               int quality) {
    const std::vector<uint8_t> bytes = encodeJpeg(width, height, rgba, quality);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Color mix(const Color& a, const Color& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

Canvas::Canvas(int w, int h, Color fill)
    : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}

void blendPixel(Canvas& canvas, int x, int y, const Color& color, float coverage) {
    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
    const float a = std::clamp(coverage, 0.0f, 1.0f) * color.a;
    if (a <= 0) return;
    Color& d = canvas.at(x, y);
    const float outA = a + d.a * (1 - a);
    if (outA <= 0) return;
    d.r = (color.r * a + d.r * d.a * (1 - a)) / outA;
    d.g = (color.g * a + d.g * d.a * (1 - a)) / outA;
    d.b = (color.b * a + d.b * d.a * (1 - a)) / outA;
    d.a = outA;
}

namespace {

// Coverage from a signed distance (negative inside), about one pixel of smoothing.
float coverageOf(float distance) {
    return std::clamp(0.5f - distance, 0.0f, 1.0f);
}

template <typename Distance>
void fillShape(Canvas& canvas, float x0, float y0, float x1, float y1, const Color& color,
               Distance distance) {
    const int ix0 = std::max(0, int(std::floor(x0)) - 1);
    const int iy0 = std::max(0, int(std::floor(y0)) - 1);
    const int ix1 = std::min(canvas.width - 1, int(std::ceil(x1)) + 1);
    const int iy1 = std::min(canvas.height - 1, int(std::ceil(y1)) + 1);
    for (int y = iy0; y <= iy1; ++y)
        for (int x = ix0; x <= ix1; ++x) {
            const float c = coverageOf(distance(float(x) + 0.5f, float(y) + 0.5f));
            if (c > 0) blendPixel(canvas, x, y, color, c);
        }
}

} // namespace

void fillDisc(Canvas& canvas, float cx, float cy, float radius, const Color& color) {
    fillShape(canvas, cx - radius, cy - radius, cx + radius, cy + radius, color,
              [&](float x, float y) { return std::hypot(x - cx, y - cy) - radius; });
}

void fillCapsule(Canvas& canvas, float x0, float y0, float x1, float y1, float radius,
                 const Color& color) {
    const float dx = x1 - x0, dy = y1 - y0;
    const float len2 = std::max(dx * dx + dy * dy, 1e-6f);
    fillShape(canvas, std::min(x0, x1) - radius, std::min(y0, y1) - radius,
              std::max(x0, x1) + radius, std::max(y0, y1) + radius, color, [&](float x, float y) {
                  const float t = std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0f, 1.0f);
                  return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)) - radius;
              });
}

void fillRoundedRect(Canvas& canvas, float x0, float y0, float x1, float y1, float radius,
                     const Color& color) {
    const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
    const float hx = (x1 - x0) * 0.5f - radius, hy = (y1 - y0) * 0.5f - radius;
    fillShape(canvas, x0, y0, x1, y1, color, [&](float x, float y) {
        const float qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
        return std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) +
               std::min(std::max(qx, qy), 0.0f) - radius;
    });
}

void cutAlpha(Canvas& canvas) {
    constexpr float kClear = 1.0f / 255; // alpha byte 1: loaders black out pixels of alpha 0
    // A little darker than the neighbours: the gaps between leaves or stalks read as depth,
    // and a thin blade keeps an edge once the mipmaps blur it.
    constexpr float kClearShade = 0.75f;
    const int w = canvas.width, h = canvas.height;
    // 0: no colour yet, 1: opaque or coloured, 2: in the layer being coloured
    std::vector<uint8_t> state(canvas.pixels.size());
    for (size_t i = 0; i < canvas.pixels.size(); ++i) {
        Color& c = canvas.pixels[i];
        c.a = c.a > 0.5f ? 1.0f : 0.0f;
        state[i] = c.a == 1.0f;
    }
    const auto eachNeighbour = [&](int i, auto&& visit) {
        const int x = i % w, y = i / w;
        for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
            for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx)
                if (nx != x || ny != y) visit(ny * w + nx);
    };
    // Layer by layer outward from the opaque pixels, each pixel the mean of its neighbours
    // coloured before its layer, so the result does not depend on the order of a layer.
    std::vector<int> layer, next;
    for (int i = 0; i < w * h; ++i)
        if (state[i] == 1) layer.push_back(i);
    std::vector<Color> colours;
    while (!layer.empty()) {
        next.clear();
        for (int i : layer)
            eachNeighbour(i, [&](int n) {
                if (state[n] != 0) return;
                state[n] = 2;
                next.push_back(n);
            });
        colours.clear();
        for (int i : next) {
            Color sum = {0, 0, 0, 0};
            eachNeighbour(i, [&](int n) {
                if (state[n] != 1) return;
                sum.r += canvas.pixels[size_t(n)].r;
                sum.g += canvas.pixels[size_t(n)].g;
                sum.b += canvas.pixels[size_t(n)].b;
                sum.a += 1;
            });
            colours.push_back({sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, kClear});
        }
        for (size_t k = 0; k < next.size(); ++k) {
            canvas.pixels[size_t(next[k])] = colours[k];
            state[size_t(next[k])] = 1;
        }
        layer.swap(next);
    }
    for (Color& c : canvas.pixels)
        if (c.a == kClear) {
            c.r *= kClearShade;
            c.g *= kClearShade;
            c.b *= kClearShade;
        }
}

std::vector<uint8_t> toRgba8(const Canvas& canvas) {
    std::vector<uint8_t> out(canvas.pixels.size() * 4);
    auto byte = [](float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    for (size_t i = 0; i < canvas.pixels.size(); ++i) {
        const Color& c = canvas.pixels[i];
        out[i * 4 + 0] = byte(c.r);
        out[i * 4 + 1] = byte(c.g);
        out[i * 4 + 2] = byte(c.b);
        out[i * 4 + 3] = byte(c.a);
    }
    return out;
}

bool writePng(const std::string& path, const Canvas& canvas) {
    const std::vector<uint8_t> rgba = toRgba8(canvas);
    return writePngRgba(path.c_str(), canvas.width, canvas.height, rgba.data());
}

bool writeJpeg(const std::string& path, const Canvas& canvas, int quality) {
    return writeJpeg(path, canvas.width, canvas.height, toRgba8(canvas), quality);
}

namespace {

float lattice(int x, int y, int period, uint32_t seed) {
    x = ((x % period) + period) % period;
    y = ((y % period) + period) % period;
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return float(h & 0xffffff) / 16777215.0f;
}

float smooth(float t) {
    return t * t * (3 - 2 * t);
}

} // namespace

float valueNoise(float x, float y, int period, uint32_t seed) {
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    const float fx = smooth(x - float(ix)), fy = smooth(y - float(iy));
    const float a = lattice(ix, iy, period, seed), b = lattice(ix + 1, iy, period, seed);
    const float c = lattice(ix, iy + 1, period, seed), d = lattice(ix + 1, iy + 1, period, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

float fractalNoise(float x, float y, int period, int octaves, uint32_t seed) {
    float sum = 0, weight = 1, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += valueNoise(x, y, period, seed + uint32_t(o) * 101u) * weight;
        total += weight;
        weight *= 0.5f;
        x *= 2;
        y *= 2;
        period *= 2;
    }
    return sum / total;
}

} // namespace pictures
