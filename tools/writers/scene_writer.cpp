// Scene file writer: the byte layout mirrors the loader's reads field by field.
#include "writers/scene_writer.h"

#include "writers/byte_writer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace scenewriter {

namespace {

void putMatrix(ByteWriter& b, const Matrix12& m) {
    for (float v : m.m)
        b.f32(v);
}

void normalize(float v[3]) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0) {
        v[0] /= len;
        v[1] /= len;
        v[2] /= len;
    }
}

void cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

} // namespace

int32_t secondsToTicks(double seconds) {
    return int32_t(std::lround(seconds * 4800.0));
}

Matrix12 translation(float x, float y, float z) {
    Matrix12 m;
    m.m[9] = x;
    m.m[10] = y;
    m.m[11] = z;
    return m;
}

Matrix12 placement(float x, float y, float z, float angleZ, float s) {
    const float c = std::cos(angleZ) * s;
    const float n = std::sin(angleZ) * s;
    Matrix12 m;
    const float values[12] = {c, n, 0, -n, c, 0, 0, 0, s, x, y, z};
    std::memcpy(m.m, values, sizeof values);
    return m;
}

std::vector<uint8_t> encodeVertices(const std::vector<Vertex>& vertices, bool hasUV,
                                    uint8_t encoding) {
    std::vector<uint8_t> out;
    ByteWriter b{out};
    const int components = hasUV ? 5 : 3;
    auto component = [](const Vertex& v, int c) {
        const float values[5] = {v.x, v.y, v.z, v.u, v.v};
        return values[c];
    };
    if (encoding == 0) {
        for (const Vertex& v : vertices)
            for (int c = 0; c < components; ++c)
                b.f32(component(v, c));
    } else if (encoding == 1) {
        std::vector<float> tops(components), bases(components);
        for (int c = 0; c < components; ++c) {
            float lo = 0, hi = 0;
            for (size_t j = 0; j < vertices.size(); ++j) {
                const float x = component(vertices[j], c);
                lo = j == 0 ? x : std::min(lo, x);
                hi = j == 0 ? x : std::max(hi, x);
            }
            tops[c] = hi;
            bases[c] = lo;
            b.f32(hi);
            b.f32(lo);
        }
        for (int c = 0; c < components; ++c) {
            const float step = (tops[c] - bases[c]) / 255.0f;
            for (const Vertex& v : vertices) {
                const float q = step > 0 ? (component(v, c) - bases[c]) / step : 0.0f;
                b.u8(uint8_t(std::clamp(std::lround(q), 0L, 255L)));
            }
        }
    }
    return out;
}

Key holdKey(double seconds) {
    return rawKey(seconds, kHold, {});
}

Key transformKey(double seconds, const Matrix12& transform) {
    Key key = rawKey(seconds, kTransform, {});
    ByteWriter kb{key.data};
    putMatrix(kb, transform);
    return key;
}

Key meshKey(double seconds, const Mesh& mesh) {
    Key key = rawKey(seconds, kMesh, {});
    ByteWriter b{key.data};
    putMatrix(b, mesh.transform);
    b.u16(mesh.materialIndex);
    b.u8(mesh.hasUV ? 1 : 0);
    b.u8(0);
    b.u8(mesh.flipNormals ? 1 : 0);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    // The file stores 16-bit counts: a larger mesh is a mistake in the calling test or tool.
    assert(mesh.vertices.size() <= 65535 && mesh.faces.size() <= 65535);
    b.u16(uint16_t(mesh.vertices.size()));
    b.u16(uint16_t(mesh.faces.size()));
    b.u8(mesh.encoding);
    b.append(encodeVertices(mesh.vertices, mesh.hasUV, mesh.encoding));
    for (const Face& f : mesh.faces) {
        b.u16(f.a);
        b.u16(f.b);
        b.u16(f.c);
        for (uint16_t n : f.neighbours)
            b.u16(n);
    }
    return key;
}

Key morphKey(double seconds, const Matrix12& transform, const std::vector<Vertex>& vertices,
             bool hasUV, uint8_t encoding) {
    Key key = rawKey(seconds, kMorph, {});
    ByteWriter b{key.data};
    putMatrix(b, transform);
    b.u8(encoding);
    b.append(encodeVertices(vertices, hasUV, encoding));
    return key;
}

Key cameraKey(double seconds, const Matrix12& rotationAndPosition, float fovRadians) {
    Key key = transformKey(seconds, rotationAndPosition);
    ByteWriter{key.data}.f32(fovRadians);
    return key;
}

Key cameraLookAtKey(double seconds, const float eye[3], const float target[3], float fovRadians) {
    float forward[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
    normalize(forward);
    const float worldUp[3] = {0, 0, 1};
    float right[3], up[3];
    cross(forward, worldUp, right);
    normalize(right);
    cross(right, forward, up);
    Matrix12 m;
    const float values[12] = {right[0],    right[1],    right[2],    up[0],  up[1],  up[2],
                              -forward[0], -forward[1], -forward[2], eye[0], eye[1], eye[2]};
    std::memcpy(m.m, values, sizeof values);
    return cameraKey(seconds, m, fovRadians);
}

Key lightKey(double seconds, const float position[3], const float color[3], float range) {
    Key key = rawKey(seconds, kTransform, {});
    ByteWriter b{key.data};
    for (int i = 0; i < 3; ++i)
        b.f32(position[i]);
    for (int i = 0; i < 3; ++i)
        b.f32(color[i]);
    b.f32(range);
    return key;
}

Key rawKey(double seconds, uint8_t kind, std::vector<uint8_t> data) {
    Key key;
    key.ticks = secondsToTicks(seconds);
    key.kind = kind;
    key.data = std::move(data);
    return key;
}

Key withSize(Key key, int32_t size) {
    key.sizeOverridden = true;
    key.sizeOverride = size;
    return key;
}

std::vector<uint8_t> materialBlock(const MaterialDesc& material) {
    std::vector<uint8_t> out;
    ByteWriter b{out};
    b.text(material.texture, 128);
    b.text(material.secondMap, 128);
    for (float v : material.diffuse)
        b.f32(v);
    for (float v : material.ambient)
        b.f32(v);
    for (float v : material.specular)
        b.f32(v);
    b.f32(material.specularLevel);
    b.f32(material.shininess);
    b.f32(material.opacity);
    b.f32(material.selfIllumination);
    b.u32(material.flags);
    return out;
}

Track objectTrack(std::string name, std::vector<Key> keys) {
    return Track{std::move(name), kObjectTrack, std::move(keys)};
}
Track cameraTrack(std::string name, std::vector<Key> keys) {
    return Track{std::move(name), kCameraTrack, std::move(keys)};
}
Track lightTrack(std::string name, std::vector<Key> keys) {
    return Track{std::move(name), kLightTrack, std::move(keys)};
}
Track materialTrack(std::string name, const MaterialDesc& material) {
    return Track{std::move(name), kMaterialTrack, {rawKey(0, kTransform, materialBlock(material))}};
}

void setStartEnd(Scene& scene, double startSeconds, double endSeconds) {
    scene.startTicks = secondsToTicks(startSeconds);
    scene.endTicks = secondsToTicks(endSeconds);
}

std::vector<uint8_t> writeScene(const Scene& scene) {
    auto count = [&](uint8_t type) {
        return int32_t(std::count_if(scene.tracks.begin(), scene.tracks.end(),
                                     [type](const Track& t) { return t.type == type; }));
    };
    auto pick = [](int32_t given, int32_t counted) { return given >= 0 ? given : counted; };
    std::vector<uint8_t> out;
    ByteWriter b{out};
    b.i32(scene.startTicks);
    b.i32(scene.endTicks);
    b.u16(uint16_t(pick(scene.trackTotal, int32_t(scene.tracks.size()))));
    b.u16(uint16_t(pick(scene.objectCount, count(kObjectTrack))));
    b.u16(uint16_t(pick(scene.cameraCount, count(kCameraTrack))));
    b.u16(uint16_t(pick(scene.lightCount, count(kLightTrack))));
    b.u16(uint16_t(pick(scene.materialCount, count(kMaterialTrack))));
    for (float v : scene.background)
        b.f32(v);
    for (float v : scene.ambient)
        b.f32(v);
    b.text(scene.envMapName, 260);
    for (const Track& track : scene.tracks) {
        b.text(track.name, 64);
        b.u16(uint16_t(track.keyCountOverride >= 0 ? track.keyCountOverride
                                                   : int32_t(track.keys.size())));
        b.u8(track.type);
        b.u8(0);
        for (const Key& key : track.keys) {
            b.i32(key.sizeOverridden ? key.sizeOverride : int32_t(key.data.size() + 1));
            b.i32(key.ticks);
            b.u8(key.kind);
            b.append(key.data);
        }
    }
    return out;
}

std::vector<uint8_t> gzipBytes(const std::vector<uint8_t>& bytes, int level) {
    z_stream z{};
    std::vector<uint8_t> out;
    if (deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return out;
    out.resize(deflateBound(&z, uLong(bytes.size())) + 64);
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = uInt(bytes.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool writeBytesFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool writeSceneFile(const std::string& path, const Scene& scene, bool gzip) {
    const std::vector<uint8_t> bytes = writeScene(scene);
    return writeBytesFile(path, gzip ? gzipBytes(bytes) : bytes);
}

Mesh triangleMesh(uint16_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}};
    return mesh;
}

Mesh quadMesh(float size, bool hasUV, uint16_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    mesh.hasUV = hasUV;
    const float h = size * 0.5f;
    mesh.vertices = {{-h, -h, 0, 0, 0}, {h, -h, 0, 1, 0}, {h, h, 0, 1, 1}, {-h, h, 0, 0, 1}};
    mesh.faces = {{0, 1, 2}, {0, 2, 3}};
    return mesh;
}

Mesh gridMesh(int cells, float size, uint16_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    mesh.hasUV = true;
    const int n = cells + 1;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const float fx = float(x) / float(cells), fy = float(y) / float(cells);
            mesh.vertices.push_back({(fx - 0.5f) * size, (fy - 0.5f) * size, 0, fx, fy});
        }
    for (int y = 0; y < cells; ++y)
        for (int x = 0; x < cells; ++x) {
            const uint16_t i = uint16_t(y * n + x);
            mesh.faces.push_back({i, uint16_t(i + 1), uint16_t(i + n + 1)});
            mesh.faces.push_back({i, uint16_t(i + n + 1), uint16_t(i + n)});
        }
    return mesh;
}

Mesh sphereMesh(float r, int segments, int rings, uint16_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    mesh.hasUV = true;
    const float pi = 3.14159265f;
    for (int ring = 0; ring <= rings; ++ring) {
        const float theta = pi * float(ring) / float(rings);
        for (int s = 0; s <= segments; ++s) {
            const float phi = 2 * pi * float(s) / float(segments);
            mesh.vertices.push_back({r * std::sin(theta) * std::cos(phi),
                                     r * std::sin(theta) * std::sin(phi), r * std::cos(theta),
                                     float(s) / float(segments),
                                     1.0f - float(ring) / float(rings)});
        }
    }
    const int row = segments + 1;
    for (int ring = 0; ring < rings; ++ring)
        for (int s = 0; s < segments; ++s) {
            const uint16_t i = uint16_t(ring * row + s);
            // counter-clockwise seen from outside
            if (ring > 0) mesh.faces.push_back({i, uint16_t(i + row), uint16_t(i + 1)});
            if (ring < rings - 1)
                mesh.faces.push_back({uint16_t(i + 1), uint16_t(i + row), uint16_t(i + row + 1)});
        }
    return mesh;
}

Mesh boxMesh(float hx, float hy, float hz, uint16_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    mesh.hasUV = true;
    // each side: origin corner, two edge vectors spanning it counter-clockwise from outside
    const float sides[6][9] = {
        {-hx, -hy, hz, 2 * hx, 0, 0, 0, 2 * hy, 0},  // top
        {-hx, hy, -hz, 2 * hx, 0, 0, 0, -2 * hy, 0}, // bottom
        {-hx, -hy, -hz, 2 * hx, 0, 0, 0, 0, 2 * hz}, // front (-y)
        {hx, hy, -hz, -2 * hx, 0, 0, 0, 0, 2 * hz},  // back (+y)
        {-hx, hy, -hz, 0, -2 * hy, 0, 0, 0, 2 * hz}, // left (-x)
        {hx, -hy, -hz, 0, 2 * hy, 0, 0, 0, 2 * hz},  // right (+x)
    };
    for (const auto& s : sides) {
        const uint16_t base = uint16_t(mesh.vertices.size());
        for (int c = 0; c < 4; ++c) {
            const float a = (c == 1 || c == 2) ? 1.0f : 0.0f;
            const float b = (c >= 2) ? 1.0f : 0.0f;
            mesh.vertices.push_back({s[0] + a * s[3] + b * s[6], s[1] + a * s[4] + b * s[7],
                                     s[2] + a * s[5] + b * s[8], a, b});
        }
        mesh.faces.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
        mesh.faces.push_back({base, uint16_t(base + 2), uint16_t(base + 3)});
    }
    return mesh;
}

} // namespace scenewriter
