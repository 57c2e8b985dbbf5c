// quilm-tool image end to end: what the engine logs and the RGBA pixels it would upload.
#include "support/test_images.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun runTool(const std::string& arguments) {
    ToolRun run;
    const std::string command =
        std::string(QUILM_TOOL_BIN) + " image " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(ImageTool, WritesTheEnginesPixelsFromTheFilesDirectory) {
    ScratchDirectory scratch;
    std::filesystem::create_directory("art");
    ASSERT_TRUE(writeBytes(
        "art/pic.png",
        encodeRgbaPng(2, 2, {10, 20, 30, 255, 40, 50, 60, 0, 1, 2, 3, 4, 250, 251, 252, 253})));
    const ToolRun run = runTool("art/pic.png out.png");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "(from local dir: pic.png)\n(PNG)...ok. \n  W: 2 H: 2 \n"
                       "Total texture mem atm: 0k \n");
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(decodePngRgba("out.png", &w, &h, &rgba));
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(rgba,
              (std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 0, 0, 1, 2, 3, 4, 250, 251, 252, 253}));

    std::vector<uint8_t> grey(16 * 8, 128);
    ASSERT_TRUE(writeBytes("art/sky.JPG", encodeJpeg(16, 8, 1, grey)));
    const ToolRun fallback = runTool("art/sky.png sky.png");
    EXPECT_EQ(fallback.status, 0);
    EXPECT_NE(fallback.out.find(" Trying JPG instead of PNG ...\n(from local dir: sky.JPG)\n"
                                "(JPEG)...ok. \n"),
              std::string::npos);
    ASSERT_TRUE(decodePngRgba("sky.png", &w, &h, &rgba));
    EXPECT_EQ(rgba[3], 255);
    EXPECT_NEAR(rgba[0], 128, 1);
}

TEST(ImageTool, FailedLoadGivesStatusOneAndNoFile) {
    ScratchDirectory scratch;
    ASSERT_TRUE(writeBytes("bad.png", std::vector<uint8_t>(64, 0x42)));
    const ToolRun bad = runTool("bad.png out.png");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "(from local dir: bad.png)\n(PNG)...failed: error decoding! \n"
                       "bad.png: Not a PNG file \n");
    EXPECT_FALSE(std::filesystem::exists("out.png"));

    const ToolRun missing = runTool("gone.jpg out.png");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "(from local dir: gone.jpg)\nfailed: unable to open! \n");
    EXPECT_FALSE(std::filesystem::exists("out.png"));

    EXPECT_EQ(runTool("only-one-argument").status, 2);
}

} // namespace
