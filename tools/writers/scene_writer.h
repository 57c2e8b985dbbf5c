// Builds scene files (the .q3d layout the loader reads) from plain descriptions: objects with
// Mesh, Morph, Transform and Hold keys in either vertex encoding, cameras, lights, materials,
// unknown track types, and deliberately damaged variants for tests. Output is a byte vector
// (optionally gzip-compressed) or a file. Everything is owned by value; no engine state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scenewriter {

constexpr uint16_t kNoNeighbour = 0xFFFF;

// Key kinds and track types as stored in the file.
enum : uint8_t { kHold = 0, kTransform = 1, kMorph = 2, kMesh = 4 };
enum : uint8_t { kObjectTrack = 0, kCameraTrack = 1, kLightTrack = 2, kMaterialTrack = 4 };

int32_t secondsToTicks(double seconds);

struct Matrix12 {
    // X axis, Y axis, Z axis, position (object keys); rotation rows and position (cameras)
    float m[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
};
Matrix12 translation(float x, float y, float z);
// Rotation about the Z axis (angle in radians), uniform scale s, then translation.
Matrix12 placement(float x, float y, float z, float angleZ = 0.0f, float s = 1.0f);

struct Vertex {
    float x = 0, y = 0, z = 0;
    // Written only when the mesh has texture coordinates. v as stored: the engine negates it,
    // so v = 1 addresses the image's top row and v = 0 its bottom (v grows upward).
    float u = 0, v = 0;
};

struct Face {
    uint16_t a = 0, b = 0, c = 0;
    uint16_t neighbours[3] = {kNoNeighbour, kNoNeighbour, kNoNeighbour};
};

struct Mesh {
    Matrix12 transform;
    uint16_t materialIndex = 0;
    bool hasUV = false;
    bool flipNormals = false;
    uint8_t encoding = 0; // 0 raw floats, 1 quantised byte planes, others: no vertex bytes
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
};

// Vertex block bytes in the given encoding. Quantising uses each component's range
// (top = max, base = min) and rounds to the nearest of its 256 steps.
std::vector<uint8_t> encodeVertices(const std::vector<Vertex>& vertices, bool hasUV,
                                    uint8_t encoding);

struct Key {
    int32_t ticks = 0;
    uint8_t kind = kHold;
    std::vector<uint8_t> data;   // the block after the kind byte
    bool sizeOverridden = false; // damaged files: sizeOverride replaces the size field
    int32_t sizeOverride = 0;
};

Key holdKey(double seconds);
Key transformKey(double seconds, const Matrix12& transform);
Key meshKey(double seconds, const Mesh& mesh);
// hasUV and the vertex count are not stored in a Morph key: they must match the Mesh key
// before it (file order) for the file to be consistent.
Key morphKey(double seconds, const Matrix12& transform, const std::vector<Vertex>& vertices,
             bool hasUV, uint8_t encoding = 0);
Key cameraKey(double seconds, const Matrix12& rotationAndPosition, float fovRadians);
// A camera looking from eye toward target, Z up.
Key cameraLookAtKey(double seconds, const float eye[3], const float target[3], float fovRadians);
Key lightKey(double seconds, const float position[3], const float color[3], float range);
Key rawKey(double seconds, uint8_t kind, std::vector<uint8_t> data);
// Replaces the key's size field with any value (negative, too large, ...).
Key withSize(Key key, int32_t size);

struct MaterialDesc {
    std::string texture;   // empty = untextured
    std::string secondMap; // stored only
    float diffuse[3] = {0.8f, 0.8f, 0.8f};
    float ambient[3] = {0.2f, 0.2f, 0.2f};
    float specular[3] = {1, 1, 1};
    float specularLevel = 0.0f;
    float shininess = 0.1f;
    float opacity = 1.0f;
    float selfIllumination = 0.0f;
    uint32_t flags = 0; // 2 AlphaTest, 8 TwoSided, 0x20 Additive
};
std::vector<uint8_t> materialBlock(const MaterialDesc& material); // 312 bytes

struct Track {
    std::string name;
    uint8_t type = kObjectTrack;
    std::vector<Key> keys;
    int32_t keyCountOverride = -1; // damaged files: a count that disagrees with keys
};

Track objectTrack(std::string name, std::vector<Key> keys);
Track cameraTrack(std::string name, std::vector<Key> keys);
Track lightTrack(std::string name, std::vector<Key> keys);
Track materialTrack(std::string name, const MaterialDesc& material);

struct Scene {
    int32_t startTicks = 0;
    int32_t endTicks = 48000;
    float background[3] = {0, 0, 0};
    float ambient[3] = {0, 0, 0};
    std::string envMapName;    // base name; empty = none
    std::vector<Track> tracks; // written in this order
    // Header counts; -1 = count the tracks of that type (trackTotal: all tracks).
    int32_t trackTotal = -1, objectCount = -1, cameraCount = -1, lightCount = -1,
            materialCount = -1;
};

void setStartEnd(Scene& scene, double startSeconds, double endSeconds);

std::vector<uint8_t> writeScene(const Scene& scene);
std::vector<uint8_t> gzipBytes(const std::vector<uint8_t>& bytes, int level = 6);
// Writes the scene (gzip-compressed when gzip is true). False when the file cannot be written.
bool writeSceneFile(const std::string& path, const Scene& scene, bool gzip = false);
bool writeBytesFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Small ready-made pieces for tests and tools.
Mesh triangleMesh(uint16_t materialIndex = 0);                     // 3 vertices, 1 face
Mesh quadMesh(float size, bool hasUV, uint16_t materialIndex = 0); // XY plane, 2 faces, CCW
// A grid of (cells+1)^2 vertices in the XY plane, 2 * cells^2 faces, with texture coordinates.
Mesh gridMesh(int cells, float size, uint16_t materialIndex = 0);
// A UV sphere of radius r (segments around, rings from pole to pole).
Mesh sphereMesh(float r, int segments, int rings, uint16_t materialIndex = 0);
// A box centred at the origin with half extents hx, hy, hz, outward faces, texture coordinates.
Mesh boxMesh(float hx, float hy, float hz, uint16_t materialIndex = 0);

} // namespace scenewriter
