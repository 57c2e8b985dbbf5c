#include "render/super8.h"

#include "image/texture.h"
#include "platform/options.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <new>

namespace {

void drawLamp(Super8Effect* effect, float t) {
    const Super8Lamp lamp = super8Lamp(effect, t);
    glColor4f(lamp.brightness, lamp.brightness, lamp.brightness, lamp.alpha);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
}

void drawScratches(Super8Effect* effect, float t) {
    bindTexture(effect->lampTexture);
    glBlendFunc(GL_ONE, GL_ONE);
    for (int i = 0; i < effect->scratchCount; ++i) {
        const Super8Scratch s = super8Scratch(effect, i, t);
        if (!s.visible) continue;
        glColor4f(s.brightness, s.brightness, s.brightness, 1.0f);
        glBegin(GL_QUADS);
        glTexCoord2f(s.texOffset, 0.0f);
        glVertex2f(s.left, -1.0f);
        glTexCoord2f(s.texOffset + 1.0f, 0.0f);
        glVertex2f(s.left + s.width, -1.0f);
        glTexCoord2f(s.texOffset + 1.0f, 1.0f);
        glVertex2f(s.left + s.width, 1.0f);
        glTexCoord2f(s.texOffset, 1.0f);
        glVertex2f(s.left, 1.0f);
        glEnd();
    }
}

void drawDirt(Super8Effect* effect) {
    glPushMatrix();
    bindTexture(effect->dirtTexture);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    for (int32_t i = 0; i < effect->dirtCount; ++i) {
        const DirtSpeck& d = effect->dirtSpecks[i];
        glRotatef(d.angle, 0.0f, 0.0f, 1.0f); // turns accumulate from speck to speck
        glBegin(GL_QUADS);
        glTexCoord2f(d.cellS, d.cellT);
        glVertex2f(d.x, d.y);
        glTexCoord2f(d.cellS + 0.25f, d.cellT);
        glVertex2f(d.x + d.size, d.y);
        glTexCoord2f(d.cellS + 0.25f, d.cellT + 0.25f);
        glVertex2f(d.x + d.size, d.y + d.size);
        glTexCoord2f(d.cellS, d.cellT + 0.25f);
        glVertex2f(d.x, d.y + d.size);
        glEnd();
    }
    glPopMatrix();
}

// Two bands, 16 picture pixels high, texture row 0 on the inner edge of both.
void drawFilmEdges(Super8Effect* effect, float pictureHeight) {
    bindTexture(effect->borderTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const float e = 32.0f / pictureHeight;
    const float u = static_cast<float>(setupOptions.width) / 512.0f;
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, 1.0f - e);
    glTexCoord2f(u, 0.0f);
    glVertex2f(1.0f, 1.0f - e);
    glTexCoord2f(u, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);

    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(u, 1.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(u, 0.0f);
    glVertex2f(1.0f, e - 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, e - 1.0f);
    glEnd();
}

// Opaque black around the moving frame; with wide screen these are the letterbox bars.
void drawMask() {
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor4f(0.0f, 0.0f, 0.0f, 0.0f);
    static const float kCorners[16][2] = {
        {-2.0f, 0.99f}, {2.0f, 0.99f},  {2.0f, 2.0f},   {-2.0f, 2.0f},   // above
        {-2.0f, -2.0f}, {2.0f, -2.0f},  {2.0f, -0.99f}, {-2.0f, -0.99f}, // below
        {-2.0f, -2.0f}, {-1.0f, -2.0f}, {-1.0f, 2.0f},  {-2.0f, 2.0f},   // left
        {1.0f, -2.0f},  {2.0f, -2.0f},  {2.0f, 2.0f},   {1.0f, 2.0f},    // right
    };
    glBegin(GL_QUADS);
    for (const auto& c : kCorners)
        glVertex2f(c[0], c[1]);
    glEnd();
    glDisable(GL_BLEND);
}

} // namespace

Super8Effect* createSuper8() {
    Super8Effect* effect = new (std::nothrow) Super8Effect;
    if (!effect) return nullptr;
    initSuper8Tables(effect);
    effect->dirtTexture = loadTexture("s8_drek.png", true, true);
    effect->borderTexture = loadTexture("s8_border.png", true, true);
    effect->signTexture = loadTexture("s8_sign.png", true, true);
    effect->lampTexture = loadTexture("s8_lamp.jpg", true, true);
    return effect;
}

void destroySuper8(Super8Effect* effect) {
    if (!effect) return;
    Texture* const textures[] = {effect->dirtTexture, effect->borderTexture, effect->signTexture,
                                 effect->lampTexture};
    for (Texture* texture : textures)
        if (texture) releaseTexture(texture);
    delete effect;
}

void drawSuper8(Super8Effect* effect) {
    // A window without area has nothing to show, and its height would divide by zero below.
    if (!effect || setupOptions.width <= 0 || setupOptions.height <= 0) return;
    const float t = effect->time;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_SRC_COLOR);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);

    // The lamp image is also the scratches' texture: without it both layers are skipped.
    if (effect->lampTexture) {
        bindTexture(effect->lampTexture);
        drawLamp(effect, t);
        if (effect->scratchCount > 0) drawScratches(effect, t);
    }

    glMatrixMode(GL_MODELVIEW);
    const Super8Motion motion = super8FrameMotion(effect, t);
    glRotatef(motion.angleDegrees, 0.0f, 0.0f, 1.0f);
    glTranslatef(motion.shiftX, motion.shiftY, 0.0f);

    float pictureHeight = static_cast<float>(setupOptions.height);
    if (setupOptions.wideScreen) {
        const float s = super8WideScreenScale(setupOptions.width, setupOptions.height, true);
        glScalef(1.0f, s, 1.0f);
        pictureHeight = pictureHeight * s;
    }

    // Specks are rolled whether or not their image loaded, so the generator runs the same.
    updateSuper8Dirt(effect, t);
    if (effect->dirtCount > 0 && effect->dirtTexture) drawDirt(effect);
    if (effect->borderTexture) {
        drawFilmEdges(effect, pictureHeight);
    } else {
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); // the state later drawing expects
    }
    drawMask();
}
