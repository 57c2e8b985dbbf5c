// Hidetrack generation speed on a heavy morphing scene: 200 grid objects of 512 triangles
// (about 100,000 in all) spread over a field that the two cameras partly see and partly look
// past, several seconds long. Headless (SDL offscreen driver), window size from the arguments.
//   bench_hidetrack_generate [seconds] [width] [height]
// Prints samples per second (every camera's samples over the wall-clock time of the run).
#include "render/vertex_memory.h"
#include "hidetrack/hidetrack_generate.h"
#include "platform/options.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "writers/scene_writer.h"

#include <GL/gl.h>
#include "platform/video.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace sw = scenewriter;

constexpr int kObjects = 200;
constexpr int kCells = 16; // 2 × 16² = 512 triangles, 289 vertices per object

std::vector<uint8_t> heavyScene(double seconds) {
    sw::Scene scene;
    sw::setStartEnd(scene, 0, seconds);
    scene.tracks.push_back(sw::materialTrack("mat", sw::MaterialDesc{}));
    const sw::Mesh grid = sw::gridMesh(kCells, 4.0f);
    for (int o = 0; o < kObjects; ++o) {
        // 20 × 10 panels standing upright in rows, so nearer rows hide parts of farther ones.
        const float x = float(o % 20) * 5.0f - 50.0f;
        const float y = float(o / 20) * 6.0f;
        sw::Mesh mesh = grid;
        mesh.transform = sw::placement(x, y, 0, 0.3f * float(o % 7));
        std::vector<sw::Key> keys = {sw::meshKey(0, mesh)};
        for (int k = 1; k <= int(seconds); ++k) {
            std::vector<sw::Vertex> v = grid.vertices;
            for (size_t i = 0; i < v.size(); ++i)
                v[i].z = float((i * 7 + size_t(k + o) * 13) % 17) * 0.1f;
            keys.push_back(sw::morphKey(k, mesh.transform, v, true));
        }
        scene.tracks.push_back(sw::objectTrack("panel" + std::to_string(o), keys));
    }
    const float eyeA[3] = {0, -40, 15}, targetA[3] = {0, 30, 0};
    const float eyeB[3] = {-70, 20, 10}, targetB[3] = {0, 25, 0};
    scene.tracks.push_back(sw::cameraTrack("front", {sw::cameraLookAtKey(0, eyeA, targetA, 1.2f)}));
    scene.tracks.push_back(sw::cameraTrack("side", {sw::cameraLookAtKey(0, eyeB, targetB, 1.0f)}));
    const float lightPos[3] = {0, -50, 80}, white[3] = {1, 1, 1};
    scene.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, lightPos, white, 0)}));
    return sw::writeScene(scene);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int width = argc > 2 ? std::atoi(argv[2]) : 640;
    const int height = argc > 3 ? std::atoi(argv[3]) : 480;
    if (!startVideo(true)) return 1;
    PlatformWindow window;
    PlatformWindowRequest request;
    request.title = "hidetrack";
    request.width = width;
    request.height = height;
    request.hidden = true;
    if (!createPlatformWindow(window, request)) {
        std::fprintf(stderr, "no GL context: %s\n", platformError());
        return 1;
    }
    glViewport(0, 0, width, height);
    setupOptions.width = width;
    setupOptions.height = height;
    if (!allocVertexMemory(kVertexMemoryCapacity)) return 1;

    const std::vector<uint8_t> file = heavyScene(seconds);
    Scene* scene = createScene();
    if (!loadSceneFromMemory(*scene, file.data(), file.size())) return 1;
    char path[] = "/tmp/quilm_bench_hidetrack_XXXXXX";
    if (mkdtemp(path) == nullptr) return 1;
    const std::string scenePath = std::string(path) + "/heavy.q3d";

    const auto start = std::chrono::steady_clock::now();
    const bool ok = generateHidetrack(*scene, scenePath.c_str());
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int64_t triangles = 0;
    for (int32_t i = 0; i < scene->objectCount; ++i)
        triangles += scene->objects[i].faceCount;
    std::FILE* hid = std::fopen((scenePath + ".hid").c_str(), "rb");
    int32_t header[7] = {};
    if (hid != nullptr) {
        if (std::fread(header, 4, 7, hid) != 7) header[6] = 0;
        std::fclose(hid);
    }
    const int64_t samples = int64_t(scene->cameraCount) * header[6];
    std::printf("hidetrack generation: %d objects, %lld triangles, %d cameras, %.1f s, %dx%d\n",
                int(scene->objectCount), (long long)triangles, int(scene->cameraCount), seconds,
                width, height);
    std::printf("  %lld samples in %.2f s = %.1f samples/s (%s)\n", (long long)samples, elapsed,
                double(samples) / elapsed, ok ? "written" : "FAILED");
    std::remove((scenePath + ".hid").c_str());
    std::remove(path);
    destroyScene(scene);
    return ok ? 0 : 1;
}
