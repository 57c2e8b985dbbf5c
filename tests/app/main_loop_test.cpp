#include "app/gl_window.h"
#include "app/headless.h"
#include "app/player.h"

#include "demo/demo_fixture.h"
#include "demo/demo_loading.h"
#include "demo/music_time.h"
#include "diag/prof.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/music.h"
#include "platform/options.h"
#include "scene/scene.h"
#include "support/console_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

namespace {

class MainLoopTest : public ::testing::Test {
  protected:
    MainLoop loop;
    Scene* scene = nullptr;
    void useViewer() {
        scene = createScene();
        loop.scene = scene;
        loop.viewer = true;
    }
    void SetUp() override {
        ASSERT_TRUE(useHeadlessVideo());
        setupOptions = SetupOptions{};
        ASSERT_TRUE(createGLWindow(96, 64, 32, false));
        flushEvents();
        profResetAll();
    }
    void TearDown() override {
        destroyScene(scene);
        destroyGLWindow();
        useRealClock();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    // SDL ends each batch of events it pumped with a sentinel that reads as an empty queue;
    // tests that run the loop twice start each run from a clean queue.
    static void flushEvents() { SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT); }
    static int count(const char* name) { return profCounter(profSlot(name)).count; }
};

TEST_F(MainLoopTest, EscapeAndCloseEndTheLoopBeforeAnyFrameWhileEventsWait) {
    pushKey(SDLK_a, SDL_SCANCODE_A, true);
    pushKey(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, true);
    pushKey(SDLK_b, SDL_SCANCODE_B, true); // never reached
    runMainLoop(loop);
    EXPECT_EQ(loop.framesDrawn, 0);
    EXPECT_TRUE(loop.interrupted);
    EXPECT_EQ(keyDown['B'], 0);
    EXPECT_EQ(count("00main"), 0);

    clearKeyTable();
    flushEvents();
    MainLoop second;
    pushQuit();
    runMainLoop(second);
    EXPECT_EQ(second.framesDrawn, 0);
    EXPECT_TRUE(second.interrupted) << "a signal arrives as the same quit event";

    flushEvents();
    MainLoop third;
    pushWindowEvent(glWindow.platform.window, SDL_WINDOWEVENT_CLOSE);
    runMainLoop(third);
    EXPECT_EQ(third.framesDrawn, 0);
}

// Past the demo's end the picture stays, drawn at the display's pace, not as fast as possible;
// a run that ends with the demo stops at the first frame after it without waiting.
TEST_F(MainLoopTest, TheDemosEndWaitsBetweenFramesInsteadOfSpinning) {
    useFixedStepClock(40000);
    useMusicLockStep(40000);
    for (const bool exitAtEnd : {false, true}) {
        ConsoleCapture log;
        DemoLoadRequest request;
        request.dataDirectory = demoFixture().c_str();
        request.startOrder = 32;
        request.startRow = 62;
        ASSERT_TRUE(loadDemoData(request));
        MainLoop demo;
        demo.frameLimit = 12; // rows of 120 ms: the end comes after 3 to 6 frames
        demo.exitAtEnd = exitAtEnd;
        runMainLoop(demo);
        EXPECT_TRUE(demo.demoOver);
        EXPECT_FALSE(demo.interrupted);
        if (exitAtEnd) {
            EXPECT_LT(demo.framesDrawn, 12);
            EXPECT_EQ(demo.idleWaits, 0);
        } else {
            EXPECT_EQ(demo.framesDrawn, 12);
            EXPECT_GT(demo.idleWaits, 0);
            EXPECT_LT(demo.idleWaits, 12) << "frames before the end do not wait";
        }
        releaseDemoData();
        closeMusicOutput();
    }
    useMusicLockStep(0);
}

TEST_F(MainLoopTest, OnePresentedFramePerEmptyPollUpToTheLimit) {
    loop.frameLimit = 5;
    runMainLoop(loop);
    EXPECT_EQ(loop.framesDrawn, 5);
    EXPECT_EQ(count("00main"), 5);
    EXPECT_EQ(count("12Swapping"), 5);
    EXPECT_FALSE(profCounter(profSlot("00main")).running);
    EXPECT_FALSE(profCounter(profSlot("12Swapping")).running);
    // Swapping is part of the frame, so it can never take longer than the frame.
    EXPECT_LE(profCounter(profSlot("12Swapping")).accumulated,
              profCounter(profSlot("00main")).accumulated);
}

TEST_F(MainLoopTest, EscapeHeldEndsTheLoopAfterTheFrameThatSawIt) {
    keyDown[kVkEscape] = 1;
    runMainLoop(loop);
    // The loop ends after the first thing it does: the frame that saw the key, or an event
    // that was already waiting (a window system may still be announcing the new window).
    EXPECT_EQ(loop.framesDrawn + loop.eventsTaken, 1);
    clearKeyTable();
}

TEST_F(MainLoopTest, FixedStepClockMovesOneStepPerFrameAndDrivesSceneTime) {
    useFixedStepClock(40000);
    useViewer();
    loop.viewerKeys.speedFactor = 2.0f;
    loop.startMs = timeGetTime();
    loop.frameLimit = 4;
    runMainLoop(loop);
    EXPECT_EQ(loop.lastClockMs, 120u);
    EXPECT_FLOAT_EQ(loop.lastSceneSeconds, 0.24f);
    EXPECT_EQ(timeGetTime(), 160u) << "advanced after every frame, also the last";
}

TEST_F(MainLoopTest, SpaceInTheViewerFreezesTheSceneClock) {
    useFixedStepClock(100000);
    useViewer();
    loop.startMs = timeGetTime();
    loop.frameLimit = 3;
    ConsoleCapture log;
    pushKey(SDLK_SPACE, SDL_SCANCODE_SPACE, true);
    runMainLoop(loop);
    EXPECT_TRUE(loop.viewerKeys.paused);
    EXPECT_EQ(loop.lastClockMs, 0u);
    EXPECT_EQ(loop.lastSceneSeconds, 0.0f);
    EXPECT_EQ(keyDown[kVkSpace], 0);
}

// SDL hands over a press and its release in one batch when both came between two frames;
// the frame after them must still see the press once.
TEST_F(MainLoopTest, APressReleasedBeforeTheFrameActsOnceAndHeldKeysKeepActing) {
    useFixedStepClock(100000);
    useViewer();
    loop.startMs = timeGetTime();
    ConsoleCapture log;
    auto tap = [](SDL_Keycode key, SDL_Scancode code) {
        pushKey(key, code, true);
        pushKey(key, code, false);
    };
    tap(SDLK_SPACE, SDL_SCANCODE_SPACE);
    tap(SDLK_a, SDL_SCANCODE_A);
    loop.frameLimit = 1;
    runMainLoop(loop);
    EXPECT_TRUE(loop.viewerKeys.paused);
    EXPECT_FLOAT_EQ(loop.viewerKeys.speedFactor, 0.9f);
    EXPECT_EQ(keyDown[kVkSpace], 0);
    EXPECT_EQ(keyDown['A'], 0) << "released keys do not stick";

    // No new press: nothing more happens.
    flushEvents();
    loop.frameLimit = loop.framesDrawn + 2;
    runMainLoop(loop);
    EXPECT_TRUE(loop.viewerKeys.paused);
    EXPECT_FLOAT_EQ(loop.viewerKeys.speedFactor, 0.9f);

    // Held S steps every frame; a second tap of Space resumes.
    flushEvents();
    pushKey(SDLK_s, SDL_SCANCODE_S, true);
    tap(SDLK_SPACE, SDL_SCANCODE_SPACE);
    loop.frameLimit = loop.framesDrawn + 3;
    runMainLoop(loop);
    EXPECT_FALSE(loop.viewerKeys.paused);
    EXPECT_NEAR(loop.viewerKeys.speedFactor, 1.2f, 1e-5f);
    EXPECT_EQ(keyDown['S'], 1);
    clearKeyTable();
}

TEST_F(MainLoopTest, KeyTableLatchKeepsHeldStateAndWhatTheFrameCleared) {
    clearKeyTable();
    pressKey('X'); // tapped: released before the frame
    releaseKey('X');
    pressKey('1'); // tapped, and the frame does not clear it
    releaseKey('1');
    pressKey('S'); // held across the frame
    pressKey(0);   // no code: ignored
    pressKey(kKeyCount);
    latchKeyPresses();
    EXPECT_EQ(keyDown['X'], 1);
    EXPECT_EQ(keyDown['1'], 1);
    EXPECT_EQ(keyDown['S'], 1);
    keyDown['X'] = 0; // acted on by the frame
    releaseKeyPresses();
    EXPECT_EQ(keyDown['X'], 0);
    EXPECT_EQ(keyDown['1'], 0);
    EXPECT_EQ(keyDown['S'], 1);
    latchKeyPresses(); // the next frame: the latch started afresh
    EXPECT_EQ(keyDown['1'], 0);
    releaseKeyPresses();
    EXPECT_EQ(keyDown['S'], 1);
    clearKeyTable();
}

TEST_F(MainLoopTest, DemoFrameClearsTheSeekKeysAndIgnoresViewerKeys) {
    ConsoleCapture log;
    keyDown['X'] = 1;
    keyDown['Y'] = 1;
    keyDown['S'] = 1;
    loop.frameLimit = 1;
    runMainLoop(loop);
    EXPECT_EQ(keyDown['X'], 0);
    EXPECT_EQ(keyDown['Y'], 0);
    EXPECT_EQ(keyDown['S'], 1);
    EXPECT_EQ(log.text, "");
    clearKeyTable();
}

TEST_F(MainLoopTest, CapturedFrameIsTopDownAndFollowsTheWindowSize) {
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 32, 96, 32); // GL's upper half
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    captureFrame(loop);
    ASSERT_EQ(loop.screenshotWidth, 96);
    ASSERT_EQ(loop.screenshotHeight, 64);
    const uint8_t* top = &loop.screenshot[0];
    const uint8_t* bottom = &loop.screenshot[(63 * 96 + 95) * 4];
    EXPECT_EQ(top[0], 255);
    EXPECT_EQ(top[2], 0);
    EXPECT_EQ(bottom[0], 0);
    EXPECT_EQ(bottom[2], 255);
    EXPECT_EQ(bottom[3], 255);

    // A screenshot run keeps the last drawn frame (the empty scene's black background).
    useViewer();
    loop.screenshotPath = "unused.png";
    loop.frameLimit = 2;
    runMainLoop(loop);
    EXPECT_EQ(loop.screenshot[0], 0);
    EXPECT_EQ(loop.screenshot[2], 0);
}

TEST(PlayerStartUp, CancelledDialogEndsWithStatusZeroBeforeTheMainWindowOpens) {
    ASSERT_TRUE(useHeadlessVideo());
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    ConsoleCapture log;
    CommandLine line;
    line.console = true;
    pushKey(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, true);
    EXPECT_EQ(runPlayer(line), 0);
    EXPECT_EQ(glWindow.platform.window, nullptr);
    EXPECT_EQ(log.text, "");
}

TEST(PlayerStartUp, EnterInTheDialogRunsTheDefaultsThroughToTheLoop) {
    ASSERT_TRUE(useHeadlessVideo());
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    ConsoleCapture log;
    CommandLine line;
    line.frames = 2;
    line.dataDirectory = demoFixture().c_str();
    line.forceDxt = true; // the dialog's compression, also on a software renderer
    pushKey(SDLK_RETURN, SDL_SCANCODE_RETURN, true);
    EXPECT_EQ(runPlayer(line), 0);
    releaseMusic();
    closeMusicOutput();
    // Full screen by default: the console stays silent.
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(setupOptions.width, 1024);
    EXPECT_EQ(setupOptions.height, 768);
    EXPECT_TRUE(setupOptions.useDxt);
}

} // namespace
