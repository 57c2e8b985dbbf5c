// The demo played from its manifest against the built-in table, and hot reloads: the same
// stretch of frames from each (median and slowest processor time per frame, interleaved in
// rounds so drift on a shared machine falls on both), the reload of the manifest alone, and
// the reload of one changed scene beside a plain load of that scene. Headless, 40 ms lock-step.
//   bench_demo_reload [DATA_DIR, default data] [WIDTH HEIGHT, default 640 480] [FRAMES, 300]
#include "app/demo_reload.h"
#include "bench_timing.h"
#include "demo_bench.h"
#include "demo/demo_script.h"
#include "platform/music.h"
#include "scene/scene.h"

#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Played {
    std::vector<double> frameMs;
};

// Frames from the start of the loaded demo, each timed on the process clock.
void play(int frames, Played& out, double (*clock)() = bench::processMs) {
    for (int i = 0; i < frames; ++i) {
        const double start = clock();
        runDemoFrame();
        glFinish();
        presentGLWindow();
        out.frameMs.push_back(clock() - start);
        advanceFixedStepClock();
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double slowest(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char** argv) {
    const char* data = argc > 1 ? argv[1] : "data";
    const int width = argc > 3 ? std::atoi(argv[2]) : 640;
    const int height = argc > 3 ? std::atoi(argv[3]) : 480;
    const int frames = argc > 4 ? std::atoi(argv[4]) : 300;
    const std::string manifestPath = std::string(data) + "/" + kDemoManifestFile;
    static DemoManifest manifest;
    char errors[4096] = "";
    ManifestErrors sink{errors, int(sizeof errors)};
    if (!readDemoManifest(manifestPath.c_str(), manifest, sink)) {
        std::fprintf(stderr, "%s", errors);
        return 1;
    }
    DemoLoadRequest request;
    if (!bench::startDemoBench(data, width, height, true, request)) return 1;

    // Three rounds of each, alternating, from order 0 in lock-step.
    Played table, sheet;
    for (int round = 0; round < 3; ++round)
        for (int which = 0; which < 2; ++which) {
            request.manifest = which == 0 ? nullptr : &manifest;
            if (!loadDemoData(request)) return 1;
            play(frames, which == 0 ? table : sheet);
            releaseDemoData();
            closeMusicOutput();
        }
    std::printf("%d frames from 0:0 at %dx%d, 3 rounds, processor ms per frame:\n", frames, width,
                height);
    std::printf("  built-in table   median %.2f  slowest %.2f\n", median(table.frameMs),
                slowest(table.frameMs));
    std::printf("  demo.toml        median %.2f  slowest %.2f  (ratio of medians %.3f)\n",
                median(sheet.frameMs), slowest(sheet.frameMs),
                median(sheet.frameMs) / median(table.frameMs));

    // Reloads while the manifest's demo plays.
    request.manifest = &manifest;
    if (!loadDemoData(request)) return 1;
    Played before;
    play(50, before);
    DemoWatch watch;
    watchDemo(watch, manifestPath.c_str());
    char notice[64];
    // The manifest touched each time, so it is read and checked again.
    const auto touchFile = [](const std::string& path) {
        std::error_code error;
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now(),
                                         error);
    };
    const double manifestMs = bench::medianMs(
        20,
        [&] {
            touchFile(manifestPath);
            reloadPlayingDemo(watch, notice, sizeof notice);
        },
        bench::wallMs);
    // One scene changed: its file rewritten with the same bytes, so only its time differs.
    const std::string scene = std::string(data) + "/" + manifest.sceneFiles[0];
    const auto touch = [&] { touchFile(scene); };
    // The frame a reload falls in: the reload, then the frame, as the player's loop runs it.
    std::vector<double> sceneMs, plainMs, reloadFrameMs;
    for (int i = 0; i < 5; ++i) {
        touch();
        double start = bench::wallMs();
        reloadPlayingDemo(watch, notice, sizeof notice);
        sceneMs.push_back(bench::wallMs() - start);
        touch();
        start = bench::wallMs();
        reloadPlayingDemo(watch, notice, sizeof notice);
        Played one;
        play(1, one);
        reloadFrameMs.push_back(bench::wallMs() - start);
        char home[4096];
        if (!getcwd(home, sizeof home) || chdir(data) != 0) return 1;
        start = bench::wallMs();
        Scene* plain = loadDemoScene(manifest.sceneFiles[0]);
        prepareObjects(*plain);
        plainMs.push_back(bench::wallMs() - start);
        destroyScene(plain);
        if (chdir(home) != 0) return 1;
    }
    Played after;
    play(50, after, bench::wallMs);
    std::printf("reload, wall ms: manifest alone %.2f; scene %s changed %.1f, its plain load "
                "%.1f (ratio %.3f)\n",
                manifestMs, manifest.sceneFiles[0], median(sceneMs), median(plainMs),
                median(sceneMs) / median(plainMs));
    std::printf("frame with a scene reload in it: median %.1f ms, slowest %.1f ms; frames "
                "without: median %.1f ms (the slowest reload frame is %.2f of those)\n",
                median(reloadFrameMs), slowest(reloadFrameMs), median(after.frameMs),
                slowest(reloadFrameMs) / median(after.frameMs));
    releaseDemoData();
    return 0;
}
