#include "platform/options.h"
#include "scene/camera_light.h"
#include "scene/camera_light_gl.h"
#include "scene/keyframes_tracks.h"
#include "support/gl_context.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<float> pose(float x, float fov) {
    // Rotation rows of a quarter turn about Z, position (x, 0, 0), field of view.
    return {0, 1, 0, -1, 0, 0, 0, 0, 1, x, 0, 0, fov};
}

std::vector<float> lightValues(float x, float red, float range) {
    return {x, 2, 3, red, 0.5f, 0.25f, range};
}

TEST(CameraUpdate, BeforeTheFirstKeyTheViewResetsButFovStays) {
    Camera camera;
    EXPECT_FLOAT_EQ(camera.fov, 1.5707964f); // the default is radians, a quarter turn
    camera.track = makeTestTrack(
        {{2.0f, KeyKind::Transform, pose(10, 0.8f)}, {4.0f, KeyKind::Transform, pose(30, 1.2f)}},
        TrackType::Camera);
    updateCamera(camera, 3.0f);
    EXPECT_EQ(camera.position[0], 20.0f);
    EXPECT_EQ(camera.rotation[1], 1.0f);
    EXPECT_FLOAT_EQ(camera.fov, 1.0f);
    updateCamera(camera, 1.0f);
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(camera.rotation[i], identity[i]);
    EXPECT_EQ(camera.position[0], 0.0f);
    EXPECT_FLOAT_EQ(camera.fov, 1.0f);
    updateCamera(camera, 5.0f);
    EXPECT_EQ(camera.position[0], 30.0f);
    EXPECT_EQ(camera.fov, 1.2f);
    destroyTrack(camera.track);
}

TEST(LightUpdate, KeepsValuesBeforeItsKeysAndCopiesExactKeys) {
    Light light;
    light.track = makeTestTrack({{1.0f, KeyKind::Transform, lightValues(1, 1, 100)},
                                 {2.0f, KeyKind::Morph, lightValues(3, 0, 50)},
                                 {4.0f, KeyKind::Mesh, lightValues(9, 0, 10)}},
                                TrackType::Light);
    updateLight(light, 0.5f); // zero defaults before the first key
    EXPECT_EQ(light.color[0], 0.0f);
    updateLight(light, 1.5f);
    EXPECT_EQ(light.position[0], 2.0f);
    EXPECT_EQ(light.color[0], 0.5f);
    EXPECT_EQ(light.range, 75.0f);
    updateLight(light, 2.0f); // exactly on a key with another after it: copied
    EXPECT_EQ(light.position[0], 3.0f);
    EXPECT_EQ(light.color[1], 0.5f);
    updateLight(light, 0.0f); // before every key: keeps what it had
    EXPECT_EQ(light.position[0], 3.0f);
    EXPECT_EQ(lightAttenuation(100.0f), 1.0f / 10000.0f);
    EXPECT_EQ(lightAttenuation(0.0f), 0.0f);
    destroyTrack(light.track);
}

struct CameraLightGL : ::testing::Test {
    SetupOptions saved = setupOptions;
    void SetUp() override {
        if (!useTestGLContext(640, 480)) GTEST_SKIP() << "no GL context";
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override { setupOptions = saved; }
    static void matrix(GLenum which, float m[16]) { glGetFloatv(which, m); }
};

TEST_F(CameraLightGL, ProjectionFieldOfViewFollowsTheAspect) {
    Camera camera;
    camera.fov = 1.0f;
    for (int size : {640, 1024}) {
        setupOptions.width = size;
        setupOptions.height = size * 3 / 4;
        applyCamera(camera, 0.0f);
        float p[16];
        matrix(GL_PROJECTION_MATRIX, p);
        // gluPerspective: p[5] = cot(fovy / 2); fovy = 1.0 × 180 / (4/3) / π ≈ 42.97 degrees.
        const double fovy = 180.0 / (4.0 / 3.0) / 3.1415927;
        EXPECT_NEAR(fovy, 42.97, 0.01);
        const double cot = 1.0 / std::tan(fovy / 2.0 * 3.14159265358979 / 180.0);
        EXPECT_NEAR(p[5], cot, 1e-5) << size;
        EXPECT_NEAR(p[0], cot / (4.0 / 3.0), 1e-5);
        // near 1, far 20000
        EXPECT_NEAR(p[10], -(20000.0 + 1.0) / (20000.0 - 1.0), 1e-6);
        EXPECT_NEAR(p[14], -2.0 * 20000.0 / (20000.0 - 1.0), 1e-4);
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
    }
}

TEST_F(CameraLightGL, ViewIsRotationTimesTranslationOfMinusPosition) {
    Camera camera;
    camera.track = makeTestTrack({{0.0f, KeyKind::Transform, pose(5, 1.0f)}}, TrackType::Camera);
    applyCamera(camera, 1.0f);
    float m[16];
    matrix(GL_MODELVIEW_MATRIX, m);
    // Row 0 of the rotation is (0, 1, 0): world Y becomes camera X.
    EXPECT_EQ(m[4], 1.0f);
    EXPECT_EQ(m[1], -1.0f);
    // Translation column R × (−p) with p = (5, 0, 0): row 1 of R is (−1, 0, 0).
    EXPECT_EQ(m[12], 0.0f);
    EXPECT_EQ(m[13], 5.0f);
    EXPECT_EQ(m[14], 0.0f);
    destroyTrack(camera.track);
}

TEST_F(CameraLightGL, LightsAreSetPositionalWithAttenuationFromRange) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    Light light;
    light.glIndex = 1;
    light.track =
        makeTestTrack({{0.0f, KeyKind::Transform, lightValues(7, 1, 100)}}, TrackType::Light);
    applyLight(light, 0.0f);
    float v[4];
    glGetLightfv(GL_LIGHT1, GL_QUADRATIC_ATTENUATION, v);
    EXPECT_FLOAT_EQ(v[0], 0.0001f);
    glGetLightfv(GL_LIGHT1, GL_POSITION, v);
    EXPECT_EQ(v[0], 7.0f);
    EXPECT_EQ(v[3], 1.0f);
    glGetLightfv(GL_LIGHT1, GL_SPECULAR, v);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[3], 1.0f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));

    // Before its first key a light is enabled with its zero colour: it adds nothing.
    Light late;
    late.glIndex = 2;
    late.track =
        makeTestTrack({{3.0f, KeyKind::Transform, lightValues(7, 1, 0)}}, TrackType::Light);
    applyLight(late, 0.0f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT2));
    glGetLightfv(GL_LIGHT2, GL_DIFFUSE, v);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[3], 1.0f);
    applyLight(late, 3.0f);
    glGetLightfv(GL_LIGHT2, GL_QUADRATIC_ATTENUATION, v);
    EXPECT_EQ(v[0], 0.0f);

    // The tenth light makes no GL call at all (it would raise GL_INVALID_ENUM), nor does a
    // light without a track.
    while (glGetError() != GL_NO_ERROR) {
    }
    Light tenth;
    tenth.glIndex = 9;
    tenth.track = late.track;
    applyLight(tenth, 3.0f);
    EXPECT_EQ(tenth.color[0], 0.0f); // not even evaluated
    Light trackless;
    trackless.glIndex = 3;
    applyLight(trackless, 0.0f);
    EXPECT_FALSE(glIsEnabled(GL_LIGHT3));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDisable(GL_LIGHT1);
    glDisable(GL_LIGHT2);
    destroyTrack(light.track);
    destroyTrack(late.track);
}

} // namespace
