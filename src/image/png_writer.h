// Writes 8-bit RGBA pixels (rows from the top down, no gaps) as a PNG file. Used by the
// screenshot option and the content tools; the engine itself never writes images.
#pragma once

#include <cstdint>

// Returns false, with one console line naming the file, when the file cannot be written.
// fast: the quickest compression (larger files), for captures that write every frame.
bool writePngRgba(const char* path, int width, int height, const uint8_t* pixels,
                  bool fast = false);
