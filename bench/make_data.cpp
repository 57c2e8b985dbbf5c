// make-data's parts in processor time: building and writing each scene, drawing its pictures,
// the music and the logos, and each scene's hidetrack pass in the player beside this
// benchmark (its child's time, driver threads included). The machine is shared, so wall time
// would mostly measure the neighbours; two passes run side by side in make-data itself.
//   bench_make_data [DIR]   (DIR defaults to a fresh folder under /tmp; left behind)
#include "bench_timing.h"

#include "content/demo_scenes.h"
#include "content/demo_tune.h"
#include "content/logos.h"
#include "writers/scene_writer.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

double childrenMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "";
    if (dir.empty()) {
        char pattern[] = "/tmp/quilm_bench_data_XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        dir = pattern;
    }
    std::filesystem::create_directories(dir);
    const std::filesystem::path player =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "quilm";

    std::printf("%-11s %10s %10s %12s\n", "scene", "build ms", "pictures ms", "hidetrack ms");
    double totals[3] = {};
    double ms[kDemoSceneCount][3] = {};
    for (int i = 0; i < kDemoSceneCount; ++i) {
        const DemoSceneEntry& entry = kDemoScenes[i];
        double t0 = bench::processMs();
        const BuiltScene built = entry.build();
        scenewriter::writeSceneFile(dir + "/" + demoSceneFileName(entry), built.scene,
                                    entry.storage != SceneStorage::plain);
        ms[i][0] = bench::processMs() - t0;
        t0 = bench::processMs();
        for (const procedural::PictureJob& job : built.pictures)
            procedural::writePicture(dir, job);
        ms[i][1] = bench::processMs() - t0;
    }
    // every scene's pictures are written before any pass: scenes share some textures
    for (int i = 0; i < kDemoSceneCount; ++i) {
        const double t0 = childrenMs();
        const std::string command = "cd '" + dir + "' && '" + player.string() +
                                    "' --headless --no-dialog --size 256x192 --make-hidetrack " +
                                    demoSceneFileName(kDemoScenes[i]) + " > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) std::printf("(hidetrack pass failed)\n");
        ms[i][2] = childrenMs() - t0;
        std::printf("%-11s %10.0f %10.0f %12.0f\n", demoSceneName(kDemoScenes[i].scene).c_str(),
                    ms[i][0], ms[i][1], ms[i][2]);
        for (int k = 0; k < 3; ++k)
            totals[k] += ms[i][k];
    }
    double t0 = bench::processMs();
    writeDemoTune(dir + "/tune.mo3");
    const double tuneMs = bench::processMs() - t0;
    t0 = bench::processMs();
    writeDemoLogos(dir);
    const double logoMs = bench::processMs() - t0;
    std::printf("%-11s %10.0f %10.0f %12.0f\n", "all", totals[0], totals[1], totals[2]);
    std::printf("music %.0f ms, logos %.0f ms; data in %s\n", tuneMs, logoMs, dir.c_str());
    return 0;
}
