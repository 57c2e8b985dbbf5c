// The demo played from a manifest: the built-in demo's own manifest plays exactly as the
// built-in table, a hand-written one plays its own cue sheet, and a wrong one plays nothing.
#include "demo/builtin_demo.h"
#include "demo/demo_fixture.h"
#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The fixture copied into dir, with manifestText as its demo.toml when not empty.
std::string fixtureCopy(const char* name, const std::string& manifestText) {
    const std::string dir = scratchDirectory(name);
    EXPECT_EQ(std::system(("cp -r '" + demoFixture() + "/.' '" + dir + "'").c_str()), 0);
    if (!manifestText.empty()) std::ofstream(dir + "/demo.toml", std::ios::binary) << manifestText;
    return dir;
}

std::vector<std::string> timerLines(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("timer ", 0) == 0) lines.push_back(line);
    return lines;
}

// Everything but the line naming the manifest, which only the manifest's run has.
std::string withoutManifestLine(const std::string& log) {
    const size_t at = log.find("Demo manifest: ");
    return at == std::string::npos ? log : log.substr(0, at) + log.substr(log.find('\n', at) + 1);
}

TEST(DemoManifestRun, TheBuiltInDemosManifestPlaysTheSameFramesAndLines) {
    ASSERT_FALSE(demoFixture().empty());
    const std::string builtIn = fixtureCopy("builtin", "");
    const std::string manifest = fixtureCopy("manifest", formatDemoManifest(builtInDemoManifest()));
    // Windows, pulses, the orbit and the final fade, each from a start that reaches them.
    for (const char* start : {"0:0", "1:40", "2:10", "28:40", "32:20"}) {
        std::string logs[2], shots[2];
        for (int i = 0; i < 2; ++i) {
            const std::string& data = i == 0 ? builtIn : manifest;
            const std::string shot = data + "/shot.png";
            const BinaryRun run =
                runBinary(QUILM_BIN, {"--headless", "--console", "--size", "160x120", "--data",
                                      data, "--fixed-step", "0.05", "--start", start, "--frames",
                                      "40", "--screenshot", shot});
            ASSERT_EQ(run.status, 0) << start << run.err;
            logs[i] = run.out;
            shots[i] = readFile(shot);
        }
        EXPECT_EQ(logs[0].find("Demo manifest: "), std::string::npos);
        EXPECT_NE(logs[1].find("Demo manifest: " + manifest + "/demo.toml\n"), std::string::npos);
        EXPECT_FALSE(timerLines(logs[0]).empty()) << start;
        EXPECT_EQ(withoutManifestLine(logs[1]), logs[0]) << start;
        EXPECT_FALSE(shots[0].empty());
        EXPECT_TRUE(shots[0] == shots[1]) << "the frames at " << start << " differ";
    }
}

// A demo of its own: two of the fixture's scenes under other names, one logo, three cues out
// of the order of their timers, over three orders of the fixture's tune; --demo names it.
TEST(DemoManifestRun, AHandWrittenDemoPlaysItsCueSheetAndEnds) {
    const std::string dir = fixtureCopy("own", "");
    const std::string path = dir + "/own.toml";
    std::ofstream(path) << "[demo]\nmusic = \"tune.mo3\"\nend = \"3:0\"\n"
                           "[scenes]\nwood = \"eiche.q3d\"\nfield = \"landschaft.q3d\"\n"
                           "[logos]\ntitle = \"logo1.png\"\n"
                           "cues = [\n"
                           "  { timer = 9, from = \"0:0\", to = \"0:63\", rows = 64, scene = "
                           "\"field\", camera = 1, overlay = \"fade-in\" },\n"
                           "  { timer = 4, from = \"1:0\", to = \"1:31\", rows = 32, scene = "
                           "\"wood\", camera = 2, overlay = \"pulse\", logo = \"title\", box = "
                           "[-0.5, -0.5, 1, 1] },\n"
                           "  { timer = 700, from = \"1:32\", to = \"2:63\", rows = 96, scene = "
                           "\"field\", overlay = \"fade-out-black\" },\n"
                           "]\n";
    const BinaryRun run =
        runBinary(QUILM_BIN, {"--headless", "--console", "--size", "160x120", "--demo", path,
                              "--fixed-step", "0.1", "--exit-at-end"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(timerLines(run.out),
              (std::vector<std::string>{"timer 9 started at 0:0, duration 64",
                                        "timer 4 started at 0:1, duration 32",
                                        "timer 700 started at 32:1, duration 96"}))
        << run.out;
    EXPECT_NE(run.out.find("Loading image file: logo1.png\n"), std::string::npos);
    EXPECT_EQ(run.out.find("logo4.png"), std::string::npos) << "only what the manifest names";
    EXPECT_EQ(run.out.find("expects"), std::string::npos) << "no layout check on its own tune";
}

TEST(DemoManifestRun, AWrongManifestPlaysNothingAndSaysWhereInOneLine) {
    const std::string dir = fixtureCopy("wrong", "");
    const struct {
        const char* what;
        std::string cue;
        std::string line;
        int status;
    } cases[] = {
        {"unknown scene",
         "{ timer = 1, from = \"0:0\", to = \"0:63\", rows = 64, scene = \"eichee\" }",
         "wrong.toml:4:60: cue 1: unknown scene \"eichee\"\n", 1},
        {"past the end", "{ timer = 1, from = \"0:0\", to = \"40:0\", rows = 64 }",
         "wrong.toml:4:33: cue 1: \"to\" 40:0 is past the music's end (orders 0 to 32)\n", 1},
    };
    for (const auto& c : cases) {
        std::ofstream(dir + "/wrong.toml") << "[demo]\nmusic = \"tune.mo3\"\ncues = [\n"
                                           << c.cue << "\n]\n[scenes]\neiche = \"eiche.q3d\"\n";
        const BinaryRun run = runBinary(
            QUILM_BIN, {"--headless", "--console", "--demo", dir + "/wrong.toml", "--frames", "5"});
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.err, dir + "/" + c.line) << c.what;
        EXPECT_TRUE(timerLines(run.out).empty()) << c.what;
        EXPECT_EQ(run.out.find("Loading image file"), std::string::npos) << c.what;
    }
    // A broken demo.toml in the data folder is not passed over for the built-in demo.
    std::ofstream(dir + "/demo.toml") << "[demo\n";
    const BinaryRun broken =
        runBinary(QUILM_BIN, {"--headless", "--console", "--data", dir, "--frames", "5"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err.rfind(dir + "/demo.toml:1:6: ", 0), 0u) << broken.err;
    // --demo names the data folder itself.
    const BinaryRun both = runBinary(
        QUILM_BIN, {"--headless", "--demo", dir + "/wrong.toml", "--data", dir, "--frames", "5"});
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err.rfind("quilm: --demo and --data both name the data folder", 0), 0u)
        << both.err;
}

} // namespace
