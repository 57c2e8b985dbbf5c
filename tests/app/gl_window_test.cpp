#include "app/gl_window.h"
#include "app/headless.h"

#include "platform/keys.h"
#include "platform/options.h"
#include "support/console_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class GLWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(useHeadlessVideo());
        setupOptions = SetupOptions{};
    }
    void TearDown() override { destroyGLWindow(); }
    static void pumpWindowEvents() {
        PlatformEvent e;
        while (pollPlatformEvent(e))
            handleWindowEvent(e);
    }
    static int glInt(GLenum name) {
        GLint v = 0;
        glGetIntegerv(name, &v);
        return v;
    }
};

TEST_F(GLWindowTest, WindowedCreationLogsWhatTheDriverGaveAndSetsTheInitialState) {
    ConsoleCapture log;
    ASSERT_TRUE(createGLWindow(640, 480, 32, false));
    SDL_Window* w = static_cast<SDL_Window*>(glWindow.platform.window);
    EXPECT_STREQ(SDL_GetWindowTitle(w), "Q3D Render");
    int cw = 0, ch = 0;
    SDL_GL_GetDrawableSize(w, &cw, &ch);
    EXPECT_EQ(cw, 640);
    EXPECT_EQ(ch, 480);
    EXPECT_FALSE(glWindow.fullscreen);
    EXPECT_FALSE(glWindow.cursorHidden);
    EXPECT_NE(SDL_GetWindowFlags(w) & SDL_WINDOW_ALWAYS_ON_TOP, 0u);

    const std::string expected =
        "GL Init success. We got: \nBit depth: " + std::to_string(queryPixelFormatBits().colour) +
        " Z-Buffer depth: " + std::to_string(glInt(GL_DEPTH_BITS)) +
        " Stencil depth: " + std::to_string(glInt(GL_STENCIL_BITS)) + " \n";
    EXPECT_EQ(log.text, expected);
    EXPECT_GE(glInt(GL_DEPTH_BITS), 24);
    EXPECT_GE(glInt(GL_STENCIL_BITS), 8);

    EXPECT_EQ(glInt(GL_DEPTH_FUNC), GL_GREATER);
    GLfloat clearDepth = 1.0f;
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_EQ(clearDepth, 0.0f);
    EXPECT_FALSE(glIsEnabled(GL_DITHER));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(glInt(GL_SHADE_MODEL), GL_SMOOTH);
    EXPECT_EQ(glInt(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
    EXPECT_EQ(glInt(GL_MATRIX_MODE), GL_MODELVIEW);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    EXPECT_EQ(setupOptions.width, 640);
    EXPECT_EQ(setupOptions.height, 480);
}

TEST_F(GLWindowTest, NotOnTopWhenNotAskedFor) {
    setupOptions.alwaysInFront = false;
    ASSERT_TRUE(createGLWindow(320, 200, 32, false));
    EXPECT_EQ(SDL_GetWindowFlags(static_cast<SDL_Window*>(glWindow.platform.window)) &
                  SDL_WINDOW_ALWAYS_ON_TOP,
              0u);
}

TEST_F(GLWindowTest, RefusedFullScreenFallsBackToANormalWindowWithTheCursorHidden) {
    // The offscreen display offers no 640x480 mode, so the switch is refused.
    ASSERT_TRUE(createGLWindow(640, 480, 32, true));
    EXPECT_FALSE(glWindow.fullscreen);
    EXPECT_TRUE(glWindow.cursorHidden);
    EXPECT_EQ(SDL_GetWindowFlags(static_cast<SDL_Window*>(glWindow.platform.window)) &
                  SDL_WINDOW_FULLSCREEN,
              0u);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    int cw = 0, ch = 0;
    SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(glWindow.platform.window), &cw, &ch);
    EXPECT_EQ(cw, 640);
    EXPECT_EQ(ch, 480);
    destroyGLWindow();
    // Shutdown shows the cursor only when the mode really changed.
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    showMouseCursor(true);
}

TEST_F(GLWindowTest, ResizeAndMinimiseUpdateViewportMatricesAndOptions) {
    ASSERT_TRUE(createGLWindow(640, 480, 32, false));
    pumpWindowEvents();
    glMatrixMode(GL_PROJECTION);
    glTranslatef(1.0f, 2.0f, 3.0f);
    glMatrixMode(GL_MODELVIEW);
    glScalef(2.0f, 2.0f, 2.0f);
    pushWindowEvent(glWindow.platform.window, SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600);
    pumpWindowEvents();
    EXPECT_EQ(setupOptions.width, 800);
    EXPECT_EQ(setupOptions.height, 600);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_EQ(m[12], 0.0f);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[0], 1.0f);
    EXPECT_EQ(glInt(GL_MATRIX_MODE), GL_MODELVIEW);

    pushWindowEvent(glWindow.platform.window, SDL_WINDOWEVENT_MINIMIZED);
    pumpWindowEvents();
    EXPECT_EQ(setupOptions.width, 0);
    EXPECT_EQ(setupOptions.height, 0);
}

TEST_F(GLWindowTest, KeysReachTheTableExceptWithAlt) {
    ASSERT_TRUE(createGLWindow(64, 64, 32, false));
    pumpWindowEvents();
    pushKey(SDLK_x, SDL_SCANCODE_X, true);
    pushKey(SDLK_s, SDL_SCANCODE_S, true, KMOD_LALT);
    pushKey(SDLK_SPACE, SDL_SCANCODE_SPACE, true);
    pumpWindowEvents();
    EXPECT_EQ(keyDown['X'], 1);
    EXPECT_EQ(keyDown['S'], 0);
    EXPECT_EQ(keyDown[kVkSpace], 1);
    pushKey(SDLK_x, SDL_SCANCODE_X, false, KMOD_LALT);
    pumpWindowEvents();
    EXPECT_EQ(keyDown['X'], 0);
    EXPECT_EQ(keyDown[kVkSpace], 1);
}

} // namespace
