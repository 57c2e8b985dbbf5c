// Frames per second of the player's main loop on an empty scene (the viewer frame: clear, the
// scene pass with nothing to draw, glFinish, swap, with event polling and the profiling
// counters) against the same loop written directly on SDL2, headless at 1024x768. Rounds
// alternate so both see the same machine load.
//   bench_main_loop [frames per round, default 300] [rounds, default 21]
#include "app/gl_window.h"
#include "app/player.h"
#include "platform/options.h"
#include "platform/video.h"
#include "scene/scene.h"

#include <GL/gl.h>
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double playerRound(int frames) {
    makePlatformContextCurrent(glWindow.platform);
    static Scene* empty = createScene(); // black background, no objects
    MainLoop loop;
    loop.viewer = true;
    loop.scene = empty;
    loop.frameLimit = frames;
    const double start = seconds();
    runMainLoop(loop);
    return loop.framesDrawn / (seconds() - start);
}

// The reference loop written directly on SDL2.
double rawRound(const PlatformWindow& raw, int frames) {
    SDL_Window* window = static_cast<SDL_Window*>(raw.window);
    SDL_GL_MakeCurrent(window, raw.context);
    glViewport(0, 0, 1024, 768);
    int drawn = 0;
    bool quit = false;
    const double start = seconds();
    while (!quit) {
        SDL_Event e;
        if (SDL_PollEvent(&e)) {
            if (e.type == SDL_QUIT) quit = true;
        } else {
            glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            glFinish();
            SDL_GL_SwapWindow(window);
            if (++drawn >= frames) quit = true;
        }
    }
    return drawn / (seconds() - start);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    if (!startVideo(true)) return 1;
    setupOptions = SetupOptions{};
    setupOptions.fullscreen = false;
    if (!createGLWindow(1024, 768, 32, false)) return 1;

    PlatformWindow raw;
    PlatformWindowRequest request;
    request.title = "raw SDL2";
    request.width = 1024;
    request.height = 768;
    if (!createPlatformWindow(raw, request)) return 1;

    playerRound(frames / 4 + 1); // warm both paths up
    rawRound(raw, frames / 4 + 1);
    // Short alternating rounds, the order flipped every round, and the overhead taken as the
    // median of per-pair ratios: the machine's load drifts less within a pair.
    std::vector<double> player, direct, ratios;
    for (int r = 0; r < rounds; ++r) {
        double p = 0.0, d = 0.0;
        if (r % 2 == 0) {
            p = playerRound(frames);
            d = rawRound(raw, frames);
        } else {
            d = rawRound(raw, frames);
            p = playerRound(frames);
        }
        player.push_back(p);
        direct.push_back(d);
        ratios.push_back(d / p);
    }
    std::printf("main loop, headless 1024x768, %d frames x %d rounds (medians)\n", frames, rounds);
    std::printf("  player loop : %8.1f fps\n", median(player));
    std::printf("  direct SDL2 : %8.1f fps\n", median(direct));
    std::printf("  overhead    : %+7.2f %% (median of per-round ratios)\n",
                (median(ratios) - 1.0) * 100.0);
    destroyPlatformWindow(raw);
    destroyGLWindow();
    stopVideo();
    return 0;
}
