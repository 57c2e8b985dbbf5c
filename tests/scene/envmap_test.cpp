// Environment maps: face lookup order, PNG before JPEG, all-or-nothing loading and its log.
#include "scene_test_util.h"

#include "image/texture.h"
#include "scene/envmap.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

using namespace scenetest;

namespace {

const std::vector<std::string> kEnvLines = {"  Envmap:",    "No matching",       "No envmap",
                                            "All  envmaps", "Scene environment", "Scene does not"};

void writeFace(const std::string& path) {
    const bool jpeg = path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
    const std::vector<uint8_t> pixels(4 * 4 * (jpeg ? 3 : 4), 200);
    ASSERT_TRUE(writeBytes(path, jpeg ? encodeJpeg(4, 4, 3, pixels) : encodeRgbaPng(4, 4, pixels)));
}

Loaded loadSceneWithEnvMap(const std::string& name) {
    sw::Scene file;
    file.envMapName = name;
    file.tracks.push_back(sw::materialTrack("m", sw::MaterialDesc()));
    return loadWritten(file);
}

int liveFaces(const Scene& scene) {
    int count = 0;
    for (Texture* face : scene.envMapTextures)
        count += face != nullptr;
    return count;
}

} // namespace

TEST(SceneEnvMap, SixJpegFacesLoadInSlotOrder) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    TempDir dir;
    for (const char* suffix : kEnvMapSuffixes)
        writeFace(std::string("sky") + suffix + ".jpg");
    Loaded loaded = loadSceneWithEnvMap("sky");
    ASSERT_TRUE(loaded.ok);
    EXPECT_TRUE(loaded.scene->hasEnvMap);
    EXPECT_EQ(liveFaces(*loaded.scene), 6);
    EXPECT_EQ(linesStartingWith(loaded.log, kEnvLines),
              "  Envmap: sky_dn.jpg \n  Envmap: sky_up.jpg \n  Envmap: sky_fr.jpg \n"
              "  Envmap: sky_bk.jpg \n  Envmap: sky_lf.jpg \n  Envmap: sky_rt.jpg \n"
              "All  envmaps loaded. \n"
              "Scene environment map is: sky \n");
    // environment maps load before any material
    EXPECT_LT(loaded.log.find("All  envmaps"), loaded.log.find("Specular:"));
    EXPECT_EQ(std::string(loaded.scene->envMapTextures[2]->name), "sky_fr.jpg");
}

TEST(SceneEnvMap, PngWinsOverJpeg) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    TempDir dir;
    for (const char* suffix : kEnvMapSuffixes)
        writeFace(std::string("sky") + suffix + ".jpg");
    writeFace("sky_dn.png");
    Loaded loaded = loadSceneWithEnvMap("sky");
    ASSERT_TRUE(loaded.scene->hasEnvMap);
    EXPECT_EQ(std::string(loaded.scene->envMapTextures[0]->name), "sky_dn.png");
    EXPECT_EQ(std::string(loaded.scene->envMapTextures[1]->name), "sky_up.jpg");
    EXPECT_NE(loaded.log.find("  Envmap: sky_dn.png \n"), std::string::npos);
}

TEST(SceneEnvMap, AMissingFaceReleasesTheFacesBeforeIt) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    TempDir dir;
    for (const char* suffix : kEnvMapSuffixes)
        if (std::string(suffix) != "_fr") writeFace(std::string("sky") + suffix + ".png");
    Loaded loaded = loadSceneWithEnvMap("sky");
    ASSERT_TRUE(loaded.ok);
    EXPECT_FALSE(loaded.scene->hasEnvMap);
    EXPECT_EQ(liveFaces(*loaded.scene), 0);
    EXPECT_EQ(linesStartingWith(loaded.log, kEnvLines),
              "  Envmap: sky_dn.png \n  Envmap: sky_up.png \n"
              "No matching envmap file: sky_fr.jpg or sky_fr.png \n"
              "No envmap background will be renderd. \n"
              "Scene does not have an environment map! \n");
    // the released faces left the cache: nothing holds them any more
    for (int i = 0; i < textureCacheCount; ++i) {
        const char* cached = textureCache[i] ? textureCache[i]->name : "";
        EXPECT_STRNE(cached, "sky_dn.png");
    }
}

// A face that exists but cannot be decoded counts as missing, and its line says why.
TEST(SceneEnvMap, AnUndecodableFaceCountsAsMissingAndSaysWhy) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    const struct {
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {{'n', 'o', 't', ' ', 'p', 'n', 'g'}, "Envmap box_bk.png cannot be used: file ends early"},
        {{}, "Envmap box_bk.png cannot be used: empty file (0 bytes) \n"},
        {std::vector<uint8_t>(64, 'x'), "Envmap box_bk.png cannot be used: Not a PNG file \n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (const char* suffix : kEnvMapSuffixes)
            writeFace(std::string("box") + suffix + ".png");
        ASSERT_TRUE(writeBytes("box_bk.png", c.bytes));
        Loaded loaded = loadSceneWithEnvMap("box");
        EXPECT_FALSE(loaded.scene->hasEnvMap);
        EXPECT_EQ(liveFaces(*loaded.scene), 0);
        const size_t why = loaded.log.find(c.reason);
        EXPECT_NE(why, std::string::npos) << loaded.log;
        EXPECT_LT(why, loaded.log.find("No matching envmap file: box_bk.jpg or box_bk.png \n"));
    }
}

TEST(SceneEnvMap, EmptyOrLongNamesLoadNothing) {
    TempDir dir;
    Scene scene;
    ConsoleCapture capture;
    EXPECT_FALSE(loadEnvironmentMaps(scene));
    EXPECT_EQ(capture.text, "");
    // the longest name the field holds still forms whole paths
    std::memset(scene.envMapName, 'a', sizeof scene.envMapName - 1);
    EXPECT_FALSE(loadEnvironmentMaps(scene));
    EXPECT_NE(capture.text.find(std::string(259, 'a') + "_dn.jpg or " + std::string(259, 'a') +
                                "_dn.png \n"),
              std::string::npos);
}
