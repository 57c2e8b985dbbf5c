// The demo's six scenes, each built from code: geometry, animation, cameras, lights and
// materials as a scene-writer description, plus the pictures (textures, sky faces) it names.
// Deterministic; everything is returned by value. Writing files is make-data's business.
#pragma once

#include "content/procedural.h"
#include "demo/builtin_demo.h"

#include <string>
#include <vector>

struct BuiltScene {
    std::string name;         // the built-in demo's name, e.g. "landschaft" (demoSceneName)
    scenewriter::Scene scene; // tracks in file order
    std::vector<procedural::PictureJob> pictures;
};

BuiltScene buildLandschaft(); // valley fly-over, 20 cameras
BuiltScene buildEiche();      // the great oak, 6 cameras
BuiltScene buildFluss();      // river valley, 12 cameras
BuiltScene buildKraniche();   // cranes in flight, 4 cameras
BuiltScene buildFeld();       // grain field in the wind, 13 cameras
BuiltScene buildHolzvogel();  // carved bird under lights, 1 camera

// How the data set stores a scene file: plain, gzip-compressed under its own name, or
// gzip-compressed under name + ".q3d.gz" only (the player tries that name second).
enum class SceneStorage { plain, gzip, gzipSuffix };

struct DemoSceneEntry {
    DemoScene scene; // which of the built-in demo's scenes (builtin_demo.h)
    BuiltScene (*build)();
    int camerasNeeded; // the highest camera number a cue shows, plus one
    SceneStorage storage;
    bool gzipHidetrack;
};
// The scene's name: its file in the built-in demo ("eiche.q3d") less the extension.
std::string demoSceneName(DemoScene scene);
// The file name the scene is stored under ("eiche.q3d", "fluss.q3d.gz", ...).
std::string demoSceneFileName(const DemoSceneEntry& entry);
extern const DemoSceneEntry kDemoScenes[kDemoSceneCount];

// The most triangles any frame of the demo may draw.
constexpr int kFrameTriangleBudget = 40000;

// Six sky faces named base + "_dn.jpg" etc., appended to pictures.
void addSkyPictures(std::vector<procedural::PictureJob>& pictures, const std::string& base,
                    const procedural::SkyLook& look, int size);
// How every scene opens: its name, a loop from 0 to seconds, the clear colour and ambient
// light (alpha unused), and the sky: the environment map's base name and its six faces,
// which are the scene's first pictures.
BuiltScene startDemoScene(DemoScene scene, double seconds, procedural::Color background,
                          procedural::Color ambient, const std::string& sky,
                          const procedural::SkyLook& look, int skySize);

// Shared vegetation standing on the origin, height h: a trunk (sunk a little into the ground),
// a conifer's stacked cones and a broadleaf crown of leaf cards in several directions.
scenewriter::Mesh trunkMesh(float h, float radius, uint16_t material);
scenewriter::Mesh coniferMesh(float h, uint16_t material, uint32_t seed);
scenewriter::Mesh broadleafCrownMesh(float h, uint16_t leafMaterial, uint32_t seed);
// A house standing on at: walls (with gables) into walls, a gabled roof into roofs.
void addHouse(procedural::MeshBatch& walls, procedural::MeshBatch& roofs, procedural::Vec3 at,
              float heading, float w, float d, float h, uint16_t wallMaterial,
              uint16_t roofMaterial);
// A scene-wide light that stands still (one key).
scenewriter::Track steadyLight(const std::string& name, procedural::Vec3 position,
                               procedural::Color color, float range);
