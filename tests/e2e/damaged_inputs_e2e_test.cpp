// Damaged and hostile inputs given to the built binaries as a user would: each must end with
// an honest status and one line naming the reason, within a memory ceiling where a small file
// could otherwise force a large allocation.
#include "e2e/run_binary.h"

#include "support/scene_bomb.h"
#include "writers/scene_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace sw = scenewriter;

// A folder given as a file fails its first read on Linux (the loader's own line, on standard
// output) and its open on Windows (the program's line, on standard error).
enum class Stream { out, err, either };

struct Case {
    const char* name;
    const char* binary;
    std::vector<std::string> args; // "@" stands for the scratch directory
    int status;                    // -1: any
    Stream stream;                 // where the line is expected
    std::string line;
    long ceilingMb; // peak resident size; 0: not checked
};

TEST(DamagedInputs, EndWithAnHonestStatusAndTheReason) {
    const std::string dir = scratchDirectory("damaged");
    // A 2 MB gzip file whose keys announce 2 GB of zeros each, in a track nothing uses.
    ASSERT_TRUE(writeSceneBomb(dir + "/bomb.q3d.gz", 2 << 20));
    sw::Scene small;
    small.tracks.push_back(sw::objectTrack("tri", {sw::meshKey(0, sw::triangleMesh())}));
    ASSERT_TRUE(sw::writeSceneFile(dir + "/small.q3d", small));
    mkdir((dir + "/folder.q3d").c_str(), 0755);
    // A sparse QW2 file past the 256 MB cap: refused from its size, never read.
    const int big = open((dir + "/huge.qw2").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(big, 0);
    ASSERT_EQ(ftruncate(big, (256 << 20) + 1), 0);
    close(big);

    const std::vector<Case> cases = {
        {"bomb",
         QUILM_TOOL_BIN,
         {"scene", "@/bomb.q3d.gz"},
         1,
         Stream::out,
         "Error: scene file needs more than the 1024 MB scene budget (track 0). \n",
         100},
        {"directory as scene",
         QUILM_TOOL_BIN,
         {"scene", "@/folder.q3d"},
         1,
         Stream::either,
         "Is a directory",
         100},
        {"missing hidetrack",
         QUILM_TOOL_BIN,
         {"scene", "@/small.q3d", "--hid", "@/none.hid"},
         1,
         Stream::out,
         "Could not load hidetrack!\n",
         100},
        {"missing hidetrack reason",
         QUILM_TOOL_BIN,
         {"scene", "@/small.q3d", "--hid", "@/none.hid"},
         1,
         Stream::err,
         "No such file or directory\n",
         100},
        {"missing scene",
         QUILM_TOOL_BIN,
         {"scene", "@/none.q3d"},
         1,
         Stream::err,
         "No such file or directory\n",
         100},
        {"endless qw2",
         QUILM_TOOL_BIN,
         {"qw2", "decode", "/dev/zero", "@/out.png"},
         1,
         Stream::err,
         "/dev/zero: cannot read the file: larger than the 256 MB a QW2 file may have\n",
         0},
        {"huge qw2",
         QUILM_TOOL_BIN,
         {"qw2", "decode", "@/huge.qw2", "@/out.png"},
         1,
         Stream::err,
         "larger than the 256 MB a QW2 file may have\n",
         100},
        {"directory as qw2",
         QUILM_TOOL_BIN,
         {"qw2", "decode", "@", "@/out.png"},
         1,
         Stream::err,
         "Is a directory\n",
         100},
        {"directory in the viewer",
         QUILM_BIN,
         {"--headless", "--console", "--frames", "1", "@/folder.q3d"},
         -1,
         Stream::either,
         "Is a directory",
         0},
        {"bomb in the viewer",
         QUILM_BIN,
         {"--headless", "--console", "--frames", "1", "@/bomb.q3d.gz"},
         -1,
         Stream::out,
         "Error: scene file needs more than the 1024 MB scene budget (track 0). \n",
         0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a[0] == '@') a = dir + a.substr(1);
        const BinaryRun run = runBinary(c.binary, args, {}, {}, dir);
        if (c.status >= 0) {
            EXPECT_EQ(run.status, c.status) << c.name;
        }
        const std::string text = c.stream == Stream::out   ? run.out
                                 : c.stream == Stream::err ? run.err
                                                           : run.out + run.err;
        EXPECT_NE(text.find(c.line), std::string::npos) << c.name << ":\n" << text;
        if (c.ceilingMb > 0) {
            EXPECT_LT(run.peakKb, c.ceilingMb * 1024) << c.name;
        }
    }
}

} // namespace
