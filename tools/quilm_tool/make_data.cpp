// quilm-tool make-data DIR: writes the demo's whole data set: the six scenes with their
// pictures and sky boxes, the film effect's pictures, the hidetracks (made by the player next
// to this tool, headless) and the loading picture (a still the player renders). Deterministic:
// fixed seeds, no clocks in any file. Prints one line per file with its size and a percentage
// while the hidetracks are made.
#include "quilm_tool/commands.h"
#include "quilm_tool/make_data_steps.h"

#include "content/demo_scenes.h"
#include "content/super8_pictures.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int usage() {
    std::fprintf(stderr, "usage: quilm-tool make-data DIR [--no-hidetracks] [--hid-size WxH]\n");
    return 2;
}

} // namespace

int runMakeDataCommand(int argc, char** argv) {
    std::string dir;
    bool hidetracks = true;
    std::string hidSize = kDefaultHidetrackSize;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-hidetracks") == 0) {
            hidetracks = false;
        } else if (std::strcmp(argv[i], "--hid-size") == 0 && i + 1 < argc) {
            hidSize = argv[++i];
        } else if (argv[i][0] == '-' || !dir.empty()) {
            return usage();
        } else {
            dir = argv[i];
        }
    }
    if (dir.empty()) return usage();
    std::error_code error;
    std::filesystem::create_directories(utf8Path(dir), error);
    if (error || !std::filesystem::is_directory(utf8Path(dir))) {
        std::fprintf(stderr, "make-data: cannot create directory %s\n", dir.c_str());
        return 1;
    }

    const Clock::time_point start = Clock::now();
    double sceneSeconds = 0, pictureSeconds = 0, musicSeconds = 0, hidSeconds = 0, stillSeconds = 0;
    for (const DemoSceneEntry& entry : kDemoScenes) {
        Clock::time_point t0 = Clock::now();
        const BuiltScene built = entry.build();
        if (!writeDemoSceneFile(dir, entry, built)) return 1;
        sceneSeconds += secondsSince(t0);
        t0 = Clock::now();
        for (const procedural::PictureJob& job : built.pictures) {
            if (!procedural::writePicture(dir, job)) return 1;
            reportFile(dir, job.name);
        }
        pictureSeconds += secondsSince(t0);
    }
    {
        const Clock::time_point t0 = Clock::now();
        std::string failed;
        if (!pictures::writeSuper8Pictures(dir, &failed)) {
            std::fprintf(stderr, "make-data: cannot write %s/%s\n", dir.c_str(), failed.c_str());
            return 1;
        }
        for (const char* name : {"s8_lamp.jpg", "s8_border.png", "s8_sign.png", "s8_drek.png"})
            reportFile(dir, name);
        pictureSeconds += secondsSince(t0);
    }
    {
        const Clock::time_point t0 = Clock::now();
        if (!writeDemoSoundAndLogos(dir)) return 1;
        musicSeconds = secondsSince(t0);
    }

    const std::string player = playerPath();
    if (hidetracks) {
        const Clock::time_point t0 = Clock::now();
        if (!makeHidetracks(dir, player, hidSize)) return 1;
        hidSeconds = secondsSince(t0);
        const Clock::time_point t1 = Clock::now();
        if (!makeLoadingPicture(dir, player)) return 1;
        stillSeconds = secondsSince(t1);
    }
    std::printf("make-data: %.1f s (scenes %.1f, pictures %.1f, music and logos %.1f, "
                "hidetracks %.1f, loading picture %.1f), %.1f MB in %s\n",
                secondsSince(start), sceneSeconds, pictureSeconds, musicSeconds, hidSeconds,
                stillSeconds, double(directoryBytes(dir)) / (1024.0 * 1024.0), dir.c_str());
    return 0;
}
