#include "hidetrack/hidetrack_file.h"
#include "scene/object_update.h"
#include "scene/scene_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using scenetest::TempDir;

struct HidHeader {
    int32_t objects, cameras;
    float start, end;
    int32_t rate, frames, rowBits;
};

std::vector<uint8_t> hidBytes(const HidHeader& h, const std::vector<std::vector<uint8_t>>& blocks) {
    std::vector<uint8_t> out(sizeof h);
    std::memcpy(out.data(), &h, sizeof h);
    for (const auto& b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

// A scene of two objects and two cameras over 1 s: F = 30, blocks of 2 × 4 bytes.
struct HidScene : ::testing::Test {
    TempDir dir;
    Scene* scene = createScene();
    void SetUp() override {
        scene->timeStart = 0.0f;
        scene->timeEnd = 1.0f;
        scene->objectCount = 2;
        scene->objects = new SceneObject[2];
        scene->cameraCount = 2;
        scene->cameras = new Camera[2];
    }
    void TearDown() override { destroyScene(scene); }
    HidHeader header() const { return {2, 2, 0.0f, 1.0f, 30, 30, 30}; }
    bool load(const std::vector<uint8_t>& bytes, std::string* log = nullptr, bool gzip = false) {
        const char* path = gzip ? "s.q3d.hid.gz" : "s.q3d.hid";
        const std::vector<uint8_t> file = gzip ? scenewriter::gzipBytes(bytes) : bytes;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        gzFile stream = gzopen(path, "rb");
        ConsoleCapture capture;
        const bool ok = loadHidetrack(*scene, stream);
        gzclose(stream);
        if (log) *log = capture.text;
        return ok;
    }
};

TEST(HidetrackFrames, CountsFollowTheSingleStep) {
    EXPECT_EQ(hidetrackFrameCount(0.0f, 1.0f, 30), 30);
    EXPECT_EQ(hidetrackFrameCount(0.0f, 2.0f, 30), 60);
    EXPECT_EQ(hidetrackFrameCount(0.0f, 60.0f, 30), 1800);
    EXPECT_EQ(hidetrackBlockBytes(3, 30), 12);
    EXPECT_EQ(hidetrackBlockBytes(3, 60), 24);
}

TEST_F(HidScene, LoadsBlocksPlainOrCompressed) {
    for (bool gzip : {false, true}) {
        const std::vector<uint8_t> a = {0x02, 0, 0, 0, 0x80, 0, 0, 0};
        const std::vector<uint8_t> b = {0, 0, 0, 0, 0, 0, 0, 0x01};
        std::string log;
        ASSERT_TRUE(load(hidBytes(header(), {a, b}), &log, gzip));
        EXPECT_EQ(log, "");
        EXPECT_EQ(scene->hideFrameRate, 30);
        EXPECT_EQ(scene->hideBitsPerCamera, 30);
        ASSERT_EQ(scene->objects[0].hideBitsBytes, 8);
        EXPECT_EQ(std::vector<uint8_t>(scene->objects[0].hideBits, scene->objects[0].hideBits + 8),
                  a);
        EXPECT_EQ(scene->objects[1].hideBits[7], 0x01);
        // Camera 0, sample 0 is bit 1: visible at t = 0. Camera 1 reads bits frame + 30 and
        // frame + 31; bit 39 (its sample 8) shows at frames 8 and 9 only.
        scene->currentCamera = 0;
        EXPECT_TRUE(isVisibleAt(*scene, 0.0f, scene->objects[0].hideBits, 8));
        EXPECT_FALSE(isVisibleAt(*scene, 0.5f, scene->objects[0].hideBits, 8));
        scene->currentCamera = 1;
        EXPECT_FALSE(isVisibleAt(*scene, 0.0f, scene->objects[0].hideBits, 8));
        EXPECT_FALSE(isVisibleAt(*scene, 7.5f / 30.0f, scene->objects[0].hideBits, 8));
        EXPECT_TRUE(isVisibleAt(*scene, 8.5f / 30.0f, scene->objects[0].hideBits, 8));
        EXPECT_TRUE(isVisibleAt(*scene, 9.5f / 30.0f, scene->objects[0].hideBits, 8));
        EXPECT_FALSE(isVisibleAt(*scene, 10.5f / 30.0f, scene->objects[0].hideBits, 8));
    }
}

TEST_F(HidScene, MismatchesAreRefusedAndNoObjectGetsBits) {
    const std::vector<uint8_t> block(8, 0xff);
    const std::string refused = "Hide track is incompatible with scene. Please regenerate it! \n";
    // Each compared field on both sides of the scene's value, the others matching.
    const struct {
        const char* field;
        int32_t HidHeader::*count;
        float HidHeader::*time;
        double value;
        int32_t frames = 30; // a rate without sample times has no count to match: not even -1
    } rows[] = {
        {"objects", &HidHeader::objects, nullptr, 3},
        {"objects", &HidHeader::objects, nullptr, 1},
        {"cameras", &HidHeader::cameras, nullptr, 1},
        {"cameras", &HidHeader::cameras, nullptr, 3},
        {"start", nullptr, &HidHeader::start, 0.0001},
        {"start", nullptr, &HidHeader::start, -0.0001},
        {"end", nullptr, &HidHeader::end, 1.0001},
        {"end", nullptr, &HidHeader::end, 0.9999},
        {"frames", &HidHeader::frames, nullptr, 31}, // not what the range gives at its rate
        {"frames", &HidHeader::frames, nullptr, 29},
        {"rate", &HidHeader::rate, nullptr, 60}, // rates whose range has other than 30 frames
        {"rate", &HidHeader::rate, nullptr, 15},
        {"rate", &HidHeader::rate, nullptr, 0}, // no sample times at all
        {"rate", &HidHeader::rate, nullptr, -30},
        {"rate", &HidHeader::rate, nullptr, 1 << 30, -1}, // too many samples to count
        {"rate", &HidHeader::rate, nullptr, 0, -1},
        {"rate", &HidHeader::rate, nullptr, -30, -1},
    };
    for (const auto& row : rows) {
        HidHeader bad = header();
        bad.frames = row.frames;
        if (row.count) bad.*row.count = int32_t(row.value);
        if (row.time) bad.*row.time = float(row.value);
        std::string log;
        EXPECT_FALSE(load(hidBytes(bad, {block, block}), &log)) << row.field << " " << row.value;
        EXPECT_EQ(log, refused);
        EXPECT_EQ(scene->objects[0].hideBits, nullptr);
        EXPECT_EQ(scene->objects[1].hideBits, nullptr);
    }
    // The rate and row length are taken before the checks, as the file gives them.
    EXPECT_EQ(scene->hideFrameRate, -30);
    // A matching rate of 60 with its own frame count is accepted.
    HidHeader fast = header();
    fast.rate = 60;
    fast.frames = int32_t(hidetrackFrameCount(0.0f, 1.0f, 60));
    const std::vector<uint8_t> wide(size_t(hidetrackBlockBytes(2, fast.frames)), 0);
    EXPECT_TRUE(load(hidBytes(fast, {wide, wide})));
}

TEST_F(HidScene, TracksBeyondTheSizeLimitAreRefusedBeforeAnyBlockIsRead) {
    // 4096 cameras at 2^18 samples per second: two blocks of 128 MB and 4 kB, just past the
    // 256 MB limit; the file holds only its header, so nothing could have been read.
    destroyScene(scene);
    scene = createScene();
    SetUp();
    scene->cameraCount = 4096;
    delete[] scene->cameras;
    scene->cameras = new Camera[4096];
    HidHeader big = header();
    big.cameras = 4096;
    big.rate = 1 << 18;
    big.frames = int32_t(hidetrackFrameCount(0.0f, 1.0f, big.rate));
    ASSERT_GT(hidetrackBlockBytes(4096, big.frames) * 2, kHidetrackMaxBytes);
    std::string log;
    EXPECT_FALSE(load(hidBytes(big, {}), &log));
    EXPECT_EQ(log, "Hide track needs more than the 256 MB hidetrack limit. \n");
    EXPECT_EQ(scene->objects[0].hideBits, nullptr);
}

TEST_F(HidScene, TruncatedFilesAreRefused) {
    const std::vector<uint8_t> block(8, 0xff);
    const std::string truncated = "Hide track file is truncated. Please regenerate it! \n";
    std::vector<uint8_t> bytes = hidBytes(header(), {block, block});
    for (size_t cut : {size_t(0), size_t(27), bytes.size() - 1}) {
        std::string log;
        EXPECT_FALSE(load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)), &log));
        EXPECT_EQ(log, truncated) << cut;
        EXPECT_EQ(scene->objects[0].hideBits, nullptr);
    }
    EXPECT_FALSE(loadHidetrack(*scene, nullptr));
}

// A track that cannot be read or fails zlib's checks says so, with the file and zlib's reason,
// instead of calling itself truncated; a complete track with a short trailer still loads.
TEST_F(HidScene, UnreadableAndDamagedFilesSayWhy) {
    const std::vector<uint8_t> block(8, 0x5a);
    const std::vector<uint8_t> gz = scenewriter::gzipBytes(hidBytes(header(), {block, block}));
    auto flipped = [&](size_t fromEnd) {
        std::vector<uint8_t> bytes = gz;
        bytes[bytes.size() - fromEnd] ^= 0x01;
        return bytes;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        bool loads;
        const char* line; // "" for a load without a line
    } cases[] = {
        {"crc", flipped(8), false, "is damaged (s.q3d.hid.gz: incorrect data check)"},
        {"length", flipped(4), false, "is damaged (s.q3d.hid.gz: incorrect length check)"},
        {"deflate", flipped(gz.size() - 12), false, "is damaged (s.q3d.hid.gz: "},
        // Loads last: a refused track leaves an earlier load's bits alone.
        {"no trailer", std::vector<uint8_t>(gz.begin(), gz.end() - 8), true, ""},
        {"no length", std::vector<uint8_t>(gz.begin(), gz.end() - 4), true, ""},
    };
    for (const auto& c : cases) {
        std::ofstream("s.q3d.hid.gz", std::ios::binary)
            .write(reinterpret_cast<const char*>(c.file.data()), std::streamsize(c.file.size()));
        gzFile stream = gzopen("s.q3d.hid.gz", "rb");
        ConsoleCapture capture;
        EXPECT_EQ(loadHidetrack(*scene, stream), c.loads) << c.what;
        gzclose(stream);
        if (*c.line == 0) {
            EXPECT_EQ(capture.text, "") << c.what;
        } else {
            EXPECT_NE(capture.text.find(c.line), std::string::npos)
                << c.what << ": " << capture.text;
        }
        EXPECT_EQ(capture.text.find("truncated"), std::string::npos) << c.what;
        if (!c.loads) {
            EXPECT_EQ(scene->objects[0].hideBits, nullptr) << c.what;
        }
    }
#ifndef _WIN32 // Windows refuses to open a folder at all
    ASSERT_TRUE(std::filesystem::create_directory("folder.hid"));
    gzFile stream = gzopen("folder.hid", "rb");
    ASSERT_NE(stream, nullptr);
    ConsoleCapture capture;
    EXPECT_FALSE(loadHidetrack(*scene, stream));
    gzclose(stream);
    EXPECT_EQ(
        capture.text,
        "Hide track file cannot be read (folder.hid: Is a directory). Please regenerate it! \n");
#endif
}

} // namespace
