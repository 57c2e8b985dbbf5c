// fluss: a river winding through a wooded valley in the morning: flowing water (morph keys
// that move the texture downstream), stones in and along the stream, swaying reeds, a wooden
// footbridge. Twelve cameras.
#include "content/demo_scenes.h"

#include <algorithm>
#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 7.0;
constexpr float kHalfX = 300, kHalfY = 250;
constexpr float kRiverHalfWidth = 12;
const Vec3 kSun = normalized({0.7f, -0.45f, 0.42f});
constexpr float kBridgeX = 40;

enum Materials : uint16_t {
    kGround,
    kWater,
    kStone,
    kReeds,
    kBark,
    kNeedles,
    kLeaves,
    kPlanks,
    kGlint,
    kMaterialCount
};

float riverY(float x) {
    return 35 * std::sin(x / 90) + 15 * std::sin(x / 37 + 1);
}

float valleyHeight(float x, float y) {
    const float d = std::fabs(y - riverY(x));
    float h = -2.5f + 3.5f * smoothstep(kRiverHalfWidth - 3, kRiverHalfWidth + 6, d);
    h += std::pow(std::max(0.0f, d - 18), 1.25f) * 0.22f;
    h += (fractalNoise(x / 70 + 3, y / 70 + 3, 64, 5, 61) - 0.5f) * 14 * smoothstep(15, 60, d);
    return h;
}

Vec3 terrainNormal(float x, float y) {
    const float e = 1.5f;
    return normalized({valleyHeight(x - e, y) - valleyHeight(x + e, y),
                       valleyHeight(x, y - e) - valleyHeight(x, y + e), 2 * e});
}

Canvas groundPicture() {
    const int size = 1024;
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float x = -kHalfX + 2 * kHalfX * (float(col) + 0.5f) / size;
            const float y = kHalfY - 2 * kHalfY * (float(row) + 0.5f) / size;
            const float h = valleyHeight(x, y);
            const Vec3 n = terrainNormal(x, y);
            const float d = std::fabs(y - riverY(x));
            const float detail = fractalNoise(x / 3, y / 3, 1024, 4, 62);
            const float patch = fractalNoise(x / 25, y / 25, 128, 4, 63);
            Color c = mix({0.25f, 0.4f, 0.12f, 1}, {0.42f, 0.5f, 0.18f, 1}, patch);
            c = mix(c, {0.17f, 0.28f, 0.1f, 1},
                    smoothstep(0.5f, 0.65f, fractalNoise(x / 90, y / 90, 64, 3, 64)));
            const float pebbles = 0.7f + 0.5f * fractalNoise(x * 1.3f, y * 1.3f, 4096, 2, 65);
            c = mix(c, {0.62f * pebbles, 0.58f * pebbles, 0.5f * pebbles, 1},
                    smoothstep(kRiverHalfWidth + 7, kRiverHalfWidth + 2, d + 3 * detail));
            c = mix(c, {0.26f, 0.24f, 0.18f, 1}, smoothstep(0, -2, h));
            c = mix(c, {0.48f, 0.45f, 0.4f, 1}, smoothstep(0.3f, 0.45f, 1 - n.z));
            const float light = 0.65f + 0.5f * std::max(0.0f, dot(n, kSun));
            const float grain = 0.85f + 0.3f * detail;
            canvas.at(col, row) = {c.r * light * grain, c.g * light * grain, c.b * light * grain,
                                   1};
        }
    return canvas;
}

Canvas waterPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 20, float(y) / 6, 13, 5, 66);
            const float streak =
                smoothstep(0.62f, 0.78f, fractalNoise(float(x) / 10, float(y) / 40, 26, 4, 67));
            Color c = mix({0.1f, 0.26f, 0.3f, 1}, {0.35f, 0.55f, 0.58f, 1}, n);
            c = mix(c, {0.75f, 0.85f, 0.86f, 1}, streak * 0.45f);
            canvas.at(x, y) = c;
        }
    return canvas;
}

// Drawn at four times the scale of its layout's numbers: the camera among the reeds holds a blade
// a hand's breadth from the lens.
Canvas reedPicture() {
    constexpr float s = 4;
    const int w = int(128 * s), h = int(256 * s);
    Canvas canvas(w, h, {0, 0, 0, 0});
    pictures::Random random(68);
    for (int i = 0; i < 26; ++i) {
        const float x0 = s * random.range(10, 118), lean = s * random.range(-25, 25),
                    top = s * random.range(10, 90);
        const Color stem = mix({0.3f, 0.42f, 0.15f, 1}, {0.6f, 0.62f, 0.3f, 1}, random.uniform());
        for (int k = 0; k < 10; ++k) {
            const float f0 = float(k) / 10, f1 = float(k + 1) / 10;
            pictures::fillCapsule(canvas, x0 + lean * f0 * f0, h + (top - h) * f0,
                                  x0 + lean * f1 * f1, h + (top - h) * f1, s * 1.8f * (1.2f - f0),
                                  stem);
        }
        if (i % 3 == 0) // a bulrush head
            pictures::fillCapsule(canvas, x0 + lean * 0.8f, h + (top - h) * 0.85f, x0 + lean * 0.9f,
                                  h + (top - h) * 0.95f, s * 3.5f, {0.4f, 0.25f, 0.12f, 1});
    }
    pictures::cutAlpha(canvas);
    return canvas;
}

Canvas planksPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int plank = x / 32;
            const float grain =
                fractalNoise(float(x) / 3 + float(plank) * 11, float(y) / 30, 256, 4, 69);
            const float v = 0.5f + 0.35f * grain + 0.05f * float(plank % 3);
            Color c = {0.55f * v, 0.4f * v, 0.26f * v, 1};
            if (x % 32 < 2) c = {0.12f, 0.08f, 0.05f, 1};
            canvas.at(x, y) = c;
        }
    return canvas;
}

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kGround].texture = "fluss_ground.jpg";
    m[kWater].texture = "fluss_water.jpg";
    m[kWater].opacity = 0.8f;
    m[kWater].specularLevel = 1.0f;
    m[kWater].shininess = 0.5f;
    m[kStone].texture = "fluss_stone.qw2";
    m[kStone].specularLevel = 0.3f;
    m[kStone].shininess = 0.2f;
    m[kReeds].texture = "fluss_reeds.png";
    m[kReeds].flags = 0x2 | 0x8;
    m[kBark].texture = "land_bark.jpg";
    m[kNeedles].texture = "land_needles.jpg";
    m[kLeaves].texture = "land_leaves.png";
    m[kLeaves].flags = 0x2 | 0x8;
    m[kPlanks].texture = "fluss_planks.qw2";
    m[kGlint].texture = "fluss_glint.png";
    m[kGlint].flags = 0x20 | 0x8;
    m[kGlint].opacity = 0.8f;
    for (sw::MaterialDesc& d : m)
        for (float& a : d.ambient)
            a = 1.0f;
    return m;
}

// The water surface: a strip along the river; texture flows downstream (toward -x), two
// whole texture lengths per loop so the end meets the start.
std::vector<sw::Vertex> waterVertices(double t, int segments) {
    std::vector<sw::Vertex> out;
    const float flow = float(2.0 * t / kSeconds);
    const float w = float(2 * kPi * t / kSeconds);
    for (int i = 0; i <= segments; ++i) {
        const float x = -kHalfX + 2 * kHalfX * float(i) / float(segments);
        const float cy = riverY(x);
        for (int j = 0; j <= 4; ++j) {
            const float across = -1 + 0.5f * float(j);
            const float y = cy + across * (kRiverHalfWidth + 2);
            const float z = -0.6f + 0.12f * std::sin(x / 6 + 3 * w) * std::cos(y / 5 - 2 * w);
            out.push_back({x, y, z, 1.5f * (across + 1), x / 30 + flow});
        }
    }
    return out;
}

SkyLook skyLook() {
    SkyLook sky;
    sky.sun = kSun;
    sky.zenith = {0.3f, 0.45f, 0.7f, 1};
    sky.horizon = {0.86f, 0.87f, 0.84f, 1};
    sky.sunGlow = {1.0f, 0.9f, 0.7f, 1};
    sky.cloudCover = 0.6f;
    sky.hill = {0.32f, 0.4f, 0.34f, 1};
    sky.ground = {0.25f, 0.32f, 0.2f, 1};
    sky.hillHeight = 0.06f;
    sky.seed = 37;
    return sky;
}

void addPictures(std::vector<PictureJob>& pictures) {
    pictures.push_back({"fluss_ground.jpg", groundPicture});
    pictures.push_back({"fluss_water.jpg", waterPicture});
    pictures.push_back({"fluss_stone.qw2",
                        [] {
                            return stonePicture(256, {0.62f, 0.6f, 0.56f, 1}, 71);
                        },
                        false, 3.0f});
    pictures.push_back({"fluss_reeds.png", reedPicture});
    pictures.push_back({"fluss_planks.qw2", planksPicture, false, 3.0f});
    pictures.push_back({"fluss_glint.png", [] { return glowPicture(32, {1.0f, 1.0f, 0.9f, 1}); }});
}

void addValley(sw::Scene& scene) {
    for (int part = 0; part < 3; ++part) {
        const float x0 = -kHalfX + float(part) * 2 * kHalfX / 3;
        sw::Mesh ground =
            heightField(24, 60, x0, -kHalfY, 2 * kHalfX / 3, 2 * kHalfY, valleyHeight, kGround);
        for (sw::Vertex& v : ground.vertices) {
            v.u = (v.x + kHalfX) / (2 * kHalfX);
            v.v = (v.y + kHalfY) / (2 * kHalfY);
        }
        scene.tracks.push_back(sw::objectTrack("valley", {sw::meshKey(0, ground)}));
    }
}

void addRiver(sw::Scene& scene) {
    const int segments = 90;
    sw::Mesh water;
    water.materialIndex = kWater;
    water.hasUV = true;
    water.encoding = 1;
    water.vertices = waterVertices(0, segments);
    for (int i = 0; i < segments; ++i)
        for (int j = 0; j < 4; ++j) {
            const uint16_t a = uint16_t(i * 5 + j);
            water.faces.push_back({a, uint16_t(a + 5), uint16_t(a + 6)});
            water.faces.push_back({a, uint16_t(a + 6), uint16_t(a + 1)});
        }
    std::vector<sw::Key> keys = {sw::meshKey(0, water)};
    for (int i = 1; i <= int(kSeconds * 2); ++i)
        keys.push_back(sw::morphKey(i * 0.5, {}, waterVertices(i * 0.5, segments), true, 1));
    scene.tracks.push_back(sw::objectTrack("river", keys));
}

void addStones(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh stones;
    stones.materialIndex = kStone;
    stones.hasUV = true;
    for (int i = 0; i < 70; ++i) {
        const float x = random.range(-kHalfX + 10, kHalfX - 10);
        const float side = random.uniform() < 0.5f ? -1.0f : 1.0f;
        const float off = i % 4 == 0 ? random.range(-8, 8) : side * random.range(9, 20);
        const float y = riverY(x) + off;
        const float r = random.range(0.5f, 2.2f);
        const sw::Mesh one = flatten(rock(r, random.range(0.9f, 1.4f), random.range(0.8f, 1.2f),
                                          0.6f, 0.6f, uint32_t(i), kStone));
        appendMesh(
            stones, one,
            pose({x, y, std::max(valleyHeight(x, y), -1.0f) + 0.1f}, random.range(0, 2 * kPi)));
    }
    scene.tracks.push_back(sw::objectTrack("stones", {sw::meshKey(0, stones)}));
}

// Reeds along both banks, bending in the breeze.
void addReeds(sw::Scene& scene, pictures::Random& random) {
    struct Clump {
        Vec3 at;
        float heading, size, phase;
    };
    std::vector<Clump> clumps;
    for (int i = 0; i < 170; ++i) {
        const float x = random.range(-kHalfX + 5, kHalfX - 5);
        const float side = random.uniform() < 0.5f ? -1.0f : 1.0f;
        const float y = riverY(x) + side * random.range(kRiverHalfWidth - 1, kRiverHalfWidth + 6);
        clumps.push_back({{x, y, valleyHeight(x, y) - 0.3f},
                          random.range(0, 2 * kPi),
                          random.range(2.0f, 3.2f),
                          random.range(0, 2 * kPi)});
    }
    auto reeds = [&](double t) {
        std::vector<sw::Vertex> vs;
        const float w = float(2 * kPi * t / kSeconds);
        for (const Clump& c : clumps) {
            sw::Mesh one = card(c.size * 0.8f, c.size * 1.6f, kReeds);
            const float sway = 0.35f * std::sin(2 * w + c.phase + c.at.x * 0.05f);
            for (sw::Vertex& v : one.vertices) {
                const float up = v.z / (c.size * 1.6f);
                v.x += sway * up * up * c.size;
            }
            const sw::Matrix12 place = pose(c.at, c.heading);
            for (sw::Vertex v : one.vertices) {
                const Vec3 p = transformPoint(place, {v.x, v.y, v.z});
                vs.push_back({p.x, p.y, p.z, v.u, v.v});
            }
        }
        return vs;
    };
    sw::Mesh mesh;
    mesh.materialIndex = kReeds;
    mesh.hasUV = true;
    mesh.encoding = 1;
    mesh.vertices = reeds(0);
    for (size_t i = 0; i < clumps.size(); ++i) {
        const uint16_t a = uint16_t(4 * i);
        mesh.faces.push_back({a, uint16_t(a + 1), uint16_t(a + 2)});
        mesh.faces.push_back({a, uint16_t(a + 2), uint16_t(a + 3)});
    }
    std::vector<sw::Key> keys = {sw::meshKey(0, mesh)};
    for (int i = 1; i <= int(kSeconds * 2); ++i)
        keys.push_back(sw::morphKey(i * 0.5, {}, reeds(i * 0.5), true, 1));
    scene.tracks.push_back(sw::objectTrack("reeds", keys));
}

// Woods on the slopes.
void addWoods(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh trunks, needles, crowns;
    trunks.materialIndex = kBark;
    needles.materialIndex = kNeedles;
    crowns.materialIndex = kLeaves;
    trunks.hasUV = needles.hasUV = crowns.hasUV = true;
    int placed = 0;
    for (int i = 0; i < 900 && placed < 260; ++i) {
        const float x = random.range(-kHalfX + 10, kHalfX - 10),
                    y = random.range(-kHalfY + 10, kHalfY - 10);
        const float d = std::fabs(y - riverY(x));
        if (d < 26 || fractalNoise(x / 80, y / 80, 64, 3, 72) < 0.42f) continue;
        const float h = random.range(12, 22);
        const sw::Matrix12 place = pose({x, y, valleyHeight(x, y)}, random.range(0, 2 * kPi));
        appendMesh(trunks, trunkMesh(h * 0.5f, h * 0.035f, kBark), place);
        if (random.uniform() < 0.55f)
            appendMesh(needles, coniferMesh(h * 1.2f, kNeedles, uint32_t(i)), place);
        else
            appendMesh(crowns, broadleafCrownMesh(h, kLeaves, uint32_t(i)), place);
        ++placed;
    }
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, trunks)}));
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, needles)}));
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, crowns)}));
}

// The footbridge across the stream, standing at bridge.
void addBridge(sw::Scene& scene, Vec3 bridge) {
    const float slope =
        std::atan(std::cos(kBridgeX / 90) * 35 / 90 + std::cos(kBridgeX / 37 + 1) * 15 / 37);
    const float heading = slope + kPi / 2; // across the stream
    sw::Mesh wood;
    wood.materialIndex = kPlanks;
    wood.hasUV = true;
    const sw::Matrix12 place = pose(bridge, heading);
    appendMesh(wood, sw::boxMesh(17, 1.4f, 0.18f, kPlanks), place);
    for (float side : {-1.3f, 1.3f}) {
        appendMesh(wood, sw::boxMesh(17, 0.08f, 0.08f, kPlanks),
                   compose(place, pose({0, side, 1.1f}, 0)));
        for (int p = -4; p <= 4; ++p)
            appendMesh(wood, sw::boxMesh(0.1f, 0.1f, 0.8f, kPlanks),
                       compose(place, pose({float(p) * 4.2f, side, 0.4f}, 0)));
    }
    for (float end : {-11.0f, 11.0f})
        appendMesh(wood, sw::boxMesh(0.3f, 0.3f, 1.5f, kPlanks),
                   compose(place, pose({end, 0, -1.4f}, 0)));
    scene.tracks.push_back(sw::objectTrack("bridge", {sw::meshKey(0, wood)}));
}

// Sun glints dancing on the water.
void addGlints(sw::Scene& scene, pictures::Random& random) {
    for (int i = 0; i < 10; ++i) {
        const float x0 = random.range(-120, 160), phase = random.range(0, 2 * kPi);
        sw::Mesh glint;
        glint.materialIndex = kGlint;
        glint.hasUV = true;
        for (int k = 0; k < 2; ++k)
            appendMesh(glint, card(1.2f, 1.2f, kGlint), pose({0, 0, -0.6f}, float(k) * kPi / 2));
        scene.tracks.push_back(movingObject("glint", glint, kSeconds, 0.25, [=](double t) {
            const float x = x0 - float(t) * 3;
            const float w = float(2 * kPi * t / kSeconds);
            return pose({x, riverY(x) + 5 * std::sin(phase + w), -0.45f}, 0, 0,
                        0.6f + 0.5f * std::sin(3 * w + phase));
        }));
    }
}

void addCameras(sw::Scene& scene, Vec3 bridge) {
    auto onRiver = [](float x, float across, float z) { return Vec3{x, riverY(x) + across, z}; };
    std::vector<std::function<Shot(float)>> shots = {
        // 0: low over the water, flying upstream
        [=](float f) {
            return Shot{onRiver(-150 + 110 * f, 0, 2.5f), onRiver(-110 + 110 * f, 0, 0.5f), 1.2f};
        },
        // 1: dolly along the bank through the reeds
        [=](float f) {
            return Shot{onRiver(-40 + 30 * f, -17, 2.2f), onRiver(-10 + 30 * f, 2, 0), 1.15f};
        },
        // 2: over the tree tops on the slope, looking into the valley
        [=](float f) {
            return Shot{onRiver(-100 + 90 * f, -70, 30), onRiver(-40 + 90 * f, 0, 0), 1.2f};
        },
        // 3: opening: high over the valley, drifting down its length
        [=](float f) {
            return Shot{onRiver(-270 + 120 * f, 0, 38 - 12 * f), onRiver(-150 + 130 * f, 0, 0),
                        1.25f};
        },
        // 4: close among the reeds
        [=](float f) {
            return Shot{onRiver(95 + 12 * f, 14.5f, 1.4f), onRiver(110 + 10 * f, 5, 0.5f), 1.05f};
        },
        // 5: the rapids close up
        [=](float f) {
            return Shot{onRiver(-70 + 10 * f, 6 - 3 * f, 1.6f), onRiver(-90, -2, -0.5f), 1.1f};
        },
        // 6: crane up from the water to the bridge
        [=](float f) {
            return Shot{onRiver(kBridgeX - 30, -4, 1.2f + 14 * f), bridge, 1.15f};
        },
        // 7: round the bridge
        [=](float f) {
            const float a = 2.4f + 1.2f * f;
            return Shot{bridge + Vec3{26 * std::cos(a), 26 * std::sin(a), 5}, bridge, 1.15f};
        },
        // 8: rising away over the valley (the demo fades to black)
        [=](float f) {
            return Shot{onRiver(150 + 40 * f, -30, 8 + 70 * f), onRiver(40 - 60 * f, 0, 0), 1.2f};
        },
        // 9: standing on the bridge, turning
        [=](float f) {
            return Shot{bridge + Vec3{0, 0, 2.2f}, onRiver(-20 + 60 * f, 0, 0), 1.2f};
        },
        // 10: skimming the water past stones
        [=](float f) {
            return Shot{onRiver(200 - 60 * f, -4, 1.3f), onRiver(150 - 60 * f, 3, 0), 1.2f};
        },
        // 11: from the bridge looking downstream
        [=](float f) {
            return Shot{bridge + Vec3{-2, 0, 3.5f - f}, onRiver(-40 - 20 * f, 0, -1), 1.15f};
        },
    };
    for (const auto& at : shots)
        scene.tracks.push_back(cameraShot("camera", kSeconds, [at](double t) {
            Shot s = at(float(t / kSeconds));
            s.eye.z = std::max(s.eye.z, valleyHeight(s.eye.x, s.eye.y) + 2.5f);
            return s;
        }));
}

} // namespace

BuiltScene buildFluss() {
    BuiltScene out = startDemoScene(Fluss, kSeconds, {0.7f, 0.76f, 0.78f, 1},
                                    {0.36f, 0.38f, 0.4f, 1}, "fluss_sky", skyLook(), 512);
    addPictures(out.pictures);
    sw::Scene& scene = out.scene;
    addValley(scene);
    addRiver(scene);
    // One generator for all that is placed at random: the steps' order is its draws' order.
    pictures::Random random(4711);
    addStones(scene, random);
    addReeds(scene, random);
    addWoods(scene, random);
    const Vec3 bridge = {kBridgeX, riverY(kBridgeX), 1.6f};
    addBridge(scene, bridge);
    addGlints(scene, random);
    scene.tracks.push_back(steadyLight("sun", kSun * 5000, {1.0f, 0.94f, 0.84f, 1}, 0));
    scene.tracks.push_back(
        steadyLight("sky", Vec3{-0.5f, 0.6f, 0.6f} * 5000, {0.24f, 0.3f, 0.38f, 1}, 0));
    addCameras(scene, bridge);
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
