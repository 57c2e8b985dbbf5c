// The viewer as a user runs it: the sample scene made by the tool, played headless for two
// seconds of scene time, its last frame kept as a picture.
#include "e2e/run_binary.h"

#include "image/image_loaders.h"
#include "writers/scene_writer.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

struct Picture {
    int32_t width = 0, height = 0;
    uint8_t* pixels = nullptr;
    ~Picture() { std::free(pixels); }
    const uint8_t* at(int x, int y) const { return pixels + (size_t(y) * width + x) * 4; }
};

bool readPicture(const std::string& path, Picture& picture) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    picture.pixels = loadPng(file, &picture.width, &picture.height); // closes the file
    return picture.pixels != nullptr;
}

class Viewer : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = scratchDirectory("viewer_sample");
        const BinaryRun made = runBinary(QUILM_TOOL_BIN, {"make-sample", dir});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    // Runs the viewer in the sample's directory, where its pictures are found by bare name.
    BinaryRun view(const std::string& scene, const std::string& frames, const std::string& shot) {
        return runBinary(QUILM_BIN,
                         {"--headless", "--no-dialog", "--console", "--fixed-step", "0.04",
                          "--frames", frames, "--screenshot", shot, scene},
                         {}, {}, dir);
    }
    std::string dir;
};

TEST_F(Viewer, SampleScenePlaysAndItsLastFrameShowsTheSceneThroughTheFilm) {
    const std::string shot = dir + "/shot.png";
    const BinaryRun run = view(dir + "/sample.q3d", "50", shot);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no message box: scene and pictures loaded";
    EXPECT_NE(run.out.find("Time starts at 0 \nTime ends at 57600 \n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("All  envmaps loaded. \n"), std::string::npos);
    EXPECT_NE(run.out.find("Scene has 13 objects, 2 lights, 3 cams 10 materials \n"),
              std::string::npos);
    EXPECT_EQ(run.out.find("Wrong cam id"), std::string::npos) << "camera 0 exists";
    EXPECT_EQ(run.out.find("Object skipped"), std::string::npos) << "the sample fits the limits";

    Picture picture;
    ASSERT_TRUE(readPicture(shot, picture));
    ASSERT_EQ(picture.width, 1024);
    ASSERT_EQ(picture.height, 768);
    // The picture band between the letterbox bars is lit, varied scene content; the bars and
    // the corners are the film's black mask.
    std::set<uint32_t> colours;
    long brightness = 0, samples = 0;
    for (int y = picture.height / 4; y < picture.height * 3 / 4; y += 4)
        for (int x = picture.width / 8; x < picture.width * 7 / 8; x += 4) {
            const uint8_t* p = picture.at(x, y);
            colours.insert(uint32_t(p[0] >> 2) << 12 | uint32_t(p[1] >> 2) << 6 | (p[2] >> 2));
            brightness += p[0] + p[1] + p[2];
            ++samples;
        }
    EXPECT_GT(colours.size(), 500u) << "textured objects, sky and film grain, not a flat fill";
    EXPECT_GT(brightness / samples, 3 * 40) << "not a dark frame";
    const uint8_t* corner = picture.at(2, 2);
    EXPECT_LT(corner[0] + corner[1] + corner[2], 3 * 16) << "letterbox bar";
}

TEST_F(Viewer, GzipCompressedSceneLoadsTheSame) {
    const std::vector<uint8_t> plain = readBytes(dir + "/sample.q3d");
    ASSERT_FALSE(plain.empty());
    ASSERT_TRUE(writeBytes(dir + "/packed.q3d", scenewriter::gzipBytes(plain)));
    const BinaryRun run = view("packed.q3d", "2", dir + "/packed.png");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Scene has 13 objects, 2 lights, 3 cams 10 materials \n"),
              std::string::npos)
        << run.out;
}

TEST_F(Viewer, AMissingTextureIsNamedWithTheReasonAndTheSceneStillPlays) {
    ASSERT_EQ(std::remove((dir + "/sample_crate.jpg").c_str()), 0);
    const BinaryRun run = view("sample.q3d", "1", dir + "/crate.png");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "Caption: Error loading texture! (sample_crate.jpg: No such file or directory)\n");
}

} // namespace
