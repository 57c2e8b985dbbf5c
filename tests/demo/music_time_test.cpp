#include "demo/music_time.h"

#include "platform/clock.h"
#include "platform/music.h"
#include "support/console_capture.h"
#include "support/module_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using modulewriter::simpleModule;

TEST(MusicPositionWord, DecodesOrderLowAndSignedRowHigh) {
    const struct {
        uint32_t word;
        int32_t order, row;
    } cases[] = {
        {0x00000000u, 0, 0},      {0x003F0020u, 32, 63},        {0x00010005u, 5, 1},
        {0xFFFFFFFFu, 65535, -1}, {0x8000FFFFu, 65535, -32768}, {0x7FFF0000u, 0, 32767},
    };
    for (const auto& c : cases) {
        int32_t order = 0, row = 0;
        decodeMusicPosition(c.word, &order, &row);
        EXPECT_EQ(order, c.order) << std::hex << c.word;
        EXPECT_EQ(row, c.row) << std::hex << c.word;
    }
    EXPECT_EQ(packMusicPosition(true, 32, 63), 0x003F0020u);
    EXPECT_EQ(packMusicPosition(false, 3, 4), 0xFFFFFFFFu);
}

// Deterministic demo runs: virtual clock and music in lock-step at 1/60 s.
struct DemoMusic : ::testing::Test {
    static constexpr uint64_t kStep = 16667;
    ConsoleCapture console;
    void SetUp() override {
        useFixedStepClock(kStep, 5000);
        useMusicLockStep(kStep);
        beginDemoClock();
    }
    void TearDown() override {
        releaseMusic();
        closeMusicOutput();
        useMusicLockStep(0);
        useRealClock();
    }
    static std::string demoModule() {
        // XM bytes under the demo's name: the module is read by content.
        static const std::string path = writeTestModule("tune.mo3", simpleModule(33, 7, 145));
        return path;
    }
    static void frames(int n) {
        for (int i = 0; i < n; ++i) {
            updateDemoClock();
            advanceFixedStepClock();
        }
    }
};

TEST_F(DemoMusic, ClockCountsFromLoadingAndPositionFollowsTheMusic) {
    frames(90); // loading takes 1.5 s of virtual time
    EXPECT_FLOAT_EQ(demoClock(), 1.483f);
    ASSERT_TRUE(startMusic(demoModule().c_str(), 0, 0));
    EXPECT_EQ(console.text, "") << "a well-formed 33-order module plays without a word";
    // Frame k after the start hears k * 735 frames; rows of 3500/29 ms.
    for (int k = 0; k <= 600; ++k) {
        updateDemoClock();
        const int expectedRow = int(k * 735.0 / kRowFrames);
        const double intoRow = k * 735.0 / kRowFrames - expectedRow;
        if (intoRow > 0.05 && intoRow < 0.95) { // clear of the boundaries
            EXPECT_EQ(musicOrder() * 64 + musicRow(), expectedRow) << "frame " << k;
            EXPECT_EQ(cuePosition(), musicOrder() * 256 + musicRow());
        }
        advanceFixedStepClock();
    }
    EXPECT_EQ(musicOrder(), 1); // 600 frames = 10 s = 82.9 rows
    EXPECT_EQ(musicRow(), 18);
    EXPECT_FLOAT_EQ(demoClock(), 11.5f); // 690 steps of 16667 us since the clock began
}

TEST_F(DemoMusic, SeeksMoveByOneOrderAndClearTheCueTimers) {
    ASSERT_TRUE(startMusic(demoModule().c_str(), 0, 0));
    const struct {
        int startOrder;
        bool forward;
        int order; // after the seek and one frame
        bool cleared;
    } cases[] = {
        {0, true, 1, true},  {5, true, 6, true},    {0, false, 0, false}, {1, false, 1, false},
        {2, false, 1, true}, {32, false, 31, true}, {32, true, 32, true}, // past the end: passed
                                                                          // on, the library keeps
                                                                          // playing
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(playMusic(c.startOrder, 10));
        frames(3);
        ASSERT_EQ(musicOrder(), c.startOrder);
        cueTimers()[0] = 2.5f;
        cueTimers()[kCueTimerCount - 1] = 0.0f;
        if (c.forward)
            seekMusicForward();
        else
            seekMusicBack();
        frames(1);
        EXPECT_EQ(musicOrder(), c.order) << c.startOrder << (c.forward ? " forward" : " back");
        EXPECT_EQ(musicRow(), c.order == c.startOrder ? 10 : 0);
        EXPECT_EQ(cueTimers()[0] == kCueNotStarted, c.cleared);
        EXPECT_EQ(cueTimers()[kCueTimerCount - 1] == kCueNotStarted, c.cleared);
    }
}

// --loop 2:3 while the heard position lags behind what was rendered: after the jump the queue
// still plays order 4 for a while. The loop neither jumps again for it nor lets a cue see it:
// until the loop's start is heard, the position is that start. Each pass past order 3 is one
// jump, one repeat and one clearing of the cue timers; a start inside the loop, on its first
// order too, plays on from there.
TEST_F(DemoMusic, LoopJumpsOncePerPassWhileTheHeardPositionLags) {
    ASSERT_TRUE(startMusic(demoModule().c_str(), 3, 48));
    const double rowSeconds = 3.5 / 29.0;
    const struct {
        int order, row;
        double lagRows;
    } cases[] = {{3, 48, 0.0},  {3, 48, 0.25}, {3, 48, 3.0},
                 {3, 48, 20.0}, {2, 10, 0.0},  {2, 0, 2.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.order) + ":" + std::to_string(c.row) + " lag " +
                     std::to_string(c.lagRows));
        setMusicQueueDepth(int(c.lagRows * kRowFrames));
        ASSERT_TRUE(playMusic(c.order, c.row));
        setMusicLoop(2, 3);
        int clearings = 0, outside = 0;
        // To the first pass, a pass of 128 rows, the lag, and half a pass more.
        const int rows = (4 - c.order) * 64 - c.row + 128 + 64;
        const int count = int((rows + c.lagRows) * rowSeconds * 1e6 / double(kStep));
        for (int i = 0; i < count; ++i) {
            cueTimers()[7] = 1.0f;
            frames(1);
            clearings += cueTimers()[7] == kCueNotStarted;
            if (i == 0) {
                EXPECT_EQ(cuePosition(), c.order * 256 + c.row);
            }
            outside += musicOrder() < 2 || musicOrder() > 3;
        }
        EXPECT_EQ(musicLoopRepeats(), 2);
        EXPECT_EQ(clearings, 2);
        EXPECT_EQ(outside, 0) << "frames whose position lay outside the loop";
        EXPECT_GE(musicOrder(), 2);
        EXPECT_LE(musicOrder(), 3);
    }
    setMusicLoop(-1, -1);
    setMusicQueueDepth(-1);
}

TEST_F(DemoMusic, FailuresSayWhatFailedAndOnlyTheLoadAndPlayAreFatal) {
    const std::string dir = scratchDirectory("demo-music");
    const struct {
        std::string path;
        int order, row;
        bool starts;
        const char* lastLine;
    } cases[] = {
        {dir + "/tune.mo3", 0, 0, false, "BASS music load failed.\n"},
        {demoModule(), 33, 0, false, "BASS play failed.\n"},
        {demoModule(), 0, 64, false, "BASS play failed.\n"},
        {writeTestModule("short.xm", simpleModule(20, 7, 145)), 0, 0, true,
         "short.xm: 20 orders, the demo expects 33 \n"},
        {writeTestModule("long.xm", simpleModule(33, 7, 145, 128)), 0, 0, true,
         "long.xm: order 0 has 128 rows, the demo expects 64 \n"},
    };
    for (const auto& c : cases) {
        console.text.clear();
        EXPECT_EQ(startMusic(c.path.c_str(), c.order, c.row), c.starts) << c.path;
        const std::string& text = console.text;
        ASSERT_FALSE(text.empty());
        const size_t last = text.rfind('\n', text.size() - 2);
        const std::string lastLine = last == std::string::npos ? text : text.substr(last + 1);
        EXPECT_NE(lastLine.find(c.lastLine), std::string::npos) << text;
        EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 2) << text;
    }
}

TEST(DemoMusicSilent, WithoutASoundCardTheDemoStillRunsAndSaysSoOnce) {
    ConsoleCapture console;
    const char* saved = std::getenv("SDL_AUDIODRIVER");
    const std::string restore = saved ? saved : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    useFixedStepClock(50000);
    useMusicLockStep(0);
    beginDemoClock();
    const std::string path = writeTestModule("silent-demo.xm", simpleModule(33, 7, 145));
    EXPECT_TRUE(startMusic(path.c_str(), 3, 0));
    EXPECT_EQ(console.text.rfind("BASS init failed.\nNo audio device (", 0), 0u) << console.text;
    EXPECT_EQ(std::count(console.text.begin(), console.text.end(), '\n'), 2) << console.text;
    EXPECT_NE(console.text.find("the music runs silent \n"), std::string::npos);
    for (int i = 0; i < 20; ++i) { // one second on the clock
        updateDemoClock();
        advanceFixedStepClock();
    }
    updateDemoClock();
    EXPECT_EQ(musicOrder(), 3);
    EXPECT_EQ(musicRow(), 8);
    releaseMusic();
    closeMusicOutput();
    useRealClock();
    if (saved)
        setenv("SDL_AUDIODRIVER", restore.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
}

} // namespace
