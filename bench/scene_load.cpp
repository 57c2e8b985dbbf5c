// Scene loading speed beside the floor (a plain gzread of the same file in 1 MB blocks), for a
// mesh-heavy and a key-heavy scene of 20+ MB, plain and gzip-compressed; then the one-time
// vertex decoding rate for both encodings. One core; files in the temp directory.
//   bench_scene_load [repetitions]
#include "bench_timing.h"
#include "diag/console.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "writers/scene_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <zlib.h>

namespace sw = scenewriter;

namespace {

// Twenty morphing grids of 10,201 vertices with texture coordinates, in the given encoding.
sw::Scene meshHeavyScene(uint8_t encoding) {
    sw::Scene scene;
    sw::setStartEnd(scene, 0, 10);
    for (int o = 0; o < 20; ++o) {
        sw::Mesh grid = sw::gridMesh(100, 50.0f, 0);
        grid.encoding = encoding;
        std::vector<sw::Key> keys = {sw::meshKey(0, grid)};
        for (int k = 1; k <= 4; ++k) {
            std::vector<sw::Vertex> wave = grid.vertices;
            for (sw::Vertex& v : wave)
                v.z = 0.1f * float(k) * (v.x - v.y);
            keys.push_back(sw::morphKey(0.2 * k, sw::Matrix12(), wave, true, encoding));
        }
        scene.tracks.push_back(sw::objectTrack("grid", keys));
    }
    scene.tracks.push_back(sw::materialTrack("m", sw::MaterialDesc()));
    return scene;
}

// 200 small objects with 2,000 transform keys each: the loader's many small fields.
sw::Scene keyHeavyScene() {
    sw::Scene scene;
    sw::setStartEnd(scene, 0, 100);
    for (int o = 0; o < 200; ++o) {
        std::vector<sw::Key> keys = {sw::meshKey(0, sw::boxMesh(1, 1, 1))};
        for (int k = 1; k <= 2000; ++k)
            keys.push_back(sw::transformKey(0.05 * k, sw::placement(float(o), 0, 0, 0.01f * k)));
        scene.tracks.push_back(sw::objectTrack("box", keys));
    }
    scene.tracks.push_back(sw::materialTrack("m", sw::MaterialDesc()));
    return scene;
}

void readWholeFile(const std::string& path) {
    static std::vector<uint8_t> block(1 << 20);
    gzFile stream = gzopen(path.c_str(), "rb");
    while (gzread(stream, block.data(), unsigned(block.size())) > 0) {
    }
    gzclose(stream);
}

// The floor plus what any loader that keeps the data pays: fresh memory of the file's size.
void readIntoFreshMemory(const std::string& path, size_t bytes) {
    uint8_t* store = static_cast<uint8_t*>(std::malloc(bytes));
    gzFile stream = gzopen(path.c_str(), "rb");
    size_t at = 0;
    int got = 0;
    while (at < bytes &&
           (got = gzread(stream, store + at, unsigned(std::min<size_t>(bytes - at, 1 << 20)))) > 0)
        at += size_t(got);
    gzclose(stream);
    std::free(store);
}

// Times opening, loading and closing; the scene is destroyed outside the clock.
bool loadFile(const std::string& path, double* ms = nullptr) {
    const double start = bench::wallMs();
    gzFile stream = gzopen(path.c_str(), "rb");
    Scene* scene = createScene();
    const bool ok = loadScene(*scene, stream);
    gzclose(stream);
    if (ms) *ms = bench::wallMs() - start;
    destroyScene(scene);
    return ok;
}

void compareWithFloor(const char* label, const sw::Scene& scene, int repetitions) {
    const std::vector<uint8_t> bytes = sw::writeScene(scene);
    const std::string base = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/quilm_bench_" + label;
    for (bool gzip : {false, true}) {
        const std::string path = base + (gzip ? ".q3d.gz" : ".q3d");
        const std::vector<uint8_t> file = gzip ? sw::gzipBytes(bytes) : bytes;
        if (!sw::writeBytesFile(path, file)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::exit(1);
        }
        if (!loadFile(path)) {
            std::fprintf(stderr, "loading %s failed\n", path.c_str());
            std::exit(1);
        }
        const double floor = bench::medianMs(
            repetitions, [&] { readWholeFile(path); }, bench::wallMs);
        const double stored = bench::medianMs(
            repetitions, [&] { readIntoFreshMemory(path, bytes.size()); }, bench::wallMs);
        std::vector<double> loads;
        for (int i = 0; i < repetitions; ++i) {
            double ms = 0;
            loadFile(path, &ms);
            loads.push_back(ms);
        }
        std::sort(loads.begin(), loads.end());
        const double loader = loads[loads.size() / 2];
        const double mb = double(bytes.size()) / (1 << 20);
        std::printf("%-11s %-5s %6.1f MB (file %6.1f MB): loader %7.1f ms (%6.0f MB/s), "
                    "gzread floor %7.1f ms, ratio %.2f; into fresh memory %7.1f ms, ratio %.2f\n",
                    label, gzip ? "gzip" : "plain", mb, double(file.size()) / (1 << 20), loader,
                    mb / (loader / 1000), floor, loader / floor, stored, loader / stored);
        std::remove(path.c_str());
    }
}

void decodeRate(uint8_t encoding, int repetitions) {
    const std::vector<uint8_t> bytes = sw::writeScene(meshHeavyScene(encoding));
    int64_t vertices = 0;
    std::vector<double> decodeTimes;
    for (int i = 0; i < repetitions; ++i) {
        Scene* scene = createScene();
        loadSceneFromMemory(*scene, bytes.data(), bytes.size());
        const double start = bench::wallMs();
        prepareObjects(*scene);
        decodeTimes.push_back(bench::wallMs() - start);
        vertices = 0;
        for (int o = 0; o < scene->objectCount; ++o)
            for (int k = 0; k < scene->objects[o].vertexKeyCount; ++k)
                vertices += scene->objects[o].vertexKeys[k].vertexCount;
        destroyScene(scene);
    }
    std::sort(decodeTimes.begin(), decodeTimes.end());
    const double decodeMs = decodeTimes[decodeTimes.size() / 2];
    std::printf("prepareObjects encoding %d: %lld vertices in %.1f ms, %.1f M vertices/s\n",
                encoding, static_cast<long long>(vertices), decodeMs,
                double(vertices) / (decodeMs / 1000) / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    compareWithFloor("mesh-heavy", meshHeavyScene(0), repetitions);
    compareWithFloor("key-heavy", keyHeavyScene(), repetitions);
    decodeRate(0, repetitions);
    decodeRate(1, repetitions);
    return 0;
}
