// holzvogel: a carved wooden bird on a marble column in a dark room, turning slowly once per
// loop under three coloured lights that circle it. Halfway through it spreads its wings: a
// second topology, reached through a Hold key so the first one's vertices are never blended
// toward it. Dust glints in the light. One camera.
#include "content/demo_scenes.h"

#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 24.0;
constexpr double kSpreadAt = 12.0;
const Vec3 kPerch = {0, 0, 10};
constexpr double kDustStep = 0.5;
constexpr float kMoteSize = 0.3f;

// A mote's size along its band (f from 0 at the bottom to 1 at the top): nothing near both
// ends, so that the keys on either side of a wrap hold empty cards: a key step moves f by at
// most two laps x 0.5 / 24 s = 0.042, less than either empty end (0.06).
float moteScale(float f) {
    return smoothstep(0.06f, 0.2f, f) * smoothstep(0.94f, 0.8f, f);
}

enum Materials : uint16_t { kWood, kMarble, kFloor, kGlow, kDust, kMaterialCount };

Canvas woodPicture() {
    const int size = 512;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 64, float(y) / 64, 8, 4, 131);
            const float rings = 0.5f + 0.5f * std::sin((float(x) / 9 + n * 9) * 1.2f);
            const float fine = fractalNoise(float(x) / 1.5f, float(y) / 20, 341, 2, 132);
            const Color c =
                mix({0.42f, 0.24f, 0.11f, 1}, {0.78f, 0.54f, 0.3f, 1}, 0.6f * rings + 0.25f * fine);
            canvas.at(x, y) = c;
        }
    return canvas;
}

Canvas marblePicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 32, float(y) / 32, 8, 5, 133);
            const float vein = std::pow(
                std::fabs(std::sin((float(x) / size * 3 + float(y) / size + 3 * n) * kPi)), 0.3f);
            canvas.at(x, y) = mix({0.2f, 0.22f, 0.26f, 1}, {0.92f, 0.9f, 0.88f, 1}, vein);
        }
    return canvas;
}

Canvas floorPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool dark = ((x / 64) + (y / 64)) % 2 == 0;
            const float n = fractalNoise(float(x) / 16, float(y) / 16, 16, 4, 134);
            const float v = (dark ? 0.12f : 0.3f) * (0.8f + 0.4f * n);
            canvas.at(x, y) = {v, v * 0.97f, v * 0.95f, 1};
        }
    return canvas;
}

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kWood].texture = "vogel_wood.qw2";
    m[kWood].specularLevel = 0.5f;
    m[kWood].shininess = 0.35f;
    m[kMarble].texture = "vogel_marble.qw2";
    m[kMarble].specularLevel = 0.8f;
    m[kMarble].shininess = 0.6f;
    m[kFloor].texture = "vogel_floor.jpg";
    m[kFloor].specularLevel = 0.6f;
    m[kFloor].shininess = 0.4f;
    m[kGlow].texture = "vogel_glow.png";
    m[kGlow].flags = 0x20 | 0x8;
    m[kGlow].opacity = 0.95f;
    m[kDust].texture = "vogel_glow.png";
    m[kDust].flags = 0x20 | 0x8;
    m[kDust].opacity = 0.5f;
    return m;
}

// The bird in its own frame: beak along +x, standing on its feet at the origin. spread 0
// leaves out the wings (they lie carved into the body); above 0 the wings stand out.
sw::Mesh birdMesh(bool wings, float spread) {
    sw::Mesh bird;
    bird.materialIndex = kWood;
    bird.hasUV = true;
    const sw::Matrix12 alongX = frame({0, 0, -1}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0});
    appendMesh(
        bird,
        lathe(
            {{0.2f, -4.0f}, {1.3f, -2.6f}, {2.0f, -0.8f}, {1.9f, 1.0f}, {1.2f, 2.4f}, {0.3f, 3.0f}},
            10, kWood),
        compose(pose({0, 0, 3.2f}, 0, 0.25f), alongX));
    appendMesh(bird, sw::sphereMesh(1.2f, 10, 6, kWood), pose({3.2f, 0, 5.0f}, 0));
    appendMesh(bird, tube({4.1f, 0, 5.0f}, {5.6f, 0, 4.7f}, 0.45f, 0.03f, 6, kWood), {});
    // tail fan
    appendMesh(bird, sw::boxMesh(1.8f, 1.1f, 0.12f, kWood), pose({-4.6f, 0, 2.0f}, 0, 0.0f));
    for (float side : {-0.5f, 0.5f})
        appendMesh(bird,
                   tube({0.3f, side, 1.4f}, {0.5f, side * 1.2f, -0.05f}, 0.18f, 0.12f, 5, kWood),
                   {});
    if (wings)
        for (float side : {-1.0f, 1.0f}) {
            // a wing: a flattened, tapered box hinged at the shoulder, raised by spread
            const float lift = 0.15f + 1.1f * spread;
            const Vec3 shoulder = {0.8f, side * 1.6f, 4.0f};
            const Vec3 out = normalized({-0.35f, side * std::cos(lift), std::sin(lift)});
            const Vec3 back = {-1, 0, 0};
            const Vec3 normal = normalized(cross(back, out)) * side;
            sw::Mesh wing = sw::boxMesh(1.6f, 3.2f, 0.16f, kWood);
            for (sw::Vertex& v : wing.vertices)
                v.x *= 0.55f + 0.45f * (1.0f - (v.y * side + 3.2f) / 6.4f); // narrower at the tip
            appendMesh(bird, wing,
                       frame(back * -1.0f, out * side, normal * side, shoulder + out * 3.0f));
        }
    return flatten(bird);
}

sw::Matrix12 birdPlace(double t) {
    return pose(kPerch, float(2 * kPi * t / kSeconds) + 0.6f);
}

Vec3 lightAt(int i, double t) {
    const float a = float(2 * kPi * t / kSeconds) * (i == 1 ? -2.0f : 1.0f) + float(i) * 2.1f;
    const float r = 13 + 2 * float(i);
    return {r * std::cos(a), r * std::sin(a), 14 + 4 * std::sin(a * 2 + float(i))};
}

// The dark room the bird stands in, as a sky box: no clouds, no hills, a faint glow above.
SkyLook roomLook() {
    SkyLook room;
    room.sun = normalized({0.2f, -0.3f, 0.9f});
    room.zenith = {0.03f, 0.03f, 0.08f, 1};
    room.horizon = {0.14f, 0.08f, 0.16f, 1};
    room.ground = {0.03f, 0.02f, 0.03f, 1};
    room.sunGlow = {0.2f, 0.16f, 0.3f, 1};
    room.cloudCover = 0;
    room.hill = {0.05f, 0.04f, 0.07f, 1};
    room.hillHeight = 0.0f;
    return room;
}

void addFloorAndColumn(sw::Scene& scene) {
    sw::Mesh floor = sw::gridMesh(12, 120, kFloor);
    for (sw::Vertex& v : floor.vertices) {
        v.u *= 8;
        v.v *= 8;
    }
    scene.tracks.push_back(sw::objectTrack("floor", {sw::meshKey(0, floor)}));
    sw::Mesh column =
        lathe({{3.2f, 0}, {3.2f, 0.8f}, {2.4f, 1.2f}, {2.0f, 8.6f}, {2.6f, 9.2f}, {2.8f, 10}}, 16,
              kMarble, 2);
    scene.tracks.push_back(sw::objectTrack("column", {sw::meshKey(0, column)}));
}

// The bird: folded until the Hold, then a second topology whose wings spread and beat
// slowly, folding again toward the end of the loop.
void addBird(sw::Scene& scene) {
    std::vector<sw::Key> keys;
    sw::Mesh folded = birdMesh(false, 0);
    folded.transform = birdPlace(0);
    keys.push_back(sw::meshKey(0, folded));
    for (int i = 1; i * 0.5 < kSpreadAt; ++i)
        keys.push_back(sw::transformKey(i * 0.5, birdPlace(i * 0.5)));
    const double last = kSpreadAt - 2.0 / 4800;
    keys.push_back(sw::transformKey(last, birdPlace(last)));
    keys.push_back(sw::holdKey(kSpreadAt - 1.0 / 4800));
    auto spreadAt = [](double t) {
        const float f = float((t - kSpreadAt) / (kSeconds - kSpreadAt));
        const float open = smoothstep(0, 0.3f, f) * smoothstep(1.0f, 0.8f, f);
        return open * (0.8f + 0.25f * std::sin(float(t) * 2.5f));
    };
    sw::Mesh spread = birdMesh(true, spreadAt(kSpreadAt));
    spread.transform = birdPlace(kSpreadAt);
    keys.push_back(sw::meshKey(kSpreadAt, spread));
    for (double t = kSpreadAt + 0.25; t <= kSeconds + 1e-6; t += 0.25)
        keys.push_back(sw::morphKey(t, birdPlace(t), birdMesh(true, spreadAt(t)).vertices, true,
                                    int(t * 4) % 2));
    scene.tracks.push_back(sw::objectTrack("bird", keys));
}

// Three coloured lamps circling the bird, each with a glow sprite where it is.
void addLamps(sw::Scene& scene) {
    const Color colors[3] = {
        {1.0f, 0.7f, 0.35f, 1}, {0.35f, 0.55f, 1.0f, 1}, {0.95f, 0.35f, 0.7f, 1}};
    for (int i = 0; i < 3; ++i) {
        const float c[3] = {colors[i].r, colors[i].g, colors[i].b};
        scene.tracks.push_back(sw::lightTrack("lamp", sampled(kSeconds, 0.25, [i, c](double t) {
                                                  const Vec3 p = lightAt(i, t);
                                                  const float pos[3] = {p.x, p.y, p.z};
                                                  return sw::lightKey(t, pos, c, 45);
                                              })));
        sw::Mesh glow;
        glow.materialIndex = kGlow;
        glow.hasUV = true;
        for (int k = 0; k < 3; ++k)
            appendMesh(glow, card(2.4f, 2.4f, kGlow),
                       compose(pose({}, float(k) * kPi / 3), pose({0, 0, -1.2f}, 0)));
        scene.tracks.push_back(movingObject("lamp glow", glow, kSeconds, 0.25,
                                            [i](double t) { return pose(lightAt(i, t), 0); }));
    }
}

// Dust motes drifting up through the light. Each rises through its own band a whole
// number of times per loop, so the loop closes without a jump. Where it wraps from the
// top of its band to the bottom it has shrunk to nothing at both keys around the wrap:
// the morph between them then moves an empty card instead of drawing a streak.
void addDust(sw::Scene& scene) {
    pictures::Random random(135);
    struct Mote {
        Vec3 at;
        float band, phase;
        int laps;
    };
    std::vector<Mote> motes;
    for (int i = 0; i < 50; ++i) {
        const float bottom = random.range(2, 8);
        motes.push_back({{random.range(-9, 9), random.range(-9, 9), bottom},
                         random.range(8, 12),
                         random.uniform(),
                         1 + int(random.uniform() * 1.99f)});
    }
    auto dust = [&](double t) {
        std::vector<sw::Vertex> vs;
        for (const Mote& m : motes) {
            const float f = std::fmod(m.phase + float(m.laps) * float(t / kSeconds), 1.0f);
            const float z = m.at.z + m.band * f;
            const float size = kMoteSize * moteScale(f);
            // the sway repeats once per loop as well
            const float sway = std::sin(float(2 * kPi * t / kSeconds) * 3 + m.at.z);
            const Vec3 p = {m.at.x + 0.6f * sway, m.at.y, z};
            sw::Mesh one = card(size, size, kDust);
            appendMesh(one, card(size, size, kDust), pose({}, kPi / 2));
            for (const sw::Vertex& v : one.vertices)
                vs.push_back({p.x + v.x, p.y + v.y, p.z + v.z - size / 2, v.u, v.v});
        }
        return vs;
    };
    sw::Mesh mesh;
    mesh.materialIndex = kDust;
    mesh.hasUV = true;
    mesh.vertices = dust(0);
    for (size_t i = 0; i < motes.size() * 2; ++i) {
        const uint16_t a = uint16_t(4 * i);
        mesh.faces.push_back({a, uint16_t(a + 1), uint16_t(a + 2)});
        mesh.faces.push_back({a, uint16_t(a + 2), uint16_t(a + 3)});
    }
    std::vector<sw::Key> keys = {sw::meshKey(0, mesh)};
    for (double t = kDustStep; t <= kSeconds + 1e-6; t += kDustStep)
        keys.push_back(sw::morphKey(t, {}, dust(t), true, 0));
    scene.tracks.push_back(sw::objectTrack("dust", keys));
}

} // namespace

BuiltScene buildHolzvogel() {
    BuiltScene out = startDemoScene(Holzvogel, kSeconds, {0.02f, 0.02f, 0.04f, 1},
                                    {0.2f, 0.18f, 0.22f, 1}, "vogel_room", roomLook(), 256);
    out.pictures.push_back({"vogel_wood.qw2", woodPicture, false, 3.0f});
    out.pictures.push_back({"vogel_marble.qw2", marblePicture, false, 3.0f});
    out.pictures.push_back({"vogel_floor.jpg", floorPicture});
    out.pictures.push_back({"vogel_glow.png", [] { return glowPicture(64, {1, 1, 1, 1}); }});
    sw::Scene& scene = out.scene;
    addFloorAndColumn(scene);
    addBird(scene);
    addLamps(scene);
    addDust(scene);
    scene.tracks.push_back(cameraShot("camera", kSeconds, [](double t) {
        const float f = float(t / kSeconds);
        const float a = -1.9f + 0.5f * std::sin(f * 2 * kPi);
        const float r = 27 - 3 * std::sin(f * kPi);
        return Shot{{r * std::cos(a), r * std::sin(a), 13 + 2 * std::sin(f * 2 * kPi)},
                    kPerch + Vec3{0, 0, 3.5f},
                    1.1f};
    }));
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
