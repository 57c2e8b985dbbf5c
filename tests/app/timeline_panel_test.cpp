// The F2 timeline: lanes over the cue sheet, pixels to positions, click against drag, and the
// panel in the main loop on a headless window with the test demo playing in lock-step.
#include "app/gl_window.h"
#include "app/headless.h"
#include "app/player.h"
#include "app/timeline_panel.h"

#include "demo/demo_fixture.h"
#include "demo/demo_loading.h"
#include "demo/music_time.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/music.h"
#include "platform/options.h"
#include "platform/timeline_overlay.h"
#include "scene/scene.h"
#include "support/console_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool overlaps(const Cue& a, const Cue& b) {
    return a.first <= b.last && b.first <= a.last;
}

TEST(TimelineLanes, NoTwoCuesOfALaneOverlapAndTouchingWindowsAreApart) {
    DemoManifest sheet = builtInDemoManifest();
    const int32_t builtInCount = sheet.cueCount;
    // Inclusive windows: one ending where the next begins shares that row.
    const int32_t extra[][2] = {{0, 10}, {10, 20}, {21, 30}, {5, 5}};
    for (const auto& window : extra) {
        Cue& cue = sheet.cues[sheet.cueCount++];
        cue = Cue{};
        cue.first = 40 * 256 + window[0];
        cue.last = 40 * 256 + window[1];
        cue.scene = kNoDemoScene;
    }
    static int32_t lanes[kMaxCues];
    const int32_t laneCount = assignCueLanes(sheet, lanes);
    for (int32_t i = 0; i < sheet.cueCount; ++i) {
        ASSERT_GE(lanes[i], 0) << i;
        ASSERT_LT(lanes[i], laneCount) << i;
        for (int32_t j = i + 1; j < sheet.cueCount; ++j) {
            if (lanes[i] == lanes[j]) {
                EXPECT_FALSE(overlaps(sheet.cues[i], sheet.cues[j])) << i << " " << j;
            }
        }
    }
    const int32_t* added = lanes + builtInCount;
    EXPECT_NE(added[0], added[1]) << "inclusive windows share their touching row";
    EXPECT_EQ(added[1], added[3]) << "greedy: the lane free after row 5 is taken at row 10";
    EXPECT_EQ(added[2], added[0]);

    char label[kTimelineLabelBytes];
    formatCueLabel(sheet, sheet.cues[0], label, sizeof label);
    EXPECT_STREQ(label, "landschaft 15");
    formatCueLabel(sheet, sheet.cues[1], label, sizeof label);
    EXPECT_STREQ(label, "pulse");
}

TEST(TimelineMapping, PixelsToPositionsAtTheEdgesAndBetween) {
    const int32_t rows[] = {64, 32, 0, 64}; // a separator order counts as one row
    const float width = 400.0f;             // 100 pixels an order
    const struct {
        float x;
        int32_t position;
    } cases[] = {
        {-20.0f, 0},         {0.0f, 0},          {1.5f, 0},        {1.6f, 1},     {99.9f, 63},
        {100.0f, 256},       {150.0f, 256 + 16}, {200.0f, 512},    {299.0f, 512}, {300.0f, 768},
        {399.99f, 768 + 63}, {400.0f, 768 + 63}, {1e9f, 768 + 63}, {NAN, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timelinePositionAt(c.x, width, rows, 4), c.position) << c.x;
    EXPECT_EQ(timelinePositionAt(50.0f, 0.0f, rows, 4), 0);
    EXPECT_EQ(timelinePositionAt(50.0f, width, rows, 0), 0);
    // Each row's left edge maps back to that row; past an order's rows is its right edge.
    for (int32_t order = 0; order < 4; ++order)
        for (int32_t row = 0; row < std::max(rows[order], 1); ++row) {
            const int32_t position = order * 256 + row;
            EXPECT_EQ(
                timelinePositionAt(timelineXOf(position, width, rows, 4) + 0.01f, width, rows, 4),
                position);
        }
    EXPECT_FLOAT_EQ(timelineXOf(4 * 256, width, rows, 4), width);
    EXPECT_FLOAT_EQ(timelineXOf(-1, width, rows, 4), 0.0f);
}

TEST(TimelineGesture, AMoveShorterThanTheThresholdIsAClickLongerADragEitherWay) {
    int32_t rows[33];
    for (int32_t& r : rows)
        r = 64;
    const float width = 330.0f; // 10 pixels an order
    const struct {
        float press, release;
        TimelineActionKind kind;
        int32_t a, b; // seek: order, row; loop: first and last order
    } cases[] = {
        {55.0f, 55.0f, TimelineActionKind::seek, 5, 32},
        {55.0f, 58.9f, TimelineActionKind::seek, 5, 32},
        {55.0f, 51.1f, TimelineActionKind::seek, 5, 32},
        {55.0f, 59.0f, TimelineActionKind::loop, 5, 5},
        {55.0f, 85.0f, TimelineActionKind::loop, 5, 8},
        {85.0f, 55.0f, TimelineActionKind::loop, 5, 8},
        {-30.0f, 500.0f, TimelineActionKind::loop, 0, 32},
    };
    for (const auto& c : cases) {
        const TimelineAction action = timelineGestureAction(c.press, c.release, width, rows, 33);
        ASSERT_EQ(action.kind, c.kind) << c.press << " " << c.release;
        if (c.kind == TimelineActionKind::seek) {
            EXPECT_EQ(action.order, c.a);
            EXPECT_EQ(action.row, c.b);
        } else {
            EXPECT_EQ(action.firstOrder, c.a);
            EXPECT_EQ(action.lastOrder, c.b);
        }
    }
    EXPECT_EQ(timelineGestureAction(0.0f, 100.0f, width, rows, 0).kind, TimelineActionKind::none);
}

constexpr int kWidth = 330, kHeight = 240;

class TimelinePanelTest : public ::testing::Test {
  protected:
    MainLoop loop;
    ConsoleCapture log;
    void SetUp() override {
        ASSERT_TRUE(useHeadlessVideo());
        setupOptions = SetupOptions{};
        setupOptions.width = kWidth;
        setupOptions.height = kHeight;
        ASSERT_TRUE(createGLWindow(kWidth, kHeight, 32, false));
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        useFixedStepClock(40000);
        useMusicLockStep(40000);
        DemoLoadRequest request;
        request.dataDirectory = demoFixture().c_str();
        request.startOrder = 11;
        ASSERT_TRUE(loadDemoData(request));
        for (int32_t o = 0; o < musicOrderCount(); ++o)
            rows[o] = musicPatternRowsAt(o);
    }
    void TearDown() override {
        releaseTimelineOverlay();
        releaseDemoData();
        closeMusicOutput();
        setMusicLoop(-1, -1);
        useMusicLockStep(0);
        destroyGLWindow();
        useRealClock();
        clearKeyTable();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void run(int frames) {
        loop.frameLimit = loop.framesDrawn + frames;
        runMainLoop(loop);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void tapF2() {
        pushKey(SDLK_F2, SDL_SCANCODE_F2, true);
        pushKey(SDLK_F2, SDL_SCANCODE_F2, false);
    }
    // Where on the strip a position lies, and what a press at that whole pixel means.
    int32_t rows[kTimelineMaxOrders] = {};
    const float stripWidth = float(kWidth) - 2.0f * kTimelineInset;
    float xOf(int32_t order, int32_t row) const {
        return std::round(kTimelineInset +
                          timelineXOf(order * 256 + row, stripWidth, rows, musicOrderCount()));
    }
    int32_t positionAt(float x) const {
        return timelinePositionAt(x - kTimelineInset, stripWidth, rows, musicOrderCount());
    }
    // The presented frame's bottom third, where the panel lies.
    static std::vector<uint8_t> presentedBottom() {
        std::vector<uint8_t> pixels(size_t(kWidth) * (kHeight / 3) * 4);
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, kWidth, kHeight / 3, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        glReadBuffer(GL_BACK);
        return pixels;
    }
    static int differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        int count = 0;
        for (size_t i = 0; i < a.size(); i += 4)
            count += std::memcmp(&a[i], &b[i], 3) != 0;
        return count;
    }
};

TEST_F(TimelinePanelTest, F2ShowsThePanelAndHidesItAgainAndAHiddenPanelTakesNoClick) {
    run(1);
    const std::vector<uint8_t> plain = presentedBottom();
    tapF2();
    run(1);
    EXPECT_TRUE(loop.timelineShown);
    const std::vector<uint8_t> shown = presentedBottom();
    EXPECT_GT(differing(plain, shown), kWidth * 20) << "the panel covers the bottom";
    tapF2();
    run(1);
    EXPECT_FALSE(loop.timelineShown);
    EXPECT_LT(differing(plain, presentedBottom()), kWidth * 2) << "and is gone again";

    // The panel's place, clicked while it is hidden, does nothing.
    const int32_t before = cuePosition();
    pushMouseButton(xOf(25, 0), kHeight - 20.0f, true);
    pushMouseButton(xOf(25, 0), kHeight - 20.0f, false);
    run(2);
    EXPECT_LT(musicOrder(), 13);
    EXPECT_GE(cuePosition(), before);

    // The viewer has nothing to lay out: F2 is ignored there.
    MainLoop viewer;
    Scene* scene = createScene();
    viewer.scene = scene;
    viewer.viewer = true;
    viewer.frameLimit = 1;
    tapF2();
    runMainLoop(viewer);
    EXPECT_FALSE(viewer.timelineShown);
    destroyScene(scene);
}

TEST_F(TimelinePanelTest, AClickSeeksToItsRowAndClearsTheCueTimersADragLoopsOrders) {
    tapF2();
    run(3);
    ASSERT_TRUE(loop.timelineShown);
    int32_t drawing = -1; // a cue drawing at 11, which 20 lies outside of
    for (int32_t i = 0; i < demoData.manifest->cueCount; ++i) {
        const Cue& cue = demoData.manifest->cues[i];
        if (cue.first <= cuePosition() && cuePosition() <= cue.last && cue.last < 20 * 256)
            drawing = cue.timer;
    }
    ASSERT_GE(drawing, 0);
    ASSERT_NE(cueTimers()[drawing], kCueNotStarted);

    const float x = xOf(20, 32);
    const int32_t clicked = positionAt(x);
    ASSERT_EQ(clicked / 256, 20);
    pushMouseButton(x, kHeight - 20.0f, true);
    pushMouseButton(x, kHeight - 20.0f, false);
    run(1); // the click is taken as the panel is drawn, after this frame's demo
    EXPECT_EQ(cueTimers()[drawing], kCueNotStarted);
    run(1);
    EXPECT_EQ(musicOrder(), 20);
    EXPECT_EQ(musicRow(), clicked % 256);
    EXPECT_EQ(cueTimers()[drawing], kCueNotStarted);
    EXPECT_FALSE(loop.loopOrders) << "a click is not a loop";

    // A drag, right to left, over orders 5 to 8: the loop, which takes the music there.
    pushMouseButton(xOf(8, 40), kHeight - 20.0f, true);
    SDL_Event move{};
    move.type = SDL_MOUSEMOTION;
    move.motion.x = int(xOf(6, 0));
    move.motion.y = kHeight - 20;
    SDL_PushEvent(&move);
    pushMouseButton(xOf(5, 10), kHeight - 20.0f, false);
    run(3);
    EXPECT_TRUE(loop.loopOrders);
    EXPECT_EQ(loop.loopFirst, 5);
    EXPECT_EQ(loop.loopLast, 8);
    EXPECT_EQ(musicOrder(), 5);

    // A click outside the loop ends it, or the music would be taken straight back.
    pushMouseButton(xOf(12, 0) + 1.0f, kHeight - 20.0f, true);
    pushMouseButton(xOf(12, 0) + 1.0f, kHeight - 20.0f, false);
    run(2);
    EXPECT_FALSE(loop.loopOrders);
    EXPECT_EQ(musicOrder(), 12);
}

} // namespace
