// Reading a hidetrack (.hid) file into a scene: the header checks against the scene and one
// visibility bitset per object. No OpenGL. Each object owns its hideBits (new[]), released with
// the scene. Generation and writing live elsewhere.
#pragma once

#include "scene/scene.h"

#include <cstdint>
#include <zlib.h>

// Samples per camera row for a time range at a sample rate: 1 + the integer part of
// (end − start) ÷ (1 ÷ rate rounded to single precision), the division in double precision.
// The writer and the reader must agree on it bit for bit.
int64_t hidetrackFrameCount(float timeStart, float timeEnd, int32_t sampleRate);

// Bytes of one object's block: cameras × (frames div 8 + 1).
int64_t hidetrackBlockBytes(int32_t cameraCount, int64_t frameCount);

// Reads a track from an open gzip-transparent stream and gives every object its bits. False
// for a null stream, and with one log line for a track that does not fit the scene or that
// ends early; then no object gets bits. The caller closes the stream.
bool loadHidetrack(Scene& scene, gzFile stream);
