// Screen overlays of the demo script: the full-screen colour overlay behind every fade, and
// the two logo animations (a pulse in a fixed box, three logos orbiting the centre). Drawn
// over a finished scene frame; stateless, owns nothing. Needs the GL context current.
#pragma once

#include <cstdint>

struct Texture;

// Blends (red, green, blue, alpha) over the whole viewport; stencilRef -1 for no stencil
// test, else only where the stencil value equals it. Leaves the stencil test, blending and
// lighting off, depth test, texturing and culling off, matrix mode GL_PROJECTION.
void drawColorOverlay(int32_t stencilRef, float red, float green, float blue, float alpha);

struct LogoBox {
    float x, y, width, height; // lower-left corner and size, normalised device coordinates
};

// Alpha of the logo pulse at cue progress t: sin(pi t), invisible again after t = 1.
float logoPulseAlpha(float t);
// The logo in its box with that alpha; a null logo draws nothing.
void drawLogoPulse(Texture* logo, const LogoBox& box, float t);

// Where orbiting logo i (0 to 2) stands at demo clock seconds, and its alpha.
struct OrbitPlacement {
    LogoBox box;
    float alpha;
};
OrbitPlacement logoOrbitPlacement(int i, float demoSeconds);
// The three logos in order, later ones over earlier ones; null ones are skipped.
void drawLogoOrbit(Texture* const logos[3], float demoSeconds);
