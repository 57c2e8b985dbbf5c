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

// The six environment-map faces as the inside of an axis-aligned cube of edge size around the
// world origin, with lighting, depth test and culling off; texturing is off afterwards.
void drawEnvironmentBox(Scene& scene, float size);

// The scene rendered most recently (null before the first render). Rendering another scene
// makes every object rewrite its cached vertices.
const Scene* lastRenderedScene();
// Forgets the last scene: the next render counts as a scene change (tests, and callers that
// wrote the vertex memory themselves).
void forgetRenderedScene();

// Pieces of a frame for other passes over a scene (visibility tracking) that must leave the
// GL state exactly as a frame does. Both need a current context.
// Stencil test off and every fixed-function light off.
void resetSceneLights();
// Light model, depth range, depth test, culling, lighting, normalisation, blending off, alpha
// function GL_EQUAL 1 and the scene's ambient colour (alpha forced to 1).
void applySceneFixedState(Scene& scene);
