#include "render/vertex_memory.h"
#include "hidetrack/hidetrack_file.h"
#include "hidetrack/hidetrack_generate.h"
#include "render/scene_renderer.h"
#include "scene/scene_test_util.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using scenetest::Loaded;
using scenetest::TempDir;
namespace sw = scenewriter;

constexpr int kWidth = 96;
constexpr int kHeight = 72;

struct Context : ScopedTestTarget {
    Context() : ScopedTestTarget(kWidth, kHeight) {
        if (ok && vertexMemory.buffer == nullptr) allocVertexMemory(kVertexMemoryCapacity);
        ok = ok && vertexMemory.buffer != nullptr;
    }
};

std::vector<uint8_t> fileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Generated {
    bool ok = false;
    std::string log;
    HidetrackHeader header;
    std::vector<uint8_t> block0; // the first object's block
};

Generated generate(Scene& scene, const char* scenePath = "s.q3d") {
    Generated out;
    {
        ConsoleCapture capture;
        out.ok = generateHidetrack(scene, scenePath);
        out.log = capture.text;
    }
    const std::string hid = std::string(scenePath) + ".hid";
    const std::vector<uint8_t> bytes = fileBytes(hid.c_str());
    if (bytes.size() >= 28) std::memcpy(&out.header, bytes.data(), 28);
    const int64_t block = hidetrackBlockBytes(out.header.cameraCount, out.header.frameCount);
    if (out.ok && int64_t(bytes.size()) == 28 + out.header.objectCount * block && block > 0)
        out.block0.assign(bytes.begin() + 28, bytes.begin() + 28 + block);
    return out;
}

const float kEyeSouth[3] = {0, -10, 0};
const float kEyeEast[3] = {10, 0, 3};
const float kEyeNorth[3] = {0, 30, 0};
const float kOrigin[3] = {0, 0, 0};

// One big box in front of the cameras given, lit; the other cameras look away from it.
sw::Scene boxScene(double seconds, std::vector<const float*> eyes) {
    sw::Scene s;
    sw::setStartEnd(s, 0.0, seconds);
    s.tracks.push_back(sw::materialTrack("grey", sw::MaterialDesc{}));
    sw::Mesh box = sw::boxMesh(1, 1, 1);
    s.tracks.push_back(sw::objectTrack("box", {sw::meshKey(0, box)}));
    for (const float* eye : eyes) {
        const float away[3] = {eye[0] * 2, eye[1] * 2, eye[2] * 2};
        const bool looks = eye != kEyeNorth;
        s.tracks.push_back(
            sw::cameraTrack("cam", {sw::cameraLookAtKey(0, eye, looks ? kOrigin : away, 1.5f)}));
    }
    const float lightPos[3] = {0, -20, 20}, white[3] = {1, 1, 1};
    s.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, lightPos, white, 0)}));
    return s;
}

Loaded loadInContext(const sw::Scene& s) {
    Loaded loaded = scenetest::loadWritten(s);
    EXPECT_TRUE(loaded.ok) << loaded.log;
    return loaded;
}

TEST(HidetrackGenerate, HeadersLogAndEveryBitOfAVisibleObject) {
    const Context context;
    if (!context.ok) GTEST_SKIP() << "no GL context";
    TempDir dir;
    {
        // 1.0 s: 30 samples, all within F = 30; bit 0 clear, bits 1 to 30 set.
        Loaded one = loadInContext(boxScene(1.0, {kEyeSouth}));
        const Generated g = generate(*one.scene);
        ASSERT_TRUE(g.ok) << g.log;
        EXPECT_EQ(g.log, " 1 cameras there! Start: 0 End: 1000 \nNow tracking camera: 0 \n"
                         "30 frames tested. \nWriting .hid file\n");
        EXPECT_EQ(g.header.objectCount, 1);
        EXPECT_EQ(g.header.cameraCount, 1);
        EXPECT_EQ(g.header.timeStart, 0.0f);
        EXPECT_EQ(g.header.timeEnd, 1.0f);
        EXPECT_EQ(g.header.sampleRate, 30);
        EXPECT_EQ(g.header.frameCount, 30);
        EXPECT_EQ(g.header.rowBits, 30);
        EXPECT_EQ(g.block0, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0x7F}));
    }
    {
        // 2.0 s: the accumulated step reaches one sample more than F: S = 61, bits 1 to 61.
        Loaded two = loadInContext(boxScene(2.0, {kEyeSouth}));
        const Generated g = generate(*two.scene);
        ASSERT_TRUE(g.ok) << g.log;
        EXPECT_EQ(g.header.frameCount, 60);
        EXPECT_EQ(g.header.rowBits, 61);
        EXPECT_EQ(g.block0, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F}));
    }
}

TEST(HidetrackGenerate, CameraRowsShareTheShiftedBit) {
    const Context context;
    if (!context.ok) GTEST_SKIP() << "no GL context";
    TempDir dir;
    // Camera 0 sees the box, camera 1 looks away: sample 0 of camera 1 is bit 31, the last
    // sample of camera 0 bit 30.
    Loaded loaded = loadInContext(boxScene(1.0, {kEyeSouth, kEyeNorth}));
    const Generated g = generate(*loaded.scene);
    ASSERT_TRUE(g.ok) << g.log;
    EXPECT_EQ(g.header.rowBits, 30);
    EXPECT_EQ(g.block0, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}));
    EXPECT_NE(g.log.find("Now tracking camera: 1 \n30 frames tested. \n"), std::string::npos);
    // The file loads back into the scene it was made for, plain or compressed.
    ASSERT_TRUE(writeBytes("s.q3d.hid.gz", sw::gzipBytes(fileBytes("s.q3d.hid"))));
    for (const char* name : {"s.q3d.hid", "s.q3d.hid.gz"}) {
        gzFile stream = gzopen(name, "rb");
        EXPECT_TRUE(loadHidetrack(*loaded.scene, stream)) << name;
        gzclose(stream);
        ASSERT_NE(loaded.scene->objects[0].hideBits, nullptr);
        EXPECT_EQ(loaded.scene->objects[0].hideBits[3], 0x7F);
        EXPECT_EQ(loaded.scene->objects[0].hideBits[4], 0);
    }
}

TEST(HidetrackGenerate, TheLastSampleNeverLandsPastTheBlock) {
    const Context context;
    if (!context.ok) GTEST_SKIP() << "no GL context";
    TempDir dir;
    // 0.5 s: F = 15, S = 16; with two cameras the last sample is bit 32 of a 32-bit block.
    Loaded loaded = loadInContext(boxScene(0.5, {kEyeSouth, kEyeEast}));
    const Generated g = generate(*loaded.scene);
    ASSERT_TRUE(g.ok) << g.log;
    EXPECT_EQ(g.header.frameCount, 15);
    EXPECT_EQ(g.header.rowBits, 16);
    EXPECT_EQ(g.block0, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(HidetrackGenerate, UnwritableFilesAreReported) {
    const Context context;
    if (!context.ok) GTEST_SKIP() << "no GL context";
    TempDir dir;
    Loaded loaded = loadInContext(boxScene(0.2, {kEyeSouth}));
    const Generated g = generate(*loaded.scene, "missing/dir/s.q3d");
    EXPECT_FALSE(g.ok);
    EXPECT_NE(g.log.find("Writing .hid file\nCould not create missing/dir/s.q3d.hid \n"),
              std::string::npos)
        << g.log;
}

std::vector<uint8_t> readFrame() {
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// A row of 300 small boxes along x seen by one camera, with a wall in front of part of them;
// the boxes beyond the 255 stencil names are judged by queries instead.
sw::Scene manyBoxes() {
    sw::Scene s;
    sw::setStartEnd(s, 0.0, 1.0);
    s.tracks.push_back(sw::materialTrack("grey", sw::MaterialDesc{}));
    auto box = [&](float x, float y, float z, float h) {
        sw::Mesh mesh = sw::boxMesh(h, h, h);
        mesh.transform = sw::translation(x, y, z);
        s.tracks.push_back(sw::objectTrack("box", {sw::meshKey(0, mesh)}));
    };
    box(0, -3, 0, 1.0f); // 0: the wall, hides everything near x = 0
    for (int i = 1; i < 300; ++i)
        box(float(i % 20) * 0.3f - 3.0f, 0, float(i / 20) * 0.3f - 2.25f, 0.1f);
    // 300: in front of the wall, 301: far outside the view
    box(0, -6, 0, 0.2f);
    box(0, 200, 0, 0.2f);
    const float eye[3] = {0, -10, 0}, origin[3] = {0, 0, 0};
    s.tracks.push_back(sw::cameraTrack("cam", {sw::cameraLookAtKey(0, eye, origin, 1.2f)}));
    const float lightPos[3] = {0, -20, 20}, white[3] = {1, 1, 1};
    s.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, lightPos, white, 0)}));
    return s;
}

TEST(HidetrackMark, DrawsTheRenderersFrameAndJudgesEveryObject) {
    const Context context;
    if (!context.ok) GTEST_SKIP() << "no GL context";
    TempDir dir;
    Loaded loaded = loadInContext(manyBoxes());
    Scene& scene = *loaded.scene;
    ASSERT_EQ(scene.objectCount, 302);
    setCamera(scene, 0);
    clearToBackground(scene);
    markVisibleObjects(scene, 0.5f);
    const std::vector<uint8_t> marked = readFrame();
    std::vector<bool> visible(size_t(scene.objectCount));
    for (int32_t i = 0; i < scene.objectCount; ++i)
        visible[size_t(i)] = scene.objects[i].visible;
    // The pass draws the renderer's own frame.
    clearToBackground(scene);
    renderScene(scene, 0.5f);
    EXPECT_EQ(readFrame(), marked);
    int hidden = 0, hiddenUnnamed = 0, shownUnnamed = 0;
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        hidden += !visible[size_t(i)];
        if (i >= 255 && i < 300) (visible[size_t(i)] ? shownUnnamed : hiddenUnnamed) += 1;
    }
    EXPECT_TRUE(visible[0]);
    EXPECT_TRUE(visible[300]);
    EXPECT_FALSE(visible[301]);
    EXPECT_GT(hidden, 20);
    EXPECT_GT(hiddenUnnamed, 0);
    EXPECT_GT(shownUnnamed, 0);

    // Played back with its track, the frame stays the same with the hidden boxes left out.
    Generated g = generate(scene);
    ASSERT_TRUE(g.ok) << g.log;
    gzFile stream = gzopen("s.q3d.hid", "rb");
    ASSERT_TRUE(loadHidetrack(scene, stream));
    gzclose(stream);
    clearToBackground(scene);
    renderScene(scene, 0.5f);
    EXPECT_EQ(readFrame(), marked);
    int drawn = 0;
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        drawn += scene.objects[i].visible;
        EXPECT_EQ(scene.objects[i].visible, visible[size_t(i)]) << "object " << i;
    }
    EXPECT_EQ(drawn, scene.objectCount - hidden);
}

TEST(HidetrackWrite, BitsStayInsideTheBlockAndFailuresLeaveNoFile) {
    uint8_t block[2] = {};
    EXPECT_TRUE(setHidetrackBit(block, 2, 0));
    EXPECT_TRUE(setHidetrackBit(block, 2, 9));
    EXPECT_FALSE(setHidetrackBit(block, 2, 16));
    EXPECT_FALSE(setHidetrackBit(block, 2, -1));
    EXPECT_EQ(block[0], 0x01);
    EXPECT_EQ(block[1], 0x02);
    // /dev/full accepts the open and fails the flush.
    HidetrackHeader header;
    header.objectCount = 1;
    header.cameraCount = 1;
    header.frameCount = 8;
    const uint8_t* blocks[1] = {block};
    ConsoleCapture capture;
    if (std::ifstream("/dev/full").good()) {
        EXPECT_FALSE(writeHidetrackFile("/dev/full", header, blocks));
        EXPECT_EQ(capture.text, "Could not write /dev/full \n");
    }
}

} // namespace
