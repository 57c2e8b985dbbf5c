// eiche: a great oak alone on a meadow in late-afternoon light. Its leaf cards sway in the
// wind (quantised morph keys), single leaves fall, shafts of light slant through the crown,
// a ring of woods closes the horizon. Six cameras.
#include "content/demo_scenes.h"

#include <algorithm>
#include <cmath>

namespace sw = scenewriter;
using namespace procedural;
using pictures::fractalNoise;
using pictures::mix;

namespace {

constexpr double kSeconds = 6.0;
// Leaves per crown card and cards per branch tip: dense cards, few of them, keep the crown
// as full as sparse ones did at a third of the overdraw.
constexpr int kLeavesPerCard = 200;
constexpr int kCardsPerTip = 7;
constexpr float kCardReach = 0.48f; // the leaf cluster's radius on its card, plus a margin
const Vec3 kSun = normalized({-0.6f, 0.65f, 0.3f});

enum Materials : uint16_t {
    kGrass,
    kBark,
    kLeaves,
    kTuft,
    kFlowers,
    kLeaf,
    kShaft,
    kNeedles,
    kMaterialCount
};

float meadowHeight(float x, float y) {
    const float r = std::sqrt(x * x + y * y);
    return 2.5f * std::exp(-r * r / 2500.0f) +
           6 * (fractalNoise(x / 150 + 5, y / 150 + 5, 64, 4, 13) - 0.5f) +
           smoothstep(180, 300, r) * 25 * fractalNoise(x / 60, y / 60, 64, 3, 14);
}

Canvas grassPicture() {
    const int size = 512;
    Canvas canvas(size, size);
    pictures::Random random(8);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fractalNoise(float(x) / 24, float(y) / 24, 21, 5, 31);
            const float blade = fractalNoise(float(x) / 2.5f, float(y) / 9, 204, 2, 32);
            const Color c =
                mix({0.22f, 0.36f, 0.1f, 1}, {0.52f, 0.62f, 0.22f, 1}, 0.55f * n + 0.45f * blade);
            canvas.at(x, y) = c;
        }
    for (int i = 0; i < 160; ++i) {
        const float x = random.range(4, float(size) - 4), y = random.range(4, float(size) - 4);
        const Color petal =
            random.uniform() < 0.6f ? Color{0.97f, 0.96f, 0.9f, 1} : Color{0.98f, 0.82f, 0.2f, 1};
        pictures::fillDisc(canvas, x, y, 2.2f, petal);
        pictures::fillDisc(canvas, x, y, 0.9f, {0.95f, 0.7f, 0.1f, 1});
    }
    return canvas;
}

Canvas flowerTuftPicture() {
    Canvas canvas = grassTuftPicture(128, {0.2f, 0.35f, 0.08f, 1}, {0.5f, 0.65f, 0.2f, 1}, 41);
    pictures::Random random(42);
    for (int i = 0; i < 7; ++i) {
        const float x = random.range(25, 103), y = random.range(15, 60);
        pictures::fillCapsule(canvas, x, y, x + random.range(-6, 6), 128, 1.2f,
                              {0.25f, 0.4f, 0.1f, 1});
        const Color petal = i % 2 ? Color{0.85f, 0.2f, 0.15f, 1} : Color{0.96f, 0.95f, 0.88f, 1};
        for (int p = 0; p < 6; ++p) {
            const float a = float(p) * kPi / 3;
            pictures::fillDisc(canvas, x + 3.5f * std::cos(a), y + 3.5f * std::sin(a), 2.6f, petal);
        }
        pictures::fillDisc(canvas, x, y, 2, {0.95f, 0.75f, 0.15f, 1});
    }
    pictures::cutAlpha(canvas);
    return canvas;
}

Canvas singleLeafPicture() {
    const int size = 64;
    Canvas canvas(size, size, {0, 0, 0, 0});
    // an oak leaf: lobes along a midrib
    const Color leaf = {0.78f, 0.55f, 0.16f, 1};
    for (int i = 0; i < 5; ++i) {
        const float y = 10 + 10.0f * float(i);
        const float w = 9 + 3 * std::sin(float(i) * 1.3f);
        pictures::fillDisc(canvas, 32 - w * 0.6f, y, 7, leaf);
        pictures::fillDisc(canvas, 32 + w * 0.6f, y + 4, 7, leaf);
    }
    pictures::fillCapsule(canvas, 32, 4, 32, 60, 1.5f, {0.5f, 0.32f, 0.1f, 1});
    pictures::cutAlpha(canvas);
    return canvas;
}

// Oak bark: long plates between deep furrows that run up the trunk, wavering, with a finer
// grain along them. Tiles both ways (every noise has a whole number of periods across), so
// the trunk shows no seam where the picture repeats along it.
Canvas oakBarkPicture() {
    const int size = 256;
    Canvas canvas(size, size);
    const Color furrow = {0.16f, 0.13f, 0.1f, 1}, plate = {0.5f, 0.44f, 0.37f, 1};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float fx = float(x), fy = float(y);
            const float warp = fractalNoise(fx / 32, fy / 32, 8, 3, 171) - 0.5f;
            // a row of the noise alone: it varies across the trunk only
            const float ridge = fractalNoise(fx / 8 + warp * 2.5f, 0.5f, 32, 3, 172);
            // furrows follow where the noise crosses its middle: a network of long lines
            const float cracks = smoothstep(0.72f, 0.8f, fractalNoise(fx / 8, fy / 8, 32, 2, 176));
            const float plates =
                smoothstep(0.03f, 0.11f, std::fabs(ridge - 0.5f)) * (1 - 0.7f * cracks);
            const float grain = fractalNoise(fx / 2 + warp * 12, 0.5f, 128, 2, 173);
            const float patch = fractalNoise(fx / 16, fy / 16, 16, 3, 174);
            const float lichen = smoothstep(0.68f, 0.78f, fractalNoise(fx / 8, fy / 8, 32, 3, 175));
            Color c = mix(furrow, plate, plates * (0.8f + 0.35f * grain));
            const float v = 0.82f + 0.3f * patch;
            c = {c.r * v, c.g * v, c.b * v, 1};
            c = mix(c, {0.45f, 0.5f, 0.36f, 1}, 0.5f * lichen * plates);
            canvas.at(x, y) = c;
        }
    return canvas;
}

Canvas shaftPicture() {
    const int w = 64, h = 256;
    Canvas canvas(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float across = std::sin(kPi * (float(x) + 0.5f) / float(w));
            const float along =
                smoothstep(0, 0.25f, float(y) / h) * smoothstep(1, 0.55f, float(y) / h);
            const float a = 0.55f * across * across * along;
            canvas.at(x, y) = {1.0f, 0.86f, 0.55f, a};
        }
    return canvas;
}

std::vector<sw::MaterialDesc> materials() {
    std::vector<sw::MaterialDesc> m(kMaterialCount);
    m[kGrass].texture = "eiche_grass.jpg";
    m[kBark].texture = "eiche_bark.jpg";
    m[kLeaves].texture = "eiche_leaves.png";
    m[kLeaves].flags = 0x2 | 0x8;
    m[kTuft].texture = "eiche_tuft.png";
    m[kTuft].flags = 0x2 | 0x8;
    m[kFlowers].texture = "eiche_flowers.png";
    m[kFlowers].flags = 0x2 | 0x8;
    m[kLeaf].texture = "eiche_leaf.png";
    m[kLeaf].flags = 0x2 | 0x8;
    m[kShaft].texture = "eiche_shaft.png";
    m[kShaft].flags = 0x20 | 0x8;
    m[kShaft].opacity = 0.6f;
    m[kNeedles].texture = "land_needles.jpg";
    for (sw::MaterialDesc& d : m)
        for (float& a : d.ambient)
            a = 1.0f;
    return m;
}

struct Branch {
    Vec3 from, to;
    float radius;
};

void growBranches(std::vector<Branch>& out, std::vector<Vec3>& tips, Vec3 from, Vec3 dir,
                  float length, float radius, int depth, pictures::Random& random) {
    const Vec3 to = from + dir * length;
    out.push_back({from, to, radius});
    if (depth == 0) {
        tips.push_back(to);
        return;
    }
    const int children = depth == 3 ? 5 : 3;
    for (int i = 0; i < children; ++i) {
        const float a = random.range(0, 2 * kPi);
        const float spread = depth == 3 ? random.range(0.6f, 1.0f) : random.range(0.4f, 0.8f);
        Vec3 d = normalized(dir + Vec3{std::cos(a) * spread * 1.4f, std::sin(a) * spread * 1.4f,
                                       depth == 3 ? -0.1f : 0.15f});
        if (d.z < -0.2f) d = normalized(d + Vec3{0, 0, 0.5f});
        const Vec3 start = lerp(from, to, depth == 3 ? 1.0f : random.range(0.6f, 1.0f));
        growBranches(out, tips, start, d, length * random.range(0.55f, 0.7f), radius * 0.55f,
                     depth - 1, random);
    }
}

// Each card keeps its rest position; flutter turns it about its centre, gusts bend the crown.
struct LeafCard {
    Vec3 centre;
    float heading, pitch, size, phase;
};

std::vector<sw::Vertex> leafVertices(const std::vector<LeafCard>& cards, double t) {
    std::vector<sw::Vertex> out;
    const float w = float(2 * kPi * t / kSeconds);
    for (const LeafCard& c : cards) {
        const float gust = 0.5f + 0.5f * std::sin(w + c.centre.x * 0.05f);
        const float bend = (c.centre.z / 20.0f) * (0.5f + 0.6f * gust);
        const Vec3 offset = {bend * std::sin(2 * w + c.phase * 0.3f),
                             bend * 0.6f * std::cos(w + c.phase * 0.2f), 0};
        const float flutter =
            0.25f * std::sin(4 * w + c.phase) + 0.1f * std::sin(7 * w + 2 * c.phase);
        const sw::Mesh one = octagonCard(c.size, kLeaves, kCardReach);
        const sw::Matrix12 place =
            pose(c.centre + offset, c.heading + flutter, c.pitch + flutter * 0.6f);
        for (sw::Vertex v : one.vertices) {
            const Vec3 p = transformPoint(place, {v.x, v.y, v.z});
            out.push_back({p.x, p.y, p.z, v.u, v.v});
        }
    }
    return out;
}

SkyLook skyLook() {
    SkyLook sky;
    sky.sun = kSun;
    sky.zenith = {0.22f, 0.36f, 0.62f, 1};
    sky.horizon = {0.96f, 0.8f, 0.58f, 1};
    sky.sunGlow = {1.0f, 0.75f, 0.4f, 1};
    sky.cloudLight = {1.0f, 0.92f, 0.8f, 1};
    sky.cloudDark = {0.62f, 0.55f, 0.6f, 1};
    sky.cloudCover = 0.35f;
    sky.hill = {0.25f, 0.3f, 0.2f, 1};
    sky.ground = {0.22f, 0.28f, 0.14f, 1};
    sky.hillHeight = 0.03f;
    sky.seed = 29;
    return sky;
}

void addPictures(std::vector<PictureJob>& pictures) {
    pictures.push_back({"eiche_grass.jpg", grassPicture});
    pictures.push_back({"eiche_bark.jpg", oakBarkPicture});
    pictures.push_back({"eiche_leaves.png", [] {
                            return leafClusterPicture(256, {0.55f, 0.7f, 0.25f, 1},
                                                      {0.12f, 0.28f, 0.07f, 1}, 23, kLeavesPerCard);
                        }});
    pictures.push_back(
        {"eiche_tuft.png", [] {
             return grassTuftPicture(128, {0.18f, 0.3f, 0.07f, 1}, {0.6f, 0.7f, 0.3f, 1}, 44);
         }});
    pictures.push_back({"eiche_flowers.png", flowerTuftPicture});
    pictures.push_back({"eiche_leaf.png", singleLeafPicture});
    pictures.push_back({"eiche_shaft.png", shaftPicture});
}

// Where the oak stands and where its branches end (the leaves grow there).
struct Oak {
    Vec3 base;
    std::vector<Vec3> tips;
};

// The oak: trunk and three orders of branches; leaves at the tips and along the limbs.
Oak addOak(sw::Scene& scene, pictures::Random& random) {
    std::vector<Branch> branches;
    std::vector<Vec3> tips;
    const Vec3 base = {0, 0, meadowHeight(0, 0)};
    growBranches(branches, tips, base + Vec3{0, 0, -1}, {0, 0, 1}, 12, 1.9f, 3, random);
    sw::Mesh wood;
    wood.materialIndex = kBark;
    wood.hasUV = true;
    for (const Branch& b : branches) {
        // the bark's furrows keep their proportions on thick and thin limbs alike
        const float around = 2 * kPi * b.radius * 0.8f;
        const float length = std::sqrt(dot(b.to - b.from, b.to - b.from));
        appendMesh(wood,
                   tube(b.from, b.to, b.radius, b.radius * 0.6f, b.radius > 0.8f ? 12 : 7, kBark,
                        std::max(1.0f, length / around)),
                   {});
    }
    scene.tracks.push_back(sw::objectTrack("oak", {sw::meshKey(0, wood)}));
    return {base, tips};
}

// Leaf cards round the branch tips, one mesh that sways through morph keys.
void addCrown(sw::Scene& scene, const std::vector<Vec3>& tips, pictures::Random& random) {
    std::vector<LeafCard> cards;
    for (const Vec3& tip : tips)
        for (int i = 0; i < kCardsPerTip; ++i) {
            const Vec3 at = tip + Vec3{random.range(-3.5f, 3.5f), random.range(-3.5f, 3.5f),
                                       random.range(-2.0f, 2.8f)};
            cards.push_back({at, random.range(0, 2 * kPi), random.range(-0.6f, 0.6f),
                             random.range(4.0f, 5.5f), random.range(0, 2 * kPi)});
        }
    sw::Mesh crown;
    crown.materialIndex = kLeaves;
    crown.hasUV = true;
    crown.encoding = 1;
    crown.vertices = leafVertices(cards, 0);
    const sw::Mesh shape = octagonCard(1, kLeaves);
    for (size_t i = 0; i < cards.size(); ++i) {
        const uint16_t first = uint16_t(i * shape.vertices.size());
        for (const sw::Face& f : shape.faces)
            crown.faces.push_back(
                {uint16_t(first + f.a), uint16_t(first + f.b), uint16_t(first + f.c)});
    }
    std::vector<sw::Key> keys = {sw::meshKey(0, crown)};
    for (int i = 1; i <= int(kSeconds * 4); ++i)
        keys.push_back(sw::morphKey(i * 0.25, {}, leafVertices(cards, i * 0.25), true, 1));
    scene.tracks.push_back(sw::objectTrack("crown", keys));
}

// Grass tufts and flowers round the tree.
void addTuftsAndFlowers(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh tufts, flowers;
    tufts.materialIndex = kTuft;
    flowers.materialIndex = kFlowers;
    tufts.hasUV = flowers.hasUV = true;
    for (int i = 0; i < 420; ++i) {
        const float a = random.range(0, 2 * kPi), r = 3 + 75 * std::sqrt(random.uniform());
        const float x = r * std::cos(a), y = r * std::sin(a);
        const bool flower = random.uniform() < 0.3f;
        const float s = random.range(1.0f, 1.8f);
        appendMesh(flower ? flowers : tufts, card(s * 1.4f, s, flower ? kFlowers : kTuft),
                   pose({x, y, meadowHeight(x, y) - 0.1f}, random.range(0, 2 * kPi)));
    }
    scene.tracks.push_back(sw::objectTrack("tufts", {sw::meshKey(0, tufts)}));
    scene.tracks.push_back(sw::objectTrack("flowers", {sw::meshKey(0, flowers)}));
}

// Woods round the meadow.
void addWoods(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh needles, trunks, crowns;
    needles.materialIndex = kNeedles;
    trunks.materialIndex = kBark;
    crowns.materialIndex = kLeaves;
    needles.hasUV = trunks.hasUV = crowns.hasUV = true;
    for (int i = 0; i < 150; ++i) {
        const float a = random.range(0, 2 * kPi), r = random.range(170, 290);
        const float x = r * std::cos(a), y = r * std::sin(a);
        const float h = random.range(16, 30);
        const sw::Matrix12 place = pose({x, y, meadowHeight(x, y)}, random.range(0, 2 * kPi));
        appendMesh(trunks, trunkMesh(h * 0.5f, h * 0.035f, kBark), place);
        if (i % 3 == 0)
            appendMesh(crowns, broadleafCrownMesh(h, kLeaves, uint32_t(i)), place);
        else
            appendMesh(needles, coniferMesh(h * 1.2f, kNeedles, uint32_t(i)), place);
    }
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, trunks)}));
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, needles)}));
    scene.tracks.push_back(sw::objectTrack("woods", {sw::meshKey(0, crowns)}));
}

// Each leaf drifts down in a spiral, turning over, then starts again.
void addFallingLeaves(sw::Scene& scene, pictures::Random& random) {
    for (int i = 0; i < 14; ++i) {
        const float a0 = random.range(0, 2 * kPi), r0 = random.range(3, 12),
                    z0 = random.range(10, 20);
        const float phase = random.range(0, 1);
        sw::Mesh leaf = card(0.5f, 0.5f, kLeaf);
        scene.tracks.push_back(movingObject("falling leaf", leaf, kSeconds, 0.125, [=](double t) {
            const float f = std::fmod(float(t / kSeconds) + phase, 1.0f);
            const float a = a0 + 5 * f;
            const Vec3 p = {r0 * std::cos(a) + 6 * f, r0 * std::sin(a), z0 * (1 - f) + 0.3f};
            return pose(p, 9 * f + a0, 3 * std::sin(12 * f));
        }));
    }
}

// Shafts of sunlight slanting through the crown.
void addSunShafts(sw::Scene& scene, pictures::Random& random) {
    sw::Mesh shafts;
    shafts.materialIndex = kShaft;
    shafts.hasUV = true;
    const Vec3 along = kSun * -1.0f;
    for (int i = 0; i < 6; ++i) {
        const Vec3 top = Vec3{random.range(-9, 9), random.range(-9, 9), random.range(22, 28)};
        const float length = (top.z - 0.5f) / -along.z;
        const Vec3 side = normalized(cross(along, {0, 0, 1}));
        const float w = random.range(0.8f, 1.8f);
        const Vec3 bottom = top + along * length;
        sw::Mesh quad;
        quad.materialIndex = kShaft;
        quad.hasUV = true;
        const Vec3 p[4] = {bottom - side * w, bottom + side * w, top + side * w, top - side * w};
        quad.vertices = {{p[0].x, p[0].y, p[0].z, 0, 0},
                         {p[1].x, p[1].y, p[1].z, 1, 0},
                         {p[2].x, p[2].y, p[2].z, 1, 1},
                         {p[3].x, p[3].y, p[3].z, 0, 1}};
        quad.faces = {{0, 1, 2}, {0, 2, 3}};
        appendMesh(shafts, quad, {});
    }
    scene.tracks.push_back(sw::objectTrack("sunbeams", {sw::meshKey(0, shafts)}));
}

void addCameras(sw::Scene& scene, Vec3 base, const std::vector<Vec3>& tips) {
    const Vec3 crown = base + Vec3{0, 0, 18};
    auto addCamera = [&](std::function<Shot(float)> at) {
        scene.tracks.push_back(
            cameraShot("camera", kSeconds, [at](double t) { return at(float(t / kSeconds)); }));
    };
    // 0: walking up to the oak across the meadow
    addCamera([=](float f) {
        return Shot{lerp({-110, -65, 4}, {-55, -30, 6}, f), crown + Vec3{0, 0, -4 + 2 * f}, 1.15f};
    });
    // 1: in among the leaves of one limb
    addCamera([=](float f) {
        const Vec3 tip = tips[3];
        return Shot{tip + Vec3{9 - 3 * f, -8 + 2 * f, -2 + 1.5f * f}, tip + Vec3{0, 0, 0.5f}, 1.0f};
    });
    // 2: under the crown looking up the trunk, turning
    addCamera([=](float f) {
        const float a = 0.5f + 1.2f * f;
        return Shot{base + Vec3{6.5f * std::cos(a), 6.5f * std::sin(a), 1.7f},
                    base + Vec3{0, 0, 24}, 1.3f};
    });
    // 3: crane from the roots to above the crown
    addCamera([=](float f) {
        const float e = f * f * (3 - 2 * f);
        return Shot{base + Vec3{-30 - 8 * e, -24 - 8 * e, 2.5f + 44 * e},
                    crown + Vec3{0, 0, -8 + 6 * e}, 1.2f};
    });
    // 4: from the shade toward the sunlit meadow
    addCamera([=](float f) {
        // beside the trunk, not behind it: the line toward the sun passes it by
        const Vec3 eye = base + Vec3{4.5f + 2 * f, 4.2f - f, 3.5f};
        return Shot{eye, eye + kSun * 80 + Vec3{0, 0, -17 + 4 * f}, 1.25f};
    });
    // 5: slow orbit
    addCamera([=](float f) {
        const float a = -2.6f + 1.1f * f;
        return Shot{base + Vec3{62 * std::cos(a), 62 * std::sin(a), 12 + 3 * f}, crown, 1.15f};
    });
}

} // namespace

BuiltScene buildEiche() {
    BuiltScene out = startDemoScene(Eiche, kSeconds, {0.8f, 0.72f, 0.6f, 1},
                                    {0.48f, 0.44f, 0.42f, 1}, "eiche_sky", skyLook(), 512);
    addPictures(out.pictures);
    sw::Scene& scene = out.scene;
    scene.tracks.push_back(sw::objectTrack(
        "meadow",
        {sw::meshKey(0, heightField(32, 32, -320, -320, 640, 640, meadowHeight, kGrass, 40))}));
    // One generator for all that is placed at random: the steps' order is its draws' order.
    pictures::Random random(1234);
    const Oak oak = addOak(scene, random);
    addCrown(scene, oak.tips, random);
    addTuftsAndFlowers(scene, random);
    addWoods(scene, random);
    addFallingLeaves(scene, random);
    addSunShafts(scene, random);
    scene.tracks.push_back(steadyLight("sun", kSun * 5000, {1.0f, 0.86f, 0.62f, 1}, 0));
    scene.tracks.push_back(
        steadyLight("sky", Vec3{0.5f, -0.6f, 0.6f} * 5000, {0.25f, 0.3f, 0.42f, 1}, 0));
    addCameras(scene, oak.base, oak.tips);
    for (const sw::MaterialDesc& m : materials())
        scene.tracks.push_back(sw::materialTrack("material", m));
    return out;
}
