// The demo on a data set, headless at 1024x768 with the music in lock-step (40 ms frames):
// loading time, then per scene the processor time of one demo frame (script, scene, film
// effect, overlays, glFinish and swap), the script's own share of the frame (the cue walk and
// the overlays it issues: runDemoFrame less the scene and film-effect renders, by the profiling
// counters, against the whole frame on the time-stamp counter), and operator new calls in
// steady frames (a seek itself may allocate inside the module library, so each order's first
// frame is left out).
//   bench_demo_play [DATA_DIR, default data] [frames per order, default 20]
#include "allocation_count.h"
#include "app/gl_window.h"
#include "bench_timing.h"
#include "demo_bench.h"
#include "demo/demo_loading.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "diag/timestamp.h"
#include "platform/clock.h"
#include "platform/options.h"
#include "platform/video.h"
#include "render/super8.h"
#include "render/vertex_memory.h"

#include <GL/gl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* data = argc > 1 ? argv[1] : "data";
    const int framesPerOrder = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    DemoLoadRequest request;
    if (!bench::startDemoBench(data, 1024, 768, true, request)) return 1;
    const double loadStart = bench::wallMs();
    if (!loadDemoData(request)) {
        std::fprintf(stderr, "loading %s failed\n", data);
        return 1;
    }
    const double loadMs = bench::wallMs() - loadStart;

    const char* names[kDemoSceneCount] = {"landschaft", "fluss", "kraniche",
                                          "eiche",      "feld",  "holzvogel"};
    double sceneMs[kDemoSceneCount] = {};
    int sceneFrames[kDemoSceneCount] = {};
    const int sceneSlot = profSlot("87Scene Render");
    const int super8Slot = profSlot("89Super8 Render");
    uint64_t scriptTicks = 0, frameTicks = 0;
    long steadyAllocations = 0;
    int steadyFrames = 0;
    for (int order = 0; order < kDemoOrderCount; ++order) {
        for (int i = 0; i < framesPerOrder; ++i) {
            const long before = bench::allocations.load();
            const double start = bench::processMs();
            const uint64_t rendered =
                profCounter(sceneSlot).accumulated + profCounter(super8Slot).accumulated;
            const uint64_t frameStart = readTimeStamp();
            runDemoFrame();
            const uint64_t scriptEnd = readTimeStamp();
            glFinish();
            presentGLWindow();
            const double ms = bench::processMs() - start;
            const uint64_t renders =
                profCounter(sceneSlot).accumulated + profCounter(super8Slot).accumulated - rendered;
            scriptTicks += scriptEnd - frameStart - renders;
            frameTicks += readTimeStamp() - frameStart;
            advanceFixedStepClock();
            if (i == 0) continue;
            steadyAllocations += bench::allocations.load() - before;
            ++steadyFrames;
            for (const Cue& cue : kCues) {
                if (cue.scene == kNoDemoScene || cuePosition() < cue.first ||
                    cuePosition() > cue.last)
                    continue;
                sceneMs[cue.scene] += ms;
                ++sceneFrames[cue.scene];
                break;
            }
        }
        seekMusicForward();
    }
    std::printf("demo on %s, headless 1024x768, %d frames per order\n", data, framesPerOrder);
    std::printf("  loading          : %8.1f ms (wall)\n", loadMs);
    for (int s = 0; s < kDemoSceneCount; ++s)
        if (sceneFrames[s] > 0)
            std::printf("  frame %-10s : %8.2f ms (process time, mean of %d)\n", names[s],
                        sceneMs[s] / sceneFrames[s], sceneFrames[s]);
    std::printf("  script's share   : %8.3f %% of the frame time\n",
                frameTicks > 0 ? 100.0 * double(scriptTicks) / double(frameTicks) : 0.0);
    std::printf("  allocations      : %ld in %d steady frames\n", steadyAllocations, steadyFrames);
    destroyGLWindow();
    stopVideo();
    return 0;
}
