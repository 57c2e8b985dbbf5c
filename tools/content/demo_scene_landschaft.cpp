// landschaft: a valley ringed by mountains, with a lake, a patchwork of fields, forests, a
// village, a windmill and a drifting hot-air balloon; twenty cameras fly over it. The ground
// texture is baked from the same height function as the terrain, with sun shading.
#include "content/demo_scenes.h"

#include <algorithm>
#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 8.0;
constexpr float kHalf = 800.0f; // the terrain spans -kHalf..kHalf in x and y
const Vec3 kLake = {-120, 60, 0};
const Vec3 kSun = normalized({0.55f, 0.75f, 0.32f});
const Vec3 kVillage = {150, -110, 0};
const Vec3 kMillSpot = {-330, -210, 0};

float terrainHeight(float x, float y) {
    const float n = fractalNoise(x / 420 + 10, y / 420 + 10, 64, 5, 11);
    float h = 22 + (n - 0.5f) * 110;
    const float edge = std::max(std::fabs(x), std::fabs(y));
    const float peaks = fractalNoise(x / 160 + 3, y / 160 + 3, 64, 5, 23);
    h += smoothstep(470, 790, edge) * (90 + 230 * peaks);
    const float dl = std::sqrt((x - kLake.x) * (x - kLake.x) + (y - kLake.y) * (y - kLake.y));
    h = h + (-14 - h) * smoothstep(235, 105, dl);
    // the village and the mill stand on level ground
    const float dv = std::hypot(x - kVillage.x, y - kVillage.y);
    h = h + (16 - h) * smoothstep(110, 50, dv);
    return h;
}

Vec3 ground(float x, float y, float lift = 0) {
    return {x, y, terrainHeight(x, y) + lift};
}

Vec3 terrainNormal(float x, float y) {
    const float e = 4.0f;
    const float dx = terrainHeight(x + e, y) - terrainHeight(x - e, y);
    const float dy = terrainHeight(x, y + e) - terrainHeight(x, y - e);
    return normalized({-dx, -dy, 2 * e});
}

// Fields: a rotated grid of plots; 0 = no field here, else the crop kind 1..4.
int fieldKind(float x, float y, float* stripe) {
    const float c = std::cos(0.35f), s = std::sin(0.35f);
    const float fx = (x * c + y * s) / 70.0f, fy = (-x * s + y * c) / 46.0f;
    const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
    const float plot =
        pictures::valueNoise(float(ix) * 7.3f + 0.5f, float(iy) * 5.1f + 0.5f, 512, 41);
    *stripe = (fx - float(ix)) * 14.0f + (plot > 0.5f ? 0 : (fy - float(iy)) * 9.0f);
    const float h = terrainHeight(x, y);
    if (std::max(std::fabs(x), std::fabs(y)) > 430 || h < 4 || h > 75) return 0;
    if (1.0f - terrainNormal(x, y).z > 0.05f) return 0;
    if (plot < 0.3f) return 0;
    return 1 + int(plot * 13.0f) % 4;
}

float forestDensity(float x, float y) {
    return fractalNoise(x / 260 + 40, y / 260 + 40, 64, 4, 57);
}

Canvas groundPicture() {
    const int size = 1024;
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float x = -kHalf + 2 * kHalf * (float(col) + 0.5f) / size;
            const float y = kHalf - 2 * kHalf * (float(row) + 0.5f) / size;
            const float h = terrainHeight(x, y);
            const Vec3 n = terrainNormal(x, y);
            const float slope = 1.0f - n.z;
            const float detail = fractalNoise(x / 6, y / 6, 1024, 4, 5);
            const float patch = fractalNoise(x / 60, y / 60, 128, 4, 6);
            Color c = mix({0.28f, 0.42f, 0.14f, 1}, {0.45f, 0.55f, 0.2f, 1}, patch);
            c = mix(c, {0.16f, 0.26f, 0.1f, 1}, smoothstep(0.5f, 0.62f, forestDensity(x, y)));
            float stripe = 0;
            const int kind = fieldKind(x, y, &stripe);
            if (kind) {
                const float band = 0.5f + 0.5f * std::sin(stripe * 2 * kPi);
                const Color crops[4] = {{0.86f, 0.72f, 0.32f, 1},
                                        {0.45f, 0.3f, 0.18f, 1},
                                        {0.38f, 0.6f, 0.18f, 1},
                                        {0.7f, 0.66f, 0.3f, 1}};
                c = mix(crops[kind - 1], mix(crops[kind - 1], {0.2f, 0.15f, 0.1f, 1}, 0.35f),
                        band * 0.6f);
            }
            c = mix(c, {0.45f, 0.42f, 0.38f, 1}, smoothstep(0.18f, 0.32f, slope));
            c = mix(c, {0.93f, 0.95f, 1.0f, 1},
                    smoothstep(210, 250, h + 60 * detail) *
                        (1.0f - smoothstep(0.45f, 0.6f, slope)));
            c = mix(c, {0.76f, 0.7f, 0.52f, 1}, smoothstep(4.5f, 1.5f, h));
            c = mix(c, {0.2f, 0.3f, 0.24f, 1}, smoothstep(-1, -10, h));
            const float light = 0.62f + 0.55f * std::max(0.0f, dot(n, kSun));
            const float grain = 0.85f + 0.3f * detail;
            canvas.at(col, row) = {c.r * light * grain, c.g * light * grain, c.b * light * grain,
                                   1};
        }
    return canvas;
}

Canvas needlesPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 4, float(y) / 14, 64, 4, 71);
            const float v = 0.55f + 0.6f * n;
            canvas.at(x, y) = {0.09f * v, 0.24f * v, 0.13f * v, 1};
        }
    return canvas;
}

Canvas waterPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 16, float(y) / 16, 16, 5, 81);
            const float ripple = 0.5f + 0.5f * std::sin((float(y) / 8 + n * 6));
            canvas.at(x, y) =
                mix({0.13f, 0.3f, 0.42f, 1}, {0.55f, 0.72f, 0.82f, 1}, 0.25f * ripple + 0.35f * n);
        }
    return canvas;
}

Canvas plasterPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 12, float(y) / 12, 21, 4, 91);
            const float v = 0.82f + 0.18f * n;
            canvas.at(x, y) = {0.95f * v, 0.9f * v, 0.8f * v, 1};
        }
    // timber frame and two windows
    const Color beam = {0.3f, 0.2f, 0.12f, 1};
    pictures::fillRoundedRect(canvas, 0, 0, 256, 14, 0, beam);
    pictures::fillRoundedRect(canvas, 0, 242, 256, 256, 0, beam);
    pictures::fillRoundedRect(canvas, 0, 0, 12, 256, 0, beam);
    pictures::fillRoundedRect(canvas, 244, 0, 256, 256, 0, beam);
    pictures::fillCapsule(canvas, 12, 242, 128, 128, 5, beam);
    pictures::fillCapsule(canvas, 244, 242, 128, 128, 5, beam);
    for (float wx : {50.0f, 170.0f}) {
        pictures::fillRoundedRect(canvas, wx - 4, 60, wx + 40, 120, 3, beam);
        pictures::fillRoundedRect(canvas, wx, 64, wx + 36, 116, 2, {0.16f, 0.2f, 0.28f, 1});
        pictures::fillRoundedRect(canvas, wx + 16, 64, wx + 20, 116, 0, beam);
        pictures::fillRoundedRect(canvas, wx, 88, wx + 36, 92, 0, beam);
    }
    return canvas;
}

Canvas roofPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int row = y / 16;
            const int tile = (x + (row % 2) * 8) / 16;
            const float n = pictures::valueNoise(float(tile) * 3.7f, float(row) * 2.3f, 256, 3);
            const float ly = float(y % 16) / 16.0f;
            const float v = (0.7f + 0.3f * n) * (0.65f + 0.35f * ly);
            canvas.at(x, y) = {0.62f * v, 0.22f * v, 0.14f * v, 1};
        }
    return canvas;
}

Canvas balloonPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    const Color colors[4] = {{0.9f, 0.2f, 0.15f, 1},
                             {0.98f, 0.8f, 0.2f, 1},
                             {0.15f, 0.35f, 0.75f, 1},
                             {0.98f, 0.95f, 0.9f, 1}};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int band = (x * 8 / size) % 4;
            Color c = colors[band];
            if (y > 200 && y < 214) c = {0.95f, 0.95f, 0.9f, 1};
            const float seam = float(x % (size / 8)) < 2 ? 0.8f : 1.0f;
            canvas.at(x, y) = {c.r * seam, c.g * seam, c.b * seam, 1};
        }
    return canvas;
}

Canvas sailPicture() {
    const int size = 128;
    Canvas canvas(size, size, {0, 0, 0, 0});
    const Color wood = {0.45f, 0.32f, 0.2f, 1}, cloth = {0.9f, 0.86f, 0.76f, 1};
    pictures::fillRoundedRect(canvas, 20, 4, 124, 124, 2, cloth);
    for (int i = 0; i <= 6; ++i)
        pictures::fillRoundedRect(canvas, 20, 4 + float(i) * 19.5f, 124, 8 + float(i) * 19.5f, 0,
                                  wood);
    for (float x : {20.0f, 71.0f, 120.0f})
        pictures::fillRoundedRect(canvas, x, 4, x + 4, 124, 0, wood);
    pictures::fillRoundedRect(canvas, 0, 56, 24, 72, 0, wood);
    pictures::cutAlpha(canvas);
    return canvas;
}

enum Materials : uint16_t {
    kGround,
    kWater,
    kBark,
    kNeedles,
    kLeaves,
    kPlaster,
    kRoof,
    kBalloon,
    kBasket,
    kGlow,
    kSail,
    kMaterialCount
};

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kGround].texture = "land_ground.jpg";
    m[kWater].texture = "land_water.jpg";
    m[kWater].opacity = 0.72f;
    m[kWater].specularLevel = 0.9f;
    m[kWater].shininess = 0.6f;
    m[kBark].texture = "land_bark.jpg";
    m[kNeedles].texture = "land_needles.jpg";
    m[kLeaves].texture = "land_leaves.png";
    m[kLeaves].flags = 0x2 | 0x8;
    m[kPlaster].texture = "land_plaster.qw2";
    m[kRoof].texture = "land_roof.jpg";
    m[kBalloon].texture = "land_balloon.jpg";
    m[kBalloon].specularLevel = 0.4f;
    m[kBalloon].shininess = 0.3f;
    m[kBasket].texture = "land_bark.jpg";
    m[kGlow].texture = "land_glow.png";
    m[kGlow].flags = 0x20 | 0x8;
    m[kGlow].opacity = 0.9f;
    m[kSail].texture = "land_sail.png";
    m[kSail].flags = 0x2 | 0x8;
    for (sw::MaterialDesc& d : m)
        for (float& a : d.ambient)
            a = 1.0f;
    return m;
}

Vec3 balloonAt(double t) {
    const float f = float(t / kSeconds);
    return {-260 + 330 * f, 230 - 200 * f, 150 + 25 * std::sin(f * kPi)};
}

// Cameras: every one moves for the whole time range. f runs 0..1.
using ShotFn = Shot (*)(float f);

Shot aboveGround(Shot s, float margin) {
    s.eye.z = std::max(s.eye.z, terrainHeight(s.eye.x, s.eye.y) + margin);
    return s;
}

Vec3 millTop() {
    return ground(kMillSpot.x, kMillSpot.y, 20);
}

Vec3 orbit(Vec3 centre, float radius, float angle, float z) {
    return {centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle), z};
}

const ShotFn kShots[20] = {
    // 0: overview turning round the valley
    [](float f) {
        return Shot{orbit({0, 0, 0}, 620, 3.5f + 0.6f * f, 330), {0, 0, 20}, 1.2f};
    },
    // 1: alongside the balloon
    [](float f) {
        const Vec3 b = balloonAt(f * kSeconds);
        return Shot{b + Vec3{-40 + 20 * f, -70, -5}, b + Vec3{0, 0, 8}, 1.0f};
    },
    // 2: along the lake shore
    [](float f) {
        return Shot{orbit(kLake, 280, 1.0f + 0.8f * f, 40), kLake + Vec3{0, 0, 10}, 1.2f};
    },
    // 3: high over the forest toward the mountains
    [](float f) {
        return Shot{{300 - 80 * f, 300 - 150 * f, 200}, {-400, -500, 150}, 1.2f};
    },
    // 4: round the windmill
    [](float f) {
        const Vec3 m = millTop();
        return Shot{orbit(m, 70, 2.3f + 1.4f * f, m.z + 6 - 10 * f), m + Vec3{0, 0, -4}, 1.1f};
    },
    // 5: low and fast over the tree tops
    [](float f) {
        return aboveGround(
            Shot{{-500 + 500 * f, -420 + 180 * f, 0}, {0 + 500 * f, -80 + 160 * f, 10}, 1.25f}, 45);
    },
    // 6: village from the lake
    [](float f) {
        return Shot{{kLake.x + 60 + 70 * f, kLake.y - 80, 14}, kVillage + Vec3{0, 0, 20}, 1.0f};
    },
    // 7: low over the lake toward the windmill
    [](float f) {
        const Vec3 m = millTop();
        return Shot{lerp(kLake + Vec3{120, 160, 12}, kLake + Vec3{-100, -120, 18}, f), m, 1.15f};
    },
    // 8: quick pass by the balloon
    [](float f) {
        const Vec3 b = balloonAt(f * kSeconds);
        return Shot{b + Vec3{60 - 120 * f, -35, 15 - 10 * f}, b + Vec3{0, 0, 8}, 1.2f};
    },
    // 9: quick pass over the village roofs
    [](float f) {
        return Shot{kVillage + Vec3{-90 + 180 * f, -40, 45}, kVillage + Vec3{30 * f, 10, 10},
                    1.25f};
    },
    // 10: wide, slow pan across the valley
    [](float f) {
        return Shot{
            {360 - 40 * f, -300 + 20 * f, 150}, lerp({-360, 120, 20}, {-120, 380, 20}, f), 1.3f};
    },
    // 11: along the shore looking at the village
    [](float f) {
        return Shot{{20 + 60 * f, 40 - 20 * f, 12}, kVillage + Vec3{-20 * f, 0, 14}, 1.05f};
    },
    // 12: rising from behind the trees toward the lake
    [](float f) {
        return Shot{{200, 260, 0 + 30 + 120 * f}, kLake + Vec3{0, 0, -20 * f}, 1.15f};
    },
    // 13: high, toward the sun over the mountains
    [](float f) {
        return Shot{{-300 + 200 * f, -500, 260},
                    Vec3{-300 + 200 * f, -500, 260} + kSun * 900 + Vec3{0, 0, -260},
                    1.3f};
    },
    // 14: a long glide round the whole valley
    [](float f) {
        const float a = -1.3f + 2.6f * f;
        return Shot{orbit({0, 0, 0}, 430, a, 120 + 40 * std::sin(f * kPi)),
                    orbit({0, 0, 0}, 120, a + 1.4f, 20), 1.2f};
    },
    // 15: opening crane: from the water's edge up over the valley
    [](float f) {
        const float e = f * f * (3 - 2 * f);
        return Shot{{kLake.x + 160 - 60 * e, kLake.y + 170 - 80 * e, 10 + 230 * e},
                    {-40 - 250 * e, -160 * e, 30 - 10 * e},
                    1.2f};
    },
    // 16: climbing toward the sun (the demo fades to white here)
    [](float f) {
        const Vec3 eye = {-100 + 120 * f, -200 + 150 * f, 60 + 90 * f};
        return Shot{eye, eye + normalized(kSun + Vec3{0, 0, -0.15f + 0.25f * f}) * 500, 1.2f};
    },
    // 17: a dive from high down to the lake
    [](float f) {
        return Shot{{kLake.x + 250 - 150 * f, kLake.y - 250 + 150 * f, 320 - 290 * f},
                    kLake + Vec3{-40, 40, 0},
                    1.1f};
    },
    // 18: low over the fields
    [](float f) {
        return aboveGround(
            Shot{{-80 + 260 * f, -330 + 70 * f, 0}, {200 + 200 * f, -150 + 60 * f, 20}, 1.2f}, 18);
    },
    // 19: from the mountain rim down into the valley
    [](float f) {
        return Shot{{-640 + 100 * f, 560 - 60 * f, 380 - 60 * f}, {-60 + 80 * f, -40, 10}, 1.15f};
    },
};

SkyLook skyLook() {
    SkyLook sky;
    sky.sun = kSun;
    sky.zenith = {0.2f, 0.38f, 0.72f, 1};
    sky.horizon = {0.78f, 0.82f, 0.86f, 1};
    sky.ground = {0.3f, 0.33f, 0.25f, 1};
    sky.hill = {0.42f, 0.46f, 0.5f, 1};
    sky.hillHeight = 0.035f;
    sky.cloudCover = 0.45f;
    sky.seed = 19;
    return sky;
}

void addPictures(std::vector<PictureJob>& pictures) {
    pictures.push_back({"land_ground.jpg", groundPicture});
    pictures.push_back({"land_needles.jpg", needlesPicture});
    pictures.push_back({"land_bark.jpg", [] {
                            return barkPicture(128, {0.45f, 0.36f, 0.28f, 1}, 3);
                        }});
    pictures.push_back(
        {"land_leaves.png", [] {
             return leafClusterPicture(256, {0.5f, 0.68f, 0.22f, 1}, {0.12f, 0.3f, 0.08f, 1}, 5);
         }});
    pictures.push_back({"land_water.jpg", waterPicture});
    pictures.push_back({"land_plaster.qw2", plasterPicture, false, 3.0f});
    pictures.push_back({"land_roof.jpg", roofPicture});
    pictures.push_back({"land_balloon.jpg", balloonPicture});
    pictures.push_back({"land_glow.png", [] { return glowPicture(64, {1.0f, 0.7f, 0.3f, 1}); }});
    pictures.push_back({"land_sail.png", sailPicture});
}

// Terrain in four quarters, so the visibility track can drop the ones behind a camera.
void addTerrain(sw::Scene& scene) {
    for (int q = 0; q < 4; ++q) {
        const float x0 = q % 2 ? 0 : -kHalf, y0 = q / 2 ? 0 : -kHalf;
        sw::Mesh quarter = heightField(36, 36, x0, y0, kHalf, kHalf, terrainHeight, kGround);
        for (sw::Vertex& v : quarter.vertices) {
            v.u = (v.x + kHalf) / (2 * kHalf);
            v.v = (v.y + kHalf) / (2 * kHalf);
        }
        scene.tracks.push_back(sw::objectTrack("terrain", {sw::meshKey(0, quarter)}));
    }
}

// The lake: gentle waves and drifting ripples, raw vertices.
void addLake(sw::Scene& scene) {
    const int cells = 20;
    const float size = 520;
    auto water = [&](double t) {
        sw::Mesh mesh = heightField(
            cells, cells, kLake.x - size / 2, kLake.y - size / 2, size, size,
            [](float, float) { return 0.0f; }, kWater, 6);
        const float w = float(2 * kPi * t / kSeconds);
        for (sw::Vertex& v : mesh.vertices) {
            v.z = 0.6f * std::sin(v.x / 30 + w) * std::cos(v.y / 40 - w);
            v.u += float(t) * 0.02f;
            v.v += float(t) * 0.035f;
        }
        return mesh;
    };
    const sw::Mesh first = water(0);
    std::vector<sw::Key> keys = {sw::meshKey(0, first)};
    for (int i = 1; i <= int(kSeconds); ++i)
        keys.push_back(sw::morphKey(i, {}, water(i).vertices, true, 0));
    scene.tracks.push_back(sw::objectTrack("lake", keys));
}

// Forests, batched by region.
void addForests(sw::Scene& scene) {
    const int regions = 3;
    std::vector<MeshBatch> trunks(regions * regions), needles(regions * regions),
        crowns(regions * regions);
    for (int i = 0; i < regions * regions; ++i) {
        trunks[size_t(i)].prototype.materialIndex = kBark;
        needles[size_t(i)].prototype.materialIndex = kNeedles;
        crowns[size_t(i)].prototype.materialIndex = kLeaves;
        trunks[size_t(i)].prototype.hasUV = needles[size_t(i)].prototype.hasUV =
            crowns[size_t(i)].prototype.hasUV = true;
    }
    pictures::Random random(2024);
    const float spacing = 26;
    int placed = 0;
    for (float gy = -kHalf + 20; gy < kHalf - 20; gy += spacing)
        for (float gx = -kHalf + 20; gx < kHalf - 20; gx += spacing) {
            const float x = gx + random.range(-12, 12), y = gy + random.range(-12, 12);
            const float pick = random.uniform();
            const float h = terrainHeight(x, y);
            float stripe;
            if (forestDensity(x, y) < 0.52f + 0.1f * pick || h < 5 || h > 300) continue;
            if (1.0f - terrainNormal(x, y).z > 0.3f || fieldKind(x, y, &stripe)) continue;
            if (std::hypot(x - kVillage.x, y - kVillage.y) < 70) continue;
            if (std::hypot(x - kMillSpot.x, y - kMillSpot.y) < 40) continue;
            const int region =
                std::min(regions - 1, int((x + kHalf) / (2 * kHalf) * regions)) +
                regions * std::min(regions - 1, int((y + kHalf) / (2 * kHalf) * regions));
            const float size = random.range(16, 27);
            const sw::Matrix12 place = pose({x, y, h}, random.range(0, 2 * kPi));
            const bool conifer = h > 80 || pick < 0.45f;
            addToBatch(trunks[size_t(region)],
                       trunkMesh(size * (conifer ? 0.4f : 0.55f), size * 0.04f, kBark), place);
            if (conifer)
                addToBatch(needles[size_t(region)],
                           coniferMesh(size * 1.2f, kNeedles, uint32_t(placed)), place);
            else
                addToBatch(crowns[size_t(region)],
                           broadleafCrownMesh(size, kLeaves, uint32_t(placed)), place);
            ++placed;
        }
    for (auto* batches : {&trunks, &needles, &crowns})
        for (const MeshBatch& b : *batches)
            for (const sw::Mesh& mesh : b.meshes)
                if (!mesh.faces.empty())
                    scene.tracks.push_back(sw::objectTrack("trees", {sw::meshKey(0, mesh)}));
}

void addVillage(sw::Scene& scene) {
    MeshBatch walls, roofs;
    walls.prototype.materialIndex = kPlaster;
    roofs.prototype.materialIndex = kRoof;
    walls.prototype.hasUV = roofs.prototype.hasUV = true;
    pictures::Random random(77);
    for (int i = 0; i < 11; ++i) {
        const float a = float(i) * 2.4f, r = 18 + 5.5f * float(i);
        const Vec3 at = ground(kVillage.x + r * std::cos(a), kVillage.y + r * std::sin(a));
        addHouse(walls, roofs, at, a + random.range(-0.2f, 0.2f), random.range(9, 13),
                 random.range(7, 9), random.range(6, 8), kPlaster, kRoof);
    }
    // the church tower
    const Vec3 c = ground(kVillage.x, kVillage.y);
    addHouse(walls, roofs, c, 0.3f, 7, 7, 26, kPlaster, kRoof);
    for (const sw::Mesh& mesh : walls.meshes)
        scene.tracks.push_back(sw::objectTrack("houses", {sw::meshKey(0, mesh)}));
    for (const sw::Mesh& mesh : roofs.meshes)
        scene.tracks.push_back(sw::objectTrack("roofs", {sw::meshKey(0, mesh)}));
}

// A white tower with a turning cross of sails.
void addWindmill(sw::Scene& scene) {
    const Vec3 base = ground(kMillSpot.x, kMillSpot.y, -1);
    sw::Mesh tower =
        lathe({{6.5f, 0}, {5.2f, 12}, {4.2f, 19}, {4.6f, 19.2f}, {0.3f, 24}}, 12, kPlaster, 3);
    tower.transform = pose(base, 0);
    scene.tracks.push_back(sw::objectTrack("mill", {sw::meshKey(0, tower)}));
    sw::Mesh sails;
    sails.materialIndex = kSail;
    sails.hasUV = true;
    for (int i = 0; i < 4; ++i) {
        // a sail in the XZ plane from the hub outward along +Z, turned about Y
        sw::Mesh blade = card(5, 17, kSail);
        appendMesh(sails, blade,
                   frame({std::cos(i * kPi / 2), 0, -std::sin(i * kPi / 2)}, {0, 1, 0},
                         {std::sin(i * kPi / 2), 0, std::cos(i * kPi / 2)}, {0, 0, 0}));
    }
    const Vec3 hub = base + Vec3{0, -5.5f, 20};
    scene.tracks.push_back(movingObject("sails", sails, kSeconds, 0.125, [hub](double t) {
        const float a = float(t) * 1.1f;
        // axis along -Y (facing the valley); rotate about it
        return frame({std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}, hub);
    }));
}

// The balloon, its basket and burner glow.
void addBalloon(sw::Scene& scene) {
    sw::Mesh envelope = lathe({{0.5f, -2},
                               {3.5f, 0},
                               {7.5f, 5},
                               {9.5f, 10},
                               {9.6f, 13},
                               {8.3f, 17},
                               {5.5f, 20},
                               {0.4f, 21.5f}},
                              16, kBalloon, 1);
    scene.tracks.push_back(movingObject("balloon", envelope, kSeconds, 0.5, [](double t) {
        return pose(balloonAt(t), float(t) * 0.15f);
    }));
    sw::Mesh basket = sw::boxMesh(1.4f, 1.4f, 1.0f, kBasket);
    scene.tracks.push_back(movingObject("basket", basket, kSeconds, 0.5, [](double t) {
        return pose(balloonAt(t) + Vec3{0, 0, -6}, float(t) * 0.15f);
    }));
    sw::Mesh glow;
    glow.materialIndex = kGlow;
    glow.hasUV = true;
    for (int i = 0; i < 3; ++i)
        appendMesh(glow, card(4, 4, kGlow), pose({0, 0, -2}, float(i) * kPi / 3));
    scene.tracks.push_back(movingObject("burner", glow, kSeconds, 0.5, [](double t) {
        return pose(balloonAt(t) + Vec3{0, 0, -3.5f}, 0);
    }));
}

} // namespace

BuiltScene buildLandschaft() {
    BuiltScene out = startDemoScene(Landschaft, kSeconds, {0.62f, 0.7f, 0.8f, 1},
                                    {0.36f, 0.37f, 0.42f, 1}, "land_sky", skyLook(), 512);
    addPictures(out.pictures);
    sw::Scene& scene = out.scene;
    addTerrain(scene);
    addLake(scene);
    addForests(scene);
    addVillage(scene);
    addWindmill(scene);
    addBalloon(scene);
    scene.tracks.push_back(steadyLight("sun", kSun * 6000, {1.0f, 0.93f, 0.82f, 1}, 0));
    scene.tracks.push_back(
        steadyLight("sky", Vec3{-0.4f, -0.5f, 0.8f} * 6000, {0.22f, 0.26f, 0.34f, 1}, 0));
    for (int c = 0; c < 20; ++c)
        scene.tracks.push_back(cameraShot(
            "camera", kSeconds, [c](double t) { return kShots[c](float(t / kSeconds)); }));
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
