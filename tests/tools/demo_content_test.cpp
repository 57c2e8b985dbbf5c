// The demo's generated content: the five logos and the tune.
#include "support/logo_writer.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

bool isPowerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

TEST(DemoLogos, EveryLogoIsAnRgbaPictureWithLettersOutlineAndClearGround) {
    ScratchDirectory first;
    ASSERT_TRUE(writeDemoLogos(first.path));
    const char* names[] = {"quilm.png", "logo1.png", "logo2.png", "logo3.png", "logo4.png"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        ASSERT_TRUE(decodePngRgba(first.path + "/" + name, &width, &height, &rgba));
        EXPECT_TRUE(isPowerOfTwo(width) && isPowerOfTwo(height));
        // Sharp in the boxes the demo draws them in (about 800 x 460 screen pixels at most).
        EXPECT_GE(width, 800);
        EXPECT_GE(height, 460);
        int clear = 0, light = 0, dark = 0;
        for (size_t p = 0; p + 3 < rgba.size(); p += 4) {
            if (rgba[p + 3] == 0) ++clear;
            if (rgba[p + 3] < 224) continue;
            const int sum = rgba[p] + rgba[p + 1] + rgba[p + 2];
            if (sum > 3 * 200 && rgba[p + 3] == 255) ++light; // letters read on dark scenes
            if (sum < 3 * 40) ++dark;                         // their outline on bright ones
        }
        const int total = width * height;
        EXPECT_GT(clear, total / 2); // transparent ground around the text
        EXPECT_GT(light, total / 100);
        EXPECT_GT(dark, total / 200);
        // Nothing touches the border, so the repeat wrap cannot bleed text onto the edge.
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(rgba[size_t(x) * 4 + 3], 0);
            EXPECT_EQ(rgba[(size_t(height - 1) * width + size_t(x)) * 4 + 3], 0);
        }
    }
    ScratchDirectory second;
    ASSERT_TRUE(writeDemoLogos(second.path));
    for (const char* name : names)
        EXPECT_EQ(readBytes(first.path + "/" + name), readBytes(second.path + "/" + name)) << name;
}

TEST(DemoLogos, MissingFontFailsWithoutWritingFiles) {
    ScratchDirectory scratch;
    EXPECT_FALSE(writeDemoLogos(scratch.path, scratch.path + "/no-fonts"));
    EXPECT_FALSE(std::filesystem::exists(scratch.path + "/quilm.png"));
}

} // namespace
