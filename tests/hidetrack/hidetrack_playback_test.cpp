#include "render/vertex_memory.h"
#include "hidetrack/hidetrack_file.h"
#include "hidetrack/hidetrack_generate.h"
#include "render/scene_renderer.h"
#include "scene/scene_test_util.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <GL/gl.h>

namespace {

using scenetest::TempDir;
namespace sw = scenewriter;

constexpr int kWidth = 96;
constexpr int kHeight = 72;

sw::Mesh boxAt(float x, float y, float z, float hx, float hy, float hz, uint16_t material) {
    sw::Mesh mesh = sw::boxMesh(hx, hy, hz, material);
    mesh.transform = sw::translation(x, y, z);
    return mesh;
}

// Seen from the south camera: a wall hides one opaque and one blended box, one box lies
// behind the camera, one crosses the view during the second, one box shows only through the
// holes of an alpha-tested screen, and one blended box stands in the open. The east camera
// sees behind the wall.
sw::Scene occlusionScene() {
    sw::Scene s;
    sw::setStartEnd(s, 0.0, 1.0);
    sw::MaterialDesc grey;
    sw::MaterialDesc holes;
    holes.texture = "holes.png";
    holes.flags = 0x2 | 0x8;
    sw::MaterialDesc glass;
    glass.opacity = 0.5f;
    glass.diffuse[2] = 1.0f;
    s.tracks.push_back(sw::materialTrack("grey", grey));
    s.tracks.push_back(sw::materialTrack("holes", holes));
    s.tracks.push_back(sw::materialTrack("glass", glass));
    auto object = [&](const char* name, const sw::Mesh& mesh) {
        s.tracks.push_back(sw::objectTrack(name, {sw::meshKey(0, mesh)}));
    };
    object("wall", boxAt(0, -2, 0, 3, 0.2f, 3, 0));
    object("hidden", boxAt(0, 3, 0, 0.5f, 0.5f, 0.5f, 0));
    object("behind", boxAt(0, -30, 0, 0.5f, 0.5f, 0.5f, 0));
    s.tracks.push_back(
        sw::objectTrack("crossing", {sw::meshKey(0, boxAt(0, 0, 0, 0.5f, 0.5f, 0.5f, 0)),
                                     sw::transformKey(0, sw::translation(-40, -5, 0)),
                                     sw::transformKey(1.0, sw::translation(40, -5, 0))}));
    object("screen", boxAt(2, -7, 0, 1.5f, 0.05f, 1.5f, 1));
    object("peeking", boxAt(4, -4, 0, 0.5f, 0.5f, 0.5f, 0));
    object("hiddenGlass", boxAt(-1, 4, 0, 0.5f, 0.5f, 0.5f, 2));
    object("glass", boxAt(-3, -6, 1, 0.5f, 0.5f, 0.5f, 2));
    const float south[3] = {0, -10, 0}, east[3] = {10, 0, 3}, origin[3] = {0, 0, 0};
    s.tracks.push_back(sw::cameraTrack("south", {sw::cameraLookAtKey(0, south, origin, 1.5f)}));
    s.tracks.push_back(sw::cameraTrack("east", {sw::cameraLookAtKey(0, east, origin, 1.5f)}));
    const float lightPos[3] = {5, -20, 20}, white[3] = {1, 1, 1};
    s.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, lightPos, white, 0)}));
    return s;
}

// An 8 × 8 checker: opaque white cells and fully transparent ones.
std::vector<uint8_t> holesPng() {
    std::vector<uint8_t> rgba(8 * 8 * 4);
    for (int i = 0; i < 64; ++i) {
        const bool open = ((i % 8) + (i / 8)) % 2 == 0;
        rgba[4 * i + 0] = rgba[4 * i + 1] = rgba[4 * i + 2] = 255;
        rgba[4 * i + 3] = open ? 0 : 255;
    }
    return encodeRgbaPng(8, 8, rgba);
}

struct Frame {
    std::vector<uint8_t> pixels;
    int drawn = 0;
};

Frame drawFrame(Scene& scene, float t) {
    clearToBackground(scene);
    renderScene(scene, t);
    Frame frame;
    frame.pixels.resize(size_t(kWidth) * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.pixels.data());
    for (int32_t i = 0; i < scene.objectCount; ++i)
        frame.drawn += scene.objects[i].visible && scene.objects[i].track != nullptr;
    return frame;
}

TEST(HidetrackPlayback, FramesWithTheTrackMatchFramesWithoutIt) {
    const ScopedTestTarget context(kWidth, kHeight);
    if (!context.ok) GTEST_SKIP() << "no GL context";
    if (vertexMemory.buffer == nullptr) allocVertexMemory(kVertexMemoryCapacity);
    TempDir dir;
    ASSERT_TRUE(writeBytes("holes.png", holesPng()));
    scenetest::Loaded loaded = scenetest::loadWritten(occlusionScene());
    ASSERT_TRUE(loaded.ok) << loaded.log;
    Scene& scene = *loaded.scene;
    {
        ConsoleCapture quiet;
        ASSERT_TRUE(generateHidetrack(scene, "play.q3d"));
    }
    gzFile stream = gzopen("play.q3d.hid", "rb");
    ASSERT_TRUE(loadHidetrack(scene, stream));
    gzclose(stream);

    std::vector<uint8_t*> bits(size_t(scene.objectCount));
    for (int32_t i = 0; i < scene.objectCount; ++i)
        bits[size_t(i)] = scene.objects[i].hideBits;
    int drawnWithout = 0, drawnWith = 0, mismatches = 0;
    // Visibility per object and sample, to see that each kind of object was judged.
    std::vector<int> shown(size_t(scene.objectCount), 0);
    for (int32_t c = 0; c < scene.cameraCount; ++c) {
        setCamera(scene, c);
        // The generator's own sample times, accumulated the same way.
        for (float t = scene.timeStart; t <= scene.timeEnd; t = t + 1.0f / 30.0f) {
            for (int32_t i = 0; i < scene.objectCount; ++i)
                scene.objects[i].hideBits = nullptr;
            const Frame without = drawFrame(scene, t);
            for (int32_t i = 0; i < scene.objectCount; ++i)
                scene.objects[i].hideBits = bits[size_t(i)];
            const Frame with = drawFrame(scene, t);
            for (int32_t i = 0; i < scene.objectCount; ++i)
                shown[size_t(i)] += scene.objects[i].visible;
            drawnWithout += without.drawn;
            drawnWith += with.drawn;
            if (without.pixels != with.pixels) {
                ++mismatches;
                ADD_FAILURE() << "camera " << c << " t " << t;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_LT(drawnWith, drawnWithout);
    // South camera: the wall, the screen, the peeking box and the open glass box in all 30
    // samples; the east camera sees the hidden boxes.
    EXPECT_EQ(shown[0], 60);
    EXPECT_GT(shown[1], 0);
    EXPECT_LT(shown[1], 60);
    EXPECT_EQ(shown[2], 0); // behind the south camera and outside the east one's view
    EXPECT_GT(shown[3], 0); // crossing
    EXPECT_LT(shown[3], 30);
    EXPECT_GE(shown[5], 30); // peeking through the holes
    EXPECT_GT(shown[6], 0);
    EXPECT_LT(shown[6], 60);
    EXPECT_GE(shown[7], 30);
}

} // namespace
