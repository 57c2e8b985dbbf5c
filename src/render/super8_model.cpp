#include "render/super8_model.h"

#include "platform/rand.h"

#include <cmath>
#include <cstdint>

namespace {

float randUnit() {
    return static_cast<float>(quilmRand()) / 32767.0f;
}

} // namespace

void initSuper8Tables(Super8Effect* effect) {
    effect->noiseTableSize = kNoiseTableSize;
    for (int32_t i = 0; i < kNoiseTableSize; ++i)
        effect->noiseTable[i] = randUnit();

    float weight = 1.0f, sum = 0.0f;
    for (float& w : effect->octaveWeights) {
        w = weight;
        sum = sum + weight;
        weight = weight * 0.5f;
    }
    effect->noiseNorm = 1.0f / sum;

    effect->dirtCount = 0;
    effect->lastDirtTime = 0.0f;
    effect->scratchCount = kSuper8Scratches;
}

float super8Noise(const Super8Effect* effect, float x) {
    x = std::fabs(x);
    float sum = 0.0f;
    for (int k = 0; k < kNoiseOctaves; ++k) {
        // A 32-bit truncation of a huge or non-finite x would be undefined and could index
        // before the table, so large values go through 64 bits and the rest read cell 0.
        int32_t index = 0;
        float f = 0.0f;
        if (x < 9.0e18f) {
            const int64_t i = static_cast<int64_t>(x);
            f = x - static_cast<float>(i);
            index = static_cast<int32_t>(i % kNoiseTableSize);
        }
        const float a = effect->noiseTable[index];
        const float b = effect->noiseTable[(index + 1) % kNoiseTableSize];
        sum = sum + (a + (b - a) * f) * effect->octaveWeights[k];
        x = x * 0.5f;
    }
    return sum * effect->noiseNorm;
}

void setSuper8Time(Super8Effect* effect, float time) {
    if (effect) effect->time = time;
}

void generateDirt(Super8Effect* effect, float t) {
    int32_t n = static_cast<int32_t>(super8Noise(effect, 10.0f * t) * 20.0f);
    if (n < 0) n = 0;
    if (n > kMaxDirtPerRoll) n = kMaxDirtPerRoll;
    effect->dirtCount = n;
    effect->lastDirtTime = t;
    for (int32_t i = 0; i < n; ++i) {
        DirtSpeck& speck = effect->dirtSpecks[i];
        speck.x = 2.0f * randUnit() - 1.0f;
        speck.y = 2.0f * randUnit() - 1.0f;
        speck.size = randUnit() / 10.0f + 0.05f;
        speck.angle = 360.0f * randUnit();
        speck.cellS = static_cast<float>(quilmRand() & 3) / 4.0f;
        speck.cellT = static_cast<float>(quilmRand() & 3) / 4.0f;
    }
}

bool updateSuper8Dirt(Super8Effect* effect, float t) {
    if (!(t - effect->lastDirtTime > kDirtRollInterval)) return false;
    generateDirt(effect, t);
    return true;
}

Super8Lamp super8Lamp(const Super8Effect* effect, float t) {
    return {super8Noise(effect, 50.0f * t) + 0.4f, super8Noise(effect, 10.0f * t) - 0.4f};
}

Super8Scratch super8Scratch(const Super8Effect* effect, int i, float t) {
    const float g = t + 10.0f * static_cast<float>(i);
    Super8Scratch scratch;
    scratch.width = (super8Noise(effect, 4.0f * g) - 0.5f) * 0.1f;
    scratch.left = super8Noise(effect, 0.8f * g + 23.0f) * 4.0f - 2.0f;
    scratch.brightness = super8Noise(effect, g + 45.0f) * 0.5f;
    scratch.texOffset = super8Noise(effect, g + 547.0f);
    scratch.visible = scratch.width > 0.0f;
    return scratch;
}

Super8Motion super8FrameMotion(const Super8Effect* effect, float t) {
    return {super8Noise(effect, 0.1f * t) * 5.0f - 2.5f,
            super8Noise(effect, 1.1f * t) * 0.2f - 0.1f,
            super8Noise(effect, 7.14f * t) * 0.2f - 0.1f};
}

float super8WideScreenScale(int width, int height, bool wideScreen) {
    if (!wideScreen || height <= 0) return 1.0f;
    const float h = static_cast<float>(height);
    return (static_cast<float>(width) / h) * 0.5625f;
}
