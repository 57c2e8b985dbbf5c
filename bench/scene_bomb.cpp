// Time and peak memory of loading compressed scene bombs (a header and one track of an unknown
// type whose keys announce 2 GB of zeros each) beside a real scene of 20+ MB. Each load runs in
// a child process, so its peak resident size (getrusage) is its own.
//   bench_scene_bomb [MB of bomb file ...]      (default: 9.4 and 28, the sizes first reported)
//   bench_scene_bomb --write PATH MB            (only write a bomb, e.g. for /usr/bin/time -v)
#include "bench_timing.h"
#include "diag/console.h"
#include "platform/options.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "support/scene_bomb.h"
#include "writers/scene_writer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace sw = scenewriter;

namespace {

struct ChildLoad {
    bool loaded = false;
    double ms = 0;    // wall clock
    double cpuMs = 0; // user and system: what the load costs on a busy machine
    long peakKb = 0;
};

// Loads path in a child (console on, so the refusal line shows) and reports its resources.
ChildLoad loadInChild(const std::string& path) {
    std::fflush(nullptr);
    const double start = bench::wallMs();
    const pid_t child = fork();
    if (child == 0) {
        setupOptions.consoleEnabled = true;
        gzFile stream = gzopen(path.c_str(), "rb");
        Scene* scene = createScene();
        const bool ok = loadScene(*scene, stream);
        if (stream) gzclose(stream);
        std::fflush(stdout);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ChildLoad result;
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        result.loaded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        result.peakKb = usage.ru_maxrss;
        result.cpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    }
    result.ms = bench::wallMs() - start;
    return result;
}

long fileKb(const std::string& path) {
    struct stat s {};
    return stat(path.c_str(), &s) == 0 ? long(s.st_size / 1024) : 0;
}

// Twenty morphing grids of 10,201 vertices with texture coordinates (the heavy load scene).
sw::Scene heavyScene() {
    sw::Scene scene;
    sw::setStartEnd(scene, 0, 10);
    for (int o = 0; o < 20; ++o) {
        sw::Mesh grid = sw::gridMesh(100, 50.0f, 0);
        std::vector<sw::Key> keys = {sw::meshKey(0, grid)};
        for (int k = 1; k <= 4; ++k) {
            std::vector<sw::Vertex> wave = grid.vertices;
            for (sw::Vertex& v : wave)
                v.z = 0.1f * float(k) * (v.x - v.y);
            keys.push_back(sw::morphKey(0.2 * k, sw::Matrix12(), wave, true));
        }
        scene.tracks.push_back(sw::objectTrack("grid", keys));
    }
    scene.tracks.push_back(sw::materialTrack("m", sw::MaterialDesc()));
    return scene;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--write") {
        const int64_t bytes = int64_t(std::atof(argv[3]) * 1024 * 1024);
        return writeSceneBomb(argv[2], bytes) ? 0 : 1;
    }
    std::vector<double> sizesMb;
    for (int i = 1; i < argc; ++i)
        sizesMb.push_back(std::atof(argv[i]));
    if (sizesMb.empty()) sizesMb = {9.4, 28};
    const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";

    // Keys of 2 GB pass the budget at once; keys of 256 MB only after the loader has read
    // past a gigabyte of zeros.
    for (const int32_t keyBytes : {0x7fffffff, 256 << 20})
        for (double mb : sizesMb) {
            const std::string path = dir + "/quilm_bench_bomb.q3d.gz";
            if (!writeSceneBomb(path, int64_t(mb * 1024 * 1024), keyBytes)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            const ChildLoad bomb = loadInChild(path);
            std::printf(
                "bomb, keys of %d MB: %ld kB file: %s in %.0f ms (%.0f ms CPU), peak %ld MB\n",
                int(keyBytes >> 20), fileKb(path), bomb.loaded ? "LOADED" : "refused", bomb.ms,
                bomb.cpuMs, bomb.peakKb / 1024);
            std::remove(path.c_str());
        }
    const std::string heavy = dir + "/quilm_bench_heavy.q3d.gz";
    // The writer's buffers are large enough to be given back to the system when freed, so
    // the child starts small.
    size_t heavyBytes = 0;
    {
        const std::vector<uint8_t> bytes = sw::writeScene(heavyScene());
        heavyBytes = bytes.size();
        sw::writeBytesFile(heavy, sw::gzipBytes(bytes));
    }
    const ChildLoad real = loadInChild(heavy);
    std::printf("heavy scene: %ld kB file, %.1f MB of scene data: %s in %.0f ms (%.0f ms CPU), "
                "peak %ld MB\n",
                fileKb(heavy), double(heavyBytes) / (1 << 20), real.loaded ? "loaded" : "REFUSED",
                real.ms, real.cpuMs, real.peakKb / 1024);
    std::remove(heavy.c_str());

    return 0;
}
