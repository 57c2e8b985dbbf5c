#include "app/viewer_keys.h"

#include "platform/keys.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Viewer {
    ViewerKeyState state;
    uint8_t keys[kKeyCount] = {};
    std::vector<int> selected;
    explicit Viewer(int cameras) { state.cameraCount = cameras; }
    void frame(uint32_t clockMs = 0) {
        applyViewerKeys(
            state, keys, clockMs,
            [](int camera, void* user) { static_cast<Viewer*>(user)->selected.push_back(camera); },
            this);
    }
};

TEST(ViewerKeys, NumberKeysSelectExistingOtherCamerasOnly) {
    ConsoleCapture log;
    Viewer v(3);
    v.keys['5'] = 1; // camera 4 does not exist
    v.keys['1'] = 1; // camera 0 is already current
    v.frame();
    EXPECT_TRUE(v.selected.empty());
    EXPECT_EQ(log.text, "");
    v.keys['1'] = 0;
    v.keys['3'] = 1;
    v.frame();
    v.frame(); // held: nothing more while its camera stays current
    EXPECT_EQ(v.selected, std::vector<int>({2}));
    EXPECT_EQ(log.text, "Setting camera: 2 \n");
    EXPECT_EQ(v.keys['3'], 1) << "number keys are not cleared";
}

TEST(ViewerKeys, TwoHeldNumberKeysSelectBothEveryFrameHigherWins) {
    ConsoleCapture log;
    Viewer v(4);
    v.keys['2'] = 1;
    v.keys['4'] = 1;
    v.frame();
    v.frame();
    EXPECT_EQ(v.selected, std::vector<int>({1, 3, 1, 3}));
    EXPECT_EQ(v.state.currentCamera, 3);
}

TEST(ViewerKeys, NextAndPreviousStopAtTheEndsAndClearOnlyWhenActing) {
    ConsoleCapture log;
    Viewer v(2);
    v.keys['Y'] = 1; // on camera 0: nothing, entry stays
    v.frame();
    EXPECT_EQ(v.keys['Y'], 1);
    v.keys['Y'] = 0;
    v.keys['X'] = 1;
    v.frame();
    EXPECT_EQ(v.state.currentCamera, 1);
    EXPECT_EQ(v.keys['X'], 0);
    v.keys['X'] = 1; // on the last camera: nothing
    v.frame();
    EXPECT_EQ(v.keys['X'], 1);
    v.keys['X'] = 0;
    v.keys['Y'] = 1;
    v.frame();
    EXPECT_EQ(v.state.currentCamera, 0);
    EXPECT_EQ(log.text, "Setting camera: 1 \nSetting camera: 0 \n");
    Viewer empty(0);
    empty.keys['X'] = 1;
    empty.frame();
    EXPECT_TRUE(empty.selected.empty());
}

TEST(ViewerKeys, SpeedClampsAndLogsEveryHeldFrame) {
    ConsoleCapture log;
    Viewer v(1);
    v.keys['A'] = 1;
    for (int i = 0; i < 12; ++i)
        v.frame();
    EXPECT_FLOAT_EQ(v.state.speedFactor, 0.1f);
    EXPECT_EQ(v.keys['A'], 1) << "A repeats while held";
    const std::string lastLine = "Speed is now 10 percent\n";
    EXPECT_EQ(log.text.substr(log.text.size() - lastLine.size()), lastLine);
    EXPECT_NE(log.text.find("Speed is now 90 percent\n"), std::string::npos) << log.text;
    int lines = 0;
    for (char c : log.text)
        lines += c == '\n';
    EXPECT_EQ(lines, 12);
    v.keys['A'] = 0;
    v.keys['S'] = 1;
    for (int i = 0; i < 40; ++i)
        v.frame();
    EXPECT_FLOAT_EQ(v.state.speedFactor, 3.0f);
    EXPECT_EQ(log.text.substr(log.text.size() - 25), "Speed is now 300 percent\n");
}

TEST(ViewerKeys, SpaceFreezesTheClockAndResumingJumpsAhead) {
    Viewer v(1);
    v.keys[kVkSpace] = 1;
    v.frame(5000);
    EXPECT_TRUE(v.state.paused);
    EXPECT_EQ(v.keys[kVkSpace], 0);
    EXPECT_EQ(viewerClock(v.state, 15000), 5000u);
    EXPECT_FLOAT_EQ(viewerSceneSeconds(v.state, viewerClock(v.state, 15000), 1000), 4.0f);
    v.keys[kVkSpace] = 1;
    v.frame(15000);
    EXPECT_FALSE(v.state.paused);
    // Pausing does not move the start: ten seconds paused are ten seconds skipped.
    EXPECT_FLOAT_EQ(viewerSceneSeconds(v.state, viewerClock(v.state, 15000), 1000), 14.0f);
}

TEST(ViewerKeys, SceneTimeScalesTheWholeElapsedTimeAcrossTheClockWrap) {
    ViewerKeyState s;
    s.speedFactor = 0.5f;
    EXPECT_FLOAT_EQ(viewerSceneSeconds(s, 0x00000010u, 0xFFFFFFF0u), 0.016f);
    s.speedFactor = 2.0f;
    EXPECT_FLOAT_EQ(viewerSceneSeconds(s, 4000, 1000), 6.0f);
}

} // namespace

namespace {

TEST(ViewerKeys, PausedArrowsStepOneThirtiethAndHomeGoesToTheFirstTime) {
    Viewer v(1);
    v.state.startMs = 1000;
    v.state.timeStartSeconds = 0.5f;
    v.keys[kVkRight] = 1;
    v.frame(3000); // running: the arrows do nothing and stay set
    EXPECT_EQ(v.keys[kVkRight], 1);
    EXPECT_EQ(viewerSceneSeconds(v.state, 3000, 1000), 2.0f) << "no offset: the time as always";
    v.keys[kVkRight] = 0;
    v.keys[kVkSpace] = 1;
    v.frame(3000); // pause at 2 s
    const struct {
        int key;
        int presses;
        float seconds;
    } steps[] = {{kVkRight, 3, 2.1f}, {kVkLeft, 1, 2.0f + 2.0f / 30.0f}, {kVkLeft, 2, 2.0f}};
    for (const auto& s : steps) {
        for (int i = 0; i < s.presses; ++i) {
            v.keys[s.key] = 1;
            v.frame(9000); // the live clock moves on; the paused scene does not
            EXPECT_EQ(v.keys[s.key], 0) << "one step per press";
        }
        EXPECT_NEAR(viewerSceneSeconds(v.state, viewerClock(v.state, 9000), 1000), s.seconds,
                    1e-5f);
    }
    v.keys[kVkHome] = 1;
    v.frame(9000);
    EXPECT_NEAR(viewerSceneSeconds(v.state, viewerClock(v.state, 9000), 1000), 0.5f, 1e-5f);
    // Home while running at half speed: the scene restarts from its first time and runs on.
    v.keys[kVkSpace] = 1;
    v.frame(9000);
    v.state.speedFactor = 0.5f;
    v.keys[kVkHome] = 1;
    v.frame(11000);
    EXPECT_NEAR(viewerSceneSeconds(v.state, 11000, 1000), 0.5f, 1e-5f);
    EXPECT_NEAR(viewerSceneSeconds(v.state, 13000, 1000), 1.5f, 1e-5f);
}

} // namespace
