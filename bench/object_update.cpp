// Per-frame object update on a 50,000-vertex morphing mesh (blend of positions and texture
// coordinates plus the normal pass), beside a plain memcpy of the vertex bytes it writes.
// One core. Also counts frames that reach the allocator (expected: none after the first).
//   bench_object_update [frames]
#include "allocation_count.h"
#include "bench_timing.h"
#include "scene/object_update.h"
#include "scene/scene_file.h"
#include "writers/scene_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

namespace sw = scenewriter;

// A 224 × 224 vertex grid whose z ripples differently at 0 s, 1 s and 2 s. The face count is a
// uint16 in the file, so the triangles stop at 65,534 (the last rows of cells stay open).
std::vector<uint8_t> morphingGrid() {
    sw::Mesh grid = sw::gridMesh(223, 100.0f);
    grid.faces.resize(65534);
    sw::Scene scene;
    sw::setStartEnd(scene, 0, 2);
    std::vector<sw::Key> keys = {sw::meshKey(0, grid)};
    for (int k = 1; k <= 2; ++k) {
        std::vector<sw::Vertex> v = grid.vertices;
        for (size_t i = 0; i < v.size(); ++i)
            v[i].z = float((i * 7 + size_t(k) * 13) % 17) * 0.1f;
        keys.push_back(sw::morphKey(k, sw::translation(0, 0, float(k)), v, true));
    }
    scene.tracks.push_back(sw::objectTrack("grid", keys));
    scene.tracks.push_back(sw::materialTrack("mat", sw::MaterialDesc{}));
    return sw::writeScene(scene);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const std::vector<uint8_t> file = morphingGrid();
    Scene* scene = createScene();
    if (!loadSceneFromMemory(*scene, file.data(), file.size())) return 1;
    prepareObjects(*scene);
    SceneObject& object = scene->objects[0];
    updateObject(object, 0.0f, true); // builds the topology

    std::vector<double> times;
    times.reserve(size_t(frames));
    const long before = bench::allocations;
    for (int f = 0; f < frames; ++f) {
        const float t = 0.001f + 1.99f * float(f) / float(frames); // always blending
        const double start = bench::wallMs();
        updateObject(object, t, false);
        times.push_back(bench::wallMs() - start);
    }
    const long frameAllocations = bench::allocations - before;
    std::sort(times.begin(), times.end());
    const double updateMs = times[times.size() / 2];

    const size_t bytes = size_t(object.vertexCount) * sizeof(ObjectVertex);
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    times.clear();
    for (int f = 0; f < frames; ++f) {
        from[size_t(f) % bytes] = uint8_t(f);
        const double start = bench::wallMs();
        std::memcpy(to.data(), from.data(), bytes);
        times.push_back(bench::wallMs() - start);
        if (to[size_t(f) % bytes] != uint8_t(f)) return 1;
    }
    std::sort(times.begin(), times.end());
    const double copyMs = times[times.size() / 2];

    const double n = double(object.vertexCount);
    std::printf("updateObject: %d vertices, %d faces, blend + normals\n", int(object.vertexCount),
                int(object.faceCount));
    std::printf("  median %.3f ms per frame = %.1f M vertices/s\n", updateMs,
                n / updateMs / 1000.0);
    std::printf("memcpy of the same %zu bytes: median %.3f ms = %.1f M vertices/s (%.1fx)\n", bytes,
                copyMs, n / copyMs / 1000.0, updateMs / copyMs);
    std::printf("allocations during %d frames: %ld\n", frames, frameAllocations);
    destroyScene(scene);
    return 0;
}
