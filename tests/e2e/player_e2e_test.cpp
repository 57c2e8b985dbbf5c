#include "e2e/run_binary.h"

#include "demo/demo_fixture.h"

#include "image/image_loaders.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::vector<std::string> kHeadless = {"--headless", "--no-dialog", "--console"};

// Demo-mode runs play the small test data set.
std::vector<std::string> demoData() {
    return {"--data", demoFixture()};
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int countLines(const std::string& s) {
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

TEST(PlayerEndToEnd, HeadlessRunLogsTheWindowLinesAndEndsAfterItsFrames) {
    const BinaryRun run =
        runBinary(QUILM_BIN, with(with(kHeadless, {"--frames", "3"}), demoData()));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("GL Init success. We got: \nBit depth: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(" Z-Buffer depth: 24 Stencil depth: 8 \n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Loading OpenGL Extensions...\n"), std::string::npos);
    EXPECT_EQ(run.err, "");

    const BinaryRun quiet =
        runBinary(QUILM_BIN, with({"--headless", "--no-extensions", "--frames", "1"}, demoData()));
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "") << "the console is off unless asked for";
}

TEST(PlayerEndToEnd, BadOptionsExitTwoWithOneLineAndUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"},
                                                 {"--size", "12"},
                                                 {"--frames"},
                                                 {"--headless", "a.q3d", "b.q3d"}}) {
        const BinaryRun run = runBinary(QUILM_BIN, args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("quilm: ", 0), 0u) << run.err;
        const size_t firstLineEnd = run.err.find('\n');
        EXPECT_EQ(run.err.compare(firstLineEnd + 1, 6, "usage:"), 0) << run.err;
    }
    const BinaryRun tooLong = runBinary(QUILM_BIN, {"--headless", std::string(1001, 'p')});
    EXPECT_EQ(tooLong.status, 2);
    EXPECT_NE(tooLong.err.find("longer than 1000"), std::string::npos);
}

TEST(PlayerEndToEnd, HelpAndVersion) {
    const BinaryRun help = runBinary(QUILM_BIN, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: quilm", 0), 0u);
    // Both modes' keys, each under its own heading.
    const size_t viewer = help.out.find("keys in the viewer");
    const size_t demo = help.out.find("keys in the demo");
    ASSERT_NE(viewer, std::string::npos) << help.out;
    ASSERT_NE(demo, std::string::npos) << help.out;
    for (const char* key : {"1 to 9", "X  Y", "A  S", "Space", "Escape"})
        EXPECT_LT(help.out.find(key, viewer), demo) << key;
    for (const char* key : {"X  Y", "Escape"})
        EXPECT_NE(help.out.find(key, demo), std::string::npos) << key;
    const BinaryRun version = runBinary(QUILM_BIN, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quilm ", 0), 0u);
}

// Without the dialog nobody watches a demo played instead: the run ends with status 1.
TEST(PlayerEndToEnd, MissingSceneLogsTheCommandlineMessagesAndEndsTheScriptedRun) {
    const std::string path = scratchDirectory("missing") + "/no such scene.q3d";
    const BinaryRun run = runBinary(
        QUILM_BIN, with(with(kHeadless, {"--frames", "2", "\"" + path + "\""}), demoData()));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find(path + "\nCould not load commandline file. \n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Loading image file"), std::string::npos) << "no demo was loaded";
    EXPECT_EQ(run.err, "Commandline: Could not open! (" + path + ": No such file or directory)\n");
}

TEST(PlayerEndToEnd, PercentSignsInThePathArePrintedNotInterpreted) {
    const std::string path = scratchDirectory("percent") + "/%s%i%e%x.q3d";
    const BinaryRun run =
        runBinary(QUILM_BIN, with(with(kHeadless, {"--frames", "1", path}), demoData()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(path + "\n"), std::string::npos) << run.out;
}

TEST(PlayerEndToEnd, UnloadableSceneReportsTheLoadErrorAndEndsTheScriptedRun) {
    const std::string path = scratchDirectory("bad") + "/garbage.q3d";
    std::ofstream(path, std::ios::binary) << "not a scene at all";
    const BinaryRun run =
        runBinary(QUILM_BIN, with(with(kHeadless, {"--frames", "2", path}), demoData()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Commandline: Error loading scene! (" + path +
                           ": not a scene file this player can read)\n");
    EXPECT_EQ(run.out.find("Could not load commandline file."), std::string::npos);
}

TEST(PlayerEndToEnd, WithoutADisplayOneLineAndNonZeroStatus) {
    const BinaryRun run =
        runBinary(QUILM_BIN, {"--no-dialog", "--frames", "1"},
                  {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR"});
    if (run.status == 0) GTEST_SKIP() << "a display was found after all";
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(countLines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("--headless"), std::string::npos) << run.err;
}

uint32_t bigEndian(const std::string& s, size_t at) {
    return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
           (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}

TEST(PlayerEndToEnd, ScreenshotWritesTheLastFrameAtTheWindowSize) {
    const std::string path = scratchDirectory("shot") + "/frame.png";
    const BinaryRun run = runBinary(
        QUILM_BIN, with({"--headless", "--size", "320x200", "--frames", "2", "--screenshot", path},
                        demoData()));
    EXPECT_EQ(run.status, 0) << run.err;
    std::ifstream in(path, std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(bigEndian(png, 16), 320u);
    EXPECT_EQ(bigEndian(png, 20), 200u);

    const BinaryRun unwritable = runBinary(
        QUILM_BIN, with({"--headless", "--frames", "1", "--screenshot", "/nonexistent/dir/x.png"},
                        demoData()));
    EXPECT_NE(unwritable.status, 0);
    EXPECT_NE(unwritable.err.find("/nonexistent/dir/x.png"), std::string::npos);
}

TEST(PlayerEndToEnd, ProfileReportsTheFrameCounters) {
    const BinaryRun run = runBinary(
        QUILM_BIN,
        with({"--headless", "--frames", "4", "--fixed-step", "0.02", "--profile"}, demoData()));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("main"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Swapping"), std::string::npos) << run.out;
    // The last line is the one a person reads.
    const size_t last = run.out.rfind('\n', run.out.size() - 2) + 1;
    EXPECT_EQ(run.out.rfind("4 frames, "), last) << run.out;
    for (const char* part :
         {" frames per second, frame time median ", " ms, 95th percentile ", " ms\n"})
        EXPECT_NE(run.out.find(part, last), std::string::npos) << part << "\n" << run.out;
}

TEST(PlayerEndToEnd, ASceneThatLoadsGivesViewerModeWithItsBackground) {
    const std::string dir = scratchDirectory("viewer");
    const BinaryRun made = runBinary(QUILM_TOOL_BIN, {"make-sample", dir});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string shot = dir + "/shot.png";
    const BinaryRun run =
        runBinary(QUILM_BIN, with(kHeadless, {"--frames", "2", "--screenshot", shot, "sample.q3d"}),
                  {}, {}, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no message box: the scene loaded";
    EXPECT_NE(run.out.find("Could not load hidetrack!\n"), std::string::npos) << run.out;
    FILE* file = std::fopen(shot.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    int32_t w = 0, h = 0;
    uint8_t* pixels = loadPng(file, &w, &h); // closes the file
    ASSERT_NE(pixels, nullptr);
    // The corners lie under the film's mask; the middle shows the scene, which is not black.
    const uint8_t* middle = pixels + (size_t(h / 2) * size_t(w) + size_t(w / 2)) * 4;
    EXPECT_GT(middle[0] + middle[1] + middle[2], 0);
    std::free(pixels);
}

// The viewer's film pictures follow the data folder rule: beside the program when the working
// directory has no "data"; a picture that is nowhere is named.
TEST(PlayerEndToEnd, ViewerFindsTheFilmPicturesInTheDataFolderFromAnywhere) {
    const std::string dir = scratchDirectory("film");
    ASSERT_EQ(runBinary(QUILM_TOOL_BIN, {"make-sample", dir + "/scene"}).status, 0);
    const std::string setUp = "mkdir -p '" + dir + "/bin' '" + dir + "/elsewhere' '" + dir +
                              "/empty' && cp '" + QUILM_BIN + "' '" + dir +
                              "/bin/quilm' && ln -sfn '" + demoFixture() + "' '" + dir +
                              "/bin/data'";
    ASSERT_EQ(std::system(setUp.c_str()), 0);
    const std::string player = dir + "/bin/quilm";
    const std::string scene = dir + "/scene/sample.q3d";
    const BinaryRun found =
        runBinary(player.c_str(),
                  with(kHeadless, {"--frames", "1", "--screenshot", dir + "/with.png", scene}), {},
                  {}, dir + "/elsewhere");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out.find("Film effect:"), std::string::npos) << found.out;
    const BinaryRun missing =
        runBinary(player.c_str(),
                  with(kHeadless, {"--frames", "1", "--screenshot", dir + "/without.png", "--data",
                                   dir + "/empty", scene}),
                  {}, {}, dir + "/elsewhere");
    EXPECT_EQ(missing.status, 0) << missing.err;
    EXPECT_NE(missing.out.find("Film effect: s8_drek.png, s8_border.png, s8_sign.png, s8_lamp.jpg "
                               "could not be loaded from " +
                               dir + "/empty\n"),
              std::string::npos)
        << missing.out;
    std::ifstream withFilm(dir + "/with.png", std::ios::binary),
        withoutFilm(dir + "/without.png", std::ios::binary);
    const std::string a((std::istreambuf_iterator<char>(withFilm)),
                        std::istreambuf_iterator<char>());
    const std::string b((std::istreambuf_iterator<char>(withoutFilm)),
                        std::istreambuf_iterator<char>());
    EXPECT_FALSE(a.empty());
    EXPECT_NE(a, b) << "the film's pictures show in the frame";
}

TEST(PlayerEndToEnd, MakeSampleEndsWithACommandThatWorksWhenPasted) {
    const std::string dir = scratchDirectory("pasted") + "/it's a sample";
    const BinaryRun made = runBinary(QUILM_TOOL_BIN, {"make-sample", dir});
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_GE(made.out.size(), 2u);
    const size_t start = made.out.rfind('\n', made.out.size() - 2) + 1;
    const std::string command = made.out.substr(start, made.out.size() - 1 - start);
    EXPECT_NE(command.find(QUILM_BIN), std::string::npos) << command;
    // Pasted from another directory, with options to run it unattended.
    const BinaryRun run =
        runBinary("/bin/sh", {"-c", command + " --headless --console --frames 1"}, {}, {}, "/");
    EXPECT_EQ(run.status, 0) << command << "\n" << run.err;
    EXPECT_NE(run.out.find("Scene has 13 objects"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

} // namespace
