// The README's "Making your own demo" walkthrough, run as written: its one shell block in a
// scratch folder where build/ is this build. The player's runs get a headless, short form
// (they would otherwise wait for someone to close them); every other line runs unchanged.
#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string walkthrough() {
    std::ifstream in(std::string(QUILM_SOURCE_DIR) + "/README.md");
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const size_t section = readme.find("## Making your own demo");
    const size_t start = readme.find("```sh\n", section);
    if (section == std::string::npos || start == std::string::npos) return "";
    const size_t end = readme.find("```\n", start + 6);
    return end == std::string::npos ? "" : readme.substr(start + 6, end - start - 6);
}

TEST(ReadmeWalkthrough, MakingYourOwnDemoRunsAsWritten) {
    // The walkthrough takes the tune from the data set the build makes.
    const fs::path data = fs::path(QUILM_BIN).parent_path() / "data";
    if (!fs::exists(data / ".made"))
        GTEST_SKIP() << "no data set in " << data << " (built with QUILM_DATA off?)";
    const std::string block = walkthrough();
    ASSERT_NE(block, "") << "the README's walkthrough block";
    std::istringstream lines(block);
    std::string script = "set -e\n", line;
    int playerRuns = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("build/quilm ", 0) == 0) {
            ++playerRuns;
            line += line.find("--capture") != std::string::npos
                        ? " --headless --size 160x120 --fps 10"
                        : " --headless --size 160x120 --fixed-step 0.1 --frames 30";
        }
        script += line + "\n";
    }
    EXPECT_EQ(playerRuns, 2);
    const std::string dir = scratchDirectory("readme");
    fs::create_directory_symlink(fs::path(QUILM_BIN).parent_path(), dir + "/build");
    std::ofstream(dir + "/walkthrough.sh") << script;
    const BinaryRun run =
        runBinary("/bin/sh", {"walkthrough.sh"}, {}, {}, dir, kRunBinaryLongTimeoutSeconds);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    for (const char* made : {"mydemo/spider.q3d", "mydemo/wuson.q3d", "mydemo.mp4"})
        EXPECT_TRUE(fs::exists(dir + "/" + made)) << made;
    // The edit took: the second run played cue 3 from order 2.
    std::ifstream manifest(dir + "/mydemo/demo.toml");
    std::stringstream edited;
    edited << manifest.rdbuf();
    EXPECT_NE(edited.str().find("from = \"2:0\", to = \"3:63\", rows = 128"), std::string::npos);
    EXPECT_NE(run.err.find("captured "), std::string::npos) << run.err;
}

} // namespace
