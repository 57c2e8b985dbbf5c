// The player in demo mode, run as a user would: headless, deterministic, on small data sets.
#include "demo/demo_fixture.h"
#include "e2e/run_binary.h"
#include "platform/paths.h"
#include "image/image_loaders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --dxt: these runs keep the compression path covered on a software renderer too.
std::vector<std::string> headless(const std::string& data, std::vector<std::string> more) {
    std::vector<std::string> args = {"--headless", "--console", "--dxt", "--size",
                                     "160x120",    "--data",    data};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DemoEndToEnd, LoadsTheWholeSetThenStartsTheFirstCue) {
    ASSERT_FALSE(demoFixture().empty());
    const BinaryRun run =
        runBinary(QUILM_BIN, headless(demoFixture(), {"--fixed-step", "0.04", "--frames", "3"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string& out = run.out;
    EXPECT_NE(out.find("Loading image file: loading.jpg\n"), std::string::npos) << out;
    EXPECT_EQ(count(out, "No hidetrack found!\n"), 6);
    EXPECT_EQ(count(out, "Loading image file: "), 6);
    EXPECT_EQ(out.find("Failed"), std::string::npos);
    EXPECT_EQ(out.find("Wrong cam id"), std::string::npos);
    EXPECT_EQ(out.find("Software renderer"), std::string::npos) << "--dxt keeps compression";
    EXPECT_EQ(out.find("No audio device"), std::string::npos) << "lock-step opens no device";
    EXPECT_EQ(count(out, "timer "), 1);
    EXPECT_NE(out.find("timer 1 started at 0:0, duration 128\n"), std::string::npos);

    // In real time without an audio device the demo still plays, silent, and says so once.
    const BinaryRun silent = runBinary(QUILM_BIN, headless(demoFixture(), {"--frames", "3"}), {},
                                       {"SDL_AUDIODRIVER=no-such-driver"});
    EXPECT_EQ(silent.status, 0) << silent.err;
    EXPECT_EQ(count(silent.out, "No audio device ("), 1) << silent.out;
    EXPECT_NE(silent.out.find("the music runs silent \ntimer 1 started at 0:0"), std::string::npos)
        << silent.out;
}

TEST(DemoEndToEnd, FatalInitErrorsExitWithStatusOne) {
    const std::string root = scratchDirectory("demo-fatal");
    DemoFixtureOptions noFluss;
    noFluss.withFluss = false;
    DemoFixtureOptions damaged;
    damaged.damagedModule = true;
    ASSERT_TRUE(writeDemoFixture(root + "/no-fluss", noFluss));
    ASSERT_TRUE(writeDemoFixture(root + "/damaged", damaged));
    const struct {
        std::string data, outPart, errPart;
    } cases[] = {
        {root + "/missing", "", "no demo data in " + root + "/missing"},
        // The log's own line, then the file and the system's reason, also on standard error.
        {root + "/no-fluss",
         "Failed: File not found!\nDemo scene fluss.q3d: No such file or directory\n",
         "no-fluss" + std::string(1, kPathSeparator) + "fluss.q3d: No such file or directory\n"},
        {root + "/damaged", "BASS music load failed.\n", ""},
    };
    for (const auto& c : cases) {
        const BinaryRun run = runBinary(QUILM_BIN, headless(c.data, {"--frames", "2"}));
        EXPECT_EQ(run.status, 1) << c.data;
        EXPECT_NE(run.out.find(c.outPart + "Init error. Fatal. Exiting.\n"), std::string::npos)
            << run.out;
        EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
        EXPECT_EQ(run.err.substr(run.err.size() - 25), "Error: Fatal init error!\n") << run.err;
        EXPECT_EQ(run.out.find("timer "), std::string::npos) << "no frame after a fatal error";
    }
    // The first scene loaded before the second was missed: the bar stood at 2 of 13.
    const BinaryRun noSecond = runBinary(QUILM_BIN, headless(root + "/no-fluss", {}));
    EXPECT_EQ(count(noSecond.out, "Scene has "), 1);
    const BinaryRun missing = runBinary(QUILM_BIN, headless(root + "/missing", {}));
    EXPECT_NE(missing.err.find("quilm-tool make-data DIR"), std::string::npos) << missing.err;
}

TEST(DemoEndToEnd, CompressedOnlySceneMissingLogoOrPictureStillPlay) {
    // Two sets: the leak checker of sanitizer builds trips over one that combines them.
    DemoFixtureOptions gzOnly;
    gzOnly.landschaftGzOnly = true;
    gzOnly.withLogo1 = false;
    DemoFixtureOptions noPicture;
    noPicture.withLoadingPicture = false;
    const std::string root = scratchDirectory("demo-variants");
    ASSERT_TRUE(writeDemoFixture(root + "/gz-only", gzOnly));
    ASSERT_TRUE(writeDemoFixture(root + "/no-picture", noPicture));

    const BinaryRun run = runBinary(
        QUILM_BIN, headless(root + "/gz-only", {"--fixed-step", "0.04", "--frames", "2"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Hidetrack: landschaft.q3d.gz.hid.gz\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Failed. \n"), std::string::npos);
    EXPECT_NE(run.out.find("Loading image file: logo1.png\n"), std::string::npos);
    EXPECT_EQ(count(run.out, "Failed.\n"), 1) << "the logo";
    EXPECT_NE(run.out.find("timer 1 started"), std::string::npos);

    const BinaryRun bare = runBinary(
        QUILM_BIN, headless(root + "/no-picture", {"--fixed-step", "0.04", "--frames", "2"}));
    EXPECT_EQ(bare.status, 0) << bare.err;
    EXPECT_EQ(bare.out.find("Loading image file: loading.jpg\n"), bare.out.find("Loading image"));
    EXPECT_EQ(count(bare.out, "Failed.\n"), 1) << "the picture";
    EXPECT_NE(bare.out.find("timer 1 started"), std::string::npos);
}

TEST(DemoEndToEnd, ExitAtEndPlaysEveryCueInScriptOrder) {
    // Rows of 20 ms (speed 1, tempo 125): the whole tune in 42 s, two rows a 40 ms frame.
    DemoFixtureOptions fast;
    fast.speed = 1;
    fast.tempo = 125;
    const std::string dir = scratchDirectory("demo-fast");
    ASSERT_TRUE(writeDemoFixture(dir, fast));
    const BinaryRun run = runBinary(
        QUILM_BIN, headless(dir, {"--fixed-step", "0.04", "--size", "64x48", "--exit-at-end"}));
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<int> started;
    for (size_t at = run.out.find("timer "); at != std::string::npos;
         at = run.out.find("timer ", at + 1))
        started.push_back(std::atoi(run.out.c_str() + at + 6));
    std::vector<int> expected = {1, 100};
    for (int timer = 2; timer <= 46; ++timer)
        expected.push_back(timer);
    for (int timer : {102, 47, 48, 50, 123})
        expected.push_back(timer);
    EXPECT_EQ(started, expected);
}

TEST(DemoEndToEnd, GroupLogoInOrderOneAndRepeatableFrames) {
    const std::string dir = scratchDirectory("demo-shots");
    // Nine frames of 0.5 s from order 1: the logo pulse at t = 0.52, almost fully shown.
    std::string shots[2];
    std::string logs[2];
    for (int i = 0; i < 2; ++i) {
        shots[i] = dir + "/order1-" + std::to_string(i) + ".png";
        const BinaryRun run = runBinary(
            QUILM_BIN, headless(demoFixture(), {"--start", "1", "--fixed-step", "0.5", "--frames",
                                                "9", "--screenshot", shots[i]}));
        ASSERT_EQ(run.status, 0) << run.err;
        logs[i] = run.out;
    }
    EXPECT_NE(logs[0].find("timer 100 started at 0:1, duration 64\n"), std::string::npos);
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(readFile(shots[0]), readFile(shots[1]));

    FILE* file = std::fopen(shots[0].c_str(), "rb");
    ASSERT_NE(file, nullptr);
    int32_t w = 0, h = 0;
    uint8_t* pixels = loadPng(file, &w, &h); // closes the file
    ASSERT_NE(pixels, nullptr);
    auto at = [&](int x, int y) { return pixels + (size_t(y) * size_t(w) + size_t(x)) * 4; };
    const uint8_t* middle = at(w / 2, h / 2); // the white logo
    EXPECT_GT(middle[0] + middle[1] + middle[2], 3 * 230);
    const uint8_t* beside = at(w * 15 / 16, h / 2); // the shot beside it, under the film look
    EXPECT_LT(beside[0] + beside[1] + beside[2], 3 * 200);
    std::free(pixels);
}

TEST(DemoEndToEnd, StartOptionIsCheckedAndNamedInTheHelp) {
    for (const char* bad : {"x", "1:", ":3", "256", "1:256", "-1"}) {
        const BinaryRun run = runBinary(QUILM_BIN, {"--headless", "--start", bad});
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("--start"), std::string::npos) << run.err;
    }
    const BinaryRun help = runBinary(QUILM_BIN, {"--help"});
    for (const char* option : {"--data DIR", "--start ORDER[:ROW]", "--exit-at-end"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

} // namespace
