#include "app/info_panel.h"

#include "app/player.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "diag/prof.h"
#include "diag/timestamp.h"
#include "platform/info_overlay.h"
#include "scene/scene.h"

namespace {

// The counters of the last whole second: what each slot gained in it.
struct InfoSecond {
    bool started = false;
    double startSeconds = 0.0;
    uint64_t startStamp = 0;
    int frames = 0;
    float fps = 0.0f;
    double ticksPerMs = 0.0;
    uint64_t accumulatedAtStart[kProfSlots] = {};
    int32_t countAtStart[kProfSlots] = {};
    uint64_t accumulated[kProfSlots] = {}; // in the last second
    int32_t count[kProfSlots] = {};
};

InfoSecond info;

void startSecond(double now) {
    info.startSeconds = now;
    info.startStamp = readTimeStamp();
    info.frames = 0;
    for (int slot = 0; slot < kProfSlots; ++slot) {
        const ProfCounter& c = profCounter(slot);
        info.accumulatedAtStart[slot] = c.accumulated;
        info.countAtStart[slot] = c.count;
    }
}

const char* const kViewerKeys[] = {
    "1-9 camera   X/Y next/previous camera",
    "A/S slower/faster   Space pause",
    "Left/Right step a frame (paused)   Home start",
    "F1 this panel   F12 screenshot   Esc quit",
};
const char* const kDemoKeys[] = {
    "X/Y music forward/back one order",
    "F1 this panel   F12 screenshot   Esc quit",
};

} // namespace

void noteInfoFrame(double now) {
    if (!info.started) {
        info.started = true;
        startSecond(now);
    }
    ++info.frames;
    const double elapsed = now - info.startSeconds;
    if (elapsed < 1.0) return;
    info.fps = float(info.frames / elapsed);
    const uint64_t stamp = readTimeStamp();
    info.ticksPerMs = double(stamp - info.startStamp) / (elapsed * 1000.0);
    for (int slot = 0; slot < kProfSlots; ++slot) {
        const ProfCounter& c = profCounter(slot);
        info.accumulated[slot] = c.accumulated - info.accumulatedAtStart[slot];
        info.count[slot] = c.count - info.countAtStart[slot];
    }
    startSecond(now);
}

void drawInfoPanel(const MainLoop& loop, int width, int height) {
    if (!beginInfoOverlay(width, height, 1.0f / 60.0f)) return;
    infoOverlayHeading(loop.viewer ? "Viewer" : "Demo");
    infoOverlayLine("%.1f frames per second", double(info.fps));
    if (loop.viewer && loop.scene) {
        const Scene& scene = *loop.scene;
        const ViewerKeyState& keys = loop.viewerKeys;
        infoOverlayLine("scene time %.3f s (%.3f to %.3f)", double(loop.lastSceneSeconds),
                        double(scene.timeStart), double(scene.timeEnd));
        infoOverlayLine("camera %d of %d   speed %d%%%s", scene.currentCamera + 1,
                        scene.cameraCount, int(keys.speedFactor * 100.0f),
                        keys.paused ? "   paused" : "");
        int hidden = 0;
        for (int i = 0; i < scene.objectCount; ++i)
            if (!scene.objects[i].visible) ++hidden;
        infoOverlayLine("objects drawn %d, hidden by the hidetrack %d", scene.objectCount - hidden,
                        hidden);
    } else {
        infoOverlayLine("music order %d row %d   demo clock %.2f s", int(musicOrder()),
                        int(musicRow()), double(demoClock()));
        if (loop.loopOrders)
            infoOverlayLine("loop orders %d to %d, %d repeats", loop.loopFirst, loop.loopLast,
                            musicLoopRepeats());
        const int32_t position = cuePosition();
        const float* timers = cueTimers();
        for (int i = 0; i < kCueCount; ++i) {
            const Cue& cue = kCues[i];
            if (position < cue.first || position > cue.last) continue;
            const float start = timers[cue.timer];
            if (start == kCueNotStarted)
                infoOverlayLine("cue %d (timer %d) not started", i, int(cue.timer));
            else
                infoOverlayLine("cue %d (timer %d)  t %.3f", i, int(cue.timer),
                                double(cueProgress(cue, start, demoClock())));
        }
    }
    infoOverlayHeading("Keys");
    if (loop.viewer)
        for (const char* line : kViewerKeys)
            infoOverlayLine("%s", line);
    else
        for (const char* line : kDemoKeys)
            infoOverlayLine("%s", line);
    infoOverlayHeading("Last second");
    for (int slot = 0; slot < kProfSlots; ++slot) {
        if (info.count[slot] == 0) continue;
        const ProfCounter& c = profCounter(slot);
        if (c.eventOnly || info.ticksPerMs <= 0.0)
            infoOverlayLine("%-20s %d", c.name + 2, int(info.count[slot]));
        else
            infoOverlayLine("%-20s %5d x  %7.2f ms", c.name + 2, int(info.count[slot]),
                            double(info.accumulated[slot]) / info.ticksPerMs);
    }
    endInfoOverlay();
}
