// Logos. Every texture is 1024 x 512 (powers of two for the mipmap chain) and is stretched onto
// a box of another shape on screen, so glyphs are set with separate horizontal and vertical
// sizes that undo the stretch; sizes below are in screen pixels at 1024 x 768.
#include "content/logos.h"

#include "image/png_writer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kLogoWidth = 1024;
constexpr int kLogoHeight = 512;
constexpr float kScreenHalfWidth = 512.0f; // a 1024 x 768 screen: NDC unit in pixels
constexpr float kScreenHalfHeight = 384.0f;
constexpr int kMaxLines = 3;
constexpr float kMargin = 0.06f;       // share of the texture kept free for outline and shadow
constexpr float kOutlinePx = 4.0f;     // outline radius on screen
constexpr float kShadowOffsetX = 3.0f; // shadow offset on screen, down and right
constexpr float kShadowOffsetY = 5.0f;
constexpr int kShadowBlurPasses = 3; // box blurs, close to a Gaussian
constexpr float kShadowBlurPx = 4.0f;

struct Rgb {
    float r, g, b;
};
constexpr Rgb kIvoryTop = {1.0f, 0.97f, 0.89f};
constexpr Rgb kIvoryBottom = {0.92f, 0.83f, 0.64f};
constexpr Rgb kGold = {0.96f, 0.80f, 0.45f};
constexpr Rgb kOutline = {0.07f, 0.055f, 0.04f};
constexpr float kOutlineAlpha = 0.92f;
constexpr float kShadowAlpha = 0.55f;

struct LogoLine {
    const char* text = nullptr;
    const char* font = nullptr; // file in the DejaVu directory
    float sizePx = 0;           // em size on screen
    float trackingEm = 0;       // extra space after every letter
    bool gold = false;          // captions in gold, names in ivory
};

struct LogoLayout {
    DemoLogo logo;             // the file it is written to: kDemoLogoFiles[logo]
    float boxWidth, boxHeight; // the NDC box the demo draws it in
    float gapPx;               // between the ink of two lines, on screen
    LogoLine lines[kMaxLines];
};

constexpr const char* kSerifBold = "DejaVuSerif-Bold.ttf";
constexpr const char* kSerif = "DejaVuSerif.ttf";
constexpr const char* kSans = "DejaVuSans.ttf";

// The group, the title and the three credits (drawn as "logo4", "logo3", "logo2" on the orbit;
// logo4's box is lower, so its lines are set smaller).
const LogoLayout kLayouts[kDemoLogoCount] = {
    {LogoQuilm,
     1.33f,
     1.0f,
     14,
     {{"QUILM", kSerifBold, 150, 0.14f, false}, {"presents", kSans, 34, 0.45f, true}}},
    {Logo1,
     1.33f,
     1.0f,
     16,
     {{"Heartwood", kSerifBold, 118, 0.02f, false},
      {"oak  \xc2\xb7  river  \xc2\xb7  cranes  \xc2\xb7  wings", kSerif, 28, 0.12f, true}}},
    {Logo2,
     1.56f,
     1.2f,
     12,
     {{"code", kSans, 34, 0.40f, true}, {"Birchwick", kSerifBold, 96, 0.02f, false}}},
    {Logo3,
     1.56f,
     1.2f,
     12,
     {{"graphics", kSans, 34, 0.40f, true}, {"Mossgrain", kSerifBold, 96, 0.02f, false}}},
    {Logo4,
     1.56f,
     0.84f,
     10,
     {{"music", kSans, 28, 0.40f, true}, {"Reedwind", kSerifBold, 80, 0.02f, false}}},
};

// Coverage of one line of text, 0..1, tightly around its ink.
struct Coverage {
    int width = 0, height = 0;
    std::vector<float> value;
    float at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0.0f;
        return value[size_t(y) * size_t(width) + size_t(x)];
    }
};

struct FontLibrary {
    FT_Library library = nullptr;
    ~FontLibrary() {
        if (library) FT_Done_FreeType(library);
    }
};

struct FontFace {
    FT_Face face = nullptr;
    ~FontFace() {
        if (face) FT_Done_Face(face);
    }
};

// Decodes one UTF-8 sequence (the layouts use only one- and two-byte ones).
uint32_t nextCodePoint(const char*& s) {
    const auto c = uint8_t(*s++);
    if (c < 0x80 || (c & 0xe0) != 0xc0 || (uint8_t(*s) & 0xc0) != 0x80) return c;
    return (uint32_t(c & 0x1f) << 6) | (uint8_t(*s++) & 0x3f);
}

// Sets the line at xScale/yScale texels per screen pixel and crops it to its ink.
bool renderLine(FT_Library library, const std::string& fontDir, const LogoLine& line, float xScale,
                float yScale, Coverage* out) {
    const std::string path = fontDir + "/" + line.font;
    FontFace font;
    if (FT_New_Face(library, path.c_str(), 0, &font.face) != 0) {
        std::fprintf(stderr, "logos: cannot load font %s (install fonts-dejavu-core)\n",
                     path.c_str());
        return false;
    }
    const float emX = line.sizePx * xScale, emY = line.sizePx * yScale;
    FT_Set_Char_Size(font.face, FT_F26Dot6(std::lround(emX * 64)),
                     FT_F26Dot6(std::lround(emY * 64)), 72, 72);
    const int ascent = int(font.face->size->metrics.ascender >> 6) + 2;
    const int descent = int(-font.face->size->metrics.descender >> 6) + 2;
    // Generous scratch buffer; the ink box crops it afterwards.
    Coverage scratch;
    scratch.height = ascent + descent;
    scratch.width = int(emX * (1.5f + line.trackingEm) * float(std::strlen(line.text))) + 64;
    scratch.value.assign(size_t(scratch.width) * size_t(scratch.height), 0.0f);
    const bool kerning = FT_HAS_KERNING(font.face);
    float penX = 16;
    FT_UInt previous = 0;
    for (const char* s = line.text; *s;) {
        const FT_UInt glyph = FT_Get_Char_Index(font.face, nextCodePoint(s));
        if (kerning && previous && glyph) {
            FT_Vector delta;
            FT_Get_Kerning(font.face, previous, glyph, FT_KERNING_DEFAULT, &delta);
            penX += float(delta.x) / 64.0f;
        }
        if (FT_Load_Glyph(font.face, glyph, FT_LOAD_NO_HINTING | FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot slot = font.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int left = int(std::lround(penX)) + slot->bitmap_left;
        const int top = ascent - slot->bitmap_top;
        for (int y = 0; y < int(bitmap.rows); ++y)
            for (int x = 0; x < int(bitmap.width); ++x) {
                const int tx = left + x, ty = top + y;
                if (tx < 0 || ty < 0 || tx >= scratch.width || ty >= scratch.height) continue;
                float& v = scratch.value[size_t(ty) * size_t(scratch.width) + size_t(tx)];
                const float c = float(bitmap.buffer[y * bitmap.pitch + x]) / 255.0f;
                v = std::min(1.0f, v + c);
            }
        penX += float(slot->advance.x) / 64.0f + line.trackingEm * emX;
        previous = glyph;
    }
    int x0 = scratch.width, y0 = scratch.height, x1 = -1, y1 = -1;
    for (int y = 0; y < scratch.height; ++y)
        for (int x = 0; x < scratch.width; ++x)
            if (scratch.at(x, y) > 0.0f) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    out->width = std::max(0, x1 - x0 + 1);
    out->height = std::max(0, y1 - y0 + 1);
    out->value.assign(size_t(out->width) * size_t(out->height), 0.0f);
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x)
            out->value[size_t(y) * size_t(out->width) + size_t(x)] = scratch.at(x0 + x, y0 + y);
    return true;
}

// Soft dilation: the largest coverage within an elliptical radius (radius in screen pixels).
std::vector<float> dilate(const std::vector<float>& src, float radius, float xScale, float yScale) {
    const int rx = int(std::ceil((radius + 1) * xScale)),
              ry = int(std::ceil((radius + 1) * yScale));
    struct Tap {
        int dx, dy;
        float weight;
    };
    std::vector<Tap> taps;
    for (int dy = -ry; dy <= ry; ++dy)
        for (int dx = -rx; dx <= rx; ++dx) {
            const float ex = float(dx) / xScale, ey = float(dy) / yScale;
            const float w = std::clamp(radius + 0.5f - std::sqrt(ex * ex + ey * ey), 0.0f, 1.0f);
            if (w > 0.0f) taps.push_back({dx, dy, w});
        }
    std::vector<float> out(src.size(), 0.0f);
    for (int y = 0; y < kLogoHeight; ++y)
        for (int x = 0; x < kLogoWidth; ++x) {
            float best = 0.0f;
            for (const Tap& tap : taps) {
                const int sx = x + tap.dx, sy = y + tap.dy;
                if (sx < 0 || sy < 0 || sx >= kLogoWidth || sy >= kLogoHeight) continue;
                best = std::max(best, src[size_t(sy) * kLogoWidth + size_t(sx)] * tap.weight);
            }
            out[size_t(y) * kLogoWidth + size_t(x)] = best;
        }
    return out;
}

// One box blur along x (dx = 1) or y, radius r texels, edges treated as empty.
void boxBlur(std::vector<float>& v, int r, bool alongX) {
    std::vector<float> out(v.size());
    const int n = alongX ? kLogoWidth : kLogoHeight, lines = alongX ? kLogoHeight : kLogoWidth;
    const auto index = [&](int line, int i) {
        return alongX ? size_t(line) * kLogoWidth + size_t(i)
                      : size_t(i) * kLogoWidth + size_t(line);
    };
    for (int line = 0; line < lines; ++line) {
        float sum = 0;
        for (int i = -r; i < n + r; ++i) {
            if (i + r < n) sum += v[index(line, i + r)];
            if (i - r - 1 >= 0) sum -= v[index(line, i - r - 1)];
            if (i >= 0 && i < n) out[index(line, i)] = sum / float(2 * r + 1);
        }
    }
    v.swap(out);
}

} // namespace

const char* demoLogoFileName(int index) {
    return index >= 0 && index < kDemoLogoCount ? kDemoLogoFiles[kLayouts[index].logo] : "";
}

bool renderDemoLogo(int index, const std::string& fontDir, LogoImage* out) {
    if (index < 0 || index >= kDemoLogoCount) return false;
    const LogoLayout& layout = kLayouts[index];
    const float xScale = float(kLogoWidth) / (layout.boxWidth * kScreenHalfWidth);
    const float yScale = float(kLogoHeight) / (layout.boxHeight * kScreenHalfHeight);

    FontLibrary fonts;
    if (FT_Init_FreeType(&fonts.library) != 0) {
        std::fprintf(stderr, "logos: FreeType does not start\n");
        return false;
    }
    // Set the lines; when the block would not fit, set them again smaller (no resampling).
    Coverage lines[kMaxLines];
    int lineCount = 0;
    float fit = 1.0f, gap = 0, blockH = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        lineCount = 0;
        for (const LogoLine& line : layout.lines) {
            if (!line.text) break;
            if (!renderLine(fonts.library, fontDir, line, xScale * fit, yScale * fit,
                            &lines[lineCount]))
                return false;
            ++lineCount;
        }
        gap = layout.gapPx * yScale * fit;
        float blockW = 0;
        blockH = gap * float(lineCount - 1);
        for (int i = 0; i < lineCount; ++i) {
            blockW = std::max(blockW, float(lines[i].width));
            blockH += float(lines[i].height);
        }
        const float fitW = kLogoWidth * (1 - 2 * kMargin), fitH = kLogoHeight * (1 - 2 * kMargin);
        const float shrink =
            std::min({fitW / std::max(blockW, 1.0f), fitH / std::max(blockH, 1.0f)});
        if (shrink >= 1.0f) break;
        fit *= shrink * 0.99f;
    }

    std::vector<float> fillAlpha(size_t(kLogoWidth) * kLogoHeight, 0.0f);
    std::vector<Rgb> fillColor(fillAlpha.size(), kIvoryTop);
    float top = std::round((kLogoHeight - blockH) * 0.5f);
    for (int i = 0; i < lineCount; ++i) {
        const Coverage& c = lines[i];
        const int left = (kLogoWidth - c.width) / 2, y0 = int(top);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const float cov = c.at(x, y);
                const int tx = left + x, ty = y0 + y;
                if (cov <= 0.0f || tx < 0 || ty < 0 || tx >= kLogoWidth || ty >= kLogoHeight)
                    continue;
                const size_t p = size_t(ty) * kLogoWidth + size_t(tx);
                fillAlpha[p] = std::max(fillAlpha[p], cov);
                const float g = float(y) / float(std::max(c.height - 1, 1));
                fillColor[p] = layout.lines[i].gold
                                   ? kGold
                                   : Rgb{kIvoryTop.r + (kIvoryBottom.r - kIvoryTop.r) * g,
                                         kIvoryTop.g + (kIvoryBottom.g - kIvoryTop.g) * g,
                                         kIvoryTop.b + (kIvoryBottom.b - kIvoryTop.b) * g};
            }
        top += float(c.height) + gap;
    }

    const std::vector<float> outline = dilate(fillAlpha, kOutlinePx, xScale, yScale);
    std::vector<float> shadow(outline.size(), 0.0f);
    const int offX = int(std::lround(kShadowOffsetX * xScale));
    const int offY = int(std::lround(kShadowOffsetY * yScale));
    for (int y = 0; y < kLogoHeight; ++y)
        for (int x = 0; x < kLogoWidth; ++x) {
            const int sx = x - offX, sy = y - offY;
            if (sx >= 0 && sy >= 0 && sx < kLogoWidth && sy < kLogoHeight)
                shadow[size_t(y) * kLogoWidth + size_t(x)] =
                    outline[size_t(sy) * kLogoWidth + size_t(sx)];
        }
    for (int pass = 0; pass < kShadowBlurPasses; ++pass) {
        boxBlur(shadow, int(std::lround(kShadowBlurPx * xScale)), true);
        boxBlur(shadow, int(std::lround(kShadowBlurPx * yScale)), false);
    }

    // Shadow, then outline, then letters, each composited "over" in straight alpha.
    out->width = kLogoWidth;
    out->height = kLogoHeight;
    out->rgba.assign(size_t(kLogoWidth) * kLogoHeight * 4, 0);
    for (size_t p = 0; p < fillAlpha.size(); ++p) {
        float r = 0, g = 0, b = 0, a = 0; // premultiplied
        const auto over = [&](Rgb c, float alpha) {
            r = c.r * alpha + r * (1 - alpha);
            g = c.g * alpha + g * (1 - alpha);
            b = c.b * alpha + b * (1 - alpha);
            a = alpha + a * (1 - alpha);
        };
        over({0, 0, 0}, shadow[p] * kShadowAlpha);
        over(kOutline, outline[p] * kOutlineAlpha);
        over(fillColor[p], fillAlpha[p]);
        uint8_t* px = &out->rgba[p * 4];
        if (a > 0.0f) {
            px[0] = uint8_t(std::lround(std::clamp(r / a, 0.0f, 1.0f) * 255));
            px[1] = uint8_t(std::lround(std::clamp(g / a, 0.0f, 1.0f) * 255));
            px[2] = uint8_t(std::lround(std::clamp(b / a, 0.0f, 1.0f) * 255));
        }
        px[3] = uint8_t(std::lround(std::clamp(a, 0.0f, 1.0f) * 255));
    }
    return true;
}

bool writeDemoLogos(const std::string& dir, const std::string& fontDir) {
    for (int i = 0; i < kDemoLogoCount; ++i) {
        LogoImage logo;
        if (!renderDemoLogo(i, fontDir, &logo)) return false;
        const std::string path = dir + "/" + demoLogoFileName(i);
        if (!writePngRgba(path.c_str(), logo.width, logo.height, logo.rgba.data())) return false;
    }
    return true;
}

bool writeDemoLogos(const std::string& dir) {
    return writeDemoLogos(dir, kDejaVuDir);
}
