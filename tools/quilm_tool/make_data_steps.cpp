#include "quilm_tool/make_data_steps.h"

#include "image/image_loaders.h"
#include "support/picture_writer.h"
#include "support/scene_writer.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The loading picture shows this camera of the opening scene, this many frames in.
constexpr int kStillCamera = 15;
constexpr int kStillFrames = 140;
constexpr const char* kStillScene = "loading_still.q3d";
constexpr const char* kStillShot = "loading_still.png";

// Runs program with args in dir; each line of its standard output and error goes to onLine.
// Returns the exit status, or -1 when it could not run or did not exit normally.
int runChild(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir, const std::function<void(const std::string&)>& onLine) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return -1;
    }
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string line;
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                onLine(line);
                line.clear();
            } else {
                line += chunk[i];
            }
        }
    if (!line.empty()) onLine(line);
    close(pipeEnds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
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
    fs::remove(path, ignored);
}

} // namespace

void reportFile(const std::string& dir, const std::string& name) {
    std::error_code error;
    const uintmax_t size = fs::file_size(fs::path(dir) / name, error);
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
    for (const fs::directory_entry& e : fs::directory_iterator(dir, error))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

bool writeDemoSceneFile(const std::string& dir, const DemoSceneEntry& entry,
                        const DemoScene& built) {
    const std::string name = demoSceneFileName(entry);
    const std::string plainName = std::string(entry.name) + ".q3d";
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

bool writeDemoSoundAndLogos(const std::string&) {
    return true;
}

std::string playerPath() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return "quilm";
    return (self.parent_path() / "quilm").string();
}

bool makeHidetracks(const std::string& dir, const std::string& player, const std::string& size) {
    int totalCameras = 0, camerasDone = 0;
    for (const DemoSceneEntry& entry : kDemoScenes)
        totalCameras += entry.camerasNeeded;
    for (const DemoSceneEntry& entry : kDemoScenes) {
        const std::string scene = demoSceneFileName(entry);
        const std::string track = scene + ".hid";
        removeQuietly(dir + "/" + track);
        removeQuietly(dir + "/" + track + ".gz");
        int seen = 0;
        std::string log;
        const int status = runChild(
            player,
            {"--headless", "--no-dialog", "--console", "--size", size, "--make-hidetrack", scene},
            dir, [&](const std::string& line) {
                log += line + "\n";
                if (line.rfind("Now tracking camera:", 0) == 0) {
                    ++seen;
                    const int percent = 100 * (camerasDone + seen - 1) / totalCameras;
                    std::printf("\r  hidetracks %3d%% (%s, camera %d)   ", percent, entry.name,
                                seen - 1);
                    std::fflush(stdout);
                }
            });
        camerasDone += entry.camerasNeeded;
        std::printf("\r%60s\r", "");
        if (status != 0 || !fs::exists(dir + "/" + track)) {
            std::fprintf(stderr, "make-data: the hidetrack of %s failed (%s, status %d):\n%s",
                         scene.c_str(), player.c_str(), status, log.c_str());
            return false;
        }
        if (entry.gzipHidetrack) {
            std::vector<uint8_t> bytes;
            if (!readFile(dir + "/" + track, bytes) ||
                !sw::writeBytesFile(dir + "/" + track + ".gz", sw::gzipBytes(bytes, 9))) {
                std::fprintf(stderr, "make-data: cannot compress %s/%s\n", dir.c_str(),
                             track.c_str());
                return false;
            }
            removeQuietly(dir + "/" + track);
            reportFile(dir, track + ".gz");
        } else {
            reportFile(dir, track);
        }
    }
    std::printf("  hidetracks 100%%\n");
    return true;
}

bool makeLoadingPicture(const std::string& dir, const std::string& player) {
    // The opening shot's camera goes first, so the viewer starts with it.
    DemoScene still = buildLandschaft();
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
    const int status = runChild(player,
                                {"--headless", "--no-dialog", "--console", "--size", "1024x768",
                                 "--fixed-step", "0.04", "--frames", std::to_string(kStillFrames),
                                 "--screenshot", kStillShot, kStillScene},
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
