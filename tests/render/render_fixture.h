// Shared set-up for the scene-drawing tests: a colour + depth/stencil target of a fixed size
// (the shared test window keeps the size it first had), the vertex memory, and scenes built
// with the scene writer looking down the +Y axis from (0, -10, 0). Test code only.
#pragma once

#include "scene/scene.h"
#include "support/gl_context.h"
#include "writers/scene_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rendertest {

namespace sw = scenewriter;

constexpr int kSize = 64; // target width and height in pixels

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

// Makes the shared test context current with a kSize x kSize framebuffer object of its own,
// allocates the vertex memory (capacity vertices), switches extensions off (no separate
// specular colour) and forgets the last rendered scene. Each test gets fresh state.
class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Reallocates the vertex memory with another capacity (the limit tests).
    void useVertexCapacity(int capacity);

    // clearToBackground, then renderScene.
    static void drawFrame(Scene& scene, float t);
    static Rgba pixel(int x, int y); // y from the bottom, as in GL
    // The pixel under world point (x, 0, z) for the default camera.
    static Rgba pixelAt(float x, float z);

    TestFramebuffer target;
};

// Loads a writer scene; fails the test (returns null) when the loader refuses it.
Scene* loadTestScene(const sw::Scene& description);
void freeTestScene(Scene* scene);

// A writer scene with the default camera (from (0, -10, 0) toward the origin, 90 degree field
// of view), time 0 to 10 s, the given background and no lights or objects.
sw::Scene cameraScene(float r, float g, float b);
// A white light with no attenuation far behind the camera, so every quad facing it is lit at
// almost exactly normal incidence.
void addFrontLight(sw::Scene& scene);
// A placement that turns the writer's XY-plane meshes to face the camera (normal -Y) at
// (x, y, z); back = true turns them away from it.
sw::Matrix12 facingCamera(float x, float y, float z, bool back = false);
// A material of the given diffuse colour and no ambient part.
sw::MaterialDesc plain(float r, float g, float b);
// One object track with a single Mesh key at time 0.
void addStill(sw::Scene& scene, const std::string& name, sw::Mesh mesh,
              const sw::Matrix12& placement);

// Writes a width x height RGBA PNG into the current directory.
void writeTexture(const std::string& name, int width, int height, const std::vector<uint8_t>& rgba);
std::vector<uint8_t> solidPixels(int width, int height, Rgba colour);

::testing::AssertionResult near(const Rgba& got, const Rgba& want, int tolerance = 3);

} // namespace rendertest
