#include "app/player.h"

#include "app/gl_window.h"
#include "app/pending.h"
#include "app/setup_dialog.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "image/png_writer.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/message_box.h"
#include "platform/options.h"

#include <GL/gl.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void selectViewerCamera(int camera, void*) {
    pendingSetViewerCamera(camera);
}

void viewerFrame(MainLoop& loop, uint32_t liveClockMs) {
    const uint32_t clockMs = viewerClock(loop.viewerKeys, liveClockMs);
    loop.lastClockMs = clockMs;
    loop.lastSceneSeconds = viewerSceneSeconds(loop.viewerKeys, clockMs, loop.startMs);
    pendingRunViewerFrame(loop.lastSceneSeconds);
    loop.viewerKeys.cameraCount = pendingViewerCameraCount();
    applyViewerKeys(loop.viewerKeys, keyDown, clockMs, selectViewerCamera, nullptr);
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

void loadViewerHidetrack(const char* scenePath) {
    char name[kScenePathBytes];
    // The parser guarantees room for both suffixes.
    std::snprintf(name, sizeof name, "%s.hid", scenePath);
    gzFile file = openGz(name);
    if (!file) {
        std::snprintf(name, sizeof name, "%s.hid.gz", scenePath);
        file = openGz(name);
    }
    if (!file) {
        consolePrint("Could not load hidetrack!\n");
        return;
    }
    if (pendingLoadHidetrack(file))
        consolePrint("Hidetrack loaded.\n");
    else
        consolePrint("  Failed. \n");
    gzclose(file);
}

// Viewer mode when the scene opens and loads; otherwise the caller falls back to the demo.
bool tryViewerScene(const char* scenePath) {
    gzFile file = openGz(scenePath);
    if (!file) {
        consolePrint("%s\n", scenePath);
        showMessageBox("Could not open!", "Commandline");
        consolePrint("Could not load commandline file. \n");
        return false;
    }
    const bool loaded = pendingLoadViewerScene(file);
    gzclose(file);
    if (!loaded) {
        showMessageBox("Error loading scene!", "Commandline");
        pendingDestroyViewerScene();
        return false;
    }
    pendingSetViewerCamera(0);
    return true;
}

// The film effect loads its pictures from "data"; the working directory is restored
// exactly, and only when it was changed.
void createSuper8InDataDirectory() {
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    const bool entered = chdir("data") == 0;
    pendingCreateSuper8();
    if (entered && (!haveHome || chdir(home) != 0) && chdir("..") != 0)
        consolePrint("Could not return from the data directory.\n");
}

void shutDown() {
    pendingReleaseVertexMemory();
    destroyGLWindow();
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
            if (loop.viewer)
                viewerFrame(loop, clockMs);
            else
                demoFrame(loop, clockMs);
            ++loop.framesDrawn;
            const bool last = loop.frameLimit > 0 && loop.framesDrawn >= loop.frameLimit;
            // Without a frame limit any frame may be the last, so each one is kept.
            if (loop.screenshotPath && (last || loop.frameLimit == 0)) captureFrame(loop);
            profStart("12Swapping");
            glFinish();
            presentGLWindow();
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
    if (line.fixedStepMicroseconds > 0) useFixedStepClock(line.fixedStepMicroseconds);
    if (!startVideo(line.headless)) return 1;
    // Boxes wait for a click only when someone is there to click.
    setMessageBoxesInteractive(!line.noDialog && !line.headless);

    if (!line.noDialog) {
        if (!showSetupDialog()) {
            stopVideo();
            return 0;
        }
    } else {
        SetupDialogControls defaults;
        initSetupDialog(defaults);
        readSetupDialog(defaults, setupOptions);
    }
    applyCommandLine(line, setupOptions);
    if (setupOptions.fullscreen) setupOptions.consoleEnabled = false;
    if (line.console) setupOptions.consoleEnabled = true;

    if (!createGLWindow(setupOptions.width, setupOptions.height, 32, setupOptions.fullscreen)) {
        std::fprintf(stderr, "quilm: could not open the OpenGL window: %s\n", SDL_GetError());
        stopVideo();
        return -2;
    }
    if (setupOptions.useExtensions) {
        consolePrint("Loading OpenGL Extensions...\n");
        pendingLoadExtensions();
    }
    pendingAllocVertexMemory(kVertexCapacity);
    createSuper8InDataDirectory();

    MainLoop loop;
    loop.frameLimit = line.frames;
    loop.screenshotPath = line.screenshotPath;
    if (line.scenePath[0] != '\0') loop.viewer = tryViewerScene(line.scenePath);

    if (loop.viewer) {
        if (setupOptions.makeHidetrack) {
            pendingGenerateHidetrack(line.scenePath);
            shutDown();
            stopVideo();
            return 0;
        }
        loadViewerHidetrack(line.scenePath);
    } else if (!pendingLoadDemoData()) {
        consolePrint("Init error. Fatal. Exiting.\n");
        showMessageBox("Fatal init error!", "Error", MessageBoxIcon::information);
        shutDown();
        stopVideo();
        return 0;
    }

    loop.startMs = timeGetTime();
    runMainLoop(loop);

    bool screenshotWritten = true;
    if (loop.screenshotPath) screenshotWritten = writeScreenshot(loop);
    shutDown();
    if (line.profile) {
        setupOptions.consoleEnabled = true;
        profReportAll();
    }
    stopVideo();
    if (!screenshotWritten) {
        std::fprintf(stderr, "quilm: could not write the screenshot %s\n", loop.screenshotPath);
        return 1;
    }
    return 0;
}
