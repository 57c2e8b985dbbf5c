// kraniche: a V of cranes flying over a marsh at sunset. Each crane beats its wings through
// raw morph keys in its own frame; the keys' transforms carry it along the flight path.
// Four cameras.
#include "content/demo_scenes.h"

#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 6.0;
constexpr double kBeatSeconds = 1.2;
constexpr float kSpeed = 13.0f; // metres per second along +x
constexpr float kHalf = 800;
const Vec3 kSun = normalized({0.9f, 0.25f, 0.09f});

enum Materials : uint16_t { kMarsh, kWater, kCrane, kReeds, kMaterialCount };

float marshHeight(float x, float y) {
    const float n = fractalNoise(x / 120 + 9, y / 120 + 9, 64, 5, 91);
    const float far = smoothstep(500, 790, std::max(std::fabs(x), std::fabs(y)));
    return (n - 0.47f) * 9 + far * 60 * fractalNoise(x / 90, y / 90, 64, 3, 92);
}

Canvas marshPicture() {
    const int size = 1024;
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float x = -kHalf + 2 * kHalf * (float(col) + 0.5f) / size;
            const float y = kHalf - 2 * kHalf * (float(row) + 0.5f) / size;
            const float h = marshHeight(x, y);
            const float n = fractalNoise(x / 8, y / 8, 1024, 4, 93);
            Color c = mix({0.4f, 0.38f, 0.16f, 1}, {0.62f, 0.5f, 0.25f, 1}, n);
            c = mix(c, {0.22f, 0.28f, 0.12f, 1},
                    smoothstep(0.55f, 0.7f, fractalNoise(x / 40, y / 40, 256, 3, 94)));
            c = mix(c, {0.25f, 0.2f, 0.12f, 1}, smoothstep(0.8f, -0.4f, h));
            canvas.at(col, row) = c;
        }
    return canvas;
}

Canvas sunsetWaterPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 32, float(y) / 8, 8, 5, 95);
            canvas.at(x, y) =
                mix({0.35f, 0.3f, 0.4f, 1}, {0.95f, 0.62f, 0.35f, 1}, 0.3f + 0.5f * n);
        }
    return canvas;
}

// The crane's feathers: body grey on the left half, the wing (grey coverts, black flight
// feathers with a serrated edge) on the right half.
Canvas cranePicture() {
    const int size = 256;
    Canvas canvas(size, size, {0, 0, 0, 0});
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size / 2; ++x) {
            const float n = fractalNoise(float(x) / 6, float(y) / 3, 64, 3, 96);
            const float v = 0.55f + 0.15f * n;
            canvas.at(x, y) = {v, v, v * 1.05f, 1};
        }
    // head region: black neck top, red crown
    pictures::fillRoundedRect(canvas, 0, 0, 128, 24, 0, {0.08f, 0.08f, 0.09f, 1});
    pictures::fillRoundedRect(canvas, 40, 0, 90, 8, 0, {0.75f, 0.1f, 0.08f, 1});
    for (int y = 0; y < size; ++y)
        for (int x = size / 2; x < size; ++x) {
            const float u = float(x - size / 2) / float(size / 2); // 0 at the body, 1 at the tip
            const float v = float(y) / float(size);                // 0 leading edge, 1 trailing
            const float feather = 0.5f + 0.5f * std::sin(u * 40);
            const float edge = 0.82f + 0.12f * feather;
            if (v > edge) continue;
            const float dark = smoothstep(0.5f, 0.62f, u) * smoothstep(0.3f, 0.5f, v);
            const float n = fractalNoise(float(x) / 4, float(y) / 12, 64, 3, 97);
            const Color grey = {0.6f + 0.1f * n, 0.6f + 0.1f * n, 0.64f + 0.1f * n, 1};
            canvas.at(x, y) = mix(grey, {0.07f, 0.07f, 0.08f, 1}, dark);
        }
    pictures::cutAlpha(canvas);
    return canvas;
}

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kMarsh].texture = "kraniche_marsh.jpg";
    m[kWater].texture = "kraniche_water.jpg";
    m[kWater].opacity = 0.75f;
    m[kWater].specularLevel = 1.0f;
    m[kWater].shininess = 0.4f;
    m[kCrane].texture = "kraniche_crane.png";
    m[kCrane].flags = 0x2 | 0x8;
    m[kCrane].specularLevel = 0.2f;
    m[kReeds].texture = "fluss_reeds.png";
    m[kReeds].flags = 0x2 | 0x8;
    for (sw::MaterialDesc& d : m)
        for (float& a : d.ambient)
            a = 1.0f;
    return m;
}

// Adds a part with its texture coordinates squeezed into the given u range.
void addPart(sw::Mesh& crane, sw::Mesh part, const sw::Matrix12& place, float u0, float u1) {
    for (sw::Vertex& v : part.vertices)
        v.u = u0 + (u1 - u0) * (v.u - std::floor(v.u * 0.999f));
    appendMesh(crane, part, place);
}

// One crane in its own frame (flying along +x, z up), wings at flap angle.
sw::Mesh craneMesh(float flap) {
    sw::Mesh crane;
    crane.materialIndex = kCrane;
    crane.hasUV = true;
    const sw::Matrix12 alongX = frame({0, 0, -1}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0});
    sw::Mesh body = lathe(
        {{0.05f, -0.9f}, {0.22f, -0.55f}, {0.3f, -0.1f}, {0.26f, 0.35f}, {0.1f, 0.75f}}, 8, kCrane);
    addPart(crane, body, alongX, 0.05f, 0.45f);
    addPart(crane, tube({0.7f, 0, 0.05f}, {1.5f, 0, 0.12f}, 0.08f, 0.05f, 5, kCrane), {}, 0.05f,
            0.45f);
    addPart(crane, sw::sphereMesh(0.1f, 6, 4, kCrane), pose({1.58f, 0, 0.14f}, 0), 0.35f, 0.6f);
    addPart(crane, tube({1.65f, 0, 0.13f}, {1.95f, 0, 0.1f}, 0.035f, 0.005f, 4, kCrane), {}, 0.0f,
            0.1f);
    for (float side : {-0.07f, 0.07f})
        addPart(crane, tube({-0.6f, side, -0.1f}, {-1.7f, side, -0.2f}, 0.025f, 0.02f, 4, kCrane),
                {}, 0.0f, 0.1f);
    // wings: inner and outer panel per side, hinged on the body's long axis
    for (float side : {-1.0f, 1.0f}) {
        const float inner = flap, outer = flap * 1.6f;
        const Vec3 root = {0.1f, side * 0.15f, 0.12f};
        const Vec3 elbow = root + Vec3{0, side * std::cos(inner), std::sin(inner)} * 1.0f;
        const Vec3 tip = elbow + Vec3{-0.2f, side * std::cos(outer), std::sin(outer)} * 1.1f;
        const Vec3 chord = {-0.55f, 0, 0};
        const Vec3 p[6] = {root, elbow, tip, tip + chord * 0.7f, elbow + chord, root + chord};
        const float us[6] = {0.5f, 0.75f, 1.0f, 1.0f, 0.75f, 0.5f};
        const float vs[6] = {1, 1, 1, 0.15f, 0.05f, 0.05f};
        const uint16_t base = uint16_t(crane.vertices.size());
        for (int i = 0; i < 6; ++i)
            crane.vertices.push_back({p[i].x, p[i].y, p[i].z, us[i], vs[i]});
        const uint16_t a = base;
        crane.faces.push_back({a, uint16_t(a + 1), uint16_t(a + 4)});
        crane.faces.push_back({a, uint16_t(a + 4), uint16_t(a + 5)});
        crane.faces.push_back({uint16_t(a + 1), uint16_t(a + 2), uint16_t(a + 3)});
        crane.faces.push_back({uint16_t(a + 1), uint16_t(a + 3), uint16_t(a + 4)});
    }
    return crane;
}

struct Bird {
    Vec3 offset;
    float phase;
};

Vec3 leaderAt(double t) {
    return {-40 + kSpeed * float(t), 10 * std::sin(float(t) * 0.3f),
            55 + 2 * std::sin(float(t) * 0.7f)};
}

Vec3 birdAt(const Bird& b, double t) {
    const float w = float(2 * kPi * t / kBeatSeconds) + b.phase;
    return leaderAt(t) + b.offset + Vec3{0, 0, -0.25f * std::sin(w)};
}

SkyLook skyLook() {
    SkyLook sky;
    sky.sun = kSun;
    sky.zenith = {0.2f, 0.22f, 0.45f, 1};
    sky.horizon = {1.0f, 0.6f, 0.32f, 1};
    sky.sunGlow = {1.0f, 0.55f, 0.2f, 1};
    sky.cloudLight = {1.0f, 0.7f, 0.5f, 1};
    sky.cloudDark = {0.45f, 0.3f, 0.42f, 1};
    sky.cloudCover = 0.5f;
    sky.hill = {0.25f, 0.18f, 0.22f, 1};
    sky.ground = {0.2f, 0.15f, 0.12f, 1};
    sky.hillHeight = 0.025f;
    sky.seed = 53;
    return sky;
}

// The marsh, its pools and the reeds standing where the ground is wet but not under water.
void addMarsh(sw::Scene& scene, pictures::Random& random) {
    scene.tracks.push_back(sw::objectTrack("marsh", {sw::meshKey(0, [] {
                                               sw::Mesh m =
                                                   heightField(40, 40, -kHalf, -kHalf, 2 * kHalf,
                                                               2 * kHalf, marshHeight, kMarsh);
                                               return m;
                                           }())}));
    sw::Mesh water = heightField(
        4, 4, -kHalf, -kHalf, 2 * kHalf, 2 * kHalf, [](float, float) { return 0.0f; }, kWater, 30);
    scene.tracks.push_back(sw::objectTrack("pools", {sw::meshKey(0, water)}));
    sw::Mesh reeds;
    reeds.materialIndex = kReeds;
    reeds.hasUV = true;
    for (int i = 0; i < 1500 && reeds.faces.size() < 1600; ++i) {
        const float x = random.range(-300, 500), y = random.range(-300, 300);
        const float h = marshHeight(x, y);
        if (h < -0.3f || h > 1.5f) continue;
        appendMesh(reeds, card(4, 6, kReeds), pose({x, y, h - 0.3f}, random.range(0, 2 * kPi)));
    }
    scene.tracks.push_back(sw::objectTrack("reeds", {sw::meshKey(0, reeds)}));
}

// The V: the leader first, then a bird on either side per row behind it.
std::vector<Bird> flock(pictures::Random& random) {
    std::vector<Bird> birds = {{{0, 0, 0}, 0}};
    for (int k = 1; k <= 4; ++k)
        for (float side : {-1.0f, 1.0f})
            birds.push_back({{-4.2f * float(k), side * 4.5f * float(k), 0.4f * float(k)},
                             random.range(0, 2 * kPi)});
    return birds;
}

void addCranes(sw::Scene& scene, const std::vector<Bird>& birds) {
    for (const Bird& b : birds) {
        auto flapAt = [&](double t) {
            return 0.75f * std::sin(float(2 * kPi * t / kBeatSeconds) + b.phase) + 0.1f;
        };
        auto placeAt = [&](double t) {
            const Vec3 p = birdAt(b, t);
            const float heading = 0.3f * std::cos(float(t) * 0.3f) * 0.1f;
            return pose(p, heading);
        };
        sw::Mesh first = craneMesh(flapAt(0));
        first.transform = placeAt(0);
        std::vector<sw::Key> keys = {sw::meshKey(0, first)};
        const double step = kBeatSeconds / 10;
        for (int i = 1; i * step <= kSeconds + 1e-6; ++i)
            keys.push_back(sw::morphKey(i * step, placeAt(i * step),
                                        craneMesh(flapAt(i * step)).vertices, true, 0));
        scene.tracks.push_back(sw::objectTrack("crane", keys));
    }
}

void addCameras(sw::Scene& scene, const Bird& lead) {
    std::vector<std::function<Shot(float)>> shots = {
        // 0: alongside the V, a little below, the sun behind the birds
        [=](float f) {
            const Vec3 l = leaderAt(f * kSeconds);
            return Shot{l + Vec3{-14 + 6 * f, -36, -6}, l + Vec3{-10, 0, 0}, 1.2f};
        },
        // 1: ahead of the V, turning with it as it comes on and passes
        [=](float f) {
            const Vec3 l = leaderAt(f * kSeconds);
            return Shot{leaderAt(0) + Vec3{62, -22, 10}, l + Vec3{-10, 0, -4}, 1.15f};
        },
        // 2: close on the leader's beating wings
        [=](float f) {
            const Vec3 l = birdAt(lead, f * kSeconds);
            return Shot{l + Vec3{3.5f - 2 * f, -6.5f, 1.2f}, l + Vec3{0.3f, 0, 0.1f}, 1.0f};
        },
        // 3: behind and a little below: the V dark against the sunset ahead
        [=](float f) {
            const Vec3 l = leaderAt(f * kSeconds);
            return Shot{l + Vec3{-38 + 6 * f, 7, -5 + 2 * f}, l + Vec3{10, 0, -1}, 1.2f};
        },
    };
    for (const auto& at : shots)
        scene.tracks.push_back(cameraShot(
            "camera", kSeconds, [at](double t) { return at(float(t / kSeconds)); }, 0.1));
}

} // namespace

BuiltScene buildKraniche() {
    BuiltScene out = startDemoScene(Kraniche, kSeconds, {0.9f, 0.55f, 0.35f, 1},
                                    {0.42f, 0.34f, 0.36f, 1}, "kraniche_sky", skyLook(), 512);
    out.pictures.push_back({"kraniche_marsh.jpg", marshPicture});
    out.pictures.push_back({"kraniche_water.jpg", sunsetWaterPicture});
    out.pictures.push_back({"kraniche_crane.png", cranePicture});
    sw::Scene& scene = out.scene;
    // One generator for all that is placed at random: the steps' order is its draws' order.
    pictures::Random random(99);
    addMarsh(scene, random);
    const std::vector<Bird> birds = flock(random);
    addCranes(scene, birds);
    scene.tracks.push_back(steadyLight("sun", kSun * 5000, {1.0f, 0.72f, 0.45f, 1}, 0));
    scene.tracks.push_back(
        steadyLight("dusk", Vec3{-0.6f, -0.5f, 0.6f} * 5000, {0.25f, 0.22f, 0.4f, 1}, 0));
    addCameras(scene, birds[0]);
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
