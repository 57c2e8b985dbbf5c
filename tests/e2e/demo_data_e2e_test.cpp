// The data set the build makes in build/data, end to end: every file the demo loads is there
// and opens in the tools and the player (scenes with their cameras and hidetracks, the loading
// picture with room for its bar, the film pictures), and make-data writes the same bytes again.
#include "e2e/run_binary.h"

#include "image/image_loaders.h"
#include "content/demo_scenes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The build writes the data next to the player.
fs::path dataDirectory() {
    return fs::path(QUILM_BIN).parent_path() / "data";
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DemoData : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(dataDirectory() / ".made"))
            GTEST_SKIP() << "no data set in " << dataDirectory() << " (built with QUILM_DATA off?)";
    }
};

TEST_F(DemoData, EverySceneOpensWithItsCamerasAndHidetrack) {
    const fs::path dir = dataDirectory();
    for (const DemoSceneEntry& entry : kDemoScenes) {
        const std::string name = demoSceneFileName(entry);
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(dir / name));
        // only one form of the scene, so the player cannot pick a stale one
        const std::string other = demoSceneName(entry.scene) +
                                  (entry.storage == SceneStorage::gzipSuffix ? ".q3d" : ".q3d.gz");
        EXPECT_FALSE(fs::exists(dir / other));
        EXPECT_TRUE(fs::exists(dir / (name + (entry.gzipHidetrack ? ".hid.gz" : ".hid"))));

        const BinaryRun scene = runBinary(QUILM_TOOL_BIN, {"scene", name}, {}, {}, dir.string());
        ASSERT_EQ(scene.status, 0) << scene.err;
        EXPECT_NE(scene.out.find(std::to_string(entry.camerasNeeded) + " cams"), std::string::npos)
            << scene.out.substr(0, 2000);
        EXPECT_NE(scene.out.find("All  envmaps loaded. \n"), std::string::npos);
        EXPECT_EQ(scene.out.find("rror"), std::string::npos) << scene.out.substr(0, 2000);

        // the player takes the scene with its track: the track matches the scene
        const BinaryRun player = runBinary(
            QUILM_BIN, {"--headless", "--console", "--fixed-step", "0.04", "--frames", "2", name},
            {}, {"SDL_AUDIODRIVER=dummy"}, dir.string());
        EXPECT_EQ(player.status, 0) << player.err;
        EXPECT_NE(player.out.find("Hidetrack loaded.\n"), std::string::npos) << player.out;
        EXPECT_EQ(player.out.find("rror"), std::string::npos);
        EXPECT_EQ(player.out.find("Failed"), std::string::npos);
    }
}

TEST_F(DemoData, LoadingPictureLeavesTheBarReadable) {
    FILE* file = std::fopen((dataDirectory() / "loading.jpg").string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    int32_t width = 0, height = 0;
    uint8_t* pixels = loadJpeg(file, &width, &height); // closes the file
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(width, 1024);
    ASSERT_EQ(height, 768);
    auto brightness = [&](int x, int y) {
        const uint8_t* p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 4;
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    // the bar's strip: y from -0.62 to -0.56, x from -0.675 to 0.675
    const int top = int((1 - -0.56f) / 2 * float(height)),
              bottom = int((1 - -0.62f) / 2 * float(height));
    const int left = int((1 - 0.675f) / 2 * float(width)),
              right = int((1 + 0.675f) / 2 * float(width));
    long strip = 0, count = 0;
    for (int y = top + 1; y < bottom; ++y)
        for (int x = left + 1; x < right; ++x) {
            strip += brightness(x, y);
            ++count;
        }
    EXPECT_GT(strip / count, 180); // a black bar reads on it
    // the rest is a picture, not a flat colour
    int darkest = 255, brightest = 0;
    for (int y = 0; y < top - 20; y += 7)
        for (int x = 0; x < width; x += 7) {
            darkest = std::min(darkest, brightness(x, y));
            brightest = std::max(brightest, brightness(x, y));
        }
    EXPECT_GT(brightest - darkest, 80);
    std::free(pixels);
    for (const char* name : {"s8_lamp.jpg", "s8_border.png", "s8_sign.png", "s8_drek.png"})
        EXPECT_TRUE(fs::exists(dataDirectory() / name)) << name;
}

TEST_F(DemoData, LogosAreCutOutAndTheMusicIsThere) {
    for (const char* name : {"quilm.png", "logo1.png", "logo2.png", "logo3.png", "logo4.png"}) {
        SCOPED_TRACE(name);
        FILE* file = std::fopen((dataDirectory() / name).string().c_str(), "rb");
        ASSERT_NE(file, nullptr);
        int32_t width = 0, height = 0;
        uint8_t* pixels = loadPng(file, &width, &height); // closes the file
        ASSERT_NE(pixels, nullptr);
        int clear = 0, solid = 0;
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
            clear += pixels[4 * i + 3] == 0;
            solid += pixels[4 * i + 3] == 255;
        }
        std::free(pixels);
        EXPECT_GT(clear, width * height / 4); // the scene shows round the letters
        EXPECT_GT(solid, 100);
    }
    EXPECT_GT(fs::file_size(dataDirectory() / "tune.mo3"), 10000u);
}

// A second run writes the very same scenes and pictures (hidetracks and the still come from
// the player and are covered by the scenes they are made from).
TEST_F(DemoData, MakeDataWritesTheSameBytesAgain) {
    const fs::path again = fs::path(scratchDirectory("demo_data_again"));
    const BinaryRun run =
        runBinary(QUILM_TOOL_BIN, {"make-data", again.string(), "--no-hidetracks"}, {}, {}, "",
                  kRunBinaryLongTimeoutSeconds);
    ASSERT_EQ(run.status, 0) << run.err;
    int compared = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(again)) {
        SCOPED_TRACE(e.path().filename().string());
        const fs::path built = dataDirectory() / e.path().filename();
        ASSERT_TRUE(fs::exists(built));
        EXPECT_TRUE(readAll(e.path()) == readAll(built));
        ++compared;
    }
    EXPECT_GT(compared, 60);
    // one line per file, with its size
    EXPECT_NE(run.out.find("  landschaft.q3d "), std::string::npos);
    EXPECT_NE(run.out.find(" kB\n"), std::string::npos);
    fs::remove_all(again);
}

// The whole demo on the real data set, deterministic and small (the picture size changes no
// cue): every cue starts once, in the order of the script, with nothing missing on the way.
TEST_F(DemoData, WholeDemoStartsEveryCueInScriptOrder) {
    const BinaryRun run =
        runBinary(QUILM_BIN,
                  {"--headless", "--console", "--fixed-step", "0.04", "--exit-at-end", "--size",
                   "256x192", "--data", dataDirectory().string()},
                  {}, {}, "", kRunBinaryLongTimeoutSeconds);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<int> started;
    for (size_t at = run.out.find("timer "); at != std::string::npos;
         at = run.out.find("timer ", at + 1))
        started.push_back(std::atoi(run.out.c_str() + at + 6));
    std::vector<int> script;
    for (int timer = 1; timer <= 48; ++timer) {
        script.push_back(timer);
        if (timer == 1) script.push_back(100);  // the group logo inside the opening shot
        if (timer == 46) script.push_back(102); // the title over the field's last order
    }
    script.insert(script.end(), {50, 123});
    EXPECT_EQ(started, script);
    for (const char* bad : {"Wrong cam id", "Failed", "No hidetrack found!", "rror"})
        EXPECT_EQ(run.out.find(bad), std::string::npos) << bad;
}

TEST(MakeData, RefusesABadCommandLine) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"make-data"},
                                                 {"make-data", "a", "b"},
                                                 {"make-data", "--fast", "a"},
                                                 {"make-data", "a", "--hid-size"}}) {
        const BinaryRun run = runBinary(QUILM_TOOL_BIN, args);
        EXPECT_EQ(run.status, 2) << args.size();
        EXPECT_NE(run.err.find("usage: quilm-tool make-data DIR"), std::string::npos);
    }
    const BinaryRun blocked = runBinary(QUILM_TOOL_BIN, {"make-data", "/proc/version/data"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("cannot create directory"), std::string::npos);
}

} // namespace
