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
    return loaded;
}
