// The texture manager without a GL context (no upload): file finding, dispatch, log lines,
// pixel order, the cache with its wrap-around and release.
#include "image/texture.h"

#include "image/image_loaders.h"
#include "support/console_capture.h"
#include "support/test_images.h"
#include "wavelet/qw2_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The cache is program-wide: every test starts from an empty one and gives back what it took.
class TextureCache : public ::testing::Test {
  protected:
    ScratchDirectory scratch;
    void SetUp() override {
        ASSERT_FALSE(scratch.path.empty());
        for (Texture*& slot : textureCache)
            slot = nullptr;
        textureCacheCount = 0;
    }
};

std::vector<uint8_t> solidPng(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> rgba;
    for (int i = 0; i < w * h; ++i)
        rgba.insert(rgba.end(), {r, g, b, a});
    return encodeRgbaPng(w, h, rgba);
}

std::vector<uint8_t> solidJpeg(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < w * h; ++i)
        rgb.insert(rgb.end(), {r, g, b});
    return encodeJpeg(w, h, 3, rgb);
}

TEST_F(TextureCache, LoadLogsEveryStepInOrder) {
    ASSERT_TRUE(writeBytes("leaf.png", solidPng(256, 256, 1, 2, 3, 4)));
    ConsoleCapture log;
    Texture* leaf = loadTexture("leaf.png", false, false);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(log.text, "(from local dir: leaf.png)\n(PNG)...ok. \n  W: 256 H: 256 \n"
                        "Total texture mem atm: " +
                            std::to_string(textureMemoryTotal / 1024) + "k \n");
    EXPECT_EQ(leaf->refCount, 1);
    EXPECT_EQ(leaf->glName, -1);
    EXPECT_STREQ(leaf->name, "leaf.png");
    releaseTexture(leaf);
}

TEST_F(TextureCache, PixelsArriveAsRgbaWithTransparentBlackAndOpaqueJpeg) {
    ASSERT_TRUE(writeBytes("pair.png", encodeRgbaPng(2, 1, {10, 20, 30, 40, 50, 60, 70, 0})));
    ASSERT_TRUE(writeBytes("flat.jpg", solidJpeg(8, 8, 250, 120, 10)));
    Texture* png = loadTexture("pair.png", false, false);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(png->pixels, png->pixels + 8),
              (std::vector<uint8_t>{10, 20, 30, 40, 0, 0, 0, 0}));
    Texture* jpeg = loadTexture("flat.jpg", false, false);
    ASSERT_NE(jpeg, nullptr);
    for (int i = 0; i < 64; ++i) {
        EXPECT_NEAR(jpeg->pixels[4 * i], 250, 3);
        EXPECT_NEAR(jpeg->pixels[4 * i + 2], 10, 3);
        EXPECT_EQ(jpeg->pixels[4 * i + 3], 255);
    }
    releaseTexture(png);
    releaseTexture(jpeg);

    // Seven pixels: whole groups of four and a remainder take the same rules.
    std::vector<uint8_t> seven;
    for (int i = 0; i < 7; ++i)
        seven.insert(seven.end(), {uint8_t(i), uint8_t(100 + i), uint8_t(200 + i),
                                   uint8_t(i == 1 || i == 5 ? 0 : 10 * i + 1)});
    ASSERT_TRUE(writeBytes("seven.png", encodeRgbaPng(7, 1, seven)));
    Texture* row = loadTexture("seven.png", false, false);
    ASSERT_NE(row, nullptr);
    for (int i : {1, 5})
        std::fill_n(seven.begin() + 4 * i, 4, 0);
    EXPECT_EQ(std::vector<uint8_t>(row->pixels, row->pixels + 28), seven);
    releaseTexture(row);
}

TEST_F(TextureCache, LookupIgnoresCaseButKeepsTheDirectoryPart) {
    ASSERT_TRUE(writeBytes("leaf.png", solidPng(4, 4, 9, 9, 9, 9)));
    Texture* first = loadTexture("leaf.png", false, false);
    ASSERT_NE(first, nullptr);
    {
        ConsoleCapture log;
        Texture* again = loadTexture("Leaf.PNG", false, false);
        EXPECT_EQ(again, first);
        EXPECT_EQ(first->refCount, 2);
        EXPECT_EQ(log.text, "Found in cache: Leaf.PNG\n");
    }
    // maps/leaf.png opens leaf.png from the current directory but is a key of its own.
    ConsoleCapture log;
    Texture* mapped = loadTexture("maps/leaf.png", false, false);
    ASSERT_NE(mapped, nullptr);
    EXPECT_NE(mapped, first);
    EXPECT_STREQ(mapped->name, "maps/leaf.png");
    EXPECT_EQ(log.text.rfind("(from local dir: leaf.png)\n", 0), 0u);
    EXPECT_EQ(loadTexture("other\\leaf.png", false, false)->refCount, 1);
    EXPECT_EQ(loadTexture("Maps/Leaf.png", false, false), mapped);
    EXPECT_EQ(textureCacheCount, 3);
    releaseTexture(first);
    releaseTexture(first);
    releaseTexture(mapped);
    releaseTexture(mapped);
    releaseTexture(textureCache[0]);
    EXPECT_EQ(textureCacheCount, 0);
}

TEST_F(TextureCache, Qw2PixelsAreKeptAsDecoded) {
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 8 * 4; ++i)
        rgba.insert(rgba.end(), {40, 160, 220, 90});
    std::vector<uint8_t> file;
    Qw2EncodeOptions options;
    options.bitsPerPixel = 64.0; // the headers alone take 11 bits a pixel here
    ASSERT_TRUE(encodeQW2(rgba.data(), 8, 4, options, file));
    ASSERT_TRUE(writeBytes("flat.Qw2", file));
    ConsoleCapture log;
    Texture* flat = loadTexture("maps/flat.Qw2", true, false);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(log.text.rfind("(from local dir: flat.Qw2)\n(QW2)...ok. \n  W: 8 H: 4 \n", 0), 0u);
    EXPECT_EQ(flat->mipCount, 3);
    for (int i = 0; i < 32; ++i) {
        EXPECT_NEAR(flat->pixels[4 * i], 40, 2);
        EXPECT_NEAR(flat->pixels[4 * i + 2], 220, 2);
        EXPECT_EQ(flat->pixels[4 * i + 3], 0); // three channels: alpha 0, and no black rule
    }
    releaseTexture(flat);
}

TEST_F(TextureCache, MissingPngFallsBackToUpperCaseJpg) {
    ASSERT_TRUE(writeBytes("sky.JPG", solidJpeg(16, 8, 0, 0, 255)));
    ConsoleCapture log;
    Texture* sky = loadTexture("data/sky.png", true, false);
    ASSERT_NE(sky, nullptr);
    EXPECT_EQ(log.text, "(from local dir: sky.png)\n Trying JPG instead of PNG ...\n"
                        "(from local dir: sky.JPG)\n(JPEG)...ok. \n  W: 16 H: 8 \n"
                        "Total texture mem atm: " +
                            std::to_string(textureMemoryTotal / 1024) + "k \n");
    EXPECT_STREQ(sky->name, "data/sky.png");
    EXPECT_EQ(sky->pixels[3], 255);
    releaseTexture(sky);
}

TEST_F(TextureCache, FailuresLogTheirReasonAndLeaveTheCacheAlone) {
    ASSERT_TRUE(writeBytes("x.png", solidPng(2, 2, 1, 1, 1, 1)));
    ASSERT_TRUE(writeBytes("photo.jpeg", solidJpeg(8, 8, 1, 2, 3)));
    ASSERT_TRUE(writeBytes("empty.png", {}));
    ASSERT_TRUE(writeBytes("empty.jpg", {}));
    ASSERT_TRUE(writeBytes("empty.qw2", {}));
    std::vector<uint8_t> cut = solidJpeg(32, 32, 9, 8, 7);
    cut.resize(cut.size() - 30);
    ASSERT_TRUE(writeBytes("cut.jpg", cut));
    ASSERT_TRUE(writeBytes("junk.QW2", std::vector<uint8_t>(40, 0xee)));
    struct Case {
        const char* name;
        const char* log;
    } cases[] = {
        {"abc", ""}, // shorter than 4 characters: silent
        {"x.jpg", "(from local dir: x.jpg)\nfailed: unable to open! \n"},
        {"none.png", "(from local dir: none.png)\n Trying JPG instead of PNG ...\n"
                     "(from local dir: none.JPG)\nfailed: unable to open! \n"},
        {"photo.jpeg", "(from local dir: photo.jpeg)\n... failed: unrecognized extension! \n"},
        {"empty.png", "(from local dir: empty.png)\n(PNG)...failed: error decoding! \n"
                      "empty.png: empty file (0 bytes) \n"},
        {"empty.jpg", "(from local dir: empty.jpg)\n(JPEG)...failed: error decoding! \n"
                      "empty.jpg: Empty input file \n"},
        {"cut.jpg", "(from local dir: cut.jpg)\n(JPEG)...failed: error decoding! \n"
                    "cut.jpg: Premature end of JPEG file \n"},
        {"empty.qw2", "(from local dir: empty.qw2)\n(QW2)...failed: error decoding! \n"
                      "empty.qw2: header runs past the end of the data \n"},
        {"junk.QW2", "(from local dir: junk.QW2)\n(QW2)...failed: error decoding! \n"
                     "junk.QW2: unsupported format version \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConsoleCapture log;
        EXPECT_EQ(loadTexture(c.name, true, false), nullptr);
        EXPECT_EQ(log.text, c.log);
        EXPECT_EQ(textureCacheCount, 0);
    }
}

// A QW2 header past the side limit (the GL context's largest texture, set by loadTexture for
// uploads) is refused before decoding; at the limit it loads.
TEST_F(TextureCache, PicturesPastTheSideLimitAreRefusedFromTheirHeader) {
    // 8-byte header (width, height, 3 channels, filter 0, version 1), three empty channels.
    auto header = [](int w, int h) {
        std::vector<uint8_t> file = {
            uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 3, 0, 1, 0};
        file.resize(file.size() + 3 * 12, 0);
        return file;
    };
    ASSERT_TRUE(writeBytes("wide.qw2", header(17, 16)));
    ASSERT_TRUE(writeBytes("tall.qw2", header(1, 17)));
    ASSERT_TRUE(writeBytes("edge.qw2", header(16, 16)));
    const struct {
        const char* name;
        int32_t limit;
        bool loads;
    } cases[] = {{"wide.qw2", 16, false},
                 {"tall.qw2", 16, false},
                 {"edge.qw2", 16, true},
                 {"wide.qw2", 17, true},
                 {"wide.qw2", 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " limit " + std::to_string(c.limit));
        setImageSideLimit(c.limit);
        ConsoleCapture log;
        Texture* texture = loadTexture(c.name, false, false);
        setImageSideLimit(0);
        EXPECT_EQ(texture != nullptr, c.loads);
        EXPECT_EQ(log.text.find("is larger than this OpenGL's largest texture (16 a side)") !=
                      std::string::npos,
                  !c.loads)
            << log.text;
        if (texture) {
            EXPECT_STREQ(imageLoadFailure(), "");
            releaseTexture(texture);
        } else {
            EXPECT_NE(std::string(imageLoadFailure()).find("largest texture"), std::string::npos);
        }
    }
}

TEST_F(TextureCache, The257thTextureWrapsToSlotZero) {
    std::vector<Texture*> loaded;
    const std::vector<uint8_t> pixel = solidPng(1, 1, 5, 6, 7, 8);
    for (int i = 0; i < 257; ++i) {
        const std::string name = "t" + std::to_string(i) + ".png";
        ASSERT_TRUE(writeBytes(name, pixel));
        loaded.push_back(loadTexture(name.c_str(), true, false));
        ASSERT_NE(loaded.back(), nullptr);
    }
    EXPECT_EQ(textureCache[0], loaded[256]);
    EXPECT_EQ(textureCacheCount, 1);
    EXPECT_EQ(textureCache[255], loaded[255]);
    // Only the slots filled since the wrap are searched: t1.png is loaded a second time.
    Texture* second = loadTexture("t1.png", true, false);
    EXPECT_NE(second, loaded[1]);
    EXPECT_EQ(textureCache[1], second);
    EXPECT_EQ(loadTexture("T256.PNG", true, false), loaded[256]);
    // The texture that dropped out stays alive for its holder and leaves no dangling slot.
    releaseTexture(loaded[5]);
    EXPECT_EQ(textureCacheCount, 2);
    for (Texture* slot : textureCache)
        EXPECT_NE(slot, loaded[5]);
    for (int i = 0; i < 257; ++i)
        if (i != 5) releaseTexture(loaded[size_t(i)]);
    releaseTexture(loaded[256]);
    releaseTexture(second);
    EXPECT_EQ(textureCacheCount, 0);
}

TEST_F(TextureCache, LastReleaseFreesAndClosesTheGap) {
    for (const char* name : {"a.png", "b.png", "c.png"})
        ASSERT_TRUE(writeBytes(name, solidPng(2, 2, 1, 2, 3, 4)));
    Texture* a = loadTexture("a.png", true, false);
    Texture* b = loadTexture("b.png", true, false);
    Texture* c = loadTexture("c.png", true, false);
    EXPECT_EQ(loadTexture("A.png", true, false), a);
    releaseTexture(a);
    EXPECT_EQ(a->refCount, 1);
    EXPECT_EQ(textureCacheCount, 3);
    EXPECT_EQ(textureCache[0], a);
    releaseTexture(a); // freed: LeakSanitizer and ASan watch the rest
    EXPECT_EQ(textureCacheCount, 2);
    EXPECT_EQ(textureCache[0], b);
    EXPECT_EQ(textureCache[1], c);
    EXPECT_EQ(textureCache[2], nullptr);
    Texture* reloaded = loadTexture("a.png", true, false);
    EXPECT_EQ(textureCache[2], reloaded);
    releaseTexture(b);
    releaseTexture(c);
    releaseTexture(reloaded);
    releaseTexture(nullptr);
    EXPECT_EQ(textureCacheCount, 0);
}

} // namespace
