// Scene file loader: layout, track dispatch, logging, gzip input and damaged files.
#include "scene_test_util.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <zlib.h>

using namespace scenetest;

namespace {

sw::Scene oneTriangleScene() {
    sw::Scene scene;
    scene.tracks.push_back(sw::objectTrack("tri", {sw::meshKey(0, sw::triangleMesh())}));
    scene.tracks.push_back(sw::materialTrack("mat", sw::MaterialDesc()));
    return scene;
}

// A scene that exercises every track type, both encodings, morphs and an unknown type.
sw::Scene richScene() {
    sw::Scene scene;
    sw::setStartEnd(scene, 0.5, 4.0);
    scene.background[0] = 0.25f;
    scene.ambient[2] = 0.5f;
    sw::Mesh quad = sw::quadMesh(2, true);
    quad.encoding = 1;
    std::vector<sw::Vertex> bent = quad.vertices;
    bent[2].z = 1;
    scene.tracks.push_back(
        sw::lightTrack("lamp", {sw::lightKey(0, std::array<float, 3>{1, 2, 3}.data(),
                                             std::array<float, 3>{1, 1, 1}.data(), 100)}));
    scene.tracks.push_back(sw::objectTrack(
        "quad", {sw::meshKey(0, quad), sw::morphKey(1, sw::Matrix12(), bent, true, 1),
                 sw::holdKey(2), sw::transformKey(3, sw::translation(1, 0, 0))}));
    sw::Track unknown = sw::objectTrack("unknown", {sw::meshKey(0, sw::triangleMesh())});
    unknown.type = 3;
    scene.tracks.push_back(unknown);
    const float eye[3] = {0, -10, 2}, target[3] = {0, 0, 0};
    scene.tracks.push_back(sw::cameraTrack("cam", {sw::cameraLookAtKey(0, eye, target, 1.0f)}));
    scene.tracks.push_back(sw::materialTrack("mat", sw::MaterialDesc()));
    scene.tracks.push_back(sw::objectTrack("tri", {sw::meshKey(0, sw::triangleMesh())}));
    return scene;
}

void expectSameTrack(const Track* a, const Track* b) {
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (!a) return;
    EXPECT_STREQ(a->name, b->name);
    EXPECT_EQ(a->type, b->type);
    ASSERT_EQ(a->keyCount, b->keyCount);
    for (int i = 0; i < a->keyCount; ++i) {
        EXPECT_EQ(a->keys[i].time, b->keys[i].time);
        EXPECT_EQ(a->keys[i].size, b->keys[i].size);
        EXPECT_EQ(a->keys[i].kind, b->keys[i].kind);
        ASSERT_EQ(a->keys[i].dataBytes, b->keys[i].dataBytes);
        if (a->keys[i].dataBytes > 0) {
            EXPECT_EQ(0, std::memcmp(a->keys[i].data, b->keys[i].data, a->keys[i].dataBytes));
        }
    }
}

void expectSameScene(const Scene& a, const Scene& b) {
    EXPECT_EQ(a.timeStart, b.timeStart);
    EXPECT_EQ(a.timeEnd, b.timeEnd);
    EXPECT_EQ(0, std::memcmp(a.backgroundColor, b.backgroundColor, sizeof a.backgroundColor));
    EXPECT_EQ(0, std::memcmp(a.ambientColor, b.ambientColor, sizeof a.ambientColor));
    ASSERT_EQ(a.objectCount, b.objectCount);
    ASSERT_EQ(a.cameraCount, b.cameraCount);
    ASSERT_EQ(a.lightCount, b.lightCount);
    ASSERT_EQ(a.materialCount, b.materialCount);
    for (int i = 0; i < a.objectCount; ++i)
        expectSameTrack(a.objects[i].track, b.objects[i].track);
    for (int i = 0; i < a.cameraCount; ++i)
        expectSameTrack(a.cameras[i].track, b.cameras[i].track);
    for (int i = 0; i < a.lightCount; ++i) {
        expectSameTrack(a.lights[i].track, b.lights[i].track);
        EXPECT_EQ(a.lights[i].glIndex, b.lights[i].glIndex);
    }
    EXPECT_EQ(a.currentCamera, b.currentCamera);
}

} // namespace

TEST(SceneFile, OneTriangleSceneIs886BytesAndLogsItsSummary) {
    const std::vector<uint8_t> bytes = sw::writeScene(oneTriangleScene());
    ASSERT_EQ(bytes.size(), 886u);
    Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.log, "Time starts at 0 \n"
                          "Time ends at 48000 \n"
                          "Specular: 0 Shininess: 10 \n"
                          "Scene has 1 objects, 0 lights, 0 cams 1 materials \n"
                          "Scene does not have an environment map! \n");
    const Scene& scene = *loaded.scene;
    EXPECT_EQ(scene.timeStart, 0.0f);
    EXPECT_EQ(scene.timeEnd, 10.0f);
    EXPECT_EQ(scene.duration, 10.0f);
    EXPECT_EQ(scene.currentCamera, -1);
    EXPECT_FALSE(scene.hasEnvMap);
    ASSERT_NE(scene.objects[0].track, nullptr);
    const TrackKey& key = scene.objects[0].track->keys[0];
    EXPECT_EQ(key.size, 119);
    EXPECT_EQ(key.kind, KeyKind::Mesh);
    EXPECT_EQ(key.dataBytes, 118);
}

TEST(SceneFile, HeaderTimesAreTicksInTheLogAndSecondsInMemory) {
    sw::Scene file;
    file.startTicks = -2400;
    file.endTicks = 12000;
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.log.substr(0, 40), "Time starts at -2400 \nTime ends at 12000");
    EXPECT_EQ(loaded.scene->timeStart, -0.5f);
    EXPECT_EQ(loaded.scene->timeEnd, 2.5f);
    EXPECT_EQ(loaded.scene->duration, 3.0f);
    EXPECT_EQ(loaded.scene->objectCount, 0);
    EXPECT_EQ(loaded.scene->objects, nullptr);
}

TEST(SceneFile, KeysOfSizeZeroAndOneAreNineBytesWithoutData) {
    sw::Scene file;
    sw::Key empty = sw::withSize(sw::rawKey(0.25, sw::kHold, {}), 0);
    sw::Key kindOnly = sw::rawKey(0.5, 9, {});
    file.tracks.push_back(sw::lightTrack("a", {empty, kindOnly}));
    file.tracks.push_back(sw::lightTrack("b", {sw::rawKey(1, sw::kTransform, {7, 7, 7})}));
    const std::vector<uint8_t> bytes = sw::writeScene(file);
    EXPECT_EQ(bytes.size(), 302u + 68 + 9 + 9 + 68 + 12);
    Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    const Track& a = *loaded.scene->lights[0].track;
    ASSERT_EQ(a.keyCount, 2);
    EXPECT_EQ(a.keys[0].size, 0);
    EXPECT_EQ(a.keys[0].data, nullptr);
    EXPECT_EQ(a.keys[0].time, 0.25f);
    EXPECT_EQ(a.keys[1].size, 1);
    EXPECT_EQ(a.keys[1].data, nullptr);
    EXPECT_EQ(static_cast<int>(a.keys[1].kind), 9); // unknown kinds are kept as they are
    const Track& b = *loaded.scene->lights[1].track;
    ASSERT_EQ(b.keys[0].dataBytes, 3);
    EXPECT_EQ(b.keys[0].data[2], 7);
    // short blocks read as zeros past their end
    float floats[2] = {5, 5};
    readKeyFloats(b.keys[0], 0, floats, 2);
    EXPECT_EQ(floats[1], 0.0f);
}

TEST(SceneFile, TracksDispatchByTypeWithOneRunningIndexPerType) {
    sw::Scene file;
    const float p[3] = {0, 0, 0}, c[3] = {1, 1, 1};
    file.tracks.push_back(sw::lightTrack("light0", {sw::lightKey(0, p, c, 0)}));
    file.tracks.push_back(sw::objectTrack("object0", {sw::meshKey(0, sw::triangleMesh())}));
    sw::Track skipped = sw::objectTrack(
        "type7", {sw::meshKey(0, sw::triangleMesh()), sw::rawKey(1, 3, {1, 2, 3, 4})});
    skipped.type = 7;
    file.tracks.push_back(skipped);
    file.tracks.push_back(sw::lightTrack("light1", {sw::lightKey(0, p, c, 0)}));
    sw::MaterialDesc glow;
    glow.specularLevel = 0.5f;
    glow.shininess = 0.25f;
    file.tracks.push_back(sw::materialTrack("material0", glow));
    skipped.type = 3;
    file.tracks.push_back(skipped);
    file.tracks.push_back(sw::objectTrack("object1", {sw::meshKey(0, sw::triangleMesh())}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok) << loaded.log;
    const Scene& scene = *loaded.scene;
    ASSERT_EQ(scene.lightCount, 2);
    EXPECT_STREQ(scene.lights[0].track->name, "light0");
    EXPECT_EQ(scene.lights[0].glIndex, 0);
    EXPECT_STREQ(scene.lights[1].track->name, "light1");
    EXPECT_EQ(scene.lights[1].glIndex, 1);
    ASSERT_EQ(scene.objectCount, 2);
    EXPECT_STREQ(scene.objects[0].track->name, "object0");
    EXPECT_STREQ(scene.objects[1].track->name, "object1");
    EXPECT_EQ(scene.materials[0].specularLevel, 0.5f);
    EXPECT_NE(loaded.log.find("Specular: 50 Shininess: 25 \n"), std::string::npos);
    EXPECT_EQ(loaded.log.find("Dropped"), std::string::npos);
}

TEST(SceneFile, TrackNamesKeepAtMost63Characters) {
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack(std::string(64, 'n'), {}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(std::string(loaded.scene->objects[0].track->name), std::string(63, 'n'));
    EXPECT_EQ(loaded.scene->objects[0].track->keys, nullptr);
}

TEST(SceneFile, CamerasSelectTheFirstOneSilently) {
    sw::Scene file;
    const float eye[3] = {0, -5, 0}, target[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
        file.tracks.push_back(sw::cameraTrack("cam", {sw::cameraLookAtKey(0, eye, target, 1)}));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.scene->currentCamera, 0);
    EXPECT_EQ(loaded.log.find("Wrong cam"), std::string::npos);
    EXPECT_NE(loaded.log.find("Scene has 0 objects, 0 lights, 3 cams 0 materials \n"),
              std::string::npos);
    // a camera that no key has set yet looks through a field of view in radians
    EXPECT_EQ(loaded.scene->cameras[1].fov, kDefaultCameraFov);
}

TEST(SceneFile, FewerTracksThanCountedLeaveElementsEmpty) {
    sw::Scene file = oneTriangleScene();
    file.objectCount = 3;
    file.lightCount = 2;
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok);
    EXPECT_NE(loaded.scene->objects[0].track, nullptr);
    EXPECT_EQ(loaded.scene->objects[2].track, nullptr);
    EXPECT_EQ(loaded.scene->lights[1].track, nullptr);
}

TEST(SceneFile, GzipCompressedScenesLoadIdentically) {
    const std::vector<uint8_t> plain = sw::writeScene(richScene());
    Loaded fromPlain = loadBytes(plain);
    ASSERT_TRUE(fromPlain.ok) << fromPlain.log;
    Loaded fromGzipMemory = loadBytes(sw::gzipBytes(plain));
    ASSERT_TRUE(fromGzipMemory.ok) << fromGzipMemory.log;
    expectSameScene(*fromPlain.scene, *fromGzipMemory.scene);
    EXPECT_EQ(fromPlain.log, fromGzipMemory.log);

    // And through the gzip file reader, plain and compressed.
    TempDir dir;
    for (bool gzip : {false, true}) {
        ASSERT_TRUE(sw::writeSceneFile("rich.q3d", richScene(), gzip));
        gzFile stream = gzopen("rich.q3d", "rb");
        ASSERT_NE(stream, nullptr);
        ScenePtr scene(createScene());
        ConsoleCapture capture;
        ASSERT_TRUE(loadScene(*scene, stream));
        gzclose(stream);
        expectSameScene(*fromPlain.scene, *scene);
        EXPECT_EQ(capture.text, fromPlain.log);
    }
}

TEST(SceneFile, NoStreamFailsSilently) {
    ScenePtr scene(createScene());
    ConsoleCapture capture;
    EXPECT_FALSE(loadScene(*scene, nullptr));
    EXPECT_EQ(capture.text, "");
}

// ---- Damaged files: each is refused with one line naming the fault, or repaired as noted ----

TEST(SceneFileDamage, EveryTruncationFailsWithOneErrorLine) {
    const std::vector<uint8_t> bytes = sw::writeScene(richScene());
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        Loaded loaded = loadBytes(cut);
        EXPECT_FALSE(loaded.ok) << "length " << length;
        EXPECT_EQ(countOccurrences(loaded.log, "Error:"), 1) << "length " << length;
        EXPECT_EQ(loaded.log.find("Scene has"), std::string::npos);
    }
    // the same through a gzip stream cut in the middle of its compressed bytes
    const std::vector<uint8_t> packed = sw::gzipBytes(bytes);
    std::vector<uint8_t> cut(packed.begin(), packed.begin() + packed.size() / 2);
    Loaded loaded = loadBytes(cut);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(countOccurrences(loaded.log, "Error:"), 1);
}

TEST(SceneFileDamage, TruncatedFileThroughTheGzipReader) {
    std::vector<uint8_t> bytes = sw::writeScene(richScene());
    bytes.resize(bytes.size() - 5);
    TempDir dir;
    for (bool gzip : {false, true}) {
        ASSERT_TRUE(sw::writeBytesFile("cut.q3d", gzip ? sw::gzipBytes(bytes) : bytes));
        gzFile stream = gzopen("cut.q3d", "rb");
        ScenePtr scene(createScene());
        ConsoleCapture capture;
        EXPECT_FALSE(loadScene(*scene, stream));
        gzclose(stream);
        EXPECT_NE(capture.text.find("Error: scene file ends inside track 5 of 6. \n"),
                  std::string::npos)
            << capture.text;
    }
}

TEST(SceneFileDamage, CorruptGzipDataIsReportedAsSuch) {
    std::vector<uint8_t> packed = sw::gzipBytes(sw::writeScene(richScene()));
    for (size_t i = 20; i < 40 && i < packed.size(); ++i)
        packed[i] ^= 0x5a;
    Loaded loaded = loadBytes(packed);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(countOccurrences(loaded.log, "Error:"), 1) << loaded.log;
}

TEST(SceneFileDamage, KeySizesNegativeOrBeyondTheStream) {
    for (int32_t size : {-1, -2147483647 - 1}) {
        sw::Scene file;
        file.tracks.push_back(
            sw::objectTrack("o", {sw::withSize(sw::transformKey(0, sw::Matrix12()), size)}));
        Loaded loaded = loadWritten(file);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")),
                  "Error: scene file has a key of negative size in track 0. \n");
    }
    for (int32_t size : {50, 2000000}) {
        sw::Scene file;
        file.tracks.push_back(
            sw::objectTrack("o", {sw::withSize(sw::transformKey(0, sw::Matrix12()), size)}));
        Loaded loaded = loadWritten(file);
        EXPECT_FALSE(loaded.ok) << size;
        EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")),
                  "Error: scene file ends inside track 0 of 1. \n");
    }
}

TEST(SceneFileDamage, KeyCountBeyondTheKeysPresent) {
    sw::Scene file = oneTriangleScene();
    file.tracks[0].keyCountOverride = 40000;
    file.tracks.pop_back();
    Loaded loaded = loadWritten(file);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(countOccurrences(loaded.log, "Error:"), 1);
}

TEST(SceneFileDamage, SurplusTracksOfATypeAreDroppedWithOneLine) {
    sw::Scene file = richScene();
    file.objectCount = 1;
    file.materialCount = 0;
    file.lightCount = 0;
    file.tracks.push_back(sw::materialTrack("extra", sw::MaterialDesc()));
    Loaded loaded = loadWritten(file);
    ASSERT_TRUE(loaded.ok) << loaded.log;
    EXPECT_EQ(countOccurrences(loaded.log, "Dropped 4 tracks beyond the header's counts. \n"), 1);
    EXPECT_EQ(loaded.log.find("Specular"), std::string::npos); // dropped materials load nothing
    EXPECT_STREQ(loaded.scene->objects[0].track->name, "quad");
    EXPECT_EQ(loaded.scene->lights, nullptr);
}

TEST(SceneFileDamage, MaterialTrackWithoutAFullKeyZeroIsRefused) {
    for (int variant = 0; variant < 3; ++variant) {
        sw::Scene file = oneTriangleScene();
        sw::Track& material = file.tracks[1];
        if (variant == 0) material.keys.clear();
        if (variant == 1) material.keys[0].data.resize(311);
        if (variant == 2) material.keys[0] = sw::rawKey(0, sw::kTransform, {});
        Loaded loaded = loadWritten(file);
        EXPECT_FALSE(loaded.ok) << variant;
        EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")),
                  "Error: material track 1 has no key 0 with a 312-byte block. \n");
    }
    // a longer block is fine: only the first 312 bytes are read
    sw::Scene file = oneTriangleScene();
    file.tracks[1].keys[0].data.resize(400, 0xAB);
    EXPECT_TRUE(loadWritten(file).ok);
}

TEST(SceneFileDamage, MeshAndMorphBlocksShorterThanTheirCountsAreRefused) {
    sw::Mesh quad = sw::quadMesh(1, true);
    for (int variant = 0; variant < 4; ++variant) {
        sw::Scene file;
        sw::Key mesh = sw::meshKey(0, quad);
        sw::Key morph = sw::morphKey(1, sw::Matrix12(), quad.vertices, true, 0);
        if (variant == 0) mesh.data.pop_back();               // face block cut
        if (variant == 1) mesh.data[65] = 200;                // vertex count beyond the block
        if (variant == 2) morph.data.resize(49 + 4 * 20 - 1); // morph one byte short
        if (variant == 3) {                                   // quantised morph without its planes
            morph = sw::morphKey(1, sw::Matrix12(), quad.vertices, true, 1);
            morph.data.resize(49 + 40 + 5 * 4 - 1);
        }
        file.tracks.push_back(sw::objectTrack("o", {mesh, morph}));
        Loaded loaded = loadWritten(file);
        EXPECT_FALSE(loaded.ok) << variant;
        EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")),
                  "Error: key " + std::to_string(variant < 2 ? 0 : 1) +
                      " of track 0 is shorter than its vertex and face counts. \n")
            << variant;
    }
}

TEST(SceneFileDamage, OversizedEnvironmentNameIsCutAtTheField) {
    std::vector<uint8_t> bytes = sw::writeScene(oneTriangleScene());
    std::memset(bytes.data() + 42, 'x', 260); // no terminator inside the field
    TempDir dir;
    Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(std::strlen(loaded.scene->envMapName), 259u);
    EXPECT_FALSE(loaded.scene->hasEnvMap);
}

TEST(SceneFile, LargeAndSmallKeyBlocksKeepTheirBytes) {
    // blocks above and below the size that shares storage, interleaved
    sw::Mesh big = sw::gridMesh(60, 10.0f);
    std::vector<sw::Key> keys = {sw::meshKey(0, big)};
    for (int i = 1; i < 40; ++i) {
        keys.push_back(sw::transformKey(0.1 * i, sw::translation(float(i), 0, 0)));
        if (i % 10 == 0) keys.push_back(sw::morphKey(0.1 * i, sw::Matrix12(), big.vertices, true));
    }
    sw::Scene file;
    file.tracks.push_back(sw::objectTrack("big", keys));
    const std::vector<uint8_t> bytes = sw::writeScene(file);
    Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok) << loaded.log;
    const Track& track = *loaded.scene->objects[0].track;
    ASSERT_EQ(track.keyCount, int(keys.size()));
    for (int i = 0; i < track.keyCount; ++i) {
        ASSERT_EQ(track.keys[i].dataBytes, int(keys[size_t(i)].data.size()));
        EXPECT_EQ(0, std::memcmp(track.keys[i].data, keys[size_t(i)].data.data(),
                                 keys[size_t(i)].data.size()))
            << i;
    }
    EXPECT_GT(track.keys[0].dataBytes, 64 * 1024);
    // cut inside the first large block, and inside a later one
    for (size_t cut : {size_t(302 + 68 + 9 + 70000), bytes.size() - 100}) {
        Loaded partial = loadBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        EXPECT_FALSE(partial.ok);
        EXPECT_EQ(countOccurrences(partial.log, "Error: scene file ends inside track 0 of 1."), 1);
    }
}

// ---- The scene budget: what a file may make the loader read and build ----

TEST(SceneFileBudget, AnnouncedBytesPastTheBudgetAreRefusedBeforeAnyRead) {
    const std::string budgetLine =
        "Error: scene file needs more than the 1024 MB scene budget (track 1). \n";
    // (type of the big track, announced key size, expected end of the log)
    struct Row {
        uint8_t type;
        int32_t size;
        std::string error;
    };
    const std::vector<Row> rows = {
        // read past (unknown type) or stored (object): the file simply ends early
        {3, 512 << 20, "Error: scene file ends inside track 1 of 2. \n"},
        {sw::kObjectTrack, 512 << 20, "Error: scene file ends inside track 1 of 2. \n"},
        // the bomb's 2 GB keys, stored or not
        {3, 0x7fffffff, budgetLine},
        {sw::kObjectTrack, 0x7fffffff, budgetLine},
        {sw::kMaterialTrack, int32_t(kSceneBudgetBytes), budgetLine},
    };
    for (const Row& row : rows) {
        sw::Scene file = oneTriangleScene();
        sw::Track big;
        big.type = row.type;
        big.keys = {sw::withSize(sw::holdKey(0), row.size)};
        file.tracks.insert(file.tracks.begin() + 1, big);
        file.objectCount = 2;
        file.materialCount = 2;
        file.tracks.pop_back(); // ends right after the big key's head
        Loaded loaded = loadWritten(file);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")), row.error)
            << int(row.type) << " " << row.size;
    }
}

TEST(SceneFileBudget, DecodedVerticesCountAgainstTheBudget) {
    // Morph keys of an encoding without bytes inherit 65535 vertices: 58 bytes in the file,
    // 1.5 MB each once decoded. About 680 of them fill the budget.
    sw::Mesh big;
    big.vertices.resize(65535);
    std::vector<uint8_t> morph(49, 0);
    morph[48] = 7;
    for (int count : {600, 700}) {
        std::vector<sw::Key> keys = {sw::meshKey(0, big)};
        keys.resize(size_t(count) + 1, sw::rawKey(0.5, sw::kMorph, morph));
        sw::Scene file;
        file.tracks.push_back(sw::objectTrack("many", keys));
        Loaded loaded = loadWritten(file);
        EXPECT_EQ(loaded.ok, count == 600) << count;
        if (count == 700) {
            EXPECT_EQ(loaded.log.substr(loaded.log.find("Error:")),
                      "Error: scene file needs more than the 1024 MB scene budget (track 0). \n");
        }
    }
}

namespace {

// Loads bytes from memory or, written to a file, through the gzip file reader.
bool loadWithOptions(Scene& scene, const std::vector<uint8_t>& bytes, bool fromFile,
                     const SceneLoadOptions& options) {
    if (!fromFile) return loadSceneFromMemory(scene, bytes.data(), bytes.size(), options);
    FILE* out = std::fopen("options.q3d", "wb");
    if (!out) return false;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    gzFile stream = gzopen("options.q3d", "rb");
    const bool ok = loadScene(scene, stream, options);
    if (stream) gzclose(stream);
    return ok;
}

} // namespace

// Each part of what a file costs, alone: a scene needing exactly that many bytes loads within
// that budget and is refused one byte below it. The memory parts are the records the loader
// builds (header lists, track and key records, the padding of short key data, decoded vertices).
TEST(SceneFileBudget, EveryPartOfTheCostCountsOnItsOwn) {
    constexpr int64_t kHeader = 302, kTrackHead = 68 + int64_t(sizeof(Track));
    constexpr int64_t kKey = 9 + int64_t(sizeof(TrackKey));
    auto only = [](sw::Track track) {
        sw::Scene scene;
        scene.tracks.push_back(track);
        return scene;
    };
    auto counts = [](int objects, int cameras, int lights, int materials) {
        sw::Scene scene;
        scene.objectCount = objects;
        scene.cameraCount = cameras;
        scene.lightCount = lights;
        scene.materialCount = materials;
        return scene;
    };
    sw::Track unknown = sw::objectTrack("unknown", {});
    unknown.type = 3;
    sw::Track skipped = unknown;
    skipped.keys = {sw::rawKey(0, sw::kHold, std::vector<uint8_t>(100, 0))};
    sw::Track material = sw::materialTrack("mat", sw::MaterialDesc());
    material.keys.push_back(sw::rawKey(1, sw::kHold, std::vector<uint8_t>(40, 0)));
    const sw::Key triangle = sw::meshKey(0, sw::triangleMesh());
    const int64_t triangleBytes = int64_t(triangle.data.size());
    ASSERT_GT(triangleBytes, kKeyDataMinBytes);
    const struct {
        const char* part;
        sw::Scene scene;
        int64_t bytes;
    } rows[] = {
        {"header", counts(0, 0, 0, 0), kHeader},
        {"objects", counts(3, 0, 0, 0), kHeader + 3 * int64_t(sizeof(SceneObject))},
        {"cameras", counts(0, 3, 0, 0), kHeader + 3 * int64_t(sizeof(Camera))},
        {"lights", counts(0, 0, 3, 0), kHeader + 3 * int64_t(sizeof(Light))},
        {"materials", counts(0, 0, 0, 3), kHeader + 3 * int64_t(sizeof(Material))},
        {"track head", only(unknown), kHeader + kTrackHead},
        {"key read past", only(skipped), kHeader + kTrackHead + 9 + 100},
        {"short key, padded",
         only(sw::objectTrack("o", {sw::rawKey(0, sw::kHold, std::vector<uint8_t>(10, 0))})),
         kHeader + int64_t(sizeof(SceneObject)) + kTrackHead + kKey + kKeyDataMinBytes},
        {"long key",
         only(sw::objectTrack("o", {sw::rawKey(0, sw::kHold, std::vector<uint8_t>(100, 0))})),
         kHeader + int64_t(sizeof(SceneObject)) + kTrackHead + kKey + 100},
        {"material: first key kept, the rest read past", only(material),
         kHeader + int64_t(sizeof(Material)) + kTrackHead + kKey + kMaterialBlockBytes + 9 + 40},
        {"decoded vertices", only(sw::objectTrack("o", {triangle})),
         kHeader + int64_t(sizeof(SceneObject)) + kTrackHead + kKey + triangleBytes +
             int64_t(sizeof(VertexKey)) + 3 * int64_t(sizeof(KeyVertex))},
    };
    for (const auto& row : rows) {
        const std::vector<uint8_t> bytes = sw::writeScene(row.scene);
        for (int64_t budget : {row.bytes, row.bytes - 1}) {
            ScenePtr scene(createScene());
            ConsoleCapture capture;
            EXPECT_EQ(loadSceneFromMemory(*scene, bytes.data(), bytes.size(), {budget, false}),
                      budget == row.bytes)
                << row.part << ", budget " << budget << "\n"
                << capture.text;
            if (budget < row.bytes) {
                EXPECT_NE(capture.text.find("MB scene budget"), std::string::npos) << row.part;
            }
        }
    }
}

TEST(SceneFileBudget, SmallBudgetsAndNoImagesFromMemoryAndFiles) {
    TempDir dir;
    sw::Scene empty;
    const std::vector<uint8_t> bytes = sw::writeScene(empty);
    sw::Scene textured = oneTriangleScene();
    sw::MaterialDesc leaf;
    leaf.texture = "leaf.png";
    textured.tracks[1] = sw::materialTrack("mat", leaf);
    const std::vector<uint8_t> file = sw::writeScene(textured);
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        // The 302-byte header alone fits a budget of 302 bytes and not one byte less.
        for (int64_t budget : {int64_t(302), int64_t(301)}) {
            ScenePtr scene(createScene());
            ConsoleCapture capture;
            EXPECT_EQ(loadWithOptions(*scene, bytes, fromFile, {budget, true}), budget == 302);
            if (budget == 301) {
                EXPECT_NE(capture.text.find("Error: scene file needs more than the 0 MB scene "
                                            "budget (header). \n"),
                          std::string::npos);
            }
        }
        // Without images a textured material loads untextured, with no lookup and no message
        // box (leaf.png does not exist: a lookup would say so).
        ScenePtr scene(createScene());
        ConsoleCapture capture;
        ASSERT_TRUE(loadWithOptions(*scene, file, fromFile, {kSceneBudgetBytes, false}));
        EXPECT_FALSE(scene->materials[0].textured);
        EXPECT_EQ(capture.text.find("leaf.png"), std::string::npos);
    }
}
