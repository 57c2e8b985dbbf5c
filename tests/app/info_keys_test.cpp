// F12 screenshots and the F1 overlay in the main loop, on a headless window.
#include "app/gl_window.h"
#include "app/headless.h"
#include "app/info_panel.h"
#include "app/player.h"

#include "platform/clock.h"
#include "platform/info_overlay.h"
#include "platform/keys.h"
#include "platform/options.h"
#include "scene/scene.h"
#include "support/console_capture.h"
#include "e2e/run_binary.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 160, kHeight = 120;

class InfoKeysTest : public ::testing::Test {
  protected:
    MainLoop loop;
    Scene* scene = nullptr;
    void SetUp() override {
        ASSERT_TRUE(useHeadlessVideo());
        setupOptions = SetupOptions{};
        setupOptions.width = kWidth;
        setupOptions.height = kHeight;
        ASSERT_TRUE(createGLWindow(kWidth, kHeight, 32, false));
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        scene = createScene();
        scene->backgroundColor[0] = 0.2f;
        loop.scene = scene;
        loop.viewer = true;
        useFixedStepClock(40000);
    }
    void TearDown() override {
        releaseInfoOverlay();
        destroyScene(scene);
        destroyGLWindow();
        useRealClock();
        clearKeyTable();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void tap(SDL_Keycode key, SDL_Scancode code) {
        pushKey(key, code, true);
        pushKey(key, code, false);
    }
    void run(int frames) {
        loop.frameLimit = loop.framesDrawn + frames;
        runMainLoop(loop);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
};

TEST_F(InfoKeysTest, F12WritesTheNextFreeNumberAndLogsItsName) {
    const std::string dir = scratchDirectory("f12");
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    for (const char* name : {"quilm-0001.png", "quilm-0002.png", "quilm-0003.png"})
        std::remove(name);
    std::fclose(std::fopen("quilm-0001.png", "wb")); // taken: kept as it is
    ConsoleCapture log;
    tap(SDLK_F12, SDL_SCANCODE_F12);
    run(2);
    tap(SDLK_F12, SDL_SCANCODE_F12);
    run(1);
    const bool second = access("quilm-0002.png", F_OK) == 0;
    const bool third = access("quilm-0003.png", F_OK) == 0;
    FILE* taken = std::fopen("quilm-0001.png", "rb");
    std::fseek(taken, 0, SEEK_END);
    const long takenSize = std::ftell(taken);
    std::fclose(taken);
    ASSERT_EQ(chdir(home), 0);
    EXPECT_TRUE(second);
    EXPECT_TRUE(third);
    EXPECT_EQ(takenSize, 0);
    EXPECT_EQ(log.text,
              "Screenshot written: quilm-0002.png \nScreenshot written: quilm-0003.png \n");
    EXPECT_EQ(keyDown[kVkF12], 0);
}

TEST_F(InfoKeysTest, F1TogglesTheOverlayWhichLeavesTheNextFrameAsWithoutIt) {
    loop.screenshotPath = "unused"; // keeps every frame's picture in loop.screenshot
    run(2);
    const std::vector<uint8_t> plain = loop.screenshot;
    EXPECT_FALSE(loop.infoShown);

    MainLoop shown;
    shown.scene = scene;
    shown.viewer = true;
    shown.screenshotPath = "unused";
    useFixedStepClock(40000);
    tap(SDLK_F1, SDL_SCANCODE_F1);
    shown.frameLimit = 2;
    runMainLoop(shown);
    EXPECT_TRUE(shown.infoShown);
    EXPECT_EQ(shown.screenshot, plain) << "the frame after an overlay is drawn as without it";

    // The overlay draws text into the frame and puts every state back.
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    static float vertices[12] = {};
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 16, vertices);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glTranslatef(1, 2, 3);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    drawInfoPanel(shown, kWidth, kHeight);
    std::vector<uint8_t> pixels(kWidth * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    int lit = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        lit += pixels[i] + pixels[i + 1] + pixels[i + 2] > 0;
    EXPECT_GT(lit, 200) << "the panel is visible";
    GLint matrixMode = 0, stride = 0;
    GLvoid* pointer = nullptr;
    GLfloat projection[16];
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    glGetIntegerv(GL_VERTEX_ARRAY_STRIDE, &stride);
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &pointer);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_EQ(matrixMode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_EQ(pointer, vertices);
    EXPECT_EQ(stride, 16);
    EXPECT_EQ(projection[12], 1.0f);
    EXPECT_EQ(projection[14], 3.0f);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

} // namespace
