// The demo's scene builders: every scene loads through the engine's loader with the cameras
// its cues select, stays inside the frame's triangle and vertex budgets at every moment, uses
// the engine's features between them, builds the same bytes each time, and every camera
// frames something. The procedural helpers' geometry keeps its winding and limits.
#include "render/render_fixture.h"
#include "scene/scene_test_util.h"

#include "render/vertex_memory.h"
#include "render/object_drawing.h"
#include "render/scene_renderer.h"
#include "scene/envmap.h"
#include "scene/object_update.h"
#include "image/image_loaders.h"
#include "image/texture.h"
#include "content/demo_scenes.h"
#include "wavelet/qw2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace {

namespace sw = scenewriter;
namespace pr = procedural;
using scenetest::Loaded;

const std::vector<BuiltScene>& builtScenes() {
    static const std::vector<BuiltScene> scenes = [] {
        std::vector<BuiltScene> all;
        for (const DemoSceneEntry& entry : kDemoScenes)
            all.push_back(entry.build());
        return all;
    }();
    return scenes;
}

// Data-block bytes: a Mesh key's vertex encoding sits at 69, a Morph key's at 48.
int keyEncoding(const sw::Key& key) {
    const size_t at = key.kind == sw::kMesh ? 69 : 48;
    return key.data.size() > at ? key.data[at] : -1;
}

TEST(DemoScenes, LoadWithTheCamerasTheirCuesSelect) {
    scenetest::TempDir empty; // no pictures here: materials load untextured
    // One more than the highest camera the built-in cue sheet selects in each scene.
    std::map<std::string, int> cues;
    for (const Cue& cue : kCues)
        if (cue.scene != kNoDemoScene) {
            int& needed = cues[demoSceneName(DemoScene(cue.scene))];
            needed = std::max(needed, cue.camera + 1);
        }
    std::set<std::string> seen;
    for (size_t i = 0; i < builtScenes().size(); ++i) {
        const BuiltScene& built = builtScenes()[i];
        SCOPED_TRACE(built.name);
        EXPECT_EQ(built.name, demoSceneName(kDemoScenes[i].scene));
        seen.insert(built.name);
        const Loaded loaded = scenetest::loadWritten(built.scene);
        ASSERT_TRUE(loaded.ok);
        const Scene& scene = *loaded.scene;
        EXPECT_EQ(scene.cameraCount, cues.at(built.name));
        EXPECT_EQ(kDemoScenes[i].camerasNeeded, cues.at(built.name));
        EXPECT_EQ(scene.currentCamera, 0);
        EXPECT_GE(scene.lightCount, 2);
        EXPECT_GT(scene.objectCount, 0);
        EXPECT_FLOAT_EQ(scene.timeStart, 0.0f);
        // long enough to see, short enough for the visibility pass over every camera
        EXPECT_GE(scene.duration, 4.0f);
        EXPECT_LE(scene.duration * float(scene.cameraCount), 170.0f);
        EXPECT_NE(scene.envMapName[0], '\0');
        // every object has a material it can be drawn with
        prepareObjects(*loaded.scene);
        for (int o = 0; o < scene.objectCount; ++o) {
            updateObject(scene.objects[o], 0.0f, true);
            EXPECT_NE(scene.objects[o].material, nullptr) << "object " << o;
        }
    }
    EXPECT_EQ(seen.size(), cues.size());
}

TEST(DemoScenes, StayInsideTheFrameBudgetsAtEveryMoment) {
    scenetest::TempDir empty;
    for (const BuiltScene& built : builtScenes()) {
        SCOPED_TRACE(built.name);
        const Loaded loaded = scenetest::loadWritten(built.scene);
        ASSERT_TRUE(loaded.ok);
        Scene& scene = *loaded.scene;
        prepareObjects(scene);
        int worstTriangles = 0;
        for (float t = scene.timeStart; t < scene.timeEnd; t += 0.1f) {
            int triangles = 0, vertices = 0;
            for (int o = 0; o < scene.objectCount; ++o) {
                SceneObject& object = scene.objects[o];
                updateObject(object, t, false);
                if (object.track == nullptr || object.material == nullptr) continue;
                EXPECT_LE(object.faceCount * 3, kIndexListEntries);
                triangles += object.faceCount;
                vertices += object.vertexCount;
            }
            worstTriangles = std::max(worstTriangles, triangles);
            EXPECT_LE(vertices, kVertexMemoryCapacity) << "t " << t;
        }
        EXPECT_LE(worstTriangles, kFrameTriangleBudget);
        // none of them is a bare stage
        EXPECT_GE(worstTriangles, built.name == "holzvogel" ? 500 : 5000);
        // no object lost its topology on the way (the update logs and drops it)
        for (int o = 0; o < scene.objectCount; ++o)
            EXPECT_NE(scene.objects[o].track, nullptr) << "object " << o;
    }
}

TEST(DemoScenes, UseEveryFeatureOfTheEngineBetweenThem) {
    std::set<int> encodings;
    int morphKeys = 0, holdKeys = 0, topologyChanges = 0;
    uint32_t flags = 0;
    bool blended = false;
    std::set<std::string> extensions;
    for (const BuiltScene& built : builtScenes()) {
        for (const sw::Track& track : built.scene.tracks) {
            if (track.type != sw::kObjectTrack) continue;
            std::set<std::pair<uint16_t, uint16_t>> topologies; // vertex and face counts
            for (const sw::Key& key : track.keys) {
                morphKeys += key.kind == sw::kMorph;
                holdKeys += key.kind == sw::kHold;
                if (key.kind == sw::kMesh || key.kind == sw::kMorph)
                    encodings.insert(keyEncoding(key));
                if (key.kind == sw::kMesh && key.data.size() >= 69)
                    topologies.insert({uint16_t(key.data[65] | key.data[66] << 8),
                                       uint16_t(key.data[67] | key.data[68] << 8)});
            }
            topologyChanges += topologies.size() > 1;
        }
        for (const pr::PictureJob& job : built.pictures)
            extensions.insert(job.name.substr(job.name.size() - 4));
        const Loaded loaded = scenetest::loadWritten(built.scene);
        for (int m = 0; m < loaded.scene->materialCount; ++m) {
            const Material& material = loaded.scene->materials[m];
            flags |= material.flags;
            blended |= material.opacity < 0.99f && !(material.flags & Additive);
        }
    }
    EXPECT_GT(morphKeys, 100);
    EXPECT_GE(holdKeys, 1);
    EXPECT_GE(topologyChanges, 1);
    EXPECT_EQ(encodings, (std::set<int>{0, 1}));
    EXPECT_EQ(flags & (AlphaTest | TwoSided | Additive), uint32_t(AlphaTest | TwoSided | Additive));
    EXPECT_TRUE(blended);
    EXPECT_EQ(extensions, (std::set<std::string>{".png", ".jpg", ".qw2"}));

    std::set<SceneStorage> storages;
    int compressedTracks = 0;
    for (const DemoSceneEntry& entry : kDemoScenes) {
        storages.insert(entry.storage);
        compressedTracks += entry.gzipHidetrack;
    }
    EXPECT_EQ(storages.size(), 3u);
    EXPECT_GE(compressedTracks, 1);
    EXPECT_LT(compressedTracks, kDemoSceneCount);
}

// A Morph key stores no vertex count: it inherits the Mesh key's before it. Its block must hold
// exactly that many vertices in its encoding, or the engine decodes garbage (or refuses it).
TEST(DemoScenes, MorphKeysCarryTheirTopologysVertexCount) {
    auto blockLength = [](size_t n, bool uv, int encoding) {
        if (encoding == 0) return n * (uv ? 20 : 12);
        return uv ? 40 + 5 * n : 24 + 3 * n;
    };
    int checked = 0;
    for (const BuiltScene& built : builtScenes())
        for (const sw::Track& track : built.scene.tracks) {
            if (track.type != sw::kObjectTrack) continue;
            size_t n = 0;
            bool uv = false;
            for (const sw::Key& key : track.keys) {
                if (key.kind == sw::kMesh) {
                    ASSERT_GE(key.data.size(), 70u);
                    n = size_t(key.data[65] | key.data[66] << 8);
                    uv = key.data[50] != 0;
                    const size_t faces = size_t(key.data[67] | key.data[68] << 8);
                    EXPECT_EQ(key.data.size(), 70 + blockLength(n, uv, key.data[69]) + 12 * faces)
                        << built.name << " " << track.name;
                } else if (key.kind == sw::kMorph) {
                    ASSERT_GE(key.data.size(), 49u);
                    EXPECT_EQ(key.data.size(), 49 + blockLength(n, uv, key.data[48]))
                        << built.name << " " << track.name;
                    ++checked;
                }
            }
        }
    EXPECT_GT(checked, 100);
}

// Each codec's file reads back through the engine's own decoders: PNG keeps the alpha the
// leaves are cut out with, JPEG is opaque, QW2 decodes to the same size.
TEST(DemoScenes, PicturesReadBackThroughTheEnginesDecoders) {
    scenetest::TempDir dir;
    const auto leaves = [] {
        return pr::leafClusterPicture(64, {0.5f, 0.7f, 0.2f, 1}, {0.1f, 0.3f, 0.1f, 1}, 2);
    };
    for (const char* name : {"t.png", "t.jpg", "t.qw2"})
        ASSERT_TRUE(pr::writePicture(".", {name, leaves, true}));
    EXPECT_FALSE(pr::writePicture(".", {"t.bmp", leaves}));
    EXPECT_FALSE(pr::writePicture("/nonexistent-dir", {"t.png", leaves}));
    int32_t w = 0, h = 0;
    uint8_t* png = loadPng(std::fopen("t.png", "rb"), &w, &h);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(w, 64);
    int cut = 0, kept = 0;
    for (int i = 0; i < w * h; ++i) {
        cut += png[4 * i + 3] == 1; // the blended pass draws it all but invisibly
        kept += png[4 * i + 3] == 255;
    }
    EXPECT_EQ(cut + kept, w * h); // hard edges: the alpha test passes all or nothing
    EXPECT_GT(cut, 0);
    EXPECT_GT(kept, 0);
    std::free(png);
    uint8_t* jpeg = loadJpeg(std::fopen("t.jpg", "rb"), &w, &h);
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(h, 64);
    std::free(jpeg);
    std::ifstream in("t.qw2", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    uint8_t* qw2 = decodeQw2(bytes.data(), bytes.size(), w, h);
    ASSERT_NE(qw2, nullptr);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 64);
    std::free(qw2);
}

// Seen from afar, an alpha-cut picture keeps the colour of what it shows: its smallest level,
// box-filtered after the engine's loader, is about as bright as its opaque pixels on average,
// where black in the cut-out parts would scale it down by the coverage.
TEST(DemoScenes, CutOutPicturesKeepTheirColourAtADistance) {
    scenetest::TempDir dir;
    std::set<std::string> seen;
    int checked = 0;
    for (const BuiltScene& scene : builtScenes())
        for (const pr::PictureJob& job : scene.pictures) {
            if (!job.name.ends_with(".png") || !seen.insert(job.name).second) continue;
            ASSERT_TRUE(pr::writePicture(".", job));
            Texture texture;
            std::string path = job.name;
            ASSERT_TRUE(loadImageFile(&texture, path.data())) << job.name;
            const int64_t count = int64_t(texture.width) * texture.height;
            double opaque = 0, covered = 0; // colour sum and count of the opaque pixels
            for (const uint8_t* p = texture.pixels; p < texture.pixels + 4 * count; p += 4)
                if (p[3] == 255) {
                    opaque += p[0] + p[1] + p[2];
                    ++covered;
                }
            buildMipmaps(&texture);
            if (covered < double(count) && covered > 0 && texture.mipCount > 0) {
                SCOPED_TRACE(job.name);
                const uint8_t* last = texture.mipLevels[texture.mipCount - 1];
                const double ratio = (last[0] + last[1] + last[2]) * covered / opaque;
                EXPECT_GT(ratio, 0.75); // the clear pixels' shade
                EXPECT_LT(ratio, 1.25);
                ++checked;
            }
            std::free(texture.pixels);
            for (int i = 0; i < texture.mipCount; ++i)
                std::free(texture.mipLevels[i]);
        }
    EXPECT_GE(checked, 6); // leaves, grain, reeds, the crane's wing, flowers, tufts
}

// Alpha is cut at one half on both sides; a cut pixel takes the mean of its nearest opaque
// neighbours (diagonals included), layer by layer, shaded by 3/4, and alpha byte 1, which
// the loaders keep.
TEST(Pictures, CutAlphaFillsFromTheNearestOpaquePixels) {
    using pictures::Color;
    const Color red = {1, 0, 0, 1}, blue = {0, 0, 1, 1}, gap = {0.2f, 0.3f, 0.4f, 0.3f};
    const auto clear = [](float r, float g, float b) {
        return Color{r * 0.75f, g * 0.75f, b * 0.75f, 1.0f / 255};
    };
    const struct {
        int width;
        std::vector<Color> in, out;
    } cases[] = {
        {4,
         {{0, 1, 0, 0.49f}, {0, 1, 0, 0.5f}, {0, 0, 1, 0.51f}, red},
         {clear(0, 0, 1), clear(0, 0, 1), blue, red}},
        {5,
         {red, gap, gap, gap, blue},
         {red, clear(1, 0, 0), clear(0.5f, 0, 0.5f), clear(0, 0, 1), blue}},
        {2, {red, gap, gap, gap}, {red, clear(1, 0, 0), clear(1, 0, 0), clear(1, 0, 0)}},
        {2, {gap, gap}, {{0.2f, 0.3f, 0.4f, 0}, {0.2f, 0.3f, 0.4f, 0}}}, // nothing opaque
    };
    for (const auto& c : cases) {
        pictures::Canvas canvas(c.width, int(c.in.size()) / c.width), expected = canvas;
        canvas.pixels = c.in;
        expected.pixels = c.out;
        pictures::cutAlpha(canvas);
        EXPECT_EQ(pictures::toRgba8(canvas), pictures::toRgba8(expected)) << &c - cases;
    }
}

TEST(DemoScenes, BuildTheSameBytesEveryTime) {
    for (const DemoSceneEntry& entry : {kDemoScenes[0], kDemoScenes[5]}) {
        const BuiltScene again = entry.build();
        const auto& first =
            std::find_if(builtScenes().begin(), builtScenes().end(),
                         [&](const BuiltScene& s) { return s.name == demoSceneName(entry.scene); });
        EXPECT_EQ(sw::writeScene(again.scene), sw::writeScene(first->scene))
            << demoSceneName(entry.scene);
    }
    // a picture with noise, shapes and alpha, made twice
    const pr::Canvas a =
        pr::leafClusterPicture(64, {0.5f, 0.7f, 0.2f, 1}, {0.1f, 0.3f, 0.1f, 1}, 9);
    const pr::Canvas b =
        pr::leafClusterPicture(64, {0.5f, 0.7f, 0.2f, 1}, {0.1f, 0.3f, 0.1f, 1}, 9);
    EXPECT_EQ(pictures::toRgba8(a), pictures::toRgba8(b));
}

TEST(DemoScenes, StoredUnderTheNamesThePlayerTries) {
    for (const DemoSceneEntry& entry : kDemoScenes) {
        const std::string name = demoSceneFileName(entry);
        if (entry.storage == SceneStorage::gzipSuffix)
            EXPECT_EQ(name, demoSceneName(entry.scene) + ".q3d.gz");
        else
            EXPECT_EQ(name, demoSceneName(entry.scene) + ".q3d");
    }
}

// Every camera of every scene, half-way through the scene, shows objects over much of the
// frame: a camera inside a hill, behind a wall or pointed at the empty sky fails.
class DemoSceneCameras : public rendertest::RenderTest {};

TEST_F(DemoSceneCameras, EachFramesSomethingWorthSeeing) {
    for (const BuiltScene& built : builtScenes()) {
        sw::Scene description = built.scene;
        description.envMapName.clear();
        // a background no lit object comes out as
        description.background[0] = 1;
        description.background[1] = 0;
        description.background[2] = 1;
        Scene* scene = rendertest::loadTestScene(description);
        ASSERT_NE(scene, nullptr);
        for (int c = 0; c < scene->cameraCount; ++c)
            for (float f : {0.1f, 0.5f, 0.9f}) {
                setCamera(*scene, c);
                drawFrame(*scene, scene->duration * f);
                int covered = 0;
                for (int y = 0; y < rendertest::kSize; ++y)
                    for (int x = 0; x < rendertest::kSize; ++x) {
                        const rendertest::Rgba p = pixel(x, y);
                        covered += !(p.r == 255 && p.g == 0 && p.b == 255);
                    }
                EXPECT_GE(covered, rendertest::kSize * rendertest::kSize / 5)
                    << built.name << " camera " << c << " at " << f;
            }
        rendertest::freeTestScene(scene);
    }
}

// A dust mote that wraps from the top of its travel to the bottom between two keys would be
// morphed across the room: a streak. It may only jump while its card is empty, and the loop's
// end must meet its start.
TEST(DemoScenes, DustMotesJumpOnlyWhileEmpty) {
    const auto& built = std::find_if(builtScenes().begin(), builtScenes().end(),
                                     [](const BuiltScene& s) { return s.name == "holzvogel"; });
    ASSERT_NE(built, builtScenes().end());
    scenetest::TempDir empty;
    const Loaded loaded = scenetest::loadWritten(built->scene);
    ASSERT_TRUE(loaded.ok);
    Scene& scene = *loaded.scene;
    prepareObjects(scene);
    SceneObject* dust = nullptr;
    for (int o = 0; o < scene.objectCount; ++o)
        if (scene.objects[o].track && std::string(scene.objects[o].track->name) == "dust")
            dust = &scene.objects[o];
    ASSERT_NE(dust, nullptr);
    struct Mote {
        float x, y, z, size;
    };
    auto motes = [&](float t) {
        updateObject(*dust, t, false);
        std::vector<Mote> out;
        for (int v = 0; v + 3 < dust->vertexCount; v += 4) {
            const float* a = dust->vertices[v].position;
            const float* c = dust->vertices[v + 2].position; // the opposite corner
            out.push_back({(a[0] + c[0]) / 2, (a[1] + c[1]) / 2, (a[2] + c[2]) / 2,
                           std::hypot(c[0] - a[0], c[1] - a[1], c[2] - a[2])});
        }
        return out;
    };
    const int samples = int(scene.duration * 30);
    std::vector<Mote> before = motes(0);
    const std::vector<Mote> first = before;
    int jumps = 0, shown = 0;
    for (int k = 1; k <= samples; ++k) {
        const std::vector<Mote> now = motes(scene.duration * float(k) / float(samples));
        ASSERT_EQ(now.size(), before.size());
        for (size_t m = 0; m < now.size(); ++m) {
            shown += now[m].size > 0.2f;
            const float moved =
                std::hypot(now[m].x - before[m].x, now[m].y - before[m].y, now[m].z - before[m].z);
            if (moved < 0.25f) continue; // drifting: under a unit a second
            ++jumps;
            EXPECT_LT(now[m].size + before[m].size, 1e-3f) << "mote " << m << " sample " << k;
        }
        before = now;
    }
    EXPECT_GT(jumps, 10);           // the motes do wrap: the check above was exercised
    EXPECT_GT(shown, samples * 20); // and most are in sight most of the time
    for (size_t m = 0; m < first.size(); ++m)
        EXPECT_NEAR(before[m].z, first[m].z, 1e-3f) << "mote " << m;
}

TEST(Procedural, OctagonCardCoversItsCircleInsideTheSquare) {
    for (float reach : {0.3f, 0.48f, 0.5f}) {
        const sw::Mesh octagon = pr::octagonCard(4, 7, reach);
        ASSERT_EQ(octagon.vertices.size(), 8u);
        ASSERT_EQ(octagon.faces.size(), 6u);
        EXPECT_EQ(octagon.materialIndex, 7);
        for (const sw::Vertex& v : octagon.vertices) {
            // textured as the square card of that size, and inside it
            EXPECT_NEAR(v.u, 0.5f + v.x / 4, 1e-5f);
            EXPECT_NEAR(v.v, 0.5f + v.z / 4, 1e-5f);
            EXPECT_GE(v.u, -1e-5f);
            EXPECT_LE(v.u, 1 + 1e-5f);
            EXPECT_GE(v.v, -1e-5f);
            EXPECT_LE(v.v, 1 + 1e-5f);
            EXPECT_EQ(v.y, 0);
        }
        for (const sw::Face& f : octagon.faces) {
            const sw::Vertex &a = octagon.vertices[f.a], &b = octagon.vertices[f.b],
                             &c = octagon.vertices[f.c];
            const pr::Vec3 n =
                pr::cross(pr::Vec3{b.x - a.x, 0, b.z - a.z}, pr::Vec3{c.x - a.x, 0, c.z - a.z});
            EXPECT_LT(n.y, 0); // faces -Y like a card
        }
        // each side's middle lies exactly reach x size from the centre: the circle fits
        for (int i = 0; i < 8; ++i) {
            const sw::Vertex &a = octagon.vertices[size_t(i)],
                             &b = octagon.vertices[size_t((i + 1) % 8)];
            EXPECT_NEAR(std::hypot((a.x + b.x) / 2, (a.z + b.z) / 2), reach * 4, 1e-4f);
        }
    }
}

TEST(Procedural, MeshesCloseAtTheSixteenBitVertexLimit) {
    sw::Mesh into;
    sw::Mesh part = sw::gridMesh(1, 1.0f); // 4 vertices
    for (size_t i = 0; i < pr::kMaxMeshVertices / 4; ++i)
        ASSERT_TRUE(pr::appendMesh(into, part, {}));
    const size_t full = into.vertices.size(); // 65532
    EXPECT_FALSE(pr::appendMesh(into, part, {}));
    EXPECT_EQ(into.vertices.size(), full);
    sw::Mesh three = sw::triangleMesh();
    EXPECT_TRUE(pr::appendMesh(into, three, {})); // exactly 65535
    EXPECT_EQ(into.vertices.size(), pr::kMaxMeshVertices);
    EXPECT_EQ(into.faces.back().c, 65534);

    pr::MeshBatch batch;
    batch.prototype.materialIndex = 3;
    for (size_t i = 0; i < pr::kMaxMeshVertices / 4 + 1; ++i)
        pr::addToBatch(batch, part, pr::pose({float(i), 0, 0}, 0));
    ASSERT_EQ(batch.meshes.size(), 2u);
    EXPECT_EQ(batch.meshes[1].vertices.size(), 4u);
    EXPECT_EQ(batch.meshes[1].materialIndex, 3);
    EXPECT_EQ(batch.meshes[1].faces[0].a, 0); // indices restart in the new mesh
}

// Faces must wind counter-clockwise seen from outside: the engine's normals follow them.
TEST(Procedural, SurfacesFaceOutward) {
    auto faceNormal = [](const sw::Mesh& m, const sw::Face& f) {
        const pr::Vec3 a = {m.vertices[f.a].x, m.vertices[f.a].y, m.vertices[f.a].z};
        const pr::Vec3 b = {m.vertices[f.b].x, m.vertices[f.b].y, m.vertices[f.b].z};
        const pr::Vec3 c = {m.vertices[f.c].x, m.vertices[f.c].y, m.vertices[f.c].z};
        return pr::cross(b - a, c - a);
    };
    const sw::Mesh ground = pr::heightField(
        4, 3, -10, -10, 20, 20, [](float x, float) { return x * 0.1f; }, 0);
    EXPECT_EQ(ground.faces.size(), 24u);
    for (const sw::Face& f : ground.faces)
        EXPECT_GT(faceNormal(ground, f).z, 0);
    const sw::Mesh pot = pr::lathe({{2, 0}, {3, 1}, {1, 3}}, 8, 0);
    const sw::Mesh pipe = pr::tube({1, 2, 0}, {1, 2, 5}, 1, 0.5f, 6, 0);
    for (const sw::Mesh* m : {&pot, &pipe})
        for (const sw::Face& f : m->faces) {
            const sw::Vertex& v = m->vertices[f.a];
            const pr::Vec3 n = faceNormal(*m, f);
            const pr::Vec3 centre = m == &pot ? pr::Vec3{0, 0, v.z} : pr::Vec3{1, 2, v.z};
            EXPECT_GT(pr::dot(n, pr::Vec3{v.x, v.y, v.z} - centre), 0);
        }
    // a card faces -Y, as its header says
    const sw::Mesh quad = pr::card(2, 3, 0);
    EXPECT_LT(faceNormal(quad, quad.faces[0]).y, 0);
}

TEST(Procedural, PoseAndComposeKeepRigidFrames) {
    const sw::Matrix12 a = pr::pose({1, 2, 3}, 0.7f, 0.3f);
    const sw::Matrix12 b = pr::pose({-4, 0, 1}, -1.1f, 0.0f, 2.0f);
    const sw::Matrix12 ab = pr::compose(a, b);
    const pr::Vec3 p = {0.5f, -1.5f, 2.0f};
    const pr::Vec3 direct = pr::transformPoint(ab, p);
    const pr::Vec3 stepwise = pr::transformPoint(a, pr::transformPoint(b, p));
    EXPECT_NEAR(direct.x, stepwise.x, 1e-4f);
    EXPECT_NEAR(direct.y, stepwise.y, 1e-4f);
    EXPECT_NEAR(direct.z, stepwise.z, 1e-4f);
    // heading pi/2 turns +X into +Y; pitch lifts the Y axis toward +Z
    const sw::Matrix12 quarter = pr::pose({}, pr::kPi / 2, 0.0f);
    EXPECT_NEAR(quarter.m[1], 1.0f, 1e-6f);
    const sw::Matrix12 tilted = pr::pose({}, 0.0f, pr::kPi / 2);
    EXPECT_NEAR(tilted.m[5], 1.0f, 1e-6f);
}

// The sky's faces must be laid out as the renderer draws the box: the centre of the up face
// looks straight up, the down face straight down, and each side toward its own axis.
TEST(Procedural, SkyFacesLookWhereTheBoxShowsThem) {
    pr::SkyLook look;
    look.cloudCover = 0;
    const pr::Vec3 directions[kEnvMapFaces] = {{0, 0, -1}, {0, 0, 1},  {-1, 0, 0},
                                               {1, 0, 0},  {0, -1, 0}, {0, 1, 0}};
    for (int slot = 0; slot < kEnvMapFaces; ++slot) {
        const pr::Canvas face = pr::skyFace(look, slot, 9); // pixel (4, 4) is the centre
        const pictures::Color expected = pr::skyColor(look, directions[slot]);
        EXPECT_NEAR(face.at(4, 4).r, expected.r, 1e-3f) << kEnvMapSuffixes[slot];
        EXPECT_NEAR(face.at(4, 4).g, expected.g, 1e-3f) << kEnvMapSuffixes[slot];
        EXPECT_NEAR(face.at(4, 4).b, expected.b, 1e-3f) << kEnvMapSuffixes[slot];
    }
}

} // namespace
