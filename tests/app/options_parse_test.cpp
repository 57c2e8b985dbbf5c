#include "app/options_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    bool ok;
    CommandLine line;
    std::string error;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quilm");
    Parsed p;
    char error[kParseErrorBytes] = {};
    p.ok =
        parseCommandLine(static_cast<int>(args.size()), args.data(), p.line, error, sizeof error);
    p.error = error;
    return p;
}

TEST(CommandLineParse, NoArgumentsMeansDialogAndDemo) {
    const Parsed p = parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.line.noDialog);
    EXPECT_EQ(p.line.scenePath[0], '\0');
    SetupOptions o;
    applyCommandLine(p.line, o);
    const SetupOptions d;
    EXPECT_EQ(o.width, d.width);
    EXPECT_EQ(o.fullscreen, d.fullscreen);
    EXPECT_EQ(o.consoleEnabled, d.consoleEnabled);
    EXPECT_EQ(o.useDxt, d.useDxt);
}

TEST(CommandLineParse, EveryOptionAndItsEffect) {
    const Parsed p = parse({"--no-dialog", "--windowed", "--size", "800x600", "--console",
                            "--no-dxt", "--low-memory", "--no-widescreen", "--always-in-front",
                            "--make-hidetrack", "--fixed-step", "0.04", "--frames", "12",
                            "--screenshot", "out.png", "--profile", "scene.q3d"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.line.fixedStepMicroseconds, 40000u);
    EXPECT_EQ(p.line.frames, 12);
    EXPECT_STREQ(p.line.screenshotPath, "out.png");
    EXPECT_TRUE(p.line.profile);
    EXPECT_STREQ(p.line.scenePath, "scene.q3d");
    SetupOptions o;
    applyCommandLine(p.line, o);
    EXPECT_FALSE(o.fullscreen);
    EXPECT_EQ(o.width, 800);
    EXPECT_EQ(o.height, 600);
    EXPECT_TRUE(o.consoleEnabled);
    EXPECT_TRUE(o.useExtensions);
    EXPECT_FALSE(o.useDxt);
    EXPECT_TRUE(o.lowMemory);
    EXPECT_FALSE(o.wideScreen);
    EXPECT_TRUE(o.alwaysInFront);
    EXPECT_TRUE(o.makeHidetrack);
}

TEST(CommandLineParse, HeadlessImpliesNoDialogAndWindowedAndNoExtensionsDropsDxt) {
    Parsed p = parse({"--headless"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.line.noDialog);
    EXPECT_TRUE(p.line.windowed);
    SetupOptions o;
    applyCommandLine(p.line, o);
    EXPECT_FALSE(o.fullscreen);

    p = parse({"--no-extensions"});
    ASSERT_TRUE(p.ok);
    o = SetupOptions{};
    applyCommandLine(p.line, o);
    EXPECT_FALSE(o.useExtensions);
    EXPECT_FALSE(o.useDxt);
    EXPECT_FALSE(parse({"--headless", "--fullscreen"}).ok);

    // --dxt ticks compression back on, but not past --no-extensions; with --no-dxt it is a
    // contradiction.
    for (const bool noExtensions : {false, true}) {
        p = noExtensions ? parse({"--dxt", "--no-extensions"}) : parse({"--dxt"});
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_TRUE(p.line.forceDxt);
        o = SetupOptions{};
        o.useDxt = false;
        applyCommandLine(p.line, o);
        EXPECT_EQ(o.useDxt, !noExtensions);
    }
    p = parse({"--dxt", "--no-dxt"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "--dxt and --no-dxt contradict each other");
    EXPECT_FALSE(parse({"--windowed", "--fullscreen"}).ok);
}

TEST(CommandLineParse, BadValuesNameTheProblem) {
    struct Case {
        std::vector<const char*> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--size"}, "--size"},
        {{"--size", "800"}, "800"},
        {{"--size", "800x"}, "800x"},
        {{"--size", "0x600"}, "0x600"},
        {{"--size", "-800x600"}, "-800x600"},
        {{"--size", "800x600x2"}, "800x600x2"},
        {{"--size", "99999x600"}, "99999x600"},
        {{"--fixed-step", "abc"}, "abc"},
        {{"--fixed-step", "0"}, "--fixed-step"},
        {{"--fixed-step", "-0.1"}, "-0.1"},
        {{"--fixed-step", "nan"}, "nan"},
        {{"--fixed-step", "0.1s"}, "0.1s"},
        {{"--frames", "0"}, "--frames"},
        {{"--frames", "3.5"}, "3.5"},
        {{"--frames", "99999999999"}, "99999999999"},
        {{"--frames"}, "--frames"},
        {{"--screenshot"}, "--screenshot"},
        {{"--screenshot", ""}, "--screenshot"},
        {{"a.q3d", "b.q3d"}, "b.q3d"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_FALSE(p.ok) << c.mentions;
        EXPECT_NE(p.error.find(c.mentions), std::string::npos) << p.error;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << "one line: " << p.error;
    }
}

TEST(ScenePath, QuotesAreRemovedOnlyWhenTheyWrapThePath) {
    char out[kScenePathBytes];
    ASSERT_TRUE(copyScenePath("\"my scene.q3d\"", out, sizeof out));
    EXPECT_STREQ(out, "my scene.q3d");
    ASSERT_TRUE(copyScenePath("scene.q3d", out, sizeof out));
    EXPECT_STREQ(out, "scene.q3d"); // unquoted: nothing is cut
    ASSERT_TRUE(copyScenePath("\"a.q3d", out, sizeof out));
    EXPECT_STREQ(out, "\"a.q3d");
    ASSERT_TRUE(copyScenePath("\"", out, sizeof out));
    EXPECT_STREQ(out, "\"");
    ASSERT_TRUE(copyScenePath("\"\"", out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(ScenePath, LengthLimitLeavesRoomForBothSuffixes) {
    const std::string longest(kScenePathChars, 'a');
    char out[kScenePathBytes];
    ASSERT_TRUE(copyScenePath(longest.c_str(), out, sizeof out));
    EXPECT_GE(static_cast<int>(sizeof out), kScenePathChars + 7 + 1);
    const std::string quoted = "\"" + longest + "\"";
    EXPECT_TRUE(copyScenePath(quoted.c_str(), out, sizeof out));
    const std::string tooLong(kScenePathChars + 1, 'a');
    EXPECT_FALSE(copyScenePath(tooLong.c_str(), out, sizeof out));
    const Parsed p = parse({tooLong.c_str()});
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find("longer than 1000"), std::string::npos) << p.error;
}

} // namespace

namespace {

TEST(CommandLineParse, DemoOptionsAndTheirBounds) {
    const Parsed p = parse({"--data", "/tmp/set", "--start", "12:40", "--exit-at-end"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_STREQ(p.line.dataDirectory, "/tmp/set");
    EXPECT_EQ(p.line.startOrder, 12);
    EXPECT_EQ(p.line.startRow, 40);
    EXPECT_TRUE(p.line.exitAtEnd);
    const struct {
        const char* value;
        int order, row;
    } starts[] = {{"0", 0, 0}, {"32", 32, 0}, {"255:255", 255, 255}, {"7:0", 7, 0}};
    for (const auto& s : starts) {
        const Parsed q = parse({"--start", s.value});
        ASSERT_TRUE(q.ok) << s.value;
        EXPECT_EQ(q.line.startOrder, s.order) << s.value;
        EXPECT_EQ(q.line.startRow, s.row) << s.value;
    }
    const Parsed none = parse({});
    EXPECT_EQ(none.line.dataDirectory, nullptr);
    EXPECT_FALSE(none.line.exitAtEnd);
    EXPECT_FALSE(parse({"--data"}).ok);
    EXPECT_FALSE(parse({"--data", ""}).ok);
    EXPECT_FALSE(parse({"--start", "1:2:3"}).ok);
}

// Values judged before anything runs: both sides of each bound.
TEST(CommandLineParse, CaptureAndLoopValuesOnBothSidesOfTheirBounds) {
    const struct {
        std::vector<const char*> args;
        bool ok;
    } cases[] = {
        {{"--capture", "f", "--fps", "0"}, false},
        {{"--capture", "f", "--fps", "1"}, true},
        {{"--capture", "f", "--fps", "1000"}, true},
        {{"--capture", "f", "--fps", "1001"}, false},
        {{"--capture", "f", "--fps", "-1"}, false},
        {{"--loop", "5:2"}, false},
        {{"--loop", "5:4"}, false},
        {{"--loop", "5:5"}, true},
        {{"--loop", "0:32"}, true},
        {{"--overwrite"}, false},
        {{"--capture", "f", "--overwrite"}, true},
        {{"--start", "1:"}, false},
        {{"--start", ":1"}, false},
        {{"--start", "256"}, false},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.ok, c.ok) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << " "
                              << p.error;
    }
    EXPECT_TRUE(parse({"--capture", "f", "--overwrite"}).line.overwrite);
}

} // namespace
