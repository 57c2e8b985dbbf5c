// quilm-tool make-sample DIR: writes a small animated sample scene, "sample.q3d", with its
// textures, a six-face sky and the film effect's pictures, all made here procedurally.
// The scene loops over 12 seconds: a morphing marble blob inside a glowing ring, a waving
// banner, a turning bronze grille, a crate that turns into a gem, two orbiting lights with
// their bulbs, and three cameras (keys 1 to 3 in the viewer).
#include "platform/paths.h"
#include "quilm_tool/commands.h"
#include "render/scene_renderer.h"
#include "scene/envmap.h"
#include "writers/picture_writer.h"
#include "content/procedural.h"
#include "writers/scene_writer.h"
#include "content/super8_pictures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace sw = scenewriter;
using pictures::Canvas;
using pictures::Color;
using pictures::fractalNoise;

namespace {

constexpr float kPi = 3.14159265f;
constexpr double kLoopSeconds = 12.0;
constexpr double kKeyStep = 0.25; // dense keys: the engine blends matrices linearly

// ---- Textures ----

float smoothstep(float a, float b, float x) {
    const float t = std::clamp((x - a) / (b - a), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

Canvas tilesTexture() {
    const int size = 256, tiles = 4, grout = 3;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int tx = x / (size / tiles), ty = y / (size / tiles);
            const int lx = x % (size / tiles), ly = y % (size / tiles);
            const float tone =
                0.55f + 0.25f * pictures::valueNoise(float(tx) * 3.1f, float(ty) * 1.7f, 64, 3);
            const float grain = fractalNoise(float(x) / 16, float(y) / 16, 16, 4, 21);
            const float v = tone * (0.8f + 0.35f * grain);
            Color c = {v * 0.95f, v * 0.88f, v * 0.78f, 1};
            const int edge =
                std::min(std::min(lx, ly), std::min(size / tiles - 1 - lx, size / tiles - 1 - ly));
            if (edge < grout)
                c = {0.16f, 0.15f, 0.14f, 1};
            else if (edge < grout + 2)
                c = pictures::mix(c, {0.3f, 0.28f, 0.25f, 1}, 0.5f);
            canvas.at(x, y) = c;
        }
    return canvas;
}

Canvas marbleTexture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 32, float(y) / 32, 8, 5, 7);
            const float vein =
                std::abs(std::sin((float(x) / size * 4 + float(y) / size * 2 + 3 * n) * kPi));
            const float v = std::pow(vein, 0.35f);
            const Color light = {0.93f, 0.92f, 0.88f, 1}, dark = {0.18f, 0.33f, 0.36f, 1};
            canvas.at(x, y) = pictures::mix(dark, light, v);
        }
    return canvas;
}

Canvas grilleTexture() {
    // Bronze lattice with transparent gaps: alpha is exactly 1 on the bars, 0 in the gaps and
    // in between only on their anti-aliased edges.
    const int size = 128;
    Canvas canvas(size, size, {0, 0, 0, 0});
    const Color bronze = {0.72f, 0.5f, 0.24f, 1};
    for (int i = -4; i <= 4; ++i) {
        const float o = float(i) * 32;
        pictures::fillCapsule(canvas, o, 0, o + size, size, 3.0f, bronze);
        pictures::fillCapsule(canvas, o + size, 0, o, size, 3.0f, bronze);
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const float cx = 16 + 32.0f * i, cy = 16 + 32.0f * j;
            pictures::fillDisc(canvas, cx, cy, 7, bronze);
            pictures::fillDisc(canvas, cx, cy, 3.5f, {0, 0, 0, 0});
        }
    // frame
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int edge = std::min(std::min(x, y), std::min(size - 1 - x, size - 1 - y));
            if (edge < 6) canvas.at(x, y) = bronze;
        }
    // clear the gaps completely and add patina on the metal
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            Color& c = canvas.at(x, y);
            const float p = fractalNoise(float(x) / 16, float(y) / 16, 8, 3, 5);
            c = {c.r * (0.75f + 0.4f * p), c.g * (0.8f + 0.35f * p), c.b * (0.9f + 0.3f * p), c.a};
            if (c.a < 0.02f) c = {0, 0, 0, 0};
        }
    return canvas;
}

Canvas ringTexture() {
    const int width = 256, height = 32;
    Canvas canvas(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float t = (float(y) + 0.5f) / height;
            const float band = std::exp(-std::pow((t - 0.5f) / 0.18f, 2.0f));
            const float dash =
                0.55f + 0.45f * smoothstep(0.2f, 0.5f, std::sin(float(x) / width * 16 * kPi));
            const float a = std::clamp(band * dash, 0.0f, 1.0f);
            canvas.at(x, y) = {0.45f + 0.4f * band, 0.85f + 0.15f * band, 1.0f, a};
        }
    return canvas;
}

Canvas crateTexture() {
    const int size = 128;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int plank = y / 24;
            const float grain =
                fractalNoise(float(x) / 24, float(y) / 3 + float(plank) * 7, 8, 4, 31);
            const float v = 0.45f + 0.3f * grain + 0.06f * float(plank % 2);
            Color c = {v, v * 0.72f, v * 0.42f, 1};
            if (y % 24 < 2) c = {0.12f, 0.08f, 0.05f, 1};
            canvas.at(x, y) = c;
        }
    const Color frame = {0.3f, 0.2f, 0.11f, 1};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int edge = std::min(std::min(x, y), std::min(size - 1 - x, size - 1 - y));
            if (edge < 12) canvas.at(x, y) = pictures::mix(canvas.at(x, y), frame, 0.75f);
        }
    pictures::fillCapsule(canvas, 14, 14, 114, 114, 6, {0.36f, 0.24f, 0.13f, 1});
    for (float cx : {8.0f, 120.0f})
        for (float cy : {8.0f, 120.0f})
            pictures::fillDisc(canvas, cx, cy, 2.5f, {0.7f, 0.7f, 0.68f, 1});
    return canvas;
}

Canvas bannerTexture() {
    const int width = 256, height = 128;
    Canvas canvas(width, height, {0.55f, 0.06f, 0.08f, 1});
    const Color gold = {0.95f, 0.76f, 0.3f, 1};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int edge = std::min(std::min(x, y), std::min(width - 1 - x, height - 1 - y));
            Color& c = canvas.at(x, y);
            const float weave = 0.9f + 0.1f * (((x / 2) + (y / 2)) % 2);
            c = {c.r * weave, c.g * weave, c.b * weave, 1};
            if (edge >= 6 && edge < 10) c = gold;
        }
    // emblem: a ring with a tail, and a row of stars
    pictures::fillDisc(canvas, 128, 64, 34, gold);
    pictures::fillDisc(canvas, 128, 64, 25, {0.5f, 0.05f, 0.07f, 1});
    pictures::fillCapsule(canvas, 140, 78, 162, 100, 6, gold);
    for (int i = 0; i < 3; ++i) {
        pictures::fillDisc(canvas, 40.0f + 14 * i, 64, 4, gold);
        pictures::fillDisc(canvas, 188.0f + 14 * i, 64, 4, gold);
    }
    return canvas;
}

// ---- Sky: six faces laid out as the environment box draws them ----

using FaceCorner = EnvironmentBoxCorner;

Color skyColor(const float d[3]) {
    const float sun[3] = {0.48f, 0.83f, 0.28f};
    const float e = d[2];
    const Color horizon = {0.97f, 0.64f, 0.42f, 1}, zenith = {0.12f, 0.24f, 0.52f, 1};
    const float azimuth = std::atan2(d[1], d[0]) / (2 * kPi) + 0.5f;
    const float hills = 0.035f + 0.06f * fractalNoise(azimuth * 16, 0.5f, 16, 4, 77);
    Color c = pictures::mix(horizon, zenith, std::pow(std::clamp(e, 0.0f, 1.0f), 0.45f));
    const float cosSun = std::max(0.0f, d[0] * sun[0] + d[1] * sun[1] + d[2] * sun[2]);
    const float glow = 0.75f * std::pow(cosSun, 64.0f) + 0.3f * std::pow(cosSun, 6.0f);
    c = {c.r + glow, c.g + glow * 0.8f, c.b + glow * 0.55f, 1};
    if (cosSun > 0.9985f) c = {1.0f, 0.97f, 0.9f, 1};
    if (e > 0.02f) {
        const float px = d[0] / e * 1.2f, py = d[1] / e * 1.2f;
        const float n = fractalNoise(px + 100, py + 100, 4096, 5, 19);
        const float cover = smoothstep(0.5f, 0.72f, n) * smoothstep(0.02f, 0.2f, e);
        const Color cloud = pictures::mix({1.0f, 0.86f, 0.72f, 1}, {0.55f, 0.5f, 0.6f, 1},
                                          smoothstep(0.6f, 0.85f, n));
        c = pictures::mix(c, cloud, cover * 0.85f);
    }
    // distant hills with a soft edge, then hazy ground below the horizon
    const Color hill = {0.2f, 0.17f, 0.22f, 1}, ground = {0.11f, 0.1f, 0.09f, 1};
    const float haze = std::exp(-std::max(hills - e, 0.0f) * 3.0f);
    const Color land =
        pictures::mix(e < 0 ? ground : hill, pictures::mix(hill, horizon, 0.35f), haze * 0.6f);
    return pictures::mix(c, land, 1.0f - smoothstep(hills - 0.004f, hills + 0.004f, e));
}

Canvas skyFace(int slot, int size) {
    const FaceCorner* corners = kEnvironmentBoxFaces[slot];
    auto cornerAt = [&](float s, float t) {
        for (int i = 0; i < 4; ++i)
            if (corners[i].s == s && corners[i].t == t) return corners[i];
        return corners[0];
    };
    const FaceCorner p00 = cornerAt(0, 0), p10 = cornerAt(1, 0), p01 = cornerAt(0, 1);
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float s = (float(col) + 0.5f) / size, t = (float(row) + 0.5f) / size;
            float d[3] = {p00.x + s * (p10.x - p00.x) + t * (p01.x - p00.x) - 0.5f,
                          p00.y + s * (p10.y - p00.y) + t * (p01.y - p00.y) - 0.5f,
                          p00.z + s * (p10.z - p00.z) + t * (p01.z - p00.z) - 0.5f};
            const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            for (float& v : d)
                v /= len;
            canvas.at(col, row) = skyColor(d);
        }
    return canvas;
}

// ---- Geometry ----

sw::Mesh annulusMesh(float inner, float outer, int segments, uint16_t material) {
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    for (int i = 0; i <= segments; ++i) {
        const float a = 2 * kPi * float(i) / float(segments);
        const float u = 4.0f * float(i) / float(segments);
        mesh.vertices.push_back({inner * std::cos(a), inner * std::sin(a), 0, u, 0});
        mesh.vertices.push_back({outer * std::cos(a), outer * std::sin(a), 0, u, 1});
    }
    for (int i = 0; i < segments; ++i) {
        const uint16_t a = uint16_t(2 * i);
        mesh.faces.push_back({a, uint16_t(a + 1), uint16_t(a + 3)});
        mesh.faces.push_back({a, uint16_t(a + 3), uint16_t(a + 2)});
    }
    return mesh;
}

// Rotation about Z by spin after a tilt about X, then translation.
sw::Matrix12 spinTilt(float x, float y, float z, float spin, float tilt) {
    const float cs = std::cos(spin), ss = std::sin(spin), ct = std::cos(tilt), st = std::sin(tilt);
    sw::Matrix12 m;
    // columns: X axis, Y axis, Z axis of Rz(spin) * Rx(tilt), then position
    const float v[12] = {cs, ss, 0, -ss * ct, cs * ct, st, ss * st, -cs * st, ct, x, y, z};
    std::copy(v, v + 12, m.m);
    return m;
}

template <typename F> std::vector<sw::Key> everyStep(F&& keyAt) {
    std::vector<sw::Key> keys;
    const int steps = int(kLoopSeconds / kKeyStep);
    for (int i = 0; i <= steps; ++i)
        keys.push_back(keyAt(double(i) * kKeyStep));
    return keys;
}

void lightPosition(int light, double t, float out[3]) {
    const float a = float(2 * kPi * t / kLoopSeconds);
    if (light == 0) {
        out[0] = 7 * std::cos(a);
        out[1] = 7 * std::sin(a);
        out[2] = 5.5f + 0.5f * std::sin(2 * a);
    } else {
        out[0] = 5 * std::cos(-a + kPi);
        out[1] = 5 * std::sin(-a + kPi);
        out[2] = 3.2f;
    }
}

enum MaterialSlot : uint16_t {
    kTiles,
    kMarble,
    kGrille,
    kRing,
    kCrate,
    kGem,
    kBanner,
    kBulbWarm,
    kBulbCool,
    kMetal,
};

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> list(10);
    list[kTiles].texture = "sample_tiles.jpg";
    list[kTiles].ambient[0] = list[kTiles].ambient[1] = list[kTiles].ambient[2] = 1;
    list[kMarble].texture = "sample_marble.png";
    list[kMarble].specularLevel = 0.9f;
    list[kMarble].shininess = 0.5f;
    list[kGrille].texture = "sample_grille.png";
    list[kGrille].flags = 0x2 | 0x8; // alpha-tested, two-sided
    list[kGrille].specularLevel = 0.6f;
    list[kGrille].shininess = 0.3f;
    list[kRing].texture = "sample_ring.png";
    list[kRing].opacity = 0.85f;
    list[kRing].flags = 0x20 | 0x8; // additive, two-sided
    list[kCrate].texture = "sample_crate.jpg";
    list[kGem].diffuse[0] = 0.25f;
    list[kGem].diffuse[1] = 0.9f;
    list[kGem].diffuse[2] = 0.6f;
    list[kGem].opacity = 0.7f;
    list[kGem].specularLevel = 1.0f;
    list[kGem].shininess = 0.7f;
    list[kGem].selfIllumination = 0.35f;
    list[kBanner].texture = "sample_banner.png";
    list[kBanner].flags = 0x8; // two-sided cloth
    const float warm[3] = {1.0f, 0.85f, 0.6f}, cool[3] = {0.5f, 0.65f, 1.0f};
    for (int i = 0; i < 3; ++i) {
        list[kBulbWarm].diffuse[i] = warm[i];
        list[kBulbCool].diffuse[i] = cool[i];
        list[kMetal].diffuse[i] = 0.35f;
    }
    list[kBulbWarm].selfIllumination = list[kBulbCool].selfIllumination = 1.0f;
    // lit by the scene's ambient light too, so shadowed sides keep their texture
    for (MaterialSlot slot : {kMarble, kGrille, kCrate, kBanner})
        for (float& a : list[slot].ambient)
            a = 0.8f;
    for (float& a : list[kRing].ambient)
        a = 1.0f;
    list[kMetal].specularLevel = 1.0f;
    list[kMetal].shininess = 0.6f;
    return list;
}

sw::Scene sampleScene() {
    sw::Scene scene;
    sw::setStartEnd(scene, 0, kLoopSeconds);
    scene.background[0] = 0.08f;
    scene.background[1] = 0.08f;
    scene.background[2] = 0.12f;
    scene.ambient[0] = 0.24f;
    scene.ambient[1] = 0.23f;
    scene.ambient[2] = 0.27f;
    scene.envMapName = "sample_sky";

    // Floor: tiled, repeated five times across.
    sw::Mesh floor = sw::gridMesh(16, 40.0f, kTiles);
    for (sw::Vertex& v : floor.vertices) {
        v.u *= 5;
        v.v *= 5;
    }
    scene.tracks.push_back(sw::objectTrack("floor", {sw::meshKey(0, floor)}));

    // Four pillars.
    for (int i = 0; i < 4; ++i) {
        sw::Mesh pillar = sw::boxMesh(0.5f, 0.5f, 2.5f, kTiles);
        pillar.transform = sw::translation(i % 2 ? 12.0f : -12.0f, i / 2 ? 12.0f : -12.0f, 2.5f);
        scene.tracks.push_back(sw::objectTrack("pillar", {sw::meshKey(0, pillar)}));
    }

    // Marble blob: a sphere that wobbles, morph keys alternating raw and quantised vertices.
    const sw::Mesh sphere = sw::sphereMesh(1.6f, 32, 20, kMarble);
    auto wobble = [&](double t) {
        std::vector<sw::Vertex> out = sphere.vertices;
        const float w = float(2 * kPi * t / kLoopSeconds);
        for (sw::Vertex& v : out) {
            const float theta = std::acos(std::clamp(v.z / 1.6f, -1.0f, 1.0f));
            const float phi = std::atan2(v.y, v.x);
            const float k = 1.0f + 0.16f * std::sin(3 * theta + 2 * w) * std::cos(2 * phi - 3 * w) +
                            0.06f * std::sin(5 * phi + w);
            v.x *= k;
            v.y *= k;
            v.z *= k;
        }
        return out;
    };
    {
        auto placeBlob = [](double t) {
            return spinTilt(0, 0, 2.6f, float(2 * kPi * t / kLoopSeconds), 0);
        };
        std::vector<sw::Key> keys;
        sw::Mesh first = sphere;
        first.vertices = wobble(0);
        first.transform = placeBlob(0);
        keys.push_back(sw::meshKey(0, first));
        const int steps = int(kLoopSeconds / 0.5);
        for (int i = 1; i <= steps; ++i) {
            const double t = 0.5 * i;
            keys.push_back(sw::morphKey(t, placeBlob(t), wobble(t), true, uint8_t(i % 2)));
        }
        scene.tracks.push_back(sw::objectTrack("blob", keys));
    }

    // Glowing ring around the blob, tilted, turning against it.
    {
        sw::Mesh ring = annulusMesh(2.5f, 3.4f, 64, kRing);
        std::vector<sw::Key> keys = everyStep([&](double t) {
            return sw::transformKey(t,
                                    spinTilt(0, 0, 2.6f, float(-4 * kPi * t / kLoopSeconds), 0.3f));
        });
        ring.transform = spinTilt(0, 0, 2.6f, 0, 0.3f);
        keys[0] = sw::meshKey(0, ring);
        scene.tracks.push_back(sw::objectTrack("ring", keys));
    }

    // Banner on a pole, waving: quantised morph keys four times a second.
    {
        sw::Mesh pole = sw::boxMesh(0.07f, 0.07f, 2.6f, kMetal);
        pole.transform = sw::translation(-6, 4, 2.6f);
        scene.tracks.push_back(sw::objectTrack("pole", {sw::meshKey(0, pole)}));

        const int cols = 16, rows = 10;
        const float width = 3.2f, height = 2.0f;
        auto cloth = [&](double t) {
            std::vector<sw::Vertex> out;
            const float w = float(2 * kPi * t / kLoopSeconds);
            for (int r = 0; r <= rows; ++r)
                for (int c = 0; c <= cols; ++c) {
                    const float x = width * float(c) / cols, z = -height * float(r) / rows;
                    const float free = x / width;
                    const float y = free * (0.35f * std::sin(3.0f * x - 6 * w) +
                                            0.12f * std::sin(2.0f * x + 3 * z + 12 * w));
                    out.push_back({x, y, z, float(c) / cols, 1.0f - float(r) / rows});
                }
            return out;
        };
        sw::Mesh banner;
        banner.materialIndex = kBanner;
        banner.hasUV = true;
        banner.encoding = 1;
        banner.vertices = cloth(0);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const uint16_t i = uint16_t(r * (cols + 1) + c);
                banner.faces.push_back({i, uint16_t(i + cols + 1), uint16_t(i + 1)});
                banner.faces.push_back(
                    {uint16_t(i + 1), uint16_t(i + cols + 1), uint16_t(i + cols + 2)});
            }
        const sw::Matrix12 place = sw::translation(-5.95f, 4, 5.0f);
        banner.transform = place;
        std::vector<sw::Key> keys =
            everyStep([&](double t) { return sw::morphKey(t, place, cloth(t), true, 1); });
        keys[0] = sw::meshKey(0, banner);
        scene.tracks.push_back(sw::objectTrack("banner", keys));
    }

    // Bronze grille, alpha-tested and two-sided, turning once per loop.
    {
        sw::Mesh grille;
        grille.materialIndex = kGrille;
        grille.hasUV = true;
        grille.vertices = {{-2, 0, -2, 0, 0}, {2, 0, -2, 1, 0}, {2, 0, 2, 1, 1}, {-2, 0, 2, 0, 1}};
        grille.faces = {{0, 1, 2}, {0, 2, 3}};
        std::vector<sw::Key> keys = everyStep([&](double t) {
            return sw::transformKey(t,
                                    spinTilt(6, 3.5f, 2.2f, float(2 * kPi * t / kLoopSeconds), 0));
        });
        grille.transform = spinTilt(6, 3.5f, 2.2f, 0, 0);
        keys[0] = sw::meshKey(0, grille);
        scene.tracks.push_back(sw::objectTrack("grille", keys));
    }

    // A crate that turns into a gem at 6 s (and back when the loop starts again).
    {
        sw::Mesh crate = sw::boxMesh(0.7f, 0.7f, 0.7f, kCrate);
        sw::Mesh gem = procedural::flatten(sw::sphereMesh(1.0f, 6, 3, kGem));
        gem.hasUV = false;
        std::vector<sw::Key> keys;
        for (int i = 0; i <= 22; ++i) {
            const double t = 0.25 * i;
            const sw::Matrix12 m = spinTilt(4.5f, -3.5f, 0.7f, float(0.4 * t), 0);
            if (i == 0) {
                crate.transform = m;
                keys.push_back(sw::meshKey(t, crate));
            } else {
                keys.push_back(sw::transformKey(t, m));
            }
        }
        keys.push_back(sw::holdKey(6.0 - 1.0 / 4800));
        for (int i = 0; i <= 24; ++i) {
            const double t = 6.0 + 0.25 * i;
            const float bob = 1.6f + 0.25f * std::sin(float(t) * 2);
            const sw::Matrix12 m = spinTilt(4.5f, -3.5f, bob, float(1.5 * t), 0.2f);
            if (i == 0) {
                gem.transform = m;
                keys.push_back(sw::meshKey(t, gem));
            } else {
                keys.push_back(sw::transformKey(t, m));
            }
        }
        scene.tracks.push_back(sw::objectTrack("crate", keys));
    }

    // Two orbiting lights, with small glowing bulbs that follow them.
    const float colors[2][3] = {{1.0f, 0.85f, 0.65f}, {0.45f, 0.6f, 1.0f}};
    const float ranges[2] = {22.0f, 16.0f};
    for (int l = 0; l < 2; ++l) {
        scene.tracks.push_back(
            sw::lightTrack(l == 0 ? "warm light" : "cool light", everyStep([&](double t) {
                               float p[3];
                               lightPosition(l, t, p);
                               return sw::lightKey(t, p, colors[l], ranges[l]);
                           })));
        sw::Mesh bulb = sw::sphereMesh(0.22f, 12, 8, l == 0 ? kBulbWarm : kBulbCool);
        std::vector<sw::Key> keys = everyStep([&](double t) {
            float p[3];
            lightPosition(l, t, p);
            return sw::transformKey(t, sw::translation(p[0], p[1], p[2]));
        });
        float p0[3];
        lightPosition(l, 0, p0);
        bulb.transform = sw::translation(p0[0], p0[1], p0[2]);
        keys[0] = sw::meshKey(0, bulb);
        scene.tracks.push_back(sw::objectTrack("bulb", keys));
    }

    // Cameras: a slow orbit, a close look along the banner, a crane shot onto the gem.
    scene.tracks.push_back(sw::cameraTrack(
        "orbit", everyStep([](double t) {
            const float a = float(-kPi / 2 + kPi * t / kLoopSeconds);
            const float eye[3] = {15 * std::cos(a), 15 * std::sin(a), 6.5f + std::sin(a * 2)};
            const float target[3] = {0, 0, 2.0f};
            return sw::cameraLookAtKey(t, eye, target, 1.15f);
        })));
    scene.tracks.push_back(
        sw::cameraTrack("banner", everyStep([](double t) {
                            const float f = float(t / kLoopSeconds);
                            const float eye[3] = {-1.5f - 7 * f, -4.5f + 1.5f * f, 2.4f + 1.2f * f};
                            const float target[3] = {-4.5f + 4 * f, 3.5f - 3 * f, 3.4f - 0.8f * f};
                            return sw::cameraLookAtKey(t, eye, target, 1.0f);
                        })));
    scene.tracks.push_back(
        sw::cameraTrack("crane", everyStep([](double t) {
                            const float f = float(0.5 - 0.5 * std::cos(2 * kPi * t / kLoopSeconds));
                            const float eye[3] = {11 - 3 * f, -13 + 6 * f, 12 - 8 * f};
                            const float target[3] = {3.5f, -2.5f, 1.2f};
                            return sw::cameraLookAtKey(t, eye, target, 1.2f);
                        })));

    const std::vector<sw::MaterialDesc> list = materials();
    for (const sw::MaterialDesc& m : list)
        scene.tracks.push_back(sw::materialTrack("material", m));
    return scene;
}

bool writeAll(const std::string& dir) {
    struct Picture {
        const char* name;
        Canvas (*make)();
    };
    const Picture textures[] = {
        {"sample_tiles.jpg", tilesTexture},   {"sample_marble.png", marbleTexture},
        {"sample_grille.png", grilleTexture}, {"sample_ring.png", ringTexture},
        {"sample_crate.jpg", crateTexture},   {"sample_banner.png", bannerTexture}};
    for (const Picture& p : textures) {
        const std::string path = dir + "/" + p.name;
        const Canvas canvas = p.make();
        const bool jpeg = path.compare(path.size() - 4, 4, ".jpg") == 0;
        if (!(jpeg ? pictures::writeJpeg(path, canvas, 90) : pictures::writePng(path, canvas))) {
            std::fprintf(stderr, "make-sample: cannot write %s\n", path.c_str());
            return false;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    for (int slot = 0; slot < 6; ++slot) {
        const std::string path = dir + "/sample_sky" + kEnvMapSuffixes[slot] + ".jpg";
        if (!pictures::writeJpeg(path, skyFace(slot, 512), 90)) {
            std::fprintf(stderr, "make-sample: cannot write %s\n", path.c_str());
            return false;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    std::string failed;
    if (!pictures::writeSuper8Pictures(dir, &failed)) {
        std::fprintf(stderr, "make-sample: cannot write %s/%s\n", dir.c_str(), failed.c_str());
        return false;
    }
    std::printf("wrote %s/s8_lamp.jpg, s8_border.png, s8_sign.png, s8_drek.png\n", dir.c_str());
    const std::string scenePath = dir + "/sample.q3d";
    if (!sw::writeSceneFile(scenePath, sampleScene())) {
        std::fprintf(stderr, "make-sample: cannot write %s\n", scenePath.c_str());
        return false;
    }
    std::printf("wrote %s\n", scenePath.c_str());
    return true;
}

#ifdef _WIN32
// A word cmd.exe takes as it is: in double quotes unless plain (a file name cannot hold one).
std::string shellWord(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_.\\/-+:=@,", c);
    });
    return plain ? word : "\"" + word + "\"";
}
// /d: the folder may be on another drive.
constexpr const char* kChangeFolder = "cd /d";
#else
// A word the shell takes as it is: quoted unless it is made of plain characters only.
std::string shellWord(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./-+:=@%,", c);
    });
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
constexpr const char* kChangeFolder = "cd";
#endif

// The player built beside this tool, by its full path; the bare name when there is none.
std::string playerCommand() {
    char player[kSiblingPathBytes + 16];
    std::error_code error;
    if (siblingProgramPath("quilm", player, sizeof player) &&
        std::filesystem::is_regular_file(player, error))
        return shellWord(player);
    return "quilm";
}

} // namespace

int runMakeSampleCommand(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: quilm-tool make-sample DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir)) {
        std::fprintf(stderr, "make-sample: cannot create directory %s\n", dir.c_str());
        return 1;
    }
    if (!writeAll(dir)) return 1;
    // The last line is a command that works when pasted into a shell, from anywhere.
    const std::string where = std::filesystem::absolute(dir, error).lexically_normal().string();
    std::printf("View it with:\n  %s %s && %s sample.q3d\n", kChangeFolder,
                shellWord(error ? dir : where).c_str(), playerCommand().c_str());
    return 0;
}
