// Viewer frames per second, headless, through the player's own main loop (clear, renderScene
// with the film effect, glFinish, swap), and the share of the frame spent in the engine's own
// work ("04Object update", "91Geometry reload", "01Index list") against everything else
// (the driver drawing, the film effect, the swap).
//   bench_viewer_fps SAMPLE_DIR [frames per round, default 30] [rounds, default 7]
// SAMPLE_DIR holds sample.q3d from `quilm-tool make-sample`. A heavy scene (200 morphing grids,
// about 100,000 triangles) is generated here.
#include "app/gl_window.h"
#include "app/player.h"
#include "render/vertex_memory.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "platform/clock.h"
#include "platform/options.h"
#include "platform/video.h"
#include "render/object_drawing.h"
#include "render/scene_renderer.h"
#include "render/super8.h"
#include "render/vertex_buffer_object.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "writers/scene_writer.h"

#include <GL/gl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace sw = scenewriter;

namespace {

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 200 grids of 16 x 16 cells (512 triangles, 289 vertices each) in a 20 x 10 wall, each
// morphing between a flat and a rippled shape every half second, under two lights.
sw::Scene heavyScene() {
    sw::Scene scene;
    sw::setStartEnd(scene, 0.0, 4.0);
    scene.background[0] = 0.1f;
    scene.ambient[0] = scene.ambient[1] = scene.ambient[2] = 0.2f;
    const float eye[3] = {0, -60, 10}, target[3] = {0, 0, 0};
    scene.tracks.push_back(sw::cameraTrack("cam", {sw::cameraLookAtKey(0, eye, target, 1.4f)}));
    const float lightA[3] = {-30, -40, 30}, lightB[3] = {30, -40, -10};
    const float warm[3] = {1, 0.8f, 0.6f}, cool[3] = {0.5f, 0.6f, 1};
    scene.tracks.push_back(sw::lightTrack("a", {sw::lightKey(0, lightA, warm, 0)}));
    scene.tracks.push_back(sw::lightTrack("b", {sw::lightKey(0, lightB, cool, 0)}));
    sw::MaterialDesc material;
    material.specularLevel = 0.5f;
    scene.tracks.push_back(sw::materialTrack("m", material));
    for (int i = 0; i < 200; ++i) {
        const float x = float(i % 20) * 4.0f - 38.0f, z = float(i / 20) * 4.0f - 18.0f;
        sw::Mesh flat = sw::gridMesh(16, 3.5f, 0);
        // Grids lie in XY; stand them up to face the camera.
        const float values[12] = {1, 0, 0, 0, 0, 1, 0, -1, 0, x, 0, z};
        for (int k = 0; k < 12; ++k)
            flat.transform.m[k] = values[k];
        std::vector<sw::Vertex> ripple = flat.vertices;
        for (sw::Vertex& v : ripple)
            v.z = 0.4f * std::sin(v.x * 2.0f + float(i)) * std::cos(v.y * 2.0f);
        std::vector<sw::Key> keys = {sw::meshKey(0, flat)};
        for (int step = 1; step <= 8; ++step)
            keys.push_back(
                sw::morphKey(step * 0.5, flat.transform, step % 2 ? ripple : flat.vertices, true));
        scene.tracks.push_back(sw::objectTrack("grid", keys));
    }
    return scene;
}

Scene* loadFile(const char* path) {
    gzFile file = gzopen(path, "rb");
    if (!file) return nullptr;
    Scene* scene = createScene();
    const bool ok = loadScene(*scene, file);
    gzclose(file);
    if (!ok) {
        destroyScene(scene);
        return nullptr;
    }
    setCamera(*scene, 0);
    return scene;
}

// Switches between client arrays in system memory and the buffer object mirror; every object
// writes its vertices again after a switch.
bool useBufferObject(bool on) {
    forgetRenderedScene();
    if (!on) {
        detachVertexBufferObject();
        return true;
    }
    return attachVertexBufferObject();
}

double ticks(const char* name) {
    return double(profCounter(profSlot(name)).accumulated);
}

struct Totals {
    double wall = 0.0;
    int frames = 0;
    double counters[7] = {};
    int64_t polys = 0;
    std::vector<double> fps;
};

const char* const kCounters[7] = {"00main",       "04Object update", "91Geometry reload",
                                  "01Index list", "1AObject Render", "89Super8 Render",
                                  "12Swapping"};

void runRound(Scene& scene, int frames, Totals& totals) {
    profResetAll();
    MainLoop loop;
    loop.viewer = true;
    loop.scene = &scene;
    loop.frameLimit = frames;
    const double start = seconds();
    runMainLoop(loop);
    const double elapsed = seconds() - start;
    totals.wall += elapsed;
    totals.frames += loop.framesDrawn;
    totals.fps.push_back(loop.framesDrawn / elapsed);
    for (int i = 0; i < 7; ++i)
        totals.counters[i] += ticks(kCounters[i]);
    totals.polys += profCounter(profSlot("07Polys")).count;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void report(const char* label, const Totals& t) {
    const double frame = t.counters[0];
    auto share = [&](int i) { return t.counters[i] / frame * 100.0; };
    const double engine = share(1) + share(2) + share(3);
    std::printf("  %-9s %4dx%-4d %6.1f fps  engine %5.2f%% (update %.2f, reload %.2f, index "
                "%.2f)  draw calls %4.1f%%  super8 %4.1f%%  finish+swap %4.1f%%  %lld polys\n",
                label, setupOptions.width, setupOptions.height, median(t.fps), engine, share(1),
                share(2), share(3), share(4) - share(2) - share(3), share(5), share(6),
                static_cast<long long>(t.polys / (t.frames > 0 ? t.frames : 1)));
}

// Short rounds alternating between client arrays and the buffer object (the order flipped
// every round), medians of the rounds: the shared machine's load drifts less within a pair.
void measure(const char* label, Scene& scene, int frames, int rounds) {
    scene.super8 = super8Effect;
    MainLoop warm;
    warm.viewer = true;
    warm.scene = &scene;
    warm.frameLimit = 10;
    useBufferObject(true);
    runMainLoop(warm);
    useBufferObject(false);
    runMainLoop(warm);
    Totals client, buffer;
    std::vector<double> ratios;
    bool haveBuffer = true;
    for (int r = 0; r < rounds; ++r) {
        for (int half = 0; half < 2; ++half) {
            const bool useBuffer = (half == 0) == (r % 2 == 0);
            if (useBuffer) {
                if (!useBufferObject(true)) {
                    haveBuffer = false;
                    continue;
                }
                runRound(scene, frames, buffer);
                useBufferObject(false);
            } else {
                runRound(scene, frames, client);
            }
        }
        if (haveBuffer) ratios.push_back(buffer.fps.back() / client.fps.back());
    }
    report(label, client);
    if (!haveBuffer) {
        std::printf("  the driver offers no GL_ARB_vertex_buffer_object\n");
        return;
    }
    std::string bufferLabel = std::string(label) + "/bo";
    report(bufferLabel.c_str(), buffer);
    std::printf("  %-9s buffer object / client arrays: x%.2f (median of per-round ratios)\n", "",
                median(ratios));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_viewer_fps SAMPLE_DIR [frames] [rounds]\n");
        return 2;
    }
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    if (chdir(argv[1]) != 0) {
        std::fprintf(stderr, "bench_viewer_fps: cannot enter %s\n", argv[1]);
        return 1;
    }
    if (!startVideo(true)) return 1;
    useFixedStepClock(40000); // scene time advances 0.04 s a frame; fps is wall time
    const std::vector<uint8_t> heavyBytes = sw::writeScene(heavyScene());

    std::printf("viewer frames per second, headless, %d frames x %d rounds per placement\n", frames,
                rounds);
    for (const int size : {640, 1024}) {
        setupOptions = SetupOptions{};
        const int height = size == 640 ? 480 : 768;
        if (!createGLWindow(size, height, 32, false)) return 1;
        if (size == 640) std::printf("  renderer: %s\n", glGetString(GL_RENDERER));
        if (!allocVertexMemory(kVertexMemoryCapacity)) return 1;
        setupOptions.consoleEnabled = false;
        super8Effect = createSuper8();
        Scene* sample = loadFile("sample.q3d");
        Scene* heavy = createScene();
        if (!sample || !loadSceneFromMemory(*heavy, heavyBytes.data(), heavyBytes.size())) {
            std::fprintf(stderr, "bench_viewer_fps: scenes did not load\n");
            return 1;
        }
        setCamera(*heavy, 0);
        measure("sample", *sample, frames, rounds);
        measure("heavy", *heavy, frames, rounds);
        destroyScene(sample);
        destroyScene(heavy);
        destroySuper8(super8Effect);
        super8Effect = nullptr;
        releaseVertexMemory();
        destroyGLWindow();
    }
    stopVideo();
    return 0;
}
