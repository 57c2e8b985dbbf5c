// QW2 decoder: the engine's wavelet image format (per channel an orthonormal wavelet transform
// whose integer coefficients are coded bit-plane by bit-plane with a set-partitioning coder).
// Pure: no files, no GL, no console output (the texture manager logs the outcome). Refuses a
// malformed header without reading outside the data; a short stream just decodes coarser.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kQw2HeaderBytes = 8;
constexpr int kQw2ChannelHeaderBytes = 12; // scale, bit budget, stream byte count
constexpr int kQw2Version = 1;
constexpr int kQw2MaxChannels = 4;
// Larger sides are refused: a few header bytes must not make the decoder claim gigabytes.
constexpr int kQw2MaxSide = 8192;
// Larger files are refused before they are read: far beyond the stream of the largest side.
constexpr long kQw2MaxFileBytes = 256L << 20;
constexpr int kQw2TopThreshold = 16384;

struct Qw2Header {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    int32_t filterKind = 0;
    int32_t version = 0;
};

// Decodes a whole QW2 file of size bytes into width x height pixels of 4 bytes (red, green,
// blue, alpha; rows from the top down). The buffer is malloc'd and the caller frees it with
// free(). Null on a refused file; width and height are set only on success. When reason is
// given it receives a one-line explanation of a refusal (static text, no line break). Working
// memory besides the output: a quarter of the coding square's floats per colour channel with bits
// (never the whole square) and lists in proportion to the streams.
uint8_t* decodeQw2(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                   const char** reason = nullptr);

// Reads and checks the 8-byte header and every channel's fields against size. Null when the
// file is acceptable, else the reason it is refused.
const char* checkQw2File(const uint8_t* data, size_t size, Qw2Header& header);

// Side of the square the channels are coded on: 2 when the larger side is at most 2, else the
// smallest power of two that is at least 4 and at least the larger side.
int qw2SquareSide(int width, int height);

// Working lists of the channel decoder, sized for one square side (allocate once per image).
struct Qw2Lists {
    int side = 0;
    int32_t* insignificantPixels = nullptr; // coefficient indices
    int32_t* insignificantSets = nullptr;   // index * 2 + 1 for kind B (grand-descendants)
    int32_t* significantPixels = nullptr;   // coefficient indices
    int16_t* significantValues = nullptr;   // their values so far: -32768 .. 32767
};
bool createQw2Lists(Qw2Lists& lists, int side);
void destroyQw2Lists(Qw2Lists& lists);

// Decodes one channel's coded stream (byteCount bytes, at most budget bits in sorting) into the
// side x side integer plane of lists.side. Never reads past byteCount bytes.
void decodeQw2Coefficients(const uint8_t* stream, int32_t byteCount, int32_t budget,
                           Qw2Lists& lists, int32_t* plane);

// The same without the plane: returns how many coefficients are not 0; they are
// lists.significantPixels[k] with the values lists.significantValues[k].
int decodeQw2Significant(const uint8_t* stream, int32_t byteCount, int32_t budget, Qw2Lists& lists);

// Decoded YCbCr(+alpha) sample planes -> 4 bytes per pixel, as in the file's colour rules.
void convertQw2Pixels(const float* const* planes, int channels, int side, int width, int height,
                      uint8_t* out);
