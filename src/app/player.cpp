#include "app/player.h"

#include "app/capture.h"
#include "app/demo_reload.h"
#include "app/frame_stats.h"
#include "app/gl_window.h"
#include "app/info_panel.h"
#include "app/setup_dialog.h"
#include "app/timeline_panel.h"
#include "demo/demo_loading.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "hidetrack/hidetrack_file.h"
#include "hidetrack/hidetrack_generate.h"
#include "image/png_writer.h"
#include "image/texture.h"
#include "platform/clock.h"
#include "platform/info_overlay.h"
#include "platform/keys.h"
#include "platform/message_box.h"
#include "platform/music.h"
#include "platform/options.h"
#include "platform/paths.h"
#include "platform/timeline_overlay.h"
#include "platform/video.h"
#include "render/gl_extensions.h"
#include "render/scene_renderer.h"
#include "render/super8.h"
#include "render/vertex_memory.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <GL/gl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
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
    loop.viewerKeys.startMs = loop.startMs;
    loop.viewerKeys.timeStartSeconds = scene.timeStart;
    loop.viewerKeys.cameraCount = scene.cameraCount;
    loop.viewerKeys.currentCamera = scene.currentCamera;
    applyViewerKeys(loop.viewerKeys, keyDown, clockMs, selectViewerCamera, &scene);
}

void demoFrame(MainLoop& loop, uint32_t clockMs) {
    loop.lastClockMs = clockMs;
    if (keyDown['X']) {
        seekMusicForward();
        keyDown['X'] = 0;
    }
    if (keyDown['Y']) {
        seekMusicBack();
        keyDown['Y'] = 0;
    }
    // A reload keeps the music going: the frame after it plays on from the same position.
    const bool reload = keyDown[kVkF5] != 0 || (loop.watchFiles && loop.demoWatch &&
                                                demoChangedOnDisk(*loop.demoWatch, timeGetTime()));
    keyDown[kVkF5] = 0;
    if (reload && loop.demoWatch) {
        reloadPlayingDemo(*loop.demoWatch, loop.notice, sizeof loop.notice);
        loop.noticeSinceMs = timeGetTime();
    }
    // The script counts row 63 of order 32 as over although its last cues still draw there;
    // a run that ends at the demo's end keeps those frames and stops at the first one after.
    const bool running = runDemoFrame();
    loop.demoOver = !running && cuePosition() != demoData.manifest->endFirst;
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

// The sound frame k covers: the module's in lock-step, else silence of the same length.
void fillCaptureAudio(CaptureSink& sink) {
    const int samples = captureFrameSamples(sink.frames, sink.fps);
    int filled = 0;
    if (musicOutput() == MusicOutput::LockStep && musicLoaded())
        filled = renderMusic(sink.audio, samples);
    else
        std::memset(sink.audio, 0, sizeof(int16_t) * 2 * size_t(samples));
    (void)filled; // after the module's end renderMusic writes silence itself
}

// One line on standard error, rewritten in place, a few times a second.
void reportCaptureProgress(MainLoop& loop, bool final) {
    const double now = frameClockSeconds();
    if (!final && now - loop.captureReportSeconds < 0.5) return;
    loop.captureReportSeconds = now;
    const CaptureSink& sink = *loop.capture;
    const double spent = now - loop.captureStartSeconds;
    const double fps = spent > 0.0 ? double(sink.frames) / spent : 0.0;
    char where[64];
    if (loop.viewer)
        std::snprintf(where, sizeof where, "scene %.2f s", double(loop.lastSceneSeconds));
    else
        std::snprintf(where, sizeof where, "order %d row %d", int(musicOrder()), int(musicRow()));
    char left[32] = "";
    if (loop.frameLimit > 0 && fps > 0.0)
        std::snprintf(left, sizeof left, ", %.0f s left",
                      double(loop.frameLimit - sink.frames) / fps);
    char total[24] = "";
    if (loop.frameLimit > 0) std::snprintf(total, sizeof total, "/%d", loop.frameLimit);
    std::fprintf(stderr, "\rcapture: frame %lld%s, %s, %.1f frames/s%s   ",
                 static_cast<long long>(sink.frames), total, where, fps, left);
    if (final) std::fputc('\n', stderr);
}

// The frame in the loop's picture buffer and its sound go to the capture.
bool captureLoopFrame(MainLoop& loop) {
    CaptureSink& sink = *loop.capture;
    if (loop.screenshotWidth != sink.width || loop.screenshotHeight != sink.height) {
        std::fprintf(stderr, "quilm: capture: the window changed size to %dx%d\n",
                     loop.screenshotWidth, loop.screenshotHeight);
        return false;
    }
    fillCaptureAudio(sink);
    if (!writeCaptureFrame(sink, loop.screenshot.data())) return false;
    reportCaptureProgress(loop, false);
    return true;
}

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
        const int reason = errno != 0 ? openErrorCode(scenePath, errno) : 0;
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
    char* slash = const_cast<char*>(lastPathSeparator(folder));
    // A root ("/" or "C:\\") keeps its separator.
    if (slash) slash[slash == folder || slash[-1] == ':' ? 1 : 0] = 0;
    setImageSearchFolder(slash ? folder : nullptr);
    Scene* scene = createScene();
    beginTextureBatch(); // pictures compress on a worker while the scene reads on
    const bool loaded = scene && loadScene(*scene, file);
    endTextureBatch();
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

// The film effect loads its pictures from the data folder (from the working directory when
// there is none); the working directory is restored exactly, and only when it was changed.
// Pictures it could not find are named in one line, since the effect only shows less.
void createSuper8InDataDirectory(const char* dataDirectory) {
    char home[PATH_MAX];
    const bool haveHome = getcwd(home, sizeof home) != nullptr;
    const bool entered = dataDirectory && chdir(dataDirectory) == 0;
    super8Effect = createSuper8();
    if (entered && (!haveHome || chdir(home) != 0) && chdir("..") != 0)
        consolePrint("Could not return from the data directory.\n");
    if (!super8Effect) return;
    const struct {
        const Texture* texture;
        const char* name;
    } pictures[] = {{super8Effect->dirtTexture, "s8_drek.png"},
                    {super8Effect->borderTexture, "s8_border.png"},
                    {super8Effect->signTexture, "s8_sign.png"},
                    {super8Effect->lampTexture, "s8_lamp.jpg"}};
    char missing[96] = "";
    for (const auto& picture : pictures) {
        if (picture.texture) continue;
        const size_t used = std::strlen(missing);
        std::snprintf(missing + used, sizeof missing - used, "%s%s", used ? ", " : "",
                      picture.name);
    }
    if (missing[0] != '\0')
        consolePrint("Film effect: %s could not be loaded from %s\n", missing,
                     entered ? dataDirectory : "the working directory");
}

// The music's orders and rows, read before the demo loads for seconds. False when the module
// does not load (the load proper says why).
bool readMusicShape(const char* dataDirectory, const char* musicFile, MusicShape& shape) {
    char path[kDemoPathBytes + kDemoFileBytes + 2];
    std::snprintf(path, sizeof path, "%s%c%s", dataDirectory, kPathSeparator, musicFile);
    if (!loadMusicFile(path)) return false;
    shape.orders = std::min(musicOrderCount(), 256);
    for (int order = 0; order < shape.orders; ++order)
        shape.rows[order] = musicPatternRowsAt(order);
    releaseMusic();
    return true;
}

// A start or loop the module does not have is the caller's mistake, said in one line.
bool musicHasPositions(const CommandLine& line, const MusicShape& shape, const char* music) {
    const int orders = shape.orders;
    if (line.startOrder >= orders) {
        std::fprintf(stderr, "quilm: --start %d:%d: the music %s has orders 0 to %d\n",
                     line.startOrder, line.startRow, music, orders - 1);
        return false;
    }
    const int rows = shape.rows[line.startOrder];
    if (line.startRow >= rows) {
        if (rows == 0)
            std::fprintf(stderr, "quilm: --start %d:%d: order %d of the music %s has no rows\n",
                         line.startOrder, line.startRow, line.startOrder, music);
        else
            std::fprintf(stderr,
                         "quilm: --start %d:%d: order %d of the music %s has rows 0 to %d\n",
                         line.startOrder, line.startRow, line.startOrder, music, rows - 1);
        return false;
    }
    if (line.loopGiven && line.loopLast >= orders) {
        std::fprintf(stderr, "quilm: --loop %d:%d: the music %s has orders 0 to %d\n",
                     line.loopFirst, line.loopLast, music, orders - 1);
        return false;
    }
    return true;
}

// The demo to play: --demo's manifest, else the data folder's demo.toml, else the built-in
// demo (null). A manifest with errors is not played: its lines go to standard error.
bool chooseDemoManifest(const CommandLine& line, const char* dataDirectory,
                        const DemoManifest*& chosen, const char*& chosenPath) {
    static DemoManifest manifest; // large: not on the stack
    static char path[kDemoPathBytes + 16];
    chosen = nullptr;
    chosenPath = nullptr;
    if (line.demoManifest) {
        std::snprintf(path, sizeof path, "%s", line.demoManifest);
    } else {
        std::snprintf(path, sizeof path, "%s%c%s", dataDirectory, kPathSeparator,
                      kDemoManifestFile);
        struct stat info;
        if (stat(path, &info) != 0) return true;
    }
    static char text[8192];
    text[0] = '\0';
    ManifestErrors errors{text, int(sizeof text)};
    bool ok = readDemoManifest(path, manifest, errors);
    MusicShape shape;
    if (ok && readMusicShape(dataDirectory, manifest.music, shape))
        ok = checkManifestPositions(manifest, shape, path, errors);
    if (!ok) {
        std::fputs(text, stderr);
        if (errors.count > 0 && text[0] == '\0')
            std::fprintf(stderr, "%s: %d errors\n", path, errors.count);
        consolePrint("Demo manifest %s has errors.\n", path);
        return false;
    }
    consolePrint("Demo manifest: %s\n", path);
    chosen = &manifest;
    chosenPath = path;
    return true;
}

// One window event per hidetrack sample keeps the window answering. The program ends after
// generation in any case, so a quit request has nothing left to stop and is dropped.
void takeOneWindowEvent() {
    PlatformEvent event;
    if (pollPlatformEvent(event) && event.kind != PlatformEventKind::quit) handleWindowEvent(event);
}

// What start-up has brought up so far; the one teardown gives back exactly that.
struct StartedParts {
    bool window = false; // with its vertex memory (safe to release when none was allocated)
};

void tearDown(const StartedParts& started) {
    if (started.window) {
        // Textures and scenes belong to this context: a later one (tests run several players
        // in one process) must not find them cached.
        releaseDemoData();
        releaseInfoOverlay();
        releaseTimelineOverlay();
        releaseVertexMemory();
        destroyGLWindow();
    }
    stopVideo(); // also after a failed start: SDL_Init may have set up part of SDL
}

// Start-up, the run and its results; the caller tears down what was started. Returns the
// process exit status: 0 for a normal end or a cancelled dialog, 1 for any failure.
int runStartedPlayer(const CommandLine& line, StartedParts& started) {
    if (line.fixedStepMicroseconds > 0) useFixedStepClock(line.fixedStepMicroseconds);
    // A capture draws frame k at exactly k / fps seconds and takes the music in lock-step.
    if (line.capturePath) {
        useFixedRateClock(line.captureFps);
        useMusicLockStepRenderedByCaller();
    }
    if (!startVideo(line.headless)) return 1;
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
    chooseTextureCompression(line.forceDxt);
    if (!allocVertexMemory(kVertexMemoryCapacity)) {
        // Only when even the heap refuses 4.8 MB; nothing could be drawn.
        std::fprintf(stderr, "quilm: no memory for the vertex buffer\n");
        return 1;
    }
    // Demo data: --data, else "data" here, else "data" beside the program. The viewer keeps
    // to "data" here for its film pictures, unless --data names a folder.
    char exePath[PATH_MAX];
    programPath(exePath, sizeof exePath);
    char dataDirectory[kDemoPathBytes] = "data";
    char tried[2 * kDemoPathBytes] = {};
    // --demo's manifest names its folder as the data folder ("." for a bare file name).
    char manifestFolder[kDemoPathBytes] = "";
    if (line.demoManifest) {
        const char* separator = lastPathSeparator(line.demoManifest);
        if (!separator)
            std::snprintf(manifestFolder, sizeof manifestFolder, ".");
        else
            std::snprintf(manifestFolder, sizeof manifestFolder, "%.*s",
                          std::max(1, int(separator - line.demoManifest)), line.demoManifest);
    }
    const char* requestedData = line.demoManifest ? manifestFolder : line.dataDirectory;
    const bool dataFound = findDemoDataDirectory(requestedData, exePath, dataDirectory,
                                                 sizeof dataDirectory, tried, sizeof tried);
    const bool viewerAsked = line.scenePath[0] != '\0';
    createSuper8InDataDirectory(dataFound ? dataDirectory : nullptr);

    MainLoop loop;
    loop.frameLimit = line.frames;
    loop.captureOverlay = line.captureOverlay;
    loop.infoShown = line.captureOverlay; // asked for in the capture: shown from the start
    loop.screenshotPath = line.screenshotPath;
    if (line.scenePath[0] != '\0') viewerScene = tryViewerScene(line.scenePath);
    loop.scene = viewerScene;
    loop.viewer = loop.scene != nullptr;
    // Someone at the dialog gets the demo instead of a scene that failed; a script (no dialog,
    // a frame count, a capture, a hidetrack to make) must learn that it did not get the scene.
    const bool attended = !line.noDialog && line.frames == 0 && !setupOptions.makeHidetrack;
    if (viewerAsked && !loop.viewer && !attended) return 1;

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
    } else {
        if (line.fixedStepMicroseconds > 0) useMusicLockStep(line.fixedStepMicroseconds);
        DemoLoadRequest request;
        request.dataDirectory = dataDirectory;
        request.super8 = super8Effect;
        request.present = presentGLWindow;
        // A loop starts at its first order unless asked to start inside it.
        const bool startInLoop =
            line.startOrder >= line.loopFirst && line.startOrder <= line.loopLast;
        request.startOrder = line.loopGiven && !startInLoop ? line.loopFirst : line.startOrder;
        request.startRow = line.loopGiven && !startInLoop ? 0 : line.startRow;
        if (!dataFound)
            std::fprintf(stderr,
                         "quilm: no demo data in %s; make it with 'quilm-tool make-data DIR' "
                         "and play it with --data DIR\n",
                         tried);
        const char* manifestPath = nullptr;
        if (dataFound && !chooseDemoManifest(line, dataDirectory, request.manifest, manifestPath))
            return 1;
        const char* music = request.manifest ? request.manifest->music : kDemoMusicFile;
        if (dataFound && (line.startOrder != 0 || line.startRow != 0 || line.loopGiven)) {
            MusicShape shape;
            if (readMusicShape(dataDirectory, music, shape) &&
                !musicHasPositions(line, shape, music))
                return 1;
        }
        if (!dataFound || !loadDemoData(request)) {
            consolePrint("Init error. Fatal. Exiting.\n");
            showMessageBox("Fatal init error!", "Error", MessageBoxIcon::information);
            return 1;
        }
        // F5 reloads what changed; --watch looks for changes by itself.
        static DemoWatch watch;
        watchDemo(watch, manifestPath);
        loop.demoWatch = &watch;
        loop.watchFiles = line.watch;
        // A capture of the demo ends with the demo.
        loop.exitAtEnd = line.exitAtEnd || line.capturePath != nullptr;
        if (line.loopGiven) {
            if (line.loopLast >= musicOrderCount()) {
                std::fprintf(stderr, "quilm: --loop %d:%d: the music %s has orders 0 to %d\n",
                             line.loopFirst, line.loopLast, music, musicOrderCount() - 1);
                return 1;
            }
            loop.loopOrders = true;
            loop.loopFirst = line.loopFirst;
            loop.loopLast = line.loopLast;
            setMusicLoop(line.loopFirst, line.loopLast);
        }
    }

    static FrameTimes frameTimes; // sized once, a quarter megabyte: not on the stack
    if (line.profile) {
        startFrameTimes(frameTimes, frameClockSeconds());
        loop.frameTimes = &frameTimes;
    }
    static CaptureSink capture; // holds a second of sound: not on the stack
    if (line.capturePath) {
        if (loop.viewer && loop.frameLimit == 0)
            loop.frameLimit = viewerCaptureFrames(*loop.scene, line.captureFps);
        if (!openCapture(capture, line.capturePath, setupOptions.width, setupOptions.height,
                         line.captureFps, line.overwrite))
            return 1;
        loop.capture = &capture;
        loop.captureStartSeconds = frameClockSeconds();
    }
    loop.startMs = timeGetTime();
    runMainLoop(loop);
    if (loop.capture) {
        reportCaptureProgress(loop, true);
        const bool complete = finishCapture(capture, !loop.captureFailed);
        loop.capture = nullptr;
        if (!complete) {
            std::fprintf(stderr, "quilm: the capture to %s is incomplete\n", line.capturePath);
            return 1;
        }
        // Stopped from outside (a signal, the close box, Escape): what was written is kept and
        // sound, but it is not the capture that was asked for.
        if (loop.interrupted) {
            std::fprintf(stderr,
                         "quilm: the capture was interrupted after %lld frames; %s is "
                         "incomplete\n",
                         static_cast<long long>(capture.frames), line.capturePath);
            return 1;
        }
        std::fprintf(stderr, "quilm: captured %lld frames to %s\n",
                     static_cast<long long>(capture.frames), line.capturePath);
    }

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
                quit = loop.interrupted = true;
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
            const bool toggleInfo = keyDown[kVkF1] != 0;
            // The viewer has no music or cues to lay out, so F2 means nothing there.
            const bool toggleTimeline = keyDown[kVkF2] != 0 && !loop.viewer;
            const bool screenshotKey = keyDown[kVkF12] != 0;
            keyDown[kVkF1] = 0;
            keyDown[kVkF2] = 0;
            keyDown[kVkF12] = 0;
            releaseKeyPresses();
            if (toggleInfo) loop.infoShown = !loop.infoShown;
            if (toggleTimeline) {
                loop.timelineShown = !loop.timelineShown;
                if (!loop.timelineShown) hideTimelineOverlay();
                // Full screen hides the pointer; the timeline is worked with it.
                if (glWindow.fullscreen) showMouseCursor(loop.timelineShown);
            }
            ++loop.framesDrawn;
            const bool last = loop.frameLimit > 0 && loop.framesDrawn >= loop.frameLimit;
            // The overlay lies over the finished frame; in the captured picture only on request.
            bool overlayDrawn = false;
            if (loop.infoShown) noteInfoFrame(frameClockSeconds());
            if (loop.capture && loop.captureOverlay) {
                if (loop.infoShown) drawInfoPanel(loop, setupOptions.width, setupOptions.height);
                if (loop.timelineShown)
                    drawTimelinePanel(loop, setupOptions.width, setupOptions.height);
                overlayDrawn = true;
            }
            bool read = false;
            if (loop.capture) {
                captureFrame(loop);
                read = true;
                if (!captureLoopFrame(loop)) {
                    loop.captureFailed = true;
                    quit = true;
                }
            }
            if (screenshotKey) {
                if (!read) captureFrame(loop);
                read = true;
                writeNumberedScreenshot(loop);
            }
            // Without a frame limit any frame may be the last, so each one is kept.
            if (loop.screenshotPath && (last || loop.frameLimit == 0) && !read) captureFrame(loop);
            if (loop.infoShown && !overlayDrawn)
                drawInfoPanel(loop, setupOptions.width, setupOptions.height);
            if (loop.timelineShown && !overlayDrawn)
                drawTimelinePanel(loop, setupOptions.width, setupOptions.height);
            // After every read: the notice is for the person watching, never in a picture.
            if (loop.notice[0] != '\0' && timeGetTime() - loop.noticeSinceMs < kScreenNoticeMs)
                drawScreenNotice(loop.notice, setupOptions.width, setupOptions.height);
            profStart("12Swapping");
            glFinish();
            presentGLWindow();
            if (loop.frameTimes) recordFrameTime(*loop.frameTimes, frameClockSeconds());
            profStop("12Swapping");
            profStop("00main");
            advanceFixedStepClock();
            if (last || (loop.exitAtEnd && loop.demoOver)) quit = true;
            // The demo's end stays on screen; redrawing it faster than the display shows
            // frames would only burn a core, so the loop waits for an event or the next one.
            if (!quit && loop.demoOver) {
                ++loop.idleWaits;
                waitForPlatformEvent(displayFrameMilliseconds());
            }
        }
        if (keyDown[kVkEscape]) quit = loop.interrupted = true;
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

bool writeNumberedScreenshot(MainLoop& loop) {
    char name[32];
    for (int number = loop.nextScreenshotNumber; number <= 9999; ++number) {
        std::snprintf(name, sizeof name, "quilm-%04d.png", number);
        if (access(name, F_OK) == 0) continue;
        loop.nextScreenshotNumber = number + 1;
        // The console is off by default: the frame itself says what happened.
        loop.noticeSinceMs = timeGetTime();
        if (!writePngRgba(name, loop.screenshotWidth, loop.screenshotHeight,
                          loop.screenshot.data())) {
            std::snprintf(loop.notice, sizeof loop.notice, "could not save %s", name);
            return false;
        }
        consolePrint("Screenshot written: %s \n", name);
        std::snprintf(loop.notice, sizeof loop.notice, "saved %s", name);
        return true;
    }
    consolePrint("No free screenshot name: quilm-0001.png to quilm-9999.png all exist \n");
    loop.noticeSinceMs = timeGetTime();
    std::snprintf(loop.notice, sizeof loop.notice, "no free screenshot name");
    return false;
}

int viewerCaptureFrames(const Scene& scene, int fps) {
    const double frames = std::ceil(double(scene.timeEnd) * double(fps));
    if (frames < 1.0) return 1;
    return frames > 2147483647.0 ? 2147483647 : int(frames);
}

int runPlayer(const CommandLine& line) {
    StartedParts started;
    const int status = runStartedPlayer(line, started);
    tearDown(started);
    return status;
}
