// The demo's five logos, set in DejaVu (fonts-dejavu-core) with FreeType: the group name
// "quilm.png", the title "logo1.png" and the credits "logo2.png" to "logo4.png". Light letters
// with a dark outline and soft shadow on a transparent ground, so they read over any scene.
// Does not load or draw them; pixels are owned by value and written as RGBA PNG files.
#pragma once

#include "demo/builtin_demo.h"

#include <cstdint>
#include <string>
#include <vector>

// Where Debian's fonts-dejavu-core puts its faces.
inline constexpr const char* kDejaVuDir = "/usr/share/fonts/truetype/dejavu";

struct LogoImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // rows from the top down
};

// Renders logo 0 to 4 ("quilm.png", "logo1.png" .. "logo4.png") with the fonts in fontDir.
// False, with one line on standard error naming the font, when a face cannot be loaded.
bool renderDemoLogo(int index, const std::string& fontDir, LogoImage* out);
const char* demoLogoFileName(int index);

// Writes the five files into dir (which must exist). False, with one line on standard error,
// when the font is missing or a file cannot be written.
bool writeDemoLogos(const std::string& dir);
bool writeDemoLogos(const std::string& dir, const std::string& fontDir);
