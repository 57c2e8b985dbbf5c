// Generating a scene's hidetrack: every camera steps through the scene's time range at 30
// samples per second; each sample is drawn into the window as the renderer draws a frame,
// with stencil names and occlusion queries recording which objects show. Needs a current GL
// context and the vertex memory. The bit blocks live only for one generation; the scene keeps
// nothing of them.
#pragma once

#include "scene/scene.h"

#include <cstdint>

constexpr int32_t kHidetrackSampleRate = 30;

// Computes the track for every camera and writes it to scenePath followed by ".hid". False
// with a log line when the time range cannot be sampled or the file cannot be created or
// written. Leaves the scene on the last camera, without hideBits of its own during the run
// (any loaded ones are set aside and put back). The window's calls, when given, run before and
// after each sample: the player keeps its window answering and shows the passes.
struct HidetrackWindow {
    void (*takeEvent)() = nullptr;
    void (*present)() = nullptr;
};
bool generateHidetrack(Scene& scene, const char* scenePath, const HidetrackWindow& window = {});

// Draws the scene at time t from its current camera, without the environment box and the film
// effect (they hide nothing), and leaves each object's visible flag telling whether any of its
// pixels shows in that frame. The caller has cleared the frame. Uses the stencil buffer (8 bits
// name the first 255 objects) and occlusion queries for the rest and for blended draws; an
// object that neither can judge counts as visible when it is drawn (one log line when queries
// are missing). The renderer's next frame rewrites every object's vertices.
void markVisibleObjects(Scene& scene, float t);
