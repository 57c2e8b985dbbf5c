// What the six scene builders share: the scene table, how a scene opens (times, colours, sky),
// sky pictures, trees and steady lights.
#include "content/demo_scenes.h"

#include "scene/envmap.h"

#include <cmath>
#include <cstring>

namespace sw = scenewriter;
using namespace procedural;

// Camera counts: one more than the highest camera number the demo's cues select. Compressed
// files are spread so that every way the player opens a scene is used.
const DemoSceneEntry kDemoScenes[kDemoSceneCount] = {
    {Landschaft, buildLandschaft, 20, SceneStorage::gzip, true},
    {Fluss, buildFluss, 12, SceneStorage::gzipSuffix, false},
    {Kraniche, buildKraniche, 4, SceneStorage::plain, false},
    {Eiche, buildEiche, 6, SceneStorage::gzip, true},
    {Feld, buildFeld, 13, SceneStorage::gzipSuffix, true},
    {Holzvogel, buildHolzvogel, 1, SceneStorage::plain, false},
};

std::string demoSceneName(DemoScene scene) {
    const char* file = kDemoSceneFiles[scene];
    return std::string(file, std::strcspn(file, "."));
}

std::string demoSceneFileName(const DemoSceneEntry& entry) {
    return demoSceneName(entry.scene) +
           (entry.storage == SceneStorage::gzipSuffix ? ".q3d.gz" : ".q3d");
}

void addSkyPictures(std::vector<PictureJob>& pictures, const std::string& base, const SkyLook& look,
                    int size) {
    for (int slot = 0; slot < kEnvMapFaces; ++slot)
        pictures.push_back({base + kEnvMapSuffixes[slot] + ".jpg",
                            [look, slot, size] { return skyFace(look, slot, size); }});
}

BuiltScene startDemoScene(DemoScene which, double seconds, Color background, Color ambient,
                          const std::string& sky, const SkyLook& look, int skySize) {
    BuiltScene out;
    out.name = demoSceneName(which);
    sw::Scene& scene = out.scene;
    sw::setStartEnd(scene, 0, seconds);
    scene.background[0] = background.r;
    scene.background[1] = background.g;
    scene.background[2] = background.b;
    scene.ambient[0] = ambient.r;
    scene.ambient[1] = ambient.g;
    scene.ambient[2] = ambient.b;
    scene.envMapName = sky;
    addSkyPictures(out.pictures, sky, look, skySize);
    return out;
}

sw::Mesh trunkMesh(float h, float radius, uint16_t material) {
    return tube({0, 0, -1.0f}, {0, 0, h}, radius, radius * 0.6f, 4, material, 2);
}

sw::Mesh coniferMesh(float h, uint16_t material, uint32_t seed) {
    pictures::Random random(seed);
    sw::Mesh needles;
    needles.materialIndex = material;
    needles.hasUV = true;
    for (int i = 0; i < 2; ++i) {
        const float z0 = h * (0.15f + 0.35f * float(i)), z1 = z0 + h * (0.55f - 0.1f * float(i));
        const float r = h * (0.28f - 0.08f * float(i)) * random.range(0.85f, 1.1f);
        const sw::Mesh cone = lathe({{r, z0}, {0.02f, z1}}, 6, material, 2);
        appendMesh(needles, cone, pose({}, random.range(0, 2 * kPi)));
    }
    return needles;
}

sw::Mesh broadleafCrownMesh(float h, uint16_t leafMaterial, uint32_t seed) {
    pictures::Random random(seed);
    sw::Mesh crown;
    crown.materialIndex = leafMaterial;
    crown.hasUV = true;
    const int cards = 7;
    for (int i = 0; i < cards; ++i) {
        const float a = random.range(0, 2 * kPi);
        const float r = h * 0.18f * random.uniform();
        const float size = h * random.range(0.45f, 0.6f);
        const Vec3 at = {r * std::cos(a), r * std::sin(a), h * random.range(0.35f, 0.6f)};
        // the leaf picture is a round cluster: an octagon skips its empty corners
        sw::Mesh leaves = octagonCard(size, leafMaterial, 0.48f);
        for (sw::Vertex& v : leaves.vertices)
            v.z += size / 2;
        appendMesh(crown, leaves, pose(at, random.range(0, 2 * kPi), random.range(-0.5f, 0.5f)));
    }
    return crown;
}

void addHouse(MeshBatch& walls, MeshBatch& roofs, Vec3 at, float heading, float w, float d, float h,
              uint16_t wallMaterial, uint16_t roofMaterial) {
    sw::Mesh box = sw::boxMesh(w / 2, d / 2, h / 2, wallMaterial);
    addToBatch(walls, box, pose({at.x, at.y, at.z + h / 2 - 0.5f}, heading));
    sw::Mesh roof;
    roof.materialIndex = roofMaterial;
    roof.hasUV = true;
    const float o = 0.6f, r = h * 0.7f;
    const float x0 = -w / 2 - o, x1 = w / 2 + o, y0 = -d / 2 - o, y1 = d / 2 + o;
    roof.vertices = {{x0, y0, h}, {x1, y0, h}, {x1, 0, h + r, 1, 1}, {x0, 0, h + r, 0, 1},
                     {x1, y1, h}, {x0, y1, h}, {x0, 0, h + r, 0, 1}, {x1, 0, h + r, 1, 1}};
    roof.vertices[1].u = 1;
    roof.vertices[4].u = 1;
    roof.faces = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}};
    // gables, in the wall material
    sw::Mesh gable;
    gable.materialIndex = wallMaterial;
    gable.hasUV = true;
    gable.vertices = {{-w / 2, -d / 2, h, 0, 0},     {-w / 2, 0, h + r, 0.5f, 0.6f},
                      {-w / 2, d / 2, h, 1, 0},      {w / 2, d / 2, h, 0, 0},
                      {w / 2, 0, h + r, 0.5f, 0.6f}, {w / 2, -d / 2, h, 1, 0}};
    gable.faces = {{0, 2, 1}, {3, 5, 4}};
    const sw::Matrix12 place = pose({at.x, at.y, at.z - 0.5f}, heading);
    addToBatch(roofs, roof, place);
    addToBatch(walls, gable, place);
}

sw::Track steadyLight(const std::string& name, Vec3 position, Color color, float range) {
    const float p[3] = {position.x, position.y, position.z};
    const float c[3] = {color.r, color.g, color.b};
    return sw::lightTrack(name, {sw::lightKey(0, p, c, range)});
}
