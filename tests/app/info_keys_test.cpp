// F12 screenshots and the F1 overlay in the main loop, on a headless window.
#include "app/gl_window.h"
#include "app/headless.h"
#include "app/info_panel.h"
#include "app/player.h"

#include "demo/demo_loading.h"
#include "image/png_writer.h"
#include "demo/demo_script.h"
#include "platform/clock.h"
#include "platform/info_overlay.h"
#include "platform/keys.h"
#include "platform/options.h"
#include "scene/scene.h"
#include "support/console_capture.h"
#include "support/test_images.h"
#include "e2e/run_binary.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    drawScreenNotice("saved quilm-0001.png", kWidth, kHeight);
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

// Pixels of the presented frame that differ from its top right corner (the background).
int presentedMarks() {
    std::vector<uint8_t> pixels(kWidth * kHeight * 4);
    glReadBuffer(GL_FRONT);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glReadBuffer(GL_BACK);
    const uint8_t* corner = &pixels[pixels.size() - 4];
    int marks = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        marks += std::memcmp(&pixels[i], corner, 3) != 0;
    return marks;
}

TEST_F(InfoKeysTest, F12NoticeShowsForTwoSecondsAndStaysOutOfThePicture) {
    const std::string dir = scratchDirectory("f12-notice");
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::remove("quilm-0001.png");
    setupOptions.consoleEnabled = false; // the default: the notice is the only sign
    run(1);
    const int before = presentedMarks();
    tap(SDLK_F12, SDL_SCANCODE_F12);
    run(1);
    const std::string notice = loop.notice;
    const int taken = presentedMarks();
    if (const char* path = std::getenv("QUILM_NOTICE_PNG")) {
        std::vector<uint8_t> shown(kWidth * kHeight * 4), rows(shown.size());
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, shown.data());
        glReadBuffer(GL_BACK);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(&rows[size_t(y) * kWidth * 4], &shown[size_t(kHeight - 1 - y) * kWidth * 4],
                        size_t(kWidth) * 4);
        writePngRgba(path, kWidth, kHeight, rows.data());
    }
    run(49); // 49 more frames of 40 ms: 1960 ms since the key, still shown
    const int last = presentedMarks();
    run(1); // 2000 ms: gone
    const int after = presentedMarks();
    int w = 0, h = 0;
    std::vector<uint8_t> file;
    const bool decoded = decodePngRgba("quilm-0001.png", &w, &h, &file);
    ASSERT_EQ(chdir(home), 0);
    EXPECT_EQ(notice, "saved quilm-0001.png");
    EXPECT_EQ(before, 0);
    EXPECT_GT(taken, 100) << "the notice is on screen in the frame that was saved";
    EXPECT_EQ(last, taken);
    EXPECT_EQ(after, 0);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(file.size(), size_t(kWidth) * kHeight * 4);
    for (size_t i = 0; i < file.size(); i += 4)
        ASSERT_EQ(std::memcmp(&file[i], &file[0], 3), 0) << "the notice is in the file at " << i;
}

TEST_F(InfoKeysTest, ViewerPanelShowsTheTimeInsideTheLoopedRange) {
    struct Case {
        float start, end, clock;
        const char* line;
    };
    const Case cases[] = {
        {0.0f, 12.0f, 34.719f, "scene time 10.719 s (0.000 to 12.000)"},
        {0.0f, 12.0f, 11.999f, "scene time 11.999 s (0.000 to 12.000)"},
        {0.0f, 12.0f, 12.0f, "scene time 0.000 s (0.000 to 12.000)"},
        {2.0f, 12.0f, 1.0f, "scene time 2.000 s (2.000 to 12.000)"},
        {2.0f, 12.0f, 12.5f, "scene time 2.500 s (2.000 to 12.000)"},
        {3.0f, 3.0f, 7.0f, "scene time 3.000 s (3.000 to 3.000)"},
    };
    std::vector<SceneObject> objects(3);
    objects[1].visible = false;
    scene->objectCount = 3;
    scene->objects = objects.data();
    static InfoPanelText text;
    for (const Case& c : cases) {
        scene->timeStart = c.start;
        scene->timeEnd = c.end;
        loop.lastSceneSeconds = c.clock;
        fillInfoPanel(loop, 0, text);
        ASSERT_GE(text.count, 5);
        EXPECT_STREQ(text.lines[2], c.line);
        EXPECT_STREQ(text.lines[4], "objects drawn 2, hidden by the hidetrack 1");
    }
    scene->objectCount = 0;
    scene->objects = nullptr;
}

TEST(InfoPanelDemo, ObjectsLineNamesTheSceneTheActiveCueDraws) {
    struct Case {
        int32_t position;
        int32_t scene; // kNoDemoScene: none drawn
    };
    const Case cases[] = {
        {-1, kNoDemoScene},   {0, Landschaft},      {256, Landschaft}, // with the logo cue
        {2623, Landschaft},   {2624, kNoDemoScene}, {2816, Eiche},     {3839, kNoDemoScene},
        {3840, Fluss},        {5439, Fluss},        {5632, Kraniche},  {7231, Feld},
        {7232, kNoDemoScene}, {7424, Holzvogel},    {8255, Holzvogel}, {8256, kNoDemoScene},
    };
    std::vector<SceneObject> objects(5);
    objects[0].visible = objects[3].visible = false;
    Scene shown;
    shown.objectCount = 5;
    shown.objects = objects.data();
    const DemoData saved = demoData;
    for (Scene*& scene : demoData.scenes)
        scene = &shown;
    MainLoop loop;
    static InfoPanelText text;
    for (const Case& c : cases) {
        int32_t scenes[kDemoScenesAtOnce];
        const int count = activeDemoScenes(c.position, scenes);
        EXPECT_EQ(count, c.scene == kNoDemoScene ? 0 : 1) << c.position;
        if (count == 1) {
            EXPECT_EQ(scenes[0], c.scene) << c.position;
        }
        fillInfoPanel(loop, c.position, text);
        std::string objectsLine;
        for (int i = 0; i < text.count; ++i)
            if (std::strstr(text.lines[i], "objects drawn")) objectsLine = text.lines[i];
        if (c.scene == kNoDemoScene)
            EXPECT_EQ(objectsLine, "") << c.position;
        else
            EXPECT_EQ(objectsLine, std::string(kDemoSceneFiles[c.scene]) +
                                       ": objects drawn 3, hidden by the hidetrack 2")
                << c.position;
    }
    demoData = saved;
}

} // namespace
