// Runs as a script makes them: each one's exit status and the one line on standard error that
// says why. 0 only when the run did what was asked, 1 for a failure found while running, 2 for
// an option that can be judged before anything runs (then the usage follows the line).
#include "e2e/run_binary.h"

#include "demo/demo_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(RunStatus, EachRunSaysWhatHappenedInItsStatusAndOneLine) {
    const std::string dir = scratchDirectory("status");
    const std::string none = dir + "/none.q3d";
    const std::string garbage = dir + "/garbage.q3d";
    std::ofstream(garbage, std::ios::binary) << "not a scene at all";
    // A data set whose first scene is a loop of links: not a missing file.
    const std::string looped = dir + "/looped";
    ASSERT_EQ(std::system(("rm -rf '" + looped + "' && cp -r '" + demoFixture() + "' '" + looped +
                           "' && cd '" + looped +
                           "' && rm -f landschaft.q3d && ln -s loop landschaft.q3d && ln -s "
                           "landschaft.q3d loop")
                              .c_str()),
              0);
    const std::string data = demoFixture();
    const std::string couldNotOpen =
        "Commandline: Could not open! (" + none + ": No such file or directory)\n";
    const std::string notAScene = "Commandline: Error loading scene! (" + garbage +
                                  ": not a scene file this player can read)";

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line; // on standard error
    };
    const Case cases[] = {
        // A scene that does not load: only someone at the dialog gets the demo instead.
        {{"--headless", "--frames", "2", none}, 1, couldNotOpen},
        {{"--headless", "--make-hidetrack", none}, 1, couldNotOpen},
        {{"--headless", "--make-hidetrack", garbage}, 1, notAScene},
        {{"--no-dialog", "--frames", "1", garbage}, 1, notAScene},
        {{"--no-dialog", "--windowed", none}, 1, couldNotOpen},
        {{"--headless", "--capture", dir + "/never", none}, 1, couldNotOpen},
        // Judged before anything runs.
        {{"--headless", "--capture", dir + "/f", "--fps", "0"}, 2, "cannot capture at 0 frames"},
        {{"--headless", "--capture", dir + "/f", "--fps", "1001"}, 2, "cannot capture at 1001"},
        {{"--headless", "--loop", "5:2"}, 2, "--loop 5:2 ends before it starts"},
        {{"--headless", "--start", "1:"}, 2, "bad value for --start: '1:'"},
        {{"--headless", "--start", "256"}, 2, "bad value for --start: '256'"},
        {{"--headless", "--capture", dir + "/x.foo"}, 2, "not a video container"},
        {{"--headless", "--overwrite"}, 2, "need --capture"},
        // The music has orders 0 to 32 of 64 rows each: both sides of each end.
        {{"--headless", "--start", "33", "--data", data},
         1,
         "--start 33:0: the music tune.mo3 has orders 0 to 32\n"},
        {{"--headless", "--start", "32:64", "--data", data},
         1,
         "--start 32:64: order 32 of the music tune.mo3 has rows 0 to 63\n"},
        {{"--headless", "--start", "32:63", "--frames", "1", "--data", data}, 0, ""},
        {{"--headless", "--loop", "30:33", "--data", data},
         1,
         "--loop 30:33: the music tune.mo3 has orders 0 to 32\n"},
        {{"--headless", "--loop", "30:32", "--frames", "1", "--data", data}, 0, ""},
        {{"--headless", "--frames", "1", "--data", looped},
         1,
         "landschaft.q3d: Too many levels of symbolic links\n"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args)
            shown += arg + " ";
        const BinaryRun run = runBinary(QUILM_BIN, c.args);
        EXPECT_EQ(run.status, c.status) << shown << "\n" << run.err;
        if (c.status == 0) {
            EXPECT_EQ(run.err, "") << shown;
            continue;
        }
        EXPECT_NE(run.err.find(c.line), std::string::npos) << shown << "\n" << run.err;
        // Bad options: one line, then the usage. Failures: nothing was played or captured.
        if (c.status == 2) {
            EXPECT_EQ(run.err.compare(run.err.find('\n') + 1, 6, "usage:"), 0) << run.err;
        }
        EXPECT_EQ(run.out, "") << shown;
    }
    EXPECT_FALSE(exists(dir + "/never")) << "a capture of a scene that failed writes nothing";
    EXPECT_FALSE(exists(dir + "/f"));
}

} // namespace
