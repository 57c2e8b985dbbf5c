// The demo's drawing on a headless context: colour overlays, the loading bar, and whole demo
// frames from the test data set with the music in lock-step.
#include "demo/demo_fixture.h"
#include "demo/demo_frames.h"
#include "demo/demo_loading.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "demo/overlays.h"
#include "e2e/run_binary.h"
#include "image/texture.h"
#include "platform/clock.h"
#include "platform/music.h"
#include "render/render_fixture.h"
#include "scene/scene.h"
#include "support/console_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

using rendertest::kSize;
using rendertest::near;
using rendertest::RenderTest;
using rendertest::Rgba;

void clearTo(float r, float g, float b) {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(r, g, b, 0.0f);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

using Overlay = RenderTest;

TEST_F(Overlay, BlendsByAlphaClampedAtBothEnds) {
    const struct {
        float alpha;
        Rgba want;
    } cases[] = {{0.5f, {128, 0, 127}},
                 {-0.5f, {255, 0, 0}},
                 {0.0f, {255, 0, 0}},
                 {1.0f, {0, 0, 255}},
                 {2.0f, {0, 0, 255}}};
    for (const auto& c : cases) {
        clearTo(1, 0, 0);
        drawColorOverlay(-1, 0.0f, 0.0f, 1.0f, c.alpha);
        EXPECT_TRUE(near(pixel(5, 50), c.want, 2)) << c.alpha;
    }
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(Overlay, StencilReferenceLimitsItThenTheTestIsOff) {
    clearTo(1, 0, 0);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, kSize / 2, kSize);
    glClearStencil(7);
    glClear(GL_STENCIL_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    drawColorOverlay(7, 1.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_TRUE(near(pixel(5, 30), {255, 255, 255}));
    EXPECT_TRUE(near(pixel(60, 30), {255, 0, 0}));
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
}

using LoadingScreen = RenderTest;

TEST_F(LoadingScreen, BarGrowsInThirteenStepsToItsFullWidth) {
    // Without a loading picture the screen is grey, so the black bar shows. The bar spans
    // x from -0.675 to progress / 13 * 1.35 - 0.675, y from -0.62 to -0.56 (row 13 of 64).
    demoData.loadingPicture = nullptr;
    const struct {
        int progress, lastBlack, firstGrey;
    } cases[] = {{1, 13, 14}, {2, 16, 17}, {13, 53, 54}};
    for (const auto& c : cases) {
        demoData.progress = c.progress;
        drawLoadProgress(1.0f);
        EXPECT_TRUE(near(pixel(11, 13), {0, 0, 0})) << c.progress;
        EXPECT_TRUE(near(pixel(c.lastBlack, 13), {0, 0, 0})) << c.progress;
        EXPECT_TRUE(near(pixel(c.firstGrey, 13), {128, 128, 128}, 2)) << c.progress;
        EXPECT_TRUE(near(pixel(9, 13), {128, 128, 128}, 2)) << c.progress;
        EXPECT_TRUE(near(pixel(c.lastBlack, 15), {128, 128, 128}, 2)) << c.progress;
        EXPECT_TRUE(near(pixel(c.lastBlack, 11), {128, 128, 128}, 2)) << c.progress;
    }
    demoData.progress = 0;
}

// The whole data set loaded in-process, the clock and the music stepping 40 ms per frame.
using DemoFrames = DemoFrameTest;

TEST_F(DemoFrames, CuesStartOnFirstSightAndSeeksRestartThem) {
    ASSERT_FALSE(demoFixture().empty());
    ConsoleCapture log;
    DemoLoadRequest request;
    request.dataDirectory = demoFixture().c_str();
    ASSERT_TRUE(loadDemoData(request));
    EXPECT_EQ(demoData.progress, 13);
    for (int i = 0; i < kMaxDemoScenes; ++i)
        EXPECT_EQ(demoData.scenes[i] != nullptr, i < kDemoSceneCount) << i;
    EXPECT_EQ(log.text.find("Failed"), std::string::npos) << log.text;

    log.text.clear();
    EXPECT_TRUE(frame());
    EXPECT_EQ(log.text, "timer 1 started at 0:0, duration 128\n");
    EXPECT_TRUE(near(pixel(2, 2), {0, 0, 0})) << "the fade in starts fully black";
    for (int i = 0; i < 130; ++i) // 5.2 s: past the first third of the 15.4 s cue
        frame();
    const FixtureColour& sky = kFixtureBackgrounds[Landschaft];
    EXPECT_TRUE(near(pixel(2, 2), {sky.r, sky.g, sky.b}));

    struct Step {
        void (*seek)();
        const char* log;
    } const steps[] = {
        {seekMusicForward,
         "timer 1 started at 0:1, duration 128\ntimer 100 started at 0:1, duration 64\n"},
        {seekMusicBack, ""}, // no step back from order 1, and the timers run on
        {seekMusicForward, "timer 2 started at 0:2, duration 64\n"},
        {seekMusicBack,
         "timer 1 started at 0:1, duration 128\ntimer 100 started at 0:1, duration 64\n"},
        {seekMusicForward, "timer 2 started at 0:2, duration 64\n"},
    };
    for (const Step& step : steps) {
        log.text.clear();
        step.seek();
        frame();
        EXPECT_EQ(log.text, step.log);
    }
    for (int i = 0; i < 96; ++i) // to t = 0.5 of cue 2: its logo at full strength
        frame();
    EXPECT_TRUE(near(pixel(kSize / 2, kSize / 2), {255, 255, 0}));

    for (int order = 3; order <= 32; ++order) {
        seekMusicForward();
        frame();
    }
    ASSERT_EQ(musicOrder(), 32);
    int frames = 0;
    while (frame() && frames < 400)
        ++frames;
    EXPECT_NEAR(frames, 190, 2) << "63 rows of 3500/29 ms at 40 ms a frame";
    EXPECT_EQ(cuePosition(), kDemoEndFirst) << "over from the last row on";
    while (cuePosition() == kDemoEndFirst && frames++ < 400)
        frame();
    // Past the last row the script neither clears nor draws.
    clearTo(1, 0, 1);
    EXPECT_FALSE(frame());
    EXPECT_TRUE(near(pixel(30, 30), {255, 0, 255}));
}

// What each presented loading frame shows: the bar of the steps counted so far, from the
// picture alone (none) to the full bar, one step per present.
TEST_F(DemoFrames, LoadingPresentsTheBarOfEachStepAsItIsCounted) {
    ASSERT_FALSE(demoFixture().empty());
    struct Shown {
        int progress, barPixels;
    };
    static std::vector<Shown> shown;
    shown.clear();
    DemoLoadRequest request;
    request.dataDirectory = demoFixture().c_str();
    request.present = [] {
        glFinish();
        int bar = 0; // black pixels on the bar's row, over the yellow picture
        for (int x = 0; x < kSize; ++x) {
            const Rgba p = pixel(x, 13);
            bar += p.r < 40 && p.g < 40 && p.b < 40;
        }
        shown.push_back({demoData.progress, bar});
    };
    ASSERT_TRUE(loadDemoData(request));
    ASSERT_EQ(shown.size(), size_t(kDemoProgressSteps + 1));
    for (int step = 0; step <= kDemoProgressSteps; ++step) {
        EXPECT_EQ(shown[size_t(step)].progress, step);
        // From x = -0.675 to step / 13 * 1.35 - 0.675: pixel centres from 10.5 up.
        const float right = 10.4f + float(step) * 1.35f / 13.0f * float(kSize / 2);
        const int want = int(std::ceil(right - 0.5f)) - 10;
        EXPECT_NEAR(shown[size_t(step)].barPixels, want, 1) << "step " << step;
    }
}

// Both ends of every cue window, and the rows just outside them, drawn into a cleared frame:
// the shot's background in the corner (half dark under the final fade), a pulsing logo in the
// centre. Every cue is put half-way through its timer, where no fade covers the shot and a
// pulse is at full strength.
TEST_F(DemoFrames, EveryCueWindowDrawsFromItsFirstToItsLastRow) {
    ASSERT_FALSE(demoFixture().empty());
    DemoLoadRequest request;
    request.dataDirectory = demoFixture().c_str();
    ASSERT_TRUE(loadDemoData(request));
    const Rgba unset = {255, 0, 255};
    const Rgba logoColours[kDemoLogoCount] = {
        {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    auto active = [](const Cue& cue, int32_t p) { return p >= cue.first && p <= cue.last; };
    std::set<int32_t> positions;
    for (const Cue& cue : kCues) {
        for (int32_t p : {cue.first, cue.last})
            positions.insert(p);
        if (cue.first > 0)
            positions.insert(cue.first % 256 == 0 ? cue.first - 256 + 63 : cue.first - 1);
        if (cue.last < kDemoEndFirst)
            positions.insert(cue.last % 256 == 63 ? cue.last + 256 - 63 : cue.last + 1);
    }
    for (int32_t p : positions) {
        SCOPED_TRACE(std::to_string(p / 256) + ":" + std::to_string(p % 256));
        ASSERT_TRUE(playMusic(p / 256, p % 256));
        for (const Cue& cue : kCues)
            cueTimers()[cue.timer] = demoClock() - cueDurationMs(cue.rows) * 0.0005f;
        clearTo(1, 0, 1);
        frame();
        ASSERT_EQ(cuePosition(), p);
        const Cue* shown = nullptr;
        const Cue* pulse = nullptr;
        float darken = 0.0f;
        for (const Cue& cue : kCues) {
            if (!active(cue, p)) continue;
            if (cue.scene != kNoDemoScene) shown = &cue;
            if (cue.overlay == CueOverlay::LogoPulse) pulse = &cue;
            if (cue.overlay == CueOverlay::FinalFadeToBlack)
                darken = cueProgress(cue, cueTimers()[cue.timer], demoClock());
        }
        ASSERT_NE(shown, nullptr);
        const FixtureColour& sky = kFixtureBackgrounds[shown->scene];
        const float keep = 1.0f - darken;
        EXPECT_TRUE(near(pixel(2, 2), {int(sky.r * keep + 0.5f), int(sky.g * keep + 0.5f),
                                       int(sky.b * keep + 0.5f)}))
            << "timer " << shown->timer;
        for (int logo : {LogoQuilm, Logo1}) { // the pulsing ones
            const bool wanted = pulse && pulse->logo == logo;
            EXPECT_EQ(bool(near(pixel(kSize / 2, kSize / 2), logoColours[logo])), wanted)
                << "logo " << logo;
        }
        EXPECT_FALSE(near(pixel(kSize / 2, kSize / 2), unset));
    }
}

// The scene files are read ahead on the loading worker; whatever form a file has, the load
// logs and decides what loading that file by itself (where nothing reads ahead) does.
TEST_F(DemoFrames, ScenesReadAheadLoadAsTheirFilesDo) {
    const SceneFileForm forms[] = {SceneFileForm::plain, SceneFileForm::gzip,
                                   SceneFileForm::gzipTwice, SceneFileForm::gzipCut,
                                   SceneFileForm::gzipDamaged};
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    for (SceneFileForm form : forms) {
        SCOPED_TRACE(int(form));
        DemoFixtureOptions options;
        options.flussForm = form;
        const std::string dir =
            scratchDirectory(("demo-form-" + std::to_string(int(form))).c_str());
        ASSERT_TRUE(writeDemoFixture(dir, options));
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ConsoleCapture alone;
        Scene* fluss = loadDemoScene("fluss.q3d");
        ASSERT_EQ(chdir(home), 0);
        const bool loads = fluss != nullptr;
        destroyScene(fluss);
        EXPECT_EQ(loads, form == SceneFileForm::plain || form == SceneFileForm::gzip);

        ConsoleCapture log;
        DemoLoadRequest request;
        request.dataDirectory = dir.c_str();
        EXPECT_EQ(loadDemoData(request), loads);
        EXPECT_NE(log.text.find(alone.text), std::string::npos) << log.text;
        releaseDemoData();
    }
}

} // namespace
