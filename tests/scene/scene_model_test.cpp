// Scene model: vertex key decoding, Mesh block readers, materials, camera selection.
#include "scene_test_util.h"

#include "image/png_writer.h"
#include "image/texture.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace scenetest;

namespace {

const VertexKey& entryFor(const Scene& scene, int object, int keyIndex) {
    const VertexKey* entry = findVertexKey(scene.objects[object], keyIndex);
    EXPECT_NE(entry, nullptr) << "key " << keyIndex;
    static VertexKey none;
    return entry ? *entry : none;
}

void appendF32(std::vector<uint8_t>& out, float v) {
    uint8_t b[4];
    std::memcpy(b, &v, 4);
    out.insert(out.end(), b, b + 4);
}

} // namespace

TEST(SceneVertexKeys, RawVerticesDecodeWithVNegated) {
    sw::Mesh quad = sw::quadMesh(2, true);
    quad.vertices[1].v = 0.25f;
    sw::Mesh plain = sw::triangleMesh();
    plain.vertices[2] = {4, 5, 6, 0.5f, 0.5f}; // u, v not written without texture coordinates
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack("uv", {sw::meshKey(0, quad)}));
    file.tracks.push_back(sw::objectTrack("plain", {sw::meshKey(0, plain)}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    prepareObjects(*loaded.scene);
    const VertexKey& uv = entryFor(*loaded.scene, 0, 0);
    ASSERT_EQ(uv.vertexCount, 4);
    EXPECT_EQ(uv.vertices[1].position[0], 1.0f);
    EXPECT_EQ(uv.vertices[1].texCoord[0], 1.0f);
    EXPECT_EQ(uv.vertices[1].texCoord[1], -0.25f);
    EXPECT_EQ(uv.vertices[1].texCoord[2], 0.0f);
    EXPECT_TRUE(loaded.scene->objects[0].hasUV);
    const VertexKey& p = entryFor(*loaded.scene, 1, 0);
    ASSERT_EQ(p.vertexCount, 3);
    EXPECT_EQ(p.vertices[2].position[2], 6.0f);
    EXPECT_EQ(p.vertices[2].texCoord[0], 0.0f);
    EXPECT_EQ(p.vertices[2].texCoord[1], 0.0f);
    EXPECT_FALSE(loaded.scene->objects[1].hasUV);
    EXPECT_EQ(loaded.scene->objects[0].scene, loaded.scene.get());
}

TEST(SceneVertexKeys, QuantisedPlanesUseBasePlusByteTimesStep) {
    // Four vertices with texture coordinates: 40 bytes of ranges, 5 planes of 4 bytes.
    std::vector<uint8_t> block;
    const float tops[5] = {10, 1, 3, 1, 0.5f}, bases[5] = {-10, 0, 3, 0, -0.5f};
    for (int c = 0; c < 5; ++c) {
        appendF32(block, tops[c]);
        appendF32(block, bases[c]);
    }
    const uint8_t planes[5][4] = {
        {0, 255, 128, 1}, {0, 51, 102, 255}, {9, 9, 9, 9}, {0, 85, 170, 255}, {0, 64, 127, 255}};
    for (const auto& plane : planes)
        block.insert(block.end(), plane, plane + 4);
    ASSERT_EQ(block.size(), 60u);

    sw::Mesh quad = sw::quadMesh(1, true);
    quad.encoding = 1;
    sw::Key mesh = sw::meshKey(0, quad);
    ASSERT_EQ(mesh.data.size(), 70u + 60 + 2 * 12);
    std::copy(block.begin(), block.end(), mesh.data.begin() + 70);
    sw::Key morph = sw::rawKey(1, sw::kMorph, std::vector<uint8_t>(48, 0));
    morph.data.push_back(1);
    morph.data.insert(morph.data.end(), block.begin(), block.end());
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack("q", {mesh, morph}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok) << loaded.log;

    MeshBlock head;
    ASSERT_TRUE(readMeshBlock(loaded.scene->objects[0].track->keys[0], head));
    EXPECT_EQ(head.faceBlockOffset, 130);
    EXPECT_EQ(head.vertexCount, 4);
    EXPECT_EQ(head.encoding, 1);

    prepareObjects(*loaded.scene);
    for (int keyIndex : {0, 1}) {
        const VertexKey& entry = entryFor(*loaded.scene, 0, keyIndex);
        ASSERT_EQ(entry.vertexCount, 4);
        for (int c = 0; c < 5; ++c) {
            const float step = (tops[c] - bases[c]) / 255.0f;
            for (int j = 0; j < 4; ++j) {
                const float expected = bases[c] + static_cast<float>(planes[c][j]) * step;
                const KeyVertex& v = entry.vertices[j];
                const float got = c < 3 ? v.position[c] : (c == 3 ? v.texCoord[0] : -v.texCoord[1]);
                EXPECT_EQ(got, expected)
                    << "key " << keyIndex << " component " << c << " vertex " << j;
            }
        }
    }
    EXPECT_EQ(entryFor(*loaded.scene, 0, 0).vertices[1].position[0], 10.0f);
    EXPECT_EQ(entryFor(*loaded.scene, 0, 0).vertices[0].texCoord[1], 0.5f);
}

TEST(SceneVertexKeys, MorphKeysInheritCountAndUvFromTheKeyBefore) {
    sw::Mesh quad = sw::quadMesh(1, true);
    sw::Mesh tri = sw::triangleMesh();
    std::vector<sw::Vertex> moved = quad.vertices;
    for (sw::Vertex& v : moved)
        v.z = 2;
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack(
        "o", {sw::morphKey(0, sw::Matrix12(), {}, false), // before any Mesh key: no vertices
              sw::transformKey(0.5, sw::Matrix12()), sw::meshKey(1, quad),
              sw::morphKey(2, sw::Matrix12(), moved, true, 1), sw::holdKey(2.5),
              sw::morphKey(3, sw::Matrix12(), moved, true, 0), sw::meshKey(4, tri),
              sw::morphKey(5, sw::Matrix12(), tri.vertices, false, 1)}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok) << loaded.log;
    Scene& scene = *loaded.scene;
    prepareObjects(scene);
    const SceneObject& object = scene.objects[0];
    ASSERT_EQ(object.vertexKeyCount, 6);
    const int keyIndices[6] = {0, 2, 3, 5, 6, 7};
    const int counts[6] = {0, 4, 4, 4, 3, 3};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(object.vertexKeys[i].keyIndex, keyIndices[i]);
        EXPECT_EQ(object.vertexKeys[i].vertexCount, counts[i]) << i;
        EXPECT_EQ(object.vertexKeys[i].time, object.track->keys[keyIndices[i]].time);
    }
    EXPECT_EQ(object.vertexKeys[0].vertices, nullptr);
    EXPECT_EQ(entryFor(scene, 0, 3).vertices[2].position[2], 2.0f);
    EXPECT_EQ(entryFor(scene, 0, 5).vertices[0].texCoord[1], -0.0f);
    EXPECT_EQ(entryFor(scene, 0, 5).vertices[3].texCoord[1], -1.0f);
    EXPECT_FALSE(object.hasUV); // the last Mesh key has none
    EXPECT_EQ(findVertexKey(object, 1), nullptr);
    EXPECT_TRUE(vertexKeyCovers(&object.vertexKeys[2], 4));
    EXPECT_FALSE(vertexKeyCovers(&object.vertexKeys[4], 4));
    EXPECT_FALSE(vertexKeyCovers(nullptr, 0));

    // a second call changes nothing
    const VertexKey* before = object.vertexKeys;
    prepareObjects(scene);
    EXPECT_EQ(object.vertexKeys, before);
    EXPECT_EQ(object.vertexKeyCount, 6);
}

TEST(SceneVertexKeys, OtherEncodingsHaveNoBytesAndDecodeToZero) {
    sw::Mesh quad = sw::quadMesh(1, false);
    quad.encoding = 7;
    sw::Key mesh = sw::meshKey(0, quad);
    EXPECT_EQ(mesh.data.size(), 70u + 2 * 12);
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack("o", {mesh}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    prepareObjects(*loaded.scene);
    const VertexKey& entry = entryFor(*loaded.scene, 0, 0);
    ASSERT_EQ(entry.vertexCount, 4);
    EXPECT_EQ(entry.vertices[3].position[0], 0.0f);
    MeshBlock head;
    ASSERT_TRUE(readMeshBlock(loaded.scene->objects[0].track->keys[0], head));
    ObjectFace faces[2];
    ASSERT_EQ(readMeshFaces(loaded.scene->objects[0].track->keys[0], head, faces), 2);
    EXPECT_EQ(faces[1].indices[2], 3);
}

TEST(SceneMeshBlock, FacesWidenMissingNeighboursAndDropOutOfRangeIndices) {
    sw::Mesh mesh = sw::quadMesh(1, false);
    mesh.faces[0].neighbours[1] = 1;
    mesh.faces.push_back({0, 1, 4}); // index 4 of 4 vertices: dropped
    mesh.faces.push_back({3, 2, 1, {0, 0xFFFE, 0xFFFF}});
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack("o", {sw::meshKey(0, mesh)}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    const TrackKey& key = loaded.scene->objects[0].track->keys[0];
    MeshBlock head;
    ASSERT_TRUE(readMeshBlock(key, head));
    EXPECT_EQ(head.faceCount, 4);
    ObjectFace faces[4];
    ASSERT_EQ(readMeshFaces(key, head, faces), 3);
    EXPECT_EQ(faces[0].neighbours[0], -1);
    EXPECT_EQ(faces[0].neighbours[1], 1);
    EXPECT_EQ(faces[2].indices[0], 3);
    EXPECT_EQ(faces[2].neighbours[0], 0);
    EXPECT_EQ(faces[2].neighbours[1], 0xFFFE);
    EXPECT_EQ(faces[2].neighbours[2], -1);
}

TEST(SceneMeshBlock, HeadFieldsAndVertexBlockLengths) {
    sw::Mesh mesh = sw::triangleMesh(513);
    mesh.flipNormals = true;
    sw::Key key = sw::meshKey(0, mesh);
    TrackKey view;
    view.kind = KeyKind::Mesh;
    std::vector<uint8_t> storage(key.data);
    storage.resize(std::max<size_t>(storage.size(), kKeyDataMinBytes));
    view.data = storage.data();
    view.dataBytes = static_cast<int32_t>(key.data.size());
    MeshBlock head;
    ASSERT_TRUE(readMeshBlock(view, head));
    EXPECT_EQ(head.materialIndex, 513);
    EXPECT_TRUE(head.flipNormals);
    EXPECT_FALSE(head.hasUV);
    EXPECT_EQ(head.faceBlockOffset, 70 + 36);
    view.dataBytes -= 1;
    storage.resize(view.dataBytes);
    EXPECT_FALSE(readMeshBlock(view, head));
    EXPECT_EQ(vertexBlockBytes(0, 5, false), 60);
    EXPECT_EQ(vertexBlockBytes(0, 5, true), 100);
    EXPECT_EQ(vertexBlockBytes(1, 5, false), 39);
    EXPECT_EQ(vertexBlockBytes(1, 5, true), 65);
    EXPECT_EQ(vertexBlockBytes(2, 5, true), 0);
}

// ---- Materials ----

namespace {

struct MaterialResult {
    Material material;
    std::string log;
    bool ok = false;
};

MaterialResult buildMaterial(const sw::MaterialDesc& desc) {
    sw::Scene file;
    file.tracks.push_back(sw::materialTrack("m", desc));
    Loaded loaded = loadWritten(file);
    MaterialResult result;
    result.ok = loaded.ok;
    result.log = loaded.log;
    if (loaded.ok) {
        result.material = loaded.scene->materials[0];
        loaded.scene->materials[0].texture = nullptr; // the result keeps the reference
    }
    return result;
}

void writeTestPng(const char* name, uint8_t alpha) {
    std::vector<uint8_t> pixels(8 * 8 * 4, alpha);
    ASSERT_TRUE(writePngRgba(name, 8, 8, pixels.data()));
}

} // namespace

TEST(SceneMaterial, OpacityDecidesTransparencyAtPoint99) {
    sw::MaterialDesc desc;
    desc.opacity = 0.99f;
    EXPECT_FALSE(buildMaterial(desc).material.transparent);
    desc.opacity = 0.989f;
    EXPECT_TRUE(buildMaterial(desc).material.transparent);
    // AlphaTest alone does not make an untextured material transparent
    desc.opacity = 1.0f;
    desc.flags = AlphaTest | TwoSided | Additive | 0x100;
    MaterialResult r = buildMaterial(desc);
    EXPECT_FALSE(r.material.transparent);
    EXPECT_EQ(r.material.flags, 0x12Au);
}

TEST(SceneMaterial, UntexturedColoursSpecularAndEmission) {
    sw::MaterialDesc desc;
    desc.diffuse[0] = 0.5f;
    desc.diffuse[1] = 0.25f;
    desc.diffuse[2] = 1.0f;
    desc.ambient[0] = 0.125f;
    desc.specular[1] = 0.5f;
    desc.specularLevel = 0.999f;
    desc.shininess = 0.3f;
    desc.opacity = 0.5f;
    desc.selfIllumination = 0.5f;
    desc.secondMap = "bump.png";
    MaterialResult r = buildMaterial(desc);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.log.find("Specular: 99 Shininess: 30 \n"), std::string::npos);
    const Material& m = r.material;
    EXPECT_FALSE(m.textured);
    EXPECT_EQ(m.texture, nullptr);
    EXPECT_STREQ(m.secondMapName, "bump.png");
    EXPECT_EQ(m.diffuse[0], 0.5f);
    EXPECT_EQ(m.diffuse[3], 0.5f);
    EXPECT_EQ(m.ambient[0], 0.125f);
    EXPECT_EQ(m.ambient[3], 0.5f);
    EXPECT_EQ(m.specular[0], 1.0f * 0.999f);
    EXPECT_EQ(m.specular[1], 0.5f * 0.999f);
    EXPECT_EQ(m.specular[3], 1.0f);
    EXPECT_EQ(m.emission[0], 0.25f);
    EXPECT_EQ(m.emission[1], 0.125f);
    EXPECT_EQ(m.emission[2], 0.5f);
    EXPECT_EQ(m.emission[3], 0.25f);
    EXPECT_EQ(m.shininess, 0.3f);
}

TEST(SceneMaterial, TexturedMaterialTakesItsColourFromTheTexture) {
    if (!useTestGLContext()) GTEST_SKIP() << "no GL context";
    TempDir dir;
    writeTestPng("wood.png", 255);
    sw::MaterialDesc desc;
    desc.texture = "wood.png";
    desc.diffuse[0] = 0.1f;
    desc.selfIllumination = 0.7f;
    desc.opacity = 1.0f;
    desc.flags = AlphaTest;
    MaterialResult r = buildMaterial(desc);
    ASSERT_TRUE(r.ok);
    const Material& m = r.material;
    ASSERT_TRUE(m.textured);
    ASSERT_NE(m.texture, nullptr);
    EXPECT_TRUE(m.transparent); // AlphaTest on a textured material
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m.diffuse[i], 1.0f);
    EXPECT_EQ(m.diffuse[3], 1.0f);
    for (float e : m.emission)
        EXPECT_EQ(e, 0.0f);
    releaseTexture(m.texture);
}

TEST(SceneMaterial, MissingTextureLogsAnErrorAndStaysUsable) {
    TempDir dir;
    sw::MaterialDesc desc;
    desc.texture = "missing.png";
    desc.flags = AlphaTest;
    desc.selfIllumination = 1.0f;
    MaterialResult r = buildMaterial(desc);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.log.find("  Error. \n"), std::string::npos);
    EXPECT_FALSE(r.material.textured);
    EXPECT_FALSE(r.material.transparent); // AlphaTest needs a texture that loaded
    EXPECT_EQ(r.material.emission[0], 0.8f);
}

TEST(SceneMaterial, HugeFactorsLogWithoutUndefinedConversions) {
    sw::MaterialDesc desc;
    desc.specularLevel = 1e30f;
    desc.shininess = -0.015f;
    EXPECT_NE(buildMaterial(desc).log.find("Specular: -2147483648 Shininess: -1 \n"),
              std::string::npos);
}

// ---- Cameras ----

TEST(SceneCamera, SetCameraValidatesTheIndex) {
    sw::Scene file;
    const float eye[3] = {1, 2, 3}, target[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
        file.tracks.push_back(sw::cameraTrack("c", {sw::cameraLookAtKey(0, eye, target, 1)}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    Scene& scene = *loaded.scene;
    ConsoleCapture capture;
    setCamera(scene, 2);
    EXPECT_EQ(scene.currentCamera, 2);
    EXPECT_EQ(&activeCamera(scene), &scene.cameras[2]);
    setCamera(scene, -1);
    EXPECT_EQ(scene.currentCamera, -1);
    EXPECT_EQ(&activeCamera(scene), &scene.interactiveCamera);
    EXPECT_EQ(capture.text, "");
    setCamera(scene, 3);
    EXPECT_EQ(scene.currentCamera, -1);
    setCamera(scene, 1);
    setCamera(scene, -2);
    EXPECT_EQ(scene.currentCamera, -1);
    EXPECT_EQ(capture.text, "Wrong cam id 3, switching to interactive cam. \n"
                            "Wrong cam id -2, switching to interactive cam. \n");
}

TEST(SceneCamera, NewSceneDefaults) {
    ScenePtr scene(createScene());
    EXPECT_EQ(scene->currentCamera, -1);
    EXPECT_EQ(&activeCamera(*scene), &scene->interactiveCamera);
    const Camera& camera = scene->interactiveCamera;
    EXPECT_EQ(camera.fov, kDefaultCameraFov);
    EXPECT_EQ(camera.rotation[0], 1.0f);
    EXPECT_EQ(camera.rotation[4], 1.0f);
    EXPECT_EQ(camera.rotation[8], 1.0f);
    EXPECT_EQ(camera.track, nullptr);
    EXPECT_FALSE(scene->objectsPrepared);
    SceneObject object;
    EXPECT_EQ(object.materialIndex, 0xEFFF);
    EXPECT_EQ(object.bufferOffset, -1);
    EXPECT_TRUE(object.geometryDirty);
    EXPECT_EQ(object.time, -1.0f);
    ScenePtr empty(createScene());
    prepareObjects(*empty);
    EXPECT_TRUE(empty->objectsPrepared);
}

TEST(SceneBackground, ClearUsesTheBackgroundColour) {
    if (!useTestGLContext(16, 16)) GTEST_SKIP() << "no GL context";
    ScenePtr scene(createScene());
    scene->backgroundColor[0] = 1.0f;
    scene->backgroundColor[1] = 0.5f;
    scene->backgroundColor[2] = 0.0f;
    clearToBackground(*scene);
    unsigned char rgba[4];
    readTestPixel(3, 3, rgba);
    EXPECT_EQ(rgba[0], 255);
    EXPECT_NEAR(rgba[1], 128, 1);
    EXPECT_EQ(rgba[2], 0);
}
