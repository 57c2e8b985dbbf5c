// The importer in-process: a writer scene sent through Assimp's glTF exporter comes back with
// the same geometry and keys; large meshes split without losing faces; picture names stay bare,
// short and distinct; texture references never reach outside the model's folder. Cameras look
// where their source says, budgets refuse before the parse, and the result survives the trip
// out of the parsing process byte for byte.
#include "image/png_writer.h"
#include "scene/object_update.h"
#include "scene/scene_test_util.h"
#include "import/materials.h"
#include "import/scene_import.h"

#include <assimp/Exporter.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace scenetest;

// One corner: world position and texture coordinates as the engine holds them.
using Corner = std::array<float, 5>;
using Triangle = std::array<Corner, 3>;

// Orders corners on a 1/1024 grid, so float noise (cos 90 degrees is not 0) cannot reorder
// corners that are equal within the test's tolerance.
bool cornerBefore(const Corner& a, const Corner& b) {
    for (int k = 0; k < 5; ++k) {
        const long qa = std::lround(a[k] * 1024.0f), qb = std::lround(b[k] * 1024.0f);
        if (qa != qb) return qa < qb;
    }
    return false;
}

// Every drawn triangle of the scene at t in world space, each rotated to start at its smallest
// corner (winding kept) and the list sorted, so vertex and object order do not matter.
std::vector<Triangle> worldTriangles(Scene& scene, float t) {
    prepareObjects(scene);
    std::vector<Triangle> out;
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        SceneObject& o = scene.objects[i];
        updateObject(o, t, true);
        const float* m = o.transform;
        for (int32_t f = 0; f < o.faceCount; ++f) {
            Triangle tri;
            for (int c = 0; c < 3; ++c) {
                const ObjectVertex& v = o.vertices[o.faces[f].indices[c]];
                const float* p = v.position;
                for (int k = 0; k < 3; ++k)
                    tri[c][k] = m[k] * p[0] + m[3 + k] * p[1] + m[6 + k] * p[2] + m[9 + k];
                tri[c][3] = v.texCoord[0];
                tri[c][4] = v.texCoord[1];
            }
            std::rotate(tri.begin(), std::min_element(tri.begin(), tri.end(), cornerBefore),
                        tri.end());
            out.push_back(tri);
        }
    }
    std::sort(out.begin(), out.end(), [](const Triangle& a, const Triangle& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), cornerBefore);
    });
    return out;
}

void expectSameTriangles(const std::vector<Triangle>& a, const std::vector<Triangle>& b,
                         float tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 5; ++k)
                ASSERT_NEAR(a[i][c][k], b[i][c][k], tolerance)
                    << "triangle " << i << " corner " << c << " value " << k;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A moving box: keys at 0, 0.5 and 1 s turning about Z, moving and growing.
struct Pose {
    double seconds;
    float x, y, z, angle, scale;
};
const Pose kPoses[] = {
    {0.0, 0, 0, 0, 0, 1}, {0.5, 2, 1, -1, 0.7853982f, 1.5f}, {1.0, 4, 0, 2, 1.5707964f, 0.5f}};

// The same box as an Assimp scene: one node under the root, a TRS channel per pose.
aiScene* assimpBox(const sw::Mesh& box) {
    auto* scene = new aiScene();
    scene->mRootNode = new aiNode("root");
    auto* node = new aiNode("box");
    node->mParent = scene->mRootNode;
    node->mNumMeshes = 1;
    node->mMeshes = new unsigned[1]{0};
    scene->mRootNode->mNumChildren = 1;
    scene->mRootNode->mChildren = new aiNode* [1] { node };

    auto* mesh = new aiMesh();
    mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    mesh->mNumVertices = unsigned(box.vertices.size());
    mesh->mVertices = new aiVector3D[mesh->mNumVertices];
    mesh->mTextureCoords[0] = new aiVector3D[mesh->mNumVertices];
    mesh->mNumUVComponents[0] = 2;
    for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
        const sw::Vertex& v = box.vertices[i];
        mesh->mVertices[i] = aiVector3D(v.x, v.y, v.z);
        mesh->mTextureCoords[0][i] = aiVector3D(v.u, v.v, 0);
    }
    mesh->mNumFaces = unsigned(box.faces.size());
    mesh->mFaces = new aiFace[mesh->mNumFaces];
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        mesh->mFaces[f].mNumIndices = 3;
        mesh->mFaces[f].mIndices = new unsigned[3]{box.faces[f].a, box.faces[f].b, box.faces[f].c};
    }
    scene->mNumMeshes = 1;
    scene->mMeshes = new aiMesh* [1] { mesh };
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { new aiMaterial() };
    const aiColor4D grey(0.5f, 0.5f, 0.5f, 1.0f);
    scene->mMaterials[0]->AddProperty(&grey, 1, AI_MATKEY_COLOR_DIFFUSE);

    auto* channel = new aiNodeAnim();
    channel->mNodeName = aiString("box");
    const unsigned n = unsigned(std::size(kPoses));
    channel->mNumPositionKeys = channel->mNumRotationKeys = channel->mNumScalingKeys = n;
    channel->mPositionKeys = new aiVectorKey[n];
    channel->mRotationKeys = new aiQuatKey[n];
    channel->mScalingKeys = new aiVectorKey[n];
    for (unsigned i = 0; i < n; ++i) {
        const Pose& p = kPoses[i];
        channel->mPositionKeys[i] = aiVectorKey(p.seconds, aiVector3D(p.x, p.y, p.z));
        channel->mRotationKeys[i] =
            aiQuatKey(p.seconds, aiQuaternion(aiVector3D(0, 0, 1), p.angle));
        channel->mScalingKeys[i] = aiVectorKey(p.seconds, aiVector3D(p.scale));
    }
    auto* animation = new aiAnimation();
    animation->mDuration = 1.0;
    animation->mTicksPerSecond = 1.0;
    animation->mNumChannels = 1;
    animation->mChannels = new aiNodeAnim* [1] { channel };
    scene->mNumAnimations = 1;
    scene->mAnimations = new aiAnimation* [1] { animation };
    return scene;
}

TEST(Import, WriterSceneThroughAssimpsGltfExporterComesBackWithTheSameGeometryAndKeys) {
    TempDir dir;
    const sw::Mesh box = sw::boxMesh(1.0f, 2.0f, 0.5f);
    sw::Scene original;
    std::vector<sw::Key> keys;
    for (const Pose& p : kPoses) {
        sw::Mesh posed = box;
        posed.transform = sw::placement(p.x, p.y, p.z, p.angle, p.scale);
        keys.push_back(p.seconds == 0 ? sw::meshKey(0, posed)
                                      : sw::transformKey(p.seconds, posed.transform));
    }
    original.tracks = {sw::objectTrack("box", keys), sw::materialTrack("grey", {})};
    sw::setStartEnd(original, 0, 1);

    std::unique_ptr<aiScene> exported(assimpBox(box));
    Assimp::Exporter exporter;
    ASSERT_EQ(exporter.Export(exported.get(), "gltf2", (dir.path / "box.gltf").string()),
              aiReturn_SUCCESS)
        << exporter.GetErrorString();

    sceneimport::ImportOptions options;
    options.fps = 2; // samples land on the source's keys
    sceneimport::ImportResult result;
    ASSERT_TRUE(sceneimport::importFile((dir.path / "box.gltf").string(), options, result))
        << result.error;
    EXPECT_EQ(result.objects, 1);
    ASSERT_EQ(result.scene.tracks[0].keys.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(result.scene.tracks[0].keys[i].ticks, sw::secondsToTicks(kPoses[i].seconds));
    EXPECT_EQ(result.scene.endTicks, 4800);

    Loaded before = loadWritten(original);
    Loaded after = loadWritten(result.scene);
    ASSERT_TRUE(before.ok && after.ok);
    for (float t : {0.0f, 0.25f, 0.5f, 0.8f, 1.0f}) {
        SCOPED_TRACE(t);
        expectSameTriangles(worldTriangles(*before.scene, t), worldTriangles(*after.scene, t),
                            1e-4f);
    }
}

// A flat grid of (cells+1)^2 vertices as OBJ text.
std::string gridObj(int cells) {
    std::string text;
    char line[96];
    for (int y = 0; y <= cells; ++y)
        for (int x = 0; x <= cells; ++x) {
            std::snprintf(line, sizeof line, "v %d %d 0\nvt %g %g\n", x, y, double(x) / cells,
                          double(y) / cells);
            text += line;
        }
    for (int y = 0; y < cells; ++y)
        for (int x = 0; x < cells; ++x) {
            const int a = y * (cells + 1) + x + 1, b = a + 1, c = a + cells + 1, d = c + 1;
            std::snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b,
                          b, d, d, a, a, d, d, c, c);
            text += line;
        }
    return text;
}

TEST(Import, MeshOverTheFormatsCountsSplitsIntoObjectsThatKeepEveryFace) {
    const int cells = 300; // 90601 vertices, 180000 faces
    const std::string obj = gridObj(cells);
    sceneimport::ImportResult result;
    ASSERT_TRUE(sceneimport::importMemory(reinterpret_cast<const uint8_t*>(obj.data()), obj.size(),
                                          "obj", {}, result))
        << result.error;
    ASSERT_GE(result.objects, 3); // 180000 faces need three objects of at most 64000
    size_t faces = 0;
    for (int i = 0; i < result.objects; ++i) {
        const sw::Track& track = result.scene.tracks[size_t(i)];
        ASSERT_EQ(track.type, sw::kObjectTrack);
        const std::vector<uint8_t>& block = track.keys[0].data;
        const uint16_t vertices = uint16_t(block[65] | block[66] << 8);
        const uint16_t count = uint16_t(block[67] | block[68] << 8);
        EXPECT_LE(count, sceneimport::kMaxObjectFaces);
        EXPECT_GT(vertices, 0);
        faces += count;
    }
    EXPECT_EQ(faces, size_t(2 * cells * cells));
    bool noted = false;
    for (const std::string& note : result.notes)
        noted = noted || note.find("split into") != std::string::npos;
    EXPECT_TRUE(noted);

    Loaded loaded = loadWritten(result.scene);
    ASSERT_TRUE(loaded.ok);
    double area = 0;
    for (const Triangle& t : worldTriangles(*loaded.scene, 0)) {
        const float ux = t[1][0] - t[0][0], uy = t[1][1] - t[0][1];
        const float vx = t[2][0] - t[0][0], vy = t[2][1] - t[0][1];
        area += 0.5 * (double(ux) * vy - double(uy) * vx);
    }
    EXPECT_NEAR(area, double(cells) * cells, 1e-3) << "every cell covered once, winding kept";
}

// Each case: an OBJ whose materials m0, m1, ... reference the given textures.
struct TextureCase {
    const char* what;
    std::vector<std::string> references; // map_Kd of m0, m1, ...
    std::vector<std::string> expected;   // picture name per material; "" = left out
    const char* noteContains;
};

// A 2x2 PNG as bytes; red tells the files apart.
std::string tinyPng(uint8_t red) {
    const uint8_t pixels[16] = {red, 0, 0, 255, red, 0, 0, 255, red, 0, 0, 255, red, 0, 0, 255};
    const fs::path path = fs::temp_directory_path() / "quilm_import_tiny.png";
    EXPECT_TRUE(writePngRgba(path.string().c_str(), 2, 2, pixels));
    const std::string bytes = slurp(path);
    fs::remove(path);
    return bytes;
}

// The picture name the importer's report gives material name, "" when untextured.
std::string textureOf(const sceneimport::ImportResult& result, const std::string& material) {
    for (const std::string& line : result.lines) {
        if (line.find("'" + material + "'") == std::string::npos) continue;
        const size_t at = line.find(", texture ");
        if (at == std::string::npos) return "";
        const size_t start = at + 10;
        return line.substr(start, line.find(',', start) - start);
    }
    return "?";
}

std::set<std::string> filesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).generic_string());
    return names;
}

TEST(Import, TexturesGetBareDistinctNamesAndReferencesNeverLeaveTheModelsFolder) {
    const std::string stem = std::string(200, 'y');
    const std::string cut =
        std::string(sceneimport::kTextureNameChars - 4 - 7, 'y') + ".png"; // room for "_999999"
    const TextureCase cases[] = {
        {"one bare name in two folders",
         {"a/wood.png", "b/wood.png"},
         {"wood.png", "wood_2.png"},
         nullptr},
        {"names differing in case only",
         {"Wood.png", "wood.PNG"},
         {"Wood.png", "wood_2.png"},
         nullptr},
        {"one file for two materials",
         {"a/wood.png", "a/wood.png"},
         {"wood.png", "wood.png"},
         nullptr},
        {"missing file", {"missing.png"}, {""}, "the file is missing"},
        {"absolute path, found by its bare name", {"/nowhere/abs.png"}, {"abs.png"}, nullptr},
        {"climbs out of the folder", {"../secret.png"}, {""}, "outside the model's folder"},
        {"absurdly long", {std::string(1000, 'x') + ".png"}, {""}, "characters long"},
        {"longer than the field", {stem + ".png"}, {cut}, nullptr},
        {"not a picture", {"notes.png"}, {""}, "not a picture"},
    };
    for (const TextureCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir root;
        const fs::path model = root.path / "model", out = root.path / "out";
        fs::create_directories(model / "a");
        fs::create_directories(model / "b");
        fs::create_directories(out);
        spit(model / "a" / "wood.png", tinyPng(10));
        spit(model / "b" / "wood.png", tinyPng(20));
        spit(model / "Wood.png", tinyPng(30));
        spit(model / "wood.PNG", tinyPng(40));
        spit(model / "abs.png", tinyPng(50));
        spit(model / (stem + ".png"), tinyPng(60));
        spit(model / "notes.png", "these are notes, not a picture");
        spit(root.path / "secret.png", tinyPng(70));
        std::string obj = "mtllib scene.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n";
        std::string mtl;
        for (size_t m = 0; m < c.references.size(); ++m) {
            mtl += "newmtl m" + std::to_string(m) + "\nKd 1 1 1\nmap_Kd " + c.references[m] + "\n";
            obj += "usemtl m" + std::to_string(m) + "\nf 1/1 2/2 3/3\n";
        }
        spit(model / "scene.obj", obj);
        spit(model / "scene.mtl", mtl);
        const std::set<std::string> before = filesIn(root.path);

        sceneimport::ImportResult result;
        ASSERT_TRUE(sceneimport::importFile((model / "scene.obj").string(), {}, result))
            << result.error;
        std::set<std::string> written = {"out/scene.q3d"};
        for (size_t m = 0; m < c.expected.size(); ++m) {
            EXPECT_EQ(textureOf(result, "m" + std::to_string(m)), c.expected[m]) << m;
            if (!c.expected[m].empty()) written.insert("out/" + c.expected[m]);
        }
        if (c.noteContains) {
            std::string notes;
            for (const std::string& n : result.notes)
                notes += n + "\n";
            EXPECT_NE(notes.find(c.noteContains), std::string::npos) << notes;
        }
        std::string error;
        ASSERT_TRUE(sceneimport::writeImport(result, (out / "scene.q3d").string(), false, error))
            << error;
        std::set<std::string> after = filesIn(root.path);
        for (const std::string& name : before)
            after.erase(name);
        EXPECT_EQ(after, written) << "only the scene and its pictures, all in its folder";
        if (c.expected.size() == 2 && c.expected[1] == "wood_2.png" && c.references[0][0] == 'a') {
            EXPECT_EQ(slurp(out / "wood.png"), slurp(model / "a" / "wood.png"));
            EXPECT_EQ(slurp(out / "wood_2.png"), slurp(model / "b" / "wood.png"));
        }
    }
}

// A unit box (2 across) at the origin, with one camera and optionally one light, each on a node
// of its own under the root.
struct CameraSetup {
    aiVector3D position;         // the camera's own, in its node's space
    aiVector3D lookAt, up;       // the camera's own, in its node's space
    aiMatrix4x4 node;            // the camera node's transform
    float nodeScale = 1;         // a scale on every node (the exporter's unit scale)
    aiVector3D endTurnAxis = {}; // non-zero: the camera node turns 90 degrees about it over 1 s
};

aiScene* boxWithCamera(const CameraSetup& setup, bool withLight = false) {
    auto* scene = assimpBox(sw::boxMesh(1, 1, 1));
    delete scene->mAnimations[0];
    delete[] scene->mAnimations;
    scene->mAnimations = nullptr;
    scene->mNumAnimations = 0;
    aiNode* root = scene->mRootNode;
    aiNode* box = root->mChildren[0];
    aiMatrix4x4::Scaling(aiVector3D(setup.nodeScale), box->mTransformation);
    auto* cameraNode = new aiNode("eye");
    cameraNode->mParent = root;
    cameraNode->mTransformation = setup.node;
    aiMatrix4x4 scaled;
    cameraNode->mTransformation *= aiMatrix4x4::Scaling(aiVector3D(setup.nodeScale), scaled);
    std::vector<aiNode*> children = {box, cameraNode};
    auto* camera = new aiCamera();
    camera->mName = aiString("eye");
    camera->mPosition = setup.position;
    camera->mLookAt = setup.lookAt;
    camera->mUp = setup.up;
    camera->mHorizontalFOV = 1.0f;
    camera->mAspect = 4.0f / 3.0f;
    scene->mNumCameras = 1;
    scene->mCameras = new aiCamera* [1] { camera };
    if (withLight) {
        auto* lightNode = new aiNode("lamp");
        lightNode->mParent = root;
        aiMatrix4x4::Translation(aiVector3D(0, 0, 5), lightNode->mTransformation);
        lightNode->mTransformation *= aiMatrix4x4::Scaling(aiVector3D(setup.nodeScale), scaled);
        children.push_back(lightNode);
        auto* light = new aiLight();
        light->mName = aiString("lamp");
        light->mType = aiLightSource_POINT;
        light->mColorDiffuse = aiColor3D(1, 1, 1);
        light->mAttenuationQuadratic = 0.01f; // range 10
        scene->mNumLights = 1;
        scene->mLights = new aiLight* [1] { light };
    }
    delete[] root->mChildren;
    root->mNumChildren = unsigned(children.size());
    root->mChildren = new aiNode*[children.size()];
    std::copy(children.begin(), children.end(), root->mChildren);
    if (setup.endTurnAxis.SquareLength() > 0) {
        auto* channel = new aiNodeAnim();
        channel->mNodeName = aiString("eye");
        aiVector3D scale, position;
        aiQuaternion rotation;
        cameraNode->mTransformation.Decompose(scale, rotation, position);
        channel->mNumPositionKeys = channel->mNumScalingKeys = 1;
        channel->mPositionKeys = new aiVectorKey[1]{aiVectorKey(0, position)};
        channel->mScalingKeys = new aiVectorKey[1]{aiVectorKey(0, scale)};
        channel->mNumRotationKeys = 2;
        const aiQuaternion turned =
            aiQuaternion(aiMatrix3x3(aiMatrix4x4::Rotation(1.5707964f, setup.endTurnAxis, scaled)) *
                         rotation.GetMatrix());
        channel->mRotationKeys = new aiQuatKey[2]{aiQuatKey(0, rotation), aiQuatKey(1, turned)};
        auto* animation = new aiAnimation();
        animation->mDuration = 1;
        animation->mTicksPerSecond = 1;
        animation->mNumChannels = 1;
        animation->mChannels = new aiNodeAnim* [1] { channel };
        scene->mNumAnimations = 1;
        scene->mAnimations = new aiAnimation* [1] { animation };
    }
    return scene;
}

// A camera key as the engine reads it: right, up, back (the view is along -back), eye, fov.
struct CameraPose {
    aiVector3D right, up, forward, eye;
};
CameraPose poseOf(const sw::Key& key) {
    float v[12];
    std::memcpy(v, key.data.data(), sizeof v);
    return {{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, {-v[6], -v[7], -v[8]}, {v[9], v[10], v[11]}};
}

const sw::Track* trackNamed(const sw::Scene& scene, const std::string& name) {
    for (const sw::Track& t : scene.tracks)
        if (t.name == name) return &t;
    return nullptr;
}

void expectDirection(const aiVector3D& got, const aiVector3D& want, const char* what) {
    EXPECT_NEAR(got * want, 1.0f, 1e-4f)
        << what << " is " << got.x << " " << got.y << " " << got.z << ", expected " << want.x << " "
        << want.y << " " << want.z;
}

TEST(Import, CamerasLookAlongTheirOwnLookAtAndUpThroughTheirNodes) {
    aiMatrix4x4 at5, turnY, rollZ, m;
    aiMatrix4x4::Translation(aiVector3D(0, 0, 5), at5);
    // An FBX camera looks along +X in its node: turned 90 degrees about Y it looks along -Z.
    turnY = at5 * aiMatrix4x4::RotationY(1.5707964f, m);
    rollZ = at5 * aiMatrix4x4::RotationZ(1.5707964f, m);
    struct Case {
        const char* what;
        CameraSetup setup;
        aiVector3D forward, up, eye;            // at 0 s
        aiVector3D endForward = {}, endUp = {}; // at 1 s (animated cases only)
    };
    const Case cases[] = {
        {"glTF: -Z with Y up",
         {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, at5},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 5}},
        {"FBX: +X, node turned",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, turnY},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 5}},
        {"rolled up vector",
         {{0, 0, 0}, {0, 0, -1}, {1, 0, 0}, at5},
         {0, 0, -1},
         {1, 0, 0},
         {0, 0, 5}},
        {"node rolled about the view",
         {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, rollZ},
         {0, 0, -1},
         {-1, 0, 0},
         {0, 0, 5}},
        {"look-at not normalised, up not square to it",
         {{0, 0, 0}, {0, 0, -7}, {0, 1, 1}, at5},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 5}},
        {"own position in the node",
         {{0, 0, 2}, {0, 0, -1}, {0, 1, 0}, at5},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 7}},
        {"position repeated in the node (3DS) counts once",
         {{0, 0, 5}, {0, 0, -1}, {0, 1, 0}, at5},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 5}},
        {"turning over a second",
         {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, at5, 1, {0, 0, 1}},
         {0, 0, -1},
         {0, 1, 0},
         {0, 0, 5},
         {0, 0, -1},
         {-1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<aiScene> scene(boxWithCamera(c.setup));
        sceneimport::ImportOptions options;
        options.fps = 1;
        sceneimport::ImportResult result;
        ASSERT_TRUE(sceneimport::importScene(*scene, options, result)) << result.error;
        ASSERT_EQ(result.cameras, 1) << "the camera sees the box: no framing camera";
        const sw::Track* track = trackNamed(result.scene, "eye");
        ASSERT_NE(track, nullptr);
        const CameraPose first = poseOf(track->keys[0]);
        expectDirection(first.forward, c.forward, "forward");
        expectDirection(first.up, c.up, "up");
        EXPECT_NEAR((first.eye - c.eye).Length(), 0.0f, 1e-4f);
        EXPECT_NEAR(first.right * (first.forward ^ first.up), 1.0f, 1e-4f) << "right-handed";
        if (c.endForward.SquareLength() > 0) {
            ASSERT_EQ(track->keys.size(), 2u);
            const CameraPose end = poseOf(track->keys[1]);
            expectDirection(end.forward, c.endForward, "forward at 1 s");
            expectDirection(end.up, c.endUp, "up at 1 s");
        }
    }
}

TEST(Import, ACameraThatSeesNoneOfTheModelGetsAFramingCameraBeforeIt) {
    aiMatrix4x4 at5, behind, far;
    aiMatrix4x4::Translation(aiVector3D(0, 0, 5), at5);
    aiMatrix4x4::Translation(aiVector3D(0, 0, 30000), far);
    aiMatrix4x4::Translation(aiVector3D(0, 0, 1.5f), behind);
    struct Case {
        const char* what;
        CameraSetup setup;
        bool sees;
    };
    const Case cases[] = {
        {"looking at it", {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, at5}, true},
        {"looking away", {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, at5}, false},
        {"looking up", {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, at5}, false},
        {"beyond the far plane", {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, far}, false},
        // The nearest face is 0.5 away, inside the near plane; the far face 2.5 away is seen.
        {"close up", {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, behind}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<aiScene> scene(boxWithCamera(c.setup));
        sceneimport::ImportResult result;
        ASSERT_TRUE(sceneimport::importScene(*scene, {}, result)) << result.error;
        ASSERT_EQ(result.cameras, c.sees ? 1 : 2);
        const sw::Track& first = result.scene.tracks[size_t(result.objects)];
        EXPECT_EQ(first.name, c.sees ? "eye" : "framing camera");
        std::string notes;
        for (const std::string& n : result.notes)
            notes += n + "\n";
        EXPECT_EQ(notes.find("see none of the model") != std::string::npos, !c.sees) << notes;
        if (!c.sees) {
            EXPECT_NE(result.lines[2].find("camera 0 'framing camera'"), std::string::npos);
            EXPECT_NE(result.lines[3].find("camera 1 'eye'"), std::string::npos);
        }
    }
}

TEST(Import, AUnitScaleOnEveryNodeIsTakenOutAndLightsScaleWithTheScene) {
    aiMatrix4x4 at5;
    aiMatrix4x4::Translation(aiVector3D(0, 0, 5), at5);
    struct Case {
        const char* what;
        float nodeScale, scale;
        float boxHalf, lightRange, eyeZ; // after the import
        bool noted;
    };
    const Case cases[] = {
        {"no unit scale", 1, 1, 1, 10, 5, false},
        {"x100 on every node", 100, 1, 1, 10, 5, true},
        {"x100 on every node, then --scale 0.01", 100, 0.01f, 0.01f, 0.1f, 0.05f, true},
        {"--scale 2 alone", 1, 2, 2, 20, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CameraSetup setup{{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, at5, c.nodeScale};
        std::unique_ptr<aiScene> scene(boxWithCamera(setup, true));
        sceneimport::ImportOptions options;
        options.scale = c.scale;
        sceneimport::ImportResult result;
        ASSERT_TRUE(sceneimport::importScene(*scene, options, result)) << result.error;
        Loaded loaded = loadWritten(result.scene);
        ASSERT_TRUE(loaded.ok);
        float extent = 0;
        for (const Triangle& t : worldTriangles(*loaded.scene, 0))
            for (const Corner& corner : t)
                extent = std::max(extent, std::fabs(corner[0]));
        EXPECT_NEAR(extent, c.boxHalf, 1e-4f * c.boxHalf);
        const sw::Track* lamp = trackNamed(result.scene, "lamp");
        ASSERT_NE(lamp, nullptr);
        float light[7];
        std::memcpy(light, lamp->keys[0].data.data(), sizeof light);
        EXPECT_NEAR(light[6], c.lightRange, 1e-4f * c.lightRange) << "range";
        EXPECT_NEAR(light[2], c.eyeZ, 1e-4f * c.eyeZ) << "light position";
        EXPECT_NEAR(poseOf(trackNamed(result.scene, "eye")->keys[0]).eye.z, c.eyeZ, 1e-4f * c.eyeZ);
        bool noted = false;
        for (const std::string& n : result.notes)
            noted = noted || n.find("unit scale") != std::string::npos;
        EXPECT_EQ(noted, c.noted);
    }
}

TEST(Import, BudgetsRefuseOnEitherSideOfTheirLimit) {
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n";
    std::string stl(84, '\0');
    stl[80] = 3; // three facets, 50 bytes each
    stl += std::string(150, '\0');
    const std::string ply = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                            "property float y\nproperty float z\nelement face 2\n"
                            "property list uchar int vertex_indices\nend_header\n"
                            "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n3 0 2 1\n";
    struct Case {
        const char* what;
        const std::string* model;
        const char* hint;
        int64_t maxFaces, maxBytes;
        const char* says; // nullptr: imported
    };
    const int64_t objBytes = int64_t(obj.size());
    const Case cases[] = {
        {"OBJ at the face budget", &obj, "obj", 2, 1 << 20, nullptr},
        {"OBJ one face over", &obj, "obj", 1, 1 << 20,
         "2 faces, over the import budget of 1 faces "
         "(--max-faces N raises it)"},
        {"OBJ at the byte budget", &obj, "obj", 10, objBytes, nullptr},
        {"OBJ one byte over", &obj, "obj", 10, objBytes - 1, "--max-bytes N raises it"},
        {"binary STL's count", &stl, "stl", 2, 1 << 20, "3 faces"},
        {"PLY header's count", &ply, "ply", 1, 1 << 20, "2 faces"},
        {"PLY at its count", &ply, "ply", 2, 1 << 20, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sceneimport::ImportOptions options;
        options.maxFaces = c.maxFaces;
        options.maxFileBytes = c.maxBytes;
        sceneimport::ImportResult result;
        const bool ok = sceneimport::importMemory(reinterpret_cast<const uint8_t*>(c.model->data()),
                                                  c.model->size(), c.hint, options, result);
        EXPECT_EQ(ok, c.says == nullptr) << result.error;
        if (c.says) {
            EXPECT_NE(result.error.find(c.says), std::string::npos) << result.error;
        }
    }
    // Formats whose faces are not counted from the bytes are counted after the parse.
    std::unique_ptr<aiScene> box(assimpBox(sw::boxMesh(1, 1, 1)));
    sceneimport::ImportOptions options;
    options.maxFaces = 11;
    sceneimport::ImportResult result;
    EXPECT_FALSE(sceneimport::importScene(*box, options, result));
    EXPECT_NE(result.error.find("12 faces"), std::string::npos) << result.error;
    options.maxFaces = 12;
    EXPECT_TRUE(sceneimport::importScene(*box, options, result)) << result.error;
}

TEST(Import, ResultCrossesToTheParentByteForByteAndDamagedRecordsAreRefused) {
    std::unique_ptr<aiScene> box(assimpBox(sw::boxMesh(1, 2, 3)));
    sceneimport::ImportResult result;
    ASSERT_TRUE(sceneimport::importScene(*box, {}, result)) << result.error;
    sceneimport::Picture picture;
    picture.name = "p.png";
    picture.width = picture.height = 2;
    picture.rgba.assign(16, 7);
    result.pictures.push_back(picture);
    picture.name = "q.jpg";
    picture.rgba.clear();
    picture.fileBytes = {0xFF, 0xD8, 0xFF};
    result.pictures.push_back(picture);
    const std::vector<uint8_t> bytes = sceneimport::encodeResult(result);

    sceneimport::ImportResult back;
    ASSERT_TRUE(sceneimport::decodeResult(bytes.data(), bytes.size(), back));
    EXPECT_EQ(sw::writeScene(back.scene), sw::writeScene(result.scene));
    EXPECT_EQ(back.lines, result.lines);
    EXPECT_EQ(back.notes, result.notes);
    EXPECT_EQ(back.keys, result.keys);
    EXPECT_EQ(back.objects, result.objects);
    ASSERT_EQ(back.pictures.size(), 2u);
    EXPECT_EQ(back.pictures[0].rgba, result.pictures[0].rgba);
    EXPECT_EQ(back.pictures[1].fileBytes, result.pictures[1].fileBytes);
    EXPECT_EQ(sceneimport::encodeResult(back), bytes);

    // Every cut, a byte more and a picture that would leave the folder are all refused.
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        ASSERT_FALSE(sceneimport::decodeResult(bytes.data(), cut, back)) << cut;
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(sceneimport::decodeResult(longer.data(), longer.size(), back));
    result.pictures[1].name = "../q.jpg";
    const std::vector<uint8_t> escaping = sceneimport::encodeResult(result);
    EXPECT_FALSE(sceneimport::decodeResult(escaping.data(), escaping.size(), back));
}

TEST(Import, SpecularWithoutAnExponentIsLeftOutAndClearTexelsTakeTheirNeighboursColour) {
    struct Case {
        float specular, shininess;
        bool shown;
    };
    const Case cases[] = {
        {1, 0, false}, {1, 0.99f, false}, {1, 1, true}, {1, 20, true}, {0, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shininess);
        std::unique_ptr<aiScene> box(assimpBox(sw::boxMesh(1, 1, 1)));
        const aiColor3D specular(c.specular, c.specular, c.specular);
        box->mMaterials[0]->AddProperty(&specular, 1, AI_MATKEY_COLOR_SPECULAR);
        box->mMaterials[0]->AddProperty(&c.shininess, 1, AI_MATKEY_SHININESS);
        sceneimport::ImportResult result;
        ASSERT_TRUE(sceneimport::importScene(*box, {}, result)) << result.error;
        EXPECT_EQ(result.lines[0].find("specular") != std::string::npos, c.shown)
            << result.lines[0];
    }

    // A 4x1 picture: opaque red, partly clear green (kept by the alpha test), two clear black
    // texels, which take the colour of the nearest kept one.
    TempDir dir;
    const uint8_t texels[16] = {200, 0, 0, 255, 0, 200, 0, 192, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(writePngRgba((dir.path / "cut.png").string().c_str(), 4, 1, texels));
    spit(dir.path / "m.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                             "usemtl m\nf 1/1 2/2 3/3\n");
    spit(dir.path / "m.mtl", "newmtl m\nKd 1 1 1\nmap_Kd cut.png\n");
    sceneimport::ImportResult result;
    ASSERT_TRUE(sceneimport::importFile((dir.path / "m.obj").string(), {}, result)) << result.error;
    ASSERT_EQ(result.pictures.size(), 1u);
    std::string notes;
    for (const std::string& n : result.notes)
        notes += n + "\n";
    EXPECT_NE(notes.find("clear pixels take the colour"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("written as"), std::string::npos) << "a usable PNG, only filled";
    const std::vector<uint8_t>& rgba = result.pictures[0].rgba;
    ASSERT_EQ(rgba.size(), 16u);
    const std::vector<uint8_t> kept(rgba.begin(), rgba.begin() + 8);
    EXPECT_EQ(kept, std::vector<uint8_t>(texels, texels + 8)) << "opaque and partly clear kept";
    for (int i = 2; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rgba[size_t(i) * 4 + 3], 1) << "clear, but not black to the loaders";
        EXPECT_EQ(rgba[size_t(i) * 4 + 0], 0);
        EXPECT_EQ(rgba[size_t(i) * 4 + 1], 150) << "the green, a quarter darker";
    }
}

} // namespace
