#include "content/procedural.h"

#include "render/scene_renderer.h"
#include "wavelet/qw2_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace procedural {

using pictures::fractalNoise;
using pictures::mix;

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 normalized(Vec3 a) {
    const float len = std::sqrt(dot(a, a));
    return len > 0 ? a * (1.0f / len) : Vec3{0, 0, 1};
}
Vec3 lerp(Vec3 a, Vec3 b, float t) {
    return a + (b - a) * t;
}

float clamp01(float x) {
    return std::clamp(x, 0.0f, 1.0f);
}
float smoothstep(float a, float b, float x) {
    const float t = clamp01((x - a) / (b - a));
    return t * t * (3 - 2 * t);
}

sw::Matrix12 frame(Vec3 xAxis, Vec3 yAxis, Vec3 zAxis, Vec3 position) {
    sw::Matrix12 m;
    const float v[12] = {xAxis.x, xAxis.y, xAxis.z, yAxis.x,    yAxis.y,    yAxis.z,
                         zAxis.x, zAxis.y, zAxis.z, position.x, position.y, position.z};
    std::copy(v, v + 12, m.m);
    return m;
}

sw::Matrix12 pose(Vec3 position, float heading, float pitch, float scale) {
    const float ch = std::cos(heading), sh = std::sin(heading);
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    // Rz(heading) * Rx(pitch), columns scaled
    const Vec3 x = {ch, sh, 0}, y = {-sh * cp, ch * cp, sp}, z = {sh * sp, -ch * sp, cp};
    return frame(x * scale, y * scale, z * scale, position);
}

Vec3 transformPoint(const sw::Matrix12& m, Vec3 p) {
    const float* a = m.m;
    return {a[0] * p.x + a[3] * p.y + a[6] * p.z + a[9],
            a[1] * p.x + a[4] * p.y + a[7] * p.z + a[10],
            a[2] * p.x + a[5] * p.y + a[8] * p.z + a[11]};
}

sw::Matrix12 compose(const sw::Matrix12& a, const sw::Matrix12& b) {
    const float* m = a.m;
    auto axis = [&](int i) {
        const float* c = b.m + 3 * i;
        return Vec3{m[0] * c[0] + m[3] * c[1] + m[6] * c[2],
                    m[1] * c[0] + m[4] * c[1] + m[7] * c[2],
                    m[2] * c[0] + m[5] * c[1] + m[8] * c[2]};
    };
    return frame(axis(0), axis(1), axis(2), transformPoint(a, {b.m[9], b.m[10], b.m[11]}));
}

bool appendMesh(sw::Mesh& into, const sw::Mesh& part, const sw::Matrix12& place) {
    if (into.vertices.size() + part.vertices.size() > kMaxMeshVertices) return false;
    const uint16_t base = uint16_t(into.vertices.size());
    for (sw::Vertex v : part.vertices) {
        const Vec3 p = transformPoint(place, {v.x, v.y, v.z});
        v.x = p.x;
        v.y = p.y;
        v.z = p.z;
        into.vertices.push_back(v);
    }
    for (sw::Face f : part.faces) {
        f.a = uint16_t(f.a + base);
        f.b = uint16_t(f.b + base);
        f.c = uint16_t(f.c + base);
        f.neighbours[0] = f.neighbours[1] = f.neighbours[2] = sw::kNoNeighbour;
        into.faces.push_back(f);
    }
    return true;
}

void addToBatch(MeshBatch& batch, const sw::Mesh& part, const sw::Matrix12& place) {
    if (batch.meshes.empty() || !appendMesh(batch.meshes.back(), part, place)) {
        sw::Mesh fresh = batch.prototype;
        fresh.vertices.clear();
        fresh.faces.clear();
        batch.meshes.push_back(fresh);
        appendMesh(batch.meshes.back(), part, place);
    }
}

sw::Mesh flatten(const sw::Mesh& mesh) {
    sw::Mesh out = mesh;
    out.vertices.clear();
    out.faces.clear();
    for (const sw::Face& f : mesh.faces) {
        const uint16_t base = uint16_t(out.vertices.size());
        out.vertices.push_back(mesh.vertices[f.a]);
        out.vertices.push_back(mesh.vertices[f.b]);
        out.vertices.push_back(mesh.vertices[f.c]);
        out.faces.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
    }
    return out;
}

namespace {

// Two counter-clockwise triangles (seen from outside) for the quad a, b, c, d of a grid.
void addQuad(sw::Mesh& mesh, int a, int b, int c, int d) {
    mesh.faces.push_back({uint16_t(a), uint16_t(b), uint16_t(c)});
    mesh.faces.push_back({uint16_t(a), uint16_t(c), uint16_t(d)});
}

} // namespace

sw::Mesh heightField(int cellsX, int cellsY, float x0, float y0, float sizeX, float sizeY,
                     const HeightFn& height, uint16_t material, float uvRepeat) {
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    for (int j = 0; j <= cellsY; ++j)
        for (int i = 0; i <= cellsX; ++i) {
            const float u = float(i) / float(cellsX), v = float(j) / float(cellsY);
            const float x = x0 + sizeX * u, y = y0 + sizeY * v;
            mesh.vertices.push_back({x, y, height(x, y), u * uvRepeat, v * uvRepeat});
        }
    const int row = cellsX + 1;
    for (int j = 0; j < cellsY; ++j)
        for (int i = 0; i < cellsX; ++i) {
            const int a = j * row + i;
            addQuad(mesh, a, a + 1, a + row + 1, a + row);
        }
    return mesh;
}

sw::Mesh lathe(const std::vector<std::pair<float, float>>& profile, int segments, uint16_t material,
               float uRepeat) {
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    const int rings = int(profile.size());
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s <= segments; ++s) {
            const float a = 2 * kPi * float(s) / float(segments);
            const float radius = profile[size_t(r)].first;
            mesh.vertices.push_back(
                {radius * std::cos(a), radius * std::sin(a), profile[size_t(r)].second,
                 uRepeat * float(s) / float(segments), float(r) / float(std::max(1, rings - 1))});
        }
    const int row = segments + 1;
    for (int r = 0; r + 1 < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const int a = r * row + s;
            addQuad(mesh, a, a + 1, a + row + 1, a + row);
        }
    return mesh;
}

sw::Mesh tube(Vec3 a, Vec3 b, float ra, float rb, int segments, uint16_t material, float vRepeat) {
    const Vec3 axis = normalized(b - a);
    const Vec3 helper = std::fabs(axis.z) < 0.9f ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
    const Vec3 side = normalized(cross(axis, helper));
    const Vec3 up = cross(side, axis);
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    for (int end = 0; end < 2; ++end)
        for (int s = 0; s <= segments; ++s) {
            const float ang = 2 * kPi * float(s) / float(segments);
            const float r = end ? rb : ra;
            const Vec3 p = (end ? b : a) + side * (r * std::cos(ang)) + up * (r * std::sin(ang));
            mesh.vertices.push_back(
                {p.x, p.y, p.z, float(s) / float(segments), float(end) * vRepeat});
        }
    const int row = segments + 1;
    for (int s = 0; s < segments; ++s)
        addQuad(mesh, s, s + row, s + row + 1, s + 1);
    return mesh;
}

sw::Mesh card(float w, float h, uint16_t material, float u0, float v0, float u1, float v1) {
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    mesh.vertices = {{-w / 2, 0, 0, u0, v0},
                     {w / 2, 0, 0, u1, v0},
                     {w / 2, 0, h, u1, v1},
                     {-w / 2, 0, h, u0, v1}};
    mesh.faces = {{0, 1, 2}, {0, 2, 3}};
    return mesh;
}

sw::Mesh octagonCard(float size, uint16_t material, float reach) {
    sw::Mesh mesh;
    mesh.materialIndex = material;
    mesh.hasUV = true;
    const float corner = reach / std::cos(kPi / 8); // circumradius, in texture units
    for (int i = 0; i < 8; ++i) {
        const float a = kPi / 8 + float(i) * kPi / 4;
        const float u = 0.5f + corner * std::cos(a), v = 0.5f + corner * std::sin(a);
        mesh.vertices.push_back({(u - 0.5f) * size, 0, (v - 0.5f) * size, u, v});
    }
    for (uint16_t i = 1; i + 1 < 8; ++i)
        mesh.faces.push_back({0, i, uint16_t(i + 1)});
    return mesh;
}

sw::Mesh rock(float radius, float sx, float sy, float sz, float roughness, uint32_t seed,
              uint16_t material) {
    sw::Mesh mesh = sw::sphereMesh(radius, 8, 5, material);
    for (sw::Vertex& v : mesh.vertices) {
        const float n =
            pictures::valueNoise(v.x * 1.7f / radius + 50, v.y * 1.7f / radius + v.z, 64, seed);
        const float k = 1.0f + roughness * (n - 0.5f);
        v.x *= k * sx;
        v.y *= k * sy;
        v.z *= k * sz;
    }
    return mesh;
}

std::vector<sw::Key> sampled(double seconds, double step,
                             const std::function<sw::Key(double)>& key) {
    std::vector<sw::Key> keys;
    const int steps = int(seconds / step + 0.5);
    for (int i = 0; i <= steps; ++i)
        keys.push_back(key(double(i) * step));
    return keys;
}

sw::Track cameraShot(const std::string& name, double seconds, const std::function<Shot(double)>& at,
                     double step) {
    return sw::cameraTrack(name, sampled(seconds, step, [&](double t) {
                               const Shot s = at(t);
                               const float eye[3] = {s.eye.x, s.eye.y, s.eye.z};
                               const float target[3] = {s.target.x, s.target.y, s.target.z};
                               return sw::cameraLookAtKey(t, eye, target, s.fov);
                           }));
}

sw::Track movingObject(const std::string& name, sw::Mesh mesh, double seconds, double step,
                       const std::function<sw::Matrix12(double)>& place) {
    std::vector<sw::Key> keys =
        sampled(seconds, step, [&](double t) { return sw::transformKey(t, place(t)); });
    mesh.transform = place(0);
    keys[0] = sw::meshKey(0, mesh);
    return sw::objectTrack(name, keys);
}

// ---- Sky ----

Color skyColor(const SkyLook& look, Vec3 d) {
    const float e = d.z;
    Color c = mix(look.horizon, look.zenith, std::pow(clamp01(e), 0.5f));
    const float cosSun = std::max(0.0f, dot(d, look.sun));
    const float glow = 0.8f * std::pow(cosSun, 48.0f) + 0.35f * std::pow(cosSun, 5.0f);
    c = {c.r + glow * look.sunGlow.r, c.g + glow * look.sunGlow.g, c.b + glow * look.sunGlow.b, 1};
    if (cosSun > 0.9988f) c = {1.0f, 0.98f, 0.92f, 1};
    if (e > 0.01f && look.cloudCover > 0) {
        const float px = d.x / e * 1.2f, py = d.y / e * 1.2f;
        const float n = fractalNoise(px + 100, py + 100, 4096, 5, look.seed);
        const float lo = 0.72f - 0.3f * look.cloudCover;
        const float cover = smoothstep(lo, lo + 0.2f, n) * smoothstep(0.01f, 0.15f, e);
        Color cloud = mix(look.cloudLight, look.cloudDark, smoothstep(lo + 0.1f, lo + 0.35f, n));
        const float lit = std::pow(cosSun, 3.0f) * 0.5f;
        cloud = {cloud.r + lit * look.sunGlow.r, cloud.g + lit * look.sunGlow.g,
                 cloud.b + lit * look.sunGlow.b, 1};
        c = mix(c, cloud, cover * 0.9f);
    }
    const float azimuth = std::atan2(d.y, d.x) / (2 * kPi) + 0.5f;
    const float hills =
        look.hillHeight * (0.4f + 1.2f * fractalNoise(azimuth * 24, 0.5f, 24, 4, look.seed + 7));
    const float haze = std::exp(-std::max(hills - e, 0.0f) * 4.0f);
    const Color land = mix(e < 0 ? look.ground : look.hill, look.horizon, haze * 0.45f);
    return mix(c, land, 1.0f - smoothstep(hills - 0.003f, hills + 0.003f, e));
}

Canvas skyFace(const SkyLook& look, int slot, int size) {
    const EnvironmentBoxCorner* corners = kEnvironmentBoxFaces[slot];
    auto cornerAt = [&](float s, float t) {
        for (int i = 0; i < 4; ++i)
            if (corners[i].s == s && corners[i].t == t) return corners[i];
        return corners[0];
    };
    const EnvironmentBoxCorner p00 = cornerAt(0, 0), p10 = cornerAt(1, 0), p01 = cornerAt(0, 1);
    Canvas canvas(size, size);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            const float s = (float(col) + 0.5f) / float(size),
                        t = (float(row) + 0.5f) / float(size);
            const Vec3 d = {p00.x + s * (p10.x - p00.x) + t * (p01.x - p00.x) - 0.5f,
                            p00.y + s * (p10.y - p00.y) + t * (p01.y - p00.y) - 0.5f,
                            p00.z + s * (p10.z - p00.z) + t * (p01.z - p00.z) - 0.5f};
            canvas.at(col, row) = skyColor(look, normalized(d));
        }
    return canvas;
}

// ---- Pictures ----

bool writePicture(const std::string& dir, const PictureJob& job) {
    const std::string path = dir + "/" + job.name;
    const Canvas canvas = job.make();
    const std::string ext = job.name.size() > 4 ? job.name.substr(job.name.size() - 4) : "";
    bool written = false;
    if (ext == ".png") {
        written = pictures::writePng(path, canvas);
    } else if (ext == ".jpg") {
        written = pictures::writeJpeg(path, canvas, 88);
    } else if (ext == ".qw2") {
        Qw2EncodeOptions options;
        options.bitsPerPixel = job.qw2BitsPerPixel;
        options.alpha = job.alpha;
        std::vector<uint8_t> file;
        const std::vector<uint8_t> rgba = pictures::toRgba8(canvas);
        const char* reason = nullptr;
        if (!encodeQW2(rgba.data(), canvas.width, canvas.height, options, file, &reason)) {
            std::fprintf(stderr, "%s: cannot encode: %s\n", path.c_str(), reason ? reason : "?");
            return false;
        }
        written = sw::writeBytesFile(path, file);
    }
    if (!written) std::fprintf(stderr, "%s: cannot write the picture\n", path.c_str());
    return written;
}

Canvas barkPicture(int size, Color tint, uint32_t seed) {
    Canvas canvas(size, size);
    const float scale = float(size) / 256.0f;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float fx = float(x) / scale, fy = float(y) / scale;
            const float ridges = fractalNoise(fx / 9, fy / 48, 28, 4, seed);
            const float fine = fractalNoise(fx / 3, fy / 10, 85, 3, seed + 3);
            const float crack = smoothstep(0.38f, 0.5f, ridges);
            const float v = (0.35f + 0.65f * crack) * (0.75f + 0.45f * fine);
            canvas.at(x, y) = {tint.r * v, tint.g * v, tint.b * v, 1};
        }
    return canvas;
}

Canvas leafClusterPicture(int size, Color light, Color dark, uint32_t seed, int leaves) {
    Canvas canvas(size, size, {0, 0, 0, 0});
    pictures::Random random(seed);
    const float s = float(size);
    // twigs, then leaves as pairs of overlapping discs (an almond shape)
    for (int i = 0; i < 6; ++i)
        pictures::fillCapsule(canvas, s * 0.5f, s * 0.95f, s * random.range(0.1f, 0.9f),
                              s * random.range(0.15f, 0.6f), s * 0.008f, {0.3f, 0.22f, 0.14f, 1});
    for (int i = 0; i < leaves; ++i) {
        const float a = random.range(0, 2 * kPi);
        const float r = s * 0.42f * std::sqrt(random.uniform());
        const float cx = s * 0.5f + r * std::cos(a), cy = s * 0.47f + r * std::sin(a) * 0.9f;
        const float len = s * random.range(0.05f, 0.08f), dir = random.range(0, 2 * kPi);
        const float shade = random.uniform() * 0.6f + 0.4f * (1.0f - (cy / s));
        const Color c = mix(dark, light, clamp01(shade));
        const float dx = std::cos(dir) * len * 0.3f, dy = std::sin(dir) * len * 0.3f;
        pictures::fillCapsule(canvas, cx - dx, cy - dy, cx + dx, cy + dy, len * 0.32f, c);
        pictures::fillCapsule(canvas, cx - dx * 0.9f, cy - dy * 0.9f, cx + dx * 0.9f,
                              cy + dy * 0.9f, len * 0.06f, mix(c, dark, 0.5f));
    }
    // hard alpha: the opaque pass takes the leaves, the blended pass only the rim
    pictures::cutAlpha(canvas);
    return canvas;
}

Canvas grassTuftPicture(int size, Color base, Color tip, uint32_t seed) {
    Canvas canvas(size, size, {0, 0, 0, 0});
    pictures::Random random(seed);
    const float s = float(size);
    for (int i = 0; i < 40; ++i) {
        const float x0 = s * random.range(0.2f, 0.8f);
        const float x1 = x0 + s * random.range(-0.3f, 0.3f);
        const float y1 = s * random.range(0.05f, 0.5f);
        const int steps = 12;
        for (int k = 0; k < steps; ++k) {
            const float f0 = float(k) / steps, f1 = float(k + 1) / steps;
            const float bend0 = f0 * f0, bend1 = f1 * f1;
            const Color c = mix(base, tip, f0 * random.range(0.8f, 1.0f));
            pictures::fillCapsule(canvas, x0 + (x1 - x0) * bend0, s + (y1 - s) * f0,
                                  x0 + (x1 - x0) * bend1, s + (y1 - s) * f1,
                                  s * 0.012f * (1.2f - f0), c);
        }
    }
    pictures::cutAlpha(canvas);
    return canvas;
}

Canvas stonePicture(int size, Color tint, uint32_t seed) {
    Canvas canvas(size, size);
    const float scale = float(size) / 256.0f;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float fx = float(x) / scale, fy = float(y) / scale;
            const float n = fractalNoise(fx / 32, fy / 32, 8, 6, seed);
            const float speck = fractalNoise(fx / 2, fy / 2, 128, 2, seed + 9);
            const float moss =
                smoothstep(0.55f, 0.7f, fractalNoise(fx / 20, fy / 20, 13, 3, seed + 4));
            const float v = 0.55f + 0.5f * (n - 0.5f) + 0.15f * (speck - 0.5f);
            Color c = {tint.r * v, tint.g * v, tint.b * v, 1};
            c = mix(c, {0.25f * v + 0.1f, 0.4f * v + 0.1f, 0.12f, 1}, moss * 0.7f);
            canvas.at(x, y) = c;
        }
    return canvas;
}

Canvas glowPicture(int size, Color color) {
    Canvas canvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float dx = (float(x) + 0.5f) / float(size) * 2 - 1;
            const float dy = (float(y) + 0.5f) / float(size) * 2 - 1;
            const float r = std::sqrt(dx * dx + dy * dy);
            const float g = clamp01(1.0f - r);
            const float a = g * g * (0.6f + 0.4f * g);
            canvas.at(x, y) = {color.r, color.g, color.b, a};
        }
    return canvas;
}

} // namespace procedural
