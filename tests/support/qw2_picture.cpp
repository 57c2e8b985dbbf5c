#include "support/qw2_picture.h"

#include <algorithm>
#include <cmath>

namespace {

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

// Smooth value noise in [0, 1] on a lattice of the given cell size.
double valueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    auto corner = [&](int cx, int cy) {
        return double(hash(uint32_t(cx) * 73856093u ^ uint32_t(cy) * 19349663u ^ seed) & 0xffff) /
               65535.0;
    };
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double top = corner(ix, iy) + (corner(ix + 1, iy) - corner(ix, iy)) * tx;
    const double bottom = corner(ix, iy + 1) + (corner(ix + 1, iy + 1) - corner(ix, iy + 1)) * tx;
    return top + (bottom - top) * ty;
}

double fractal(double x, double y, uint32_t seed) {
    double sum = 0, amplitude = 0.5;
    for (int octave = 0; octave < 5; ++octave) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(octave) * 101u);
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum;
}

uint8_t clampByte(double v) {
    return uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
}

} // namespace

std::vector<uint8_t> makeQw2TestPicture(int width, int height, uint32_t seed) {
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    const double scale = 1.0 / double(std::max(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = x * scale, v = y * scale;
            // Sky-to-ground light with a warm patch.
            double r = 70 + 120 * v + 40 * std::sin(3.1 * u);
            double g = 110 + 60 * v + 30 * std::cos(2.3 * u + 1.0);
            double b = 190 - 90 * v;
            // Hills: a hard horizon line with grass texture below.
            const double horizon = 0.55 + 0.08 * std::sin(7.0 * u) + 0.04 * std::sin(17.0 * u);
            if (v > horizon) {
                const double grass = fractal(u * 90, v * 90, seed);
                r = 60 + 70 * grass;
                g = 100 + 90 * grass + 40 * (v - horizon);
                b = 40 + 30 * grass;
            }
            // A sun disc with a soft rim, and a few hard-edged blocks (buildings, signs).
            const double du = u - 0.72, dv = v - 0.22;
            const double d = std::sqrt(du * du + dv * dv);
            if (d < 0.09) {
                const double t = std::clamp((0.09 - d) / 0.01, 0.0, 1.0);
                r = r + (250 - r) * t;
                g = g + (220 - g) * t;
                b = b + (120 - b) * t;
            }
            for (int k = 0; k < 5; ++k) {
                const double bx = 0.08 + 0.17 * k, bw = 0.07 + 0.02 * (k % 3);
                const double top = 0.35 + 0.05 * ((k * 7) % 4);
                if (u > bx && u < bx + bw && v > top && v < horizon + 0.1) {
                    const double brick = fractal(u * 200, v * 200, seed + 7u);
                    const bool window =
                        std::fmod(u * 160, 3.0) < 1.2 && std::fmod(v * 160, 4.0) < 1.8;
                    r = 120 + 25 * k + 40 * brick - (window ? 80 : 0);
                    g = 90 + 10 * k + 30 * brick - (window ? 60 : 0);
                    b = 80 + 15 * k + 20 * brick + (window ? 40 : 0);
                }
            }
            // Fine grain everywhere, as a camera would add.
            const double grain =
                (double(hash(uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ seed) & 255) -
                 127.5) /
                127.5;
            r += 4 * grain;
            g += 4 * grain;
            b += 4 * grain;
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = clampByte(r);
            p[1] = clampByte(g);
            p[2] = clampByte(b);
            p[3] = clampByte(255 * std::clamp(1.6 - 2.2 * d, 0.0, 1.0)); // a soft vignette mask
        }
    return pixels;
}

double picturePsnrDb(const uint8_t* a, const uint8_t* b, int width, int height, int channels) {
    double sum = 0;
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i)
        for (int c = 0; c < channels; ++c) {
            const double d = double(a[i * 4 + c]) - double(b[i * 4 + c]);
            sum += d * d;
        }
    if (sum == 0) return 99.0;
    const double mse = sum / (double(width) * double(height) * channels);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}
