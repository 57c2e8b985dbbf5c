#include "scene/keyframes_tracks.h"
#include "scene/object_update.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include "scene/keyframes.h"

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

using Vert = std::array<float, 5>; // x, y, z, u, v
using Tri = std::array<uint16_t, 3>;
using Transform = std::array<float, 12>;
constexpr Transform kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

void put(std::vector<uint8_t>& out, const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}
void putU16(std::vector<uint8_t>& out, uint16_t v) {
    put(out, &v, 2);
}

void putVertices(std::vector<uint8_t>& out, const std::vector<Vert>& vertices, bool uv) {
    for (const Vert& v : vertices)
        put(out, v.data(), uv ? 20 : 12);
}

// A Mesh block in the raw encoding (0).
std::vector<uint8_t> meshBlock(const std::vector<Vert>& vertices, const std::vector<Tri>& faces,
                               bool uv = false, bool flip = false, uint16_t material = 0,
                               const Transform& transform = kIdentity) {
    std::vector<uint8_t> out;
    put(out, transform.data(), 48);
    putU16(out, material);
    out.push_back(uv);
    out.push_back(0);
    out.push_back(flip);
    out.resize(out.size() + 12);
    putU16(out, uint16_t(vertices.size()));
    putU16(out, uint16_t(faces.size()));
    out.push_back(0);
    putVertices(out, vertices, uv);
    for (const Tri& f : faces) {
        for (uint16_t i : f)
            putU16(out, i);
        for (int i = 0; i < 3; ++i)
            putU16(out, 0xFFFF);
    }
    return out;
}

std::vector<uint8_t> morphBlock(const std::vector<Vert>& vertices, bool uv = false,
                                const Transform& transform = kIdentity) {
    std::vector<uint8_t> out;
    put(out, transform.data(), 48);
    out.push_back(0);
    putVertices(out, vertices, uv);
    return out;
}

TestKey meshKey(float t, const std::vector<uint8_t>& block) {
    return {t, KeyKind::Mesh, {}, block};
}
TestKey morphKey(float t, const std::vector<Vert>& v, const Transform& m = kIdentity) {
    return {t, KeyKind::Morph, {}, morphBlock(v, false, m)};
}

const std::vector<Vert> kTriangle = {{0, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {0, 1, 0, 0, 1}};
const std::vector<Tri> kOneFace = {{0, 1, 2}};

std::vector<Vert> shifted(const std::vector<Vert>& v, float dx) {
    std::vector<Vert> out = v;
    for (Vert& p : out)
        p[0] += dx;
    return out;
}

// One scene holding one object whose track is built from keys, prepared like the renderer does.
struct OneObject {
    Scene* scene = createScene();
    explicit OneObject(const std::vector<TestKey>& keys, int materials = 1) {
        scene->timeStart = 0.0f;
        scene->timeEnd = 10.0f;
        scene->objectCount = 1;
        scene->objects = new SceneObject[1];
        scene->materialCount = materials;
        scene->materials = materials > 0 ? new Material[size_t(materials)] : nullptr;
        scene->objects[0].track = makeTestTrack(keys);
        prepareObjects(*scene);
    }
    ~OneObject() { destroyScene(scene); }
    SceneObject& object() { return scene->objects[0]; }
    float x(int vertex) { return object().vertices[vertex].position[0]; }
};

TEST(ObjectUpdate, MorphSequenceCopiesThenBlendsAcrossSegments) {
    OneObject o({meshKey(0, meshBlock(kTriangle, kOneFace)), morphKey(1, shifted(kTriangle, 10)),
                 morphKey(2, shifted(kTriangle, 20))});
    SceneObject& obj = o.object();
    // The first update builds the topology and copies the Mesh key, whatever the time.
    EXPECT_EQ(updateObject(obj, 1.5f, true), 3);
    EXPECT_EQ(obj.currentMeshKey, 0);
    EXPECT_EQ(obj.currentVertexKey, 0);
    EXPECT_EQ(o.x(1), 1.0f);
    // The following update at the same time blends from the 1 s key toward the 2 s key.
    updateObject(obj, 1.5f, false);
    EXPECT_EQ(obj.currentVertexKey, 1);
    EXPECT_EQ(o.x(1), 11.0f + (21.0f - 11.0f) * 0.5f);
    updateObject(obj, 0.5f, false);
    EXPECT_EQ(obj.currentVertexKey, 0);
    EXPECT_EQ(o.x(1), 1.0f + (11.0f - 1.0f) * 0.5f);
    for (float t : {2.0f, 3.0f}) {
        updateObject(obj, t, false);
        EXPECT_EQ(obj.currentVertexKey, 2);
        EXPECT_EQ(o.x(1), 21.0f);
        EXPECT_EQ(obj.vertices[2].position[1], 1.0f);
    }
    EXPECT_EQ(obj.material, &o.scene->materials[0]);
}

TEST(ObjectUpdate, SecondMeshKeyBlendsByIndexThenSwitchesTopology) {
    const std::vector<Tri> otherFaces = {{0, 2, 1}};
    OneObject o({meshKey(0, meshBlock(kTriangle, kOneFace)),
                 meshKey(1, meshBlock(shifted(kTriangle, 4), otherFaces, false, false, 7))});
    SceneObject& obj = o.object();
    updateObject(obj, 0.0f, true);
    updateObject(obj, 0.5f, false);
    EXPECT_EQ(obj.currentMeshKey, 0);
    EXPECT_EQ(o.x(0), 2.0f);
    EXPECT_EQ(obj.faces[0].indices[1], 1);
    EXPECT_EQ(obj.faces[0].normal[2], 1.0f);
    updateObject(obj, 1.0f, false);
    EXPECT_EQ(obj.currentMeshKey, 1);
    EXPECT_EQ(obj.currentVertexKey, 1);
    EXPECT_EQ(o.x(0), 4.0f);
    EXPECT_EQ(obj.faces[0].indices[1], 2);
    EXPECT_EQ(obj.faces[0].normal[2], -1.0f);
    // Material index 7 is beyond the scene's one material: none.
    EXPECT_EQ(obj.materialIndex, 7);
    EXPECT_EQ(obj.material, nullptr);
    // Back to the first topology when time runs backwards (the scene loops).
    updateObject(obj, 0.25f, false);
    EXPECT_EQ(obj.currentMeshKey, 0);
    EXPECT_EQ(o.x(0), 0.0f);
}

TEST(ObjectUpdate, TransformHoldsUntilTheHoldKeyPasses) {
    Transform far = kIdentity;
    far[9] = 8.0f;
    OneObject o({meshKey(0, meshBlock(kTriangle, kOneFace)),
                 {1.0f, KeyKind::Hold, {}},
                 {2.0f, KeyKind::Transform, std::vector<float>(far.begin(), far.end())}});
    SceneObject& obj = o.object();
    const float expected[][2] = {
        {0.0f, 0.0f}, {0.9f, 0.0f}, {1.5f, 4.0f}, {2.0f, 8.0f}, {9.0f, 8.0f}};
    for (const auto& e : expected) {
        updateObject(obj, e[0], false);
        EXPECT_EQ(obj.transform[9], e[1]) << "t " << e[0];
        EXPECT_EQ(obj.transform[0], 1.0f);
    }
}

TEST(ObjectUpdate, VerticesAreOnlyRewrittenWhenSomethingChanged) {
    OneObject o({meshKey(0, meshBlock(kTriangle, kOneFace)),
                 {1.0f, KeyKind::Hold, {}},
                 morphKey(2, shifted(kTriangle, 2))});
    SceneObject& obj = o.object();
    updateObject(obj, 0.2f, false);
    EXPECT_TRUE(obj.geometryDirty);
    obj.geometryDirty = false; // the renderer's copy is up to date
    updateObject(obj, 0.4f, false);
    EXPECT_FALSE(obj.geometryDirty);
    updateObject(obj, 0.6f, true); // another scene used the vertex memory
    EXPECT_TRUE(obj.geometryDirty);
    obj.geometryDirty = false;
    updateObject(obj, 1.5f, false); // blending toward the Morph key
    EXPECT_TRUE(obj.geometryDirty);
    EXPECT_EQ(o.x(0), 1.0f);
}

TEST(ObjectUpdate, MissingTopologyIsLoggedOnceAndTheObjectIsDroppedForGood) {
    OneObject o({{0.0f, KeyKind::Transform, std::vector<float>(kIdentity.begin(), kIdentity.end())},
                 meshKey(3, meshBlock(kTriangle, kOneFace))});
    SceneObject& obj = o.object();
    ConsoleCapture log;
    EXPECT_EQ(updateObject(obj, 0.0f, true), 0);
    EXPECT_EQ(obj.track, nullptr);
    EXPECT_EQ(obj.vertexCount, 0);
    EXPECT_EQ(obj.faceCount, 0);
    EXPECT_EQ(updateObject(obj, 3.5f, false), 0);
    EXPECT_EQ(updateObject(obj, 5.0f, false), 0);
    EXPECT_EQ(log.text, "Error: object has no topology to use at this timecode. \n");
    EXPECT_EQ(obj.vertexCount, 0);
    EXPECT_EQ(obj.time, 5.0f);
}

TEST(ObjectUpdate, NormalsOfDegenerateFlatAndMixedGeometry) {
    // Vertex 3 belongs to no face; face 1 has three coincident corners.
    const std::vector<Vert> v = {
        {0, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, {2, 2, 0, 0, 0}, {0, 2, 0, 0, 0}, {5, 5, 5, 0, 0}};
    const std::vector<Tri> quad = {{0, 1, 2}, {0, 2, 3}};
    for (bool flip : {false, true}) {
        OneObject o({meshKey(0, meshBlock(v, {{0, 1, 2}, {4, 4, 4}, {0, 2, 3}}, false, flip))});
        SceneObject& obj = o.object();
        updateObject(obj, 0.0f, true);
        const float z = flip ? -1.0f : 1.0f;
        EXPECT_EQ(obj.faces[0].normal[2], z);
        EXPECT_EQ(obj.faces[2].normal[2], z);
        EXPECT_EQ(obj.faces[1].normal[0], 1.0f); // degenerate
        EXPECT_EQ(obj.faces[1].normal[1], 0.0f);
        for (int i : {0, 1, 2, 3}) {
            EXPECT_EQ(obj.vertices[i].normal[0], 0.0f);
            EXPECT_EQ(obj.vertices[i].normal[2], z) << i;
        }
        EXPECT_EQ(obj.vertices[4].normal[0], 1.0f); // only the degenerate face's (1,0,0)
    }
    (void)quad;
}

TEST(ObjectUpdate, EachFaceContributesAUnitNormalWhateverItsArea) {
    // A huge face in the XY plane and a tiny one in the XZ plane share vertex 0.
    const std::vector<Vert> v = {
        {0, 0, 0, 0, 0}, {100, 0, 0, 0, 0}, {0, 100, 0, 0, 0}, {0, 0, 0.01f, 0, 0}};
    OneObject o({meshKey(0, meshBlock(v, {{0, 1, 2}, {0, 3, 1}}))});
    SceneObject& obj = o.object();
    updateObject(obj, 0.0f, true);
    // Face 1: (0,0,0.01) x (100,0,0) points along +y... its unit normal is (0, 1, 0).
    EXPECT_EQ(obj.faces[1].normal[1], 1.0f);
    const float* n = obj.vertices[0].normal;
    EXPECT_FLOAT_EQ(n[1], 1.0f / std::sqrt(2.0f));
    EXPECT_FLOAT_EQ(n[2], 1.0f / std::sqrt(2.0f));
}

TEST(ObjectUpdate, ShortVertexKeysAreNeverReadFrom) {
    const std::vector<Vert> quadVerts = {
        {0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {0, 1, 0, 0, 0}};
    const std::vector<Tri> quadFaces = {{0, 1, 2}, {0, 2, 3}};
    // Blend target with 3 vertices under a 4-vertex topology: the source is copied instead.
    {
        OneObject o({meshKey(0, meshBlock(quadVerts, quadFaces)),
                     meshKey(1, meshBlock(shifted(kTriangle, 9), kOneFace))});
        SceneObject& obj = o.object();
        updateObject(obj, 0.0f, true);
        updateObject(obj, 0.5f, false);
        EXPECT_EQ(obj.vertexCount, 4);
        EXPECT_EQ(o.x(1), 1.0f);
    }
    // An active Morph key inheriting 3 vertices (stored after a 3-vertex Mesh key that lies
    // later in time) while the 4-vertex topology is in force: the vertices stay as they were.
    {
        OneObject o({meshKey(0, meshBlock(quadVerts, quadFaces)),
                     meshKey(5, meshBlock(kTriangle, kOneFace)),
                     morphKey(1, shifted(kTriangle, 9))});
        SceneObject& obj = o.object();
        updateObject(obj, 2.0f, true);
        updateObject(obj, 2.0f, false);
        EXPECT_EQ(obj.currentVertexKey, 2);
        EXPECT_EQ(obj.vertexCount, 4);
        EXPECT_EQ(o.x(2), 1.0f);
        EXPECT_EQ(obj.vertices[3].position[1], 1.0f);
    }
}

// Random tracks of all kinds (ties and steps back in time included), updated at random times:
// the transform bits, the chosen keys and vertex 0 follow the rules written out step by step.
TEST(ObjectUpdate, MatchesTheKeyRulesOnRandomTracks) {
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> value(-50.0f, 50.0f);
    const KeyKind kinds[] = {KeyKind::Hold, KeyKind::Transform, KeyKind::Morph, KeyKind::Mesh};
    int switches = 0, vertexBlends = 0, dropped = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<TestKey> keys;
        std::vector<float> firstX; // vertex 0's x per key
        int ticks = 0;
        const int count = 1 + int(rng() % 6);
        for (int k = 0; k < count; ++k) {
            ticks += int(rng() % 5) == 0 ? -int(rng() % 4800) : int(rng() % 9600);
            Transform m;
            for (float& f : m)
                f = value(rng);
            const KeyKind kind = k == 0 ? KeyKind::Mesh : kinds[rng() % 4];
            const float x = value(rng);
            const float t = float(ticks) / 4800.0f;
            firstX.push_back(x);
            if (kind == KeyKind::Mesh)
                keys.push_back(
                    {t, kind, {}, meshBlock(shifted(kTriangle, x), kOneFace, false, false, 0, m)});
            else if (kind == KeyKind::Morph)
                keys.push_back({t, kind, {}, morphBlock(shifted(kTriangle, x), false, m)});
            else if (kind == KeyKind::Transform)
                keys.push_back({t, kind, std::vector<float>(m.begin(), m.end())});
            else
                keys.push_back({t, kind, {}});
        }
        OneObject o(keys);
        SceneObject& obj = o.object();
        const Track reference = *obj.track; // keys stay owned by the object's track
        int meshKey = -1, vertexKey = -1;
        float x = 0.0f;
        for (int step = 0; step < 6; ++step) {
            const float t = float(int(rng() % 60000) - 9600) / 4800.0f;
            const int topology = findActiveKey(reference, t, KeyFilter::meshOnly);
            const int segment = findSegment(reference, t);
            if (topology < 0 || segment < 0) {
                EXPECT_EQ(updateObject(obj, t, false), 0);
                EXPECT_EQ(obj.track, nullptr);
                ++dropped;
                break;
            }
            ASSERT_EQ(updateObject(obj, t, false), 3) << round;
            const int pose = findActiveKey(reference, t, KeyFilter::pose);
            const int vertices = findActiveKey(reference, t, KeyFilter::vertices);
            const int next = segment + 1 < count ? segment + 1 : -1;
            float a[12], b[12], want[12];
            readKeyFloats(reference.keys[pose], 0, a, 12);
            if (next < 0 || reference.keys[next].kind == KeyKind::Hold) {
                std::memcpy(want, a, sizeof want);
            } else {
                readKeyFloats(reference.keys[next], 0, b, 12);
                const float f = (t - reference.keys[segment].time) /
                                (reference.keys[next].time - reference.keys[segment].time);
                for (int i = 0; i < 12; ++i)
                    want[i] = a[i] + (b[i] - a[i]) * f;
            }
            ASSERT_EQ(std::memcmp(obj.transform, want, sizeof want), 0) << round;

            const bool towardVertices = next >= 0 && (reference.keys[next].kind == KeyKind::Morph ||
                                                      reference.keys[next].kind == KeyKind::Mesh);
            if (meshKey != topology) {
                switches += meshKey != -1;
                x = firstX[size_t(topology)];
                vertexKey = topology;
            } else if (towardVertices) {
                const float f = (t - reference.keys[segment].time) /
                                (reference.keys[next].time - reference.keys[segment].time);
                x = firstX[size_t(vertices)] +
                    (firstX[size_t(next)] - firstX[size_t(vertices)]) * f;
                vertexKey = vertices;
                ++vertexBlends;
            } else if (vertexKey != vertices) {
                x = firstX[size_t(vertices)];
                vertexKey = vertices;
            }
            meshKey = topology;
            EXPECT_EQ(obj.currentMeshKey, meshKey);
            EXPECT_EQ(obj.currentVertexKey, vertexKey);
            ASSERT_EQ(std::memcmp(&obj.vertices[0].position[0], &x, sizeof x), 0)
                << round << " " << o.x(0) << " " << x;
        }
    }
    EXPECT_GT(switches, 50);
    EXPECT_GT(vertexBlends, 100);
    EXPECT_GT(dropped, 20);
}

TEST(SceneTime, WrapsLikeTheRenderer) {
    Scene scene;
    scene.timeStart = 1.0f;
    scene.timeEnd = 3.0f;
    EXPECT_EQ(wrapSceneTime(scene, -5.0f), 1.0f);
    EXPECT_EQ(wrapSceneTime(scene, 2.5f), 2.5f);
    EXPECT_EQ(wrapSceneTime(scene, 3.0f), 1.0f);
    EXPECT_EQ(wrapSceneTime(scene, 3.25f), 1.25f);
    EXPECT_EQ(wrapSceneTime(scene, 1000.5f), 2.5f);
    scene.timeEnd = 1.0f; // no length: held at the start instead of a remainder by zero
    EXPECT_EQ(wrapSceneTime(scene, 7.0f), 1.0f);
}

// ---- Hidetrack test ----

struct Hidden : ::testing::Test {
    Scene scene;
    uint8_t bits[4] = {};
    void SetUp() override {
        scene.timeStart = 1.0f;
        scene.timeEnd = 3.0f;
        scene.cameraCount = 2;
        scene.currentCamera = 1;
        scene.hideFrameRate = 30;
        scene.hideBitsPerCamera = 11;
    }
    void set(int bit) { bits[bit / 8] |= uint8_t(1 << (bit % 8)); }
};

TEST_F(Hidden, TestsTwoNeighbouringBitsOfTheCameraRow) {
    const float t = 1.0f + 5.0f / 30.0f;
    const int frame = int((t - 1.0f) / (1.0f / 30.0f));
    const int b = frame + 11;
    EXPECT_FALSE(isVisibleAt(scene, t, bits, 4));
    set(b);
    EXPECT_TRUE(isVisibleAt(scene, t, bits, 4));
    bits[b / 8] = 0;
    set(b + 1);
    EXPECT_TRUE(isVisibleAt(scene, t, bits, 4));
    bits[(b + 1) / 8] = 0;
    set(b + 2);
    set(b - 1);
    EXPECT_FALSE(isVisibleAt(scene, t, bits, 4));
    // Camera 0 reads its own row.
    scene.currentCamera = 0;
    EXPECT_FALSE(isVisibleAt(scene, t, bits, 4));
    set(frame);
    EXPECT_TRUE(isVisibleAt(scene, t, bits, 4));
}

TEST_F(Hidden, OutsideTheRangeOrTheTableEverythingIsVisible) {
    EXPECT_TRUE(isVisibleAt(scene, 0.99f, bits, 4));
    EXPECT_TRUE(isVisibleAt(scene, 3.0f, bits, 4));
    EXPECT_FALSE(isVisibleAt(scene, 2.99f, bits, 4));
    scene.currentCamera = -1;
    EXPECT_TRUE(isVisibleAt(scene, 2.0f, bits, 4));
    scene.currentCamera = 2;
    EXPECT_TRUE(isVisibleAt(scene, 2.0f, bits, 4));
    // Damaged rates never read outside the block.
    scene.currentCamera = 1;
    scene.hideFrameRate = -30;
    EXPECT_TRUE(isVisibleAt(scene, 2.0f, bits, 4));
    scene.hideFrameRate = 30;
    scene.hideBitsPerCamera = 1 << 30;
    EXPECT_FALSE(isVisibleAt(scene, 2.0f, bits, 4));
}

TEST(ObjectUpdate, HiddenObjectsKeepTheirStateAndComeBackDirty) {
    OneObject o({meshKey(0, meshBlock(kTriangle, kOneFace)), morphKey(2, shifted(kTriangle, 2))});
    Scene& scene = *o.scene;
    SceneObject& obj = o.object();
    scene.cameraCount = 1;
    scene.cameras = new Camera[1];
    scene.currentCamera = 0;
    scene.hideFrameRate = 1;
    scene.hideBitsPerCamera = 11;
    obj.hideBits = new uint8_t[2]();
    obj.hideBitsBytes = 2;
    obj.hideBits[0] = 0x03; // bits 0 and 1: visible from frame 0 (bits 0, 1) and frame 1 (1, 2)
    EXPECT_EQ(updateObject(obj, 0.5f, true), 3);
    obj.geometryDirty = false;
    const float x = o.x(1);
    EXPECT_EQ(updateObject(obj, 3.5f, false), 0);
    EXPECT_FALSE(obj.visible);
    EXPECT_EQ(obj.time, 0.5f);
    EXPECT_EQ(o.x(1), x);
    EXPECT_TRUE(obj.geometryDirty);
    obj.geometryDirty = false;
    EXPECT_EQ(updateObject(obj, 4.5f, false), 0);
    EXPECT_FALSE(obj.geometryDirty);
    scene.currentCamera = -1; // the interactive camera sees everything
    EXPECT_EQ(updateObject(obj, 4.5f, false), 3);
    EXPECT_TRUE(obj.visible);
    EXPECT_TRUE(obj.geometryDirty);
}

} // namespace
