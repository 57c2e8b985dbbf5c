#include "app/player.h"

#include "app/frame_stats.h"
#include "app/gl_window.h"
#include "app/pending.h"
#include "app/setup_dialog.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "hidetrack/hidetrack_file.h"
#include "hidetrack/hidetrack_generate.h"
#include "image/png_writer.h"
#include "image/texture.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/message_box.h"
#include "platform/options.h"
#include "platform/video.h"
#include "render/gl_extensions.h"
#include "render/scene_renderer.h"
#include "render/super8.h"
#include "render/vertex_memory.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <GL/gl.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

Super8Effect* super8Effect = nullptr;

namespace {

// Lives until the process ends, like every loaded scene.
Scene* viewerScene = nullptr;

void selectViewerCamera(int camera, void* scene) {
    setCamera(*static_cast<Scene*>(scene), camera);
}

void viewerFrame(MainLoop& loop, uint32_t liveClockMs) {
    Scene& scene = *loop.scene;
    const uint32_t clockMs = viewerClock(loop.viewerKeys, liveClockMs);
    loop.lastClockMs = clockMs;
    const float seconds = viewerSceneSeconds(loop.viewerKeys, clockMs, loop.startMs);
    loop.lastSceneSeconds = seconds;
    clearToBackground(scene);
    if (super8Effect) setSuper8Time(super8Effect, seconds);
    renderScene(scene, seconds);
    loop.viewerKeys.cameraCount = scene.cameraCount;
    loop.viewerKeys.currentCamera = scene.currentCamera;
    applyViewerKeys(loop.viewerKeys, keyDown, clockMs, selectViewerCamera, &scene);
}

void demoFrame(MainLoop& loop, uint32_t clockMs) {
    loop.lastClockMs = clockMs;
    if (keyDown['X']) {
        pendingSeekMusicForward();
        keyDown['X'] = 0;
    }
    if (keyDown['Y']) {
        pendingSeekMusicBack();
        keyDown['Y'] = 0;
    }
    pendingRunDemoFrame();
}

} // namespace

// Reads the back buffer before it is presented (afterwards its contents are undefined).
void captureFrame(MainLoop& loop) {
    const int w = setupOptions.width;
    const int h = setupOptions.height;
    if (w <= 0 || h <= 0) return;
    const size_t rowBytes = static_cast<size_t>(w) * 4;
    if (loop.screenshotWidth != w || loop.screenshotHeight != h) {
        loop.screenshot.assign(rowBytes * static_cast<size_t>(h), 0);
        loop.screenshotWidth = w;
        loop.screenshotHeight = h;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, loop.screenshot.data());
    // GL counts rows from the bottom; the file wants them from the top.
    uint8_t* top = loop.screenshot.data();
    uint8_t* bottom = top + rowBytes * static_cast<size_t>(h - 1);
    for (; top < bottom; top += rowBytes, bottom -= rowBytes)
        std::swap_ranges(top, top + rowBytes, bottom);
}

namespace {

// zlib's reader takes plain and gzip-compressed files alike.
gzFile openGz(const char* path) {
    return gzopen(path, "rb");
}

void loadViewerHidetrack(Scene& scene, const char* scenePath) {
    // The path buffer keeps room for both suffixes; a longer path is refused, never cut.
    char name[kScenePathBytes];
    const size_t length = std::strlen(scenePath);
    gzFile file = nullptr;
    if (length <= static_cast<size_t>(kScenePathChars)) {
        std::memcpy(name, scenePath, length);
        std::memcpy(name + length, ".hid", 5);
        file = openGz(name);
        if (!file) {
            std::memcpy(name + length + 4, ".gz", 4);
            file = openGz(name);
        }
    }
    if (!file) {
        consolePrint("Could not load hidetrack!\n");
        return;
    }
    if (loadHidetrack(scene, file))
        consolePrint("Hidetrack loaded.\n");
    else
        consolePrint("  Failed. \n");
    gzclose(file);
}

// The viewer's scene when it opens and loads; null sends the caller to the demo.
Scene* tryViewerScene(const char* scenePath) {
    errno = 0;
    gzFile file = openGz(scenePath);
    if (!file) {
        // zlib leaves errno 0 when it failed for a reason of its own (memory).
        const int reason = errno;
        char detail[kScenePathBytes + 128];
        std::snprintf(detail, sizeof detail, "%s: %s", scenePath,
                      reason != 0 ? std::strerror(reason) : "cannot be read");
        consolePrint("%s\n", scenePath);
        showMessageBox("Could not open!", "Commandline", MessageBoxIcon::none, detail);
        consolePrint("Could not load commandline file. \n");
        return nullptr;
    }
    // The scene's pictures are looked for beside it when the working directory lacks them.
    char folder[kScenePathBytes];
    std::snprintf(folder, sizeof folder, "%s", scenePath);
    char* slash = std::strrchr(folder, '/');
    if (slash) *slash = 0;
    setImageSearchFolder(slash ? (folder[0] ? folder : "/") : nullptr);
    Scene* scene = createScene();
    const bool loaded = scene && loadScene(*scene, file);
    gzclose(file);
    setImageSearchFolder(nullptr);
    if (!loaded) {
        char detail[kScenePathBytes + 128];
        std::snprintf(detail, sizeof detail, "%s: not a scene file this player can read",
                      scenePath);
        showMessageBox("Error loading scene!", "Commandline", MessageBoxIcon::none, detail);
        destroyScene(scene);
        return nullptr;
    }
    setCamera(*scene, 0);
    scene->super8 = super8Effect;
    return scene;
}

// The film effect loads its pictures from "data"; the working directory is restored
// exactly, and only when it was changed.
void createSuper8InDataDirectory() {
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    const bool entered = chdir("data") == 0;
    super8Effect = createSuper8();
    if (entered && (!haveHome || chdir(home) != 0) && chdir("..") != 0)
        consolePrint("Could not return from the data directory.\n");
}

// One window event per hidetrack sample keeps the window answering. The program ends after
// generation in any case, so a quit request has nothing left to stop and is dropped.
void takeOneWindowEvent() {
    PlatformEvent event;
    if (pollPlatformEvent(event) && event.kind != PlatformEventKind::quit) handleWindowEvent(event);
}

// What start-up has brought up so far; the one teardown gives back exactly that.
struct StartedParts {
    bool video = false;
    bool window = false; // with its vertex memory (safe to release when none was allocated)
};

void tearDown(const StartedParts& started) {
    if (started.window) {
        releaseVertexMemory();
        destroyGLWindow();
    }
    if (started.video) stopVideo();
}

// Start-up, the run and its results; the caller tears down what was started. Returns the
// process exit status: 0 for a normal end or a cancelled dialog, 1 for any failure.
int runStartedPlayer(const CommandLine& line, StartedParts& started) {
    if (line.fixedStepMicroseconds > 0) useFixedStepClock(line.fixedStepMicroseconds);
    if (!startVideo(line.headless)) return 1;
    started.video = true;
    // Boxes wait for a click only when someone is there to click.
    setMessageBoxesInteractive(!line.noDialog && !line.headless);

    if (!line.noDialog) {
        // The options preset the dialog; what the user leaves or changes there stands.
        if (!showSetupDialog(line)) return 0;
    } else {
        SetupDialogControls defaults;
        initSetupDialog(defaults);
        readSetupDialog(defaults, setupOptions);
        applyCommandLine(line, setupOptions);
    }
    // --console keeps the console on in full screen, unless the dialog turned it off.
    if (setupOptions.fullscreen && !line.console) setupOptions.consoleEnabled = false;

    if (!createGLWindow(setupOptions.width, setupOptions.height, 32, setupOptions.fullscreen)) {
        std::fprintf(stderr, "quilm: could not open the OpenGL window: %s\n", platformError());
        return 1;
    }
    started.window = true;
    if (setupOptions.useExtensions) {
        consolePrint("Loading OpenGL Extensions...\n");
        loadGLExtensions();
    }
    if (!allocVertexMemory(kVertexMemoryCapacity)) {
        // Only when even the heap refuses 4.8 MB; nothing could be drawn.
        std::fprintf(stderr, "quilm: no memory for the vertex buffer\n");
        return 1;
    }
    createSuper8InDataDirectory();

    MainLoop loop;
    loop.frameLimit = line.frames;
    loop.screenshotPath = line.screenshotPath;
    if (line.scenePath[0] != '\0') viewerScene = tryViewerScene(line.scenePath);
    loop.scene = viewerScene;
    loop.viewer = loop.scene != nullptr;

    if (loop.viewer) {
        if (setupOptions.makeHidetrack) {
            HidetrackWindow window;
            window.takeEvent = takeOneWindowEvent;
            window.present = presentGLWindow;
            if (generateHidetrack(*loop.scene, line.scenePath, window)) return 0;
            // The console may be off: a track that was not written must not look like success.
            std::fprintf(stderr, "quilm: could not write the hidetrack for %s\n", line.scenePath);
            return 1;
        }
        loadViewerHidetrack(*loop.scene, line.scenePath);
    } else if (!pendingLoadDemoData()) {
        consolePrint("Init error. Fatal. Exiting.\n");
        showMessageBox("Fatal init error!", "Error", MessageBoxIcon::information);
        return 1;
    }

    static FrameTimes frameTimes; // sized once, a quarter megabyte: not on the stack
    if (line.profile) {
        startFrameTimes(frameTimes, frameClockSeconds());
        loop.frameTimes = &frameTimes;
    }
    loop.startMs = timeGetTime();
    runMainLoop(loop);

    const bool screenshotWritten = !loop.screenshotPath || writeScreenshot(loop);
    if (line.profile) {
        setupOptions.consoleEnabled = true;
        profReportAll();
        char summary[256];
        formatFrameSummary(frameTimes, summary, sizeof summary);
        consolePrint("%s", summary);
    }
    if (!screenshotWritten) {
        std::fprintf(stderr, "quilm: could not write the screenshot %s\n", loop.screenshotPath);
        return 1;
    }
    return 0;
}

} // namespace

void runMainLoop(MainLoop& loop) {
    bool quit = false;
    while (!quit) {
        PlatformEvent event;
        if (pollPlatformEvent(event)) {
            ++loop.eventsTaken;
            if (event.kind == PlatformEventKind::quit)
                quit = true;
            else
                handleWindowEvent(event);
        } else {
            const uint32_t clockMs = timeGetTime();
            profStart("00main");
            // Presses that came and went since the last frame still count once.
            latchKeyPresses();
            if (loop.viewer)
                viewerFrame(loop, clockMs);
            else
                demoFrame(loop, clockMs);
            releaseKeyPresses();
            ++loop.framesDrawn;
            const bool last = loop.frameLimit > 0 && loop.framesDrawn >= loop.frameLimit;
            // Without a frame limit any frame may be the last, so each one is kept.
            if (loop.screenshotPath && (last || loop.frameLimit == 0)) captureFrame(loop);
            profStart("12Swapping");
            glFinish();
            presentGLWindow();
            if (loop.frameTimes) recordFrameTime(*loop.frameTimes, frameClockSeconds());
            profStop("12Swapping");
            profStop("00main");
            advanceFixedStepClock();
            if (last) quit = true;
        }
        if (keyDown[kVkEscape]) quit = true;
    }
}

bool writeScreenshot(const MainLoop& loop) {
    if (loop.screenshot.empty()) {
        consolePrint("No frame was drawn, so there is no screenshot for %s.\n",
                     loop.screenshotPath);
        return false;
    }
    return writePngRgba(loop.screenshotPath, loop.screenshotWidth, loop.screenshotHeight,
                        loop.screenshot.data());
}

int runPlayer(const CommandLine& line) {
    StartedParts started;
    const int status = runStartedPlayer(line, started);
    tearDown(started);
    return status;
}
