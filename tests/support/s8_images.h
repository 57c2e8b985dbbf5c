// Small procedural stand-ins for the film effect's four images, written into a directory for
// tests: a lamp vignette (JPEG), a film-edge strip with sprocket holes, a sign, and a 4 x 4
// atlas of dirt specks with alpha (PNG). The real data set comes from the content tools.
#pragma once

#include <cstdint>
#include <string>

// Writes s8_lamp.jpg, s8_border.png, s8_sign.png and s8_drek.png into directory. Names in
// skip (a space-separated list) are left out, to test missing images.
bool writeSuper8TestImages(const std::string& directory, const std::string& skip = "");

// Writes 8-bit RGB pixels (alpha ignored) of an RGBA buffer as a baseline JPEG.
bool writeJpegRgba(const char* path, int width, int height, const uint8_t* rgba, int quality);

// A fresh empty directory under the system's temporary directory.
std::string makeTempDirectory();
