// A natural-looking test picture made procedurally (smooth light, hard-edged shapes, fine
// texture and a soft alpha), for the codec's tests and benchmarks: there is no picture set.
// Deterministic for a given size and seed; the caller owns the returned pixels.
#pragma once

#include <cstdint>
#include <vector>

// width x height RGBA pixels, rows from the top down.
std::vector<uint8_t> makeQw2TestPicture(int width, int height, uint32_t seed = 1);

// Peak signal-to-noise ratio in dB over the first `channels` bytes of every pixel (3 = RGB,
// 4 = RGBA) of two pictures of the same size; 99 for identical pictures.
double picturePsnrDb(const uint8_t* a, const uint8_t* b, int width, int height, int channels);
