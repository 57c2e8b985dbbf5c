// Capture as a user runs it: the sample scene captured headless to a folder and to video,
// compared with a plain fixed-step run, and refused captures.
#include "e2e/run_binary.h"

#include "app/capture.h"
#include "demo/demo_fixture.h"
#include "image/image_loaders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The decoded pixels, so that files compressed differently compare by what they show.
std::string pixelsOf(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "";
    int32_t width = 0, height = 0;
    uint8_t* pixels = loadPng(file, &width, &height); // closes the file
    if (!pixels) return "";
    std::string bytes(reinterpret_cast<char*>(pixels), size_t(width) * size_t(height) * 4);
    std::free(pixels);
    return bytes;
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class CaptureRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = scratchDirectory("capture");
        const BinaryRun made = runBinary(QUILM_TOOL_BIN, {"make-sample", dir});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static BinaryRun quilm(std::vector<std::string> args, std::vector<std::string> unset = {}) {
        std::vector<std::string> all = {"--headless", "--size", "160x120"};
        all.insert(all.end(), args.begin(), args.end());
        return runBinary(QUILM_BIN, all, unset, {}, dir);
    }
    static int countFrames(const std::string& folder) {
        int n = 0;
        char name[64];
        for (;; ++n) {
            std::snprintf(name, sizeof name, "/frame_%06d.png", n);
            if (!exists(folder + name)) return n;
        }
    }
    static inline std::string dir;
};

TEST_F(CaptureRun, FolderFramesAndSoundAgreeToTheSampleAndRunsRepeatByteForByte) {
    for (int fps : {24, 30, 60}) {
        const std::string out = dir + "/frames" + std::to_string(fps);
        const BinaryRun run =
            quilm({"--capture", out, "--fps", std::to_string(fps), "--frames", "13", "sample.q3d"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("capture: frame 13/13"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "progress goes to standard error only";
        EXPECT_EQ(countFrames(out), 13);
        const std::string wav = readAll(out + "/audio.wav");
        EXPECT_EQ(wav.size(), 44 + captureSampleAt(13, fps) * 4) << fps << " fps";
        EXPECT_EQ(wav.find_first_not_of('\0', 44), std::string::npos) << "the viewer is silent";
    }
    const BinaryRun again =
        quilm({"--capture", dir + "/again", "--fps", "30", "--frames", "13", "sample.q3d"});
    ASSERT_EQ(again.status, 0) << again.err;
    for (const char* name : {"/audio.wav", "/frame_000000.png", "/frame_000012.png"})
        EXPECT_EQ(readAll(dir + "/again" + name), readAll(dir + "/frames30" + name)) << name;
}

TEST_F(CaptureRun, FrameKIsTheFrameOfAFixedStepRunAtK) {
    // 1/25 s and 1/60 s (16667 microseconds) land on the same milliseconds below 1000 frames.
    const struct {
        const char* fps;
        const char* step;
        int k;
    } cases[] = {{"25", "0.04", 17}, {"60", "0.0166667", 40}};
    for (const auto& c : cases) {
        const std::string out = dir + "/match" + c.fps;
        const std::string frames = std::to_string(c.k + 1);
        ASSERT_EQ(
            quilm({"--capture", out, "--fps", c.fps, "--frames", frames, "sample.q3d"}).status, 0);
        const std::string shot = dir + "/step" + c.fps + ".png";
        ASSERT_EQ(
            quilm({"--fixed-step", c.step, "--frames", frames, "--screenshot", shot, "sample.q3d"})
                .status,
            0);
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06d.png", c.k);
        const std::string captured = pixelsOf(out + name);
        EXPECT_FALSE(captured.empty());
        EXPECT_TRUE(captured == pixelsOf(shot)) << c.fps << " fps, frame " << c.k;
    }
}

TEST_F(CaptureRun, ViewerCaptureEndsAfterOneLoopOfTheScene) {
    // The sample's time range ends at 57600 ticks, 12 s: 12 frames at 1 frame per second.
    const BinaryRun run = quilm({"--capture", dir + "/loop", "--fps", "1", "sample.q3d"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(countFrames(dir + "/loop"), 12);
    EXPECT_EQ(readAll(dir + "/loop/audio.wav").size(), 44u + 12u * 44100u * 4u);
}

TEST_F(CaptureRun, VideoStreamsAgreeToOneFrame) {
    if (system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed (Debian package ffmpeg)";
    const std::string out = dir + "/clip.mp4";
    const BinaryRun run = quilm({"--capture", out, "--fps", "24", "--frames", "37", "sample.q3d"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string probe = dir + "/probe.txt";
    ASSERT_EQ(system(("ffprobe -v error -show_entries stream=codec_name,duration,pix_fmt -of "
                      "csv=p=0 '" +
                      out + "' > '" + probe + "'")
                         .c_str()),
              0);
    std::istringstream lines(readAll(probe));
    std::string line;
    double durations[2] = {};
    int streams = 0;
    while (std::getline(lines, line) && streams < 2) {
        if (line.rfind("h264,yuv420p,", 0) == 0)
            durations[0] = std::stod(line.substr(13));
        else if (line.rfind("aac,", 0) == 0)
            durations[1] = std::stod(line.substr(line.rfind(',') + 1));
        ++streams;
    }
    EXPECT_NEAR(durations[0], 37.0 / 24.0, 1.0 / 24.0) << readAll(probe);
    EXPECT_NEAR(durations[1], durations[0], 1.0 / 24.0) << readAll(probe);
}

TEST_F(CaptureRun, BadCapturesSayWhyExitWithOneAndLeaveNothing) {
    const BinaryRun noFfmpeg =
        runBinary(QUILM_BIN, {"--headless", "--capture", "x.mp4", "--frames", "2", "sample.q3d"},
                  {"PATH"}, {"PATH=/nonexistent"}, dir);
    EXPECT_EQ(noFfmpeg.status, 1);
    EXPECT_NE(noFfmpeg.err.find("needs ffmpeg; install it (apt-get install ffmpeg)"),
              std::string::npos)
        << noFfmpeg.err;
    EXPECT_FALSE(exists(dir + "/x.mp4"));

    // An encoder that ends at once: the writes fail, and no video is left as if made.
    const std::string fakeBin = dir + "/fakebin";
    mkdir(fakeBin.c_str(), 0755);
    {
        std::ofstream fake(fakeBin + "/ffmpeg");
        fake << "#!/bin/sh\nexit 3\n";
    }
    chmod((fakeBin + "/ffmpeg").c_str(), 0755);
    const BinaryRun early =
        runBinary(QUILM_BIN, {"--headless", "--capture", "y.mkv", "--frames", "5", "sample.q3d"},
                  {"PATH"}, {"PATH=" + fakeBin + ":/usr/bin:/bin"}, dir);
    EXPECT_EQ(early.status, 1);
    EXPECT_NE(early.err.find("quilm: capture to ffmpeg: the program closed its input or ended\n"),
              std::string::npos)
        << early.err;
    EXPECT_NE(early.err.find("quilm: the capture to y.mkv is incomplete\n"), std::string::npos);
    EXPECT_FALSE(exists(dir + "/y.mkv"));

    const BinaryRun unwritable =
        quilm({"--capture", "/proc/nowhere/frames", "--frames", "2", "sample.q3d"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("quilm: capture /proc/nowhere/frames: No such file"),
              std::string::npos)
        << unwritable.err;

    // A full disk while frames are written: a file-size limit makes the first frame's writes
    // fail as a full disk does (the ignored signal is inherited, so the write reports it).
    const std::string full = std::string("trap '' XFSZ; ulimit -f 20; exec '") + QUILM_BIN +
                             "' --headless --size 640x480 --capture full --frames 5 sample.q3d";
    const BinaryRun disk = runBinary("/bin/sh", {"-c", full}, {}, {}, dir);
    EXPECT_EQ(disk.status, 1) << disk.err;
    EXPECT_NE(disk.err.find("frame_000000.png: could not be written"), std::string::npos)
        << disk.err;
    EXPECT_NE(disk.err.find("the capture to full is incomplete"), std::string::npos);
    EXPECT_FALSE(exists(dir + "/full/audio.wav"));

    // Values that cannot work, and values that are not numbers, are bad options (status 2).
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* line;
    };
    const Case cases[] = {
        {{"--capture", "f", "--fps", "0"}, 2, "cannot capture at 0 frames per second"},
        {{"--capture", "f", "--fps", "-3"}, 2, "cannot capture at -3 frames per second"},
        {{"--capture", "f", "--fps", "1001"}, 2, "cannot capture at 1001 frames per second"},
        {{"--capture", "f", "--fps", "x"}, 2, "bad value for --fps"},
        {{"--loop", "5:2"}, 2, "--loop 5:2 ends before it starts"},
        {{"--loop", "3"}, 2, "bad value for --loop"},
        {{"--loop", ":4"}, 2, "bad value for --loop"},
        {{"--loop", "1:-2"}, 2, "bad value for --loop"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("sample.q3d");
        const BinaryRun run = quilm(args);
        EXPECT_EQ(run.status, c.status) << c.line;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_FALSE(exists(dir + "/f")) << c.line;
    }
}

// Where a capture goes, what it refuses, and that it repeats to the byte with real notes.
TEST_F(CaptureRun, TargetsFoldersInterruptionsAndRepeatability) {
    const bool haveFfmpeg =
        system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0;
    // The demo's tune plays notes from order 1 on; captured twice, every byte agrees.
    const std::vector<std::string> demo = {"--data", demoFixture(), "--start",  "1",
                                           "--fps",  "30",          "--frames", "12"};
    auto capture = [&](const std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--capture", out};
        args.insert(args.end(), demo.begin(), demo.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return quilm(args);
    };
    std::vector<std::string> outputs = {"/repeat1", "/repeat2"};
    if (haveFfmpeg) outputs.insert(outputs.end(), {"/repeat1.mp4", "/repeat2.mp4"});
    for (const std::string& out : outputs)
        ASSERT_EQ(capture(dir + out).status, 0) << out;
    const std::string wav = readAll(dir + "/repeat1/audio.wav");
    ASSERT_EQ(wav.size(), 44u + 12u * 1470u * 4u);
    EXPECT_NE(wav.find_first_not_of('\0', 44), std::string::npos) << "the tune is heard";
    EXPECT_TRUE(wav == readAll(dir + "/repeat2/audio.wav")) << "the sound repeats to the byte";
    EXPECT_EQ(readAll(dir + "/repeat1/frame_000011.png"),
              readAll(dir + "/repeat2/frame_000011.png"));
    if (haveFfmpeg) {
        EXPECT_TRUE(readAll(dir + "/repeat1.mp4") == readAll(dir + "/repeat2.mp4"));
    }

    // A folder that holds anything is refused; --overwrite replaces only a capture's files.
    const std::string used = dir + "/used";
    ASSERT_EQ(capture(used, {"--frames", "3"}).status, 0);
    std::ofstream(used + "/notes.txt") << "mine";
    std::ofstream(used + "/frame_000009.png") << "old";
    const BinaryRun refused = capture(used);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("quilm: capture " + used + ": the folder is not empty (6 entries)"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(exists(used + "/frame_000009.png")) << "a refused capture removes nothing";
    const BinaryRun replaced = capture(used, {"--frames", "2", "--overwrite"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(countFrames(used), 2);
    EXPECT_FALSE(exists(used + "/frame_000009.png"));
    EXPECT_EQ(readAll(used + "/notes.txt"), "mine");
    EXPECT_EQ(readAll(used + "/audio.wav").size(), 44u + 2u * 1470u * 4u);

    // Each container ffmpeg writes gets a codec it holds.
    if (haveFfmpeg) {
        const struct {
            const char* name;
            const char* format;
        } containers[] = {{"/c.avi", "avi"}, {"/c.webm", "matroska,webm"}, {"/c.mov", "mov,mp4"}};
        for (const auto& c : containers) {
            ASSERT_EQ(capture(dir + c.name, {"--frames", "3"}).status, 0) << c.name;
            const std::string probe = dir + "/format.txt";
            ASSERT_EQ(system(("ffprobe -v error -show_entries format=format_name -of csv=p=0 '" +
                              dir + c.name + "' > '" + probe + "'")
                                 .c_str()),
                      0);
            EXPECT_NE(readAll(probe).find(c.format), std::string::npos)
                << c.name << ": " << readAll(probe);
        }
    }

    // Stopped by a signal: said, status 1, and the frames so far kept with their sound.
    const std::string stopped = dir + "/stopped";
    const std::string script = std::string("'") + QUILM_BIN +
                               "' --headless --size 160x120 --capture stopped --frames 100000 "
                               "sample.q3d & pid=$!; while [ ! -e stopped/frame_000003.png ]; do "
                               "sleep 0.05; done; kill -TERM $pid; wait $pid";
    const BinaryRun signalled = runBinary("/bin/sh", {"-c", script}, {}, {}, dir);
    EXPECT_EQ(signalled.status, 1) << signalled.err;
    EXPECT_NE(signalled.err.find("quilm: the capture was interrupted after "), std::string::npos)
        << signalled.err;
    EXPECT_NE(signalled.err.find("; stopped is incomplete\n"), std::string::npos);
    const int kept = countFrames(stopped);
    EXPECT_GE(kept, 4);
    EXPECT_EQ(readAll(stopped + "/audio.wav").size(), 44u + captureSampleAt(kept, 60) * 4u);
}

} // namespace
