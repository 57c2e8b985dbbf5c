// Draws one frame of one scene into the current GL context: timecode wrapping, camera,
// environment box, lights, the fixed state, an opaque pass that updates and draws each object,
// a blended pass, then the scene's Super8 effect. It clears and swaps nothing (callers do).
// One renderer for the whole program: it only remembers the scene rendered last.
#pragma once

#include "scene/scene.h"

constexpr float kEnvironmentBoxSize = 15000.0f;

// Per face (dn, up, fr, bk, lf, rt) the four unit-cube corners in drawing order with their
// texture coordinates; z is up. Content tools lay sky pictures out by the same table.
struct EnvironmentBoxCorner {
    float x, y, z, s, t;
};
extern const EnvironmentBoxCorner kEnvironmentBoxFaces[kEnvMapFaces][4];

void renderScene(Scene& scene, float timecode);

// Calls around each draw of the one scene pass, for passes that record what they draw
// (visibility tracking). Any hook may be null; context is handed to each.
struct ScenePassHooks {
    void* context = nullptr;
    void (*opaquePassBegin)(void* context) = nullptr;
    void (*opaqueDraw)(void* context, int32_t object) = nullptr; // before the object's draw
    void (*opaquePassEnd)(void* context) = nullptr;
    void (*blendedDrawBegin)(void* context, int32_t object) = nullptr;
    void (*blendedDrawEnd)(void* context, int32_t object) = nullptr;
    void (*blendedPassEnd)(void* context) = nullptr; // before depth writes come back on
};

// The frame's steps shared by every pass over a scene: prepare, wrap the time, lights off,
// camera, environment box, lights, fixed state, the opaque pass (update and draw each
// object), the blended pass, the film effect. Without hooks this is renderScene. With hooks
// the environment box and the film effect are left out (they hide nothing) and the profiling
// counters are not touched; the pass counts as a different scene for the vertex cache, so the
// next plain frame rewrites every object's vertices.
void renderScenePass(Scene& scene, float timecode, const ScenePassHooks* hooks);

// The six environment-map faces as the inside of an axis-aligned cube of edge size around the
// world origin, with lighting, depth test and culling off; texturing is off afterwards.
void drawEnvironmentBox(Scene& scene, float size);

// The scene rendered most recently (null before the first render). Rendering another scene
// makes every object rewrite its cached vertices.
const Scene* lastRenderedScene();
// Forgets the last scene: the next render counts as a scene change (tests, and callers that
// wrote the vertex memory themselves).
void forgetRenderedScene();
