// The whole demo from start to end, headless at a given size with the music in lock-step at
// 40 ms steps (the player's --fixed-step 40000), the frame loop as the player runs it (demo
// frame, glFinish and swap under the same profiling counters). Each frame's wall time goes
// into a table taken before the run; per scene shown it prints frames, the minimum fps (the
// slowest frame), the median fps, the median processor time, and where the frame time went by
// the counters: the engine's own work (object update, geometry reload, index lists), the
// scene render around it (mostly the driver), the film effect, the script with its clears and
// overlays, and glFinish plus swap (where a software renderer rasterises).
//   bench_demo_fps [DATA_DIR, default data] [WIDTH HEIGHT, default 1024 768] [--no-dxt]
#include "app/gl_window.h"
#include "bench_timing.h"
#include "demo_bench.h"
#include "demo/demo_loading.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "diag/prof.h"
#include "platform/clock.h"
#include "platform/options.h"
#include "platform/video.h"
#include "render/super8.h"
#include "render/vertex_memory.h"

#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The demo lasts about 255 s, 6,400 frames of 40 ms; the table leaves room for a longer one.
constexpr int kMaxFrames = 20000;
constexpr int kNoScene = kDemoSceneCount; // overlays alone (logos, the final fade)
constexpr int kGroups = kDemoSceneCount + 1;
const char* const kGroupNames[kGroups] = {"landschaft", "fluss",     "kraniche", "eiche",
                                          "feld",       "holzvogel", "(none)"};

// Counters read per frame, all started and stopped inside it.
enum Counter { Main, SceneRender, Super8, Swap, Update, Reload, Index, kCounters };
const char* const kCounterNames[kCounters] = {"00main",      "87Scene Render",  "89Super8 Render",
                                              "12Swapping",  "04Object update", "91Geometry reload",
                                              "01Index list"};

// The scene the frame shows: the last scene cue drawn at the position (each clears first).
int shownScene(int32_t position) {
    int scene = kNoScene;
    for (const Cue& cue : kCues)
        if (cue.scene != kNoDemoScene && position >= cue.first && position <= cue.last)
            scene = cue.scene;
    return scene;
}

struct Frame {
    float wallMs;
    float processMs;
    int8_t group;
};

double medianOf(std::vector<float>& values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const char* data = argc > 1 ? argv[1] : "data";
    const int width = argc > 3 ? std::atoi(argv[2]) : 1024;
    const int height = argc > 3 ? std::atoi(argv[3]) : 768;
    // As the player's --no-dxt: plain RGBA textures, which a software renderer samples faster.
    const bool noDxt = argc > 4 && std::strcmp(argv[4], "--no-dxt") == 0;
    if (width < 16 || height < 16) {
        std::fprintf(stderr, "usage: bench_demo_fps [DATA_DIR] [WIDTH HEIGHT] [--no-dxt]\n");
        return 2;
    }
    DemoLoadRequest request;
    if (!bench::startDemoBench(data, width, height, !noDxt, request)) return 1;
    if (!loadDemoData(request)) {
        std::fprintf(stderr, "loading %s failed\n", data);
        return 1;
    }

    std::vector<Frame> frames(kMaxFrames);
    uint64_t ticks[kGroups + 1][kCounters] = {};
    int slots[kCounters];
    for (int c = 0; c < kCounters; ++c)
        slots[c] = profSlot(kCounterNames[c]);
    profResetAll();
    int frameCount = 0;
    bool over = false;
    const double runStart = bench::wallMs();
    while (!over && frameCount < kMaxFrames) {
        uint64_t before[kCounters];
        for (int c = 0; c < kCounters; ++c)
            before[c] = profCounter(slots[c]).accumulated;
        const double wallStart = bench::wallMs();
        const double processStart = bench::processMs();
        profStart("00main");
        // As the player's loop: the script's last frames at the end position still draw.
        const bool running = runDemoFrame();
        over = !running && cuePosition() != kDemoEndFirst;
        const int group = shownScene(cuePosition());
        profStart("12Swapping");
        glFinish();
        presentGLWindow();
        profStop("12Swapping");
        profStop("00main");
        frames[size_t(frameCount)] = {float(bench::wallMs() - wallStart),
                                      float(bench::processMs() - processStart), int8_t(group)};
        ++frameCount;
        for (int c = 0; c < kCounters; ++c)
            ticks[group][c] += profCounter(slots[c]).accumulated - before[c];
        advanceFixedStepClock();
    }
    const double runSeconds = (bench::wallMs() - runStart) / 1000.0;

    std::printf("whole demo on %s, headless %dx%d, %s textures, 40 ms lock-step, %d frames in "
                "%.0f s%s\n",
                data, width, height, noDxt ? "RGBA" : "DXT5", frameCount, runSeconds,
                over ? "" : " (frame table full)");
    std::printf("  renderer: %s\n", glGetString(GL_RENDERER));
    std::printf("  %-10s %6s %8s %8s %8s | %7s %7s %7s %7s %7s  (%% of frame)\n", "scene", "frames",
                "min fps", "med fps", "med cpu", "engine", "render", "film", "script", "finish");
    std::vector<float> wall, process;
    wall.reserve(size_t(frameCount));
    process.reserve(size_t(frameCount));
    for (int c = 0; c < kCounters; ++c)
        for (int g = 0; g < kGroups; ++g)
            ticks[kGroups][c] += ticks[g][c];
    // The last row, kGroups, is the whole run.
    for (int g = 0; g <= kGroups; ++g) {
        wall.clear();
        process.clear();
        for (int i = 0; i < frameCount; ++i) {
            if (g < kGroups && frames[size_t(i)].group != g) continue;
            wall.push_back(frames[size_t(i)].wallMs);
            process.push_back(frames[size_t(i)].processMs);
        }
        if (wall.empty()) continue;
        if (g == kNoScene) {
            // Overlays alone over a cleared or untouched screen: no rate worth a row.
            std::printf("  %-10s %6zu frames with no scene, counted in all\n", kGroupNames[g],
                        wall.size());
            continue;
        }
        const double slowest = *std::max_element(wall.begin(), wall.end());
        const double medianWall = medianOf(wall);
        const double medianProcess = medianOf(process);
        const uint64_t* t = ticks[g];
        const double whole = t[Main] > 0 ? double(t[Main]) : 1.0;
        auto share = [&](double part) { return 100.0 * part / whole; };
        const double engine = double(t[Update] + t[Reload] + t[Index]);
        // The script's share: the frame less the scene and film renders and the finish.
        const double script = double(t[Main]) - double(t[SceneRender] + t[Super8] + t[Swap]);
        std::printf("  %-10s %6zu %8.1f %8.1f %5.1f ms | %6.1f%% %6.1f%% %6.1f%% %6.1f%% %6.1f%%\n",
                    g < kGroups ? kGroupNames[g] : "all", wall.size(), 1000.0 / slowest,
                    1000.0 / medianWall, medianProcess, share(engine),
                    share(double(t[SceneRender]) - engine), share(double(t[Super8])), share(script),
                    share(double(t[Swap])));
    }
    destroyGLWindow();
    stopVideo();
    return 0;
}
