// Test pictures made on the spot: PNG and JPEG encoders over libpng and libjpeg with full
// control of the variant, a scratch directory to run file loaders in, and a memory stream that
// counts how often it is closed. Test code only; everything is returned by value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct TestPng {
    int width = 1;
    int height = 1;
    int colorType = 6; // libpng's PNG_COLOR_TYPE_*
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> samples; // rows in PNG order, packed as libpng expects, no gaps
    std::vector<uint8_t> palette; // RGB triples for colour type 3
    std::vector<uint8_t> alphas;  // tRNS entries for colour type 3
    int transparentGrey = -1;     // tRNS grey value for colour type 0 (-1: none)
};

std::vector<uint8_t> encodePng(const TestPng& png);
// A plain 8-bit RGBA PNG from RGBA pixels.
std::vector<uint8_t> encodeRgbaPng(int width, int height, const std::vector<uint8_t>& rgba);
// components 1 (grey), 3 (RGB) or 4 (CMYK); quality 1..100.
std::vector<uint8_t> encodeJpeg(int width, int height, int components,
                                const std::vector<uint8_t>& samples, int quality = 100);

// Plain libjpeg decoding with every default (RGB or grey samples), for comparison.
bool decodeJpegDefault(const std::vector<uint8_t>& file, int* width, int* height, int* components,
                       std::vector<uint8_t>* samples);

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::string& path);
// Decodes any PNG to 8-bit RGBA with libpng's simplified reader (independent of our adapter).
bool decodePngRgba(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgba);

// A fresh directory made current for the object's lifetime, removed with its files afterwards.
struct ScratchDirectory {
    std::string path;
    std::string previous;
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
};

// A read-only stdio stream over a copy of bytes; *closeCount goes up by one on every fclose.
FILE* openCountingStream(const std::vector<uint8_t>& bytes, int* closeCount);
