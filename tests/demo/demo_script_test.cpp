#include "demo/demo_script.h"

#include "demo/demo_loading.h"
#include "demo/overlays.h"
#include "e2e/run_binary.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

TEST(CueList, TimersAreUniqueAndShotsTileEveryOrderWithoutOverlap) {
    std::set<int> timers;
    int owner[33 * 256];
    for (int& o : owner)
        o = -1;
    for (int i = 0; i < kCueCount; ++i) {
        const Cue& cue = kCues[i];
        EXPECT_TRUE(timers.insert(cue.timer).second) << "timer " << cue.timer;
        EXPECT_GE(cue.timer, 1);
        EXPECT_LT(cue.timer, 1024);
        EXPECT_LE(cue.first, cue.last);
        if (cue.scene == kNoDemoScene) continue;
        for (int p = cue.first; p <= cue.last; ++p) {
            if (p % 256 >= 64) continue; // rows a 64-row pattern never reaches
            EXPECT_EQ(owner[p], -1) << "cues " << owner[p] << " and " << cue.timer << " at " << p;
            owner[p] = cue.timer;
        }
    }
    for (int order = 0; order < 33; ++order)
        for (int row = 0; row < 64; ++row)
            EXPECT_NE(owner[order * 256 + row], -1) << order << ":" << row;
    EXPECT_EQ(timers.size(), 52u);
}

TEST(CueList, RowsMatchTheRowsEachWindowPlaysExceptTheLongFinale) {
    for (const Cue& cue : kCues) {
        int played = 0;
        for (int p = cue.first; p <= cue.last; ++p)
            played += p % 256 < 64;
        if (cue.timer == 50)
            EXPECT_EQ(played, 256); // nominally 192: its t runs to about 1.33
        else
            EXPECT_EQ(played, cue.rows) << "timer " << cue.timer;
    }
}

TEST(CueTiming, DurationsInSinglePrecisionAndUnclampedProgress) {
    const struct {
        int rows;
        float ms;
    } durations[] = {{16, 1931.0344f}, {32, 3862.0688f},  {64, 7724.1377f},
                     {96, 11586.207f}, {128, 15448.275f}, {192, 23172.414f}};
    for (const auto& d : durations)
        EXPECT_EQ(cueDurationMs(d.rows), d.ms) << d.rows;
    const Cue& finale = kCues[50];
    EXPECT_EQ(cueProgress(finale, 10.0f, 10.0f), 0.0f);
    EXPECT_NEAR(cueProgress(finale, 10.0f, 10.0f + 23.172414f), 1.0f, 1e-6f);
    EXPECT_NEAR(cueProgress(finale, 10.0f, 10.0f + 30.896552f), 4.0f / 3.0f, 1e-5f);
}

TEST(Overlays, PulseRisesToOneAtHalfAndVanishesAfterTheCue) {
    EXPECT_NEAR(logoPulseAlpha(0.0f), 0.0f, 1e-7f);
    EXPECT_EQ(logoPulseAlpha(0.5f), 1.0f);
    EXPECT_NEAR(logoPulseAlpha(1.0f / 6.0f), 0.5f, 1e-6f);
    EXPECT_LT(logoPulseAlpha(1.1f), 0.0f);
}

TEST(Overlays, OrbitLogosCircleTheCentreOnOneEllipse) {
    for (float seconds : {0.0f, 1.0f, 7.5f, 100.0f}) {
        for (int i = 0; i < 3; ++i) {
            const OrbitPlacement p = logoOrbitPlacement(i, seconds);
            const double u = seconds * 0.5 + 2.1 * i;
            EXPECT_FLOAT_EQ(p.box.width, 1.56f);
            EXPECT_FLOAT_EQ(p.box.height, i == 0 ? 0.84f : 1.2f);
            EXPECT_NEAR(p.box.x + p.box.width * 0.5, 0.325 * std::sin(u), 1e-5);
            EXPECT_NEAR(p.box.y + p.box.height * 0.5, 0.25 * std::cos(u), 1e-5);
            EXPECT_NEAR(p.alpha, (std::sin(seconds + 2.1 * i) + 1.0) * 0.5, 1e-5);
        }
    }
}

TEST(DemoDataDirectory, RequestedElseHereElseBesideTheProgram) {
    const std::string root = scratchDirectory("find-data");
    const std::string here = root + "/here", exeDir = root + "/bin";
    mkdir(here.c_str(), 0755);
    mkdir(exeDir.c_str(), 0755);
    mkdir((exeDir + "/data").c_str(), 0755);
    const std::string exe = exeDir + "/quilm";
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    char out[kDemoPathBytes], tried[2 * kDemoPathBytes];

    EXPECT_TRUE(findDemoDataDirectory(nullptr, exe.c_str(), out, sizeof out, tried, sizeof tried));
    EXPECT_EQ(std::string(out), exeDir + "/data");
    mkdir("data", 0755);
    EXPECT_TRUE(findDemoDataDirectory("", exe.c_str(), out, sizeof out, tried, sizeof tried));
    EXPECT_EQ(std::string(out), "data");
    EXPECT_TRUE(
        findDemoDataDirectory(exeDir.c_str(), exe.c_str(), out, sizeof out, tried, sizeof tried));
    EXPECT_EQ(std::string(out), exeDir);
    // A named folder that is missing is not replaced by another one.
    EXPECT_FALSE(findDemoDataDirectory("/nonexistent/set", exe.c_str(), out, sizeof out, tried,
                                       sizeof tried));
    EXPECT_EQ(std::string(tried), "/nonexistent/set");
    rmdir("data");
    rmdir((exeDir + "/data").c_str());
    EXPECT_FALSE(findDemoDataDirectory(nullptr, exe.c_str(), out, sizeof out, tried, sizeof tried));
    char cwd[4096]; // as the system spells it (Windows: backslashes)
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(tried),
              cwd + std::string(1, kPathSeparator) + "data and " + exeDir + "/data");
    // A result that does not fit is refused, never cut.
    char small[8];
    EXPECT_FALSE(
        findDemoDataDirectory(exeDir.c_str(), nullptr, small, sizeof small, tried, sizeof tried));
    ASSERT_EQ(chdir(home), 0);
}

} // namespace
