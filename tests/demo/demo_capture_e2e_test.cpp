// The demo captured and rehearsed: a capture with the music ends with the demo, and --loop
// keeps the music on a few orders, restarting the cues each time round.
#include "app/capture.h"
#include "demo/demo_fixture.h"
#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Rows of 20 ms (speed 1, tempo 125): an order lasts 1.28 s.
const std::string& fastDemo() {
    static const std::string dir = [] {
        DemoFixtureOptions fast;
        fast.speed = 1;
        fast.tempo = 125;
        const std::string d = scratchDirectory("demo-capture");
        writeDemoFixture(d, fast);
        return d;
    }();
    return dir;
}

BinaryRun demo(std::vector<std::string> more) {
    std::vector<std::string> args = {"--headless", "--console", "--size",
                                     "64x48",      "--data",    fastDemo()};
    args.insert(args.end(), more.begin(), more.end());
    return runBinary(QUILM_BIN, args);
}

std::vector<std::string> startedTimers(const std::string& log) {
    std::vector<std::string> timers;
    for (size_t at = log.find("timer "); at != std::string::npos; at = log.find("timer ", at + 1))
        timers.push_back(log.substr(at, log.find(" started", at) - at));
    return timers;
}

TEST(DemoCapture, EndsWithTheDemoAndItsSoundIsTheMusicToTheSample) {
    const std::string out = fastDemo() + "/capture";
    const BinaryRun run = demo({"--capture", out, "--fps", "25", "--start", "31"});
    ASSERT_EQ(run.status, 0) << run.err;
    int frames = 0;
    char name[32];
    for (;; ++frames) {
        std::snprintf(name, sizeof name, "/frame_%06d.png", frames);
        struct stat info;
        if (stat((out + name).c_str(), &info) != 0) break;
    }
    // From order 31 to the end at order 32, row 63: 128 rows of 20 ms, 2.56 s.
    EXPECT_NEAR(frames, 64, 2);
    std::ifstream wav(out + "/audio.wav", std::ios::binary);
    std::stringstream bytes;
    bytes << wav.rdbuf();
    const std::string sound = bytes.str();
    EXPECT_EQ(sound.size(), 44 + captureSampleAt(frames, 25) * 4);
    EXPECT_NE(sound.find_first_not_of('\0', 44), std::string::npos) << "the music is heard";
}

TEST(DemoCapture, LoopRepeatsItsOrdersAndRestartsTheCues) {
    // Orders 2 to 3 are 2.56 s; 9 s at 40 ms a frame go round three times and more.
    const BinaryRun run = demo({"--fixed-step", "0.04", "--frames", "225", "--loop", "2:3"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> timers = startedTimers(run.out);
    ASSERT_FALSE(timers.empty()) << run.out;
    int firstAgain = 0;
    for (const std::string& t : timers)
        if (t == timers.front()) ++firstAgain;
    EXPECT_GE(firstAgain, 3) << "the loop's first cue starts afresh each time round";
    // "started at ROW:ORDER".
    for (const char* outside : {":0, duration", ":1, duration", ":4, duration"})
        EXPECT_EQ(run.out.find(outside), std::string::npos) << outside << "\n" << run.out;

    const BinaryRun past = demo({"--loop", "30:33", "--frames", "1"});
    EXPECT_EQ(past.status, 1);
    EXPECT_NE(past.err.find("quilm: --loop 30:33: the music tune.mo3 has orders 0 to 32\n"),
              std::string::npos)
        << past.err;
}

} // namespace
