// The cue list and the per-frame walk over it.
#include "demo/demo_script.h"

#include "demo/music_time.h"
#include "diag/console.h"
#include "platform/music.h"
#include "render/scene_renderer.h"
#include "render/super8.h"
#include "scene/scene.h"

namespace {

Texture* logoAt(int32_t index) {
    return index >= 0 && index < demoData.manifest->logoCount ? demoData.logos[index] : nullptr;
}

void drawOverlay(const Cue& cue, float t, float demoSeconds) {
    switch (cue.overlay) {
    case CueOverlay::None:
        break;
    case CueOverlay::FadeInFromBlack:
        if (1.0f - 3.0f * t > 0.0f) drawColorOverlay(-1, 0.0f, 0.0f, 0.0f, 1.0f - 3.0f * t);
        break;
    case CueOverlay::FadeOutToWhite:
        drawColorOverlay(-1, 1.0f, 1.0f, 1.0f, 3.0f * t - 2.0f);
        break;
    case CueOverlay::FadeOutToBlack:
        drawColorOverlay(-1, 0.0f, 0.0f, 0.0f, 3.0f * t - 2.0f);
        break;
    case CueOverlay::FinalFadeToBlack:
        drawColorOverlay(-1, 0.0f, 0.0f, 0.0f, t);
        break;
    case CueOverlay::LogoPulse:
        drawLogoPulse(logoAt(cue.logo), cue.box, t);
        break;
    case CueOverlay::LogoOrbit: {
        Texture* const orbiting[3] = {logoAt(cue.orbit[0]), logoAt(cue.orbit[1]),
                                      logoAt(cue.orbit[2])};
        drawLogoOrbit(orbiting, demoSeconds);
        break;
    }
    }
}

} // namespace

bool runDemoFrame() {
    updateDemoClock();
    const float clock = demoClock();
    if (demoData.super8) setSuper8Time(demoData.super8, clock);
    const int32_t position = cuePosition();
    float* timers = cueTimers();
    const DemoManifest& manifest = *demoData.manifest;
    for (int i = 0; i < manifest.cueCount; ++i) {
        const Cue& cue = manifest.cues[i];
        if (position < cue.first || position > cue.last) continue;
        float& timer = timers[cue.timer];
        if (timer == kCueNotStarted) {
            timer = clock;
            consolePrint("timer %i started at %i:%i, duration %i\n", cue.timer, musicRow(),
                         musicOrder(), cue.rows);
        }
        const float t = cueProgress(cue, timer, clock, manifest.rowMs);
        if (cue.scene >= 0 && cue.scene < manifest.sceneCount) {
            Scene* scene = demoData.scenes[cue.scene];
            if (scene) {
                setCamera(*scene, cue.camera);
                clearToBackground(*scene);
                renderScene(*scene, t * scene->duration * cue.factor);
            }
        }
        drawOverlay(cue, t, clock);
    }
    const bool musicEnded =
        musicOrderCount() > 0 && musicOrder() >= musicOrderCount() && musicOrder() != 0xFFFF;
    return !(position >= manifest.endFirst && position <= manifest.endLast) && !musicEnded;
}
