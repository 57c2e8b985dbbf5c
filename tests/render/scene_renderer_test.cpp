#include "render/scene_renderer.h"

#include "render/vertex_memory.h"
#include "diag/prof.h"
#include "platform/options.h"
#include "render/render_fixture.h"
#include "support/test_images.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using namespace rendertest;

int to8(float v) {
    return int(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f));
}

Rgba mix(Rgba over, float alpha, Rgba under) {
    return {int(std::lround(over.r * alpha + under.r * (1 - alpha))),
            int(std::lround(over.g * alpha + under.g * (1 - alpha))),
            int(std::lround(over.b * alpha + under.b * (1 - alpha)))};
}

class SceneRendering : public RenderTest {};

// One scene with a quad per kind of material, each sampled at its centre; the background
// (0.2, 0.2, 0.6) shows where nothing is drawn.
TEST_F(SceneRendering, EachKindOfMaterialGivesItsColourAtKnownPixels) {
    ScratchDirectory dir;
    writeTexture("green.png", 4, 4, solidPixels(4, 4, {40, 200, 60, 255}));
    // Left half fully opaque red, right half half-transparent blue.
    std::vector<uint8_t> cutout;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool left = x < 4;
            const uint8_t px[4] = {uint8_t(left ? 255 : 0), 0, uint8_t(left ? 0 : 255),
                                   uint8_t(left ? 255 : 128)};
            cutout.insert(cutout.end(), px, px + 4);
        }
    writeTexture("cutout.png", 8, 8, cutout);

    sw::Scene desc = cameraScene(0.2f, 0.2f, 0.6f);
    addFrontLight(desc);
    enum { kLit, kTextured, kCutout, kBlended, kRedGlass, kAdditive, kTwoSided, kOneSidedGlow };
    desc.tracks.push_back(sw::materialTrack("lit", plain(0.8f, 0.4f, 0.2f)));
    sw::MaterialDesc textured = plain(0.1f, 0.1f, 0.1f); // textured: diffuse becomes white
    textured.texture = "green.png";
    desc.tracks.push_back(sw::materialTrack("textured", textured));
    sw::MaterialDesc cut = plain(1, 1, 1);
    cut.texture = "cutout.png";
    cut.flags = AlphaTest;
    desc.tracks.push_back(sw::materialTrack("cutout", cut));
    sw::MaterialDesc glass = plain(1, 1, 1);
    glass.opacity = 0.5f;
    desc.tracks.push_back(sw::materialTrack("glass", glass));
    sw::MaterialDesc redGlass = plain(1, 0, 0);
    redGlass.opacity = 0.5f;
    desc.tracks.push_back(sw::materialTrack("redglass", redGlass));
    sw::MaterialDesc glow = plain(0.4f, 0.4f, 0.4f);
    glow.opacity = 0.5f;
    glow.flags = Additive;
    desc.tracks.push_back(sw::materialTrack("glow", glow));
    // Self-illuminated, so a face seen from behind (lit through its front normal, which faces
    // away from the light) still shows its diffuse colour.
    sw::MaterialDesc twoSided = plain(0.9f, 0.9f, 0.1f);
    twoSided.selfIllumination = 1.0f;
    twoSided.flags = TwoSided;
    desc.tracks.push_back(sw::materialTrack("twosided", twoSided));
    sw::MaterialDesc oneSided = twoSided;
    oneSided.flags = 0;
    desc.tracks.push_back(sw::materialTrack("onesided", oneSided));

    addStill(desc, "lit", sw::quadMesh(3, false, kLit), facingCamera(-6, 0, 6));
    addStill(desc, "textured", sw::quadMesh(3, true, kTextured), facingCamera(-2, 0, 6));
    addStill(desc, "cutout", sw::quadMesh(3, true, kCutout), facingCamera(2, 0, 6));
    // Behind the cutout and later in file order: its opaque half must hide this by depth.
    addStill(desc, "behind", sw::quadMesh(8, false, kLit), facingCamera(2, 3, 6));
    addStill(desc, "glass", sw::quadMesh(3, false, kBlended), facingCamera(6, 0, 6));
    // Behind the glass but later: blended objects are not sorted and write no depth, so it
    // is blended over the glass in front of it.
    addStill(desc, "redglass", sw::quadMesh(4, false, kRedGlass), facingCamera(7, 2, 6));
    addStill(desc, "glow", sw::quadMesh(3, false, kAdditive), facingCamera(-6, 0, -2));
    addStill(desc, "twosided", sw::quadMesh(3, false, kTwoSided), facingCamera(-2, 0, -2, true));
    addStill(desc, "onesided", sw::quadMesh(3, false, kOneSidedGlow), facingCamera(2, 0, -2, true));

    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    drawFrame(*scene, 1.0f);

    const Rgba background = {51, 51, 153};
    const Rgba orange = {204, 102, 51};
    EXPECT_TRUE(near(pixelAt(6, -6), background)) << "background";
    EXPECT_TRUE(near(pixelAt(-6, 6), orange)) << "lit";
    EXPECT_TRUE(near(pixelAt(-2, 6), {40, 200, 60})) << "textured";
    EXPECT_TRUE(near(pixelAt(1.25f, 6), {255, 0, 0})) << "alpha-tested, opaque half";
    EXPECT_TRUE(near(pixelAt(2.75f, 6), mix({0, 0, 255}, 128.0f / 255.0f, orange)))
        << "alpha-tested, translucent half blended over what is behind it";
    EXPECT_TRUE(near(pixelAt(6, 6), mix({255, 0, 0}, 0.5f, mix({255, 255, 255}, 0.5f, background))))
        << "blended twice";
    EXPECT_TRUE(near(pixelAt(-6, -2), {51 + 51, 51 + 51, 153 + 51})) << "additive";
    EXPECT_TRUE(near(pixelAt(-2, -2), {to8(0.9f), to8(0.9f), to8(0.1f)})) << "two-sided back";
    EXPECT_TRUE(near(pixelAt(2, -2), background)) << "one-sided back face is culled";

    // What a frame leaves behind without a film effect.
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLboolean depthWrites = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    EXPECT_TRUE(depthWrites);
    GLint alphaFunc = 0;
    glGetIntegerv(GL_ALPHA_TEST_FUNC, &alphaFunc);
    EXPECT_EQ(alphaFunc, GL_NOTEQUAL);
    GLint matrixMode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    EXPECT_EQ(matrixMode, GL_MODELVIEW);
    EXPECT_EQ(scene->ambientColor[3], 1.0f);
    freeTestScene(scene);
}

// Six cameras at the origin look at the six faces; a far object drawn after the box covers it
// although it lies beyond the box, because the box writes no depth.
TEST_F(SceneRendering, EnvironmentBoxFacesLieWhereTheirSuffixSays) {
    ScratchDirectory dir;
    const char* suffixes[kEnvMapFaces] = {"_dn", "_up", "_fr", "_bk", "_lf", "_rt"};
    const Rgba colours[kEnvMapFaces] = {{200, 0, 0},   {0, 200, 0},   {0, 0, 200},
                                        {200, 200, 0}, {0, 200, 200}, {200, 0, 200}};
    for (int i = 0; i < kEnvMapFaces; ++i) {
        Rgba c = colours[i];
        c.a = 255;
        writeTexture(std::string("sky") + suffixes[i] + ".png", 4, 4, solidPixels(4, 4, c));
    }
    sw::Scene desc;
    sw::setStartEnd(desc, 0.0, 10.0);
    desc.envMapName = "sky";
    const float origin[3] = {0, 0, 0};
    const float toward[4][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
    sw::Matrix12 down, up;
    up.m[4] = -1; // rows: right, up, back; looking down is the identity
    up.m[8] = -1;
    desc.tracks.push_back(sw::cameraTrack("down", {sw::cameraKey(0, down, 1.5707964f)}));
    desc.tracks.push_back(sw::cameraTrack("up", {sw::cameraKey(0, up, 1.5707964f)}));
    for (int i = 0; i < 4; ++i)
        desc.tracks.push_back(
            sw::cameraTrack("side", {sw::cameraLookAtKey(0, origin, toward[i], 1.5707964f)}));
    sw::MaterialDesc white = plain(1, 1, 1);
    white.selfIllumination = 1.0f;
    desc.tracks.push_back(sw::materialTrack("white", white));
    sw::Matrix12 far;
    const float farValues[12] = {1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 9000, 0};
    std::memcpy(far.m, farValues, sizeof farValues);
    addStill(desc, "far", sw::quadMesh(2000, false, 0), far);

    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(scene->hasEnvMap);
    // Camera order matches slot order.
    for (int camera = 0; camera < 6; ++camera) {
        setCamera(*scene, camera);
        drawFrame(*scene, 0.0f);
        EXPECT_TRUE(near(pixel(kSize / 4, kSize / 4), colours[camera])) << "camera " << camera;
        if (camera == 5) {
            EXPECT_TRUE(near(pixel(kSize / 2, kSize / 2), {255, 255, 255})) << "far object";
        }
    }
    freeTestScene(scene);
}

class RenderedSceneTime : public RenderTest {
  protected:
    // A scene from 2 s to 6 s with one still object whose time shows the wrapped timecode.
    Scene* timedScene(double start, double end) {
        sw::Scene desc = cameraScene(0, 0, 0);
        sw::setStartEnd(desc, start, end);
        desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
        sw::Mesh mesh = sw::quadMesh(2, false, 0);
        mesh.transform = facingCamera(0, 0, 0);
        desc.tracks.push_back(sw::objectTrack("o", {sw::meshKey(start, mesh)}));
        return loadTestScene(desc);
    }
};

TEST_F(RenderedSceneTime, TimecodesHoldBeforeTheStartAndLoopFromTheEnd) {
    Scene* scene = timedScene(2.0, 6.0);
    ASSERT_NE(scene, nullptr);
    const struct {
        float in, out;
    } cases[] = {{0.0f, 2.0f}, {-5.0f, 2.0f},  {2.0f, 2.0f},  {3.5f, 3.5f},
                 {6.0f, 2.0f}, {6.25f, 2.25f}, {18.5f, 2.5f}, {5.75f, 5.75f}};
    for (const auto& c : cases) {
        drawFrame(*scene, c.in);
        EXPECT_EQ(scene->objects[0].time, c.out) << "timecode " << c.in;
    }
    freeTestScene(scene);

    // A range of no length has nothing to loop over: it holds its start.
    Scene* still = timedScene(2.0, 2.0);
    ASSERT_NE(still, nullptr);
    drawFrame(*still, 7.0f);
    EXPECT_EQ(still->objects[0].time, 2.0f);
    freeTestScene(still);
}

class SceneChange : public RenderTest {
  protected:
    static constexpr float kPoison = -12345.0f;
    // Marks the vertex memory, renders, and says whether the first vertex was written.
    static bool renderWrites(Scene& scene) {
        for (int i = 0; i < 8 * kVertexFloats; ++i)
            vertexMemory.buffer[i] = kPoison;
        drawFrame(scene, 1.0f);
        return vertexMemory.buffer[0] != kPoison;
    }
};

TEST_F(SceneChange, AnotherSceneInBetweenForcesEveryObjectToRewriteItsVertices) {
    sw::Scene desc = cameraScene(0, 0, 0);
    desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
    addStill(desc, "o", sw::quadMesh(2, false, 0), facingCamera(0, 0, 0));
    Scene* a = loadTestScene(desc);
    Scene* b = loadTestScene(desc);
    ASSERT_TRUE(a && b);

    EXPECT_FALSE(a->objectsPrepared);
    EXPECT_TRUE(renderWrites(*a)) << "first render";
    EXPECT_TRUE(a->objectsPrepared);
    EXPECT_EQ(lastRenderedScene(), a);
    const VertexKey* decoded = a->objects[0].vertexKeys;
    EXPECT_FALSE(renderWrites(*a)) << "same scene again: the cache holds";
    EXPECT_EQ(a->objects[0].vertexKeys, decoded) << "prepared once";
    EXPECT_TRUE(renderWrites(*b));
    EXPECT_TRUE(renderWrites(*a)) << "A after B";
    EXPECT_TRUE(renderWrites(*b)) << "B after A";
    EXPECT_FALSE(renderWrites(*b));
    forgetRenderedScene();
    EXPECT_TRUE(renderWrites(*b)) << "a forgotten scene counts as changed";
    freeTestScene(a);
    freeTestScene(b);
}

TEST_F(SceneChange, CountersAndOptionalCallsFollowTheFrame) {
    sw::Scene desc = cameraScene(0, 0, 0);
    desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
    addStill(desc, "o", sw::quadMesh(2, false, 0), facingCamera(0, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);

    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SINGLE_COLOR);
    profResetAll();
    drawFrame(*scene, 1.0f);
    GLint control = 0;
    glGetIntegerv(GL_LIGHT_MODEL_COLOR_CONTROL, &control);
    EXPECT_EQ(control, GL_SINGLE_COLOR) << "extensions off: no separate specular colour";
    for (const char* name : {"87Scene Render", "89Super8 Render", "04Object update"}) {
        const ProfCounter& c = profCounter(profSlot(name));
        EXPECT_EQ(c.count, 1) << name;
        EXPECT_FALSE(c.error) << name;
        EXPECT_FALSE(c.running) << name;
        EXPECT_STREQ(c.name, name);
    }
    // One opaque and one blended draw call per object, whether it belongs to the pass or not.
    EXPECT_EQ(profCounter(profSlot("1AObject Render")).count, 2);

    setupOptions.useExtensions = true;
    drawFrame(*scene, 1.0f);
    glGetIntegerv(GL_LIGHT_MODEL_COLOR_CONTROL, &control);
    EXPECT_EQ(control, GL_SEPARATE_SPECULAR_COLOR);
    freeTestScene(scene);
}

} // namespace
