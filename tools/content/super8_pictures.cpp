// Super8 pictures. Layout facts they honour: the border strip's row 0 is the inner edge of
// both bands and its width repeats every 512 screen pixels; dirt specks fill the cells of a
// 4 x 4 atlas, dark, shaped by alpha (the effect halves the alpha again when drawing).
#include "content/super8_pictures.h"

#include "writers/picture_writer.h"

#include <algorithm>
#include <cmath>

namespace pictures {

namespace {

bool writeLamp(const std::string& path) {
    // Bright warm centre, falling off toward the corners, with a faint uneven bulb.
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float nx = (float(x) + 0.5f) / size * 2 - 1,
                        ny = (float(y) + 0.5f) / size * 2 - 1;
            const float r2 = nx * nx + ny * ny;
            float v = 1.0f - 0.22f * r2 - 0.06f * r2 * r2;
            v *= 0.93f + 0.07f * fractalNoise(float(x) / 32, float(y) / 32, 8, 3, 11);
            v = std::clamp(v, 0.0f, 1.0f);
            canvas.at(x, y) = {v, v * 0.95f, v * 0.86f, 1};
        }
    return writeJpeg(path, canvas, 92);
}

bool writeBorder(const std::string& path) {
    const int width = 256, height = 32;
    const Color base = {0.07f, 0.055f, 0.04f, 0.94f};
    Canvas canvas(width, height, base);
    // inner edge (row 0): a soft step from the picture into the film base
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < 4; ++y)
            canvas.at(x, y).a = base.a * (float(y) + 0.5f) / 4.0f;
        // grain along the strip
        for (int y = 4; y < height; ++y) {
            const float g = 0.85f + 0.3f * fractalNoise(float(x) / 4, float(y) / 4, 64, 2, 5);
            Color& c = canvas.at(x, y);
            c.r *= g;
            c.g *= g;
            c.b *= g;
        }
    }
    // two sprocket holes per repeat: light from the lamp shining through
    const Color light = {1.0f, 0.96f, 0.86f, 1.0f};
    for (int hole = 0; hole < 2; ++hole) {
        const float x0 = 44.0f + 128.0f * hole;
        fillRoundedRect(canvas, x0, 11, x0 + 40, 27, 4, light);
    }
    // edge print: small dashes near the outer edge
    const Color print = {0.75f, 0.55f, 0.25f, 0.8f};
    for (int i = 0; i < 6; ++i)
        fillRoundedRect(canvas, 8.0f + 21 * i + (i > 2 ? 128 : 0), 29,
                        14.0f + 21 * i + (i > 2 ? 128 : 0), 31, 0.8f, print);
    return writePng(path, canvas);
}

// A seven-segment digit inside box (x, y, w, h).
void drawDigit(Canvas& canvas, int digit, float x, float y, float w, float h, float thick,
               const Color& color) {
    static const int segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const float xl = x, xr = x + w, yt = y, ym = y + h / 2, yb = y + h;
    const float lines[7][4] = {{xl, yt, xr, yt}, {xr, yt, xr, ym}, {xr, ym, xr, yb},
                               {xl, yb, xr, yb}, {xl, ym, xl, yb}, {xl, yt, xl, ym},
                               {xl, ym, xr, ym}};
    for (int s = 0; s < 7; ++s)
        if (segments[digit] & (1 << s))
            fillCapsule(canvas, lines[s][0], lines[s][1], lines[s][2], lines[s][3], thick, color);
}

bool writeSign(const std::string& path) {
    // A film-leader countdown frame: ring, cross hairs and a big 8.
    const int size = 128;
    Canvas canvas(size, size, {0.12f, 0.12f, 0.12f, 1});
    const Color white = {0.95f, 0.95f, 0.92f, 1}, grey = {0.55f, 0.55f, 0.55f, 1};
    fillDisc(canvas, 64, 64, 58, white);
    fillDisc(canvas, 64, 64, 54, {0.2f, 0.2f, 0.2f, 1});
    fillDisc(canvas, 64, 64, 46, grey);
    fillDisc(canvas, 64, 64, 44, {0.3f, 0.3f, 0.3f, 1});
    fillCapsule(canvas, 4, 64, 124, 64, 1.2f, white);
    fillCapsule(canvas, 64, 4, 64, 124, 1.2f, white);
    drawDigit(canvas, 8, 48, 34, 32, 60, 4.5f, white);
    return writePng(path, canvas);
}

bool writeDirt(const std::string& path) {
    const int size = 256, cell = 64;
    Canvas canvas(size, size, {0, 0, 0, 0});
    const Color dirt = {0.05f, 0.04f, 0.03f, 1};
    Random random(8);
    for (int c = 0; c < 16; ++c) {
        const float ox = float(c % 4) * cell, oy = float(c / 4) * cell;
        const float cx = ox + cell / 2.0f, cy = oy + cell / 2.0f;
        switch (c % 4) {
        case 0: { // blob: overlapping discs
            const int discs = 3 + int(random.uniform() * 4);
            for (int i = 0; i < discs; ++i)
                fillDisc(canvas, cx + random.range(-8, 8), cy + random.range(-8, 8),
                         random.range(3, 9), dirt);
            break;
        }
        case 1: { // hair: a wandering thin line
            float x = ox + random.range(10, 20), y = oy + random.range(10, 54);
            float angle = random.range(-0.6f, 0.6f);
            for (int i = 0; i < 24; ++i) {
                const float nx = std::clamp(x + 2.0f * std::cos(angle), ox + 4, ox + cell - 4);
                const float ny = std::clamp(y + 2.0f * std::sin(angle), oy + 4, oy + cell - 4);
                fillCapsule(canvas, x, y, nx, ny, 0.9f, dirt);
                x = nx;
                y = ny;
                angle += random.range(-0.35f, 0.35f);
            }
            break;
        }
        case 2: { // dust: scattered dots
            const int dots = 8 + int(random.uniform() * 12);
            for (int i = 0; i < dots; ++i)
                fillDisc(canvas, cx + random.range(-24, 24), cy + random.range(-24, 24),
                         random.range(0.7f, 2.2f), dirt);
            break;
        }
        default: { // ring-shaped spot with a faint halo
            fillDisc(canvas, cx, cy, random.range(10, 16), {dirt.r, dirt.g, dirt.b, 0.35f});
            fillDisc(canvas, cx + random.range(-3, 3), cy + random.range(-3, 3), random.range(4, 7),
                     dirt);
            break;
        }
        }
    }
    return writePng(path, canvas);
}

} // namespace

bool writeSuper8Pictures(const std::string& dir, std::string* failedFile) {
    struct Item {
        const char* name;
        bool (*write)(const std::string&);
    };
    const Item items[] = {{"s8_lamp.jpg", writeLamp},
                          {"s8_border.png", writeBorder},
                          {"s8_sign.png", writeSign},
                          {"s8_drek.png", writeDirt}};
    for (const Item& item : items)
        if (!item.write(dir + "/" + item.name)) {
            if (failedFile) *failedFile = item.name;
            return false;
        }
    return true;
}

} // namespace pictures
