#include "quilm_tool/make_data_steps.h"

#include "demo/demo_manifest.h"

#include "image/image_loaders.h"
#include "platform/child_process.h"
#include "platform/paths.h"
#include "content/demo_tune.h"
#include "content/logos.h"
#include "writers/picture_writer.h"
#include "writers/scene_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

namespace fs = std::filesystem;
namespace sw = scenewriter;

namespace {

// The loading picture shows this camera of the opening scene, six seconds in: a few long
// steps get there as well as many short ones, and each 1024 x 768 frame costs.
constexpr int kStillCamera = 15;
constexpr int kStillFrames = 12;
constexpr const char* kStillStep = "0.5";
constexpr const char* kStillScene = "loading_still.q3d";
constexpr const char* kStillShot = "loading_still.png";

// A child process whose standard output and error come through one pipe.
struct Child {
    ChildProcess process;
    std::string partial; // the line being read
};

bool startChild(Child& child, const std::string& program, const std::vector<std::string>& args,
                const std::string& dir) {
    std::vector<const char*> argv;
    argv.push_back(program.c_str());
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    child.partial.clear();
    return startReadingChild(child.process, argv.data(), dir.c_str());
}

// Reads what the child has written, line by line. False at the end of its output.
bool readChild(Child& child, const std::function<void(const std::string&)>& onLine) {
    char chunk[4096];
    const long got = readChildOutput(child.process, chunk, sizeof chunk);
    if (got <= 0) {
        if (!child.partial.empty()) onLine(child.partial);
        child.partial.clear();
        return false;
    }
    for (long i = 0; i < got; ++i) {
        if (chunk[i] == '\n') {
            onLine(child.partial);
            child.partial.clear();
        } else {
            child.partial += chunk[i];
        }
    }
    return true;
}

// Waits for the child's end. Its exit status, or -1 when it did not exit normally.
int finishChild(Child& child) {
    return finishChildProcess(child.process);
}

int runChild(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir, const std::function<void(const std::string&)>& onLine) {
    Child child;
    if (!startChild(child, program, args, dir)) return -1;
    while (readChild(child, onLine)) {
    }
    return finishChild(child);
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    fs::remove(utf8Path(path), ignored);
}

} // namespace

fs::path utf8Path(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

void reportFile(const std::string& dir, const std::string& name) {
    std::error_code error;
    const uintmax_t size = fs::file_size(utf8Path(dir + "/" + name), error);
    if (error) {
        std::printf("  %-26s (missing)\n", name.c_str());
        return;
    }
    if (size >= 1024 * 1024)
        std::printf("  %-26s %7.2f MB\n", name.c_str(), double(size) / (1024.0 * 1024.0));
    else
        std::printf("  %-26s %7.1f kB\n", name.c_str(), double(size) / 1024.0);
    std::fflush(stdout);
}

uint64_t directoryBytes(const std::string& dir) {
    uint64_t total = 0;
    std::error_code error;
    for (const fs::directory_entry& e : fs::directory_iterator(utf8Path(dir), error))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

bool writeDemoSceneFile(const std::string& dir, const DemoSceneEntry& entry,
                        const BuiltScene& built) {
    const std::string name = demoSceneFileName(entry);
    const std::string plainName = demoSceneName(entry.scene) + ".q3d";
    // the player opens NAME.q3d before NAME.q3d.gz: a stale copy must not shadow this one
    for (const std::string& other : {plainName, plainName + ".gz"})
        if (other != name) removeQuietly(dir + "/" + other);
    if (!sw::writeSceneFile(dir + "/" + name, built.scene, entry.storage != SceneStorage::plain)) {
        std::fprintf(stderr, "make-data: cannot write %s/%s\n", dir.c_str(), name.c_str());
        return false;
    }
    reportFile(dir, name);
    return true;
}

bool writeDemoSoundAndLogos(const std::string& dir) {
    if (!writeDemoTune(dir + "/tune.mo3")) return false;
    reportFile(dir, "tune.mo3");
    if (!writeDemoLogos(dir)) return false;
    for (int i = 0; i < kDemoLogoCount; ++i)
        reportFile(dir, demoLogoFileName(i));
    // The built-in demo, as a manifest to start another demo from.
    if (!writeDemoManifest((dir + "/" + kDemoManifestFile).c_str(), builtInDemoManifest()))
        return false;
    reportFile(dir, kDemoManifestFile);
    return true;
}

std::string playerPath() {
    char path[4096];
    return siblingProgramPath("quilm", path, sizeof path) ? std::string(path) : "quilm";
}

bool makeHidetracks(const std::string& dir, const std::string& player, const std::string& size) {
    // Two passes at a time: each is mostly one busy thread, and this machine has two cores.
    constexpr int kParallel = 2;
    struct Pass {
        Child child;
        int entry = -1;
        int camerasSeen = 0;
        std::string log;
    };
    Pass passes[kParallel];
    int totalCameras = 0, next = 0, running = 0;
    for (const DemoSceneEntry& entry : kDemoScenes)
        totalCameras += entry.camerasNeeded;
    bool ok = true;
    int shownPercent = -1;
    auto progress = [&] {
        int seen = 0;
        for (int i = 0; i < next; ++i)
            seen += kDemoScenes[i].camerasNeeded;
        for (const Pass& p : passes)
            if (p.entry >= 0) seen -= kDemoScenes[p.entry].camerasNeeded - p.camerasSeen;
        const int percent = 100 * seen / totalCameras;
        if (percent == shownPercent) return;
        shownPercent = percent;
        std::printf("\r  hidetracks %3d%%", percent);
        std::fflush(stdout);
    };
    while (ok && (next < kDemoSceneCount || running > 0)) {
        for (Pass& p : passes) {
            if (p.entry >= 0 || next >= kDemoSceneCount) continue;
            const std::string scene = demoSceneFileName(kDemoScenes[next]);
            removeQuietly(dir + "/" + scene + ".hid");
            removeQuietly(dir + "/" + scene + ".hid.gz");
            p.log.clear();
            p.camerasSeen = 0;
            if (!startChild(p.child, player,
                            {"--headless", "--no-dialog", "--console", "--size", size,
                             "--make-hidetrack", scene},
                            dir)) {
                std::fprintf(stderr, "make-data: cannot run %s\n", player.c_str());
                return false;
            }
            p.entry = next++;
            ++running;
        }
        ChildProcess* waited[kParallel];
        Pass* waitedPass[kParallel];
        int count = 0;
        for (Pass& p : passes)
            if (p.entry >= 0) {
                waitedPass[count] = &p;
                waited[count++] = &p.child.process;
            }
        const int ready = waitChildOutput(waited, count);
        if (ready < 0) {
            std::fprintf(stderr, "make-data: cannot wait for %s\n", player.c_str());
            ok = false;
            break;
        }
        Pass& p = *waitedPass[ready];
        const bool more = readChild(p.child, [&](const std::string& line) {
            p.log += line + "\n";
            if (line.rfind("Now tracking camera:", 0) == 0) ++p.camerasSeen;
        });
        progress();
        if (more) continue;
        const int status = finishChild(p.child);
        const DemoSceneEntry& entry = kDemoScenes[p.entry];
        p.entry = -1;
        --running;
        const std::string track = demoSceneFileName(entry) + ".hid";
        std::printf("\r%24s\r", "");
        if (status != 0 || !fs::exists(utf8Path(dir + "/" + track))) {
            std::fprintf(stderr, "make-data: the hidetrack of %s failed (%s, status %d):\n%s",
                         demoSceneName(entry.scene).c_str(), player.c_str(), status, p.log.c_str());
            ok = false;
            continue;
        }
        if (entry.gzipHidetrack) {
            std::vector<uint8_t> bytes;
            if (!readFile(dir + "/" + track, bytes) ||
                !sw::writeBytesFile(dir + "/" + track + ".gz", sw::gzipBytes(bytes, 9))) {
                std::fprintf(stderr, "make-data: cannot compress %s/%s\n", dir.c_str(),
                             track.c_str());
                ok = false;
                continue;
            }
            removeQuietly(dir + "/" + track);
            reportFile(dir, track + ".gz");
        } else {
            reportFile(dir, track);
        }
    }
    // a failure leaves the other pass running: wait for it rather than orphan it
    for (Pass& p : passes)
        if (p.entry >= 0) {
            while (readChild(p.child, [](const std::string&) {})) {
            }
            finishChild(p.child);
        }
    if (ok) std::printf("  hidetracks 100%%\n");
    return ok;
}

bool makeLoadingPicture(const std::string& dir, const std::string& player) {
    // The opening shot's camera goes first, so the viewer starts with it.
    BuiltScene still = buildLandschaft();
    std::vector<sw::Track>& tracks = still.scene.tracks;
    int cameraNumber = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].type != sw::kCameraTrack) continue;
        if (cameraNumber++ != kStillCamera) continue;
        const sw::Track chosen = tracks[i];
        tracks.erase(tracks.begin() + long(i));
        const auto first = std::find_if(tracks.begin(), tracks.end(), [](const sw::Track& t) {
            return t.type == sw::kCameraTrack;
        });
        tracks.insert(first, chosen);
        break;
    }
    const std::string scenePath = dir + "/" + kStillScene, shotPath = dir + "/" + kStillShot;
    if (!sw::writeSceneFile(scenePath, still.scene)) {
        std::fprintf(stderr, "make-data: cannot write %s\n", scenePath.c_str());
        return false;
    }
    std::string log;
    const int status = runChild(
        player,
        {"--headless", "--no-dialog", "--console", "--size", "1024x768", "--fixed-step", kStillStep,
         "--frames", std::to_string(kStillFrames), "--screenshot", kStillShot, kStillScene},
        dir, [&](const std::string& line) { log += line + "\n"; });
    removeQuietly(scenePath);
    FILE* file = status == 0 ? std::fopen(shotPath.c_str(), "rb") : nullptr;
    int32_t width = 0, height = 0;
    uint8_t* pixels = file ? loadPng(file, &width, &height) : nullptr; // closes the file
    removeQuietly(shotPath);
    if (!pixels) {
        std::fprintf(stderr, "make-data: the loading still failed (%s, status %d):\n%s",
                     player.c_str(), status, log.c_str());
        return false;
    }
    pictures::Canvas canvas(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 4;
            canvas.at(x, y) = {p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f, 1};
        }
    std::free(pixels);
    // The bar is opaque black from x -0.675 to 0.675, y -0.62 to -0.56: a pale strip with a
    // dark frame behind it keeps it readable over any picture.
    const float w = float(width), h = float(height);
    auto px = [w](float ndc) { return (ndc + 1) * 0.5f * w; };
    auto py = [h](float ndc) { return (1 - ndc) * 0.5f * h; };
    const float m = 0.012f;
    pictures::fillRoundedRect(canvas, px(-0.675f - 2 * m), py(-0.56f + 2.6f * m),
                              px(0.675f + 2 * m), py(-0.62f - 2.6f * m), 6,
                              {0.05f, 0.05f, 0.06f, 0.55f});
    pictures::fillRoundedRect(canvas, px(-0.675f - m), py(-0.56f + 1.3f * m), px(0.675f + m),
                              py(-0.62f - 1.3f * m), 4, {0.93f, 0.9f, 0.82f, 0.92f});
    if (!pictures::writeJpeg(dir + "/loading.jpg", canvas, 90)) {
        std::fprintf(stderr, "make-data: cannot write %s/loading.jpg\n", dir.c_str());
        return false;
    }
    reportFile(dir, "loading.jpg");
    return true;
}
