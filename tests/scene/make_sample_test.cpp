// make-sample end to end: the tool's files load through the engine's own loader, with every
// texture and the sky found, and the scene holds what the sample promises.
#include "scene_test_util.h"

#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <zlib.h>

using namespace scenetest;

TEST(MakeSample, WritesASceneThatLoadsCompletely) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    TempDir dir;
    const std::string command = std::string(QUILM_TOOL_BIN) + " make-sample out > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"s8_lamp.jpg", "s8_border.png", "s8_sign.png", "s8_drek.png"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path("out") / name)) << name;

    std::filesystem::current_path("out");
    gzFile stream = gzopen("sample.q3d", "rb");
    ASSERT_NE(stream, nullptr);
    ScenePtr scene(createScene());
    ConsoleCapture capture;
    ASSERT_TRUE(loadScene(*scene, stream));
    gzclose(stream);
    EXPECT_EQ(capture.text.find("rror"), std::string::npos) << capture.text;
    EXPECT_NE(capture.text.find("All  envmaps loaded. \n"), std::string::npos);
    EXPECT_TRUE(scene->hasEnvMap);
    EXPECT_GE(scene->cameraCount, 3);
    EXPECT_EQ(scene->lightCount, 2);

    uint32_t flagsSeen = 0;
    int textured = 0;
    for (int i = 0; i < scene->materialCount; ++i) {
        const Material& m = scene->materials[i];
        flagsSeen |= m.flags;
        textured += m.textured;
        EXPECT_TRUE(m.transparent || !(m.flags & Additive)) << i;
    }
    EXPECT_EQ(flagsSeen & (AlphaTest | TwoSided | Additive),
              uint32_t(AlphaTest | TwoSided | Additive));
    EXPECT_GE(textured, 5);

    prepareObjects(*scene);
    int morphKeys = 0, objectsWithTwoMeshes = 0;
    for (int o = 0; o < scene->objectCount; ++o) {
        const SceneObject& object = scene->objects[o];
        ASSERT_NE(object.track, nullptr);
        int meshes = 0;
        for (int k = 0; k < object.track->keyCount; ++k) {
            morphKeys += object.track->keys[k].kind == KeyKind::Morph;
            meshes += object.track->keys[k].kind == KeyKind::Mesh;
        }
        objectsWithTwoMeshes += meshes >= 2;
        // every vertex key covers the topology it follows
        for (int v = 0; v < object.vertexKeyCount; ++v)
            EXPECT_GT(object.vertexKeys[v].vertexCount, 0);
    }
    EXPECT_GT(morphKeys, 10);
    EXPECT_EQ(objectsWithTwoMeshes, 1);
}
