// The film effect's record and the maths behind every layer: the noise table, eight-octave
// value noise, lamp flicker, scratches, frame motion, letterbox scale and dirt rolls. No GL
// here (super8.h draws), so all of it is tested without a context. The record is owned by
// whoever created it (createSuper8); it holds texture references, never pixels.
#pragma once

#include <cstdint>

struct Texture;

constexpr int32_t kNoiseTableSize = 65535;
constexpr int kNoiseOctaves = 8;
constexpr int kMaxDirtSpecks = 256; // room; a roll never makes more than 20
constexpr int kMaxDirtPerRoll = 20;
constexpr int kSuper8Scratches = 4;
constexpr float kDirtRollInterval = 0.05f;

// One speck: lower-left corner and edge in normalised device coordinates, turn in degrees,
// and the lower-left texture coordinate of its cell in the 4 x 4 atlas.
struct DirtSpeck {
    float x, y, size, angle, cellS, cellT;
};

struct Super8Effect {
    Texture* lampTexture = nullptr;   // also the scratches' texture
    Texture* borderTexture = nullptr; // film-edge strip
    Texture* signTexture = nullptr;   // loaded, not drawn here
    Texture* dirtTexture = nullptr;   // 4 x 4 atlas of specks
    float time = 0.0f;
    int32_t noiseTableSize = kNoiseTableSize;
    float noiseTable[kNoiseTableSize] = {}; // values in [0, 1]
    float octaveWeights[kNoiseOctaves] = {};
    float noiseNorm = 0.0f; // 1 / sum of octaveWeights
    int32_t dirtCount = 0;
    int32_t scratchCount = kSuper8Scratches;
    float lastDirtTime = 0.0f;
    DirtSpeck dirtSpecks[kMaxDirtSpecks] = {};
};

// Fills the noise table from the next 65535 values of quilmRand (the program's first use of
// the generator, so every run gets the same table), the octave weights, and resets the dirt.
void initSuper8Tables(Super8Effect* effect);

// Eight octaves of linearly interpolated value noise, in [0, 1], even in x.
float super8Noise(const Super8Effect* effect, float x);

void setSuper8Time(Super8Effect* effect, float time);

// Re-rolls the specks: N(10 t) * 20 of them, six generator values each.
void generateDirt(Super8Effect* effect, float t);

// Re-rolls when more than kDirtRollInterval passed since the last roll; true when it did.
bool updateSuper8Dirt(Super8Effect* effect, float t);

// Lamp colour: brightness and alpha before GL clamps them to [0, 1].
struct Super8Lamp {
    float brightness, alpha;
};
Super8Lamp super8Lamp(const Super8Effect* effect, float t);

// Scratch i: a full-height strip from left to left + width, drawn only when width > 0.
struct Super8Scratch {
    bool visible;
    float width, left, brightness, texOffset;
};
Super8Scratch super8Scratch(const Super8Effect* effect, int i, float t);

// The frame's slow turn (degrees about z) and its shake (normalised device units).
struct Super8Motion {
    float angleDegrees, shiftX, shiftY;
};
Super8Motion super8FrameMotion(const Super8Effect* effect, float t);

// Vertical scale that squeezes the frame to 16:9 (1 when wide screen is off).
float super8WideScreenScale(int width, int height, bool wideScreen);
