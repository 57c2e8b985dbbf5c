// The capture's sound arithmetic and its folder writer (the video writer runs end to end).
#include "app/capture.h"

#include "support/child_helper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(Capture, FramesCoverTheSoundExactlyWithRoundedBoundaries) {
    struct Case {
        int fps;
        int64_t frame;
        uint64_t sample;
    };
    // round(k * 44100 / N), halves up.
    const Case cases[] = {{60, 1, 735}, {24, 1, 1838},   {24, 2, 3675},  {30, 7, 10290},
                          {7, 1, 6300}, {1000, 1, 44},   {1000, 3, 132}, {1, 1, 44100},
                          {59, 1, 747}, {59, 59, 44100}, {25, 0, 0},     {1000, 5, 221}};
    for (const Case& c : cases)
        EXPECT_EQ(captureSampleAt(c.frame, c.fps), c.sample) << c.fps << " fps, frame " << c.frame;
    for (int fps : {1, 7, 24, 25, 29, 30, 59, 60, 144, 1000}) {
        uint64_t sum = 0;
        for (int k = 0; k < fps; ++k) {
            const int n = captureFrameSamples(k, fps);
            EXPECT_LE(n, kCaptureMaxFrameSamples);
            sum += uint64_t(n);
        }
        EXPECT_EQ(sum, 44100u) << "one second of frames is one second of sound at " << fps;
    }
}

TEST(Capture, PathsAreVideosFoldersOrRefusedByTheirExtension) {
    const struct {
        const char* path;
        bool existingFolder;
        CaptureTarget target;
    } cases[] = {
        {"a.mp4", false, CaptureTarget::video},
        {"dir/B.MKV", false, CaptureTarget::video},
        {".mp4", false, CaptureTarget::video},
        {"x.Mov", false, CaptureTarget::video},
        {"x.webm", false, CaptureTarget::video},
        {"x.avi", true, CaptureTarget::video},
        {"frames", false, CaptureTarget::folder},
        {"a.mp4/", false, CaptureTarget::folder},
        {"dir.d/frames", false, CaptureTarget::folder},
        {".hidden", false, CaptureTarget::folder},
        {"x.", false, CaptureTarget::folder},
        {"a.mp4.tmp", true, CaptureTarget::folder},
        {"a.mp4.tmp", false, CaptureTarget::refused},
        {"x.png", false, CaptureTarget::refused},
        {"x.mpg", false, CaptureTarget::refused},
        {"dir/x.avi2", false, CaptureTarget::refused},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(captureTargetOf(c.path, c.existingFolder), c.target) << c.path;
        EXPECT_EQ(captureIsVideoPath(c.path), c.target == CaptureTarget::video) << c.path;
    }
}

std::string scratch(const char* name) {
    const std::string dir = std::string("/tmp/quilm-capture-") + name + "-" +
                            std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    std::remove((dir + "/audio.wav").c_str());
    return dir;
}

long fileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? long(info.st_size) : -1;
}

TEST(Capture, FolderHoldsNumberedFramesAndAWaveOfTheirLength) {
    static CaptureSink sink;
    const std::string dir = scratch("folder");
    ASSERT_TRUE(openCapture(sink, dir.c_str(), 4, 2, 24));
    std::vector<uint8_t> rgba(4 * 2 * 4, 200);
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; i < 2 * captureFrameSamples(k, 24); ++i)
            sink.audio[i] = int16_t(i);
        ASSERT_TRUE(writeCaptureFrame(sink, rgba.data()));
    }
    ASSERT_TRUE(finishCapture(sink, true));
    EXPECT_GT(fileSize(dir + "/frame_000004.png"), 0);
    EXPECT_EQ(fileSize(dir + "/frame_000005.png"), -1);
    const long wav = fileSize(dir + "/audio.wav");
    EXPECT_EQ(wav, 44 + long(captureSampleAt(5, 24)) * 4);
    FILE* file = std::fopen((dir + "/audio.wav").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    uint8_t header[44];
    ASSERT_EQ(std::fread(header, 1, 44, file), 44u);
    std::fclose(file);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 4), "RIFF");
    EXPECT_EQ(header[4] | header[5] << 8 | header[6] << 16, wav - 8);
    EXPECT_EQ(header[40] | header[41] << 8 | header[42] << 16, wav - 44);
    EXPECT_EQ(header[24] | header[25] << 8 | header[26] << 16, 44100);
    EXPECT_EQ(header[22], 2) << "stereo";
    EXPECT_EQ(header[34], 16) << "16-bit";
}

TEST(Capture, RefusedOrFailedCapturesLeaveNoSoundFileBehind) {
    static CaptureSink sink;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(openCapture(sink, "/proc/no-such-dir/frames", 4, 2, 30));
    EXPECT_FALSE(openCapture(sink, "/proc/version", 4, 2, 30)) << "a file, not a folder";
    EXPECT_FALSE(openCapture(sink, "/tmp/x", 4, 2, 0));
    EXPECT_FALSE(openCapture(sink, "/tmp/x", 4, 2, kCaptureMaxFps + 1));
    const std::string refused = testing::internal::GetCapturedStderr();
    EXPECT_NE(refused.find("quilm: capture /proc/no-such-dir/frames: No such file or directory\n"),
              std::string::npos)
        << refused;
    EXPECT_NE(refused.find("/proc/version: exists and is not a folder"), std::string::npos);

    // A capture that ends in failure takes its sound file back: nothing looks complete.
    const std::string dir = scratch("failed");
    ASSERT_TRUE(openCapture(sink, dir.c_str(), 4, 2, 30));
    std::vector<uint8_t> rgba(4 * 2 * 4, 0);
    ASSERT_TRUE(writeCaptureFrame(sink, rgba.data()));
    EXPECT_FALSE(finishCapture(sink, false));
    EXPECT_EQ(fileSize(dir + "/audio.wav"), -1);
    EXPECT_FALSE(writeCaptureFrame(sink, rgba.data())) << "closed";
}

// The test binary stands in for ffmpeg on PATH and counts what reaches each of its inputs.
TEST(Capture, VideoReachesTheEncoderWholeThroughBothInputs) {
    namespace fs = std::filesystem;
    const std::string self = testBinaryPath();
    ASSERT_FALSE(self.empty());
    const fs::path bin =
        fs::temp_directory_path() / ("quilm-capture-bin-" + std::to_string(getpid()));
    fs::create_directories(bin);
#ifdef _WIN32
    const fs::path encoder = bin / "ffmpeg.exe";
    const char separator = ';';
#else
    const fs::path encoder = bin / "ffmpeg";
    const char separator = ':';
#endif
    std::error_code error;
    fs::remove(encoder, error);
    const fs::path selfPath(std::u8string(self.begin(), self.end()));
    fs::create_hard_link(selfPath, encoder, error);
    if (error) fs::copy_file(selfPath, encoder, error);
    ASSERT_FALSE(error) << error.message();
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    setenv("PATH", (bin.string() + separator + savedPath).c_str(), 1);
    const ChildHelperMode mode("encoder");

    static CaptureSink sink;
    const std::string video = (bin / "out.mp4").string();
    const bool opened = openCapture(sink, video.c_str(), 64, 48, 25);
    std::vector<uint8_t> rgba(64 * 48 * 4, 0x5a);
    bool written = opened;
    for (int k = 0; k < 30 && written; ++k)
        written = writeCaptureFrame(sink, rgba.data());
    const bool finished = opened && finishCapture(sink, written);
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_TRUE(opened && written && finished);
    std::ifstream in(bin / "out.mp4", std::ios::binary);
    std::stringstream counts;
    counts << in.rdbuf();
    in.close();
    // 30 frames of 64 x 48 RGBA; 30 / 25 s of 16-bit stereo at 44100 Hz.
    EXPECT_EQ(counts.str(), "pictures 368640\nsound 211680\n");
    fs::remove_all(bin, error);
}

} // namespace
