// The player's spine: start-up in its fixed order (dialog, window, extensions, vertex memory,
// film effect, mode decision), the frame loop, and the shutdown. The loop is a record of its
// own so tests and the benchmark can run it on a window they made.
#pragma once

#include "app/options_parse.h"
#include "app/viewer_keys.h"

#include <cstdint>
#include <vector>

struct CaptureSink;
struct DemoWatch;
struct FrameTimes;
struct Scene;
struct Super8Effect;

struct MainLoop {
    bool viewer = false;    // a command-line scene is loaded
    Scene* scene = nullptr; // the viewer's scene: never null in viewer mode
    ViewerKeyState viewerKeys;
    uint32_t startMs = 0; // taken immediately before the loop starts
    int frameLimit = 0;   // 0: until Escape or close
    const char* screenshotPath = nullptr;
    bool exitAtEnd = false;           // demo mode: quit once the script says the demo is over
    FrameTimes* frameTimes = nullptr; // --profile: every presented frame is timed into it
    CaptureSink* capture = nullptr;   // --capture: every frame and its sound go into it
    bool captureOverlay = false;      // the F1 and F2 overlays are part of the captured picture
    bool infoShown = false;           // F1
    bool timelineShown = false;       // F2, demo mode only
    int nextScreenshotNumber = 1;     // F12: the first number to try
    char notice[48] = {};             // F12's on-screen word; empty when none is shown
    uint32_t noticeSinceMs = 0;       // the clock when the notice was set
    bool captureFailed = false;
    DemoWatch* demoWatch = nullptr; // the demo's files as loaded: F5 reloads what changed
    bool watchFiles = false;        // --watch: reload by itself when a file changes
    bool loopOrders = false;        // --loop: orders loopFirst to loopLast repeat
    int loopFirst = 0;
    int loopLast = 0;
    double captureStartSeconds = 0.0;
    double captureReportSeconds = 0.0;
    // Filled by the loop.
    int framesDrawn = 0;
    int eventsTaken = 0;
    uint32_t lastClockMs = 0;
    float lastSceneSeconds = 0.0f;
    bool demoOver = false;
    bool interrupted = false; // ended by the close box, a signal or Escape, not by its own end
    int idleWaits = 0;        // frames after the demo's end that waited instead of spinning
    int screenshotWidth = 0;
    int screenshotHeight = 0;
    std::vector<uint8_t> screenshot; // RGBA rows top-down; sized on the first captured frame
};

// The one film effect, created at start-up (null when it could not be allocated).
extern Super8Effect* super8Effect;

// Runs until Escape, the close box or the frame limit. Needs the GL window.
void runMainLoop(MainLoop& loop);

// Copies the back buffer (before it is presented) into loop.screenshot, rows top-down.
void captureFrame(MainLoop& loop);

// Writes the captured frame; false (with a console line) when there is none or writing failed.
bool writeScreenshot(const MainLoop& loop);

// F12: writes the captured frame as "quilm-NNNN.png", the next free number from
// loop.nextScreenshotNumber on, in the working directory, and logs the name.
bool writeNumberedScreenshot(MainLoop& loop);

// Frames of one loop of the viewer scene's time range at fps (at least 1).
int viewerCaptureFrames(const Scene& scene, int fps);

// Everything after the command line was parsed; returns the process exit status.
int runPlayer(const CommandLine& line);
