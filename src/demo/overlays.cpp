// Colour overlay and logo animations.
#include "demo/overlays.h"

#include "image/screen_quad.h"

#include <GL/gl.h>

#include <cmath>

namespace {
constexpr float kPi = 3.1415927f;
constexpr float kOrbitLogoWidth = 1.56f;
} // namespace

void drawColorOverlay(int32_t stencilRef, float red, float green, float blue, float alpha) {
    if (stencilRef != -1) {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_EQUAL, stencilRef, 0xFF);
        glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    }
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    // The film effect normally leaves lighting off; without one (it may be missing) a lit
    // quad would show the last material instead of the colour.
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(red, green, blue, alpha);
    glBegin(GL_QUADS);
    glVertex2f(-1.0f, -1.0f);
    glVertex2f(-1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(1.0f, -1.0f);
    glEnd();
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_BLEND);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

float logoPulseAlpha(float t) {
    return float(std::sin(double(kPi * t)));
}

void drawLogoPulse(Texture* logo, const LogoBox& box, float t) {
    if (!logo) return;
    drawScreenQuad(logo, -1, box.x, box.y, box.width, box.height, logoPulseAlpha(t), 0);
}

OrbitPlacement logoOrbitPlacement(int i, float demoSeconds) {
    const float a = 2.1f * float(i);
    const float u = demoSeconds * 0.5f + a;
    OrbitPlacement p;
    p.alpha = (float(std::sin(double(demoSeconds + a))) + 1.0f) * 0.5f;
    const float s = i == 0 ? 0.7f : 1.0f;
    const float h = 1.2f * s;
    p.box.x = (0.25f * float(std::sin(double(u))) - 0.6f) * 1.3f;
    p.box.y = 0.25f * float(std::cos(double(u))) - h * 0.5f;
    p.box.width = kOrbitLogoWidth;
    p.box.height = h;
    return p;
}

void drawLogoOrbit(Texture* const logos[3], float demoSeconds) {
    for (int i = 0; i < 3; ++i) {
        if (!logos[i]) continue;
        const OrbitPlacement p = logoOrbitPlacement(i, demoSeconds);
        drawScreenQuad(logos[i], -1, p.box.x, p.box.y, p.box.width, p.box.height, p.alpha, 0);
    }
}
