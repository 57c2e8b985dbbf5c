// Procedural building blocks for the demo's scenes: small vector and matrix helpers, meshes
// (height fields, tapered tubes, lathes, leaf cards) merged into batches, sampled key tracks,
// a parameterised six-face sky and picture jobs written as PNG, JPEG or QW2 by extension.
// Deterministic for fixed seeds; everything is owned by value. No engine state, no GL.
#pragma once

#include "writers/picture_writer.h"
#include "writers/scene_writer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace procedural {

namespace sw = scenewriter;
using pictures::Canvas;
using pictures::Color;

constexpr float kPi = 3.14159265f;
// A mesh's vertex and face counts are 16-bit in the file.
constexpr size_t kMaxMeshVertices = 65535;

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a, Vec3 b);
Vec3 operator*(Vec3 a, float s);
Vec3 cross(Vec3 a, Vec3 b);
float dot(Vec3 a, Vec3 b);
Vec3 normalized(Vec3 a);
Vec3 lerp(Vec3 a, Vec3 b, float t);

float smoothstep(float a, float b, float x);
float clamp01(float x);

// Object placement: columns X, Y, Z axis and position.
sw::Matrix12 frame(Vec3 xAxis, Vec3 yAxis, Vec3 zAxis, Vec3 position);
// Rotation about Z (heading), then about the new X (pitch), uniform scale, then translation.
sw::Matrix12 pose(Vec3 position, float heading, float pitch = 0.0f, float scale = 1.0f);
// a applied after b.
sw::Matrix12 compose(const sw::Matrix12& a, const sw::Matrix12& b);
Vec3 transformPoint(const sw::Matrix12& m, Vec3 p);

// Appends part, moved by place, to into. False (into unchanged) when the vertex count would
// pass the 16-bit limit.
bool appendMesh(sw::Mesh& into, const sw::Mesh& part, const sw::Matrix12& place);
// Fills a list of meshes, starting a new one whenever the current one is full.
struct MeshBatch {
    sw::Mesh prototype; // material and flags of every mesh in the batch
    std::vector<sw::Mesh> meshes;
};
void addToBatch(MeshBatch& batch, const sw::Mesh& part, const sw::Matrix12& place);

// Every face its own three vertices, so the engine's averaged normals stay flat (faceted).
sw::Mesh flatten(const sw::Mesh& mesh);

using HeightFn = std::function<float(float x, float y)>;
// A grid over [x0, x0 + sizeX] x [y0, y0 + sizeY] with z = height(x, y); u, v run 0..1 across
// it, times uvRepeat.
sw::Mesh heightField(int cellsX, int cellsY, float x0, float y0, float sizeX, float sizeY,
                     const HeightFn& height, uint16_t material, float uvRepeat = 1.0f);
// A surface of revolution about Z from (radius, z) profile points, bottom to top.
sw::Mesh lathe(const std::vector<std::pair<float, float>>& profile, int segments, uint16_t material,
               float uRepeat = 1.0f);
// A tapered open tube from a to b (radii ra, rb), u around, v along.
sw::Mesh tube(Vec3 a, Vec3 b, float ra, float rb, int segments, uint16_t material,
              float vRepeat = 1.0f);
// A vertical quad of width w and height h standing on the origin, in the XZ plane, facing -Y,
// with the given texture cell (u0..u1, v0..v1).
sw::Mesh card(float w, float h, uint16_t material, float u0 = 0, float v0 = 0, float u1 = 1,
              float v1 = 1);
// A regular octagon of width size (flat sides at +-size/2 x reach x 2) in the XZ plane,
// centred on the origin and facing -Y, textured as a square card of that size would be: a
// round picture on a square texture costs a quarter less fill this way. reach 0.5 touches the
// square's sides.
sw::Mesh octagonCard(float size, uint16_t material, float reach = 0.5f);
// A sphere squashed by (sx, sy, sz) and roughened by noise of the given amount.
sw::Mesh rock(float radius, float sx, float sy, float sz, float roughness, uint32_t seed,
              uint16_t material);

// Keys for t = 0, step, 2 step, ... up to and including seconds.
std::vector<sw::Key> sampled(double seconds, double step,
                             const std::function<sw::Key(double)>& key);
// A camera track from a function giving eye, target and field of view at t.
struct Shot {
    Vec3 eye, target;
    float fov = 1.1f;
};
sw::Track cameraShot(const std::string& name, double seconds, const std::function<Shot(double)>& at,
                     double step = 0.25);
// An object that moves: a Mesh key at 0 with the placement at 0, then Transform keys.
sw::Track movingObject(const std::string& name, sw::Mesh mesh, double seconds, double step,
                       const std::function<sw::Matrix12(double)>& place);

// Sky and light of one scene's environment box.
struct SkyLook {
    Vec3 sun = {0.5f, 0.8f, 0.3f}; // unit direction toward the sun, Z up
    Color zenith = {0.15f, 0.3f, 0.6f, 1};
    Color horizon = {0.85f, 0.8f, 0.75f, 1};
    Color ground = {0.22f, 0.24f, 0.18f, 1};
    Color sunGlow = {1.0f, 0.85f, 0.6f, 1};
    Color cloudLight = {1, 1, 1, 1};
    Color cloudDark = {0.6f, 0.62f, 0.7f, 1};
    float cloudCover = 0.5f; // 0 clear .. 1 overcast
    float hillHeight = 0.05f;
    Color hill = {0.3f, 0.34f, 0.3f, 1};
    uint32_t seed = 1;
};
Color skyColor(const SkyLook& look, Vec3 direction);
Canvas skyFace(const SkyLook& look, int slot, int size);

// One picture of the data set. The file name's extension picks the codec: ".png" (keeps
// alpha), ".jpg" (opaque) or ".qw2" (wavelet; alpha when the job asks for it).
struct PictureJob {
    std::string name;
    std::function<Canvas()> make;
    bool alpha = false; // QW2 only
    float qw2BitsPerPixel = 2.5f;
};
// Writes the picture into dir. False with a message on standard error when it cannot.
bool writePicture(const std::string& dir, const PictureJob& job);

// Pictures shared by several scenes.
Canvas barkPicture(int size, Color tint, uint32_t seed);
// A round cluster of leaves with alpha exactly 1 inside and 0 outside; more leaves fill it
// more densely (fewer cards then carry the same foliage).
Canvas leafClusterPicture(int size, Color light, Color dark, uint32_t seed, int leaves = 70);
Canvas grassTuftPicture(int size, Color base, Color tip, uint32_t seed);
Canvas stonePicture(int size, Color tint, uint32_t seed);
// A round soft glow: white centre fading to transparent (for additive sprites).
Canvas glowPicture(int size, Color color);

} // namespace procedural
