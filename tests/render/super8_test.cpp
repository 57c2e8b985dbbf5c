#include "render/super8.h"

#include "image/texture.h"
#include "platform/options.h"
#include "platform/rand.h"
#include "support/console_capture.h"
#include "support/gl_context.h"
#include "support/s8_images.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

class Super8Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(useTestGLContext(kWidth, kHeight));
        ASSERT_TRUE(target.create(kWidth, kHeight, false));
        saved = setupOptions;
        setupOptions.width = kWidth;
        setupOptions.height = kHeight;
        setupOptions.useDxt = false;
        directory = makeTempDirectory();
        ASSERT_FALSE(directory.empty());
    }

    void TearDown() override {
        destroySuper8(effect);
        target.destroy();
        setupOptions = saved;
        for (const char* name : {"s8_lamp.jpg", "s8_border.png", "s8_sign.png", "s8_drek.png"})
            std::remove((directory + "/" + name).c_str());
        rmdir(directory.c_str());
    }

    // Writes the images (minus those in skip) and creates the effect from that directory.
    void create(const std::string& skip = "") {
        ASSERT_TRUE(writeSuper8TestImages(directory, skip));
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(directory.c_str()), 0);
        quilmSrand(1);
        effect = createSuper8();
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_NE(effect, nullptr);
    }

    void drawOverBackground(float t) {
        glClearColor(0.8f, 0.5f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        setSuper8Time(effect, t);
        drawSuper8(effect);
        glFinish();
        frame.assign(kWidth * kHeight * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    }

    const unsigned char* pixel(int x, int y) const { return &frame[(y * kWidth + x) * 4]; }
    bool black(int x, int y) const {
        const unsigned char* p = pixel(x, y);
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    }
    int brightness(int x, int y) const {
        const unsigned char* p = pixel(x, y);
        return p[0] + p[1] + p[2];
    }

    // Fully black rows counted from the top (or the bottom) of the middle column.
    int blackRowsFromTop(int x) const {
        int rows = 0;
        while (rows < kHeight && black(x, kHeight - 1 - rows))
            ++rows;
        return rows;
    }
    int blackRowsFromBottom(int x) const {
        int rows = 0;
        while (rows < kHeight && black(x, rows))
            ++rows;
        return rows;
    }

    // Rows whose centre lies above (or below) the mask edge y = edge of the moving frame, in
    // the middle column: the frame is scaled by s, shifted and turned, so that edge crosses
    // the screen's centre line at (shiftY + s * edge) / cos(angle).
    int expectedRowsBeyond(float edge, float s, float t, bool top) const {
        const Super8Motion m = super8FrameMotion(effect, t);
        const double angle = m.angleDegrees * M_PI / 180.0;
        const double crossing = (m.shiftY + s * edge) / std::cos(angle);
        int rows = 0;
        for (int j = 0; j < kHeight; ++j) {
            const double centre = 2.0 * (j + 0.5) / kHeight - 1.0;
            if (top ? centre > crossing : centre < crossing) ++rows;
        }
        return rows;
    }

    SetupOptions saved;
    TestFramebuffer target;
    std::string directory;
    Super8Effect* effect = nullptr;
    std::vector<unsigned char> frame;
};

} // namespace

TEST_F(Super8Frame, CreationLoadsTheFourImagesInOrder) {
    ConsoleCapture capture;
    create();
    EXPECT_NE(effect->lampTexture, nullptr);
    EXPECT_NE(effect->borderTexture, nullptr);
    EXPECT_NE(effect->signTexture, nullptr);
    EXPECT_NE(effect->dirtTexture, nullptr);
    const size_t drek = capture.text.find("(from local dir: s8_drek.png)");
    const size_t border = capture.text.find("(from local dir: s8_border.png)");
    const size_t sign = capture.text.find("(from local dir: s8_sign.png)");
    const size_t lamp = capture.text.find("(from local dir: s8_lamp.jpg)");
    ASSERT_NE(lamp, std::string::npos) << capture.text;
    EXPECT_LT(drek, border);
    EXPECT_LT(border, sign);
    EXPECT_LT(sign, lamp);
    EXPECT_EQ(effect->noiseTable[0], 41.0f / 32767.0f);
}

// 16:9 on a 4:3 window squeezes the frame to three quarters of its height, so the mask
// becomes bars; without wide screen only the shake shows a sliver of it.
TEST_F(Super8Frame, LetterboxBarsFollowTheWideScreenOption) {
    create();
    const int column = kWidth / 2;
    for (float t : {0.7f, 5.3f, 41.9f}) {
        setupOptions.wideScreen = true;
        drawOverBackground(t);
        const int top = blackRowsFromTop(column), bottom = blackRowsFromBottom(column);
        EXPECT_NEAR(top, expectedRowsBeyond(0.99f, 0.75f, t, true), 1) << t;
        EXPECT_NEAR(bottom, expectedRowsBeyond(-0.99f, 0.75f, t, false), 1) << t;
        EXPECT_GT(top + bottom, 100) << t; // a quarter of 480 lines, less the 1% frame margin
        EXPECT_FALSE(black(column, kHeight / 2));

        setupOptions.wideScreen = false;
        drawOverBackground(t);
        EXPECT_NEAR(blackRowsFromTop(column), expectedRowsBeyond(0.99f, 1.0f, t, true), 1) << t;
        EXPECT_NEAR(blackRowsFromBottom(column), expectedRowsBeyond(-0.99f, 1.0f, t, false), 1)
            << t;
        EXPECT_LT(blackRowsFromTop(column) + blackRowsFromBottom(column), 30) << t;
    }
}

// Just inside the mask lie the film edges, 16 picture pixels high: with wide screen the
// picture is squeezed, and the bands with it, so they still cover 16 of its pixels.
TEST_F(Super8Frame, FilmEdgesSitInsideTheMaskAtEveryPictureHeight) {
    create("s8_lamp.jpg s8_drek.png"); // the picture keeps its own colour
    const int column = kWidth / 2;
    auto picture = [&](int y) {
        const unsigned char* p = pixel(column, y);
        return std::abs(p[0] - 204) < 20 && std::abs(p[1] - 128) < 20 && std::abs(p[2] - 77) < 20;
    };
    for (const bool wide : {false, true}) {
        setupOptions.wideScreen = wide;
        const float s = wide ? 0.75f : 1.0f;
        const float band = 1.0f - 32.0f / (float(kHeight) * s);
        for (float t : {2.2f, 17.9f}) {
            SCOPED_TRACE(std::string(wide ? "wide " : "4:3 ") + std::to_string(t));
            drawOverBackground(t);
            const int top = blackRowsFromTop(column), bottom = blackRowsFromBottom(column);
            int topBand = 0, bottomBand = 0;
            while (!picture(kHeight - 1 - top - topBand) && topBand < kHeight / 4)
                ++topBand;
            while (!picture(bottom + bottomBand) && bottomBand < kHeight / 4)
                ++bottomBand;
            EXPECT_NEAR(
                topBand,
                expectedRowsBeyond(band, s, t, true) - expectedRowsBeyond(0.99f, s, t, true), 1);
            EXPECT_NEAR(bottomBand,
                        expectedRowsBeyond(-band, s, t, false) -
                            expectedRowsBeyond(-0.99f, s, t, false),
                        1);
            // The strip's dark base or a lit sprocket hole, never the picture.
            const unsigned char* edge = pixel(column, kHeight - 1 - top - 3);
            const bool filmBase = edge[0] < 60 && edge[1] < 60 && edge[2] < 60;
            const bool hole = edge[0] > 200 && edge[2] > 180;
            EXPECT_TRUE(filmBase || hole)
                << int(edge[0]) << " " << int(edge[1]) << " " << int(edge[2]);
        }
    }
}

TEST_F(Super8Frame, ScratchesBrightenTheirStrip) {
    create();
    // A time whose first visible scratch is wide, bright and on screen.
    float t = 0.0f;
    Super8Scratch found{};
    for (int step = 0; step < 20000 && !found.visible; ++step) {
        t = static_cast<float>(step) * 0.01f;
        for (int i = 0; i < 4; ++i) {
            const Super8Scratch s = super8Scratch(effect, i, t);
            if (s.visible && s.width > 0.03f && s.brightness > 0.3f && s.left > -0.7f &&
                s.left < 0.6f) {
                found = s;
                break;
            }
        }
    }
    ASSERT_TRUE(found.visible);
    drawOverBackground(t);
    const int inside = static_cast<int>((found.left + found.width * 0.5f + 1.0f) * 0.5f * kWidth);
    const int outside = static_cast<int>((found.left - 0.05f + 1.0f) * 0.5f * kWidth);
    int brighter = 0;
    for (int y = 150; y <= 330; y += 20)
        brighter += brightness(inside, y) > brightness(outside, y);
    EXPECT_GE(brighter, 8);
}

TEST_F(Super8Frame, LeavesTheDocumentedState) {
    create();
    setupOptions.wideScreen = true;
    const float t = 3.3f;
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-5, 5, -5, 5, -5, 5);
    drawOverBackground(t);

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;

    // Modelview = turn * shift * squeeze.
    const Super8Motion motion = super8FrameMotion(effect, t);
    const float a = motion.angleDegrees * static_cast<float>(M_PI) / 180.0f;
    const float c = std::cos(a), s = std::sin(a), squeeze = 0.75f;
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_NEAR(m[0], c, 1e-5);
    EXPECT_NEAR(m[1], s, 1e-5);
    EXPECT_NEAR(m[4], -s * squeeze, 1e-5);
    EXPECT_NEAR(m[5], c * squeeze, 1e-5);
    EXPECT_NEAR(m[12], c * motion.shiftX - s * motion.shiftY, 1e-5);
    EXPECT_NEAR(m[13], s * motion.shiftX + c * motion.shiftY, 1e-5);

    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0] + colour[1] + colour[2] + colour[3], 0.0f);
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
    GLint bound = 0, wrapS = 0, wrapT = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, effect->borderTexture->glName);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    EXPECT_EQ(wrapS, GL_REPEAT);
    EXPECT_EQ(wrapT, GL_CLAMP_TO_EDGE);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Missing images skip their layers; the mask, the dirt rolls and the final state remain.
TEST_F(Super8Frame, MissingImagesSkipTheirLayers) {
    ConsoleCapture capture;
    create("s8_lamp.jpg s8_drek.png s8_border.png");
    EXPECT_EQ(effect->lampTexture, nullptr);
    EXPECT_EQ(effect->dirtTexture, nullptr);
    EXPECT_EQ(effect->borderTexture, nullptr);
    EXPECT_NE(effect->signTexture, nullptr);
    EXPECT_NE(capture.text.find("failed: unable to open! \n"), std::string::npos);

    setupOptions.wideScreen = true;
    drawOverBackground(1.5f);
    EXPECT_EQ(effect->lastDirtTime, 1.5f);
    EXPECT_GT(blackRowsFromTop(kWidth / 2), 40);
    // Without the lamp the picture keeps its own colour.
    const unsigned char* middle = pixel(kWidth / 2, kHeight / 2);
    EXPECT_NEAR(middle[0], 204, 2);
    EXPECT_NEAR(middle[1], 128, 2);
    EXPECT_NEAR(middle[2], 77, 2);
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Super8Frame, WindowWithoutAreaDrawsNothing) {
    create();
    setupOptions.height = 0;
    drawOverBackground(1.0f);
    EXPECT_EQ(effect->lastDirtTime, 0.0f);
    const unsigned char* middle = pixel(kWidth / 2, kHeight / 2);
    EXPECT_NEAR(middle[0], 204, 1);
}
