// The in-memory scene: objects, cameras, lights and materials with their tracks, the time
// range, colours and environment map, and the camera looked through. A Scene owns everything
// it lists (plain new[] arrays sized once by the loader); textures belong to the texture
// manager and are held by reference; the Super8 effect is referenced, never owned.
// Everything here is free of OpenGL except clearToBackground (scene_gl.cpp).
#pragma once

#include "scene/track.h"

#include <cstdint>

struct Texture;      // image/texture.h
struct Super8Effect; // render/super8.h
struct Scene;
struct Material;

// Radians (the projection reads fov in radians): a quarter turn, the intended 90 degrees.
constexpr float kDefaultCameraFov = 1.5707964f;
constexpr int kEnvMapFaces = 6;
constexpr int kNoMaterial = 0xEFFF;

enum MaterialFlag : uint32_t { AlphaTest = 0x2, TwoSided = 0x8, Additive = 0x20 };

struct ObjectVertex {
    float position[3] = {};
    float normal[3] = {};
    float texCoord[3] = {}; // u, v (negated on decoding), w = 0
};

struct ObjectFace {
    int32_t indices[3] = {};
    int32_t neighbours[3] = {-1, -1, -1}; // -1 = none
    float normal[3] = {};                 // unit length
};

struct KeyVertex {
    float position[3] = {};
    float texCoord[3] = {}; // v already negated, w = 0
};

// One decoded Morph or Mesh key. vertexCount is what the key really holds: a Morph key
// inherits the count of the vertex-bearing key before it in file order, so it may hold fewer
// vertices than the topology in force when it is used; consumers then neither copy nor blend
// from it (see vertexKeyCovers).
struct VertexKey {
    float time = 0.0f;
    int32_t keyIndex = -1; // position of the key in the track
    int32_t vertexCount = 0;
    KeyVertex* vertices = nullptr;
};

struct SceneObject {
    bool visible = true;
    bool flipNormals = false;
    ObjectVertex* vertices = nullptr;
    uint8_t* hideBits = nullptr; // hidetrack rows, may be absent
    int32_t hideBitsBytes = 0;   // length of hideBits, for bounds checks
    int32_t vertexCount = 0;
    ObjectFace* faces = nullptr;
    int32_t faceCount = 0;
    int32_t materialIndex = kNoMaterial;
    Material* material = nullptr;
    float transform[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}; // X, Y, Z axes, position
    Scene* scene = nullptr;
    float time = -1.0f;
    Track* track = nullptr; // owned, may be absent
    VertexKey* vertexKeys = nullptr;
    int32_t vertexKeyCount = 0;
    int32_t bufferOffset = -1;
    bool geometryDirty = true;
    int32_t currentMeshKey = -1;
    int32_t currentVertexKey = -1;
    bool hasUV = false;
};

struct Camera {
    float rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // rows of the world-to-camera rotation
    float position[3] = {};                          // world space
    float fov = kDefaultCameraFov;                   // radians
    Track* track = nullptr;                          // owned, may be absent
};

struct Light {
    float position[4] = {}; // world space; w set to 1 when applied
    float color[4] = {};    // alpha set to 1 when applied
    int32_t glIndex = 0;    // position among the light tracks
    float range = 0.0f;     // 0 = no attenuation
    Track* track = nullptr; // owned, may be absent
};

struct Material {
    float opacity = 0.0f;
    float specularLevel = 0.0f;
    float shininess = 0.0f;
    float selfIllumination = 0.0f;
    float diffuse[4] = {};
    float specular[4] = {};
    float ambient[4] = {};
    float emission[4] = {};
    uint32_t flags = 0; // MaterialFlag bits
    char textureName[128] = {};
    char secondMapName[128] = {};
    bool textured = false;
    bool transparent = false;
    Texture* texture = nullptr; // held reference, may be none
};

struct Scene {
    int32_t objectCount = 0;
    SceneObject* objects = nullptr;
    int32_t cameraCount = 0;
    Camera* cameras = nullptr;
    int32_t lightCount = 0;
    Light* lights = nullptr;
    int32_t materialCount = 0;
    Material* materials = nullptr;
    float backgroundColor[3] = {};
    float ambientColor[4] = {};
    int32_t hideFrameRate = 0;
    char envMapName[260] = {};
    bool hasEnvMap = false;
    Texture* envMapTextures[kEnvMapFaces] = {}; // dn, up, fr, bk, lf, rt
    bool objectsPrepared = false;
    int32_t hideBitsPerCamera = 0;
    float timeStart = 0.0f;
    float timeEnd = 0.0f;
    float duration = 0.0f;
    Camera interactiveCamera;
    Super8Effect* super8 = nullptr; // not owned
    int32_t currentCamera = -1;     // -1 = interactiveCamera
};

// An empty scene with its interactive camera; release it with destroyScene.
Scene* createScene();

// Builds a material from key 0 of a material track (block of at least 312 bytes; the loader
// guarantees it). Logs, and may load a texture and show a message box.
void loadMaterial(Material& material, const Track& track);

// Decodes every object's Morph and Mesh keys once; later calls do nothing.
void prepareObjects(Scene& scene);

// index in 0..cameraCount-1 selects that camera, -1 the interactive camera; anything else
// logs and selects the interactive camera.
void setCamera(Scene& scene, int index);
Camera& activeCamera(Scene& scene);

// GL: clears colour, depth and stencil to the scene's background (alpha 0) and depth 1.
void clearToBackground(const Scene& scene);

// Releases everything the scene owns and gives its textures back; null is ignored.
void destroyScene(Scene* scene);

// ---- Reading Mesh blocks (shared by the loader's checks and the topology builder) ----

constexpr int32_t kMeshHeadBytes = 70;
constexpr int32_t kMorphHeadBytes = 49;
constexpr int32_t kMaterialBlockBytes = 312;

// Bytes of a vertex block: encoding 0 is 12 (20 with uv) bytes per vertex, encoding 1 is 24 + 3n
// (40 + 5n with uv), other encodings hold nothing.
int32_t vertexBlockBytes(int encoding, int32_t vertexCount, bool hasUV);

struct MeshBlock {
    int32_t materialIndex = kNoMaterial;
    bool hasUV = false;
    bool flipNormals = false;
    int32_t vertexCount = 0;
    int32_t faceCount = 0;
    int32_t encoding = 0;
    int32_t vertexBlockOffset = kMeshHeadBytes;
    int32_t faceBlockOffset = kMeshHeadBytes; // 12 bytes per face from here
};

// Reads the head of a Mesh key's block. False when the block is too short for the vertex and
// face blocks its counts announce (the loader rejects such files, so this holds for every
// loaded Mesh key).
bool readMeshBlock(const TrackKey& key, MeshBlock& out);

// Fills faces (room for mesh.faceCount) from the face block, widening 0xFFFF neighbours to -1.
// A face with a vertex index at or above mesh.vertexCount is dropped. Returns the number of
// faces kept; normals are left for computeNormals.
int32_t readMeshFaces(const TrackKey& key, const MeshBlock& mesh, ObjectFace* faces);

// The decoded entry for the track key keyIndex, or null (not a Morph/Mesh key, or before
// prepareObjects).
const VertexKey* findVertexKey(const SceneObject& object, int32_t keyIndex);

// True when the entry holds at least vertexCount decoded vertices: only then may it be copied
// or blended into a topology of that many vertices.
inline bool vertexKeyCovers(const VertexKey* entry, int32_t vertexCount) {
    return entry != nullptr && entry->vertexCount >= vertexCount;
}
