// Picture files and procedural picture helpers for content tools: JPEG writing (libjpeg),
// a small RGBA canvas with soft shapes, and smooth value noise. PNG writing is
// writePngRgba (image/png_writer.h). Everything is owned by value; no engine state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pictures {

// RGBA pixels (alpha ignored) as baseline JPEG bytes; optimizeCoding gives the smallest file
// libjpeg makes at that quality.
std::vector<uint8_t> encodeJpeg(int width, int height, const std::vector<uint8_t>& rgba,
                                int quality, bool optimizeCoding = false);
// Writes RGBA pixels (alpha ignored) as a baseline JPEG. False when the file cannot be written.
bool writeJpeg(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
               int quality = 90);

struct Color {
    float r = 0, g = 0, b = 0, a = 1;
};
Color mix(const Color& a, const Color& b, float t);

// Float RGBA canvas, rows from the top down.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<Color> pixels;
    Canvas(int w, int h, Color fill = {});
    Color& at(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    const Color& at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};
// Blends color over the pixel with coverage (0..1) times color.a ("over" compositing).
void blendPixel(Canvas& canvas, int x, int y, const Color& color, float coverage);
// Anti-aliased filled disc and capsule (a thick line with round ends), composited over.
void fillDisc(Canvas& canvas, float cx, float cy, float radius, const Color& color);
void fillCapsule(Canvas& canvas, float x0, float y0, float x1, float y1, float radius,
                 const Color& color);
// Rounded rectangle, anti-aliased.
void fillRoundedRect(Canvas& canvas, float x0, float y0, float x1, float y1, float radius,
                     const Color& color);
// Cuts alpha to 0 or 1 at one half for the alpha test, then gives each transparent pixel the
// colour of the nearest opaque ones, a quarter darker, and alpha byte 1, which the blended
// pass leaves all but invisible. Box-filtered mipmaps and texture filtering mix those colours
// into the visible edges; the loaders turn pixels of alpha 0 black, which would darken a
// distant card into a dull pane. Without an opaque pixel the colours stay and alpha is 0.
void cutAlpha(Canvas& canvas);
std::vector<uint8_t> toRgba8(const Canvas& canvas);
bool writePng(const std::string& path, const Canvas& canvas);
bool writeJpeg(const std::string& path, const Canvas& canvas, int quality = 90);

// Smooth value noise in [0, 1], tileable with the given period (in lattice cells), and its
// fractal sum over octaves (also in [0, 1]).
float valueNoise(float x, float y, int period, uint32_t seed);
float fractalNoise(float x, float y, int period, int octaves, uint32_t seed);

// A small deterministic generator for placing things (not the engine's rand).
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed * 2654435761u + 1) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float uniform() { return float(next() >> 8) / 16777216.0f; }
    float range(float lo, float hi) { return lo + (hi - lo) * uniform(); }
};

} // namespace pictures
