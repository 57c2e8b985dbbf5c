// Demo data loading and the loading screen.
#include "demo/demo_loading.h"

#include "demo/music_time.h"
#include "diag/console.h"
#include "hidetrack/hidetrack_file.h"
#include "image/screen_quad.h"
#include "image/texture.h"
#include "platform/job_thread.h"
#include "platform/music.h"
#include "platform/options.h"
#include "platform/paths.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <GL/gl.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

DemoData demoData;

namespace {

bool isDirectory(const char* path) {
    struct stat info;
    return path[0] != '\0' && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Copies text into out when it fits whole; a cut path would name another folder.
bool copyWhole(const char* text, char* out, int outBytes) {
    const size_t length = std::strlen(text);
    if (length + 1 > size_t(outBytes)) return false;
    std::memcpy(out, text, length + 1);
    return true;
}

void present(const DemoLoadRequest& request) {
    if (request.present) request.present();
}

void progressStep(const DemoLoadRequest& request) {
    uploadReadyTextures();
    ++demoData.progress;
    drawLoadProgress(1.0f);
    present(request);
}

// Appends suffix to name (which holds length characters) when it fits the name buffer.
bool appendSuffix(char* name, size_t length, const char* suffix) {
    const size_t extra = std::strlen(suffix);
    if (length + extra + 1 > size_t(kDemoSceneNameBytes)) return false;
    std::memcpy(name + length, suffix, extra + 1);
    return true;
}

// Opens name, else name + ".gz"; name keeps the one that opened.
gzFile openWithGz(char* name) {
    gzFile file = gzopen(name, "rb");
    if (file) return file;
    const size_t length = std::strlen(name);
    if (!appendSuffix(name, length, ".gz")) return nullptr;
    file = gzopen(name, "rb");
    if (!file) name[length] = '\0';
    return file;
}

// Why a scene did not open, in one line on standard error and the console: the plain name's
// reason (a loop of links is not a missing file), with the folder it was looked for in.
void reportSceneOpenFailure(const char* name) {
    errno = 0;
    FILE* file = std::fopen(name, "rb");
    const int reason = file ? 0 : openErrorCode(name, errno);
    if (file) std::fclose(file);
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) std::snprintf(here, sizeof here, ".");
    const char* why = reason != 0 ? std::strerror(reason) : "cannot be read";
    std::fprintf(stderr, "quilm: demo scene %s%c%s: %s\n", here, kPathSeparator, name, why);
    consolePrint("Demo scene %s: %s\n", name, why);
}

// A scene file read whole and decompressed on the worker while the loading picture decodes,
// so the main thread only parses it. Anything unusual (a read error, a file past the cap,
// gzip data inside) leaves the file to the ordinary load, which reports it as always.
struct SceneAhead {
    char name[kDemoSceneNameBytes] = {}; // the scene's name, then the one that opened
    uint8_t* bytes = nullptr;
    size_t size = 0;
    bool read = false;
    uint64_t job = 0; // 0: not queued
};
SceneAhead scenesAhead[kMaxDemoScenes];

// Real scenes are a few megabytes; the cap keeps a compressed bomb from filling memory ahead
// of the loader's own budget.
constexpr size_t kSceneAheadMaxBytes = size_t(64) << 20;

// On the worker: no console, only the record handed over.
void readSceneAhead(void* argument) {
    SceneAhead& ahead = *static_cast<SceneAhead*>(argument);
    gzFile file = openWithGz(ahead.name);
    if (!file) return;
    size_t capacity = size_t(1) << 20;
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(capacity));
    size_t size = 0;
    bool ok = bytes != nullptr;
    while (ok) {
        if (size == capacity) {
            uint8_t* grown = capacity < kSceneAheadMaxBytes
                                 ? static_cast<uint8_t*>(std::realloc(bytes, capacity * 2))
                                 : nullptr;
            if (!grown) {
                ok = false;
                break;
            }
            bytes = grown;
            capacity *= 2;
        }
        const int got = gzread(file, bytes + size, unsigned(capacity - size));
        if (got < 0) ok = false;
        if (got <= 0) break;
        size += size_t(got);
    }
    gzclose(file);
    // Decompressed bytes that are gzip again would be unpacked once more from memory.
    if (ok && size >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b) ok = false;
    if (!ok) {
        std::free(bytes);
        return;
    }
    ahead.bytes = bytes;
    ahead.size = size;
    ahead.read = true;
}

void queueScenesAhead() {
    JobThread* worker = textureBatchWorker();
    if (!worker) return;
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.sceneCount; ++i) {
        SceneAhead& ahead = scenesAhead[i];
        ahead = SceneAhead{};
        if (!copyWhole(manifest.sceneFiles[i], ahead.name, sizeof ahead.name)) continue;
        ahead.job = queueJob(worker, readSceneAhead, &ahead);
    }
}

// The hidetrack beside a loaded scene: name (the scene file as opened) + ".hid", else
// + ".hid.gz". A missing or refused one only logs.
void loadSceneHidetrack(Scene& scene, char* name) {
    gzFile trackFile = nullptr;
    if (appendSuffix(name, std::strlen(name), ".hid")) trackFile = openWithGz(name);
    if (!trackFile) {
        consolePrint("No hidetrack found!\n");
        return;
    }
    consolePrint("Hidetrack: %s\n", name);
    if (!loadHidetrack(scene, trackFile)) consolePrint("Failed. \n");
    gzclose(trackFile);
}

// loadDemoScene, from the bytes read ahead when there are any.
Scene* loadDemoSceneAhead(const char* fileName, SceneAhead& ahead) {
    if (ahead.job != 0) waitForJob(textureBatchWorker(), ahead.job);
    if (!ahead.read) return loadDemoScene(fileName);
    Scene* scene = createScene();
    const bool loaded = scene && loadSceneFromMemory(*scene, ahead.bytes, ahead.size);
    std::free(ahead.bytes);
    ahead.bytes = nullptr;
    if (!loaded) {
        consolePrint("Failed: Scene loader error!\n");
        destroyScene(scene);
        return nullptr;
    }
    loadSceneHidetrack(*scene, ahead.name);
    return scene;
}

// After the worker has stopped: whatever a failed load left unread.
void dropScenesAhead() {
    for (SceneAhead& ahead : scenesAhead) {
        std::free(ahead.bytes);
        ahead = SceneAhead{};
    }
}

bool loadAll(const DemoLoadRequest& request) {
    // From here on textures are compressed on a worker while the next picture decodes; the
    // worker starts with the scene files, while the loading picture decodes here.
    beginTextureBatch();
    queueScenesAhead();
    const DemoManifest& manifest = *demoData.manifest;
    if (manifest.loading[0] != '\0') {
        consolePrint("Loading image file: %s\n", manifest.loading);
        demoData.loadingPicture = loadTexture(manifest.loading, true, true);
        if (!demoData.loadingPicture) consolePrint("Failed.\n");
    }
    if (demoData.loadingPicture) {
        drawScreenQuad(demoData.loadingPicture, -1, -1.0f, -1.0f, 2.0f, 2.0f, 1.0f, 0);
    } else {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    present(request);
    progressStep(request);

    for (int i = 0; i < manifest.sceneCount; ++i) {
        Scene* scene = loadDemoSceneAhead(manifest.sceneFiles[i], scenesAhead[i]);
        if (!scene) return false;
        if (!setupOptions.lowMemory) prepareObjects(*scene);
        scene->super8 = request.super8;
        demoData.scenes[i] = scene;
        progressStep(request);
    }
    for (int i = 0; i < manifest.logoCount; ++i) {
        consolePrint("Loading image file: %s\n", manifest.logoFiles[i]);
        demoData.logos[i] = loadTexture(manifest.logoFiles[i], true, true);
        if (!demoData.logos[i]) consolePrint("Failed.\n");
        progressStep(request);
    }
    // The built-in cue table assumes the tune's layout; a manifest's positions were checked.
    if (!startMusic(manifest.music, request.startOrder, request.startRow,
                    request.manifest == nullptr))
        return false;
    progressStep(request);
    return true;
}

void stampLoadedFiles() {
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.sceneCount; ++i)
        demoData.sceneStamps[i] = demoFileStamp(manifest.sceneFiles[i], true);
    for (int i = 0; i < manifest.logoCount; ++i)
        demoData.logoStamps[i] = demoFileStamp(manifest.logoFiles[i], false);
}

} // namespace

bool findDemoDataDirectory(const char* requested, const char* exePath, char* out, int outBytes,
                           char* tried, int triedBytes) {
    if (triedBytes > 0) tried[0] = '\0';
    if (requested && requested[0] != '\0') {
        std::snprintf(tried, size_t(triedBytes), "%s", requested);
        return isDirectory(requested) && copyWhole(requested, out, outBytes);
    }
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    std::snprintf(tried, size_t(triedBytes), "%s%cdata", haveHome ? home : ".", kPathSeparator);
    if (isDirectory("data")) return copyWhole("data", out, outBytes);

    if (!exePath || exePath[0] == '\0') return false;
    const char* slash = lastPathSeparator(exePath);
    if (!slash) return false;
    char beside[kDemoPathBytes];
    const int n =
        std::snprintf(beside, sizeof beside, "%.*sdata", int(slash + 1 - exePath), exePath);
    if (n < 0 || n >= int(sizeof beside)) return false;
    const size_t used = std::strlen(tried);
    if (used < size_t(triedBytes) && std::strcmp(tried, beside) != 0)
        std::snprintf(tried + used, size_t(triedBytes) - used, " and %s", beside);
    return isDirectory(beside) && copyWhole(beside, out, outBytes);
}

void releaseDemoData() {
    for (Scene*& scene : demoData.scenes)
        destroyScene(scene);
    for (Texture* logo : demoData.logos)
        if (logo) releaseTexture(logo);
    if (demoData.loadingPicture) releaseTexture(demoData.loadingPicture);
    releaseMusic();
    demoData = DemoData{};
}

void drawLoadProgress(float alpha) {
    if (demoData.loadingPicture) {
        drawScreenQuad(demoData.loadingPicture, -1, -1.0f, -1.0f, 2.0f, 2.0f, alpha, 0);
    } else {
        // No picture: a plain grey screen, so the black bar still shows.
        glClearColor(0.5f, 0.5f, 0.5f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_CULL_FACE);
    }
    // The bar in normalised device coordinates, whatever matrices start-up left behind.
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const float steps = float(demoLoadSteps(*demoData.manifest));
    const float right = float(demoData.progress) / steps * 1.35f - 0.675f;
    glColor4f(0.0f, 0.0f, 0.0f, alpha);
    glBegin(GL_QUADS);
    glVertex2f(-0.675f, -0.62f);
    glVertex2f(-0.675f, -0.56f);
    glVertex2f(right, -0.56f);
    glVertex2f(right, -0.62f);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

Scene* loadDemoScene(const char* fileName) {
    char name[kDemoSceneNameBytes];
    if (!copyWhole(fileName, name, sizeof name)) {
        consolePrint("Failed: File not found!\n");
        return nullptr;
    }
    gzFile sceneFile = openWithGz(name);
    if (!sceneFile) {
        consolePrint("Failed: File not found!\n");
        reportSceneOpenFailure(name);
        return nullptr;
    }
    Scene* scene = createScene();
    if (!scene || !loadScene(*scene, sceneFile)) {
        consolePrint("Failed: Scene loader error!\n");
        gzclose(sceneFile);
        destroyScene(scene);
        return nullptr;
    }
    gzclose(sceneFile);
    loadSceneHidetrack(*scene, name);
    return scene;
}

bool loadDemoData(const DemoLoadRequest& request) {
    beginDemoClock();
    std::snprintf(demoData.dataDirectory, sizeof demoData.dataDirectory, "%s",
                  request.dataDirectory);
    demoData.super8 = request.super8;
    demoData.manifest = request.manifest ? request.manifest : &builtInDemoManifest();
    demoData.progress = 0;
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    if (chdir(request.dataDirectory) != 0) {
        consolePrint("Could not enter the data directory %s\n", request.dataDirectory);
        return false;
    }
    const bool loaded = loadAll(request);
    endTextureBatch();
    dropScenesAhead();
    // Back where we were, also after a failure: the caller may still write files.
    if (!haveHome || chdir(home) != 0) consolePrint("Could not return from the data directory.\n");
    stampLoadedFiles();
    return loaded;
}

FileStamp demoFileStamp(const char* name, bool scene) {
    char path[kDemoPathBytes + kDemoSceneNameBytes + 16];
    FileStamp stamp{0, 0};
    // A scene is found under its name or with ".gz", its hidetrack with ".hid" and ".hid.gz"
    // after either: any of them changing changes what a load gives.
    static const char* const kSceneSuffixes[] = {"",        ".gz",     ".hid",
                                                 ".hid.gz", ".gz.hid", ".gz.hid.gz"};
    const int names = scene ? 6 : 1;
    for (int i = 0; i < names; ++i) {
        std::snprintf(path, sizeof path, "%s%c%s%s", demoData.dataDirectory, kPathSeparator, name,
                      kSceneSuffixes[i]);
        struct stat info;
        const bool found = stat(path, &info) == 0;
#ifdef _WIN32
        const uint64_t modified = found ? uint64_t(info.st_mtime) * 1000000000u : 0;
#else
        const uint64_t modified =
            found ? uint64_t(info.st_mtim.tv_sec) * 1000000000u + uint64_t(info.st_mtim.tv_nsec)
                  : 0;
#endif
        // Unsigned: the mix wraps, as a hash should.
        stamp.size = stamp.size * 31u + (found ? uint64_t(info.st_size) + 1u : 0u);
        stamp.modified = stamp.modified * 31u + modified;
    }
    return stamp;
}

bool demoFilesChanged() {
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.sceneCount; ++i)
        if (!(demoFileStamp(manifest.sceneFiles[i], true) == demoData.sceneStamps[i])) return true;
    for (int i = 0; i < manifest.logoCount; ++i)
        if (!(demoFileStamp(manifest.logoFiles[i], false) == demoData.logoStamps[i])) return true;
    return false;
}

bool reloadDemoData(const DemoManifest& next) {
    const DemoManifest& old = *demoData.manifest;
    Scene* scenes[kMaxDemoScenes] = {};
    Texture* logos[kMaxDemoLogos] = {};
    bool freshScene[kMaxDemoScenes] = {}, freshLogo[kMaxDemoLogos] = {};
    bool keptScene[kMaxDemoScenes] = {}, keptLogo[kMaxDemoLogos] = {};
    FileStamp sceneStamps[kMaxDemoScenes], logoStamps[kMaxDemoLogos];
    // What is the same file, unchanged, is kept; the rest loads below.
    for (int i = 0; i < next.sceneCount; ++i) {
        sceneStamps[i] = demoFileStamp(next.sceneFiles[i], true);
        for (int j = 0; j < old.sceneCount && !scenes[i]; ++j)
            if (!keptScene[j] && demoData.scenes[j] &&
                std::strcmp(old.sceneFiles[j], next.sceneFiles[i]) == 0 &&
                demoData.sceneStamps[j] == sceneStamps[i]) {
                keptScene[j] = true;
                scenes[i] = demoData.scenes[j];
            }
        freshScene[i] = !scenes[i];
    }
    for (int i = 0; i < next.logoCount; ++i) {
        logoStamps[i] = demoFileStamp(next.logoFiles[i], false);
        for (int j = 0; j < old.logoCount && !logos[i]; ++j)
            if (!keptLogo[j] && demoData.logos[j] &&
                std::strcmp(old.logoFiles[j], next.logoFiles[i]) == 0 &&
                demoData.logoStamps[j] == logoStamps[i]) {
                keptLogo[j] = true;
                logos[i] = demoData.logos[j];
            }
        freshLogo[i] = !logos[i];
    }
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    if (chdir(demoData.dataDirectory) != 0) {
        consolePrint("Could not enter the data directory %s\n", demoData.dataDirectory);
        return false;
    }
    bool loaded = true;
    for (int i = 0; i < next.sceneCount && loaded; ++i) {
        if (!freshScene[i]) continue;
        consolePrint("Reloading scene %s\n", next.sceneFiles[i]);
        scenes[i] = loadDemoScene(next.sceneFiles[i]);
        loaded = scenes[i] != nullptr;
        if (!loaded) break;
        if (!setupOptions.lowMemory) prepareObjects(*scenes[i]);
        scenes[i]->super8 = demoData.super8;
    }
    for (int i = 0; i < next.logoCount && loaded; ++i) {
        if (!freshLogo[i]) continue;
        consolePrint("Loading image file: %s\n", next.logoFiles[i]);
        logos[i] = loadTexture(next.logoFiles[i], true, true);
        if (!logos[i]) consolePrint("Failed.\n");
    }
    if (!haveHome || chdir(home) != 0) consolePrint("Could not return from the data directory.\n");
    if (!loaded) {
        for (int i = 0; i < next.sceneCount; ++i)
            if (freshScene[i]) destroyScene(scenes[i]);
        for (int i = 0; i < next.logoCount; ++i)
            if (freshLogo[i] && logos[i]) releaseTexture(logos[i]);
        consolePrint("Reload failed: the demo plays on as it was.\n");
        return false;
    }
    // A cue starts again unless it is the same cue over the same, unchanged content.
    const auto sameScene = [&](int32_t a, int32_t b) {
        if (a < 0 || b < 0) return a < 0 && b < 0;
        return b < next.sceneCount && a < old.sceneCount && !freshScene[b] &&
               std::strcmp(old.sceneFiles[a], next.sceneFiles[b]) == 0;
    };
    const auto sameLogo = [&](int32_t a, int32_t b) {
        if (a < 0 || b < 0) return a < 0 && b < 0;
        return b < next.logoCount && a < old.logoCount && !freshLogo[b] &&
               std::strcmp(old.logoFiles[a], next.logoFiles[b]) == 0;
    };
    float* timers = cueTimers();
    for (int i = 0; i < old.cueCount; ++i) {
        const Cue& was = old.cues[i];
        const Cue* now = nullptr;
        for (int k = 0; k < next.cueCount && !now; ++k)
            if (next.cues[k].timer == was.timer) now = &next.cues[k];
        const bool same =
            now && now->first == was.first && now->last == was.last && now->rows == was.rows &&
            now->camera == was.camera && now->factor == was.factor && now->overlay == was.overlay &&
            sameScene(was.scene, now->scene) && sameLogo(was.logo, now->logo) &&
            now->box.x == was.box.x && now->box.y == was.box.y && now->box.width == was.box.width &&
            now->box.height == was.box.height && sameLogo(was.orbit[0], now->orbit[0]) &&
            sameLogo(was.orbit[1], now->orbit[1]) && sameLogo(was.orbit[2], now->orbit[2]);
        if (!same) timers[was.timer] = kCueNotStarted;
    }
    for (int k = 0; k < next.cueCount; ++k) {
        bool known = false;
        for (int i = 0; i < old.cueCount && !known; ++i)
            known = old.cues[i].timer == next.cues[k].timer;
        if (!known) timers[next.cues[k].timer] = kCueNotStarted;
    }
    for (int j = 0; j < old.sceneCount; ++j)
        if (!keptScene[j]) destroyScene(demoData.scenes[j]);
    for (int j = 0; j < old.logoCount; ++j)
        if (!keptLogo[j] && demoData.logos[j]) releaseTexture(demoData.logos[j]);
    if (std::strcmp(old.music, next.music) != 0)
        consolePrint("The music is now %s: it plays from the next start.\n", next.music);
    for (int i = 0; i < kMaxDemoScenes; ++i) {
        demoData.scenes[i] = i < next.sceneCount ? scenes[i] : nullptr;
        demoData.sceneStamps[i] = i < next.sceneCount ? sceneStamps[i] : FileStamp{};
    }
    for (int i = 0; i < kMaxDemoLogos; ++i) {
        demoData.logos[i] = i < next.logoCount ? logos[i] : nullptr;
        demoData.logoStamps[i] = i < next.logoCount ? logoStamps[i] : FileStamp{};
    }
    demoData.manifest = &next;
    return true;
}
