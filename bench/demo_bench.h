// Set-up shared by the demo benchmarks: a headless window of the given size, the vertex
// memory, the film effect made from the data folder's pictures and the clocks in 40 ms
// lock-step, then a load request for that folder. The caller times and runs loadDemoData.
#pragma once

#include "app/gl_window.h"
#include "demo/demo_loading.h"
#include "demo/music_time.h"
#include "platform/clock.h"
#include "platform/options.h"
#include "platform/video.h"
#include "render/super8.h"
#include "render/vertex_memory.h"

#include <cstdio>
#include <unistd.h>

namespace bench {

inline bool startDemoBench(const char* data, int width, int height, bool dxt,
                           DemoLoadRequest& request) {
    if (!startVideo(true)) return false;
    setupOptions = SetupOptions{};
    setupOptions.fullscreen = false;
    setupOptions.useDxt = dxt;
    if (!createGLWindow(width, height, 32, false)) return false;
    if (!allocVertexMemory(kVertexMemoryCapacity)) return false;
    // The film effect finds its pictures in the working directory.
    char home[4096];
    if (!getcwd(home, sizeof home) || chdir(data) != 0) {
        std::fprintf(stderr, "no data folder %s\n", data);
        return false;
    }
    Super8Effect* super8 = createSuper8();
    if (chdir(home) != 0) return false;

    useFixedStepClock(40000);
    useMusicLockStep(40000);
    request = DemoLoadRequest{};
    request.dataDirectory = data;
    request.super8 = super8;
    request.present = presentGLWindow;
    return true;
}

} // namespace bench
