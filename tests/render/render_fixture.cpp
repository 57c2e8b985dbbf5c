#include "render/render_fixture.h"

#include "render/vertex_memory.h"
#include "platform/options.h"
#include "render/scene_renderer.h"
#include "render/vertex_buffer_object.h"
#include "scene/scene_file.h"
#include "support/console_capture.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>

#include <cmath>
#include <cstdlib>

namespace rendertest {

void RenderTest::SetUp() {
    ASSERT_TRUE(useTestGLContext(kSize, kSize));
    ASSERT_TRUE(target.create(kSize, kSize, true)) << "a fixed-size target is needed";
    setupOptions.width = kSize;
    setupOptions.height = kSize;
    setupOptions.useExtensions = false;
    useVertexCapacity(kVertexMemoryCapacity);
    forgetRenderedScene();
}

void RenderTest::TearDown() {
    detachVertexBufferObject();
    releaseVertexMemory();
    target.destroy();
    setupOptions = SetupOptions{};
    forgetRenderedScene();
}

void RenderTest::useVertexCapacity(int capacity) {
    ConsoleCapture quiet;
    detachVertexBufferObject();
    ASSERT_TRUE(allocVertexMemory(capacity));
}

void RenderTest::drawFrame(Scene& scene, float t) {
    clearToBackground(scene);
    renderScene(scene, t);
    glFinish();
}

Rgba RenderTest::pixel(int x, int y) {
    unsigned char p[4] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2], p[3]};
}

Rgba RenderTest::pixelAt(float x, float z) {
    // 90 degrees across a square target: the view spans -10..10 at the camera's distance 10.
    const int px = int(std::floor((x / 10.0f * 0.5f + 0.5f) * kSize));
    const int py = int(std::floor((z / 10.0f * 0.5f + 0.5f) * kSize));
    return pixel(px, py);
}

Scene* loadTestScene(const sw::Scene& description) {
    const std::vector<uint8_t> bytes = sw::writeScene(description);
    Scene* scene = createScene();
    ConsoleCapture quiet;
    if (!loadSceneFromMemory(*scene, bytes.data(), bytes.size())) {
        ADD_FAILURE() << "scene refused: " << quiet.text;
        destroyScene(scene);
        return nullptr;
    }
    return scene;
}

void freeTestScene(Scene* scene) {
    destroyScene(scene);
}

sw::Scene cameraScene(float r, float g, float b) {
    sw::Scene scene;
    sw::setStartEnd(scene, 0.0, 10.0);
    scene.background[0] = r;
    scene.background[1] = g;
    scene.background[2] = b;
    const float eye[3] = {0, -10, 0}, target[3] = {0, 0, 0};
    scene.tracks.push_back(
        sw::cameraTrack("camera", {sw::cameraLookAtKey(0, eye, target, 1.5707964f)}));
    return scene;
}

void addFrontLight(sw::Scene& scene) {
    const float position[3] = {0, -100000, 0}, white[3] = {1, 1, 1};
    scene.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, position, white, 0)}));
}

sw::MaterialDesc plain(float r, float g, float b) {
    sw::MaterialDesc m;
    m.diffuse[0] = r;
    m.diffuse[1] = g;
    m.diffuse[2] = b;
    m.ambient[0] = m.ambient[1] = m.ambient[2] = 0.0f;
    return m;
}

sw::Matrix12 facingCamera(float x, float y, float z, bool back) {
    const float s = back ? -1.0f : 1.0f;
    // Local X stays along world X (mirrored when turned away), local Y becomes world Z, and
    // the normal (local Z) points at the camera or away from it.
    sw::Matrix12 m;
    const float values[12] = {s, 0, 0, 0, 0, 1, 0, -s, 0, x, y, z};
    for (int i = 0; i < 12; ++i)
        m.m[i] = values[i];
    return m;
}

void addStill(sw::Scene& scene, const std::string& name, sw::Mesh mesh,
              const sw::Matrix12& placement) {
    mesh.transform = placement;
    scene.tracks.push_back(sw::objectTrack(name, {sw::meshKey(0, mesh)}));
}

void writeTexture(const std::string& name, int width, int height,
                  const std::vector<uint8_t>& rgba) {
    ASSERT_TRUE(writeBytes(name, encodeRgbaPng(width, height, rgba)));
}

std::vector<uint8_t> solidPixels(int width, int height, Rgba c) {
    std::vector<uint8_t> out;
    for (int i = 0; i < width * height; ++i) {
        out.push_back(uint8_t(c.r));
        out.push_back(uint8_t(c.g));
        out.push_back(uint8_t(c.b));
        out.push_back(uint8_t(c.a));
    }
    return out;
}

::testing::AssertionResult near(const Rgba& got, const Rgba& want, int tolerance) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << got.r << ", " << got.g << ", " << got.b << "), want (" << want.r << ", "
           << want.g << ", " << want.b << ")";
}

} // namespace rendertest
