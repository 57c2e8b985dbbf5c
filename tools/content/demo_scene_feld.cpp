// feld: a field of ripe grain on a summer afternoon, waves of wind running through it
// (quantised morph keys), poppies among the stalks, a scarecrow, a farm and a row of poplars
// along the lane. Thirteen cameras, most of them short shots.
#include "content/demo_scenes.h"

#include <algorithm>
#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 5.0;
constexpr float kHalf = 320;
constexpr float kFieldHalf = 60; // the grain stands on -kFieldHalf..kFieldHalf
// Grain cards stand this far apart, in tiles of kGrainTiles x kGrainTiles: each tile is an
// object the hidetrack can drop when it is out of view or hidden, and a smaller tile keeps
// the quantised morph keys finer.
constexpr float kStalkStep = 2.1f;
constexpr int kGrainTiles = 4;
constexpr int kStalksPerCard = 64;
constexpr float kCardWidth = 1.8f;
// Camera 2 walks from kWalkFrom to kWalkTo (x, y) among the stalks.
constexpr float kWalkFrom[2] = {-20, 14}, kWalkTo[2] = {-16, 14};
constexpr float kWalkClearance = 1.4f;
const Vec3 kSun = normalized({-0.35f, -0.8f, 0.5f});
const Vec3 kFarm = {105, 35, 0};
const Vec3 kScarecrow = {12, -8, 0};

enum Materials : uint16_t {
    kGround,
    kGrain,
    kPlaster,
    kRoof,
    kBark,
    kNeedles,
    kLeaves,
    kCloth,
    kStraw,
    kMaterialCount
};

float fieldHeight(float x, float y) {
    const float n = fractalNoise(x / 160 + 2, y / 160 + 2, 64, 4, 111);
    const float far = smoothstep(200, 310, std::max(std::fabs(x), std::fabs(y)));
    return (n - 0.5f) * 10 + far * 40 * fractalNoise(x / 70, y / 70, 64, 3, 112);
}

float distanceToSegment(float x, float y, const float a[2], const float b[2]) {
    const float dx = b[0] - a[0], dy = b[1] - a[1];
    const float t = clamp01(((x - a[0]) * dx + (y - a[1]) * dy) / (dx * dx + dy * dy));
    return std::hypot(x - (a[0] + t * dx), y - (a[1] + t * dy));
}

bool onLane(float x, float y) {
    return std::fabs(y - (-kFieldHalf - 6) - 0.04f * x) < 2.5f;
}

Canvas groundPicture() {
    const int size = 1024;
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float x = -kHalf + 2 * kHalf * (float(col) + 0.5f) / size;
            const float y = kHalf - 2 * kHalf * (float(row) + 0.5f) / size;
            const float n = fractalNoise(x / 5, y / 5, 1024, 4, 113);
            const float patch = fractalNoise(x / 40, y / 40, 128, 4, 114);
            Color c = mix({0.3f, 0.45f, 0.14f, 1}, {0.5f, 0.58f, 0.22f, 1}, patch);
            // neighbouring fields: stubble, green crop, meadow
            const int plot =
                int(std::floor((x + 400) / 90)) * 7 + int(std::floor((y + 400) / 70)) * 3;
            const bool field = std::max(std::fabs(x), std::fabs(y)) < 230 && plot % 3 != 0;
            if (field) {
                const float rows = 0.5f + 0.5f * std::sin((x * 0.8f + y * 0.3f) * 1.3f);
                const Color crop =
                    plot % 3 == 1 ? Color{0.8f, 0.68f, 0.38f, 1} : Color{0.35f, 0.52f, 0.16f, 1};
                c = mix(crop, mix(crop, {0.3f, 0.25f, 0.15f, 1}, 0.4f), rows * 0.5f);
            }
            // under the grain: a shaded mass of stalks, so gaps between the cards read as
            // more grain further down rather than bare soil
            if (std::max(std::fabs(x), std::fabs(y)) < kFieldHalf + 1) {
                const float straw = fractalNoise(x * 1.5f, y * 1.5f, 1024, 2, 117);
                c = mix({0.4f, 0.31f, 0.13f, 1}, {0.66f, 0.54f, 0.26f, 1},
                        0.5f * patch + 0.5f * straw);
            }
            if (onLane(x, y)) c = mix({0.62f, 0.55f, 0.42f, 1}, {0.45f, 0.4f, 0.32f, 1}, n);
            const float v = 0.8f + 0.35f * n;
            canvas.at(col, row) = {c.r * v, c.g * v, c.b * v, 1};
        }
    return canvas;
}

// Stalks of ripe grain with ears; the right half adds poppies among them. Drawn finely
// (slim stems, ears of small grains, awns) at a resolution that close cameras magnify only
// a few times: coarse texels read as blocks where the alpha test cuts them.
Canvas grainPicture() {
    const int w = 512, h = 256;
    Canvas canvas(w, h, {0, 0, 0, 0});
    pictures::Random random(115);
    for (int half = 0; half < 2; ++half) {
        const float x0 = float(half) * 256;
        for (int i = 0; i < kStalksPerCard; ++i) {
            // thinning towards the card's sides, so a distant card fades out instead of
            // ending in an edge (two draws, in this order)
            const float offset = random.range(-80, 80);
            const float x = x0 + 128 + offset + random.range(-38, 38);
            const float top = random.range(14, 70);
            const float lean = random.range(-14, 14);
            const Color stem =
                mix({0.66f, 0.56f, 0.26f, 1}, {0.86f, 0.76f, 0.42f, 1}, random.uniform());
            const float ex = x + lean; // the ear hangs on the stem's top
            pictures::fillCapsule(canvas, x, 256, ex, top + 24, 1.1f, stem);
            const Color ear =
                mix({0.78f, 0.62f, 0.28f, 1}, {0.96f, 0.86f, 0.52f, 1}, random.uniform());
            const Color shade = mix(ear, {0.5f, 0.38f, 0.16f, 1}, 0.45f);
            for (int k = 0; k < 8; ++k) {
                const float ey = top + float(k) * 3.2f, side = 1.5f - 0.08f * float(k);
                pictures::fillDisc(canvas, ex - side, ey, 1.9f, k % 2 ? shade : ear);
                pictures::fillDisc(canvas, ex + side, ey + 1.6f, 1.9f, k % 2 ? ear : shade);
            }
            for (float spread : {-0.35f, 0.0f, 0.35f}) // awns
                pictures::fillCapsule(canvas, ex, top + 2, ex + lean * 0.3f + spread * 14, top - 16,
                                      0.6f, ear);
        }
        if (half == 1)
            for (int i = 0; i < 6; ++i) {
                const float x = x0 + random.range(30, 226), y = random.range(90, 160);
                pictures::fillCapsule(canvas, x, y, x + random.range(-8, 8), 256, 1.3f,
                                      {0.3f, 0.45f, 0.15f, 1});
                for (int p = 0; p < 4; ++p) {
                    const float a = float(p) * kPi / 2 + 0.4f;
                    pictures::fillDisc(canvas, x + 5 * std::cos(a), y + 4 * std::sin(a), 7,
                                       p % 2 ? Color{0.78f, 0.06f, 0.05f, 1}
                                             : Color{0.9f, 0.12f, 0.08f, 1});
                }
                pictures::fillDisc(canvas, x, y, 2.6f, {0.1f, 0.08f, 0.08f, 1});
            }
    }
    pictures::cutAlpha(canvas);
    return canvas;
}

Canvas strawPicture() {
    const int size = 128;
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 2, float(y) / 16, 64, 3, 116);
            canvas.at(x, y) = mix({0.6f, 0.48f, 0.2f, 1}, {0.92f, 0.8f, 0.45f, 1}, n);
        }
    return canvas;
}

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kGround].texture = "feld_ground.jpg";
    m[kGrain].texture = "feld_grain.png";
    m[kGrain].flags = 0x2 | 0x8;
    m[kPlaster].texture = "land_plaster.qw2";
    m[kRoof].texture = "land_roof.jpg";
    m[kBark].texture = "land_bark.jpg";
    m[kNeedles].texture = "land_needles.jpg";
    m[kLeaves].texture = "land_leaves.png";
    m[kLeaves].flags = 0x2 | 0x8;
    m[kCloth].diffuse[0] = 0.25f;
    m[kCloth].diffuse[1] = 0.3f;
    m[kCloth].diffuse[2] = 0.55f;
    m[kStraw].texture = "feld_straw.jpg";
    for (sw::MaterialDesc& d : m)
        for (float& a : d.ambient)
            a = 1.0f;
    for (float& a : m[kCloth].ambient)
        a = 0.5f;
    return m;
}

struct Stalks {
    Vec3 at;
    float heading, height, phase;
    bool poppies;
};

// Wind waves roll across the field from the south-west; each card leans with its own flutter.
std::vector<sw::Vertex> grainVertices(const std::vector<Stalks>& cards, double t) {
    std::vector<sw::Vertex> out;
    const float w = float(2 * kPi * t / kSeconds);
    for (const Stalks& c : cards) {
        const float wave = std::sin(0.09f * (c.at.x + c.at.y) - 2 * w);
        const float lean = 0.22f + 0.3f * wave * wave * (wave > 0 ? 1.0f : 0.3f) +
                           0.05f * std::sin(5 * w + c.phase);
        const float u0 = c.poppies ? 0.5f : 0.0f;
        const sw::Mesh one = card(kCardWidth, c.height, kGrain, u0, 0, u0 + 0.5f, 1);
        const sw::Matrix12 place = pose(c.at, c.heading);
        for (sw::Vertex v : one.vertices) {
            const float up = v.z / c.height;
            Vec3 p = transformPoint(place, {v.x, v.y, v.z});
            const float bend = lean * up * up * c.height;
            p.x += bend * 0.7f;
            p.y += bend * 0.7f;
            p.z -= bend * bend * 0.3f / c.height;
            out.push_back({p.x, p.y, p.z, v.u, v.v});
        }
    }
    return out;
}

SkyLook skyLook() {
    SkyLook sky;
    sky.sun = kSun;
    sky.zenith = {0.12f, 0.32f, 0.75f, 1};
    sky.horizon = {0.75f, 0.85f, 0.95f, 1};
    sky.cloudCover = 0.55f;
    sky.cloudDark = {0.66f, 0.7f, 0.8f, 1};
    sky.hill = {0.35f, 0.45f, 0.35f, 1};
    sky.ground = {0.35f, 0.42f, 0.2f, 1};
    sky.hillHeight = 0.03f;
    sky.seed = 71;
    return sky;
}

// The grain on a jittered grid, split into tiles. Kept clear: the scarecrow's spot, and
// the path of the camera that walks among the stalks, where a card a hand's breadth from
// the lens would fill the frame twice over (both passes of its alpha test).
void addGrain(sw::Scene& scene, pictures::Random& random) {
    const int cells = int(2 * kFieldHalf / kStalkStep);
    const float cell = 2 * kFieldHalf / float(cells);
    std::vector<std::vector<Stalks>> tiles(kGrainTiles * kGrainTiles);
    for (int row = 0; row < cells; ++row)
        for (int col = 0; col < cells; ++col) {
            const float x = -kFieldHalf + (float(col) + 0.5f) * cell;
            const float y = -kFieldHalf + (float(row) + 0.5f) * cell;
            const float px = x + random.range(-0.6f, 0.6f), py = y + random.range(-0.6f, 0.6f);
            const Stalks stalks = {{px, py, fieldHeight(px, py) - 0.1f},
                                   random.range(0, 2 * kPi),
                                   random.range(1.1f, 1.45f),
                                   random.range(0, 2 * kPi),
                                   random.uniform() < 0.08f};
            if (std::hypot(px - kScarecrow.x, py - kScarecrow.y) < 2.5f) continue;
            if (distanceToSegment(px, py, kWalkFrom, kWalkTo) < kWalkClearance) continue;
            tiles[size_t(row * kGrainTiles / cells * kGrainTiles + col * kGrainTiles / cells)]
                .push_back(stalks);
        }
    for (const std::vector<Stalks>& cards : tiles) {
        sw::Mesh grain;
        grain.materialIndex = kGrain;
        grain.hasUV = true;
        grain.encoding = 1;
        grain.vertices = grainVertices(cards, 0);
        for (size_t i = 0; i < cards.size(); ++i) {
            const uint16_t a = uint16_t(4 * i);
            grain.faces.push_back({a, uint16_t(a + 1), uint16_t(a + 2)});
            grain.faces.push_back({a, uint16_t(a + 2), uint16_t(a + 3)});
        }
        std::vector<sw::Key> keys = {sw::meshKey(0, grain)};
        for (int i = 1; i <= int(kSeconds * 2); ++i)
            keys.push_back(sw::morphKey(i * 0.5, {}, grainVertices(cards, i * 0.5), true, 1));
        scene.tracks.push_back(sw::objectTrack("grain", keys));
    }
}

void addScarecrow(sw::Scene& scene) {
    const Vec3 at = {kScarecrow.x, kScarecrow.y, fieldHeight(kScarecrow.x, kScarecrow.y)};
    sw::Mesh wood;
    wood.materialIndex = kBark;
    wood.hasUV = true;
    appendMesh(wood, tube(at + Vec3{0, 0, -0.5f}, at + Vec3{0, 0, 2.6f}, 0.07f, 0.06f, 5, kBark),
               {});
    appendMesh(wood,
               tube(at + Vec3{-1.1f, 0, 1.9f}, at + Vec3{1.1f, 0, 1.9f}, 0.05f, 0.05f, 5, kBark),
               {});
    scene.tracks.push_back(sw::objectTrack("scarecrow", {sw::meshKey(0, wood)}));
    sw::Mesh coat = lathe({{0.32f, 1.1f}, {0.36f, 1.5f}, {0.3f, 1.95f}, {0.12f, 2.1f}}, 8, kCloth);
    appendMesh(coat,
               tube(at + Vec3{-0.95f, 0, 1.9f}, at + Vec3{0.95f, 0, 1.9f}, 0.13f, 0.13f, 6, kCloth),
               pose(at * -1.0f, 0));
    coat.transform = pose(at, 0);
    scene.tracks.push_back(sw::objectTrack("coat", {sw::meshKey(0, coat)}));
    sw::Mesh head = sw::sphereMesh(0.2f, 8, 6, kStraw);
    appendMesh(
        head, lathe({{0.5f, 0.12f}, {0.22f, 0.16f}, {0.2f, 0.38f}, {0.02f, 0.4f}}, 10, kStraw), {});
    scene.tracks.push_back(movingObject("head", head, kSeconds, 0.25, [at](double t) {
        return pose(at + Vec3{0, 0, 2.3f}, 0.4f + 0.15f * std::sin(float(2 * kPi * t / kSeconds)),
                    0.08f);
    }));
}

void addFarm(sw::Scene& scene) {
    MeshBatch walls, roofs;
    walls.prototype.materialIndex = kPlaster;
    roofs.prototype.materialIndex = kRoof;
    walls.prototype.hasUV = roofs.prototype.hasUV = true;
    addHouse(walls, roofs, {kFarm.x, kFarm.y, fieldHeight(kFarm.x, kFarm.y)}, 0.2f, 16, 10, 7,
             kPlaster, kRoof);
    addHouse(walls, roofs, {kFarm.x + 8, kFarm.y + 22, fieldHeight(kFarm.x + 8, kFarm.y + 22)},
             1.75f, 22, 12, 8, kPlaster, kRoof);
    for (const sw::Mesh& m : walls.meshes)
        scene.tracks.push_back(sw::objectTrack("farm", {sw::meshKey(0, m)}));
    for (const sw::Mesh& m : roofs.meshes)
        scene.tracks.push_back(sw::objectTrack("farm roofs", {sw::meshKey(0, m)}));
}

// Poplars along the lane and trees round the fields.
void addTrees(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh trunks, poplars, crowns;
    trunks.materialIndex = kBark;
    poplars.materialIndex = kNeedles;
    crowns.materialIndex = kLeaves;
    trunks.hasUV = poplars.hasUV = crowns.hasUV = true;
    for (int i = 0; i < 24; ++i) {
        const float x = -200 + 17.0f * float(i), y = -kFieldHalf - 11 + 0.04f * x;
        const float h = random.range(18, 24);
        const sw::Matrix12 place = pose({x, y, fieldHeight(x, y)}, random.range(0, 2 * kPi));
        appendMesh(trunks, trunkMesh(h * 0.3f, 0.35f, kBark), place);
        appendMesh(
            poplars,
            lathe({{0.4f, 1}, {1.9f, h * 0.3f}, {1.6f, h * 0.7f}, {0.05f, h}}, 7, kNeedles, 2),
            place);
    }
    for (int i = 0; i < 160; ++i) {
        const float a = random.range(0, 2 * kPi), r = random.range(150, 280);
        const float x = r * std::cos(a), y = r * std::sin(a);
        const float h = random.range(14, 24);
        const sw::Matrix12 place = pose({x, y, fieldHeight(x, y)}, random.range(0, 2 * kPi));
        appendMesh(trunks, trunkMesh(h * 0.5f, h * 0.035f, kBark), place);
        appendMesh(crowns, broadleafCrownMesh(h, kLeaves, uint32_t(i)), place);
    }
    scene.tracks.push_back(sw::objectTrack("trees", {sw::meshKey(0, trunks)}));
    scene.tracks.push_back(sw::objectTrack("poplars", {sw::meshKey(0, poplars)}));
    scene.tracks.push_back(sw::objectTrack("trees", {sw::meshKey(0, crowns)}));
}

void addCameras(sw::Scene& scene) {
    const Vec3 crow = {kScarecrow.x, kScarecrow.y, fieldHeight(kScarecrow.x, kScarecrow.y) + 1.8f};
    auto overField = [](float x, float y, float lift) {
        return Vec3{x, y, fieldHeight(x, y) + lift};
    };
    std::vector<std::function<Shot(float)>> shots = {
        // 0: skimming the ears toward the farm
        [=](float f) {
            return Shot{overField(-50 + 60 * f, -30 + 35 * f, 2.2f),
                        overField(40 + 60 * f, 10 + 35 * f, 1.0f), 1.2f};
        },
        // 1: high crane over the field: the waves roll through it
        [=](float f) {
            return Shot{overField(-95 + 25 * f, -95 + 25 * f, 30 + 25 * f), overField(0, 0, 0),
                        1.2f};
        },
        // 2: down among the stalks, looking up at the ears against the sky
        [=](float f) {
            const float x = kWalkFrom[0] + (kWalkTo[0] - kWalkFrom[0]) * f;
            return Shot{overField(x, kWalkFrom[1], 0.9f), overField(x + 10, 20, 3.2f), 1.3f};
        },
        // 3: round the scarecrow
        [=](float f) {
            const float a = 3.6f + 1.3f * f;
            return Shot{crow + Vec3{6 * std::cos(a), 6 * std::sin(a), 0.3f},
                        crow + Vec3{0, 0, 0.4f}, 1.1f};
        },
        // 4: along the lane under the poplars
        [=](float f) {
            return Shot{overField(-120 + 50 * f, -kFieldHalf - 6 - 4.8f + 2 * f, 2.0f),
                        overField(-20 + 50 * f, -kFieldHalf + 5, 1), 1.2f};
        },
        // 5: from the farmyard across the grain
        [=](float f) {
            return Shot{overField(kFarm.x - 18, kFarm.y - 16 - 4 * f, 4),
                        overField(-10, -10 + 12 * f, 1.5f), 1.2f};
        },
        // 6: overview from the hills
        [=](float f) {
            return Shot{overField(-180 + 40 * f, 150, 40), overField(0, 0, 0), 1.2f};
        },
        // 7: a fast skim across the field's diagonal
        [=](float f) {
            return Shot{overField(55 - 90 * f, 55 - 90 * f, 2.0f),
                        overField(25 - 90 * f, 25 - 90 * f, 0.8f), 1.2f};
        },
        // 8: sideways at the height of the ears
        [=](float f) {
            return Shot{overField(-kFieldHalf - 3, -20 + 30 * f, 1.6f),
                        overField(-kFieldHalf + 20, -15 + 30 * f, 1.0f), 1.15f};
        },
        // 9: over the ears toward the poplars on the lane
        [=](float f) {
            return Shot{overField(10 + 20 * f, 40, 3.0f),
                        overField(-20 + 20 * f, -kFieldHalf - 11, -2), 1.2f};
        },
        // 10: rising from the grain to show the whole field
        [=](float f) {
            return Shot{overField(30, -45, 1.5f + 40 * f * f), overField(0, 10, 0), 1.2f};
        },
        // 11: past the poppies, close
        [=](float f) {
            return Shot{overField(-35 + 6 * f, -35, 1.5f), overField(-31 + 6 * f, -31, 0.9f), 1.1f};
        },
        // 12: a quick low pass along the field's edge
        [=](float f) {
            return Shot{overField(kFieldHalf + 4, 40 - 50 * f, 1.8f),
                        overField(kFieldHalf - 10, 20 - 50 * f, 1.0f), 1.25f};
        },
    };
    for (const auto& at : shots)
        scene.tracks.push_back(
            cameraShot("camera", kSeconds, [at](double t) { return at(float(t / kSeconds)); }));
}

} // namespace

BuiltScene buildFeld() {
    // the grain cards face every way; much of the field's light is the sky's ambient
    BuiltScene out = startDemoScene(Feld, kSeconds, {0.7f, 0.8f, 0.92f, 1}, {0.62f, 0.6f, 0.6f, 1},
                                    "feld_sky", skyLook(), 512);
    out.pictures.push_back({"feld_ground.jpg", groundPicture});
    out.pictures.push_back({"feld_grain.png", grainPicture});
    out.pictures.push_back({"feld_straw.jpg", strawPicture});
    sw::Scene& scene = out.scene;
    scene.tracks.push_back(
        sw::objectTrack("land", {sw::meshKey(0, heightField(40, 40, -kHalf, -kHalf, 2 * kHalf,
                                                            2 * kHalf, fieldHeight, kGround))}));
    // One generator for all that is placed at random: the steps' order is its draws' order.
    pictures::Random random(5);
    addGrain(scene, random);
    addScarecrow(scene);
    addFarm(scene);
    addTrees(scene, random);
    scene.tracks.push_back(steadyLight("sun", kSun * 5000, {0.85f, 0.8f, 0.68f, 1}, 0));
    scene.tracks.push_back(
        steadyLight("sky", Vec3{0.4f, 0.6f, 0.7f} * 5000, {0.22f, 0.27f, 0.36f, 1}, 0));
    addCameras(scene);
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
