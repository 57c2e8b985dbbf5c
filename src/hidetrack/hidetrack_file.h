// Reading and writing hidetrack (.hid) files: the header checks against the scene, one
// visibility bitset per object, and the bit addressing both sides share. No OpenGL (the
// visibility pass that fills the bits is hidetrack_generate.h). Each loaded object owns its
// hideBits (new[]), released with the scene; the writer only reads the blocks it is given.
#pragma once

#include "scene/scene.h"

#include <cstdint>
#include <zlib.h>

// All objects' blocks together may hold at most this; a larger track is refused with one line
// before anything is allocated (100 objects, 5 cameras and an hour need 6.8 MB).
constexpr int64_t kHidetrackMaxBytes = int64_t(256) << 20;

// Samples per camera row for a time range at a sample rate: 1 + the integer part of
// (end − start) ÷ (1 ÷ rate rounded to single precision), the division in double precision.
// The writer and the reader must agree on it bit for bit.
int64_t hidetrackFrameCount(float timeStart, float timeEnd, int32_t sampleRate);

// Bytes of one object's block: cameras × (frames div 8 + 1).
int64_t hidetrackBlockBytes(int32_t cameraCount, int64_t frameCount);

// Reads a track from an open gzip-transparent stream and gives every object its bits. False
// for a null stream, and with one log line for a track that does not fit the scene, that
// ends early, that cannot be read (a folder) or whose gzip checks fail (read one byte past
// the track to make zlib check them); then no object gets bits. The caller closes the stream.
bool loadHidetrack(Scene& scene, gzFile stream);

// The seven header fields, in file order.
struct HidetrackHeader {
    int32_t objectCount = 0;
    int32_t cameraCount = 0;
    float timeStart = 0.0f;
    float timeEnd = 0.0f;
    int32_t sampleRate = 0;
    int32_t frameCount = 0;
    int32_t rowBits = 0; // samples stepped for the last camera
};

// Sets bit j of a block (bit j mod 8 of byte j div 8). A bit past the block is not written:
// returns false for it.
bool setHidetrackBit(uint8_t* block, int64_t blockBytes, int64_t bit);

// Writes the header and objectCount blocks of hidetrackBlockBytes(cameraCount, frameCount)
// bytes each, plain, to path ("wb"). False with one log line when the file cannot be created
// or a write fails (the loader refuses what a failed write leaves behind: it ends early).
bool writeHidetrackFile(const char* path, const HidetrackHeader& header,
                        const uint8_t* const* blocks);
