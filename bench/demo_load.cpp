// The demo's whole data-set load (loadDemoData, headless at 1024x768, no film effect; textures
// as DXT5, the player's default, and as plain RGBA) beside
// the bare decodes of the same files in the same run: each picture the load took by its
// decoder alone (no colour order, mipmaps or upload), each scene parsed without its pictures
// and its vertices decoded, each hidetrack read into it, the module opened by the music
// loader; compressed files are inflated through zlib as loading does. Everything is released
// between repetitions so every load decodes again; the order of the three rotates.
// Medians of wall time, processor time and the main thread's own processor time, and of each
// repetition's ratio of load to decodes.
//   bench_demo_load [DATA_DIR, default data] [repetitions, default 5]
#include "app/gl_window.h"
#include "bench_timing.h"
#include "demo/demo_loading.h"
#include "demo/music_time.h"
#include "hidetrack/hidetrack_file.h"
#include "image/image_loaders.h"
#include "image/texture.h"
#include "platform/music.h"
#include "platform/options.h"
#include "platform/video.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "wavelet/qw2.h"

#include <GL/gl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Part { Pictures, Scenes, Hidetracks, Music, kParts };
const char* const kPartNames[kParts] = {"pictures", "scenes", "hidetracks", "music"};

struct Times {
    double wall = 0.0;
    double process = 0.0;
    double thread = 0.0; // the main thread's own processor time
};

Times operator+(const Times& a, const Times& b) {
    return {a.wall + b.wall, a.process + b.process, a.thread + b.thread};
}

struct Samples {
    std::vector<double> wall, process, thread;
    void add(const Times& t) {
        wall.push_back(t.wall);
        process.push_back(t.process);
        thread.push_back(t.thread);
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

template <typename F> Times timed(F&& run) {
    const double wall = bench::wallMs(), process = bench::processMs(), thread = bench::threadMs();
    run();
    return {bench::wallMs() - wall, bench::processMs() - process, bench::threadMs() - thread};
}

bool hasExtension(const std::string& name, const char* ext) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ext;
}

bool decodePicture(const std::string& name) {
    int32_t width = 0, height = 0;
    uint8_t* pixels = nullptr;
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return false;
    if (hasExtension(name, ".png")) {
        pixels = loadPng(file, &width, &height);
    } else if (hasExtension(name, ".jpg")) {
        pixels = loadJpeg(file, &width, &height);
    } else {
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(file);
        pixels = decodeQw2(bytes.data(), bytes.size(), width, height);
    }
    std::free(pixels);
    return pixels != nullptr;
}

// The first of name, name + ".gz" that exists, as the loader tries them; "" when neither.
std::string existing(const std::string& name) {
    if (access(name.c_str(), R_OK) == 0) return name;
    if (access((name + ".gz").c_str(), R_OK) == 0) return name + ".gz";
    return "";
}

// Scenes, then hidetracks, then the module; the pictures are timed by the caller.
bool decodeOthers(Times parts[kParts]) {
    bool ok = true;
    for (const char* sceneName : kDemoSceneFiles) {
        const std::string file = existing(sceneName);
        Scene* scene = createScene();
        SceneLoadOptions options;
        options.loadImages = false;
        parts[Scenes] = parts[Scenes] + timed([&] {
                            gzFile stream = gzopen(file.c_str(), "rb");
                            ok = loadScene(*scene, stream, options) && ok;
                            if (stream) gzclose(stream);
                            prepareObjects(*scene);
                        });
        const std::string track = existing(file + ".hid");
        parts[Hidetracks] = parts[Hidetracks] + timed([&] {
                                gzFile stream = gzopen(track.c_str(), "rb");
                                ok = loadHidetrack(*scene, stream) && ok;
                                if (stream) gzclose(stream);
                            });
        destroyScene(scene);
    }
    parts[Music] = timed([&] { ok = loadMusicFile("tune.mo3") && ok; });
    releaseMusic();
    return ok;
}

// Also waits for the driver: llvmpipe draws the loading screens in threads of its own, late,
// and that work must not run into the next timed step.
void releaseAndFinish() {
    releaseDemoData();
    glFinish();
}

} // namespace

int main(int argc, char** argv) {
    const char* data = argc > 1 ? argv[1] : "data";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!startVideo(true)) return 1;
    setupOptions = SetupOptions{};
    setupOptions.fullscreen = false;
    if (!createGLWindow(1024, 768, 32, false)) return 1;
    useMusicLockStep(40000); // no audio device: its start-up is not the data set's
    DemoLoadRequest request;
    request.dataDirectory = data;
    request.present = presentGLWindow;

    // A first load warms the file cache and names the pictures the load takes.
    if (!loadDemoData(request)) {
        std::fprintf(stderr, "loading %s failed\n", data);
        return 1;
    }
    std::vector<std::string> pictures;
    for (int i = 0; i < textureCacheCount; ++i)
        if (textureCache[i]) pictures.push_back(textureCache[i]->name);
    releaseAndFinish();
    if (textureCacheCount != 0)
        for (int i = 0; i < textureCacheCount; ++i)
            if (textureCache[i]) std::fprintf(stderr, "still cached: %s\n", textureCache[i]->name);

    char home[4096];
    if (!getcwd(home, sizeof home)) return 1;
    // The load with the player's default (DXT5 blocks made on the CPU) and with plain RGBA
    // textures, beside the decodes; the three take turns in a rotating order.
    Samples load[2], decodes, parts[kParts];
    bool ok = true;
    for (int r = 0; r < repetitions; ++r) {
        for (int step = 0; step < 3; ++step) {
            const int which = (step + r) % 3;
            if (which < 2) {
                setupOptions.useDxt = which == 0;
                load[which].add(timed([&] { ok = loadDemoData(request) && ok; }));
                releaseAndFinish();
                continue;
            }
            if (chdir(data) != 0) return 1;
            Times t[kParts];
            t[Pictures] = timed([&] {
                for (const std::string& name : pictures)
                    ok = decodePicture(name) && ok;
            });
            ok = decodeOthers(t) && ok;
            if (chdir(home) != 0) return 1;
            Times sum;
            for (int p = 0; p < kParts; ++p) {
                parts[p].add(t[p]);
                sum = sum + t[p];
            }
            decodes.add(sum);
        }
    }
    if (!ok) std::fprintf(stderr, "some load or decode failed\n");

    std::printf("data set %s: %zu pictures, %d scenes with hidetracks, the module; %d "
                "repetitions, medians\n",
                data, pictures.size(), kDemoSceneCount, repetitions);
    // cpu: the whole process (the compression worker and the driver's threads included);
    // main: the main thread alone, the load's critical path when other work shares the machine.
    std::printf("  %-16s %9s %9s %9s\n", "", "wall ms", "cpu ms", "main ms");
    for (int p = 0; p < kParts; ++p)
        std::printf("  %-16s %9.1f %9.1f %9.1f\n", kPartNames[p], median(parts[p].wall),
                    median(parts[p].process), median(parts[p].thread));
    std::printf("  %-16s %9.1f %9.1f %9.1f\n", "sum of decodes", median(decodes.wall),
                median(decodes.process), median(decodes.thread));
    // The machine's speed drifts over seconds here, so besides the ratio of the medians the
    // median of each repetition's own ratio: a load beside the decodes timed next to it.
    const char* const loadNames[2] = {"load, DXT5", "load, RGBA"};
    for (int l = 0; l < 2; ++l) {
        std::vector<double> paired;
        for (size_t r = 0; r < decodes.wall.size(); ++r)
            paired.push_back(load[l].wall[r] / decodes.wall[r]);
        std::printf("  %-16s %9.1f %9.1f %9.1f   x%.2f wall, x%.2f main of the decodes; x%.2f "
                    "paired\n",
                    loadNames[l], median(load[l].wall), median(load[l].process),
                    median(load[l].thread), median(load[l].wall) / median(decodes.wall),
                    median(load[l].thread) / median(decodes.thread), median(paired));
    }
    std::printf("  (target: the load at most 1000 ms and x1.30 the decodes)\n");
    destroyGLWindow();
    stopVideo();
    return ok ? 0 : 1;
}
