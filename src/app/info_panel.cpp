#include "app/info_panel.h"

#include "app/player.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "diag/prof.h"
#include "diag/timestamp.h"
#include "platform/info_overlay.h"
#include "scene/object_update.h"
#include "scene/scene.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

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
    "F1 this panel   F2 timeline   F12 screenshot   Esc quit",
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

namespace {

void addLine(InfoPanelText& text, bool heading, const char* format, ...) QUILM_PRINTF_CHECK(3, 4);
void addLine(InfoPanelText& text, bool heading, const char* format, ...) {
    if (text.count >= kInfoPanelLines) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text.lines[text.count], kInfoOverlayLineBytes, format, args);
    va_end(args);
    text.heading[text.count++] = heading;
}

void addObjectsLine(InfoPanelText& text, const char* prefix, const Scene& scene) {
    int hidden = 0;
    for (int i = 0; i < scene.objectCount; ++i)
        if (!scene.objects[i].visible) ++hidden;
    addLine(text, false, "%sobjects drawn %d, hidden by the hidetrack %d", prefix,
            scene.objectCount - hidden, hidden);
}

void fillDemoLines(const MainLoop& loop, int32_t position, InfoPanelText& text) {
    addLine(text, false, "music order %d row %d   demo clock %.2f s", int(musicOrder()),
            int(musicRow()), double(demoClock()));
    if (loop.loopOrders)
        addLine(text, false, "loop orders %d to %d, %d repeats", loop.loopFirst, loop.loopLast,
                musicLoopRepeats());
    const float* timers = cueTimers();
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.cueCount; ++i) {
        const Cue& cue = manifest.cues[i];
        if (position < cue.first || position > cue.last) continue;
        const float start = timers[cue.timer];
        if (start == kCueNotStarted)
            addLine(text, false, "cue %d (timer %d) not started", i, int(cue.timer));
        else
            addLine(text, false, "cue %d (timer %d)  t %.3f", i, int(cue.timer),
                    double(cueProgress(cue, start, demoClock(), manifest.rowMs)));
    }
    int32_t scenes[kDemoScenesAtOnce];
    const int sceneCount = activeDemoScenes(position, scenes);
    for (int i = 0; i < sceneCount; ++i) {
        const Scene* scene = demoData.scenes[scenes[i]];
        if (!scene) continue;
        char prefix[kDemoFileBytes + 4];
        std::snprintf(prefix, sizeof prefix, "%s: ", manifest.sceneFiles[scenes[i]]);
        addObjectsLine(text, prefix, *scene);
    }
}

} // namespace

int activeDemoScenes(int32_t position, int32_t* scenes) {
    int count = 0;
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.cueCount; ++i) {
        const Cue& cue = manifest.cues[i];
        if (position < cue.first || position > cue.last) continue;
        if (cue.scene < 0 || cue.scene >= manifest.sceneCount) continue;
        if (std::find(scenes, scenes + count, cue.scene) != scenes + count) continue;
        if (count < kDemoScenesAtOnce) scenes[count++] = cue.scene;
    }
    return count;
}

void fillInfoPanel(const MainLoop& loop, int32_t cuePosition, InfoPanelText& text) {
    text.count = 0;
    addLine(text, true, "%s", loop.viewer ? "Viewer" : "Demo");
    addLine(text, false, "%.1f frames per second", double(info.fps));
    if (loop.viewer && loop.scene) {
        const Scene& scene = *loop.scene;
        const ViewerKeyState& keys = loop.viewerKeys;
        // The time the frame shows: the clock runs on, the scene loops its range.
        addLine(text, false, "scene time %.3f s (%.3f to %.3f)",
                double(wrapSceneTime(scene, loop.lastSceneSeconds)), double(scene.timeStart),
                double(scene.timeEnd));
        addLine(text, false, "camera %d of %d   speed %d%%%s", scene.currentCamera + 1,
                scene.cameraCount, int(keys.speedFactor * 100.0f), keys.paused ? "   paused" : "");
        addObjectsLine(text, "", scene);
    } else {
        fillDemoLines(loop, cuePosition, text);
    }
    addLine(text, true, "Keys");
    if (loop.viewer)
        for (const char* line : kViewerKeys)
            addLine(text, false, "%s", line);
    else
        for (const char* line : kDemoKeys)
            addLine(text, false, "%s", line);
    addLine(text, true, "Last second");
    for (int slot = 0; slot < kProfSlots; ++slot) {
        if (info.count[slot] == 0) continue;
        const ProfCounter& c = profCounter(slot);
        if (c.eventOnly || info.ticksPerMs <= 0.0)
            addLine(text, false, "%-20s %d", c.name + 2, int(info.count[slot]));
        else
            addLine(text, false, "%-20s %5d x  %7.2f ms", c.name + 2, int(info.count[slot]),
                    double(info.accumulated[slot]) / info.ticksPerMs);
    }
}

void drawInfoPanel(const MainLoop& loop, int width, int height) {
    static InfoPanelText text; // 15 KB: not on the stack, not per frame
    fillInfoPanel(loop, cuePosition(), text);
    if (!beginInfoOverlay(width, height, 1.0f / 60.0f)) return;
    for (int i = 0; i < text.count; ++i)
        if (text.heading[i])
            infoOverlayHeading(text.lines[i]);
        else
            infoOverlayLine("%s", text.lines[i]);
    endInfoOverlay();
}

void drawScreenNotice(const char* text, int width, int height) {
    drawOverlayNotice(width, height, text);
}
