// Screen quads drawn headless and read back: orientation, blending, stencil and the GL state
// left behind.
#include "image/screen_quad.h"

#include "image/png_writer.h"
#include "image/texture.h"
#include "platform/options.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr int kSide = 64;

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(int x, int yFromTop) {
    unsigned char rgba[4];
    readTestPixel(x, kSide - 1 - yFromTop, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

void expectPixel(int x, int yFromTop, Rgb want, int tolerance = 1) {
    const Rgb got = pixelAt(x, yFromTop);
    EXPECT_NEAR(got.r, want.r, tolerance) << "at " << x << "," << yFromTop;
    EXPECT_NEAR(got.g, want.g, tolerance) << "at " << x << "," << yFromTop;
    EXPECT_NEAR(got.b, want.b, tolerance) << "at " << x << "," << yFromTop;
}

class ScreenQuad : public ::testing::Test {
  protected:
    ScratchDirectory scratch;
    bool savedDxt = setupOptions.useDxt;
    Texture* quadrants = nullptr; // top-left red, top-right green, bottom-left blue, else white
    Texture* orange = nullptr;    // (200, 100, 0), opaque

    void SetUp() override {
        if (!useTestGLContext(kSide, kSide)) GTEST_SKIP() << "no GL context";
        setupOptions.useDxt = false;
        std::vector<uint8_t> rgba;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool left = x < 8, top = y < 8;
                rgba.insert(rgba.end(), {uint8_t(top && left    ? 255
                                                 : !top && left ? 0
                                                                : 255),
                                         uint8_t(top && left    ? 0
                                                 : !top && left ? 0
                                                                : 255),
                                         uint8_t(top && left    ? 0
                                                 : !top && left ? 255
                                                                : 255),
                                         255});
                if (top && !left) rgba[rgba.size() - 4] = rgba[rgba.size() - 2] = 0;
            }
        ASSERT_TRUE(writeBytes("quadrants.png", encodeRgbaPng(16, 16, rgba)));
        std::vector<uint8_t> flat;
        for (int i = 0; i < 16; ++i)
            flat.insert(flat.end(), {200, 100, 0, 255});
        ASSERT_TRUE(writeBytes("orange.png", encodeRgbaPng(4, 4, flat)));
        quadrants = loadTexture("quadrants.png", false, true);
        orange = loadTexture("orange.png", true, true);
        ASSERT_NE(quadrants, nullptr);
        ASSERT_NE(orange, nullptr);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_STENCIL_TEST);
        clearTo(0, 0, 200);
    }
    void TearDown() override {
        releaseTexture(quadrants);
        releaseTexture(orange);
        setupOptions.useDxt = savedDxt;
    }
    static void clearTo(int r, int g, int b) {
        glClearColor(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
        glClearStencil(0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
};

TEST_F(ScreenQuad, WholeScreenShowsThePictureUprightWhateverTheState) {
    // State a scene might leave: depth test against a near depth, back-face culling
    // (the quad winds clockwise), lighting, odd matrices.
    glClearDepth(0.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    glOrtho(0, 10, 0, 10, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(3, 4, 0);

    drawScreenQuad(quadrants, -1, -1, -1, 2, 2, 1.0f, 0);
    expectPixel(16, 16, {255, 0, 0});
    expectPixel(48, 16, {0, 255, 0});
    expectPixel(16, 48, {0, 0, 255});
    expectPixel(48, 48, {255, 255, 255});

    if (const char* dump = std::getenv("QUILM_DUMP_QUAD")) {
        std::vector<uint8_t> frame(kSide * kSide * 4), upright(frame.size());
        glReadPixels(0, 0, kSide, kSide, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
        for (int y = 0; y < kSide; ++y)
            std::copy_n(frame.begin() + (kSide - 1 - y) * kSide * 4, kSide * 4,
                        upright.begin() + y * kSide * 4);
        writePngRgba(dump, kSide, kSide, upright.data());
    }

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    for (GLenum flag :
         {GL_TEXTURE_2D, GL_BLEND, GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_STENCIL_TEST})
        EXPECT_FALSE(glIsEnabled(flag)) << std::hex << flag;
    GLfloat projection[16], modelview[16], colour[4];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(projection[0], 0.2f); // the caller's ortho, restored
    EXPECT_FLOAT_EQ(modelview[12], 3.0f);
    EXPECT_FLOAT_EQ(colour[3], 1.0f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ScreenQuad, RectangleCoversOnlyItsOwnPartOfTheWindow) {
    drawScreenQuad(quadrants, -1, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0); // top-right quarter
    expectPixel(40, 8, {255, 0, 0});
    expectPixel(56, 24, {255, 255, 255});
    expectPixel(16, 16, {0, 0, 200});
    expectPixel(48, 48, {0, 0, 200});
}

TEST_F(ScreenQuad, AlphaBlendsOrAddsAndModeTwoKeepsTheFunction) {
    drawScreenQuad(orange, -1, -1, -1, 2, 2, 0.5f, 0);
    expectPixel(32, 32, {100, 50, 100}, 2);

    clearTo(0, 0, 200);
    drawScreenQuad(orange, -1, -1, -1, 2, 2, 0.5f, 1);
    expectPixel(32, 32, {100, 50, 200}, 2);
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);

    // Mode 2 after an additive draw adds again.
    drawScreenQuad(orange, -1, -1, -1, 2, 2, 0.5f, 2);
    expectPixel(32, 32, {200, 100, 200}, 2);
    // ... and after a caller's own function it uses that one.
    glBlendFunc(GL_ZERO, GL_ONE);
    clearTo(10, 20, 30);
    drawScreenQuad(orange, -1, -1, -1, 2, 2, 1.0f, 7);
    expectPixel(32, 32, {10, 20, 30});
}

TEST_F(ScreenQuad, StencilReferenceBelow255RestrictsTheQuad) {
    // Stencil 254 in the left half of the window.
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 254, 255);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(0, -1);
    glVertex2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    drawScreenQuad(orange, 254, -1, -1, 2, 2, 1.0f, 0);
    expectPixel(16, 32, {200, 100, 0});
    expectPixel(48, 32, {0, 0, 200});
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST)); // left on for the caller
    GLint func = 0, ref = 0;
    glGetIntegerv(GL_STENCIL_FUNC, &func);
    glGetIntegerv(GL_STENCIL_REF, &ref);
    EXPECT_EQ(func, GL_EQUAL);
    EXPECT_EQ(ref, 254);

    drawScreenQuad(orange, 253, -1, -1, 2, 2, 1.0f, 0); // matches nothing here
    drawScreenQuad(quadrants, 255, -1, -1, 2, 2, 1.0f, 0);
    expectPixel(48, 16, {0, 255, 0});
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
    clearTo(0, 0, 200);
    drawScreenQuad(orange, -1, -1, -1, 2, 2, 1.0f, 0);
    expectPixel(48, 48, {200, 100, 0});
}

TEST_F(ScreenQuad, TextureWithoutGlObjectIsUploadedOnTheFly) {
    Texture* late = loadTexture("quadrants.png", false, false); // a hit: already uploaded
    EXPECT_EQ(late, quadrants);
    releaseTexture(late);
    ASSERT_TRUE(writeBytes(
        "late.png",
        encodeRgbaPng(2, 2, {0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255})));
    late = loadTexture("late.png", true, false);
    ASSERT_NE(late, nullptr);
    drawScreenQuad(late, -1, -1, -1, 2, 2, 1.0f, 0);
    expectPixel(32, 32, {0, 255, 0});
    releaseTexture(late);

    clearTo(0, 0, 0);
    drawScreenQuad(nullptr, -1, -1, -1, 1, 2, 1.0f, 0); // untextured: plain white
    expectPixel(16, 32, {255, 255, 255});
    expectPixel(48, 32, {0, 0, 0});
}

} // namespace
